// `troopbook --upload` run as a CI job would run it, against the FTP, FTPS and SFTP test servers:
// where the password comes from, the squad check before anything is sent, host keys, what is
// printed and the exit status, and Ctrl+C in the middle of a file.
#include "ftpservers.h"
#include "sftpserver.h"
#include "squad/squadwriter.h"
#include "sshkeys.h"

#include <QElapsedTimer>
#include <QTest>

#include <csignal>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace testftp;

namespace {

struct Run {
    int exitCode = -1;
    QStringList out;
    QString err;
};

QStringList lines(const QByteArray &bytes) {
    return QString::fromLocal8Bit(bytes).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class TestUploadCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir m_local;
    QTemporaryDir m_home;
    const TestKeys m_keys;

    QString knownHosts() const { return m_home.filePath(".ssh/known_hosts"); }

    // A squad file with its companions; `tag` decides whether the check finds a problem.
    void writeSquad(const QString &tag, const QByteArray &padding = {}) {
        squad::SquadData squad;
        squad.properties[int(squad::Property::Tag)] = tag;
        squad.mmbdata.append(squad::Member{"76561198000000001", "Ann", "", "", "", padding});
        QVERIFY(writeFile(m_local.filePath("squad.xml"), squad::fileContents(squad)));
        QVERIFY(writeFile(m_local.filePath("squad.dtd"), "<!ELEMENT squad (name)>\n"));
        QFile::remove(m_local.filePath("squad.xsl"));
        QVERIFY(writeFile(m_local.filePath("squad.xsl"), "<xsl:stylesheet/>\n"));
    }

    // The program in a session of its own, without a terminal, as in a CI job; HOME is the
    // test's and no agent is reachable unless one is given.
    QProcessEnvironment environment(const QString &password, const QString &agent) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "SSH_AUTH_SOCK",
                                 "TROOPBOOK_PASSWORD"})
            env.remove(name);
        env.insert("HOME", m_home.path());
        if (!password.isEmpty())
            env.insert("TROOPBOOK_PASSWORD", password);
        if (!agent.isEmpty())
            env.insert("SSH_AUTH_SOCK", agent);
        return env;
    }

    static void start(QProcess &process, const QStringList &arguments,
                      const QProcessEnvironment &env) {
        process.setProcessEnvironment(env);
        process.setChildProcessModifier([] { ::setsid(); });
        process.start(QStringLiteral(TROOPBOOK_BINARY), arguments);
    }

    Run troopbook(const QStringList &arguments, const QProcessEnvironment &env) const {
        QProcess process;
        start(process, arguments, env);
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return {};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                lines(process.readAllStandardOutput()),
                QString::fromLocal8Bit(process.readAllStandardError())};
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_local.isValid());
        QVERIFY(m_home.isValid());
        QVERIFY(m_keys.isValid());
    }

    void init() {
        writeSquad("TB");
        QDir(m_home.filePath(".ssh")).removeRecursively();
        QFile::remove(m_home.filePath(".netrc"));
    }

    void uploads_data() {
        QTest::addColumn<QString>("protocol"); // ftp, ftps or sftp
        QTest::addColumn<QString>("user");     // in the address
        QTest::addColumn<QString>("password"); // "env:…", "netrc:…", "agent" or ""
        QTest::addColumn<QString>("hostKey");  // sftp: "known", "unknown" or "changed"
        QTest::addColumn<QString>("squad");    // "good", "problem" or "fifo companion"
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("out");
        QTest::addColumn<QString>("err"); // a part of standard error
        QTest::addColumn<bool>("sent");   // anything reached the server
        const QStringList allStored{"squad.xml: stored as /squad/squad.xml",
                                    "squad.dtd: stored as /squad/squad.dtd",
                                    "squad.xsl: stored as /squad/squad.xsl"};
        const QStringList none;
        QTest::newRow("ftp, password from the environment")
            << "ftp"
            << "squad"
            << "env:secret"
            << ""
            << "good" << none << 0 << allStored << "" << true;
        QTest::newRow("ftp, login and password from .netrc")
            << "ftp"
            << ""
            << "netrc:machine 127.0.0.1 login squad password secret"
            << ""
            << "good" << none << 0 << allStored << "" << true;
        QTest::newRow("ftp, .netrc entry of another login")
            << "ftp"
            << "squad"
            << "netrc:machine 127.0.0.1 login other password secret"
            << ""
            << "good" << none << 1 << none << "refused the login" << false;
        QTest::newRow("ftp, password in the address")
            << "ftp"
            << "squad:secret"
            << ""
            << ""
            << "good" << none << 1 << none << "TROOPBOOK_PASSWORD or in ~/.netrc" << false;
        QTest::newRow("ftp, a problem in the squad")
            << "ftp"
            << "squad"
            << "env:secret"
            << ""
            << "problem" << none << 2 << QStringList{"squad.xml: squad: problem: The tag holds"}
            << "nothing was sent" << false;
        QTest::newRow("ftp, a problem in the squad, --no-check")
            << "ftp"
            << "squad"
            << "env:secret"
            << ""
            << "problem" << QStringList{"--no-check"} << 0 << allStored << "" << true;
        QTest::newRow("ftp, a companion not stored")
            << "ftp"
            << "squad"
            << "env:secret"
            << ""
            << "fifo companion" << none << 2
            << QStringList{allStored[0], allStored[1],
                           "squad.xsl: not stored: it is a FIFO, not an ordinary file, and was "
                           "not sent"}
            << "" << true;
        QTest::newRow("ftps, certificate not trusted by the system")
            << "ftps"
            << "clan"
            << "env:secret"
            << ""
            << "good" << none << 1 << none << "certificate" << false;
        QTest::newRow("sftp, known host key") << "sftp"
                                              << "squad"
                                              << "env:secret"
                                              << "known"
                                              << "good" << none << 0 << allStored << "" << true;
        QTest::newRow("sftp, unknown host key")
            << "sftp"
            << "squad"
            << "env:secret"
            << "unknown"
            << "good" << none << 1 << none << "--accept-new-host-key" << false;
        QTest::newRow("sftp, unknown host key accepted")
            << "sftp"
            << "squad"
            << "env:secret"
            << "unknown"
            << "good" << QStringList{"--accept-new-host-key"} << 0 << allStored
            << "Recorded the host key" << true;
        QTest::newRow("sftp, changed host key, --accept-new-host-key")
            << "sftp"
            << "squad"
            << "env:secret"
            << "changed"
            << "good" << QStringList{"--accept-new-host-key"} << 1 << none
            << "differs from the one recorded" << false;
        QTest::newRow("sftp, password from .netrc")
            << "sftp"
            << "squad"
            << "netrc:machine 127.0.0.1\n  login squad\n  password secret\n"
            << "known"
            << "good" << none << 0 << allStored << "" << true;
        QTest::newRow("sftp, key in ssh-agent") << "sftp"
                                                << "squad"
                                                << "agent"
                                                << "known"
                                                << "good" << none << 0 << allStored << "" << true;
        QTest::newRow("sftp, a locked key without a terminal, then the password")
            << "sftp"
            << "squad"
            << "locked key, env:secret"
            << "known"
            << "good" << none << 0 << allStored << "" << true;
        QTest::newRow("sftp, no password and no key")
            << "sftp"
            << "squad"
            << ""
            << "known"
            << "good" << none << 1 << none
            << "The server takes publickey, password; no ssh-agent runs" << false;
    }
    void uploads() {
        QFETCH(QString, protocol);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, hostKey);
        QFETCH(QString, squad);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QStringList, out);
        QFETCH(QString, err);
        QFETCH(bool, sent);
        std::optional<PyFtpServer> ftp;
        std::optional<ProFtpServer> ftps;
        std::optional<SftpServer> sftp;
        QString root;
        int port = 0;
        if (protocol == "ftp") {
            ftp.emplace();
            QVERIFY(ftp->isRunning());
            root = ftp->root();
            port = ftp->port();
        } else if (protocol == "ftps") {
            ftps.emplace(true);
            QVERIFY(ftps->isRunning());
            root = ftps->root();
            port = ftps->port();
        } else {
            sftp.emplace(SftpOptions{.authorizedKeys = m_keys.authorizedKeys()});
            QVERIFY(sftp->isRunning());
            root = sftp->root();
            port = sftp->port();
            QString recorded;
            if (hostKey == "known") {
                recorded = sftp->knownHostsLine();
            } else if (hostKey == "changed") {
                const SftpServer other;
                recorded = QString("[127.0.0.1]:%1 %2\n").arg(port).arg(other.publicKey());
            }
            if (!recorded.isEmpty()) {
                QVERIFY(QDir().mkpath(m_home.filePath(".ssh")));
                QVERIFY(writeFile(knownHosts(), recorded.toLatin1()));
            }
        }
        QVERIFY(QDir(root).mkdir("squad"));

        if (squad == "problem")
            writeSquad("T@B");
        if (squad == "fifo companion") {
            QFile::remove(m_local.filePath("squad.xsl"));
            QVERIFY(::mkfifo(QFile::encodeName(m_local.filePath("squad.xsl")).constData(), 0600) ==
                    0);
        }
        std::optional<Agent> agent;
        if (password == "agent") {
            agent.emplace(m_home.filePath("agent.sock"), m_keys.path("plain"));
            QVERIFY(agent->holdsKey());
        }
        if (password.startsWith("locked key, ")) {
            QVERIFY(m_keys.place("locked", m_home.path(), false));
            password = password.mid(12);
        }
        if (password.startsWith("netrc:"))
            QVERIFY(writeFile(m_home.filePath(".netrc"), password.mid(6).toUtf8()));

        const QString address = protocol + "://" + (user.isEmpty() ? QString() : user + '@') +
                                "127.0.0.1:" + QString::number(port) + "/squad";
        const Run run =
            troopbook(QStringList{"--upload", m_local.filePath("squad.xml"), address} + options,
                      environment(password.startsWith("env:") ? password.mid(4) : QString(),
                                  agent ? agent->socket() : QString()));

        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out.size(), out.size());
        for (qsizetype i = 0; i < out.size(); ++i)
            QVERIFY2(run.out[i].contains(out[i]), qPrintable(run.out[i]));
        QVERIFY2(run.err.contains(err), qPrintable(run.err));
        QVERIFY(!run.err.contains("secret"));
        const QStringList stored = QDir(root + "/squad").entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(!stored.isEmpty(), sent);
        if (exitCode == 0)
            QCOMPARE(readAll(root + "/squad/squad.xml"), readAll(m_local.filePath("squad.xml")));
        if (hostKey == "unknown") {
            // Recorded only when asked to, and then as ssh would record it.
            QCOMPARE(readAll(knownHosts()).contains(sftp->publicKey().toLatin1()),
                     options.contains("--accept-new-host-key"));
            if (!sent)
                QVERIFY2(run.err.contains(sftp->fingerprint()), qPrintable(run.err));
        }
        if (sftp && !sent)
            QVERIFY(sftp->operations().filter("OPEN").isEmpty());
    }

    // Ctrl+C or a TERM while a file is written: the run ends at once, the temporary copy goes
    // and the old file stays.
    void interruptDuringATransfer_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("overSftp");
        QTest::newRow("SIGINT, SFTP") << SIGINT << true;
        QTest::newRow("SIGTERM, SFTP") << SIGTERM << true;
        QTest::newRow("SIGINT, FTP") << SIGINT << false;
    }
    void interruptDuringATransfer() {
        QFETCH(int, signal);
        QFETCH(bool, overSftp);
        // About a hundred writes of a twentieth of a second each, or 30 s at 100 kB/s.
        writeSquad("TB", QByteArray(3200000, 'x'));
        std::optional<SftpServer> sftp;
        std::optional<PyFtpServer> ftp;
        QString root;
        QString url;
        if (overSftp) {
            sftp.emplace(SftpOptions{.slowWrites = true});
            QVERIFY(sftp->isRunning());
            QVERIFY(QDir().mkpath(m_home.filePath(".ssh")));
            QVERIFY(writeFile(knownHosts(), sftp->knownHostsLine().toLatin1()));
            root = sftp->root();
            url = QString("sftp://squad@127.0.0.1:%1/").arg(sftp->port());
        } else {
            ftp.emplace(PyFtpOptions{.fault = "slow-stor"});
            QVERIFY(ftp->isRunning());
            root = ftp->root();
            url = QString("ftp://squad@%1/").arg(ftp->address());
        }
        QVERIFY(writeFile(root + "/squad.xml", "old squad"));
        QProcess process;
        start(process, {"--upload", m_local.filePath("squad.xml"), url},
              environment("secret", QString()));
        if (sftp)
            QTRY_VERIFY_WITH_TIMEOUT(!sftp->operations().filter("OPEN").isEmpty(), 20000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(!ftp->commands().filter("STOR").isEmpty(), 20000);
        QTest::qWait(300);
        QCOMPARE(process.state(), QProcess::Running);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(10000));
        // Well before the rest of the file would have gone.
        QVERIFY(clock.elapsed() < 3000);
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(QString::fromLocal8Bit(process.readAllStandardError()).contains("Interrupted"));
        QCOMPARE(QDir(root).entryList(QDir::Files | QDir::Hidden), QStringList{"squad.xml"});
        QCOMPARE(readAll(root + "/squad.xml"), QByteArray("old squad"));
        QCOMPARE(
            (sftp ? sftp->operations().filter("REMOVE") : ftp->commands().filter("DELE")).size(),
            1);
    }
};

QTEST_MAIN(TestUploadCommandLine)
#include "tst_uploadcommandline.moc"
