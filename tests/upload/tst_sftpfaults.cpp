// SFTP servers and known-hosts files that misbehave: a server that acknowledges writes and keeps
// nothing, turns down a rename, asks more than the password, never answers the goodbye; a key
// marked revoked, a file of host keys that cannot be read whole; a local file that changes while
// it is sent, by SFTP and by FTP. The server holds each file old or new, whole, and the user reads
// why.
#include "localsquad.h"
#include "sftpserver.h"
#include "upload/ftpsession.h"
#include "upload/sftpsession.h"
#include "upload/uploadsequence.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <optional>
#include <thread>

#include <unistd.h>

using namespace upload;
using namespace std::chrono_literals;
using testftp::messageTexts;
using testftp::PyFtpServer;
using testftp::SftpServer;

namespace {

const QStringList allFour{"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"};

QStringList entries(const QString &directory) {
    return QDir(directory).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

struct Run {
    UploadOutcome outcome;
    QStringList questions;
    // Far below the time-out of 20 s, unless the run waited it out.
    qint64 milliseconds = 0;
};

} // namespace

class TestSftpFaults : public QObject {
    Q_OBJECT

    const testftp::LocalSquad m_local{300000};
    QTemporaryDir m_scratch;

    Run uploadTo(const UploadRequest &request, const QString &knownHosts) const {
        Run run;
        QElapsedTimer clock;
        clock.start();
        SftpSession session(*ServerAddress::parse(request.host, nullptr), request.user,
                            request.password);
        session.setTimeout(20s);
        session.setKnownHostsFile(knownHosts);
        session.setGlobalKnownHostsFile(QStringLiteral("/dev/null"));
        session.setHostKeyQuestion([&run](const UnknownHostKey &key) {
            run.questions << key.fingerprint;
            return false;
        });
        run.outcome = runUpload(request, session);
        run.milliseconds = clock.elapsed();
        return run;
    }

    static UploadOutcome uploadByFtp(const UploadRequest &request) {
        FtpSession session(*ServerAddress::parse(request.host, nullptr), request.user,
                           request.password);
        session.setTimeout(20s);
        return runUpload(request, session);
    }

    QString knownHostsOf(const SftpServer &server) const {
        const QString path = m_scratch.filePath(QString::number(server.port()));
        testftp::writeFile(path, server.knownHostsLine().toLatin1());
        return path;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_local.isValid());
        QVERIFY(m_scratch.isValid());
    }

