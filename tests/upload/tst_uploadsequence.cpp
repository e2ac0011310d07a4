// The upload sequence against a scripted transfer: which commands it issues, with which
// operands, and what it tells the user.
#include "upload/ftpsession.h"
#include "upload/sessionfactory.h"
#include "upload/sftpsession.h"
#include "upload/uploadsequence.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace upload;

namespace {

class ScriptedTransfer : public Transfer {
public:
    // Every command as the words it was given, operands kept apart.
    QList<QStringList> commands;
    QString pwdReply = QStringLiteral("/");
    CommandResult cdResult;
    // Remote path -> result of storing it; Done when absent.
    QHash<QString, CommandResult> putResults;
    std::optional<CommandResult> pwdResult;

    CommandResult changeDirectory(const QString &directory) override {
        commands.append({QStringLiteral("CD"), directory});
        return cdResult;
    }
    CommandResult printDirectory() override {
        commands.append({QStringLiteral("PWD")});
        return pwdResult ? *pwdResult : CommandResult{CommandResult::Done, pwdReply};
    }
    CommandResult put(const QString &localPath, const QString &remotePath) override {
        commands.append({QStringLiteral("PUT"), localPath, remotePath});
        return putResults.value(remotePath);
    }
    void quit() override { commands.append({QStringLiteral("QUIT")}); }
    void drop() override { commands.append({QStringLiteral("DROP")}); }
};

// The answers a scripted transfer gives: to CD, to PWD (its reply when not given) and to each
// remote path stored (Done when not given).
struct Script {
    CommandResult cd;
    std::optional<CommandResult> pwd;
    QHash<QString, CommandResult> puts;
};

void touch(const QString &path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
}

} // namespace

Q_DECLARE_METATYPE(Script)

