// Recent files, and members brought in from and taken out to other files, in the editor window.
#include "editorhelpers.h"

#include "app/importdialog.h"
#include "app/memberstransfer.h"
#include "app/recentfiles.h"
#include "squad/memberscsv.h"
#include "squad/squadwriter.h"
#include "ui/commondialog.h"
#include "ui/messagebox.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTemporaryDir>

using namespace editortest;
using ui::CommonDialog;
using ui::MessageBox;

class TestRosterFiles : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes) {
        return writeTestFile(QDir(m_dir.path()), name, bytes);
    }

    // The files listed in the Open Recent menu, as the person sees them, after opening it.
    static QStringList recentShown(app::MainWindow &w) {
        auto *menu = w.findChild<QMenu *>("mnuFileRecent");
        Q_EMIT menu->aboutToShow();
        QStringList shown;
        for (const QAction *a : menu->actions()) {
            if (!a->isSeparator() && a->data().isValid())
                shown << a->data().toString();
        }
        return shown;
    }

    static void chooseRecent(app::MainWindow &w, const QString &path) {
        auto *menu = w.findChild<QMenu *>("mnuFileRecent");
        Q_EMIT menu->aboutToShow();
        for (QAction *a : menu->actions()) {
            if (a->data().toString() == path)
                return a->trigger();
        }
        QFAIL("not in the menu");
    }

