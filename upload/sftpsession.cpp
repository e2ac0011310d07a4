#include "sftpsession.h"

#include "localfile.h"

#include <QFile>
#include <QRandomGenerator>

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace upload {
namespace {

// Big enough to keep the link busy, small enough for every server's packet limit.
constexpr size_t chunkSize = 32768;

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

struct SshString {
    char *text = nullptr;
    ~SshString() { ssh_string_free_char(text); }
    QString toString() const { return text ? QString::fromUtf8(text) : QString(); }
};

void appendUint32(QByteArray &packet, quint32 value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        packet.append(char((value >> shift) & 0xff));
}

void appendString(QByteArray &packet, const QByteArray &text) {
    appendUint32(packet, quint32(text.size()));
    packet.append(text);
}

quint32 readUint32(const QByteArray &bytes, qsizetype at) {
    quint32 value = 0;
    for (qsizetype i = at; i < at + 4; ++i)
        value = (value << 8) | quint8(bytes[i]);
    return value;
}

bool readExactly(ssh_channel channel, QByteArray &into, qsizetype count, int timeoutMs) {
    into.resize(count);
    for (qsizetype done = 0; done < count;) {
        const int n = ssh_channel_read_timeout(channel, into.data() + done, uint32_t(count - done),
                                               0, timeoutMs);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// OpenSSH's posix-rename@openssh.com: replaces an existing target in one step. libssh 0.10
// sends only the plain rename, which servers of protocol version 3 refuse over an existing
// file, so the request goes out here. Every libssh request before it has had its answer, so
// the next packet on the channel is this one's. Returns an SSH_FX_ status, or -1 when the
// connection failed.
int posixRename(sftp_session sftp, const QByteArray &from, const QByteArray &to, int timeoutMs) {
    constexpr char extendedRequest = char(200);
    constexpr quint8 statusReply = 101;
    const quint32 id = ++sftp->id_counter;
    QByteArray body;
    body.append(extendedRequest);
    appendUint32(body, id);
    appendString(body, "posix-rename@openssh.com");
    appendString(body, from);
    appendString(body, to);
    QByteArray packet;
    appendUint32(packet, quint32(body.size()));
    packet.append(body);
    if (ssh_channel_write(sftp->channel, packet.constData(), uint32_t(packet.size())) !=
        int(packet.size()))
        return -1;
    QByteArray reply;
    if (!readExactly(sftp->channel, reply, 4, timeoutMs))
        return -1;
    const quint32 length = readUint32(reply, 0);
    if (length < 9 || length > 65536 || !readExactly(sftp->channel, reply, length, timeoutMs))
        return -1;
    if (quint8(reply[0]) != statusReply || readUint32(reply, 1) != id)
        return -1;
    const int status = int(readUint32(reply, 5));
    sftp->errnum = status;
    return status;
}

} // namespace

const QString SftpSession::notAtomicNotice = QStringLiteral("Replaced, not atomically");

// One SSH connection with its SFTP channel. The socket is ours; libssh works on a duplicate of
// it, so shutting ours down from another thread ends whatever libssh waits for, and libssh
// closing its descriptor on an error never frees a number that cancel() might still use.
struct SftpSession::Connection {
    int socketFd = -1;
    ssh_session ssh = nullptr;
    sftp_session sftp = nullptr;
    // A request of our own went wrong half-way; the channel can no longer be trusted.
    bool broken = false;
};

SftpSession::SftpSession(const ServerAddress &server, const QString &user, const QString &password)
    : ServerSession(server, user, password)
    , m_cancelEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SftpSession::~SftpSession() {
    close(false);
    if (m_watchdog.joinable()) {
        {
            std::lock_guard lock(m_watchMutex);
            m_watchEnds = true;
        }
        m_watchChanged.notify_all();
        m_watchdog.join();
    }
    if (m_cancelEvent >= 0)
        ::close(m_cancelEvent);
}

SftpSession::Watch::Watch(SftpSession &session)
    : session(session) {
    session.touch();
}

SftpSession::Watch::~Watch() {
    session.pauseWatch();
}

void SftpSession::touch() {
    {
        std::lock_guard lock(m_watchMutex);
        m_deadline = std::chrono::steady_clock::now() + m_timeout;
        if (!m_watchdog.joinable())
            m_watchdog = std::thread(&SftpSession::watch, this);
    }
    m_watchChanged.notify_all();
}

void SftpSession::pauseWatch() {
    std::lock_guard lock(m_watchMutex);
    m_deadline = std::chrono::steady_clock::time_point::max();
}

void SftpSession::watch() {
    std::unique_lock lock(m_watchMutex);
    while (!m_watchEnds) {
        if (m_deadline == std::chrono::steady_clock::time_point::max()) {
            m_watchChanged.wait(lock);
        } else if (std::chrono::steady_clock::now() >= m_deadline) {
            m_deadline = std::chrono::steady_clock::time_point::max();
            m_timedOut = true;
            shutDownSockets();
        } else {
            m_watchChanged.wait_until(lock, m_deadline);
        }
    }
}

void SftpSession::shutDownSockets() {
    std::lock_guard lock(m_cancelMutex);
    for (const int fd : m_openSockets)
        ::shutdown(fd, SHUT_RDWR);
}

QString SftpSession::temporaryPath(const QString &remotePath, const QString &tag) {
    const qsizetype cut = remotePath.lastIndexOf(u'/');
    // A leading dot keeps it out of most listings while it is written.
    return remotePath.left(cut + 1) + u'.' + remotePath.mid(cut + 1) +
           QStringLiteral(".troopbook-") + tag;
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
    raise(SendingRequest);
    raise(RequestSent);
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
    raise(ReceivingResponse);
    raise(ResponseReceived);
    if (!isDirectory)
        return refused(QStringLiteral("\"%1\" is not a directory.").arg(directory));
    m_directory = path;
    raise(ResponseCompleted);
    return {};
}

CommandResult SftpSession::printDirectory() {
    if (!m_connection)
        return failed(QStringLiteral("The connection to the server is closed."));
    raise(ResponseCompleted);
    return {CommandResult::Done, m_directory};
}

CommandResult SftpSession::put(const QString &localPath, const QString &remotePath) {
    if (!m_connection)
        return failed(QStringLiteral("The connection to the server is closed."));
    QFile local;
    if (const QString problem = openForSending(localPath, local); !problem.isEmpty())
        return {CommandResult::Refused, problem};
    QString target = remotePath;
    while (target.startsWith(QStringLiteral("//")))
        target.remove(0, 1);
    const QString name = target.mid(target.lastIndexOf(u'/') + 1);
    const QString tag =
        QString::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, u'0');
    const Watch watch(*this);
    target = followLinks(target);
    return storeFile(local, name, target, temporaryPath(target, tag));
}

QString SftpSession::followLinks(const QString &remotePath) {
    // A rename over a symbolic link would replace the link itself; the file it points to is
    // the one to replace, as writing into the link would.
    QString path = remotePath;
    for (int hops = 0; hops < 8; ++hops) {
        const sftp_attributes attributes =
            sftp_lstat(m_connection->sftp, path.toUtf8().constData());
        if (!attributes)
            break;
        const bool isLink = attributes->type == SSH_FILEXFER_TYPE_SYMLINK;
        sftp_attributes_free(attributes);
        const SshString link{isLink ? sftp_readlink(m_connection->sftp, path.toUtf8().constData())
                                    : nullptr};
        if (!link.text)
            break;
        const QString to = link.toString();
        path = to.startsWith(u'/') ? to : path.left(path.lastIndexOf(u'/') + 1) + to;
    }
    return path;
}

CommandResult SftpSession::storeFile(QFile &local, const QString &name, const QString &target,
                                     const QString &temporary) {
    const sftp_session sftp = m_connection->sftp;
    const QByteArray targetPath = target.toUtf8();
    const QByteArray temporaryName = temporary.toUtf8();
    raise(SendingRequest);

    mode_t mode = 0644;
    bool replaces = false;
    if (const sftp_attributes old = sftp_stat(sftp, targetPath.constData())) {
        const bool isDirectory = old->type == SSH_FILEXFER_TYPE_DIRECTORY;
        if (old->flags & SSH_FILEXFER_ATTR_PERMISSIONS)
            mode = old->permissions & 07777;
        sftp_attributes_free(old);
        if (isDirectory)
            return refused(QStringLiteral("a directory of that name is in the way"));
        replaces = true;
    } else if (!alive(m_connection.get())) {
        return lost(name);
    }

    const sftp_file file =
        sftp_open(sftp, temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (!file)
        return alive(m_connection.get()) ? refused(sftpErrorText()) : lost(name);
    raise(RequestSent);

    CommandResult result;
    QByteArray buffer(chunkSize, Qt::Uninitialized);
    for (bool done = false; !done && result.ok();) {
        const qint64 count = local.read(buffer.data(), chunkSize);
        if (count < 0) {
            result = {
                CommandResult::Refused,
                QStringLiteral("the local file cannot be read (%1)").arg(local.errorString())};
            break;
        }
        done = count == 0;
        for (qint64 written = 0; written < count;) {
            const ssize_t n =
                sftp_write(file, buffer.constData() + written, size_t(count - written));
            if (n < 0) {
                result = alive(m_connection.get()) ? refused(sftpErrorText()) : lost(name);
                break;
            }
            written += n;
            touch();
        }
    }
    if (sftp_close(file) != 0 && result.ok())
        result = alive(m_connection.get()) ? refused(sftpErrorText()) : lost(name);
    if (!result.ok()) {
        removeLeftover(temporary, result);
        return result;
    }
    touch();
    raise(ReceivingResponse);
    // The server's umask may have narrowed the old file's mode; the copy keeps it as it was.
    if (replaces)
        sftp_chmod(sftp, temporaryName.constData(), mode);

    bool atomic = sftp_extension_supported(sftp, "posix-rename@openssh.com", "1");
    int renamed = SSH_FX_OP_UNSUPPORTED;
    if (atomic) {
        renamed = posixRename(sftp, temporaryName, targetPath, int(m_timeout.count()));
        if (renamed < 0)
            m_connection->broken = true;
        // Offered but turned down: some servers list extensions their file system lacks.
        atomic = renamed != SSH_FX_OP_UNSUPPORTED;
    }
    if (!atomic)
        renamed = sftp_rename(sftp, temporaryName.constData(), targetPath.constData()) == 0
                      ? SSH_FX_OK
                      : SSH_FX_FAILURE;
    if (renamed == SSH_FX_OK) {
        raise(ResponseReceived);
        raise(ResponseCompleted);
        return {};
    }
    if (!alive(m_connection.get())) {
        // The server may or may not have done the rename before the connection went.
        result = failed(QStringLiteral("%1 while %2 was taking the old file's place; the server "
                                       "holds either the old file or the new one, whole.")
                            .arg(brokenText(m_connection.get()).chopped(1), name));
        removeLeftover(temporary, result);
        return result;
    }
    QString why = sftpErrorText();
    if (!atomic && replaces) {
        // A server that renames only onto a free name: the old file has to go first, and for a
        // moment there is none.
        if (sftp_unlink(sftp, targetPath.constData()) == 0) {
            if (sftp_rename(sftp, temporaryName.constData(), targetPath.constData()) == 0) {
                raise(ResponseReceived);
                raise(ResponseCompleted);
                if (m_noticeHandler)
                    m_noticeHandler(notAtomicNotice);
                return {};
            }
            // Removing the new copy now would leave neither file on the server.
            if (!alive(m_connection.get()))
                return failed(QStringLiteral("%1 after the old %2 was removed; the new one may be "
                                             "on the server as \"%3\".")
                                  .arg(brokenText(m_connection.get()).chopped(1), name, temporary));
            return refused(QStringLiteral("the old file was removed, but the new one could not "
                                          "take its name (%1); it is on the server as \"%2\"")
                               .arg(sftpErrorText(), temporary));
        }
        if (!alive(m_connection.get())) {
            result = lost(name);
            removeLeftover(temporary, result);
            return result;
        }
        why = sftpErrorText();
    }
    result = refused(QStringLiteral("the new copy could not replace the old file (%1)").arg(why));
    removeLeftover(temporary, result);
    return result;
}

void SftpSession::removeLeftover(const QString &temporary, CommandResult &result) {
    const QByteArray path = temporary.toUtf8();
    if (alive(m_connection.get())) {
        sftp_unlink(m_connection->sftp, path.constData());
        return;
    }
    if (m_cancelled)
        return;
    // The connection is gone with the partial copy still on the server: a short second
    // connection removes it. It asks nothing; an unrecorded key by now means it is skipped.
    std::unique_ptr<Connection> cleanup;
    const auto states = std::exchange(m_stateHandler, nullptr);
    m_timedOut = false;
    touch();
    // Gone already counts as removed: a rename may have taken it before the connection broke.
    const bool removed =
        establish(cleanup, false).ok() && (sftp_unlink(cleanup->sftp, path.constData()) == SSH_OK ||
                                           sftp_get_error(cleanup->sftp) == SSH_FX_NO_SUCH_FILE);
    if (cleanup) {
        std::swap(cleanup, m_connection);
        close(true);
        m_connection = std::move(cleanup);
    }
    m_stateHandler = states;
    if (!removed && !m_cancelled)
        result.text +=
            QStringLiteral(" A temporary copy may be left on the server as \"%1\".").arg(temporary);
}

void SftpSession::quit() {
    // Closing the channel politely waits for the server, which may never answer.
    const Watch watch(*this);
    close(true);
}

void SftpSession::drop() {
    close(false);
}

void SftpSession::cancel() {
    ServerSession::cancel();
    shutDownSockets();
    const quint64 one = 1;
    if (m_cancelEvent >= 0 && ::write(m_cancelEvent, &one, sizeof one) < 0) {
        // The counter is full: it is signalled already.
    }
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
    raise(ResponseCompleted);
    return {};
}

CommandResult SftpSession::establish(std::unique_ptr<Connection> &connection, bool mayAsk) {
    int socketFd = -1;
    if (const CommandResult result = connectSocket(&socketFd); !result.ok())
        return result;
    connection = std::make_unique<Connection>();
    connection->socketFd = socketFd;
    touch();
    raise(Connected);

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

    raise(SendingRequest);
    if (ssh_connect(ssh) != SSH_OK)
        return failed(m_timedOut ? brokenText(connection.get())
                                 : QStringLiteral("No SSH connection could be set up with %1: %2")
                                       .arg(hostAndPort(m_server), serverText(connection.get())));
    raise(ReceivingResponse);
    if (const CommandResult result = checkHostKey(*connection, mayAsk); !result.ok())
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
    raise(ResponseReceived);
    return {};
}

CommandResult SftpSession::connectSocket(int *socketFd) {
    raise(ResolvingHost);
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
    raise(HostResolved);
    raise(Connecting);

    const auto deadline = std::chrono::steady_clock::now() + m_timeout;
    QString why;
    for (const QString &text : std::as_const(m_addresses)) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        addrinfo *found = nullptr;
        const int status =
            ::getaddrinfo(text.toLatin1().constData(),
                          QByteArray::number(m_server.port).constData(), &hints, &found);
        if (status != 0) {
            why = QString::fromLocal8Bit(::gai_strerror(status));
            continue;
        }
        const std::unique_ptr<addrinfo, void (*)(addrinfo *)> owned(found, ::freeaddrinfo);
        const addrinfo *address = found;
        const int fd =
            ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                     address->ai_protocol);
        if (fd < 0) {
            why = errnoText(errno);
            continue;
        }
        {
            std::lock_guard lock(m_cancelMutex);
            m_openSockets.push_back(fd);
        }
        int error = 0;
        if (::connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
            error = errno;
            while (error == EINPROGRESS || error == EINTR) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) {
                    error = ETIMEDOUT;
                    break;
                }
                pollfd waits[2] = {{fd, POLLOUT, 0}, {m_cancelEvent, POLLIN, 0}};
                const int ready = ::poll(waits, 2, int(left.count()));
                if (ready < 0 && errno == EINTR)
                    continue;
                if (m_cancelled) {
                    error = ECANCELED;
                    break;
                }
                if (ready > 0) {
                    socklen_t size = sizeof error;
                    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                        error = errno;
                }
            }
        }
        if (error == 0 && !m_cancelled) {
            // Every write request waits for its answer; with Nagle's delay each one would also
            // wait for the server's delayed acknowledgement, 40 ms a request.
            const int noDelay = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
            *socketFd = fd;
            return {};
        }
        {
            std::lock_guard lock(m_cancelMutex);
            std::erase(m_openSockets, fd);
        }
        ::close(fd);
        if (m_cancelled)
            return failed(QString());
        why = errnoText(error);
    }
    return failed(QStringLiteral("The SFTP server %1 could not be reached (%2).")
                      .arg(hostAndPort(m_server), why));
}

