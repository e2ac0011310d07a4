// What a person sees: no caption is cut off, and a picture of the window for the README.
#include "app/checkwindow.h"
#include "app/mainwindow.h"
#include "app/uploadwindow.h"
#include "squad/squadwriter.h"
#include "ui/commondialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

class TestLook : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Opening a file puts it on the recent files: in the test folder of the settings.
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void captionsFitTheirControls() {
        app::MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        int checked = 0;
        for (const QLabel *label : window.findChildren<QLabel *>()) {
            const QSize needed = label->fontMetrics().size(0, label->text());
            QVERIFY2(needed.width() <= label->contentsRect().width() &&
                         needed.height() <= label->contentsRect().height(),
                     qPrintable(label->objectName()));
            ++checked;
        }
        for (const QPushButton *button : window.findChildren<QPushButton *>()) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QSize needed = button->style()->sizeFromContents(
                QStyle::CT_PushButton, &option,
                button->fontMetrics().size(Qt::TextShowMnemonic, button->text()), button);
            // Qt's size hint adds a generous minimum width; the text itself plus the bevel must
            // fit.
            const int textWidth = button->fontMetrics().horizontalAdvance(button->text());
            QVERIFY2(textWidth + 8 <= button->width() && needed.height() <= button->height() + 4,
                     qPrintable(button->objectName()));
            ++checked;
        }
        for (const QGroupBox *frame : window.findChildren<QGroupBox *>()) {
            QVERIFY2(frame->fontMetrics().horizontalAdvance(frame->title()) < frame->width() / 2,
                     qPrintable(frame->objectName()));
            // The frame's caption must not run under its first row of controls.
            const int captionBottom = frame->fontMetrics().height();
            for (const QWidget *child : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                QVERIFY2(child->y() >= captionBottom - 2, qPrintable(child->objectName()));
            ++checked;
        }
        for (const QLineEdit *box : window.findChildren<QLineEdit *>()) {
            // One line of text fits inside the box's frame.
            QVERIFY2(box->fontMetrics().height() + 4 <= box->height(),
                     qPrintable(box->objectName()));
            ++checked;
        }
        QCOMPARE(checked, 12 + 6 + 2 + 12);
    }

    void screenshotWithAFewMembers() {
        const QString target = qEnvironmentVariable("TROOPBOOK_SCREENSHOT");
        app::MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto type = [&](const char *name, const QString &text) {
            auto *box = window.findChild<QLineEdit *>(QString::fromLatin1(name));
            box->selectAll();
            QTest::keyClicks(box, text);
        };
        type("squadnick", "=NO=");
        type("squadname", "Night Owls");
        type("squadmail", "owls@example.org");
        type("squadpicture", "owls.paa");
        type("squadweb", "www.example.org/owls");
        type("squadtitle", "=NO=");
        auto *add = window.findChild<QPushButton *>("Command4");
        const QStringList nicks{"Mudskipper", "Lady Fennec", "Bramblejack", "Otterpop"};
        for (const QString &nick : nicks) {
            QTest::mouseClick(add, Qt::LeftButton);
            type("mmbnick", nick);
        }
        type("mmbId", "1004");
        type("mmbname", "Otto Popp");
        type("mmbmail", "otterpop@example.org");
        type("mmbicq", "123456789");
        type("mmbremark", "medic");
        QCOMPARE(window.document().memberCount(), 4);
        const QImage picture = window.grab().toImage();
        QVERIFY(!picture.isNull());
        if (target.isEmpty())
            QSKIP("set TROOPBOOK_SCREENSHOT to a file name to keep the picture");
        QVERIFY(picture.save(target));
    }

    void uploadWindowScreenshot() {
        ui::CommonDialog cdb;
        app::UploadWindow window(cdb, [] { return QStringLiteral("owls.paa"); });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto type = [&](const char *name, const QString &text) {
            QTest::keyClicks(window.findChild<QLineEdit *>(QString::fromLatin1(name)), text);
        };
        type("ftphost", "ftpes://ftp.example.org");
        type("ftpuser", "owls");
        type("ftppass", "hoot-hoot");
        type("ftpdir", "/squad");
        for (const QLabel *label : window.findChildren<QLabel *>()) {
            const QRect needed = label->fontMetrics().boundingRect(
                label->contentsRect(), Qt::TextWordWrap | label->alignment(), label->text());
            QVERIFY2(needed.width() <= label->contentsRect().width() &&
                         needed.height() <= label->contentsRect().height(),
                     qPrintable(label->objectName()));
        }
        const QImage picture = window.grab().toImage();
        QVERIFY(!picture.isNull());
        const QString target = qEnvironmentVariable("TROOPBOOK_UPLOAD_SCREENSHOT");
        if (target.isEmpty())
            QSKIP("set TROOPBOOK_UPLOAD_SCREENSHOT to a file name to keep the picture");
        QVERIFY(picture.save(target));
    }

    // A squad leader's first check: a tag the game will not show a logo for, a shared ID, a
    // picture not beside the file, and a few hints.
    void checkWindowScreenshot() {
        QTemporaryDir dir;
        for (const char *name : {"squad.dtd", "squad.xsl"}) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        app::MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        squad::SquadData squad;
        squad.properties = {"=NO=",     "Night Owls", "owls@example.org", "www.example.org/owls",
                            "owls.paa", "=NO="};
        const QStringList nicks{"Mudskipper", "Lady Fennec", "Bramblejack", "Otterpop",
                                "",           "Goose"};
        const QStringList ids{"76561198000000101",
                              "76561198000000102",
                              "76561198000000103",
                              "76561198000000102",
                              "1004",
                              "ID HERE"};
        for (int i = 0; i < nicks.size(); ++i)
            squad.mmbdata.append(squad::Member{ids[i], nicks[i], "", "", "", ""});
        QFile file(dir.filePath("squad.xml"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(squad::fileContents(squad));
        file.close();
        QVERIFY(window.openAtStart(file.fileName()));
        QTest::keyClick(&window, Qt::Key_F7);
        app::CheckWindow *check = window.checkWindow();
        QVERIFY(check);
        QVERIFY(QTest::qWaitForWindowExposed(check));
        QTreeView *list = check->findingsView()->list();
        QCOMPARE(list->model()->rowCount(), 7);
        // The whole first column shows, the nick of every member included.
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            const QModelIndex concerns = list->model()->index(row, 0);
            const int needed = list->sizeHintForIndex(concerns).width();
            QVERIFY2(needed <= list->columnWidth(0), qPrintable(concerns.data().toString()));
            QVERIFY2(list->visualRect(concerns).bottom() < list->viewport()->height(),
                     "rows beyond the window");
        }
        for (const QLabel *label : check->findChildren<QLabel *>()) {
            if (!label->isVisible())
                continue;
            const QRect needed = label->fontMetrics().boundingRect(
                label->contentsRect(), Qt::TextWordWrap | label->alignment(), label->text());
            QVERIFY2(needed.height() <= label->contentsRect().height(),
                     qPrintable(label->objectName()));
        }
        QTest::qWait(50);
        const QImage picture = check->grab().toImage();
        QVERIFY(!picture.isNull());
        const QString target = qEnvironmentVariable("TROOPBOOK_CHECK_SCREENSHOT");
        if (target.isEmpty())
            QSKIP("set TROOPBOOK_CHECK_SCREENSHOT to a file name to keep the picture");
        QVERIFY(picture.save(target));
    }
};

QTEST_MAIN(TestLook)
#include "tst_look.moc"
