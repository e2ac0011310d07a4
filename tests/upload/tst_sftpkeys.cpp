// SFTP logins with keys against the test server: a key held by a real ssh-agent, key files in
// ~/.ssh with and without a passphrase, the password after them, and what is said when nothing
// is left to try.
#include "app/uploadwindow.h"
#include "localsquad.h"
#include "sftpserver.h"
#include "sshkeys.h"
#include "ui/commondialog.h"
#include "ui/inputbox.h"
#include "ui/messagebox.h"
#include "upload/sftpsession.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace upload;
using namespace std::chrono_literals;
using testftp::Agent;
using testftp::SftpServer;

namespace {

const QString passphrase = testftp::TestKeys::passphrase;
const QString cancelled = QStringLiteral("<cancel>");

} // namespace

class TestSftpKeys : public QObject {
    Q_OBJECT

    const testftp::LocalSquad m_local{1000};
    const testftp::TestKeys m_keys;
    QTemporaryDir m_home;
    QByteArray m_oldHome;
    QByteArray m_oldAgent;

    QString sshDirectory() const { return m_home.filePath(QStringLiteral(".ssh")); }

    SftpServer startServer(bool keysOnly) const {
        return SftpServer({.authorizedKeys = m_keys.authorizedKeys(), .keysOnly = keysOnly});
    }

