// The editor's "Check published squad…": asking for the address, the window and its lists, the
// check off the GUI thread and its cancel.
#include "app/findingsview.h"
#include "app/mainwindow.h"
#include "app/publishedcheckwindow.h"
#include "app/uploadwindow.h"
#include "publish/webfetcher.h"
#include "squad/squadwriter.h"
#include "ui/commondialog.h"
#include "ui/inputbox.h"
#include "ui/messagebox.h"
#include "webserver.h"

#include "../common/tinypicture.h"
#include "../upload/ftpservers.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QTreeView>

using namespace std::chrono_literals;

namespace {

squad::SquadData owls() {
    squad::SquadData squad;
    squad.properties = {"OWL", "Night Owls", "", "", "logo.paa", ""};
    squad.mmbdata.append({"76561197960287930", "Ann", "", "", "", ""});
    squad.mmbdata.append({"76561197960287931", "Bob", "", "", "", ""});
    return squad;
}

QImage iconImage(const QIcon &icon) {
    return icon.pixmap(16, 16).toImage();
}

} // namespace

class TestPublishedCheckWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<testweb::WebServer> m_server;

    void setUpFetcher(app::MainWindow &window, std::chrono::milliseconds timeout = 10s,
                      const testweb::WebServer *server = nullptr) {
        if (!server)
            server = m_server.get();
        window.setWebFetcherSetup([server, timeout](publish::WebFetcher &fetcher) {
            fetcher.setConnectTo(server->connectTo());
            fetcher.setTrustedCertificates(server->certificate());
            fetcher.setTimeout(timeout);
        });
    }

    static QAction *checkPublished(app::MainWindow &window) {
        return window.findChild<QAction *>(QStringLiteral("mnuToolsCheckPublished"));
    }

    static QStringList texts(const QListWidget *list) {
        QStringList found;
        for (int i = 0; i < list->count(); ++i)
            found << list->item(i)->text();
        return found;
    }

    // What the findings list shows: its rows' messages, or the sentence it shows without rows.
    static QStringList texts(const app::FindingsView *view) {
        if (view->showsEmptyText())
            return {view->findChild<QLabel *>("noFindings")->text()};
        const QAbstractItemModel *model = view->list()->model();
        QStringList found;
        for (int row = 0; row < model->rowCount(); ++row)
            found << model->index(row, app::FindingsModel::Message).data().toString();
        return found;
    }

