#pragma once

#include "namelookup.h"
#include "transfer.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

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

// The FTP session on libcurl. All commands run on the calling thread and block; cancel() may be
// called from any other thread and makes the running command end promptly.
class FtpSession : public Transfer {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{60000};

    FtpSession(const ServerAddress &server, const QString &user, const QString &password);
    ~FtpSession() override;
    FtpSession(const FtpSession &) = delete;
    FtpSession &operator=(const FtpSession &) = delete;

    // How long the connection may take to open, a command may wait for its reply and a transfer
    // may make no progress. Whole seconds for all but the connect.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    // Trusts certificates issued by (or being) the PEM file at `path` as well, for test servers.
    void setTrustedCertificates(const QString &path) { m_trustedCertificates = path; }
    // Replaces the system's name lookup, for tests.
    void setNameLookup(NameLookup::Function lookup) { m_nameLookup.setFunction(std::move(lookup)); }
    // Called on the session's thread whenever the state number changes.
    void setStateHandler(StateHandler handler) override { m_stateHandler = std::move(handler); }

    CommandResult changeDirectory(const QString &directory) override;
    CommandResult printDirectory() override;
    CommandResult put(const QString &localPath, const QString &remotePath) override;
    void quit() override;
    void drop() override;

    void cancel() override;
    bool isCancelled() const { return m_cancelled; }

    // The path inside a 257 reply, with its doubled quotes made single.
    static QString pathFromPwdReply(const QString &reply);

private:
    friend struct CurlCallbacks;

    CommandResult quoteCommand(const QByteArray &command);
    bool ensureHandle();
    int resolveHost();
    void prepare(const QString &remotePath);
    int perform();
    CommandResult failure(int code);
    CommandResult refusedOrFailed(int code);
    void raise(int state);
    QString masked(QString text) const;
    void closeSession(bool polite);
    void takeReplyLines(const char *data, size_t size);

    ServerAddress m_server;
    QByteArray m_user;
    QByteArray m_password;
    QString m_trustedCertificates;
    std::chrono::milliseconds m_timeout = defaultTimeout;
    StateHandler m_stateHandler;

    void *m_curl = nullptr;  // CURL *
    void *m_multi = nullptr; // CURLM *, also read by cancel()
    QByteArray m_errorBuffer;
    NameLookup m_nameLookup;
    // libcurl's own lookup would hold up a cancel until the name server answers: it is given
    // the addresses, and its lookup is never started.
    void *m_resolve = nullptr; // curl_slist *
    bool m_resolved = false;
    int m_state = NoState;
    std::atomic<bool> m_cancelled{false};

    std::mutex m_socketMutex;
    std::vector<int> m_sockets;
    int m_controlSocket = -1; // known once the first command has logged in
    bool m_everConnected = false;
    bool m_greeted = false;
    bool m_refusedReconnect = false;
    bool m_closed = false;
    int m_tlsConnections = 0;
    bool m_passiveReplyPending = false;

    QByteArray m_partialLine;
    QString m_lastReply;
};

} // namespace upload
