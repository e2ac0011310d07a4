#include "sftpconnection.h"

#include "knownhosts.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace upload {
namespace {

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString hostAndPort(const ServerAddress &server) {
    const QString host = server.host.contains(u':') ? u'[' + server.host + u']' : server.host;
    return server.port == 22 ? host : host + u':' + QString::number(server.port);
}

bool sameSocket(int fd, int other) {
    struct stat a {};
    struct stat b {};
    return ::fstat(fd, &a) == 0 && ::fstat(other, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

} // namespace

SftpSession::SftpSession(const ServerAddress &server, const QString &user, const QString &password)
    : ServerSession(server, user, password) {}

SftpSession::~SftpSession() {
    close(false);
}

SftpSession::Watch::Watch(SftpSession &session)
    : session(session) {
    session.touch();
}

SftpSession::Watch::~Watch() {
    session.m_watchdog.pause();
}

void SftpSession::touch() {
    m_watchdog.touch(m_timeout);
}

void SftpSession::shutDownSockets() {
    std::lock_guard lock(m_cancelMutex);
    for (const int fd : m_openSockets)
        ::shutdown(fd, SHUT_RDWR);
}

CommandResult SftpSession::changeDirectory(const QString &directory) {
    const Watch watch(*this);
    if (!m_connection) {
        if (m_opened)
            return failed(QStringLiteral("The connection to the server is closed."));
        const CommandResult result = open();
        if (!result.ok())
            return result;
    }
    m_directory = m_loginDirectory;
    if (directory.isEmpty())
        return {};
    reportState(SendingRequest);
    reportState(RequestSent);
    // Relative paths resolve against the login directory, as the server's own cd would. The
    // path is kept as asked, not made canonical: that resolves links (a web folder is often
    // one), and the directory reported would no longer be the one asked for.
    QString path = directory;
    if (!path.startsWith(u'/'))
        path.prepend(m_loginDirectory.endsWith(u'/') ? m_loginDirectory : m_loginDirectory + u'/');
    if (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    const sftp_attributes attributes = sftp_stat(m_connection->sftp, path.toUtf8().constData());
    if (!attributes)
        return alive(m_connection.get()) ? refused(sftpErrorText()) : lost(QString());
    const bool isDirectory = attributes->type == SSH_FILEXFER_TYPE_DIRECTORY;
    sftp_attributes_free(attributes);
    reportState(ReceivingResponse);
    reportState(ResponseReceived);
    if (!isDirectory)
        return refused(QStringLiteral("\"%1\" is not a directory.").arg(directory));
    m_directory = path;
    reportState(ResponseCompleted);
    return {};
}

CommandResult SftpSession::printDirectory() {
    if (!m_connection)
        return failed(QStringLiteral("The connection to the server is closed."));
    reportState(ResponseCompleted);
    return {CommandResult::Done, m_directory};
}

void SftpSession::quit() {
    // Closing the channel politely waits for the server, which may never answer; everything is
    // done by now, so the goodbye gets a short limit of its own.
    m_watchdog.touch(std::min(m_timeout, quitTimeout));
    close(true);
    m_watchdog.pause();
}

void SftpSession::drop() {
    close(false);
}

void SftpSession::cancel() {
    ServerSession::cancel();
    shutDownSockets();
    m_cancelEvent.wake();
}

void SftpSession::cancelTidily() {
    m_stopRequested = true;
    // A store that began just now sees the request at its first write.
    if (!m_storing)
        cancel();
}

CommandResult SftpSession::open() {
    m_opened = true;
    const CommandResult result = establish(m_connection, true);
    if (!result.ok())
        return result;
    SshString login{sftp_canonicalize_path(m_connection->sftp, ".")};
    if (!login.text)
        return alive(m_connection.get())
                   ? failed(QStringLiteral("The server did not tell its login directory: %1")
                                .arg(sftpErrorText()))
                   : lost(QString());
    m_loginDirectory = login.toString();
    m_directory = m_loginDirectory;
    reportState(ResponseCompleted);
    return {};
}

CommandResult SftpSession::establish(std::unique_ptr<Connection> &connection, bool mayAsk) {
    int socketFd = -1;
    if (const CommandResult result = connectSocket(&socketFd); !result.ok())
        return result;
    connection = std::make_unique<Connection>();
    connection->socketFd = socketFd;
    touch();
    reportState(Connected);

    const ssh_session ssh = ssh_new();
    if (!ssh)
        return failed(QStringLiteral("The SSH library could not start a session."));
    connection->ssh = ssh;
    // The user's ssh configuration could send the connection elsewhere or through a proxy
    // command; the host field alone says where it goes.
    const bool processConfig = false;
    ssh_options_set(ssh, SSH_OPTIONS_PROCESS_CONFIG, &processConfig);
    const int verbosity = SSH_LOG_NOLOG;
    ssh_options_set(ssh, SSH_OPTIONS_LOG_VERBOSITY, &verbosity);
    ssh_options_set(ssh, SSH_OPTIONS_HOST, m_server.host.toUtf8().constData());
    const unsigned int port = unsigned(m_server.port);
    ssh_options_set(ssh, SSH_OPTIONS_PORT, &port);
    if (!m_user.isEmpty())
        ssh_options_set(ssh, SSH_OPTIONS_USER, m_user.constData());
    // Known hosts and keys follow $HOME, as a CI job that sets it expects; libssh would take the
    // home from the password database.
    ssh_options_set(ssh, SSH_OPTIONS_SSH_DIR, QFile::encodeName(userSshDirectory()).constData());
    if (!m_knownHostsFile.isEmpty())
        ssh_options_set(ssh, SSH_OPTIONS_KNOWNHOSTS,
                        QFile::encodeName(m_knownHostsFile).constData());
    if (!m_globalKnownHostsFile.isEmpty())
        ssh_options_set(ssh, SSH_OPTIONS_GLOBAL_KNOWNHOSTS,
                        QFile::encodeName(m_globalKnownHostsFile).constData());
    const long seconds = timeoutSeconds();
    ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT, &seconds);
    socket_t shared = ::fcntl(socketFd, F_DUPFD_CLOEXEC, 0);
    if (shared < 0)
        return failed(
            QStringLiteral("The connection could not be set up (%1).").arg(errnoText(errno)));
    ssh_options_set(ssh, SSH_OPTIONS_FD, &shared);

    reportState(SendingRequest);
    if (ssh_connect(ssh) != SSH_OK)
        return failed(m_watchdog.hasExpired()
                          ? brokenText(connection.get())
                          : QStringLiteral("No SSH connection could be set up with %1: %2")
                                .arg(hostAndPort(m_server), serverText(connection.get())));
    reportState(ReceivingResponse);
    if (const CommandResult result = trustHostKey(*connection, mayAsk); !result.ok())
        return result;
    touch();
    if (const CommandResult result = logIn(*connection); !result.ok())
        return result;
    touch();

    connection->sftp = sftp_new(ssh);
    if (!connection->sftp || sftp_init(connection->sftp) != SSH_OK) {
        return failed(alive(connection.get())
                          ? QStringLiteral("The server does not offer SFTP (%1).")
                                .arg(serverText(connection.get()))
                          : brokenText(connection.get()));
    }
    reportState(ResponseReceived);
    return {};
}

CommandResult SftpSession::connectSocket(int *socketFd) {
    reportState(ResolvingHost);
    if (m_addresses.isEmpty()) {
        QString problem;
        const std::optional<QStringList> found = lookUpHost(&problem);
        if (!found || m_cancelled)
            return failed(QString());
        if (found->isEmpty())
            return failed(problem);
        m_addresses = *found;
    }
    touch();
    reportState(HostResolved);
    reportState(Connecting);
    const SocketConnect connected =
        connectToFirst(m_addresses, m_server.port, std::chrono::steady_clock::now() + m_timeout,
                       m_cancelled, m_cancelEvent, [this](int fd, bool open) {
                           std::lock_guard lock(m_cancelMutex);
                           if (open)
                               m_openSockets.push_back(fd);
                           else
                               std::erase(m_openSockets, fd);
                       });
    if (connected.fd < 0)
        return failed(m_cancelled ? QString()
                                  : QStringLiteral("The SFTP server %1 could not be reached (%2).")
                                        .arg(hostAndPort(m_server), connected.error));
    *socketFd = connected.fd;
    return {};
}

QString SftpSession::knownHostsText() const {
    return m_knownHostsFile.isEmpty() ? QStringLiteral("~/.ssh/known_hosts") : m_knownHostsFile;
}

CommandResult SftpSession::trustHostKey(const Connection &connection, bool mayAsk) {
    const HostKeyCheck check = checkHostKey(connection.ssh);
    const QString knownHosts = knownHostsText();
    const QString server = hostAndPort(m_server);
    switch (check.status) {
    case HostKeyCheck::Known:
        return {};
    case HostKeyCheck::Failed:
        return failed(QStringLiteral("The server's host key could not be checked against %1: %2")
                          .arg(knownHosts, check.error));
    case HostKeyCheck::Changed:
        return failed(
            QStringLiteral("The host key of the SFTP server %1 differs from the one recorded in "
                           "%2. Someone may be listening in on the connection, or the server's "
                           "key was changed. Troopbook did not log in and sent nothing.\r\n\r\n"
                           "Key offered: %3 %4\r\n\r\nIf the server's key was changed on "
                           "purpose, remove its old line from %2.")
                .arg(server, knownHosts, check.keyType, check.fingerprint));
    case HostKeyCheck::Revoked:
        return failed(QStringLiteral("The host key of the SFTP server %1 is marked as revoked in "
                                     "%2: it must never be trusted again. Troopbook did not log "
                                     "in and sent nothing.\r\n\r\nKey offered: %3 %4")
                          .arg(server, knownHosts, check.keyType, check.fingerprint));
    case HostKeyCheck::Unknown:
        break;
    }
    if (!mayAsk || !m_hostKeyQuestion)
        return failed(QStringLiteral("The host key of the SFTP server %1 is not recorded in %2.")
                          .arg(server, knownHosts));
    // The user may take their time.
    m_watchdog.pause();
    const bool trusted =
        m_hostKeyQuestion(UnknownHostKey{server, knownHosts, check.keyType, check.fingerprint});
    touch();
    if (m_cancelled)
        return failed(QString());
    if (!trusted)
        return failed(QStringLiteral("The host key of the SFTP server %1 was not trusted: "
                                     "Troopbook did not log in and sent nothing.")
                          .arg(server));
    if (const QString error = recordHostKey(connection.ssh); !error.isEmpty())
        return failed(QStringLiteral("The server's host key could not be recorded in %1: %2")
                          .arg(knownHosts, error));
    return {};
}

void SftpSession::close(bool polite) {
    if (!m_connection)
        return;
    const std::unique_ptr<Connection> connection = std::move(m_connection);
    if (polite)
        reportState(Disconnecting);
    if (connection->sftp)
        sftp_free(connection->sftp);
    if (connection->ssh) {
        // libssh's polite disconnect leaves a descriptor it was given open, the silent one closes
        // it. While ours is still open, a descriptor on the same socket can only be that copy.
        const int shared = ssh_get_fd(connection->ssh);
        if (polite)
            ssh_disconnect(connection->ssh);
        else
            ssh_silent_disconnect(connection->ssh);
        ssh_free(connection->ssh);
        if (shared >= 0 && shared != connection->socketFd &&
            sameSocket(shared, connection->socketFd))
            ::close(shared);
    }
    {
        std::lock_guard lock(m_cancelMutex);
        std::erase(m_openSockets, connection->socketFd);
    }
    if (connection->socketFd >= 0)
        ::close(connection->socketFd);
    if (polite)
        reportState(Disconnected);
}

CommandResult SftpSession::failed(const QString &text) {
    reportState(RemoteError);
    if (m_cancelled)
        return {CommandResult::Failed, QStringLiteral("The upload was cancelled."), true};
    return {CommandResult::Failed, masked(text), false};
}

CommandResult SftpSession::lost(const QString &during) {
    const QString why = m_watchdog.hasExpired() ? QString() : serverText(m_connection.get());
    QString text = m_watchdog.hasExpired()
                       ? QStringLiteral("The server did not answer within %1").arg(timeoutText())
                       : QStringLiteral("The connection to the server was lost");
    if (!during.isEmpty())
        text += QStringLiteral(" while sending %1; the file on the server was left as it was")
                    .arg(during);
    text += why.isEmpty() ? QStringLiteral(".") : QStringLiteral(" (%1).").arg(why);
    return failed(text);
}

QString SftpSession::brokenText(const Connection *connection) const {
    if (m_watchdog.hasExpired())
        return QStringLiteral("The server did not answer within %1.").arg(timeoutText());
    return QStringLiteral("The connection to the server was lost (%1).")
        .arg(serverText(connection));
}

CommandResult SftpSession::refused(const QString &text) {
    reportState(RemoteError);
    return {CommandResult::Refused, masked(text), false};
}

bool SftpSession::alive(const Connection *connection) const {
    return !m_cancelled && connection && !connection->broken && connection->ssh &&
           ssh_is_connected(connection->ssh) && ssh_get_error_code(connection->ssh) != SSH_FATAL;
}

QString SftpSession::serverText(const Connection *connection) const {
    if (!connection || !connection->ssh)
        return {};
    return QString::fromUtf8(ssh_get_error(connection->ssh));
}

QString SftpSession::sftpErrorText() const {
    switch (sftp_get_error(m_connection->sftp)) {
    case SSH_FX_NO_SUCH_FILE:
    case SSH_FX_NO_SUCH_PATH:
        return QStringLiteral("no such file or directory");
    case SSH_FX_PERMISSION_DENIED:
        return QStringLiteral("permission denied");
    case SSH_FX_FILE_ALREADY_EXISTS:
        return QStringLiteral("the name is taken");
    case SSH_FX_OP_UNSUPPORTED:
        return QStringLiteral("the server does not support this");
    case SSH_FX_FAILURE:
        // libssh's error text may still be an earlier request's.
        return QStringLiteral("the server reported a failure");
    default: {
        const QString text = serverText(m_connection.get());
        return text.isEmpty() ? QStringLiteral("the server reported a failure") : text;
    }
    }
}

} // namespace upload