class TestUploadSequence : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_local; // with its trailing separator, as the picker leaves it

    UploadRequest request(const QString &remote) const {
        return {QStringLiteral("ftp.example.org"),
                QStringLiteral("leader"),
                QStringLiteral("pw"),
                remote,
                m_local,
                QStringLiteral("myclan.xml"),
                QStringLiteral("logo.paa")};
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_local = m_dir.path() + u'/';
        for (const char *name : {"myclan.xml", "squad.dtd", "squad.xsl", "logo.paa"})
            touch(m_local + QLatin1String(name));
    }

    void allFourFilesGoIntoTheDirectoryTheServerReports_data() {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("relative") << "squad"
                                  << "/squad"
                                  << "/squad/";
        QTest::newRow("absolute") << "/squad"
                                  << "/squad"
                                  << "/squad/";
        QTest::newRow("trailing slash") << "squad/"
                                        << "/squad"
                                        << "/squad/";
        QTest::newRow("empty at root") << ""
                                       << "/"
                                       << "//";
        QTest::newRow("empty in login directory") << ""
                                                  << "/home/clan"
                                                  << "/home/clan/";
        QTest::newRow("reply without slash") << "squad"
                                             << "squad"
                                             << "squad/";
        QTest::newRow("relative below the login directory") << "squad"
                                                            << "/home/clan/squad"
                                                            << "/home/clan/squad/";
        QTest::newRow("relative path below the login directory") << "www/squad/"
                                                                 << "/home/clan/www/squad"
                                                                 << "/home/clan/www/squad/";
        // Entered, and named with a trailing slash or in the server's own case.
        QTest::newRow("reply with a trailing slash") << "/squad"
                                                     << "/squad/"
                                                     << "/squad/";
        QTest::newRow("relative, reply with a trailing slash") << "www/squad"
                                                               << "/home/clan/www/squad/"
                                                               << "/home/clan/www/squad/";
        QTest::newRow("reply in capitals") << "/squad"
                                           << "/SQUAD"
                                           << "/SQUAD/";
        QTest::newRow("relative, reply in other case") << "Squad"
                                                       << "/home/clan/squad/"
                                                       << "/home/clan/squad/";
    }
    void allFourFilesGoIntoTheDirectoryTheServerReports() {
        QFETCH(QString, remote);
        QFETCH(QString, reply);
        QFETCH(QString, prefix);
        ScriptedTransfer transfer;
        transfer.pwdReply = reply;
        const UploadOutcome outcome = runUpload(request(remote), transfer);
        const QList<QStringList> expected{
            {"CD", remote},
            {"PWD"},
            {"PUT", m_local + "myclan.xml", prefix + "myclan.xml"},
            {"PUT", m_local + "squad.dtd", prefix + "squad.dtd"},
            {"PUT", m_local + "squad.xsl", prefix + "squad.xsl"},
            {"PUT", m_local + "logo.paa", prefix + "logo.paa"},
            {"QUIT"},
        };
        QCOMPARE(transfer.commands, expected);
        QVERIFY(outcome.messages.isEmpty());
        QCOMPARE(outcome.stored.size(), 4);
    }

    void missingCompanionsAndEmptyPictureAreSkipped() {
        QTemporaryDir dir;
        const QString local = dir.path() + u'/';
        touch(local + "squad.xml");
        touch(local + "squad.xsl");
        QDir().mkdir(local + "logo.paa"); // a directory of that name is no picture
        UploadRequest r = request("squad");
        r.localDirectory = local;
        r.squadFile = QString(); // typed by hand, never picked
        ScriptedTransfer transfer;
        transfer.pwdReply = "/squad";
        runUpload(r, transfer);
        QCOMPARE(transfer.commands.size(), 5);
        QCOMPARE(transfer.commands[2],
                 (QStringList{"PUT", local + "squad.xml", "/squad/squad.xml"}));
        QCOMPARE(transfer.commands[3],
                 (QStringList{"PUT", local + "squad.xsl", "/squad/squad.xsl"}));

        r.pictureName.clear();
        touch(local + "squad.dtd");
        transfer.commands.clear();
        runUpload(r, transfer);
        QCOMPARE(transfer.commands.size(), 6);
        QCOMPARE(transfer.commands[4].last(), QString("/squad/squad.xsl"));
    }

    void localDirectoryTypedWithoutSeparatorAndBlanks() {
        QTemporaryDir dir;
        const QString local = dir.path() + "/my clan";
        QVERIFY(QDir().mkpath(local));
        touch(local + "/squad file.xml");
        UploadRequest r = request("our squad");
        r.localDirectory = local;
        r.squadFile = "squad file.xml";
        r.pictureName = "clan logo.paa";
        touch(local + "/clan logo.paa");
        ScriptedTransfer transfer;
        transfer.pwdReply = "/our squad";
        runUpload(r, transfer);
        QCOMPARE(transfer.commands[0], (QStringList{"CD", "our squad"}));
        QCOMPARE(transfer.commands[2],
                 (QStringList{"PUT", local + "/squad file.xml", "/our squad/squad file.xml"}));
        QCOMPARE(transfer.commands[3],
                 (QStringList{"PUT", local + "/clan logo.paa", "/our squad/clan logo.paa"}));
    }

    void directoryNotReachedSendsNothingButQuits_data() {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("changedInto");
        QTest::newRow("stayed at root") << "squad"
                                        << "/" << false;
        QTest::newRow("stayed in login directory") << "squad"
                                                   << "/home/clan" << false;
        QTest::newRow("other case") << "squad"
                                    << "/Squad" << false;
        // The change was refused; the session only happens to sit in a directory of that name.
        QTest::newRow("login directory of that name") << "squad"
                                                      << "/home/squad" << false;
        QTest::newRow("name only as the end of a name") << "squad"
                                                        << "/home/mysquad" << true;
        QTest::newRow("absolute elsewhere") << "/squad"
                                            << "/home/clan/squad" << true;
    }
    void directoryNotReachedSendsNothingButQuits() {
        QFETCH(QString, remote);
        QFETCH(QString, reply);
        QFETCH(bool, changedInto);
        ScriptedTransfer transfer;
        if (!changedInto)
            transfer.cdResult = {CommandResult::Refused, "550 No such directory."};
        transfer.pwdReply = reply;
        const UploadOutcome outcome = runUpload(request(remote), transfer);
        QCOMPARE(transfer.commands, (QList<QStringList>{{"CD", remote}, {"PWD"}, {"QUIT"}}));
        QCOMPARE(outcome.messages.size(), 1);
        QCOMPARE(outcome.messages[0].text,
                 QString("Connection accomplished,\r\nbut the remote directory doesn't exist."));
        QCOMPARE(outcome.messages[0].severity, UploadMessage::Failure);
    }

    void pictureIsSentOnlyByAPlainName_data() {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("sentAs"); // empty: not sent, but listed
        QTest::addColumn<QString>("reason"); // why it is listed; empty: not a plain name
        QTest::newRow("plain") << "logo.paa"
                               << "logo.paa"
                               << "";
        QTest::newRow("leading ./") << "./logo.paa"
                                    << "logo.paa"
                                    << "";
        QTest::newRow("two dots inside a name") << "..logo.paa"
                                                << "..logo.paa"
                                                << "";
        QTest::newRow("parent directories") << "../../.ssh/id_rsa"
                                            << ""
                                            << "";
        QTest::newRow("./ then parent") << "./../logo.paa"
                                        << ""
                                        << "";
        QTest::newRow("absolute") << "/etc/passwd"
                                  << ""
                                  << "";
        QTest::newRow("subdirectory") << "pics/logo.paa"
                                      << ""
                                      << "";
        QTest::newRow("backslashes") << "..\\..\\logo.paa"
                                     << ""
                                     << "";
        QTest::newRow("drive letter") << "C:\\clan\\logo.paa"
                                      << ""
                                      << "";
        QTest::newRow("drive relative") << "c:logo.paa"
                                        << ""
                                        << "";
        QTest::newRow("url") << "http://example.org/logo.paa"
                             << ""
                             << "";
        QTest::newRow("parent itself") << ".."
                                       << ""
                                       << "";
        QTest::newRow("dot itself") << "."
                                    << ""
                                    << "";
        QTest::newRow("only ./") << "./"
                                 << ""
                                 << "";
        QTest::newRow("plain, but not there")
            << "absent.paa"
            << ""
            << "the picture is not in the local directory, so it was not sent";
        QTest::newRow("plain, a folder") << "pics"
                                         << ""
                                         << "it is a folder, not a picture, and was not sent";
    }
    void pictureIsSentOnlyByAPlainName() {
        QFETCH(QString, picture);
        QFETCH(QString, sentAs);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString local = dir.path() + "/clan/";
        QVERIFY(QDir().mkpath(local + "pics"));
        for (const char *name :
             {"squad.xml", "logo.paa", "..logo.paa", "pics/logo.paa", "../logo.paa", "c:logo.paa"})
            touch(local + name);
        UploadRequest r = request("squad");
        r.localDirectory = local;
        r.squadFile = "squad.xml";
        r.pictureName = picture;
        ScriptedTransfer transfer;
        transfer.pwdReply = "/squad";
        const UploadOutcome outcome = runUpload(r, transfer);
        QList<QStringList> expected{
            {"CD", "squad"}, {"PWD"}, {"PUT", local + "squad.xml", "/squad/squad.xml"}};
        if (!sentAs.isEmpty())
            expected.append({"PUT", local + sentAs, "/squad/" + sentAs});
        expected.append({"QUIT"});
        QCOMPARE(transfer.commands, expected);
        if (sentAs.isEmpty()) {
            QCOMPARE(outcome.messages.size(), 1);
            QCOMPARE(outcome.messages[0].text,
                     "These files were not stored on the server:\r\n" + picture + ": " +
                         (reason.isEmpty() ? "the picture name is not a plain file name in the "
                                             "local directory, so it was not sent"
                                           : reason));
        } else {
            QVERIFY(outcome.messages.isEmpty());
        }
    }

    void specialFilesAreListedNotOpened_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind"); // fifo, socket or device
        QTest::addColumn<QString>("reason");
        QTest::newRow("squad file a FIFO") << "squad.xml"
                                           << "fifo"
                                           << "it is a FIFO, not an ordinary file";
        QTest::newRow("companion a FIFO") << "squad.dtd"
                                          << "fifo"
                                          << "it is a FIFO, not an ordinary file";
        QTest::newRow("companion a socket") << "squad.xsl"
                                            << "socket"
                                            << "it is a socket, not an ordinary file";
        QTest::newRow("picture a link to a device") << "logo.paa"
                                                    << "device"
                                                    << "it is a device, not an ordinary file";
    }
    void specialFilesAreListedNotOpened() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString local = dir.path() + u'/';
        for (const char *file : {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"}) {
            if (name != QLatin1String(file))
                touch(local + file);
        }
        const QByteArray path = QFile::encodeName(local + name);
        int socketFd = -1;
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        } else if (kind == "socket") {
            socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            QVERIFY(size_t(path.size()) < sizeof address.sun_path);
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
            QCOMPARE(::bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        } else {
            QVERIFY(QFile::link("/dev/null", local + name));
        }
        const auto closeSocket = qScopeGuard([&] {
            if (socketFd >= 0)
                ::close(socketFd);
        });
        UploadRequest r = request("squad");
        r.localDirectory = local;
        r.squadFile = "squad.xml";
        ScriptedTransfer transfer;
        transfer.pwdReply = "/squad";
        const UploadOutcome outcome = runUpload(r, transfer);
        QCOMPARE(transfer.commands.size(), 6); // CD, PWD, three of the four files, QUIT
        for (const QStringList &command : transfer.commands)
            QVERIFY(!command.contains(local + name));
        QCOMPARE(outcome.messages.size(), 1);
        QVERIFY2(
            outcome.messages[0].text.endsWith("\r\n" + name + ": " + reason + ", and was not sent"),
            qPrintable(outcome.messages[0].text));

        // Swapped in after the check, it is still not opened, so nothing waits on it.
        FtpSession session(*ServerAddress::parse("127.0.0.1:1", nullptr), {}, {});
        const CommandResult put = session.put(local + name, "/squad/" + name);
        QCOMPARE(put.outcome, CommandResult::Refused);
        QVERIFY2(put.text.startsWith(reason), qPrintable(put.text));
    }

    // What the server or the session answers, and what the run makes of it: the commands it
    // goes on with, how it ends, what it tells the user and what it counts as stored.
    void answersThatEndOrShortenTheRun_data() {
        QTest::addColumn<Script>("script");
        QTest::addColumn<int>("commandCount");
        QTest::addColumn<QString>("lastCommand");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<bool>("cancelled");
        const auto refused = [](const char *text) {
            return CommandResult{CommandResult::Refused, QString::fromLatin1(text)};
        };
        const auto failed = [](const char *text, bool cancelled = false) {
            return CommandResult{CommandResult::Failed, QString::fromLatin1(text), cancelled};
        };
        QTest::newRow("files refused, the run goes on")
            << Script{{},
                      {},
                      {{"/squad/myclan.xml", refused("550 Not enough privileges.")},
                       {"/squad/logo.paa", refused("552 Quota exceeded.")}}}
            << 7 << "QUIT"
            << QStringList{"These files were not stored on the server:\r\nmyclan.xml: 550 Not "
                           "enough privileges.\r\nlogo.paa: 552 Quota exceeded."}
            << QStringList{"/squad/squad.dtd", "/squad/squad.xsl"} << false;
        QTest::newRow("a failure drops the session without QUIT")
            << Script{{}, {}, {{"/squad/squad.dtd", failed("The server closed the connection.")}}}
            << 5 << "DROP"
            << QStringList{"The server closed the connection.\r\n\r\nStored: myclan.xml\r\nNot "
                           "stored: squad.dtd, squad.xsl, logo.paa"}
            << QStringList{"/squad/myclan.xml"} << false;
        QTest::newRow("a failure at the first file")
            << Script{{}, {}, {{"/squad/myclan.xml", failed("The server closed the connection.")}}}
            << 4 << "DROP"
            << QStringList{"The server closed the connection.\r\n\r\nNo file was stored.\r\nNot "
                           "stored: myclan.xml, squad.dtd, squad.xsl, logo.paa"}
            << QStringList{} << false;
        QTest::newRow("a file refused, then a failure")
            << Script{{},
                      {},
                      {{"/squad/myclan.xml", refused("550 Not enough privileges.")},
                       {"/squad/squad.xsl", failed("The server closed the connection.")}}}
            << 6 << "DROP"
            << QStringList{"The server closed the connection.\r\n\r\nStored: squad.dtd\r\nNot "
                           "stored: squad.xsl, logo.paa",
                           "These files were not stored on the server:\r\nmyclan.xml: 550 Not "
                           "enough privileges."}
            << QStringList{"/squad/squad.dtd"} << false;
        QTest::newRow("login refused")
            << Script{failed("The server refused the login: 530"), {}, {}} << 2 << "DROP"
            << QStringList{"The server refused the login: 530"} << QStringList{} << false;
        QTest::newRow("no PWD")
            << Script{{}, refused("502 Not implemented."), {}} << 3 << "DROP"
            << QStringList{"The server did not tell its current directory: 502 Not implemented."}
            << QStringList{} << false;
        QTest::newRow("a cancel shows nothing")
            << Script{{}, {}, {{"/squad/myclan.xml", failed("cancelled", true)}}} << 4 << "DROP"
            << QStringList{} << QStringList{} << true;
    }
    void answersThatEndOrShortenTheRun() {
        QFETCH(Script, script);
        QFETCH(int, commandCount);
        QFETCH(QString, lastCommand);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, stored);
        QFETCH(bool, cancelled);
        ScriptedTransfer transfer;
        transfer.pwdReply = "/squad";
        transfer.cdResult = script.cd;
        transfer.pwdResult = script.pwd;
        transfer.putResults = script.puts;
        const UploadOutcome outcome = runUpload(request("squad"), transfer);
        QCOMPARE(transfer.commands.first(), (QStringList{"CD", "squad"}));
        QCOMPARE(transfer.commands.size(), commandCount);
        QCOMPARE(transfer.commands.last(), QStringList{lastCommand});
        QCOMPARE(outcome.cancelled, cancelled);
        QCOMPARE(outcome.stored, stored);
        QStringList texts;
        for (const UploadMessage &m : outcome.messages) {
            texts << m.text;
            QCOMPARE(m.severity, UploadMessage::Failure);
        }
        QCOMPARE(texts, messages);
    }

    void fieldsAreCheckedBeforeAnythingIsSent() {
        UploadRequest r = request("squad");
        QVERIFY(!checkFields(r));

        r.host.clear();
        auto problem = checkFields(r);
        QVERIFY(problem);
        QCOMPARE(problem->text, QString("Hmm, I'm sure you forgot something !"));
        QCOMPARE(problem->severity, UploadMessage::Omission);
        r = request("squad");
        r.localDirectory.clear();
        QCOMPARE(checkFields(r)->severity, UploadMessage::Omission);

        const QList<std::pair<QString UploadRequest::*, QString>> fields{
            {&UploadRequest::host, "FTP-Host"},
            {&UploadRequest::user, "Username"},
            {&UploadRequest::password, "Password"},
            {&UploadRequest::remoteDirectory, "Remote Directory"},
            {&UploadRequest::localDirectory, "Local Directory"},
            {&UploadRequest::pictureName, "Picture"},
        };
        for (const QString &bad : QStringList{"a\r\nDELE x", "a\nb", QString("a") + QChar(0)}) {
            for (const auto &[member, label] : fields) {
                r = request("squad");
                r.*member += bad;
                problem = checkFields(r);
                QVERIFY2(problem, qPrintable(label));
                QVERIFY2(problem->text.contains('"' + label + '"'), qPrintable(problem->text));
                QCOMPARE(problem->severity, UploadMessage::Failure);
                QVERIFY(!problem->text.contains("DELE"));
            }
        }
        r = request("squad");
        r.password = "hunter2\r\n";
        QVERIFY(!checkFields(r)->text.contains("hunter2"));
        r = request("squad");
        r.host = "ftp.example.org:99999";
        QVERIFY(checkFields(r)->text.contains("FTP-Host"));
    }

    void hostFieldForms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("security");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("name") << "ftp.example.org" << true << 0 << "ftp.example.org" << 21;
        QTest::newRow("name:port")
            << "ftp.example.org:2121" << true << 0 << "ftp.example.org" << 2121;
        QTest::newRow("ftp url") << "ftp://127.0.0.1/" << true << 0 << "127.0.0.1" << 21;
        QTest::newRow("ftps") << "ftps://ftp.example.org" << true << 1 << "ftp.example.org" << 990;
        QTest::newRow("ftps port") << "FTPS://h:4990" << true << 1 << "h" << 4990;
        QTest::newRow("ftpes") << "ftpes://h" << true << 2 << "h" << 21;
        QTest::newRow("ipv6") << "[::1]:2121" << true << 0 << "::1" << 2121;
        QTest::newRow("blanks around") << "  h  " << true << 0 << "h" << 21;
        QTest::newRow("sftp") << "sftp://h" << true << 3 << "h" << 22;
        QTest::newRow("sftp port") << "SFTP://[::1]:2222/" << true << 3 << "::1" << 2222;
        QTest::newRow("ssh") << "ssh://h" << false << 0 << "" << 0;
        QTest::newRow("sftp path") << "sftp://h/home/clan" << false << 0 << "" << 0;
        QTest::newRow("path") << "ftp://h/squad" << false << 0 << "" << 0;
        QTest::newRow("user") << "ftp://me@h" << false << 0 << "" << 0;
        QTest::newRow("bad port") << "h:port" << false << 0 << "" << 0;
        QTest::newRow("port 0") << "h:0" << false << 0 << "" << 0;
        QTest::newRow("blank inside") << "ftp example" << false << 0 << "" << 0;
    }
    void hostFieldForms() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QString error;
        const auto address = ServerAddress::parse(text, &error);
        QCOMPARE(bool(address), valid);
        // The session made for the field speaks what the field asks for.
        UploadRequest r = request("squad");
        r.host = text;
        QString sessionError;
        const std::unique_ptr<ServerSession> session = makeSession(r, {}, &sessionError);
        QCOMPARE(bool(session), valid);
        if (!valid) {
            QVERIFY(error.contains("FTP-Host"));
            QCOMPARE(sessionError, error);
            return;
        }
        QCOMPARE(dynamic_cast<SftpSession *>(session.get()) != nullptr,
                 address->security == ServerAddress::Sftp);
        QCOMPARE(dynamic_cast<FtpSession *>(session.get()) != nullptr,
                 address->security != ServerAddress::Sftp);
        QFETCH(int, security);
        QFETCH(QString, host);
        QFETCH(int, port);
        QCOMPARE(int(address->security), security);
        QCOMPARE(address->host, host);
        QCOMPARE(address->port, port);
    }

    void pwdReplyQuotingIsUndone() {
        QCOMPARE(FtpSession::pathFromPwdReply(R"(257 "/squad" is the current directory.)"),
                 QString("/squad"));
        QCOMPARE(FtpSession::pathFromPwdReply(R"(257 "/a ""quoted"" dir" created)"),
                 QString(R"(/a "quoted" dir)"));
        QCOMPARE(FtpSession::pathFromPwdReply(R"(257 "/")"), QString("/"));
        QCOMPARE(FtpSession::pathFromPwdReply("257 /plain"), QString("/plain"));
    }

    void stateTexts() {
        QCOMPARE(stateText(0), QString());
        QCOMPARE(stateText(1), QString("Resolving Host"));
        QCOMPARE(stateText(8), QString("Response Received"));
        QCOMPARE(stateText(11), QString("Remote Error"));
        QCOMPARE(stateText(12), QString("Response Completed"));
        QCOMPARE(stateText(13), QString());
        QCOMPARE(stateText(-1), QString());
    }
};

QTEST_GUILESS_MAIN(TestUploadSequence)
#include "tst_uploadsequence.moc"
