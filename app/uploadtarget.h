#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace app {

// Where `troopbook --upload` sends the squad, from its address.
struct UploadTarget {
    // As the upload window's host field would hold it: "sftp://example.org:2222".
    QString host;
    // The server's name, as .netrc lines name it.
    QString machine;
    // Empty when the address names none.
    QString user;
    // As the window's Remote Directory field takes it; empty for the login directory.
    QString remoteDirectory;
};

// `ftp://`, `ftps://`, `ftpes://` or `sftp://`, an optional `user@`, the host with an optional
// port and an optional directory. Over FTP the directory is taken from the login directory
// (`//` starts an absolute one), over SFTP from the root (`/~/` starts one in the login
// directory), as curl and ssh users know them. nullopt with the reason in `error`, among them a
// password written into the address.
std::optional<UploadTarget> parseUploadAddress(const QString &address, QString *error);

struct NetrcLogin {
    QString login;
    QString password;
};

// The entry of a .netrc text for `machine` (or its `default` entry), for `user` when one is
// given; nullopt when none fits.
std::optional<NetrcLogin> findNetrcLogin(const QByteArray &netrc, const QString &machine,
                                         const QString &user);

} // namespace app