CommandResult SftpSession::checkHostKey(const Connection &connection, bool mayAsk) {
    const QString knownHosts =
        m_knownHostsFile.isEmpty() ? QStringLiteral("~/.ssh/known_hosts") : m_knownHostsFile;
    const ssh_known_hosts_e known = ssh_session_is_known_server(connection.ssh);
    if (known == SSH_KNOWN_HOSTS_OK)
        return {};
    if (known == SSH_KNOWN_HOSTS_ERROR)
        return failed(QStringLiteral("The server's host key could not be checked against %1: %2")
                          .arg(knownHosts, serverText(&connection)));

    ssh_key key = nullptr;
    QString type;
    QString fingerprint;
    if (ssh_get_server_publickey(connection.ssh, &key) == SSH_OK) {
        type = QString::fromUtf8(ssh_key_type_to_char(ssh_key_type(key)));
        unsigned char *hash = nullptr;
        size_t length = 0;
        if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) == 0) {
            const SshString text{ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length)};
            fingerprint = text.toString();
            ssh_clean_pubkey_hash(&hash);
        }
        ssh_key_free(key);
    }
    const QString server = hostAndPort(m_server);
    if (known == SSH_KNOWN_HOSTS_CHANGED || known == SSH_KNOWN_HOSTS_OTHER)
        return failed(
            QStringLiteral("The host key of the SFTP server %1 differs from the one recorded in "
                           "%2. Someone may be listening in on the connection, or the server's "
                           "key was changed. Troopbook did not log in and sent nothing.\r\n\r\n"
                           "Key offered: %3 %4\r\n\r\nIf the server's key was changed on "
                           "purpose, remove its old line from %2.")
                .arg(server, knownHosts, type, fingerprint));

    if (!mayAsk || !m_hostKeyQuestion)
        return failed(QStringLiteral("The host key of the SFTP server %1 is not recorded in %2.")
                          .arg(server, knownHosts));
    // The user may take their time.
    pauseWatch();
    const bool trusted = m_hostKeyQuestion(
        QStringLiteral("The SFTP server %1 is not known yet: its host key is not recorded in "
                       "%2.\r\n\r\nKey type: %3\r\nFingerprint: %4\r\n\r\nDo you trust this "
                       "server? Yes records its key and logs in; No ends the upload without "
                       "logging in.")
            .arg(server, knownHosts, type, fingerprint));
    touch();
    if (m_cancelled)
        return failed(QString());
    if (!trusted)
        return failed(QStringLiteral("The host key of the SFTP server %1 was not trusted: "
                                     "Troopbook did not log in and sent nothing.")
                          .arg(server));
    if (ssh_session_update_known_hosts(connection.ssh) != SSH_OK)
        return failed(QStringLiteral("The server's host key could not be recorded in %1: %2")
                          .arg(knownHosts, serverText(&connection)));
    return {};
}