private Q_SLOTS:
    void init() {
        app::MainWindow w;
        w.recentFiles().clear();
        MessageBox::takeShown();
    }
    void cleanup() {
        QVERIFY(!MessageBox::hasPendingAnswers());
        QVERIFY(!CommonDialog::hasPendingPaths());
    }

    void recentFilesAreTheLastEightOpenedOrSaved() {
        QStringList files;
        for (int i = 0; i < 9; ++i)
            files << write(QString("squad %1 & co.xml").arg(i), squad::fileContents(squadOf({})));
        {
            app::MainWindow w;
            for (const QString &file : files)
                QVERIFY(w.openAtStart(file));
            // Opened again: first, and only once.
            QVERIFY(w.openAtStart(files[3]));
            CommonDialog::setNextPath(m_dir.filePath("saved.xml"));
            action(w, "mnuFileSave")->trigger();
        }
        // The next start has them too.
        app::MainWindow w;
        const QStringList expected{m_dir.filePath("saved.xml"),
                                   files[3],
                                   files[8],
                                   files[7],
                                   files[6],
                                   files[5],
                                   files[4],
                                   files[2]};
        QCOMPARE(recentShown(w), expected);
        auto *menu = w.findChild<QMenu *>("mnuFileRecent");
        QCOMPARE(menu->actions().value(1)->text(), "&2 " + QString(files[3]).replace("&", "&&"));

        QAction *clear = menu->actions().last();
        QCOMPARE(clear->objectName(), QString("mnuFileRecentClear"));
        clear->trigger();
        QCOMPARE(recentShown(w), QStringList());
        QVERIFY(!menu->actions().last()->isEnabled());
    }

    void choosingARecentFileOpensItAfterTheUnsavedChangesQuestion() {
        const QString file = write("recent.xml", squad::fileContents(squadOf({"R1", "R2"})));
        Shown s;
        app::MainWindow &w = s.window;
        QVERIFY(w.openAtStart(file));
        action(w, "mnuFileNew")->trigger();
        typeOver(box(w, "squadname"), "unsaved");
        MessageBox::setNextAnswer(MessageBox::Cancel);
        chooseRecent(w, file);
        QCOMPARE(box(w, "squadname")->text(), QString("unsaved"));
        MessageBox::setNextAnswer(MessageBox::No);
        chooseRecent(w, file);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].text, QString("File was modified !\r\nSave it now?"));
        QCOMPARE(listEntries(w), (QStringList{"R1", "R2"}));
        QCOMPARE(w.filePath(), file);
        QVERIFY(!w.document().modified());
    }

    void aRecentFileThatIsGoneLeavesTheList() {
        const QString kept = write("kept.xml", squad::fileContents(squadOf({})));
        const QString gone = write("gone.xml", squad::fileContents(squadOf({})));
        app::MainWindow w;
        QVERIFY(w.openAtStart(kept));
        QVERIFY(w.openAtStart(gone));
        QVERIFY(QFile::remove(gone));
        MessageBox::setNextAnswer(MessageBox::Ok);
        chooseRecent(w, gone);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.contains(gone));
        QCOMPARE(shown[0].style, int(MessageBox::Exclamation));
        QCOMPARE(recentShown(w), QStringList{kept});
        QCOMPARE(w.filePath(), gone);
    }

    // The preview counts what comes in and lists the IDs the squad has; Cancel changes nothing.
    void importShowsAPreviewFirst() {
        Shown s;
        app::MainWindow &w = s.window;
        w.document().load(squadOf({"A", "B"}));
        CommonDialog::setNextPath(
            write("roster.csv", "id;nick\r\nid-B;Bee\r\n;New one\r\nid-A;Ace\r\n7;Seven\r\n"));
        action(w, "mnuFileImport")->trigger();
        app::ImportDialog *preview = w.membersTransfer().preview();
        QVERIFY(preview);
        const QString summary = preview->findChild<QLabel *>("summary")->text();
        QVERIFY2(summary.startsWith("4 members read from") &&
                     summary.endsWith("2 members will be added."),
                 qPrintable(summary));
        auto *ids = preview->findChild<QListWidget *>("existingIds");
        QCOMPARE(ids->count(), 2);
        QCOMPARE(ids->item(0)->text() + ' ' + ids->item(1)->text(), QString("id-B id-A"));
        QCOMPARE(preview->existingId(), squad::ExistingId::Skip);
        if (qEnvironmentVariableIsSet("TROOPBOOK_IMPORT_SCREENSHOT"))
            preview->grab().save(qEnvironmentVariable("TROOPBOOK_IMPORT_SCREENSHOT"));
        preview->reject();
        QCOMPARE(w.document().content(), squadOf({"A", "B"}));
        QVERIFY(!w.document().modified());
        QVERIFY(!action(w, "mnuEditUndo")->isEnabled());
    }

    void badImportSaysWhereAndImportsNothing_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("says");
        QTest::newRow("broken quote")
            << QByteArray("nick,remark\nAnn,\"open\n") << "Row 2, column 2: The quote";
        QTest::newRow("no usable header")
            << QByteArray("Name 1;Mail\nAnn;a@x\n") << "Row 1: the header names none";
        QTest::newRow("squad file cut short")
            << QByteArray("<squad nick=\"x\">\n<member id=\"1\" nick=\"A\">\n<name>Ann")
            << "ends before the end of the squad";
        QTest::newRow("squad file with a comment never closed")
            << QByteArray("<squad nick=\"x\">\n<member id=\"1\" nick=\"A\">\n<!-- Ann")
            << "Line 3:";
        QTest::newRow("no members") << QByteArray("id,nick\n") << "holds no members";
    }
    void badImportSaysWhereAndImportsNothing() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, says);
        app::MainWindow w;
        w.document().load(squadOf({"A"}));
        CommonDialog::setNextPath(write("bad", bytes));
        MessageBox::setNextAnswer(MessageBox::Ok);
        action(w, "mnuFileImport")->trigger();
        QVERIFY(!w.membersTransfer().preview());
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].text.contains(says), qPrintable(shown[0].text));
        QCOMPARE(w.document().content(), squadOf({"A"}));
    }

    void exportWritesTheMembersAsCsv() {
        app::MainWindow w;
        const QString squadFile = write("clan.xml", squad::fileContents(squadOf({"=A", "B"})));
        QVERIFY(w.openAtStart(squadFile));
        CommonDialog::setNextPath(m_dir.filePath("out.csv"));
        action(w, "mnuFileExport")->trigger();
        const auto uses = CommonDialog::takeUses();
        QCOMPARE(uses.last().fileName, QString("clan.csv"));
        QCOMPARE(uses.last().flags, int(CommonDialog::OverwritePrompt));
        QFile out(m_dir.filePath("out.csv"));
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), squad::membersCsv(squadOf({"=A", "B"}).mmbdata));
        // Exporting changes nothing in the squad.
        QVERIFY(!w.document().modified());
    }
};

QTEST_MAIN(TestRosterFiles)
#include "tst_rosterfiles.moc"
