// Keys for the SFTP login tests, made by OpenSSH's ssh-keygen, and an ssh-agent of the test's own.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace testftp {

inline bool runTool(const QString &program, const QStringList &arguments,
                    const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

// Three ed25519 keys: "plain" and "locked" (by `passphrase`) are in authorizedKeys(), "other"
// is not.
class TestKeys {
public:
    static inline const QString passphrase = QStringLiteral("open sesame");

    TestKeys() {
        m_valid = m_dir.isValid();
        for (const char *which : {"plain", "locked", "other"}) {
            m_valid =
                m_valid &&
                runTool("ssh-keygen", {"-q", "-t", "ed25519", "-C", which, "-f", path(which), "-N",
                                       QLatin1String(which) == "locked" ? passphrase : QString()});
        }
        QFile keys(authorizedKeys());
        m_valid = m_valid && keys.open(QIODevice::WriteOnly);
        for (const char *which : {"plain", "locked"}) {
            QFile key(path(which) + ".pub");
            m_valid = m_valid && key.open(QIODevice::ReadOnly) && keys.write(key.readAll()) > 0;
        }
    }
    bool isValid() const { return m_valid; }
    QString path(const QString &which) const { return m_dir.filePath(which); }
    QString authorizedKeys() const { return m_dir.filePath("authorized_keys"); }

    // Puts the key into `home`/.ssh as id_ed25519, with its public half when asked.
    bool place(const QString &which, const QString &home, bool publicHalf) const {
        const QString target = home + "/.ssh/id_ed25519";
        return QDir().mkpath(home + "/.ssh") && QFile::copy(path(which), target) &&
               (!publicHalf || QFile::copy(path(which) + ".pub", target + ".pub"));
    }

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};

// An ssh-agent of the test's own at `socket`, holding one key.
class Agent {
public:
    Agent(const QString &socket, const QString &key)
        : m_socket(socket) {
        m_process.start(QStringLiteral("ssh-agent"), {"-D", "-a", socket});
        for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
            QTest::qWait(20);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SSH_AUTH_SOCK"), socket);
        m_holdsKey = runTool(QStringLiteral("ssh-add"), {"-q", key}, env);
    }
    ~Agent() {
        m_process.kill();
        m_process.waitForFinished(5000);
        QFile::remove(m_socket);
    }
    Agent(const Agent &) = delete;
    Agent &operator=(const Agent &) = delete;
    bool holdsKey() const { return m_holdsKey; }
    QString socket() const { return m_socket; }

private:
    QString m_socket;
    QProcess m_process;
    bool m_holdsKey = false;
};

} // namespace testftp