CommandResult SftpSession::logIn(const Connection &connection) {
    const ssh_session ssh = connection.ssh;
    raise(RequestSent);
    int status = ssh_userauth_none(ssh, nullptr);
    if (status == SSH_AUTH_SUCCESS)
        return {};
    if (status == SSH_AUTH_DENIED || status == SSH_AUTH_PARTIAL) {
        const int methods = ssh_userauth_list(ssh, nullptr);
        if (methods & SSH_AUTH_METHOD_PASSWORD)
            status = ssh_userauth_password(ssh, nullptr, m_password.constData());
        else if (methods & SSH_AUTH_METHOD_INTERACTIVE)
            status = keyboardInteractive(connection);
        else
            return failed(QStringLiteral("The SFTP server does not take a password to log in."));
    }
    switch (status) {
    case SSH_AUTH_SUCCESS:
        return {};
    case SSH_AUTH_DENIED: {
        char *user = nullptr;
        ssh_options_get(ssh, SSH_OPTIONS_USER, &user);
        const QString name = QString::fromUtf8(user);
        ssh_string_free_char(user);
        return failed(QStringLiteral("The server refused the login of \"%1\": the user name or "
                                     "the password is wrong.")
                          .arg(name));
    }
    case SSH_AUTH_PARTIAL:
        return failed(QStringLiteral(
            "The SFTP server asks for more than the password to log in, which Troopbook cannot "
            "give."));
    default:
        return failed(alive(&connection) ? serverText(&connection) : brokenText(&connection));
    }
}

