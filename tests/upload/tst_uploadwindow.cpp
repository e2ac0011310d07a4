// The upload window as a user meets it: layout, the squad file picker, the checks before an
// upload, and uploads, cancels and closing while the transfer runs on its worker.
#include "app/uploadwindow.h"
#include "app/uploadworker.h"
#include "endingupload.h"
#include "ftpservers.h"
#include "ui/commondialog.h"
#include "ui/geometry.h"
#include "ui/messagebox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <limits>
#include <optional>

using namespace upload;
using app::UploadWindow;
using namespace std::chrono_literals;
using ui::CommonDialog;
using ui::MessageBox;

namespace {

QLineEdit *box(QWidget *window, const char *name) {
    return window->findChild<QLineEdit *>(QLatin1String(name));
}

QPushButton *button(QWidget *window) {
    return window->findChild<QPushButton *>(QStringLiteral("Command1"));
}

} // namespace

class TestUploadWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_local;
    QString m_picture = QStringLiteral("logo.paa");

    std::unique_ptr<UploadWindow> makeWindow(CommonDialog &cdb) {
        auto window = std::make_unique<UploadWindow>(cdb, [this] { return m_picture; });
        window->setSessionOptions({.timeout = 20s});
        return window;
    }

    // Fills the fields as a user would, picking the squad file through the dialog.
    void fillIn(UploadWindow &window, const QString &host, const QString &remote) {
        box(&window, "ftphost")->setText(host);
        box(&window, "ftpuser")->setText("squad");
        box(&window, "ftppass")->setText("secret");
        box(&window, "ftpdir")->setText(remote);
        CommonDialog::setNextPath(m_local.filePath("squad.xml"));
        QTest::mouseClick(box(&window, "locdir"), Qt::LeftButton);
        QTRY_COMPARE(window.locfile(), QString("squad.xml"));
        CommonDialog::takeUses();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_local.isValid());
        for (const char *name : {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"})
            QVERIFY(testftp::writeFile(m_local.filePath(QLatin1String(name)),
                                       QByteArray("content of ") + name));
    }

    void cleanup() {
        QVERIFY(!MessageBox::hasPendingAnswers());
        MessageBox::takeShown();
        CommonDialog::takeUses();
    }

    void layoutCaptionsAndTabOrder() {
        CommonDialog cdb;
        UploadWindow window(cdb, {});
        QCOMPARE(window.objectName(), QString("Form2"));
        QCOMPARE(window.windowTitle(), QString("Upload"));
        QCOMPARE(window.size(), QSize(ui::twips(4575), ui::twips(2475)));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QVERIFY(!(window.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window.windowFlags() & Qt::WindowCloseButtonHint);

        const QList<std::pair<const char *, QRect>> boxes{
            {"ftphost", ui::twipsRect(960, 120, 3495, 375)},
            {"ftpuser", ui::twipsRect(960, 600, 1215, 375)},
            {"ftppass", ui::twipsRect(3240, 600, 1215, 375)},
            {"ftpdir", ui::twipsRect(960, 1080, 3495, 375)},
            {"locdir", ui::twipsRect(960, 1560, 3495, 375)},
            {"Status", ui::twipsRect(120, 2085, 2775, 285)},
        };
        for (const auto &[name, rect] : boxes) {
            QLineEdit *edit = box(&window, name);
            QVERIFY2(edit, name);
            QCOMPARE(edit->geometry(), rect);
            QVERIFY(edit->text().isEmpty());
            QCOMPARE(edit->maxLength(), std::numeric_limits<int>::max()); // no length limit
        }
        QCOMPARE(box(&window, "ftppass")->echoMode(), QLineEdit::Normal);
        QVERIFY(box(&window, "Status")->isReadOnly());
        QVERIFY(box(&window, "Status")->palette().color(QPalette::Base) !=
                box(&window, "ftphost")->palette().color(QPalette::Base));
        QCOMPARE(button(&window)->text(), QString("Upload files"));
        QCOMPARE(button(&window)->geometry(), ui::twipsRect(3120, 2040, 1335, 375));

        const QList<std::tuple<const char *, QString, QRect>> labels{
            {"Label1", "FTP-Host", ui::twipsRect(120, 180, 735, 255)},
            {"Label2", "Username", ui::twipsRect(0, 660, 855, 255)},
            {"Label3", "Password", ui::twipsRect(2280, 660, 855, 255)},
            {"Label4", "Remote Directory", ui::twipsRect(120, 1080, 735, 495)},
            {"Label5", "Local Directory", ui::twipsRect(120, 1560, 735, 495)},
        };
        for (const auto &[name, caption, rect] : labels) {
            auto *label = window.findChild<QLabel *>(QLatin1String(name));
            QVERIFY2(label, name);
            QCOMPARE(label->text(), caption);
            QCOMPARE(label->geometry(), rect);
        }
        for (const char *name : {"Label4", "Label5"}) {
            auto *label = window.findChild<QLabel *>(QLatin1String(name));
            QVERIFY(label->wordWrap());
            // Too wide for one line in the label's width, and two lines fit its height.
            const QFontMetrics metrics(label->font());
            QVERIFY(metrics.horizontalAdvance(label->text()) > label->width());
            QVERIFY(2 * metrics.lineSpacing() <= label->height());
        }

        QWidget *expected[] = {box(&window, "ftphost"), box(&window, "ftpuser"),
                               box(&window, "ftppass"), box(&window, "ftpdir"),
                               box(&window, "locdir"),  button(&window),
                               box(&window, "Status")};
        for (size_t i = 0; i + 1 < std::size(expected); ++i)
            QCOMPARE(expected[i]->nextInFocusChain(), expected[i + 1]);

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        box(&window, "ftphost")->setText("ftp.example.org");
        box(&window, "Status")->setText("Response Completed");
        window.grab().save(QDir::temp().filePath("troopbook-upload-window.png"));
    }

    void loadStartsTheDialogAtTheLastChoice() {
        CommonDialog cdb;
        cdb.setFileName("/home/leader/clan/squad.xml");
        UploadWindow window(cdb, {});
        QCOMPARE(cdb.initDir(), QString("/home/leader/clan/squad.xml"));
        QCOMPARE(window.locfile(), QString());
    }

    void pickerSplitsThePathAfterItsLastSeparator() {
        CommonDialog cdb;
        cdb.setFlags(CommonDialog::OverwritePrompt);
        UploadWindow window(cdb, {});
        QLineEdit *locdir = box(&window, "locdir");
        locdir->setText("/already/there/");

        CommonDialog::setNextPath("/home/leader/clan/squad.xml");
        QTest::mouseClick(locdir, Qt::LeftButton);
        QTRY_COMPARE(locdir->text(), QString("/home/leader/clan/"));
        QCOMPARE(window.locfile(), QString("squad.xml"));
        auto uses = CommonDialog::takeUses();
        QCOMPARE(uses.size(), 1);
        QVERIFY(!uses[0].save);
        QCOMPARE(uses[0].flags, int(CommonDialog::FileMustExist));
        QCOMPARE(uses[0].fileName, QString());
        QCOMPARE(cdb.flags(), int(CommonDialog::FileMustExist));
        QCOMPARE(cdb.fileName(), QString("/home/leader/clan/squad.xml"));

        CommonDialog::setNextPath("/x/other clan.xml");
        QTest::mouseDClick(locdir, Qt::LeftButton);
        QTRY_COMPARE(locdir->text(), QString("/x/"));
        QCOMPARE(window.locfile(), QString("other clan.xml"));
        QTest::qWait(20);
        QCOMPARE(CommonDialog::takeUses().size(), 1); // one double click, one dialog

        CommonDialog::setNextPath("/squad.xml");
        QTest::mouseClick(locdir, Qt::LeftButton);
        QTRY_COMPARE(locdir->text(), QString("/"));
        QCOMPARE(window.locfile(), QString("squad.xml"));

        CommonDialog::setNextPath(QString()); // cancel
        QTest::mouseClick(locdir, Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(CommonDialog::takeUses().size(), 2);
        QCOMPARE(locdir->text(), QString("/"));
        QCOMPARE(window.locfile(), QString("squad.xml"));
    }

    void enteringTheEmptyBoxOpensThePickerOnce() {
        CommonDialog cdb;
        UploadWindow window(cdb, {});
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QLineEdit *locdir = box(&window, "locdir");
        box(&window, "ftpdir")->setFocus();

        // A click into the empty box gives it the focus and clicks it: one dialog.
        CommonDialog::setNextPath(QString());
        QTest::mouseClick(locdir, Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(CommonDialog::takeUses().size(), 1);
        QVERIFY(locdir->text().isEmpty());

        // Tabbing in: one dialog; coming back from it does not open another.
        box(&window, "ftpdir")->setFocus();
        CommonDialog::setNextPath(m_local.filePath("squad.xml"));
        QTest::keyClick(box(&window, "ftpdir"), Qt::Key_Tab);
        QTRY_COMPARE(locdir->text(), m_local.path() + u'/');
        QTest::qWait(50);
        QCOMPARE(CommonDialog::takeUses().size(), 1);

        // Once filled, tabbing in opens nothing.
        box(&window, "ftpdir")->setFocus();
        QTest::keyClick(box(&window, "ftpdir"), Qt::Key_Tab);
        QTest::qWait(50);
        QVERIFY(locdir->hasFocus());
        QCOMPARE(CommonDialog::takeUses().size(), 0);
    }

    void windowDeletedWhileItsPickerIsOpen() {
        CommonDialog cdb;
        QPointer<UploadWindow> window = new UploadWindow(cdb, {});
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QPointer<QFileDialog> dialog;
        QTimer::singleShot(100, this, [&] {
            dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (dialog)
                delete window.data();
        });
        QTest::mouseDClick(box(window, "locdir"), Qt::LeftButton);
        QTRY_VERIFY(!window);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(CommonDialog::takeUses().size(), 1);
    }

    void fileExists() {
        QVERIFY(UploadWindow::FileExists(m_local.filePath("squad.xml")));
        QVERIFY(!UploadWindow::FileExists(m_local.filePath("missing.xml")));
        QVERIFY(!UploadWindow::FileExists(m_local.path()));
        QVERIFY(!UploadWindow::FileExists(m_local.path() + u'/'));
        QVERIFY(!UploadWindow::FileExists(QString()));
        QVERIFY(!UploadWindow::FileExists(m_local.filePath("squad.xml/x")));
    }

    void missingFieldsAndLineBreaksStopBeforeConnecting() {
        testftp::PyFtpServer server;
        QVERIFY(server.isRunning());
        CommonDialog cdb;
        auto window = makeWindow(cdb);
        box(window.get(), "Status")->setText("Disconnected");

        box(window.get(), "locdir")->setText(m_local.path() + u'/');
        MessageBox::setNextAnswer(MessageBox::Ok);
        button(window.get())->click();
        auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QString("Hmm, I'm sure you forgot something !"));
        QCOMPARE(shown[0].title, QString("Error"));
        QCOMPARE(shown[0].style, int(MessageBox::OkOnly));

        fillIn(*window, server.address(), "squad\r\nDELE squad.xml");
        MessageBox::setNextAnswer(MessageBox::Ok);
        button(window.get())->click();
        shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].text.contains("\"Remote Directory\""), qPrintable(shown[0].text));
        QVERIFY(!window->isUploading());
        QCOMPARE(box(window.get(), "Status")->text(), QString("Disconnected"));
        QTest::qWait(100);
        QCOMPARE(server.commands(), QStringList());
    }

    void uploadRunsOffTheGuiThreadAndReportsItsStates() {
        testftp::PyFtpServer server;
        QVERIFY(server.isRunning());
        QVERIFY(QDir(server.root()).mkdir("squad"));
        CommonDialog cdb;
        auto window = makeWindow(cdb);
        fillIn(*window, server.address(), "/squad");
        QStringList statusTexts;
        connect(box(window.get(), "Status"), &QLineEdit::textChanged, this,
                [&](const QString &text) { statusTexts << text; });
        QSignalSpy finished(window.get(), &UploadWindow::uploadFinished);
        m_picture = "logo.paa";
        button(window.get())->click();
        m_picture = "changed after the start.paa";
        QVERIFY(window->isUploading());
        QVERIFY(!button(window.get())->isEnabled());
        QVERIFY(finished.wait(20000));
        QVERIFY(button(window.get())->isEnabled());
        QCOMPARE(MessageBox::takeShown().size(), 0);
        for (const char *name : {"squad.xml", "squad.dtd", "squad.xsl", "logo.paa"})
            QCOMPARE(testftp::readAll(server.root() + "/squad/" + QLatin1String(name)),
                     QByteArray("content of ") + name);
        QCOMPARE(box(window.get(), "Status")->text(), QString("Disconnected"));
        QCOMPARE(statusTexts.first(), QString("Resolving Host"));
        for (const char *text : {"Connecting", "Connected", "Request Sent", "Response Received",
                                 "Response Completed", "Disconnecting"})
            QVERIFY2(statusTexts.contains(QLatin1String(text)), text);
        for (const QString &text : statusTexts)
            QVERIFY(!text.contains("secret"));
        m_picture = "logo.paa";
    }

    void failuresEndInAMessage() {
        CommonDialog cdb;
        auto window = makeWindow(cdb);
        fillIn(*window, QStringLiteral("127.0.0.1:%1").arg(testftp::freePort()), "squad");
        box(window.get(), "ftppass")->setText("T0pSecretPass");
        QSignalSpy finished(window.get(), &UploadWindow::uploadFinished);
        MessageBox::setNextAnswer(MessageBox::Ok);
        button(window.get())->click();
        QVERIFY(finished.wait(20000));
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].style, int(MessageBox::Critical));
        QCOMPARE(shown[0].title, QString("Troopbook"));
        QVERIFY(!shown[0].text.contains("T0pSecretPass"));
        QCOMPARE(box(window.get(), "Status")->text(), QString("Remote Error"));
    }

    void cancellingAndClosingDuringAnUpload() {
        testftp::PyFtpServer server({.fault = "stall-pwd"});
        QVERIFY(server.isRunning());
        CommonDialog cdb;
        auto window = makeWindow(cdb);
        window->setSessionOptions({.timeout = 60s});
        fillIn(*window, server.address(), QString());
        QSignalSpy finished(window.get(), &UploadWindow::uploadFinished);

        button(window.get())->click();
        QTRY_VERIFY_WITH_TIMEOUT(server.commands().contains("PWD"), 10000);
        QTest::qWait(50);
        QVERIFY(window->isUploading());
        QElapsedTimer clock;
        clock.start();
        window->cancelUpload();
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(!window->isUploading());
        QVERIFY(button(window.get())->isEnabled());
        QTest::qWait(50);
        QCOMPARE(finished.size(), 0);
        QCOMPARE(MessageBox::takeShown().size(), 0);
    }

    void closingOrExitReturnsAtOnceInEveryPhase_data() {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<bool>("viaExit");
        for (const bool viaExit : {false, true}) {
            const char *how = viaExit ? "exit" : "close";
            QTest::addRow("%s in name lookup", how) << "lookup" << viaExit;
            QTest::addRow("%s in connect", how) << "connect" << viaExit;
            QTest::addRow("%s awaiting greeting", how) << "greeting" << viaExit;
            QTest::addRow("%s in TLS handshake", how) << "tls" << viaExit;
            QTest::addRow("%s awaiting AUTH TLS reply", how) << "auth" << viaExit;
            QTest::addRow("%s awaiting reply", how) << "reply" << viaExit;
        }
    }
    void closingOrExitReturnsAtOnceInEveryPhase() {
        QFETCH(QString, phase);
        QFETCH(bool, viaExit);
        testftp::EndingUpload run(phase, [this] { return m_picture; });
        QVERIFY(run.silent.isRunning());
        std::optional<testftp::PyFtpServer> stalling;
        QString host = run.silent.address();
        if (phase == "lookup") {
            host = "ftp.troopbook.invalid";
        } else if (phase == "tls") {
            host = "ftps://" + host;
        } else if (phase == "auth" || phase == "reply") {
            stalling.emplace(
                testftp::PyFtpOptions{.fault = phase == "auth" ? "stall-auth" : "stall-pwd"});
            QVERIFY(stalling->isRunning());
            host = (phase == "auth" ? "ftpes://" : "") + stalling->address();
        }
        const QPointer<UploadWindow> &window = run.window;
        window->setSessionOptions({.timeout = 60s, .nameLookup = run.lookup.function()});
        fillIn(*window, host, QString());
        window->show();
        button(window)->click();
        if (phase == "lookup")
            QTRY_VERIFY_WITH_TIMEOUT(run.lookup.isEntered(), 10000);
        else if (stalling)
            QTRY_VERIFY_WITH_TIMEOUT(
                !stalling->commands().filter(phase == "auth" ? "AUTH " : "PWD").isEmpty(), 10000);
        else
            QTRY_COMPARE_WITH_TIMEOUT(box(window, "Status")->text(), QString("Connecting"), 10000);
        QTest::qWait(50);
        QVERIFY(window->isUploading());

        QVERIFY(run.endFromOutside(viaExit));
        // Quitting closes the windows too, and this one deletes itself on close.
        QTRY_VERIFY(window.isNull());
        // The worker left behind ends by itself, long before the stall or the time-out would.
        QTRY_VERIFY(run.noWorkerLeft());
        QCOMPARE(MessageBox::takeShown().size(), 0);
    }
};

QTEST_MAIN(TestUploadWindow)
#include "tst_uploadwindow.moc"
