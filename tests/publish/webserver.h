// A web server on loopback for the published-squad tests: http and https with a certificate
// made for localhost and 127.0.0.1. Each case lives in a folder of its own below the root, its
// odd ways of serving written to the folder's ".staging" file (see webserver.py).
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace testweb {

inline bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

class WebServer {
public:
    // Serves `servedRoot`, or a root of its own when none is given.
    explicit WebServer(const QString &servedRoot = QString())
        : m_servedRoot(servedRoot) {
        const QString dir = m_dir.path();
        QDir(dir).mkdir(QStringLiteral("root"));
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                       "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                       "-keyout", dir + "/key.pem", "-out", certificate()});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            return;
        m_process.setStandardErrorFile(dir + "/server.err");
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral(TROOPBOOK_WEBSERVER_SCRIPT), "--root", root(), "--log",
                         dir + "/requests.log", "--cert", certificate(), "--key",
                         dir + "/key.pem"});
        while ((m_port == 0 || m_tlsPort == 0) && m_process.waitForReadyRead(10000)) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                if (line.startsWith("PORT "))
                    m_port = line.mid(5).toInt();
                else if (line.startsWith("TLSPORT "))
                    m_tlsPort = line.mid(8).toInt();
            }
        }
    }
    ~WebServer() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    bool isRunning() const { return m_port > 0 && m_tlsPort > 0; }
    int port() const { return m_port; }
    int tlsPort() const { return m_tlsPort; }
    QString root() const {
        return m_servedRoot.isEmpty() ? m_dir.filePath(QStringLiteral("root")) : m_servedRoot;
    }
    QString certificate() const { return m_dir.filePath(QStringLiteral("cert.pem")); }
    // Routes http://localhost/ and https://localhost/ on their usual ports to this server.
    QStringList connectTo() const {
        return {QStringLiteral("localhost:80:127.0.0.1:%1").arg(m_port),
                QStringLiteral("localhost:443:127.0.0.1:%1").arg(m_tlsPort)};
    }
    // The requests so far, "http /case/squad.xml" each.
    QStringList requests() const {
        QFile file(m_dir.filePath(QStringLiteral("requests.log")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    // Puts `files` into the folder `name` below the root, with `staging` as its ".staging".
    bool stage(const QString &name, const QList<std::pair<QString, QByteArray>> &files,
               const QByteArray &staging = {}) {
        const QDir folder(root() + u'/' + name);
        if (!QDir().mkpath(folder.path()))
            return false;
        for (const auto &[file, bytes] : files) {
            if (!writeFile(folder.filePath(file), bytes))
                return false;
        }
        return staging.isEmpty() || writeFile(folder.filePath(QStringLiteral(".staging")), staging);
    }

private:
    QString m_servedRoot;
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    int m_tlsPort = 0;
};

} // namespace testweb