private Q_SLOTS:
    void initTestCase() {
        m_server = std::make_unique<testweb::WebServer>();
        QVERIFY(m_server->isRunning());
        const QByteArray squadFile = squad::fileContents(owls());
        QList<std::pair<QString, QByteArray>> files{{"squad.xml", squadFile},
                                                    {"logo.paa", testpicture::tinyPaa()},
                                                    {"squad.dtd", "dtd"},
                                                    {"squad.xsl", "xsl"}};
        QVERIFY(m_server->stage("good", files));
        QVERIFY(m_server->stage("html", files, "squad.xml type text/html\n"));
        QVERIFY(m_server->stage("stall", files, "squad.xml stall\n"));
        QVERIFY(m_server->stage("bare",
                                {{"squad.xml", squadFile}, {"logo.paa", testpicture::tinyPaa()}}));
    }

    void cleanupTestCase() { m_server.reset(); }

    void toolsMenuStandsBetweenFileAndHelp() {
        app::MainWindow window;
        QStringList menus;
        for (QAction *a : window.menuBar()->actions())
            menus << a->text();
        QCOMPARE(menus.first(), QString("&File"));
        QCOMPARE(menus.last(), QString("&?"));
        QVERIFY(menus.indexOf("&Tools") > 0);
        QAction *item = checkPublished(window);
        QVERIFY(item);
        QCOMPARE(item->text(), QString("Check &published squad…"));
    }

    void windowListsTheFindings_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("editorHoldsTheSquad");
        QTest::addColumn<bool>("unsaved");
        QTest::addColumn<int>("problems");
        QTest::addColumn<int>("hints");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("firstFinding");
        QTest::newRow("all well") << "/good/squad.xml" << true << false << 0 << 0
                                  << "squad.xml: all is well."
                                  << "No problems found";
        QTest::newRow("empty editor, nothing to compare")
            << "/good/squad.xml" << false << false << 0 << 0 << "all is well."
            << "No problems found";
        QTest::newRow("a problem")
            << "/html/squad.xml" << true << false << 1 << 0 << "1 problem, 0 hints."
            << "as \"text/html\"";
        QTest::newRow("hints") << "/bare/squad.xml" << true << false << 0 << 2
                               << "0 problems, 2 hints."
                               << "squad.dtd is missing";
        QTest::newRow("unsaved edits differ")
            << "/good/squad.xml" << true << true << 1 << 0 << "1 problem, 0 hints."
            << "has changes that are not saved yet";
    }
    void windowListsTheFindings() {
        QFETCH(QString, path);
        QFETCH(bool, editorHoldsTheSquad);
        QFETCH(bool, unsaved);
        QFETCH(int, problems);
        QFETCH(int, hints);
        QFETCH(QString, summary);
        QFETCH(QString, firstFinding);

        app::MainWindow window;
        setUpFetcher(window);
        if (editorHoldsTheSquad)
            window.document().load(owls());
        if (unsaved) {
            window.document().setPropertyText(squad::Property::Name, "Day Owls");
            QVERIFY(window.document().modified());
        }
        ui::InputBox::setNextAnswer("http://localhost" + path);
        checkPublished(window)->trigger();
        app::PublishedCheckWindow *checkWindow = window.publishedCheckWindow();
        QVERIFY(checkWindow);
        QVERIFY(checkWindow->isVisible());
        QSignalSpy finished(checkWindow, &app::PublishedCheckWindow::checkFinished);
        QVERIFY(finished.wait(20000));

        const app::FindingsView *findings = checkWindow->findingsView();
        const auto *files = checkWindow->findChild<QListWidget *>("files");
        const auto *label = checkWindow->findChild<QLabel *>("summary");
        QVERIFY2(label->text().endsWith(summary), qPrintable(label->text()));
        QCOMPARE(findings->showsEmptyText(), problems + hints == 0);
        QVERIFY2(texts(findings).value(0).contains(firstFinding),
                 qPrintable(texts(findings).join(u'\n')));
        const QImage problem =
            iconImage(checkWindow->style()->standardIcon(QStyle::SP_MessageBoxCritical));
        const QImage hint =
            iconImage(checkWindow->style()->standardIcon(QStyle::SP_MessageBoxInformation));
        int problemIcons = 0;
        int hintIcons = 0;
        const QAbstractItemModel *model = findings->list()->model();
        QCOMPARE(model->rowCount(), problems + hints);
        for (int row = 0; row < model->rowCount(); ++row) {
            const QImage icon = iconImage(model->index(row, app::FindingsModel::Concerns)
                                              .data(Qt::DecorationRole)
                                              .value<QIcon>());
            problemIcons += icon == problem;
            hintIcons += icon == hint;
        }
        QCOMPARE(problemIcons, problems);
        QCOMPARE(hintIcons, hints);
        // The squad file, the picture, squad.dtd, squad.xsl and the same over https.
        QCOMPARE(files->count(), 5);
        QVERIFY(files->item(0)->text().startsWith("http://localhost" + path + ": "));

        // To look at.
        QVERIFY(checkWindow->grab().save(
            QStringLiteral(TROOPBOOK_TEST_OUTPUT_DIR "/published-check-window-%1.png")
                .arg(QTest::currentDataTag())
                .replace(u' ', u'-')));

        // A long finding runs onto the lines it needs, also when the window gets narrower.
        for (const int width : {checkWindow->width(), checkWindow->width() / 2}) {
            checkWindow->resize(width, checkWindow->height());
            QCoreApplication::processEvents();
            for (int row = 0; row < model->rowCount(); ++row) {
                const QModelIndex message = model->index(row, app::FindingsModel::Message);
                const QRect cell = findings->list()->visualRect(message);
                // At the cell's full width, which leaves out the margins, so at least this high.
                const int needed = findings->list()
                                       ->fontMetrics()
                                       .boundingRect(QRect(0, 0, cell.width(), 0), Qt::TextWordWrap,
                                                     message.data().toString())
                                       .height();
                QVERIFY2(cell.height() >= needed, qPrintable(QStringLiteral("%1 wide: %2 < %3")
                                                                 .arg(width)
                                                                 .arg(cell.height())
                                                                 .arg(needed)));
            }
        }
    }

    void addressIsAskedForAndRemembered() {
        app::MainWindow window;
        setUpFetcher(window);
        ui::InputBox::takeAsked();
        // A folder is no squad file: the box says why and asks again with what was typed.
        ui::InputBox::setNextAnswer(QStringLiteral("http://localhost/good/"));
        ui::MessageBox::setNextAnswer(ui::MessageBox::Ok);
        ui::InputBox::setNextAnswer(QStringLiteral("http://localhost/good/squad.xml"));
        checkPublished(window)->trigger();
        QVERIFY(window.publishedCheckWindow());
        QSignalSpy finished(window.publishedCheckWindow(),
                            &app::PublishedCheckWindow::checkFinished);
        QVERIFY(finished.wait(20000));
        const QList<ui::MessageBox::Shown> boxes = ui::MessageBox::takeShown();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes.first().text.contains("names a folder"));

        // Cancelled the next time: the address is still offered, no check runs.
        ui::InputBox::setNextAnswer(std::nullopt);
        checkPublished(window)->trigger();
        QVERIFY(!window.publishedCheckWindow()->isChecking());
        const QList<ui::InputBox::Asked> asked = ui::InputBox::takeAsked();
        QCOMPARE(asked.size(), 3);
        QCOMPARE(asked[0].text, QString());
        QCOMPARE(asked[1].text, QString("http://localhost/good/"));
        QCOMPARE(asked[2].text, QString("http://localhost/good/squad.xml"));
        QVERIFY(!asked[2].prompt.contains("last upload"));

        // "Check again" takes the kept address and the editor's squad as it is now.
        window.document().load(owls());
        window.document().setPropertyText(squad::Property::Tag, "OWLS");
        const qsizetype before = m_server->requests().count("http /good/squad.xml");
        window.publishedCheckWindow()->findChild<QPushButton *>("checkAgain")->click();
        QVERIFY(finished.wait(20000));
        QCOMPARE(ui::InputBox::takeAsked().size(), 0);
        QCOMPARE(m_server->requests().count("http /good/squad.xml"), before + 1);
        const QList<squad::Finding> &findings = window.publishedCheckWindow()->report().findings;
        QCOMPARE(findings.size(), 1);
        QVERIFY2(findings[0].message.contains("the tag differs"), qPrintable(findings[0].message));
    }

    // Uploaded with the upload window, fetched from the web server that serves the FTP folder.
    void squadUploadedByTheEditorIsWellPublished() {
        testftp::PyFtpServer ftp;
        QVERIFY(ftp.isRunning());
        QVERIFY(QDir(ftp.root()).mkdir("clan"));
        const testweb::WebServer web(ftp.root());
        QVERIFY(web.isRunning());
        QTemporaryDir local;
        QVERIFY(testweb::writeFile(local.filePath("squad.xml"), squad::fileContents(owls())));
        for (const char *name : {"squad.dtd", "squad.xsl"})
            QVERIFY(testweb::writeFile(local.filePath(QLatin1String(name)), name));
        QVERIFY(testweb::writeFile(local.filePath("logo.paa"), testpicture::tinyPaa()));

        app::MainWindow window;
        setUpFetcher(window, 10s, &web);
        window.document().load(owls());
        window.findChild<QAction *>(QStringLiteral("mnuFileUpload"))->trigger();
        app::UploadWindow *uploadWindow = window.uploadWindow();
        QVERIFY(uploadWindow);
        const auto field = [&](const char *name) {
            return uploadWindow->findChild<QLineEdit *>(QLatin1String(name));
        };
        field("ftphost")->setText(ftp.address());
        field("ftpuser")->setText("squad");
        field("ftppass")->setText("secret");
        field("ftpdir")->setText("clan");
        ui::CommonDialog::setNextPath(local.filePath("squad.xml"));
        QTest::mouseClick(field("locdir"), Qt::LeftButton);
        QTRY_COMPARE(uploadWindow->locfile(), QString("squad.xml"));
        QSignalSpy uploaded(uploadWindow, &app::UploadWindow::uploadFinished);
        uploadWindow->findChild<QPushButton *>(QStringLiteral("Command1"))->click();
        QVERIFY(uploaded.wait(20000));
        QCOMPARE(ui::MessageBox::takeShown().size(), 0);
        // Closing the upload window deletes it; the editor keeps what the upload did.
        uploadWindow->close();
        QTRY_VERIFY(!window.uploadWindow());

        ui::InputBox::takeAsked();
        ui::InputBox::setNextAnswer(QStringLiteral("http://localhost/clan/squad.xml"));
        checkPublished(window)->trigger();
        const QList<ui::InputBox::Asked> asked = ui::InputBox::takeAsked();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].prompt.startsWith(
                     QStringLiteral("The last upload stored the squad file on %1 as "
                                    "/clan/squad.xml.\n")
                         .arg(ftp.address())),
                 qPrintable(asked[0].prompt));
        QCOMPARE(asked[0].text, QString());

        app::PublishedCheckWindow *checkWindow = window.publishedCheckWindow();
        QSignalSpy finished(checkWindow, &app::PublishedCheckWindow::checkFinished);
        QVERIFY(finished.wait(20000));
        QVERIFY2(checkWindow->report().findings.isEmpty(),
                 qPrintable(texts(checkWindow->findingsView()).join(u'\n')));
        QCOMPARE(checkWindow->report().files.size(), 5);
        QCOMPARE(checkWindow->findChild<QLabel *>("summary")->text(),
                 QString("http://localhost/clan/squad.xml: all is well."));
    }

    void aNewCheckReplacesARunningOne() {
        app::MainWindow window;
        setUpFetcher(window, 20s);
        ui::InputBox::setNextAnswer(QStringLiteral("http://localhost/stall/squad.xml"));
        const qsizetype before = m_server->requests().count("http /stall/squad.xml");
        checkPublished(window)->trigger();
        QTRY_VERIFY(m_server->requests().count("http /stall/squad.xml") > before);
        app::PublishedCheckWindow *checkWindow = window.publishedCheckWindow();
        QSignalSpy finished(checkWindow, &app::PublishedCheckWindow::checkFinished);
        ui::InputBox::setNextAnswer(QStringLiteral("http://localhost/good/squad.xml"));
        checkPublished(window)->trigger();
        QCOMPARE(window.publishedCheckWindow(), checkWindow);
        QVERIFY(finished.wait(20000));
        // Only the second check speaks, once: the first one's signals were queued before.
        QCoreApplication::processEvents();
        QCOMPARE(finished.count(), 1);
        QVERIFY(!checkWindow->report().cancelled);
        const QStringList files = texts(checkWindow->findChild<QListWidget *>("files"));
        QCOMPARE(files.size(), 5);
        QCOMPARE(files.filter("/stall/").size(), 0);

        // Once a further check starts, the list no longer speaks for the squad.
        QVERIFY2(texts(checkWindow->findingsView()).join(u'\n').contains("No problems found"),
                 qPrintable(texts(checkWindow->findingsView()).join(u'\n')));
        ui::InputBox::setNextAnswer(QStringLiteral("http://localhost/stall/squad.xml"));
        checkPublished(window)->trigger();
        QVERIFY(checkWindow->isChecking());
        QCOMPARE(texts(checkWindow->findingsView()), QStringList{QString()});
    }

    void closingCancelsTheCheck_data() {
        QTest::addColumn<bool>("closeTheEditor");
        QTest::newRow("check window closed") << false;
        QTest::newRow("editor closed") << true;
    }
    void closingCancelsTheCheck() {
        QFETCH(bool, closeTheEditor);
        app::MainWindow window;
        window.show();
        setUpFetcher(window, 20s);
        ui::InputBox::setNextAnswer(QStringLiteral("http://localhost/stall/squad.xml"));
        const qsizetype before = m_server->requests().count("http /stall/squad.xml");
        checkPublished(window)->trigger();
        QPointer<app::PublishedCheckWindow> checkWindow = window.publishedCheckWindow();
        QVERIFY(checkWindow);
        // The editor's event loop runs on while the server holds the request.
        QTRY_VERIFY(m_server->requests().count("http /stall/squad.xml") > before);
        QVERIFY(checkWindow->isChecking());
        QTest::keyClicks(window.findChild<QLineEdit *>("squadnick"), "NEW");
        QCOMPARE(window.document().propertyText(squad::Property::Tag), QString("NEW"));
        if (closeTheEditor) {
            ui::MessageBox::setNextAnswer(ui::MessageBox::No); // do not save
            QVERIFY(window.close());
        } else {
            checkWindow->close();
        }
        // Closing deletes the window, whose worker ends at once when cancelled.
        QTRY_VERIFY_WITH_TIMEOUT(checkWindow.isNull(), 5000);
        QVERIFY(!ui::MessageBox::hasPendingAnswers() || !closeTheEditor);
        ui::MessageBox::takeShown();
    }
};

QTEST_MAIN(TestPublishedCheckWindow)
#include "tst_publishedcheckwindow.moc"
