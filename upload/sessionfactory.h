#pragma once

#include "namelookup.h"
#include "serversession.h"
#include "uploadsequence.h"

#include <QString>

#include <chrono>
#include <memory>

namespace upload {

// How a session is set up beyond what the fields hold; a test or the command line may change
// each.
struct SessionOptions {
    std::chrono::milliseconds timeout = ServerSession::defaultTimeout;
    // Empty: the system's lookup.
    NameLookup::Function nameLookup = {};
    // FTPS: a PEM file of certificates trusted besides the system's.
    QString trustedCertificates = QString();
    // SFTP: the file of recorded host keys (empty: .ssh/known_hosts under $HOME) and the
    // system-wide one read besides it (empty: libssh's default).
    QString knownHostsFile = QString();
    QString globalKnownHostsFile = QString();
};

// The session the host field asks for: FTP, FTPS or FTPES on libcurl, SFTP on libssh. Null with
// the reason in `error` when the field is no server address.
std::unique_ptr<ServerSession> makeSession(const UploadRequest &request,
                                           const SessionOptions &options = {},
                                           QString *error = nullptr);

} // namespace upload