    // Nothing that marks the key revoked or keeps the file from being read whole may turn into
    // a question, or into a login.
    void hostKeysNotToBeTrusted_data() {
        QTest::addColumn<QString>("knownHosts"); // HOST the server, KEY its key
        // "file", "folder", "large", "unreadable", "loop" (a link to itself) or "read error"
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("message"); // empty: the question is asked
        const QString revoked = "is marked as revoked in";
        QTest::newRow("revoked") << "@revoked HOST KEY\n"
                                 << "file" << revoked;
        QTest::newRow("revoked beside a plain record") << "HOST KEY\n@revoked HOST KEY\n"
                                                       << "file" << revoked;
        QTest::newRow("revoked for every host") << "@revoked * KEY\n"
                                                << "file" << revoked;
        QTest::newRow("a certificate authority is no record of the key")
            << "@cert-authority HOST KEY\n"
            << "file"
            << "";
        QTest::newRow("a folder in its place") << ""
                                               << "folder"
                                               << "is a folder, not a file of host keys.";
        QTest::newRow("too large to read whole") << "HOST KEY\n"
                                                 << "large"
                                                 << "is too large to be read whole (40 MB";
        QTest::newRow("unreadable") << "HOST KEY\n"
                                    << "unreadable"
                                    << "cannot be read (";
        // These two keep even root from reading it.
        QTest::newRow("a link to itself") << ""
                                          << "loop"
                                          << "cannot be read (";
        QTest::newRow("a read that fails") << ""
                                           << "read error"
                                           << "cannot be read (";
    }
    void hostKeysNotToBeTrusted() {
        QFETCH(QString, knownHosts);
        QFETCH(QString, form);
        QFETCH(QString, message);
        if (form == "unreadable" && ::geteuid() == 0)
            QSKIP("root reads every file");
        SftpServer server;
        QVERIFY(server.isRunning());
        const QString path = m_scratch.filePath(QTest::currentDataTag());
        QByteArray content =
            QString(knownHosts)
                .replace("HOST", QStringLiteral("[127.0.0.1]:%1").arg(server.port()))
                .replace("KEY", server.publicKey())
                .toLatin1();
        if (form == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (form == "loop" || form == "read error") {
            // Reading a process's own memory from its start fails with an I/O error.
            QVERIFY(QFile::link(form == "loop" ? path : "/proc/self/mem", path));
        } else if (form == "large") {
            // The record comes last, after 40 MB of others' keys.
            const QByteArray other = "other.example.org ssh-ed25519 " + QByteArray(68, 'A') + '\n';
            content = other.repeated(40 * 1024 * 1024 / other.size() + 1) + content;
        }
        if (form != "folder" && form != "loop" && form != "read error")
            QVERIFY(testftp::writeFile(path, content));
        if (form == "unreadable")
            QVERIFY(QFile::setPermissions(path, {}));
        const Run run = uploadTo(m_local.request(server.address(), QString()), path);
        QCOMPARE(run.outcome.messages.size(), 1);
        const QString text = run.outcome.messages[0].text;
        if (message.isEmpty()) {
            QCOMPARE(run.questions, QStringList{server.fingerprint()});
            QVERIFY2(text.contains("was not trusted"), qPrintable(text));
        } else {
            QVERIFY(run.questions.isEmpty());
            QVERIFY2(text.contains(message), qPrintable(text));
        }
        QVERIFY(server.operations().filter("LOGIN").isEmpty());
        QVERIFY(entries(server.root()).isEmpty());
        if (form != "folder" && form != "loop" && form != "read error")
            QCOMPARE(testftp::readAll(path).size(), content.size());
    }

    // A keyboard-interactive login gets the password at one hidden prompt and nothing else; a
    // server that asks more is given up on at once, not at the time-out.
    void keyboardInteractiveAsksMoreThanThePassword_data() {
        QTest::addColumn<QString>("misbehave");
        QTest::addColumn<QString>("message");
        QTest::newRow("a thousand questions") << "many-prompts"
                                              << "cannot answer (";
        QTest::newRow("one question of 1 MB") << "huge-prompt"
                                              << "cannot answer (";
        QTest::newRow("a question shown as typed")
            << "visible-prompt"
            << "cannot answer: 2 questions at once (\"Your clan name:\", ...).";
        QTest::newRow("the password again and again")
            << "many-rounds"
            << "asked for the password again after it was given (\"Password:\")";
    }
    void keyboardInteractiveAsksMoreThanThePassword() {
        QFETCH(QString, misbehave);
        QFETCH(QString, message);
        SftpServer server({.keyboardInteractive = true, .misbehave = misbehave});
        QVERIFY(server.isRunning());
        const Run run =
            uploadTo(m_local.request(server.address(), QString()), knownHostsOf(server));
        QVERIFY(run.milliseconds < 10000);
        QCOMPARE(run.outcome.messages.size(), 1);
        const QString text = run.outcome.messages[0].text;
        QVERIFY2(text.contains(message), qPrintable(text));
        QVERIFY2(!text.contains("did not answer"), qPrintable(text));
        QVERIFY(!text.contains("secret"));
        QVERIFY(server.operations().filter("ANSWERED").size() <= 1);
        QVERIFY(entries(server.root()).isEmpty());
    }

    void serversThatKeepLessOrRenameNothing_data() {
        QTest::addColumn<QString>("misbehave");
        QTest::addColumn<bool>("oldFiles");
        QTest::addColumn<QString>("mention"); // in each file's line
        QTest::newRow("writes acknowledged and dropped")
            << "drop-writes" << true << ": the server kept 0 bytes of the ";
        QTest::newRow("posix-rename fails for a new file")
            << "fail-posix-rename" << false
            << ": the new file could not be given its name (the server reported a failure)";
        QTest::newRow("posix-rename fails over an old file")
            << "fail-posix-rename" << true
            << ": the new copy could not replace the old file (the server reported a failure)";
    }
    void serversThatKeepLessOrRenameNothing() {
        QFETCH(QString, misbehave);
        QFETCH(bool, oldFiles);
        QFETCH(QString, mention);
        SftpServer server({.misbehave = misbehave});
        QVERIFY(server.isRunning());
        for (const QString &name : oldFiles ? allFour : QStringList())
            QVERIFY(testftp::writeFile(server.root() + u'/' + name, "old " + name.toUtf8()));
        const Run run =
            uploadTo(m_local.request(server.address(), QString()), knownHostsOf(server));
        QCOMPARE(run.outcome.messages.size(), 1);
        const QString text = run.outcome.messages[0].text;
        QVERIFY2(text.startsWith("These files were not stored on the server:"), qPrintable(text));
        for (const QString &name : allFour) {
            QVERIFY2(text.contains("\r\n" + name + mention), qPrintable(text));
            if (oldFiles)
                QCOMPARE(testftp::readAll(server.root() + u'/' + name), "old " + name.toUtf8());
        }
        QVERIFY2(!text.contains("such file"), qPrintable(text));
        QVERIFY(run.outcome.stored.isEmpty());
        QCOMPARE(entries(server.root()).size(), oldFiles ? 4 : 0);
    }

    // Another program writes to the squad file while it is sent, over either protocol: only the
    // bytes it held when its transfer began go out, it is not stored, the old one stays and the
    // run goes on with the next file.
    void localFileChangingWhileItIsSent_data() {
        QTest::addColumn<QString>("server"); // "FTP" by pyftpdlib or "SFTP" by asyncssh
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("newSize");
        QTest::newRow("FTP, growing") << "FTP" << qint64(300000) << qint64(400000);
        QTest::newRow("FTP, shrinking") << "FTP" << qint64(300000) << qint64(1000);
        QTest::newRow("SFTP, growing") << "SFTP" << qint64(600000) << qint64(800000);
        QTest::newRow("SFTP, shrinking") << "SFTP" << qint64(600000) << qint64(1000);
    }
    void localFileChangingWhileItIsSent() {
        QFETCH(QString, server);
        QFETCH(qint64, size);
        QFETCH(qint64, newSize);
        QTemporaryDir local;
        const QString squadFile = local.filePath("squad.xml");
        QVERIFY(testftp::writeFile(squadFile, QByteArray(size, 'x')));
        QVERIFY(testftp::writeFile(local.filePath("squad.dtd"), m_local.bytes("squad.dtd")));
        // Both answer slowly, so that the file can change while it is on its way.
        std::optional<PyFtpServer> ftp;
        std::optional<SftpServer> sftp;
        const testftp::ScriptServer *running = nullptr;
        if (server == "FTP")
            running = &ftp.emplace(testftp::PyFtpOptions{.fault = "slow-stor"});
        else
            running = &sftp.emplace(testftp::SftpOptions{.slowWrites = true});
        QVERIFY(running->isRunning());
        const QString root = running->root();
        QVERIFY(testftp::writeFile(root + "/squad.xml", "old squad"));
        UploadRequest r = m_local.request(ftp ? ftp->address() : sftp->address(), QString());
        r.localDirectory = local.path();
        r.pictureName.clear();
        const QString knownHosts = sftp ? knownHostsOf(*sftp) : QString();
        UploadOutcome outcome;
        std::thread worker(
            [&] { outcome = ftp ? uploadByFtp(r) : uploadTo(r, knownHosts).outcome; });
        // Some of it has arrived under its temporary name.
        QTRY_VERIFY_WITH_TIMEOUT(entries(root).size() == 2 &&
                                     QFileInfo(root + u'/' + entries(root)[0]).size() > 0,
                                 10000);
        QVERIFY(QFile::resize(squadFile, newSize));
        worker.join();
        QCOMPARE(messageTexts(outcome),
                 QStringList{"These files were not stored on the server:\r\nsquad.xml: the local "
                             "file changed while it was sent (another program was writing to it), "
                             "so it was not stored; the file on the server was left as it was"});
        QCOMPARE(testftp::readAll(root + "/squad.xml"), QByteArray("old squad"));
        QCOMPARE(entries(root), (QStringList{"squad.dtd", "squad.xml"}));
        const QRegularExpression renamedOver("^(RNTO|RENAME|POSIX-RENAME) .*/squad\\.xml$");
        QCOMPARE(testftp::logLines(running->logPath()).filter(renamedOver), QStringList());
    }

    // Every file is stored, then the server answers nothing more, the goodbye included: the run
    // ends long before its time-out and counts every file as stored.
    void goodbyeNeverAnswered() {
        SftpServer server({.misbehave = "silent-goodbye"});
        QVERIFY(server.isRunning());
        const Run run =
            uploadTo(m_local.request(server.address(), QString()), knownHostsOf(server));
        // The goodbye has 2 s of its own.
        QVERIFY(run.milliseconds < 10000);
        QCOMPARE(messageTexts(run.outcome), QStringList());
        QCOMPARE(run.outcome.stored.size(), allFour.size());
        for (const QString &name : allFour)
            QCOMPARE(testftp::readAll(server.root() + u'/' + name), m_local.bytes(name));
        QVERIFY(server.operations().contains("SILENT"));
    }
};

QTEST_GUILESS_MAIN(TestSftpFaults)
#include "tst_sftpfaults.moc"