    static void trust(const SftpServer &server, const QString &knownHosts) {
        QVERIFY(testftp::writeFile(knownHosts, server.knownHostsLine().toLatin1()));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_local.isValid());
        QVERIFY(m_keys.isValid());
        m_oldHome = qgetenv("HOME");
        m_oldAgent = qgetenv("SSH_AUTH_SOCK");
    }

    void init() {
        // Neither the tester's agent nor their keys take part.
        QVERIFY(m_home.isValid());
        QDir(sshDirectory()).removeRecursively();
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qunsetenv("SSH_AUTH_SOCK");
    }

    void cleanupTestCase() {
        qputenv("HOME", m_oldHome);
        if (!m_oldAgent.isEmpty())
            qputenv("SSH_AUTH_SOCK", m_oldAgent);
    }

    void logInWithKeys_data() {
        QTest::addColumn<QString>("agentKey"); // "" no agent
        QTest::addColumn<QString>("fileKey");  // "" no ~/.ssh/id_ed25519
        QTest::addColumn<bool>("publicHalf");  // id_ed25519.pub beside it
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("keysOnly");
        QTest::addColumn<QStringList>("answers"); // to the passphrase questions, in turn
        QTest::addColumn<QString>("loggedInBy");  // "" not at all
        QTest::addColumn<QString>("message");
        const QStringList none;
        QTest::newRow("key in the agent") << "plain"
                                          << "" << false << "" << false << none << "PUBLICKEY"
                                          << "";
        QTest::newRow("key file without passphrase")
            << ""
            << "plain" << false << "" << false << none << "PUBLICKEY"
            << "";
        QTest::newRow("key file with passphrase")
            << ""
            << "locked" << false << "" << false << QStringList{passphrase} << "PUBLICKEY"
            << "";
        QTest::newRow("key file with passphrase and its public half")
            << ""
            << "locked" << true << "" << false << QStringList{passphrase} << "PUBLICKEY"
            << "";
        QTest::newRow("wrong passphrase, then the right one")
            << ""
            << "locked" << false << "" << false << QStringList{"nope", passphrase} << "PUBLICKEY"
            << "";
        QTest::newRow("passphrase cancelled, then the password")
            << ""
            << "locked" << false << "secret" << false << QStringList{cancelled} << "LOGIN"
            << "";
        QTest::newRow("wrong keys in the agent and in ~/.ssh, then the password")
            << "other"
            << "other" << true << "secret" << false << none << "LOGIN"
            << "";
        QTest::newRow("wrong keys, no password")
            << "other"
            << "other" << false << "" << false << none << ""
            << "The server takes publickey, password; no key of the agent or of ~/.ssh was "
               "accepted and no password was given.";
        QTest::newRow("passphrase cancelled, no password")
            << ""
            << "locked" << false << "" << false << QStringList{cancelled} << ""
            << "The server takes publickey, password; no key of ~/.ssh was accepted, "
               "~/.ssh/id_ed25519 could not be opened without the passphrase and no password "
               "was given.";
        QTest::newRow("wrong key, wrong password")
            << ""
            << "other" << false << "Wr0ngPassw0rd" << false << none << ""
            << "The server refused the login of \"squad\": the user name or the password is "
               "wrong, and no key of ~/.ssh was accepted.";
        QTest::newRow("keys only, no key anywhere")
            << ""
            << "" << false << "secret" << true << none << ""
            << "The server takes publickey; no ssh-agent runs (SSH_AUTH_SOCK) and ~/.ssh holds "
               "no id_ed25519, id_ecdsa or id_rsa.";
    }
    void logInWithKeys() {
        QFETCH(QString, agentKey);
        QFETCH(QString, fileKey);
        QFETCH(bool, publicHalf);
        QFETCH(QString, password);
        QFETCH(bool, keysOnly);
        QFETCH(QStringList, answers);
        QFETCH(QString, loggedInBy);
        QFETCH(QString, message);
        SftpServer server = startServer(keysOnly);
        QVERIFY(server.isRunning());
        const QString knownHosts = m_home.filePath("known_hosts");
        trust(server, knownHosts);
        std::optional<Agent> agent;
        if (!agentKey.isEmpty()) {
            agent.emplace(m_home.filePath("agent.sock"), m_keys.path(agentKey));
            QVERIFY(agent->holdsKey());
            qputenv("SSH_AUTH_SOCK", QFile::encodeName(m_home.filePath("agent.sock")));
        }
        if (!fileKey.isEmpty())
            QVERIFY(m_keys.place(fileKey, m_home.path(), publicHalf));

        UploadRequest request = m_local.request(server.address(), QString());
        request.password = password;
        SftpSession session(*ServerAddress::parse(request.host, nullptr), request.user,
                            request.password);
        session.setTimeout(20s);
        session.setKnownHostsFile(knownHosts);
        session.setGlobalKnownHostsFile("/dev/null");
        QList<KeyPassphrase> asked;
        session.setPassphraseQuestion([&](const KeyPassphrase &key) -> std::optional<QByteArray> {
            asked << key;
            const QString answer = answers.value(asked.size() - 1, cancelled);
            if (answer == cancelled)
                return std::nullopt;
            return answer.toUtf8();
        });
        const UploadOutcome outcome = runUpload(request, session);

        QCOMPARE(testftp::messageTexts(outcome),
                 message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(asked.size(), answers.size());
        for (qsizetype i = 0; i < asked.size(); ++i) {
            QCOMPARE(asked[i].keyFile, QString("~/.ssh/id_ed25519"));
            QCOMPARE(asked[i].again, i > 0);
        }
        const QStringList operations = server.operations();
        if (loggedInBy.isEmpty()) {
            QVERIFY(operations.filter(" ok").isEmpty());
            QVERIFY(operations.filter("OPEN").isEmpty());
        } else {
            QVERIFY2(operations.contains(loggedInBy + " squad ok"),
                     qPrintable(operations.join('|')));
            QCOMPARE(testftp::readAll(server.root() + "/squad.xml"), m_local.bytes("squad.xml"));
        }
        // The password is not sent where a key was enough.
        if (loggedInBy == "PUBLICKEY")
            QVERIFY(operations.filter("LOGIN").isEmpty());
    }

    // The window asks in a box that hides what is typed; the password box may stay empty.
    void windowAsksForThePassphrase() {
        SftpServer server = startServer(false);
        QVERIFY(server.isRunning());
        const QString knownHosts = m_home.filePath("known_hosts");
        trust(server, knownHosts);
        QVERIFY(m_keys.place("locked", m_home.path(), false));
        ui::CommonDialog cdb;
        app::UploadWindow window(cdb, [] { return QString(); });
        window.setSessionOptions(
            {.timeout = 20s, .knownHostsFile = knownHosts, .globalKnownHostsFile = "/dev/null"});
        window.findChild<QLineEdit *>("ftphost")->setText(server.address());
        window.findChild<QLineEdit *>("ftpuser")->setText("squad");
        window.findChild<QLineEdit *>("locdir")->setText(m_local.directory());
        ui::InputBox::takeAsked();
        window.show();
        // The real box: what is typed into it must not show.
        bool masked = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll.stop();
            auto *edit = box->findChild<QLineEdit *>();
            masked = edit && edit->echoMode() == QLineEdit::Password;
            QTest::keyClicks(edit, passphrase);
            const QString shots = qEnvironmentVariable("TROOPBOOK_SHOT_DIR");
            if (!shots.isEmpty())
                box->grab().save(shots + "/upload-passphrase.png");
            box->accept();
        });
        poll.start(20);
        QSignalSpy finished(&window, &app::UploadWindow::uploadFinished);
        window.findChild<QPushButton *>("Command1")->click();
        QVERIFY(finished.wait(30000));
        QVERIFY(masked);
        const QList<ui::InputBox::Asked> asked = ui::InputBox::takeAsked();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].prompt, app::UploadWindow::passphrasePrompt({"~/.ssh/id_ed25519"}));
        QVERIFY(asked[0].text.isEmpty());
        QCOMPARE(testftp::readAll(server.root() + "/squad.xml"), m_local.bytes("squad.xml"));
        QVERIFY(ui::MessageBox::takeShown().isEmpty());
    }
};

QTEST_MAIN(TestSftpKeys)
#include "tst_sftpkeys.moc"
