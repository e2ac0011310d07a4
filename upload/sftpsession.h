#pragma once

#include "serversession.h"
#include "socketconnect.h"
#include "watchdog.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <vector>

namespace upload {

class SendingFile;

// The SFTP session on libssh, over one SSH connection. Every file is written under a temporary
// name beside its target and then renamed over it, so the old file is replaced whole.
class SftpSession : public ServerSession {
public:
    SftpSession(const ServerAddress &server, const QString &user, const QString &password);
    ~SftpSession() override;

    // The file of recorded host keys; empty means .ssh/known_hosts in the home that $HOME names.
    void setKnownHostsFile(const QString &path) { m_knownHostsFile = path; }
    // The system-wide file of host keys read besides it; empty means libssh's default.
    void setGlobalKnownHostsFile(const QString &path) { m_globalKnownHostsFile = path; }

    void setHostKeyQuestion(HostKeyQuestion question) override {
        m_hostKeyQuestion = std::move(question);
    }
    void setNoticeHandler(NoticeHandler handler) override { m_noticeHandler = std::move(handler); }
    void setPassphraseQuestion(PassphraseQuestion question) override {
        m_passphraseQuestion = std::move(question);
    }

    CommandResult changeDirectory(const QString &directory) override;
    CommandResult printDirectory() override;
    CommandResult put(const QString &localPath, const QString &remotePath) override;
    void quit() override;
    void drop() override;
    void cancel() override;
    // Between two writes of a file, ends the run and removes the temporary copy; anywhere else
    // the same as cancel().
    void cancelTidily() override;

private:
    struct Connection;
    // Keeps the watchdog armed while a command runs.
    struct Watch {
        explicit Watch(SftpSession &session);
        ~Watch();
        SftpSession &session;
    };

    void touch();
    void shutDownSockets();

    // Connecting and logging in (sftpsession.cpp).
    CommandResult open();
    CommandResult connectSocket(int *socketFd);
    CommandResult trustHostKey(const Connection &connection, bool mayAsk);

    // Logging in (sftplogin.cpp): the agent's keys, the key files, then the password.
    struct LoginAttempt;
    CommandResult logIn(const Connection &connection);
    int logInWithKeys(const Connection &connection, LoginAttempt &attempt);
    int logInWithKeyFile(const Connection &connection, const QString &path, LoginAttempt &attempt);
    int keyboardInteractive(const Connection &connection);
    int keyboardInteractiveStep(const Connection &connection);
    CommandResult loginRefused(int methods, const LoginAttempt &attempt);
    CommandResult establish(std::unique_ptr<Connection> &connection, bool mayAsk);
    void close(bool polite);
    QString knownHostsText() const;

    // Storing files (sftpstore.cpp).
    QString followLinks(const QString &remotePath);
    CommandResult storeFile(SendingFile &local, const QString &name, const QString &target,
                            const QString &temporary);
    CommandResult checkStoredSize(const QByteArray &path, qint64 expected, const QString &name);
    void removeLeftover(const QString &temporary, CommandResult &result);

    CommandResult failed(const QString &text);
    CommandResult lost(const QString &during);
    CommandResult refused(const QString &text);
    bool alive(const Connection *connection) const;
    QString serverText(const Connection *connection) const;
    QString brokenText(const Connection *connection) const;
    QString sftpErrorText() const;

    // What a keyboard-interactive login asked that Troopbook cannot answer, for the user.
    QString m_loginQuestion;
    QString m_knownHostsFile;
    QString m_globalKnownHostsFile;
    HostKeyQuestion m_hostKeyQuestion;
    NoticeHandler m_noticeHandler;
    PassphraseQuestion m_passphraseQuestion;

    std::unique_ptr<Connection> m_connection;
    QString m_loginDirectory;
    QString m_directory;
    bool m_opened = false;
    // Kept for a second connection: the name is looked up once a session.
    QStringList m_addresses;

    // cancel() may run on another thread: it touches only m_cancelled, the name lookup, the
    // cancel event, m_stopRequested and m_storing and, under m_cancelMutex, the open sockets, which
    // it shuts down.
    CancelEvent m_cancelEvent;
    // cancelTidily() asked for an end, and a file is being written.
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_storing{false};
    std::mutex m_cancelMutex;
    // Every connection's socket while it is open: the session's own, and the short second one
    // that removes a temporary copy left by a broken one.
    std::vector<int> m_openSockets;

    // libssh bounds its connect and login by the time-out, but waits for SFTP answers for
    // ever: the watchdog shuts the sockets down once nothing has moved for that long. Last, so
    // that it stops before the sockets it shuts down go.
    Watchdog m_watchdog{[this] {
        shutDownSockets();
    }};
};

} // namespace upload