int SftpSession::keyboardInteractive(const Connection &connection) {
    const ssh_session ssh = connection.ssh;
    int status = ssh_userauth_kbdint(ssh, nullptr, nullptr);
    // Servers that take the password this way ask for it at a hidden prompt; prompts shown as
    // typed are answered empty, and a server that keeps asking is given up on.
    for (int round = 0; status == SSH_AUTH_INFO && round < 8; ++round) {
        const int prompts = ssh_userauth_kbdint_getnprompts(ssh);
        for (int i = 0; i < prompts; ++i) {
            char echo = 0;
            ssh_userauth_kbdint_getprompt(ssh, unsigned(i), &echo);
            ssh_userauth_kbdint_setanswer(ssh, unsigned(i), echo ? "" : m_password.constData());
        }
        status = ssh_userauth_kbdint(ssh, nullptr, nullptr);
    }
    return status == SSH_AUTH_INFO ? int(SSH_AUTH_DENIED) : status;
}

void SftpSession::close(bool polite) {
    if (!m_connection)
        return;
    const std::unique_ptr<Connection> connection = std::move(m_connection);
    if (polite)
        raise(Disconnecting);
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
        raise(Disconnected);
}

CommandResult SftpSession::failed(const QString &text) {
    raise(RemoteError);
    if (m_cancelled)
        return {CommandResult::Failed, QStringLiteral("The upload was cancelled."), true};
    return {CommandResult::Failed, masked(text), false};
}

CommandResult SftpSession::lost(const QString &during) {
    const QString why = m_timedOut ? QString() : serverText(m_connection.get());
    QString text = m_timedOut
                       ? QStringLiteral("The server did not answer within %1").arg(timeoutText())
                       : QStringLiteral("The connection to the server was lost");
    if (!during.isEmpty())
        text += QStringLiteral(" while sending %1; the file on the server was left as it was")
                    .arg(during);
    text += why.isEmpty() ? QStringLiteral(".") : QStringLiteral(" (%1).").arg(why);
    return failed(text);
}

QString SftpSession::brokenText(const Connection *connection) const {
    if (m_timedOut)
        return QStringLiteral("The server did not answer within %1.").arg(timeoutText());
    return QStringLiteral("The connection to the server was lost (%1).")
        .arg(serverText(connection));
}

CommandResult SftpSession::refused(const QString &text) {
    raise(RemoteError);
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
    default: {
        const QString text = serverText(m_connection.get());
        return text.isEmpty() ? QStringLiteral("the server reported a failure") : text;
    }
    }
}

} // namespace upload
