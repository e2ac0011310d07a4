// FTP servers on loopback for the upload tests. Each one lives in a temporary directory, logs
// the commands it receives and ends with its fixture, or by itself after two minutes.
#pragma once

#include "../common/loopback.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testftp {

inline QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

using testnet::canConnect;
using testnet::freePort;

// The non-empty lines of a command log.
inline QStringList logLines(const QString &path) {
    QStringList lines;
    for (const QByteArray &line : readAll(path).split('\n')) {
        if (!line.trimmed().isEmpty())
            lines << QString::fromUtf8(line).trimmed();
    }
    return lines;
}

// A name lookup that hangs, as with a slow name server, until the fixture ends (or a minute has
// passed), then answers 127.0.0.1.
class StalledLookup {
public:
    ~StalledLookup() {
        std::lock_guard lock(m_state->mutex);
        m_state->released = true;
        m_state->changed.notify_all();
    }
    // Runs on a thread that may outlive the fixture.
    std::function<QStringList(const QString &, QString *)> function() const {
        return [state = m_state](const QString &, QString *) {
            std::unique_lock lock(state->mutex);
            state->entered = true;
            state->changed.wait_for(lock, std::chrono::minutes(1), [&] { return state->released; });
            return QStringList{QStringLiteral("127.0.0.1")};
        };
    }
    bool isEntered() const {
        std::lock_guard lock(m_state->mutex);
        return m_state->entered;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool entered = false;
        bool released = false;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// A loopback port whose connections the kernel completes but nobody ever reads or answers; or,
// `unreachable`, whose queue is kept full so that a connect waits as for a host that is down.
class SilentServer {
public:
    explicit SilentServer(bool unreachable = false) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
            ::listen(m_fd, unreachable ? 0 : 16) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return;
        for (int i = 0; unreachable && i < 3; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(filler, reinterpret_cast<sockaddr *>(&address), size);
            m_fillers.push_back(filler);
        }
        m_port = ntohs(address.sin_port);
    }
    ~SilentServer() {
        for (const int fd : m_fillers)
            ::close(fd);
        ::close(m_fd);
    }
    SilentServer(const SilentServer &) = delete;
    SilentServer &operator=(const SilentServer &) = delete;

    bool isRunning() const { return m_port > 0; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    int m_fd = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

// A server run by one of this folder's Python scripts, with its root and its log in a temporary
// directory of its own. The script prints "PORT <n>" once it listens; lines before that go to
// `takeLine`.
class ScriptServer {
public:
    ~ScriptServer() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    ScriptServer(const ScriptServer &) = delete;
    ScriptServer &operator=(const ScriptServer &) = delete;

    bool isRunning() const { return m_port > 0; }
    int port() const { return m_port; }
    QString root() const { return m_dir.filePath(QStringLiteral("root")); }
    QString logPath() const { return m_dir.filePath(QStringLiteral("server.log")); }

protected:
    ScriptServer() { QDir(m_dir.path()).mkdir(QStringLiteral("root")); }

    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    void start(const char *script, const QStringList &options,
               const std::function<void(const QByteArray &line)> &takeLine = {}) {
        const QStringList arguments =
            QStringList{QStringLiteral(TROOPBOOK_TEST_SOURCE_DIR "/") + QLatin1String(script),
                        QStringLiteral("--root"), root(), QStringLiteral("--log"), logPath()} +
            options;
        m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("server.err")));
        m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
        while (m_port == 0 && m_process.waitForReadyRead(20000)) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                if (line.startsWith("PORT "))
                    m_port = line.mid(5).toInt();
                else if (takeLine)
                    takeLine(line);
            }
        }
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

struct PyFtpOptions {
    QString home = QString(); // login directory below the root
    bool readOnly = false;
    QString fault = QString();
};

// Plain FTP by pyftpdlib; user "squad", password "secret".
class PyFtpServer : public ScriptServer {
public:
    explicit PyFtpServer(const PyFtpOptions &options = PyFtpOptions()) {
        QStringList arguments;
        if (!options.home.isEmpty())
            arguments << QStringLiteral("--home") << options.home;
        if (options.readOnly)
            arguments << QStringLiteral("--read-only");
        if (!options.fault.isEmpty())
            arguments << QStringLiteral("--fault") << options.fault;
        start("ftpserver.py", arguments);
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    QStringList commands() const { return logLines(logPath()); }
};

// FTP over TLS by ProFTPD, with a certificate made for 127.0.0.1 and localhost; user "clan",
// password "secret". ProFTPD's own default holds: AllowOverwrite off, so a STOR over an
// existing file is refused. `tlsRequired` off takes plain FTP as well; `storeRate`, in kB/s,
// slows uploads down.
class ProFtpServer {
public:
    explicit ProFtpServer(bool implicitTls, bool tlsRequired = true, int storeRate = 0) {
        const QString dir = m_dir.path();
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                       QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                       QFile::ExeOther);
        QDir(dir).mkdir(QStringLiteral("root"));
        // The server works in the account of the unprivileged user "nobody".
        if (::chown(QFile::encodeName(root()).constData(), 65534, 65534) != 0)
            return;
        if (!run(QStringLiteral("openssl"),
                 {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                  "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                  "-keyout", dir + "/key.pem", "-out", certificate()}))
            return;
        QProcess hash;
        hash.start(QStringLiteral("openssl"), {"passwd", "-1", "secret"});
        if (!hash.waitForFinished(10000))
            return;
        const QByteArray crypted = hash.readAllStandardOutput().trimmed();
        writeFile(dir + "/ftpd.passwd", "clan:" + crypted + ":65534:65534::" +
                                            QFile::encodeName(root()) + ":/bin/false\n");
        writeFile(dir + "/ftpd.group", "clan:x:65534:\n");
        for (const char *secret : {"/ftpd.passwd", "/ftpd.group", "/key.pem"})
            QFile::setPermissions(dir + QLatin1String(secret),
                                  QFile::ReadOwner | QFile::WriteOwner);

        m_port = freePort();
        QByteArray config = "ServerType standalone\n"
                            "ServerName \"troopbook test\"\n"
                            "Port " +
                            QByteArray::number(m_port) +
                            "\n"
                            "DefaultAddress 127.0.0.1\n"
                            "SocketBindTight on\n"
                            "UseIPv6 off\n"
                            "User nobody\n"
                            "Group nogroup\n"
                            "PidFile @/proftpd.pid\n"
                            "ScoreboardFile @/proftpd.scoreboard\n"
                            "DelayTable none\n"
                            "WtmpLog off\n"
                            "UseReverseDNS off\n"
                            "TransferLog none\n"
                            "SystemLog @/system.log\n"
                            "AuthOrder mod_auth_file.c\n"
                            "AuthUserFile @/ftpd.passwd\n"
                            "AuthGroupFile @/ftpd.group\n"
                            "RequireValidShell off\n"
                            "DefaultRoot ~\n"
                            "LogFormat commands \"%r\"\n"
                            "ExtendedLog @/commands.log ALL commands\n"
                            "ModulePath /usr/lib/proftpd\n"
                            "LoadModule mod_tls.c\n"
                            "TLSEngine on\n"
                            "TLSLog @/tls.log\n"
                            "TLSProtocol TLSv1.2 TLSv1.3\n"
                            "TLSRSACertificateFile @/cert.pem\n"
                            "TLSRSACertificateKeyFile @/key.pem\n"
                            "TLSVerifyClient off\n";
        config += tlsRequired ? "TLSRequired on\n" : "TLSRequired off\n";
        if (implicitTls)
            config += "TLSOptions UseImplicitSSL\n";
        if (storeRate > 0)
            config += "TransferRate STOR " + QByteArray::number(storeRate) + "\n";
        config.replace('@', QFile::encodeName(dir));
        writeFile(dir + "/proftpd.conf", config);

        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        // timeout passes the fixture's TERM on to the server and ends it by itself otherwise.
        m_process.start(QStringLiteral("timeout"), {"120", "proftpd", "--nodaemon", "--quiet",
                                                    "--config", dir + "/proftpd.conf"});
        for (int i = 0; i < 100 && !canConnect(m_port); ++i)
            QTest::qSleep(50);
        m_running = canConnect(m_port);
    }
    ~ProFtpServer() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool isRunning() const { return m_running; }
    int port() const { return m_port; }
    QString root() const { return m_dir.filePath(QStringLiteral("root")); }
    QString certificate() const { return m_dir.filePath(QStringLiteral("cert.pem")); }
    QStringList commands() const {
        return logLines(m_dir.filePath(QStringLiteral("commands.log")));
    }

private:
    static bool run(const QString &program, const QStringList &arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        return process.waitForFinished(30000) && process.exitCode() == 0;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    bool m_running = false;
};

} // namespace testftp
