// Uploads to a real FTP server on loopback: what lands on the server, which commands it saw,
// and what the user is told when something goes wrong.
#include "localsquad.h"
#include "upload/ftpsession.h"
#include "upload/uploadsequence.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <memory>
#include <optional>

using namespace upload;
using namespace std::chrono_literals;
using testftp::messageTexts;
using testftp::PyFtpServer;

namespace {

struct Run {
    UploadOutcome outcome;
    QList<int> states;
    QStringList notices;
};

const QStringList allFour{"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"};

// Every file of a directory, hidden ones included: a temporary copy left behind shows here.
QStringList entries(const QString &directory) {
    return QDir(directory).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

Run uploadTo(const UploadRequest &request, std::chrono::milliseconds timeout = 20s,
             NameLookup::Function lookup = {}) {
    Run run;
    FtpSession session(*ServerAddress::parse(request.host, nullptr), request.user,
                       request.password);
    session.setTimeout(timeout);
    if (lookup)
        session.setNameLookup(std::move(lookup));
    session.setStateHandler([&run](int state) { run.states << state; });
    session.setNoticeHandler([&run](const QString &notice) { run.notices << notice; });
    run.outcome = runUpload(request, session);
    return run;
}

} // namespace

class TestFtpUpload : public QObject {
    Q_OBJECT

    const testftp::LocalSquad m_local{200000};

    QString localDirectory() const { return m_local.directory(); }

    UploadRequest request(const QString &host, const QString &remote) const {
        return m_local.request(host, remote);
    }
    UploadRequest request(const PyFtpServer &server, const QString &remote) const {
        return request(server.address(), remote);
    }

    void verifyStored(const QString &serverDirectory, const QStringList &names) {
        for (const QString &name : names)
            QCOMPARE(testftp::readAll(serverDirectory + u'/' + name), m_local.bytes(name));
        QCOMPARE(QDir(serverDirectory).entryList(QDir::Files).size(), names.size());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_local.isValid()); }

