// FTP over TLS against ProFTPD on loopback: explicit (ftpes://) and implicit (ftps://), with the
// test server's certificate trusted and not. Nothing may travel in clear when TLS was asked for.
#include "ftpservers.h"
#include "upload/ftpsession.h"
#include "upload/uploadsequence.h"

#include <QRegularExpression>
#include <QTest>

using namespace upload;
using namespace std::chrono_literals;
using testftp::ProFtpServer;

class TestFtps : public QObject {
    Q_OBJECT

    QTemporaryDir m_local;
    std::unique_ptr<ProFtpServer> m_explicit;
    std::unique_ptr<ProFtpServer> m_implicit;
    std::unique_ptr<ProFtpServer> m_plain;

    UploadOutcome uploadTo(const QString &host, const QString &trusted,
                           const QString &password = QStringLiteral("secret"),
                           const QString &remote = QString(), QStringList *notices = nullptr) {
        UploadRequest request{host,
                              QStringLiteral("clan"),
                              password,
                              remote,
                              m_local.path() + u'/',
                              QStringLiteral("squad.xml"),
                              QStringLiteral("logo.paa")};
        if (const auto problem = checkFields(request))
            return {{*problem}, {}, false, {}};
        FtpSession session(*ServerAddress::parse(host, nullptr), request.user, request.password);
        session.setTimeout(20s);
        if (!trusted.isEmpty())
            session.setTrustedCertificates(trusted);
        if (notices)
            session.setNoticeHandler([notices](const QString &text) { *notices << text; });
        return runUpload(request, session);
    }

    static void clearRoot(const ProFtpServer &server) {
        const QDir root(server.root());
        for (const QString &name : root.entryList(QDir::Files | QDir::Hidden))
            QVERIFY(QFile::remove(root.filePath(name)));
    }

