#pragma once

#include "ftpsession.h"
#include "transfer.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace upload {

// The SFTP session on libssh, over one SSH connection. Every file is written under a temporary
// name beside its target and then renamed over it, so the old file is replaced whole. All
// commands run on the calling thread and block; cancel() may be called from any other thread.
class SftpSession : public Transfer {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{60000};

    SftpSession(const ServerAddress &server, const QString &user, const QString &password);
    ~SftpSession() override;
    SftpSession(const SftpSession &) = delete;
    SftpSession &operator=(const SftpSession &) = delete;

    // How long the connection may take to open and a request may wait for its answer.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    // The file of recorded host keys; empty means the user's ~/.ssh/known_hosts.
    void setKnownHostsFile(const QString &path) { m_knownHostsFile = path; }
    // The system-wide file of host keys read besides it; empty means libssh's default.
    void setGlobalKnownHostsFile(const QString &path) { m_globalKnownHostsFile = path; }

    void setStateHandler(StateHandler handler) override { m_stateHandler = std::move(handler); }
    void setHostKeyQuestion(HostKeyQuestion question) override {
        m_hostKeyQuestion = std::move(question);
    }
    void setNoticeHandler(NoticeHandler handler) override { m_noticeHandler = std::move(handler); }

    CommandResult changeDirectory(const QString &directory) override;
    CommandResult printDirectory() override;
    CommandResult put(const QString &localPath, const QString &remotePath) override;
    void quit() override;
    void drop() override;
    void cancel() override;

    // The status line's words after a file was replaced by removing the old one first.
    static const QString notAtomicNotice;
    // The temporary name a file is written under before it replaces `remotePath`.
    static QString temporaryPath(const QString &remotePath, const QString &tag);

private:
    struct Connection;
    struct Lookup;
    // Keeps the watchdog armed while a command runs.
    struct Watch {
        explicit Watch(SftpSession &session);
        ~Watch();
        SftpSession &session;
    };

    // libssh bounds its connect and login by the time-out, but waits for SFTP answers for
    // ever: a watchdog thread shuts the socket down once nothing has moved for that long.
    void touch();
    void pauseWatch();
    void watch();
    void shutDownSocket();

    CommandResult open();
    CommandResult connectSocket(int *socketFd);
    CommandResult checkHostKey(const Connection &connection, bool mayAsk);
    CommandResult logIn(const Connection &connection);
    int keyboardInteractive(const Connection &connection);
    CommandResult establish(std::unique_ptr<Connection> &connection, bool mayAsk);
    QString followLinks(const QString &remotePath);
    CommandResult storeFile(int localFd, const QString &name, const QString &target,
                            const QString &temporary);
    void removeLeftover(const QString &temporary, CommandResult &result);
    void close(bool polite);
    CommandResult failed(const QString &text);
    CommandResult lost(const QString &during);
    CommandResult refused(const QString &text);
    bool alive(const Connection *connection) const;
    QString serverText(const Connection *connection) const;
    QString brokenText(const Connection *connection) const;
    QString sftpErrorText() const;
    QString masked(QString text) const;
    void raise(int state);

    ServerAddress m_server;
    QByteArray m_user;
    QByteArray m_password;
    QString m_knownHostsFile;
    QString m_globalKnownHostsFile;
    std::chrono::milliseconds m_timeout = defaultTimeout;
    StateHandler m_stateHandler;
    HostKeyQuestion m_hostKeyQuestion;
    NoticeHandler m_noticeHandler;

    std::unique_ptr<Connection> m_connection;
    QString m_loginDirectory;
    QString m_directory;
    bool m_opened = false;
    int m_state = NoState;

    std::atomic<bool> m_cancelled{false};
    // cancel() may run on another thread: it shuts down the socket and wakes the waits.
    std::mutex m_cancelMutex;
    int m_cancelEvent = -1;
    std::shared_ptr<Lookup> m_lookup;
    int m_socketToShutDown = -1;

    std::mutex m_watchMutex;
    std::condition_variable m_watchChanged;
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
    bool m_watchEnds = false;
    std::atomic<bool> m_timedOut{false};
    std::thread m_watchdog;
};

} // namespace upload