    void allFourFilesIntoTheSquadDirectory_data() {
        QTest::addColumn<QString>("remote");
        QTest::newRow("squad") << "squad";
        QTest::newRow("/squad") << "/squad";
    }
    void allFourFilesIntoTheSquadDirectory() {
        QFETCH(QString, remote);
        PyFtpServer server;
        QVERIFY(server.isRunning());
        QVERIFY(QDir(server.root()).mkdir("squad"));
        const Run run = uploadTo(request(server, remote));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root() + "/squad", {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"});
        // Login (libcurl asks PWD as part of it), CWD, PWD, TYPE once, then for each file one
        // passive-mode command, a STOR under a hidden name of its own, SIZE to check what
        // arrived and the rename over the target; QUIT: nothing more.
        QStringList expected{"USER squad", "PASS ******", "PWD", "CWD " + remote, "PWD"};
        for (const QString name : {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"}) {
            const QString temporary = "/squad/." + name + ".troopbook-";
            expected << "EPSV";
            if (name == "squad.xml")
                expected << "TYPE I";
            expected << "STOR " + temporary << "SIZE " + temporary << "RNFR " + temporary
                     << "RNTO /squad/" + name;
        }
        expected << "QUIT";
        const QStringList commands = server.commands();
        // The temporary names end in a tag of eight hexadecimal digits, one for each file.
        QStringList seen = commands;
        const QRegularExpression tag("(\\.troopbook-)[0-9a-f]{8}$");
        for (QString &command : seen)
            command.replace(tag, "\\1");
        QCOMPARE(seen, expected);
        for (qsizetype i = 0; i < commands.size(); ++i) {
            if (commands[i].startsWith("STOR ")) {
                QCOMPARE(commands[i + 1].mid(5), commands[i].mid(5));
                QCOMPARE(commands[i + 2].mid(5), commands[i].mid(5));
            }
        }
        QCOMPARE(run.states.first(), int(ResolvingHost));
        QCOMPARE(run.states.last(), int(Disconnected));
        for (int state : {HostResolved, Connecting, Connected, SendingRequest, RequestSent,
                          ReceivingResponse, ResponseReceived, ResponseCompleted, Disconnecting})
            QVERIFY2(run.states.contains(state), qPrintable(stateText(state)));
        QVERIFY(!run.states.contains(RemoteError));
    }

    void emptyRemoteDirectoryStoresAtTheRoot() {
        PyFtpServer server;
        QVERIFY(server.isRunning());
        const Run run = uploadTo(request(server, QString()));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root(), {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"});
        const QStringList commands = server.commands();
        QVERIFY(!commands.join(u',').contains("CWD"));
        QVERIFY(commands.contains("RNTO //squad.xml"));
        QCOMPARE(commands.last(), QString("QUIT"));
    }

    void missingDirectorySendsNothingAndStillQuits() {
        PyFtpServer server;
        QVERIFY(server.isRunning());
        const Run run = uploadTo(request(server, "squad"));
        QCOMPARE(
            messageTexts(run.outcome),
            QStringList{"Connection accomplished,\r\nbut the remote directory doesn't exist."});
        QCOMPARE(run.outcome.messages[0].severity, UploadMessage::Failure);
        QVERIFY(QDir(server.root()).entryList(QDir::Files).isEmpty());
        const QStringList commands = server.commands();
        QCOMPARE(commands.mid(3), (QStringList{"CWD squad", "PWD", "QUIT"}));
        QVERIFY(run.states.contains(RemoteError));
    }

    void loginDirectoryOtherThanTheRoot() {
        PyFtpServer server({.home = "clan"});
        QVERIFY(server.isRunning());
        QVERIFY(QDir(server.root()).mkpath("clan/squad"));
        // Given relative to the login directory, the server names it /clan/squad.
        Run run = uploadTo(request(server, "squad"));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root() + "/clan/squad",
                     {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"});

        QVERIFY(QDir(server.root()).mkpath("clan/other"));
        run = uploadTo(request(server, "/clan/other"));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root() + "/clan/other",
                     {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"});

        // Missing below the login directory: the session stays in /clan.
        run = uploadTo(request(server, "missing"));
        QCOMPARE(
            messageTexts(run.outcome),
            QStringList{"Connection accomplished,\r\nbut the remote directory doesn't exist."});

        // No directory given: the files go where the login put the session.
        run = uploadTo(request(server, QString()));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root() + "/clan", {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"});
    }

    void proxiesInTheEnvironmentAreNotUsed() {
        PyFtpServer server;
        QVERIFY(server.isRunning());
        const QByteArray nowhere = "http://127.0.0.1:" + QByteArray::number(testftp::freePort());
        const char *const names[] = {"ftp_proxy", "all_proxy", "ALL_PROXY"};
        for (const char *name : names)
            qputenv(name, nowhere);
        const auto unset = qScopeGuard([&] {
            for (const char *name : names)
                qunsetenv(name);
        });
        const Run run = uploadTo(request(server, QString()));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root(), {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"});
    }

    // The missing squad.dtd goes without a word; the picture the squad names is listed.
    void missingCompanionIsSkippedMissingPictureListed() {
        QTemporaryDir local;
        QVERIFY(testftp::writeFile(local.filePath("squad.xml"), m_local.bytes("squad.xml")));
        QVERIFY(testftp::writeFile(local.filePath("squad.xsl"), m_local.bytes("squad.xsl")));
        PyFtpServer server;
        QVERIFY(server.isRunning());
        UploadRequest r = request(server, QString());
        r.localDirectory = local.path() + u'/';
        Run run = uploadTo(r);
        QCOMPARE(messageTexts(run.outcome),
                 QStringList{"These files were not stored on the server:\r\n" + r.pictureName +
                             ": the picture is not in the local directory, so it was not sent"});
        verifyStored(server.root(), {"squad.xml", "squad.xsl"});
        QCOMPARE(server.commands().filter("STOR").size(), 2);

        r.pictureName.clear();
        r.localDirectory = localDirectory();
        QVERIFY(QDir(server.root()).mkdir("b"));
        r.remoteDirectory = "b";
        run = uploadTo(r);
        verifyStored(server.root() + "/b", {"squad.xml", "squad.dtd", "squad.xsl"});
    }

    void squadFileGoneSinceThePickIsListed() {
        PyFtpServer server;
        QVERIFY(server.isRunning());
        UploadRequest r = request(server, QString());
        r.squadFile = "gone.xml";
        const Run run = uploadTo(r);
        QCOMPARE(run.outcome.messages.size(), 1);
        QVERIFY2(run.outcome.messages[0].text.contains("gone.xml: the local file cannot be read"),
                 qPrintable(run.outcome.messages[0].text));
        verifyStored(server.root(), {"squad.dtd", "squad.xsl", "logo.paa"});
        QCOMPARE(server.commands().last(), QString("QUIT"));
    }

    void blanksInFolderAndFileNames() {
        QTemporaryDir local;
        const QString folder = local.path() + "/my clan files/";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(testftp::writeFile(folder + "our squad.xml", m_local.bytes("squad.xml")));
        QVERIFY(testftp::writeFile(folder + "squad.dtd", m_local.bytes("squad.dtd")));
        QVERIFY(testftp::writeFile(folder + "clan logo.paa", m_local.bytes("logo.paa")));
        PyFtpServer server;
        QVERIFY(server.isRunning());
        QVERIFY(QDir(server.root()).mkdir("the squad"));
        UploadRequest r = request(server, "the squad");
        r.localDirectory = folder;
        r.squadFile = "our squad.xml";
        r.pictureName = "clan logo.paa";
        const Run run = uploadTo(r);
        QCOMPARE(messageTexts(run.outcome), QStringList());
        const QString remote = server.root() + "/the squad/";
        QCOMPARE(testftp::readAll(remote + "our squad.xml"), m_local.bytes("squad.xml"));
        QCOMPARE(testftp::readAll(remote + "squad.dtd"), m_local.bytes("squad.dtd"));
        QCOMPARE(testftp::readAll(remote + "clan logo.paa"), m_local.bytes("logo.paa"));
        QVERIFY(server.commands().contains("RNTO /the squad/clan logo.paa"));
    }

    void unreachableOrMisspokenServers_data() {
        QTest::addColumn<QString>("server"); // none, unreachable, silent or plain
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing listening") << "none"
                                           << ""
                                           << "The FTP server could not be reached (";
        QTest::newRow("no connection")
            << "unreachable"
            << ""
            << "The FTP-Host \"127.0.0.1\" could not be reached within 1 second.";
        QTest::newRow("no greeting")
            << "silent"
            << ""
            << "The FTP-Host \"127.0.0.1\" could not be reached within 1 second.";
        QTest::newRow("no TLS handshake")
            << "silent"
            << "ftps://"
            << "The FTP-Host \"127.0.0.1\" could not be reached within 1 second.";
        QTest::newRow("no greeting for ftpes://")
            << "silent"
            << "ftpes://"
            << "The FTP-Host \"127.0.0.1\" could not be reached within 1 second.";
        QTest::newRow("ftps:// to plain FTP") << "plain"
                                              << "ftps://"
                                              << "The server did not start TLS at once, as "
                                                 "ftps:// expects (";
    }
    void unreachableOrMisspokenServers() {
        QFETCH(QString, server);
        QFETCH(QString, scheme);
        QFETCH(QString, message);
        testftp::SilentServer silent(server == "unreachable");
        std::optional<PyFtpServer> plain;
        UploadRequest r = request(QString(), QString());
        if (server == "none") {
            r.host = QStringLiteral("127.0.0.1:%1").arg(testftp::freePort());
        } else if (server == "silent" || server == "unreachable") {
            QVERIFY(silent.isRunning());
            r.host = scheme + silent.address();
        } else {
            plain.emplace();
            QVERIFY(plain->isRunning());
            r.host = scheme + plain->address();
        }
        const Run run = uploadTo(r, 1s);
        QCOMPARE(run.outcome.messages.size(), 1);
        const QString text = run.outcome.messages[0].text;
        QVERIFY2(text.startsWith(message), qPrintable(text));
        if (scheme == "ftps://" && server == "plain")
            QVERIFY(text.contains("ftpes:// may be meant"));
        QVERIFY(run.outcome.stored.isEmpty());
        if (plain)
            QCOMPARE(plain->commands(), QStringList());
    }

    void passiveModeFallsBackFromEpsvToPasv() {
        PyFtpServer server({.fault = "no-epsv"});
        QVERIFY(server.isRunning());
        const Run run = uploadTo(request(server, QString()));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root(), {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"});
        const QStringList commands = server.commands();
        QCOMPARE(commands.filter("EPSV").size(), 1);
        QCOMPARE(commands.filter("PASV").size(), 4);
    }

    // A server that refuses, hangs up or stalls: what the user reads (never the password), which
    // commands the server saw and that nothing counts as stored that was not.
    void serverFaults_data() {
        QTest::addColumn<QString>("fault"); // the test server's --fault, or "read-only"
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("squadFile");
        QTest::addColumn<int>("timeoutSeconds");
        QTest::addColumn<QString>("message"); // how the one message starts
        QTest::addColumn<QStringList>("mentions");
        QTest::addColumn<QStringList>("firstCommands");
        QTest::addColumn<int>("stores"); // STOR commands seen
        QTest::addColumn<bool>("quits");
        QTest::newRow("wrong password")
            << ""
            << "Wr0ngPassw0rd"
            << "squad.xml" << 20 << "The server refused the login: 530" << QStringList{}
            << QStringList{"USER squad", "PASS ******"} << 0 << false;
        QTest::newRow("read-only account lists every file")
            << "read-only"
            << "secret"
            << "squad.xml" << 20 << "These files were not stored on the server:"
            << QStringList{"squad.xml: 550", "squad.dtd: 550", "squad.xsl: 550", "logo.paa: 550"}
            << QStringList{} << 4 << true;
        // The picture is big enough to be cut off part-way.
        QTest::newRow("hanging up during a transfer")
            << "close-in-stor"
            << "secret"
            << "logo.paa" << 20 << "The connection to the server was lost" << QStringList{}
            << QStringList{} << 1 << false;
        QTest::newRow("stalling") << "stall-pwd"
                                  << "secret"
                                  << "squad.xml" << 1 << "The server did not answer within 1 "
                                  << QStringList{} << QStringList{} << 0 << false;
    }
    void serverFaults() {
        QFETCH(QString, fault);
        QFETCH(QString, password);
        QFETCH(QString, squadFile);
        QFETCH(int, timeoutSeconds);
        QFETCH(QString, message);
        QFETCH(QStringList, mentions);
        QFETCH(QStringList, firstCommands);
        QFETCH(int, stores);
        QFETCH(bool, quits);
        const bool readOnly = fault == "read-only";
        PyFtpServer server({.readOnly = readOnly, .fault = readOnly ? QString() : fault});
        QVERIFY(server.isRunning());
        QVERIFY(QDir(server.root()).mkdir("squad"));
        UploadRequest r = request(server, "squad");
        r.password = password;
        r.squadFile = squadFile;
        QElapsedTimer clock;
        clock.start();
        const Run run = uploadTo(r, std::chrono::seconds(timeoutSeconds));
        QVERIFY(clock.elapsed() < 15000);
        QCOMPARE(run.outcome.messages.size(), 1);
        const QString text = run.outcome.messages[0].text;
        QVERIFY2(text.startsWith(message), qPrintable(text));
        for (const QString &mention : mentions)
            QVERIFY2(text.contains(mention), qPrintable(text));
        QVERIFY(!text.contains("Wr0ngPassw0rd"));
        QCOMPARE(run.outcome.messages[0].severity, UploadMessage::Failure);
        QVERIFY(run.outcome.stored.isEmpty());
        // A transfer cut off part-way may leave its part; the server's business.
        if (fault != "close-in-stor")
            QVERIFY(QDir(server.root() + "/squad").entryList(QDir::Files).isEmpty());
        const QStringList commands = server.commands();
        QCOMPARE(commands.mid(0, firstCommands.size()), firstCommands);
        QCOMPARE(commands.filter("STOR").size(), stores);
        QCOMPARE(commands.contains("QUIT"), quits);
        if (quits)
            QCOMPARE(commands.last(), QString("QUIT"));
        QVERIFY(run.states.contains(RemoteError));
        if (password != "secret") {
            // The login failed before anything else was asked.
            QVERIFY(!commands.join(u',').contains("CWD"));
            QCOMPARE(run.states.last(), int(RemoteError));
        }
    }

    // Servers that keep less than they were sent, hang up, rename nothing or not over an
    // existing file, or never answer the goodbye: the server holds each file old or new, whole,
    // no temporary copy is left, and the user reads which is which.
    void misbehavingServersLeaveTheOldFileOrTheNew_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("oldFiles");
        QTest::addColumn<QStringList>("stored"); // the files the server holds new
        QTest::addColumn<QStringList>("mentions");
        QTest::addColumn<QStringList>("notices");
        QTest::addColumn<int>("logins");
        const QStringList none;
        const QString cutShort = ": the server kept 10 bytes of the ";
        QTest::newRow("keeps part and answers 226, over old files")
            << "keep-part" << true << none
            << QStringList{"squad.xml" + cutShort, "logo.paa" + cutShort} << none << 1;
        QTest::newRow("keeps part and answers 226, new files")
            << "keep-part" << false << none << QStringList{"squad.dtd" + cutShort} << none << 1;
        // A second, short login removes the copy the first connection left.
        QTest::newRow("hangs up mid-file")
            << "close-in-stor" << true << none
            << QStringList{"lost while sending squad.xml; the file on the server was left as it "
                           "was.",
                           "No file was stored.\r\nNot stored: squad.xml, squad.dtd, squad.xsl, "
                           "logo.paa"}
            << none << 2;
        QTest::newRow("hangs up once the first file took its name")
            << "close-after-rename" << true << QStringList{"squad.xml"}
            << QStringList{"The connection to the server was lost",
                           "Stored: squad.xml\r\nNot stored: squad.dtd, squad.xsl, logo.paa"}
            << none << 2;
        QTest::newRow("no rename over an existing file")
            << "no-rename-over" << true << allFour << none
            << QStringList(4, FtpSession::notAtomicNotice) << 1;
        QTest::newRow("no rename over an existing file, new files")
            << "no-rename-over" << false << allFour << none << none << 1;
        QTest::newRow("no rename at all") << "no-rename" << true << allFour << none
                                          << QStringList(4, FtpSession::inPlaceNotice) << 1;
        QTest::newRow("no SIZE") << "no-size" << true << allFour << none << none << 1;
        QTest::newRow("QUIT never answered")
            << "ignore-quit" << true << allFour << none << none << 1;
    }
    void misbehavingServersLeaveTheOldFileOrTheNew() {
        QFETCH(QString, fault);
        QFETCH(bool, oldFiles);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, mentions);
        QFETCH(QStringList, notices);
        QFETCH(int, logins);
        PyFtpServer server({.fault = fault});
        QVERIFY(server.isRunning());
        const QString directory = server.root() + "/squad";
        QVERIFY(QDir().mkpath(directory));
        for (const QString &name : oldFiles ? allFour : QStringList())
            QVERIFY(testftp::writeFile(directory + u'/' + name, "old " + name.toUtf8()));
        QElapsedTimer clock;
        clock.start();
        const Run run = uploadTo(request(server, "squad"));
        // Far below the time-out, which a goodbye never answered would take.
        QVERIFY(clock.elapsed() < 10000);
        const QString text = messageTexts(run.outcome).join(u'\n');
        QCOMPARE(text.isEmpty(), mentions.isEmpty());
        for (const QString &mention : mentions)
            QVERIFY2(text.contains(mention), qPrintable(text));
        QVERIFY2(!text.contains("errno"), qPrintable(text));
        for (const QString &name : allFour) {
            const QString path = directory + u'/' + name;
            if (stored.contains(name))
                QCOMPARE(testftp::readAll(path), m_local.bytes(name));
            else if (oldFiles)
                QCOMPARE(testftp::readAll(path), "old " + name.toUtf8());
            else
                QVERIFY(!QFile::exists(path));
        }
        QVERIFY2(
            entries(directory).size() == (oldFiles ? 4 : stored.size()),
            qPrintable(entries(directory).join(", ") + " after " + server.commands().join(", ")));
        QCOMPARE(run.outcome.stored.size(), stored.size());
        QCOMPARE(run.notices, notices);
        QCOMPARE(server.commands().filter("USER").size(), logins);
        QVERIFY(mentions.isEmpty() || run.states.contains(RemoteError));
        QCOMPARE(run.states.last(), int(Disconnected));
    }

    // The server entered the directory and names it with a trailing slash, or in capitals as a
    // server that takes names in any case may.
    void directoryNamedOtherwiseByTheServer_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("remote");
        QTest::newRow("trailing slash") << "pwd-trailing-slash"
                                        << "/squad";
        QTest::newRow("trailing slash, relative") << "pwd-trailing-slash"
                                                  << "squad";
        QTest::newRow("other case") << "case-insensitive"
                                    << "/squad";
        QTest::newRow("other case, typed in capitals") << "case-insensitive"
                                                       << "Squad/";
    }
    void directoryNamedOtherwiseByTheServer() {
        QFETCH(QString, fault);
        QFETCH(QString, remote);
        PyFtpServer server({.fault = fault});
        QVERIFY(server.isRunning());
        QVERIFY(QDir(server.root()).mkdir("squad"));
        const Run run = uploadTo(request(server, remote));
        QCOMPARE(messageTexts(run.outcome), QStringList());
        verifyStored(server.root() + "/squad", allFour);
    }

    void hostNamesAreLookedUpBeforeLibcurlSeesThem_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QString>("message"); // empty: all four files stored
        QTest::newRow("one address") << "ftp.troopbook.invalid" << QStringList{"127.0.0.1"} << "";
        QTest::newRow("unreachable address first")
            << "ftp.troopbook.invalid" << QStringList{"::1", "127.0.0.1"}
            << ""; // the server listens on IPv4 only
        QTest::newRow("name with its root dot")
            << "ftp.troopbook.invalid." << QStringList{"127.0.0.1"} << "";
        QTest::newRow("no address") << "ftp.troopbook.invalid" << QStringList{}
                                    << "The FTP-Host \"ftp.troopbook.invalid\" was not found.";
        QTest::newRow("no answer within the time-out")
            << "ftp.troopbook.invalid" << QStringList{"stall"}
            << "The name of the FTP-Host \"ftp.troopbook.invalid\" could not be looked up within "
               "1 second.";
    }
    void hostNamesAreLookedUpBeforeLibcurlSeesThem() {
        QFETCH(QString, name);
        QFETCH(QStringList, addresses);
        QFETCH(QString, message);
        PyFtpServer server;
        QVERIFY(server.isRunning());
        UploadRequest r = request(server, QString());
        // A name no name server knows: only the session's own lookup can make it reachable.
        r.host = QStringLiteral("%1:%2").arg(name).arg(server.port());
        const auto asked = std::make_shared<QStringList>();
        testftp::StalledLookup stalled;
        const bool stall = addresses == QStringList{"stall"};
        const Run run = uploadTo(
            r, stall ? 1s : 20s,
            stall ? stalled.function() : [asked, addresses](const QString &host, QString *error) {
                *asked << host;
                *error = "Name or service not known";
                return addresses;
            });
        QCOMPARE(*asked, stall ? QStringList() : QStringList{name});
        if (message.isEmpty()) {
            QCOMPARE(messageTexts(run.outcome), QStringList());
            verifyStored(server.root(), {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"});
        } else {
            QCOMPARE(messageTexts(run.outcome), QStringList{message});
            QCOMPARE(server.commands(), QStringList());
        }
    }
};

QTEST_GUILESS_MAIN(TestFtpUpload)
#include "tst_ftpupload.moc"