    static void verifyStored(const ProFtpServer &server, const UploadOutcome &outcome) {
        QCOMPARE(outcome.messages.size(), 0);
        QCOMPARE(outcome.stored,
                 (QStringList{"//squad.xml", "//squad.dtd", "//squad.xsl", "//logo.paa"}));
        for (const char *name : {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"})
            QCOMPARE(testftp::readAll(server.root() + u'/' + QLatin1String(name)),
                     testftp::readAll(QDir(m_localPath).filePath(QLatin1String(name))));
    }

    static inline QString m_localPath;

private Q_SLOTS:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("ProFTPD serves its test account as user nobody, which takes root to set up");
        QVERIFY(m_local.isValid());
        m_localPath = m_local.path();
        QByteArray picture(100000, '\0');
        for (int i = 0; i < picture.size(); ++i)
            picture[i] = char(i * 7 + i / 251);
        QVERIFY(testftp::writeFile(m_local.filePath("squad.xml"), "<squad/>\r\n"));
        QVERIFY(testftp::writeFile(m_local.filePath("squad.dtd"), "<!ELEMENT squad ANY>\r\n"));
        QVERIFY(testftp::writeFile(m_local.filePath("squad.xsl"), "<xsl:stylesheet/>\n"));
        QVERIFY(testftp::writeFile(m_local.filePath("logo.paa"), picture));
        m_explicit = std::make_unique<ProFtpServer>(false);
        m_implicit = std::make_unique<ProFtpServer>(true);
        m_plain = std::make_unique<ProFtpServer>(false, false);
        QVERIFY(m_explicit->isRunning());
        QVERIFY(m_implicit->isRunning());
        QVERIFY(m_plain->isRunning());
    }

    void cleanupTestCase() {
        m_explicit.reset();
        m_implicit.reset();
        m_plain.reset();
    }

    // ProFTPD refuses to store over an existing file (AllowOverwrite off), as after any first
    // upload, and refuses every file in a folder it may not write to. Over TLS, libcurl takes
    // such a refusal for a broken passive-mode reply and closes the connection: still only
    // that file is not stored, and the others are tried.
    void refusalsEndOnlyTheirFile_data() {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<bool>("writable");
        for (const char *scheme : {"ftpes", "ftps", "ftp"}) {
            QTest::addRow("%s, over old files", scheme) << QString(scheme) << true;
            QTest::addRow("%s, a folder it may not write to", scheme) << QString(scheme) << false;
        }
    }
    void refusalsEndOnlyTheirFile() {
        QFETCH(QString, scheme);
        QFETCH(bool, writable);
        const ProFtpServer &server = scheme == "ftps"    ? *m_implicit
                                     : scheme == "ftpes" ? *m_explicit
                                                         : *m_plain;
        clearRoot(server);
        const QStringList names{"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"};
        const QString folder = writable ? QString() : QStringLiteral("locked");
        const QString directory = server.root() + u'/' + folder;
        QVERIFY(QDir().mkpath(directory));
        for (const QString &name : names)
            QVERIFY(testftp::writeFile(directory + u'/' + name, "old " + name.toUtf8()));
        // The server works as "nobody": a folder of root's is closed to it.
        if (!writable)
            QVERIFY(QFile::setPermissions(directory, QFile::ReadOwner | QFile::WriteOwner |
                                                         QFile::ExeOwner | QFile::ReadOther |
                                                         QFile::ExeOther));
        const auto before = server.commands().size();
        QStringList notices;
        const UploadOutcome outcome =
            uploadTo(QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(server.port()),
                     server.certificate(), QStringLiteral("secret"), folder, &notices);
        const QStringList commands = server.commands().mid(before);
        QVERIFY2(commands.filter(QRegularExpression("^STOR ")).size() == 4,
                 qPrintable(commands.join(", ") + " / " +
                            (outcome.messages.isEmpty() ? QString() : outcome.messages[0].text)));
        if (writable) {
            verifyStored(server, outcome);
            QCOMPARE(notices, QStringList(4, FtpSession::notAtomicNotice));
        } else {
            QCOMPARE(outcome.messages.size(), 1);
            const QString text = outcome.messages[0].text;
            QVERIFY2(text.startsWith("These files were not stored on the server:"),
                     qPrintable(text));
            for (const QString &name : names) {
                QVERIFY2(text.contains("\r\n" + name + ": 550 "), qPrintable(text));
                QCOMPARE(testftp::readAll(directory + u'/' + name), "old " + name.toUtf8());
            }
            QVERIFY(outcome.stored.isEmpty());
            QCOMPARE(QDir(directory).entryList(QDir::Files | QDir::Hidden).size(), 4);
            QVERIFY(QDir(directory).removeRecursively());
        }
    }

    void explicitTlsWithATrustedCertificate() {
        clearRoot(*m_explicit);
        const auto before = m_explicit->commands().size();
        const UploadOutcome outcome =
            uploadTo(QStringLiteral("ftpes://127.0.0.1:%1").arg(m_explicit->port()),
                     m_explicit->certificate());
        verifyStored(*m_explicit, outcome);
        const QStringList commands = m_explicit->commands().mid(before);
        // TLS comes first, then the login, then protected data connections.
        QVERIFY2(commands.first().startsWith("AUTH "), qPrintable(commands.join(", ")));
        QVERIFY(commands.indexOf("USER clan") > 0);
        QVERIFY(commands.contains("PROT P"));
        QCOMPARE(commands.filter("STOR").size(), 4);
        // The server logs QUIT once it has answered it.
        QTRY_COMPARE(m_explicit->commands().last(), QString("QUIT"));
    }

    void implicitTlsWithATrustedCertificate() {
        clearRoot(*m_implicit);
        const auto before = m_implicit->commands().size();
        const UploadOutcome outcome =
            uploadTo(QStringLiteral("ftps://localhost:%1").arg(m_implicit->port()),
                     m_implicit->certificate());
        verifyStored(*m_implicit, outcome);
        const QStringList commands = m_implicit->commands().mid(before);
        QCOMPARE(commands.first(), QString("USER clan"));
        QVERIFY(commands.contains("PROT P"));
        QCOMPARE(commands.filter("STOR").size(), 4);
    }

    void untrustedCertificateStopsBeforeTheLogin_data() {
        QTest::addColumn<bool>("implicitTls");
        QTest::newRow("explicit") << false;
        QTest::newRow("implicit") << true;
    }
    void untrustedCertificateStopsBeforeTheLogin() {
        QFETCH(bool, implicitTls);
        const ProFtpServer &server = implicitTls ? *m_implicit : *m_explicit;
        clearRoot(server);
        const auto before = server.commands().size();
        const QString host = QStringLiteral("%1://127.0.0.1:%2")
                                 .arg(implicitTls ? "ftps" : "ftpes")
                                 .arg(server.port());
        const UploadOutcome outcome = uploadTo(host, QString(), "Cl3arTextNever");
        QCOMPARE(outcome.messages.size(), 1);
        const QString text = outcome.messages[0].text;
        QVERIFY2(text.startsWith("The server's certificate could not be verified:"),
                 qPrintable(text));
        QVERIFY(!text.contains("Cl3arTextNever"));
        QVERIFY(outcome.stored.isEmpty());
        QVERIFY(QDir(server.root()).entryList(QDir::Files).isEmpty());
        QVERIFY(!server.commands().mid(before).join(u',').contains("USER"));
    }

    void plainFtpToAServerThatRequiresTlsIsRefused() {
        const auto before = m_explicit->commands().size();
        const UploadOutcome outcome =
            uploadTo(QStringLiteral("127.0.0.1:%1").arg(m_explicit->port()), QString());
        QCOMPARE(outcome.messages.size(), 1);
        QVERIFY(outcome.stored.isEmpty());
        QVERIFY(!m_explicit->commands().mid(before).join(u',').contains("STOR"));
    }

    void implicitTlsToAnExplicitServerSuggestsFtpes() {
        const auto before = m_explicit->commands().size();
        const UploadOutcome outcome =
            uploadTo(QStringLiteral("ftps://127.0.0.1:%1").arg(m_explicit->port()),
                     m_explicit->certificate());
        QCOMPARE(outcome.messages.size(), 1);
        const QString text = outcome.messages[0].text;
        QVERIFY2(text.startsWith("The server did not start TLS at once"), qPrintable(text));
        QVERIFY(text.contains("ftpes:// may be meant"));
        QVERIFY(outcome.stored.isEmpty());
        QVERIFY(!m_explicit->commands().mid(before).join(u',').contains("USER"));
    }

    void explicitTlsToAServerWithoutItSendsNothing() {
        testftp::PyFtpServer plain;
        QVERIFY(plain.isRunning());
        const UploadOutcome outcome =
            uploadTo(QStringLiteral("ftpes://%1").arg(plain.address()), QString());
        QCOMPARE(outcome.messages.size(), 1);
        QVERIFY2(outcome.messages[0].text.startsWith("The server does not offer TLS"),
                 qPrintable(outcome.messages[0].text));
        const QStringList commands = plain.commands();
        QVERIFY(!commands.isEmpty());
        for (const QString &command : commands)
            QVERIFY2(command.startsWith("AUTH "), qPrintable(command));
    }
};

QTEST_GUILESS_MAIN(TestFtps)
#include "tst_ftps.moc"
