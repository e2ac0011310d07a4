#pragma once

#include "namelookup.h"
#include "transfer.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <optional>

namespace upload {

// Where the host field says to connect, and how.
struct ServerAddress {
    enum Security {
        Plain,
        // ftps://: TLS from the first byte.
        ImplicitTls,
        // ftpes://: plain connect, then AUTH TLS, which the server must accept.
        ExplicitTls,
        // sftp://: SSH file transfer, port 22 unless one is given.
        Sftp,
    };
    Security security = Plain;
    QString host;
    int port = 21;

    // `host`, `host:port`, `ftp://`, `ftps://`, `ftpes://` or `sftp://` with an optional port
    // and a trailing "/"; nullopt with the reason in `error` for anything else.
    static std::optional<ServerAddress> parse(const QString &text, QString *error);
};

// What a session with a real server keeps whatever it speaks: where it goes and as whom, its
// time-out, the state numbers it has reported, its name lookup and whether it was cancelled. All
// commands run on the calling thread and block; cancel() may be called from any other thread
// and makes the running command end promptly. Of these fields cancel() touches only
// m_cancelled and the name lookup, which guards itself; everything else belongs to the
// session's thread.
class ServerSession : public Transfer {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{60000};
    // How long the goodbye may take once everything is done.
    static constexpr std::chrono::milliseconds quitTimeout{2000};

    ServerSession(const ServerAddress &server, const QString &user, const QString &password);
    ServerSession(const ServerSession &) = delete;
    ServerSession &operator=(const ServerSession &) = delete;

    // How long the connection may take to open, a request may wait for its answer and a
    // transfer may make no progress.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    // Replaces the system's name lookup, for tests.
    void setNameLookup(NameLookup::Function lookup) { m_nameLookup.setFunction(std::move(lookup)); }
    void setStateHandler(StateHandler handler) override { m_stateHandler = std::move(handler); }
    void setProgressHandler(ProgressHandler handler) override {
        m_progressHandler = std::move(handler);
    }

    // The status line's words after a file was replaced by removing the old one first, and
    // after one was written over the old one because the server renames nothing.
    static const QString notAtomicNotice;
    static const QString inPlaceNotice;
    // The temporary name a file is written under, beside its target, before it takes the
    // target's place; `tag` keeps two runs apart.
    static QString temporaryPath(const QString &remotePath, const QString &tag);
    static QString randomTag();
    // Why a file the server kept at another size than was sent is not stored.
    static QString storedSizeProblem(qint64 stored, qint64 sent);

    // Sessions that wait on something else besides the name lookup wake it too.
    void cancel() override;
    bool isCancelled() const { return m_cancelled; }

protected:
    // The addresses to connect to: the host itself when it is an address, else what the name
    // lookup finds within the time-out. An empty list with what to tell the user in `problem`
    // when there are none; nullopt once cancelled.
    std::optional<QStringList> lookUpHost(QString *problem);
    // What a run stopped by cancelTidily() ends with.
    CommandResult stopped();
    // Tells the state handler, once for each change.
    void reportState(TransferState state);
    void reportProgress(const QString &name, qint64 sent, qint64 total) const {
        if (m_progressHandler)
            m_progressHandler(name, sent, total);
    }
    // Replies are the server's words; a confused server could echo what it was sent.
    QString masked(QString text) const;
    // The time-out in whole seconds, at least one, and as words: "1 second", "20 seconds".
    long timeoutSeconds() const;
    QString timeoutText() const;
    // How messages name the server: "the FTP-Host", as the field is labelled, or "the SFTP
    // server".
    QString serverWord() const;

    const ServerAddress m_server;
    const QByteArray m_user;
    const QByteArray m_password;
    std::chrono::milliseconds m_timeout = defaultTimeout;
    StateHandler m_stateHandler;
    ProgressHandler m_progressHandler;
    NameLookup m_nameLookup;
    std::atomic<bool> m_cancelled{false};

private:
    TransferState m_state = NoState;
};

} // namespace upload
