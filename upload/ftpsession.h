#pragma once

#include "serversession.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace upload {

class SendingFile;

// The FTP session on libcurl. The time-out counts whole seconds for all but the connect. Every
// file is stored under a temporary name beside its target, its size checked where the server
// tells it, and then renamed over the target, so the old file is replaced whole.
class FtpSession : public ServerSession {
public:
    // How long a new login that only removes a temporary copy may take.
    static constexpr std::chrono::milliseconds cleanupTimeout{10000};

    FtpSession(const ServerAddress &server, const QString &user, const QString &password);
    ~FtpSession() override;

    // Trusts certificates issued by (or being) the PEM file at `path` as well, for test servers.
    void setTrustedCertificates(const QString &path) { m_trustedCertificates = path; }

    CommandResult changeDirectory(const QString &directory) override;
    CommandResult printDirectory() override;
    CommandResult put(const QString &localPath, const QString &remotePath) override;
    void setNoticeHandler(NoticeHandler handler) override { m_noticeHandler = std::move(handler); }
    void quit() override;
    void drop() override;

    void cancel() override;
    // Over FTP a transfer cannot be stopped without losing the connection: the stopped file's
    // temporary copy is removed over a short new login. A file written in place, on a server
    // that renames nothing, is finished first.
    void cancelTidily() override;

    // The path inside a 257 reply, with its doubled quotes made single.
    static QString pathFromPwdReply(const QString &reply);

private:
    friend struct CurlCallbacks;

    CommandResult quoteCommand(const QByteArray &command);
    CommandResult quoteCommand(const char *verb, const QString &path);

    // Storing files (ftpstore.cpp).
    CommandResult store(SendingFile &file, const QString &name, const QString &remotePath);
    CommandResult checkStoredSize(const SendingFile &file, const QString &remotePath);
    CommandResult replace(const QString &temporary, const QString &target, const QString &name);
    CommandResult storeInPlace(SendingFile &file, const QString &name, const QString &target);
    void removeTemporary(const QString &temporary, CommandResult &result);
    CommandResult lostWhile(CommandResult result, const QString &what);
    // Whether the running command is to end now: cancelled, or stopped where a stop may end it.
    bool stopping() const;
    // Begins a part that a stop must not cut short; false, and nothing begun, when a stop came
    // first, unless `evenWhenStopped`: removing a temporary copy is what a stop asks for.
    bool deferStops(bool evenWhenStopped);
    void allowStops();
    void notice(const QString &text);
    bool controlConnectionOpen();
    bool ensureHandle();
    bool everConnected();
    int resolveHost();
    void prepare(const QString &remotePath);
    int perform();
    CommandResult failure(int code);
    CommandResult refusedOrFailed(int code);
    void closeSession(bool polite);
    void takeReplyLines(const char *data, size_t size);

    QString m_trustedCertificates;

    void *m_curl = nullptr;  // CURL *
    void *m_multi = nullptr; // CURLM *, also read by cancel()
    QByteArray m_errorBuffer;
    // libcurl's own lookup would hold up a cancel until the name server answers: it is given
    // the addresses, and its lookup is never started.
    void *m_resolve = nullptr; // curl_slist *
    bool m_resolved = false;
    QString m_lookupProblem;

    // cancel() and cancelTidily() may run on another thread: they touch only m_cancelled and the
    // name lookup
    // (ServerSession's), and m_sockets and m_multi under this mutex. The control socket and
    // whether there has been one are kept under it too, since libcurl's socket callbacks change
    // them; everything else belongs to the session's thread.
    std::mutex m_socketMutex;
    std::vector<int> m_sockets;
    int m_controlSocket = -1; // known once the first command has logged in
    bool m_everConnected = false;
    bool m_greeted = false;
    bool m_refusedReconnect = false;
    bool m_closed = false;
    int m_tlsConnections = 0;
    bool m_passiveReplyPending = false;
    // The next command may log in afresh: libcurl closed the control connection on a refusal
    // that ends only one file. Under m_socketMutex.
    bool m_mayReconnect = false;
    // Logging in afresh: the data connections of that command may open too.
    bool m_reconnecting = false;
    bool m_renewHandles = false;
    // What the server has shown it does not do.
    bool m_renames = true;
    bool m_tellsSize = true;
    NoticeHandler m_noticeHandler;

    // cancelTidily() asked for an end. While a file is being put, the stop breaks its
    // connection and put() removes the temporary copy over a new one, unless the session is in a
    // part that a stop must not cut short: removing a temporary copy, writing a file in place, or
    // replacing a file whose old copy is removed first. Written under m_socketMutex.
    std::atomic<bool> m_stopRequested{false};
    bool m_putting = false;
    int m_stopDeferrals = 0;

    // The file put() is sending, for the progress handler.
    QString m_sendingName;
    qint64 m_sendingSize = 0;

    QByteArray m_partialLine;
    QString m_lastReply;
};

} // namespace upload
