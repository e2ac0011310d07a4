// Uploads to a real SFTP server on loopback: what lands on the server and how it replaces what
// was there, the host key check, and what the user is told when something goes wrong.
#include "app/uploadwindow.h"
#include "app/uploadworker.h"
#include "endingupload.h"
#include "localsquad.h"
#include "sftpserver.h"
#include "ui/commondialog.h"
#include "ui/messagebox.h"
#include "upload/sftpsession.h"
#include "upload/uploadsequence.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace upload;
using app::UploadWindow;
using app::UploadWorker;
using namespace std::chrono_literals;
using testftp::messageTexts;
using testftp::SftpOptions;
using testftp::SftpServer;
using ui::MessageBox;

namespace {

const QString directoryMissing =
    QStringLiteral("Connection accomplished,\r\nbut the remote directory doesn't exist.");
const QStringList allFour{"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"};

struct Run {
    UploadOutcome outcome;
    QList<int> states;
    QStringList questions;
    QStringList notices;
};

// Every entry of a directory, hidden ones included: a temporary file left behind shows here.
QStringList entries(const QString &directory) {
    return QDir(directory).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// The process's open sockets: a session gone must have closed every one it opened.
int openSockets() {
    int count = 0;
    for (const QString &fd : QDir("/proc/self/fd").entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const QByteArray path = QFile::encodeName("/proc/self/fd/" + fd);
        if (::readlink(path.constData(), target, sizeof target - 1) > 0 &&
            QByteArray(target).startsWith("socket:"))
            ++count;
    }
    return count;
}

} // namespace

class TestSftpUpload : public QObject {
    Q_OBJECT

    const testftp::LocalSquad m_local{300000}; // several write requests' worth
    QTemporaryDir m_scratch;
    QString m_knownHosts;

    QString localDirectory() const { return m_local.directory(); }

    UploadRequest request(const SftpServer &server, const QString &remote) const {
        return m_local.request(server.address(), remote);
    }

    SessionOptions options() const {
        return {
            .timeout = 20s, .knownHostsFile = m_knownHosts, .globalKnownHostsFile = "/dev/null"};
    }

    void configure(SftpSession &session) const {
        session.setTimeout(20s);
        session.setKnownHostsFile(m_knownHosts);
        session.setGlobalKnownHostsFile(QStringLiteral("/dev/null"));
    }

    Run uploadTo(const UploadRequest &request, bool trust = true,
                 const std::function<void(SftpSession &)> &setup = {}) const {
        Run run;
        SftpSession session(*ServerAddress::parse(request.host, nullptr), request.user,
                            request.password);
        configure(session);
        if (setup)
            setup(session);
        session.setStateHandler([&run](int state) { run.states << state; });
        session.setNoticeHandler([&run](const QString &notice) { run.notices << notice; });
        session.setHostKeyQuestion([&run, trust](const UnknownHostKey &key) {
            run.questions << UploadWindow::hostKeyQuestion(key);
            return trust;
        });
        run.outcome = runUpload(request, session);
        return run;
    }

    void trust(const SftpServer &server) const {
        QVERIFY(QDir().mkpath(QFileInfo(m_knownHosts).path()));
        QFile file(m_knownHosts);
        QVERIFY(file.open(QIODevice::Append));
        file.write(server.knownHostsLine().toLatin1());
    }

    void verifyStored(const QString &serverDirectory, const QStringList &names) {
        for (const QString &name : names)
            QCOMPARE(testftp::readAll(serverDirectory + u'/' + name), m_local.bytes(name));
        QCOMPARE(entries(serverDirectory).size(), names.size());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_local.isValid()); }

    void init() {
        m_knownHosts = m_scratch.filePath(
            QStringLiteral("known_hosts-%1").arg(QRandomGenerator::global()->generate()));
    }

    void cleanup() {
        QVERIFY(!MessageBox::hasPendingAnswers());
        MessageBox::takeShown();
    }

    void filesArriveWholeAndReplaceTheOldOnes_data() {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("serverDirectory");
        QTest::addColumn<bool>("oldFiles");
        QTest::addColumn<bool>("keyboardInteractive");
        QTest::addColumn<QString>("link"); // a symbolic link in the root to serverDirectory
        QTest::newRow("relative") << "squad"
                                  << "squad" << false << false << "";
        QTest::newRow("absolute") << "/squad"
                                  << "squad" << false << false << "";
        QTest::newRow("trailing slash") << "/squad/"
                                        << "squad" << false << false << "";
        QTest::newRow("login directory") << ""
                                         << "" << false << false << "";
        QTest::newRow("over old files") << "squad"
                                        << "squad" << true << false << "";
        QTest::newRow("keyboard-interactive login") << "squad"
                                                    << "squad" << false << true << "";
        // Web hosts often give the web folder as a link; the server's canonical path of it
        // names another directory, which is still the one asked for.
        QTest::newRow("relative, through a link") << "www"
                                                  << "squad" << false << false << "www";
        QTest::newRow("absolute, through a link") << "/www/"
                                                  << "squad" << false << false << "www";
        QTest::newRow("relative, with ..") << "squad/../squad"
                                           << "squad" << false << false << "";
    }
    void filesArriveWholeAndReplaceTheOldOnes() {
        QFETCH(QString, remote);
        QFETCH(QString, serverDirectory);
        QFETCH(bool, oldFiles);
        QFETCH(bool, keyboardInteractive);
        QFETCH(QString, link);
        SftpServer server({.keyboardInteractive = keyboardInteractive});
        QVERIFY(server.isRunning());
        trust(server);
        const QString directory = server.root() + u'/' + serverDirectory;
        QVERIFY(QDir().mkpath(directory));
        if (!link.isEmpty())
            QVERIFY(QFile::link(directory, server.root() + u'/' + link));
        if (oldFiles) {
            for (const QString &name : allFour) {
                QVERIFY(testftp::writeFile(directory + u'/' + name, "old " + name.toUtf8()));
                QVERIFY(QFile::setPermissions(directory + u'/' + name, QFile::ReadOwner |
                                                                           QFile::WriteOwner |
                                                                           QFile::ReadGroup));
            }
        }
        const Run run = uploadTo(request(server, remote));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        QVERIFY(run.questions.isEmpty());
        QVERIFY(run.notices.isEmpty());
        verifyStored(directory, allFour);
        if (oldFiles) {
            QCOMPARE(QFile::permissions(directory + "/squad.xml") &
                         QFileDevice::Permissions(0x7077),
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        }
        // Each file is written under a hidden name of its own beside the target, then renamed
        // over it in one step, in the sequence's order.
        const QStringList operations = server.operations();
        QCOMPARE(operations.filter("OPEN").size(), 4);
        const QStringList renames = operations.filter("RENAME");
        QCOMPARE(renames.size(), 4);
        // The files go where the directory was asked for, as the server's own cd would take it.
        QString asked = remote;
        while (asked.endsWith(u'/'))
            asked.chop(1);
        while (asked.startsWith(u'/'))
            asked.remove(0, 1);
        const QString prefix = asked.isEmpty() ? QString("/") : QString("/" + asked + "/");
        for (int i = 0; i < 4; ++i) {
            const QStringList words = renames[i].split(u' ');
            QCOMPARE(words[0], QString("POSIX-RENAME"));
            QVERIFY2(words[1].startsWith(prefix + '.' + allFour[i] + ".troopbook-"),
                     qPrintable(words[1]));
            QCOMPARE(words[2], prefix + allFour[i]);
            QCOMPARE(operations.indexOf("OPEN " + words[1]) >= 0, true);
        }
        QVERIFY(operations.filter("REMOVE").isEmpty());
        QCOMPARE(run.states.first(), int(ResolvingHost));
        QCOMPARE(run.states.last(), int(Disconnected));
        for (int state : {HostResolved, Connecting, Connected, SendingRequest, RequestSent,
                          ResponseReceived, ResponseCompleted, Disconnecting})
            QVERIFY2(run.states.contains(state), qPrintable(stateText(state)));
        QVERIFY(!run.states.contains(RemoteError));
    }

    void aLinkOnTheServerKeepsPointingAtTheNewFile() {
        SftpServer server;
        QVERIFY(server.isRunning());
        trust(server);
        QVERIFY(QDir(server.root()).mkpath("releases/v2"));
        QVERIFY(testftp::writeFile(server.root() + "/releases/v2/squad.xml", "old"));
        QVERIFY(QFile::link("releases/v2/squad.xml", server.root() + "/squad.xml"));
        const Run run = uploadTo(request(server, QString()));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        QCOMPARE(QFileInfo(server.root() + "/squad.xml").symLinkTarget(),
                 server.root() + "/releases/v2/squad.xml");
        QCOMPARE(testftp::readAll(server.root() + "/releases/v2/squad.xml"),
                 m_local.bytes("squad.xml"));
        QCOMPARE(entries(server.root() + "/releases/v2"), QStringList{"squad.xml"});
    }

    void loginDirectoryOtherThanTheRoot() {
        SftpServer server({.home = "clan"});
        QVERIFY(server.isRunning());
        trust(server);
        QVERIFY(QDir(server.root()).mkpath("clan/squad"));
        Run run = uploadTo(request(server, "/clan/squad"));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root() + "/clan/squad", allFour);
        QVERIFY(QDir(server.root()).mkpath("clan/relative"));
        run = uploadTo(request(server, "relative"));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root() + "/clan/relative", allFour);
        run = uploadTo(request(server, QString()));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root() + "/clan", allFour);
        QVERIFY(QDir(server.root()).mkpath("web"));
        run = uploadTo(request(server, "../web"));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root() + "/web", allFour);
    }

    void missingDirectorySendsNothing_data() {
        QTest::addColumn<QString>("remote");
        QTest::newRow("relative") << "nosuch";
        QTest::newRow("absolute") << "/nosuch/deeper";
        QTest::newRow("a file") << "/plain.txt";
    }
    void missingDirectorySendsNothing() {
        QFETCH(QString, remote);
        SftpServer server;
        QVERIFY(server.isRunning());
        trust(server);
        QVERIFY(testftp::writeFile(server.root() + "/plain.txt", "x"));
        const Run run = uploadTo(request(server, remote));
        QCOMPARE(messageTexts(run.outcome), QStringList{directoryMissing});
        QCOMPARE(run.outcome.messages[0].severity, UploadMessage::Failure);
        QVERIFY(server.operations().filter("OPEN").isEmpty());
        QCOMPARE(entries(server.root()), QStringList{"plain.txt"});
        QVERIFY(run.states.contains(RemoteError));
        QCOMPARE(run.states.last(), int(Disconnected));
    }

    // Failures before anything is sent: what the user reads and what reached the server.
    void refusedBeforeSending_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("knownKey"); // "" none, "own" the server's, "other" another's
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("login");
        QTest::addColumn<bool>("keyboardInteractive");
        const QString wrongPassword =
            "The server refused the login of \"squad\": the user name or the password is wrong.";
        QTest::newRow("wrong password")
            << "Wr0ngPassw0rd"
            << "own" << true << false << wrongPassword << "LOGIN squad refused" << false;
        QTest::newRow("wrong password, keyboard-interactive")
            << "Wr0ngPassw0rd"
            << "own" << true << false << wrongPassword << "LOGIN squad refused" << true;
        QTest::newRow("unknown key, No")
            << "secret"
            << "" << false << true << "was not trusted: Troopbook did not log in"
            << "" << false;
        QTest::newRow("changed key")
            << "secret"
            << "other" << true << false << "differs from the one recorded in"
            << "" << false;
    }
    void refusedBeforeSending() {
        QFETCH(QString, password);
        QFETCH(QString, knownKey);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        QFETCH(QString, message);
        QFETCH(QString, login);
        QFETCH(bool, keyboardInteractive);
        SftpServer server({.keyboardInteractive = keyboardInteractive});
        QVERIFY(server.isRunning());
        QByteArray recorded;
        if (knownKey == "own") {
            recorded = server.knownHostsLine().toLatin1();
        } else if (knownKey == "other") {
            SftpServer other;
            QVERIFY(other.isRunning());
            recorded = QStringLiteral("[127.0.0.1]:%1 %2\n")
                           .arg(server.port())
                           .arg(other.publicKey())
                           .toLatin1();
        }
        if (!recorded.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(m_knownHosts).path()));
            QVERIFY(testftp::writeFile(m_knownHosts, recorded));
        }
        UploadRequest r = request(server, QString());
        r.password = password;
        const Run run = uploadTo(r, answer);
        QCOMPARE(run.outcome.messages.size(), 1);
        const QString text = run.outcome.messages[0].text;
        QVERIFY2(text.contains(message), qPrintable(text));
        QVERIFY(!text.contains(password));
        QCOMPARE(run.outcome.messages[0].severity, UploadMessage::Failure);
        QCOMPARE(run.questions.size(), asked ? 1 : 0);
        QCOMPARE(server.operations().filter("LOGIN"),
                 login.isEmpty() ? QStringList() : QStringList{login});
        QVERIFY(entries(server.root()).isEmpty());
        QCOMPARE(testftp::readAll(m_knownHosts), recorded);
        QCOMPARE(run.states.last(), int(RemoteError));
        if (knownKey == "other")
            QVERIFY2(text.contains(server.fingerprint()), qPrintable(text));
    }

    void unknownKeyTrustedOnceIsRecorded() {
        SftpServer server;
        QVERIFY(server.isRunning());
        Run run = uploadTo(request(server, QString()), true);
        QCOMPARE(messageTexts(run.outcome), QStringList());
        QCOMPARE(run.questions.size(), 1);
        QVERIFY2(run.questions[0].contains("Key type: ssh-ed25519\r\nFingerprint: " +
                                           server.fingerprint()),
                 qPrintable(run.questions[0]));
        QVERIFY(testftp::readAll(m_knownHosts)
                    .contains(QString("[127.0.0.1]:%1 ").arg(server.port()).toLatin1()));
        verifyStored(server.root(), allFour);

        run = uploadTo(request(server, QString()), false);
        QCOMPARE(messageTexts(run.outcome), QStringList());
        QVERIFY(run.questions.isEmpty());
    }

    // Host keys follow $HOME, not the password database's home: a CI job sets HOME to a folder
    // that holds its known hosts.
    void knownHostsFollowHome_data() {
        QTest::addColumn<bool>("recorded");
        QTest::newRow("recorded there") << true;
        QTest::newRow("trusted and recorded there") << false;
    }
    void knownHostsFollowHome() {
        QFETCH(bool, recorded);
        SftpServer server;
        QVERIFY(server.isRunning());
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        const auto restore = qScopeGuard([&] { qputenv("HOME", oldHome); });
        const QString knownHosts = home.filePath(".ssh/known_hosts");
        if (recorded) {
            QVERIFY(QDir().mkpath(home.filePath(".ssh")));
            QVERIFY(testftp::writeFile(knownHosts, server.knownHostsLine().toLatin1()));
        }
        const Run run = uploadTo(request(server, QString()), true, [](SftpSession &session) {
            session.setKnownHostsFile(QString());
        });
        QCOMPARE(messageTexts(run.outcome), QStringList());
        QCOMPARE(run.questions.size(), recorded ? 0 : 1);
        QVERIFY(testftp::readAll(knownHosts)
                    .contains(QString("[127.0.0.1]:%1 ").arg(server.port()).toLatin1()));
        verifyStored(server.root(), allFour);
    }

    void squadFileThatIsNoOrdinaryFileIsListed() {
        SftpServer server;
        QVERIFY(server.isRunning());
        trust(server);
        QTemporaryDir local;
        QVERIFY(::mkfifo(QFile::encodeName(local.filePath("squad.xml")).constData(), 0600) == 0);
        QVERIFY(testftp::writeFile(local.filePath("squad.dtd"), m_local.bytes("squad.dtd")));
        UploadRequest r = request(server, QString());
        r.localDirectory = local.path();
        const Run run = uploadTo(r);
        QCOMPARE(messageTexts(run.outcome),
                 QStringList{"These files were not stored on the server:\r\nsquad.xml: it is a "
                             "FIFO, not an ordinary file, and was not sent\r\n" +
                             r.pictureName +
                             ": the picture is not in the local directory, so it was not sent"});
        verifyStored(server.root(), {"squad.dtd"});
    }

    void nothingListening() {
        UploadRequest r;
        r.host = QStringLiteral("sftp://127.0.0.1:%1").arg(testftp::freePort());
        r.localDirectory = localDirectory();
        const Run run = uploadTo(r);
        QCOMPARE(run.outcome.messages.size(), 1);
        QVERIFY2(run.outcome.messages[0].text.startsWith("The SFTP server 127.0.0.1:"),
                 qPrintable(run.outcome.messages[0].text));
        QVERIFY(run.outcome.messages[0].text.contains("could not be reached (Connection refused)"));
        QVERIFY(run.questions.isEmpty());
    }

    void hostNamesAreLookedUpByTheSessionsOwnLookup_data() {
        QTest::addColumn<QStringList>("addresses"); // "stall": no answer
        QTest::addColumn<QString>("message");       // empty: all four files stored
        QTest::newRow("one address") << QStringList{"127.0.0.1"} << "";
        QTest::newRow("unreachable address first") << QStringList{"::1", "127.0.0.1"} << "";
        QTest::newRow("no address")
            << QStringList{} << "The SFTP server \"sftp.troopbook.invalid\" was not found.";
        QTest::newRow("no answer") << QStringList{"stall"}
                                   << "The name of the SFTP server \"sftp.troopbook.invalid\" "
                                      "could not be looked up within 1 second.";
    }
    void hostNamesAreLookedUpByTheSessionsOwnLookup() {
        QFETCH(QStringList, addresses);
        QFETCH(QString, message);
        SftpServer server;
        QVERIFY(server.isRunning());
        UploadRequest r = request(server, QString());
        // A name no name server knows: only the session's own lookup can make it reachable.
        r.host = QStringLiteral("sftp://sftp.troopbook.invalid:%1").arg(server.port());
        testftp::StalledLookup stalled;
        const auto asked = std::make_shared<QStringList>();
        const Run run = uploadTo(r, true, [&](SftpSession &session) {
            if (addresses == QStringList{"stall"}) {
                session.setTimeout(1s);
                session.setNameLookup(stalled.function());
                return;
            }
            session.setNameLookup([asked, addresses](const QString &host, QString *error) {
                *asked << host;
                *error = "Name or service not known";
                return addresses;
            });
        });
        QCOMPARE(messageTexts(run.outcome),
                 message.isEmpty() ? QStringList() : QStringList{message});
        if (message.isEmpty()) {
            QCOMPARE(*asked, QStringList{"sftp.troopbook.invalid"});
            verifyStored(server.root(), allFour);
            // The key is recorded under the name typed, as ssh records it.
            QVERIFY(testftp::readAll(m_knownHosts)
                        .startsWith(
                            QString("[sftp.troopbook.invalid]:%1 ").arg(server.port()).toLatin1()));
        } else {
            QVERIFY(server.operations().isEmpty());
        }
    }

    void serverWithoutAtomicRename_data() {
        QTest::addColumn<bool>("oldFiles");
        QTest::addColumn<bool>("offered"); // posix-rename offered, then answered as unsupported
        QTest::newRow("new files") << false << false;
        QTest::newRow("over old files") << true << false;
        QTest::newRow("offered but unsupported, over old files") << true << true;
    }
    void serverWithoutAtomicRename() {
        QFETCH(bool, oldFiles);
        QFETCH(bool, offered);
        SftpServer server({.noPosixRename = !offered, .refusePosixRename = offered});
        QVERIFY(server.isRunning());
        trust(server);
        if (oldFiles) {
            for (const QString &name : allFour)
                QVERIFY(testftp::writeFile(server.root() + u'/' + name, "old"));
        }
        const Run run = uploadTo(request(server, QString()));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root(), allFour);
        const QStringList operations = server.operations();
        QCOMPARE(operations.filter("POSIX-RENAME").size(), offered ? 4 : 0);
        // The old file goes just before the new one takes its name, never earlier.
        const QStringList removes = operations.filter("REMOVE");
        QCOMPARE(removes.size(), oldFiles ? 4 : 0);
        for (const QString &remove : removes) {
            const qsizetype at = operations.indexOf(remove);
            QVERIFY(operations.value(at - 1).startsWith("RENAME"));
            QVERIFY(operations.value(at + 1).startsWith("RENAME"));
            QCOMPARE(operations[at + 1].section(u' ', 2), remove.section(u' ', 1));
        }
        QCOMPARE(run.notices,
                 oldFiles ? QStringList(4, SftpSession::notAtomicNotice) : QStringList());
    }

    // A server that drops the connection or stalls in the middle of a file: what the user
    // reads, and a second, short connection that removes the temporary copy.
    void serverDroppingTheConnectionLeavesTheOldFile_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("timeoutSeconds");
        QTest::addColumn<QString>("message");
        QTest::newRow("while writing")
            << "drop-in-write" << 20
            << "The connection to the server was lost while sending logo.paa; the file on the "
               "server was left as it was";
        QTest::newRow("while renaming")
            << "drop-in-rename" << 20
            << "while logo.paa was taking the old file's place; the server holds either the old "
               "file or the new one, whole.";
        QTest::newRow("stalling while writing")
            << "stall-in-write" << 1
            << "The server did not answer within 1 second while sending logo.paa";
    }
    void serverDroppingTheConnectionLeavesTheOldFile() {
        QFETCH(QString, fault);
        QFETCH(int, timeoutSeconds);
        QFETCH(QString, message);
        SftpServer server({.fault = fault});
        QVERIFY(server.isRunning());
        trust(server);
        QVERIFY(testftp::writeFile(server.root() + "/logo.paa", "old picture"));
        UploadRequest r = request(server, QString());
        r.squadFile = "logo.paa";
        QElapsedTimer clock;
        clock.start();
        const Run run = uploadTo(r, true, [&](SftpSession &session) {
            session.setTimeout(std::chrono::seconds(timeoutSeconds));
        });
        QVERIFY(clock.elapsed() < 15000);
        QCOMPARE(run.outcome.messages.size(), 1);
        const QString text = run.outcome.messages[0].text;
        QVERIFY2(text.contains(message), qPrintable(text));
        QVERIFY2(!text.contains("temporary copy"), qPrintable(text));
        QVERIFY(run.outcome.stored.isEmpty());
        QCOMPARE(entries(server.root()), QStringList{"logo.paa"});
        QCOMPARE(testftp::readAll(server.root() + "/logo.paa"), QByteArray("old picture"));
        // A second, short connection removed the temporary copy.
        const QStringList operations = server.operations();
        QCOMPARE(operations.filter("FAULT").size(), 1);
        QCOMPARE(operations.filter("LOGIN squad ok").size(), 2);
        QCOMPARE(operations.filter("REMOVE").size(), 1);
        QCOMPARE(operations.filter("REMOVE")[0].section(u' ', 1),
                 operations.filter("OPEN")[0].section(u' ', 1));
    }

    void noSocketIsLeftOpen_data() {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("fault");
        QTest::newRow("stored") << ""
                                << "secret"
                                << "";
        QTest::newRow("directory missing") << "/nosuch"
                                           << "secret"
                                           << "";
        QTest::newRow("wrong password") << ""
                                        << "Wr0ngPassw0rd"
                                        << "";
        // A second connection removes the temporary copy.
        QTest::newRow("dropped while writing") << ""
                                               << "secret"
                                               << "drop-in-write";
    }
    void noSocketIsLeftOpen() {
        QFETCH(QString, remote);
        QFETCH(QString, password);
        QFETCH(QString, fault);
        SftpServer server({.fault = fault});
        QVERIFY(server.isRunning());
        trust(server);
        UploadRequest r = request(server, remote);
        r.password = password;
        const int before = openSockets();
        const Run run = uploadTo(r);
        QCOMPARE(run.outcome.messages.isEmpty(),
                 remote.isEmpty() && fault.isEmpty() && password == "secret");
        QCOMPARE(openSockets(), before);
    }

    void cancelDuringATransferEndsPromptly() {
        SftpServer server({.fault = "stall-in-write"});
        QVERIFY(server.isRunning());
        trust(server);
        QVERIFY(testftp::writeFile(server.root() + "/squad.xml", "old squad"));
        const UploadRequest r = request(server, QString());
        SftpSession session(*ServerAddress::parse(r.host, nullptr), r.user, r.password);
        configure(session);
        UploadOutcome outcome;
        std::thread worker([&] { outcome = runUpload(r, session); });
        QTRY_VERIFY_WITH_TIMEOUT(server.operations().contains("FAULT stall-in-write"), 15000);
        QElapsedTimer clock;
        clock.start();
        session.cancel();
        worker.join();
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(outcome.cancelled);
        QVERIFY(outcome.messages.isEmpty());
        QCOMPARE(testftp::readAll(server.root() + "/squad.xml"), QByteArray("old squad"));
    }

    void cancelWakesAWorkerWaitingForTheHostKeyAnswer() {
        SftpServer server;
        QVERIFY(server.isRunning());
        auto session = std::make_unique<SftpSession>(
            *ServerAddress::parse(server.address(), nullptr), "squad", "secret");
        configure(*session);
        UploadWorker worker(request(server, QString()), std::move(session));
        QSignalSpy question(&worker, &UploadWorker::hostKeyQuestion);
        worker.start();
        QVERIFY(question.wait(15000));
        QVERIFY(!worker.wait(200)); // waits for the answer
        QElapsedTimer clock;
        clock.start();
        worker.cancel();
        QVERIFY(worker.wait(5000));
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(worker.outcome().cancelled);
        QVERIFY(worker.outcome().messages.isEmpty());
        QVERIFY(server.operations().filter("LOGIN").isEmpty());
        QVERIFY(!QFile::exists(m_knownHosts));
    }

    // Through the window: the question is asked by the GUI thread, and the status line keeps
    // saying that the replacement was not atomic.
    void uploadWindowAsksAndReports() {
        SftpServer server({.noPosixRename = true});
        QVERIFY(server.isRunning());
        QVERIFY(testftp::writeFile(server.root() + "/squad.xml", "old"));
        ui::CommonDialog cdb;
        UploadWindow window(cdb, [] { return QStringLiteral("logo.paa"); });
        window.setSessionOptions(options());
        window.findChild<QLineEdit *>("ftphost")->setText(server.address());
        window.findChild<QLineEdit *>("ftpuser")->setText("squad");
        window.findChild<QLineEdit *>("ftppass")->setText("secret");
        ui::CommonDialog::setNextPath(m_local.filePath("squad.xml"));
        QTest::mouseClick(window.findChild<QLineEdit *>("locdir"), Qt::LeftButton);
        QTRY_COMPARE(window.locfile(), QString("squad.xml"));
        ui::CommonDialog::takeUses();
        window.show();

        MessageBox::setNextAnswer(MessageBox::Yes);
        QSignalSpy finished(&window, &UploadWindow::uploadFinished);
        window.findChild<QPushButton *>("Command1")->click();
        QVERIFY(finished.wait(30000));
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].style,
                 MessageBox::YesNo | MessageBox::Question | MessageBox::DefaultButton2);
        QVERIFY(shown[0].text.contains(server.fingerprint()));
        verifyStored(server.root(), allFour);
        QLineEdit *status = window.findChild<QLineEdit *>("Status");
        QCOMPARE(status->text(), SftpSession::notAtomicNotice);
        QVERIFY(status->toolTip().contains("removed just before"));
        const QString picture = qEnvironmentVariable("TROOPBOOK_SHOT_DIR");
        if (!picture.isEmpty())
            window.grab().save(picture + "/upload-sftp-not-atomic.png");
    }

    // Closing the window or Exit returns at once whatever the run waits for, leaves no worker
    // behind for long, shows nothing and records no host key. Kept last: after an Exit has ended
    // the application's event loop, a later window's run here never reported its end.
    void closingOrExitReturnsAtOnceInEveryPhase_data() {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<bool>("viaExit");
        for (const bool viaExit : {false, true}) {
            const char *how = viaExit ? "exit" : "close";
            for (const char *phase : {"lookup", "connect", "greeting", "host key", "transfer"})
                QTest::addRow("%s in %s", how, phase) << QString(phase) << viaExit;
        }
    }
    void closingOrExitReturnsAtOnceInEveryPhase() {
        QFETCH(QString, phase);
        QFETCH(bool, viaExit);
        testftp::EndingUpload run(phase, [] { return QString(); });
        QVERIFY(run.silent.isRunning());
        std::optional<SftpServer> server;
        QString host = "sftp://" + run.silent.address();
        if (phase == "lookup") {
            host = "sftp://sftp.troopbook.invalid";
        } else if (phase == "host key" || phase == "transfer") {
            server.emplace(SftpOptions{.fault = phase == "transfer" ? "stall-in-write" : ""});
            QVERIFY(server->isRunning());
            if (phase == "transfer")
                trust(*server);
            host = server->address();
        }
        const QPointer<UploadWindow> &window = run.window;
        SessionOptions setup = options();
        setup.nameLookup = run.lookup.function();
        window->setSessionOptions(setup);
        window->findChild<QLineEdit *>("ftphost")->setText(host);
        window->findChild<QLineEdit *>("ftpuser")->setText("squad");
        window->findChild<QLineEdit *>("ftppass")->setText("secret");
        window->findChild<QLineEdit *>("locdir")->setText(localDirectory());
        window->show();
        window->findChild<QPushButton *>("Command1")->click();

        if (phase == "host key") {
            // The question's box runs an event loop of its own: the window is closed, or the
            // program ended, from inside it, as the user's Exit would.
            QTimer poll;
            connect(&poll, &QTimer::timeout, this, [&] {
                if (qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                    poll.stop();
                    run.end(viaExit);
                }
            });
            poll.start(20);
            if (viaExit) {
                QCoreApplication::exec();
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(!poll.isActive(), 15000);
            }
            QVERIFY(!poll.isActive());
        } else {
            if (phase == "lookup")
                QTRY_VERIFY_WITH_TIMEOUT(run.lookup.isEntered(), 10000);
            else if (phase == "transfer")
                QTRY_VERIFY_WITH_TIMEOUT(server->operations().contains("FAULT stall-in-write"),
                                         15000);
            else
                QTRY_COMPARE_WITH_TIMEOUT(
                    window->findChild<QLineEdit *>("Status")->text(),
                    QString(phase == "connect" ? "Connecting" : "Sending Request"), 10000);
            QTest::qWait(50);
            QVERIFY(window->isUploading());
            run.endFromOutside(viaExit);
        }
        QVERIFY(run.sinceEnd.elapsed() < 5000);
        QTRY_VERIFY(window.isNull());
        // The worker left behind ends by itself, long before the stall or the time-out would.
        QTRY_VERIFY_WITH_TIMEOUT(run.noWorkerLeft(), 5000);
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), phase == "host key" ? 1 : 0);
        QVERIFY(!QFile::exists(m_knownHosts) || phase == "transfer");
        if (server)
            QVERIFY(server->operations().filter("LOGIN").size() == (phase == "transfer" ? 1 : 0));
    }
};

QTEST_MAIN(TestSftpUpload)
#include "tst_sftpupload.moc"
