// Undo and redo over the squad's one history, through the editor window's own controls.
#include "editorhelpers.h"

#include "app/edithistory.h"
#include "app/editmenu.h"
#include "app/importdialog.h"
#include "app/memberstransfer.h"
#include "squad/squadwriter.h"
#include "ui/commondialog.h"
#include "ui/messagebox.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

using namespace editortest;
using squad::Property;
using ui::CommonDialog;
using ui::MessageBox;

namespace {

// The window as after opening a file: the squad loaded, nothing to undo, nothing modified.
void open(app::MainWindow &w, const QStringList &nicks, int selected) {
    w.document().load(squadOf(nicks));
    w.history().restart();
    w.document().setModified(false);
    w.setListIndex(selected);
}

// The selected member dropped on the upper half of the entry `before`, or below the last entry
// when that is the count. (Offscreen, no drag can run, so the drop is handed over directly.)
void drag(app::MainWindow &w, int before) {
    QListView *view = list(w);
    const int count = view->model()->rowCount();
    const QRect last = view->visualRect(view->model()->index(count - 1, 0));
    w.findChild<app::EditMenu *>()->dropSelected(
        before < count ? view->visualRect(view->model()->index(before, 0)).topLeft() + QPoint(4, 2)
                       : last.bottomLeft() + QPoint(4, 6));
}

void keys(QKeyCombination combination) {
    QTest::keyClick(QApplication::focusWidget(), combination.key(),
                    combination.keyboardModifiers());
}

} // namespace

class TestUndoRedo : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes) {
        return writeTestFile(QDir(m_dir.path()), name, bytes);
    }

    void import(app::MainWindow &w, const QByteArray &bytes, bool replace) {
        CommonDialog::setNextPath(write("import", bytes));
        action(w, "mnuFileImport")->trigger();
        app::ImportDialog *preview = w.membersTransfer().preview();
        QVERIFY(preview);
        if (replace)
            preview->findChild<QRadioButton *>("replace")->setChecked(true);
        preview->accept();
    }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void cleanup() {
        MessageBox::takeShown();
        QVERIFY(!MessageBox::hasPendingAnswers());
        QVERIFY(!CommonDialog::hasPendingPaths());
    }

    // Each action is one step. Undo brings back the squad as opened, unmodified, with the
    // selection and box of the change; redo the squad as the action left it, modified.
    void undoAndRedoEachAction_data() {
        QTest::addColumn<QStringList>("nicks");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("act");
        QTest::addColumn<QStringList>("nicksAfter");
        QTest::addColumn<int>("selectedAfter");
        QTest::addColumn<int>("selectedAfterUndo");
        QTest::addColumn<QString>("focusAfterUndo");
        QTest::addColumn<bool>("byKeys");
        const QStringList abc{"A", "B", "C"};
        QTest::newRow("type a nick, Ctrl+Z in the box")
            << abc << 1 << "type nick" << QStringList{"A", "Zed", "C"} << 1 << 1 << "mmbnick"
            << true;
        QTest::newRow("type a squad name, Ctrl+Z in the box")
            << abc << 0 << "type name" << abc << 0 << 0 << "squadname" << true;
        QTest::newRow("type a remark, then select another member")
            << abc << 2 << "type remark and leave" << abc << 0 << 2 << "mmbremark" << false;
        QTest::newRow("picture set in one call")
            << abc << 1 << "set picture" << abc << 1 << 1 << "squadpicture" << false;
        QTest::newRow("add") << abc << 0 << "add" << QStringList{"A", "B", "C", "Newbie"} << 3 << 0
                             << "" << false;
        QTest::newRow("add to none")
            << QStringList{} << -1 << "add" << QStringList{"Newbie"} << 0 << -1 << "" << true;
        QTest::newRow("remove the middle one")
            << abc << 1 << "remove" << QStringList{"A", "C"} << 1 << 1 << "" << false;
        QTest::newRow("remove the last one")
            << abc << 2 << "remove" << QStringList{"A", "B"} << -1 << 2 << "" << true;
        QTest::newRow("move up with Ctrl+Up")
            << abc << 2 << "move up" << QStringList{"A", "C", "B"} << 1 << 2 << "" << true;
        QTest::newRow("move down with Ctrl+Down")
            << abc << 0 << "move down" << QStringList{"B", "A", "C"} << 1 << 0 << "" << false;
        QTest::newRow("drag the first to the end")
            << abc << 0 << "drag to end" << QStringList{"B", "C", "A"} << 2 << 0 << "" << false;
        QTest::newRow("drag the last to the front")
            << abc << 2 << "drag to front" << QStringList{"C", "A", "B"} << 0 << 2 << "" << false;
        QTest::newRow("sort: locale order, case aside, stable")
            << QStringList{"bob",  QString::fromUtf8("Émile"), "alice", "Zed", "Alice", "Nick10",
                           "Nick9"}
            << 0 << "sort" << QStringList{"alice", "Alice",  "bob", QString::fromUtf8("Émile"),
                                          "Nick9", "Nick10", "Zed"}
            << 2 << 0 << "" << false;
        QTest::newRow("import CSV, existing IDs skipped")
            << abc << 0 << "import csv" << QStringList{"A", "B", "C", "Nine"} << 3 << 0 << ""
            << false;
        QTest::newRow("import CSV, existing IDs replaced")
            << abc << 1 << "import csv replace" << QStringList{"A", "Bee", "C", "Nine"} << 3 << 1
            << "" << true;
        QTest::newRow("import squad file")
            << abc << 0 << "import squad" << QStringList{"A", "B", "C", "X", "Y"} << 3 << 0 << ""
            << false;
    }
    void undoAndRedoEachAction() {
        QFETCH(QStringList, nicks);
        QFETCH(int, selected);
        QFETCH(QString, act);
        QFETCH(QStringList, nicksAfter);
        QFETCH(int, selectedAfter);
        QFETCH(int, selectedAfterUndo);
        QFETCH(QString, focusAfterUndo);
        QFETCH(bool, byKeys);
        Shown s;
        app::MainWindow &w = s.window;
        open(w, nicks, selected);
        const squad::SquadData opened = w.document().content();

        if (act == "type nick") {
            typeOver(box(w, "mmbnick"), "Zed");
        } else if (act == "type name") {
            typeOver(box(w, "squadname"), "Owls");
        } else if (act == "type remark and leave") {
            typeOver(box(w, "mmbremark"), "gone");
            clickEntry(w, 0);
        } else if (act == "set picture") {
            w.setPictureName("new.paa");
            QCOMPARE(box(w, "squadpicture")->text(), QString("new.paa"));
        } else if (act == "add") {
            QTest::mouseClick(button(w, "Command4"), Qt::LeftButton);
        } else if (act == "remove") {
            QTest::mouseClick(button(w, "Command5"), Qt::LeftButton);
        } else if (act == "move up" || act == "move down") {
            list(w)->setFocus();
            keys(
                QKeyCombination(Qt::ControlModifier, act == "move up" ? Qt::Key_Up : Qt::Key_Down));
        } else if (act.startsWith("drag")) {
            drag(w, act == "drag to end" ? int(nicks.size()) : 0);
        } else if (act == "sort") {
            action(w, "mnuEditSort")->trigger();
        } else if (act.startsWith("import csv")) {
            import(w, "id,nick\r\nid-B,Bee\r\n9,Nine\r\n", act.endsWith("replace"));
        } else if (act == "import squad") {
            import(w, squad::fileContents(squadOf({"X", "Y"})), false);
        }
        QCOMPARE(listEntries(w), nicksAfter);
        QCOMPARE(w.listIndex(), selectedAfter);
        QVERIFY(w.document().modified());
        const squad::SquadData changed = w.document().content();
        QVERIFY(changed != opened);
        // One step, however many keystrokes.
        QCOMPARE(w.history().stack().count(), 1);

        const auto undo = [&] {
            if (byKeys)
                keys(QKeyCombination(Qt::ControlModifier, Qt::Key_Z));
            else
                action(w, "mnuEditUndo")->trigger();
        };
        undo();
        QCOMPARE(w.document().content(), opened);
        QCOMPARE(w.listIndex(), selectedAfterUndo);
        QCOMPARE(shownMember(w), selectedAfterUndo < 0 ? squad::Member{}
                                                       : opened.mmbdata.member(selectedAfterUndo));
        QCOMPARE(box(w, "squadname")->text(), opened.property(Property::Name));
        QVERIFY(!w.document().modified());
        QVERIFY(!action(w, "mnuEditUndo")->isEnabled());
        if (!focusAfterUndo.isEmpty())
            QCOMPARE(QApplication::focusWidget()->objectName(), focusAfterUndo);

        if (byKeys)
            keys(QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z));
        else
            action(w, "mnuEditRedo")->trigger();
        QCOMPARE(w.document().content(), changed);
        QCOMPARE(listEntries(w), nicksAfter);
        if (!act.endsWith("and leave"))
            QCOMPARE(w.listIndex(), selectedAfter);
        QVERIFY(w.document().modified());

        undo();
        QCOMPARE(w.document().content(), opened);
        QVERIFY(!w.document().modified());
        // Ctrl+Y redoes as well.
        keys(QKeyCombination(Qt::ControlModifier, Qt::Key_Y));
        QCOMPARE(w.document().content(), changed);
    }

    void typingRunsEndAtAPauseOrWhenTheCursorLeaves() {
        Shown s;
        app::MainWindow &w = s.window;
        open(w, {"Goose", "B&B"}, 0);
        w.history().setTypingPause(50);
        QLineEdit *nick = box(w, "mmbnick");
        nick->setFocus();
        nick->end(false);
        QTest::keyClicks(nick, "ie");
        QTest::keyClick(nick, Qt::Key_Tab);
        QTest::keyClicks(box(w, "mmbname"), "x");
        QTest::qWait(150);
        QTest::keyClicks(box(w, "mmbname"), "y");
        QCOMPARE(w.history().stack().count(), 3);
        QCOMPARE(action(w, "mnuEditUndo")->text(), QString("&Undo Edit Full Name of Gooseie"));
        // Typed and taken back within a run leaves nothing to undo.
        QTest::keyClick(box(w, "mmbname"), Qt::Key_Backspace);
        QCOMPARE(w.history().stack().count(), 2);

        w.setListIndex(1);
        QTest::mouseClick(button(w, "Command5"), Qt::LeftButton);
        QCOMPARE(action(w, "mnuEditUndo")->text(), QString("&Undo Remove member B&&B"));
        if (qEnvironmentVariableIsSet("TROOPBOOK_EDITMENU_SCREENSHOT")) {
            QMenu *edit = w.findChild<QMenu *>("mnuEdit");
            edit->popup(w.mapToGlobal(QPoint(40, 20)));
            QVERIFY(QTest::qWaitForWindowExposed(edit));
            edit->grab().save(qEnvironmentVariable("TROOPBOOK_EDITMENU_SCREENSHOT"));
            edit->close();
        }
        for (int i = 0; i < 3; ++i)
            action(w, "mnuEditUndo")->trigger();
        QCOMPARE(w.document().content(), squadOf({"Goose", "B&B"}));
        QVERIFY(!action(w, "mnuEditUndo")->isEnabled());
        QCOMPARE(action(w, "mnuEditUndo")->text(), QString("&Undo"));
    }

    void theSavedStateIsTheCleanOne() {
        Shown s;
        app::MainWindow &w = s.window;
        open(w, {"A"}, 0);
        typeOver(box(w, "mmbnick"), "Saved");
        CommonDialog::setNextPath(m_dir.filePath("saved.xml"));
        action(w, "mnuFileSave")->trigger();
        QVERIFY(!w.document().modified());
        action(w, "mnuEditUndo")->trigger();
        QCOMPARE(w.document().cell(squad::Field::Nick, 0), QString("A"));
        QVERIFY(w.document().modified());
        action(w, "mnuEditRedo")->trigger();
        QVERIFY(!w.document().modified());
        // Typing after the save is a step of its own, not part of the saved one.
        QTest::keyClicks(box(w, "mmbnick"), "!");
        action(w, "mnuEditUndo")->trigger();
        QCOMPARE(w.document().cell(squad::Field::Nick, 0), QString("Saved"));
        QVERIFY(!w.document().modified());

        // New and Open start an empty history.
        QTest::keyClicks(box(w, "mmbnick"), "?");
        MessageBox::setNextAnswer(MessageBox::No);
        action(w, "mnuFileNew")->trigger();
        QVERIFY(!action(w, "mnuEditUndo")->isEnabled());
        QTest::mouseClick(button(w, "Command4"), Qt::LeftButton);
        CommonDialog::setNextPath(m_dir.filePath("saved.xml"));
        MessageBox::setNextAnswer(MessageBox::No);
        action(w, "mnuFileOpen")->trigger();
        QCOMPARE(listEntries(w), QStringList{"Saved"});
        QVERIFY(!action(w, "mnuEditUndo")->isEnabled());
        QVERIFY(!w.document().modified());
    }

    void aBoxOffersTheSquadsUndoInItsMenu() {
        Shown s;
        app::MainWindow &w = s.window;
        open(w, {"A"}, 0);
        QLineEdit *nick = box(w, "mmbnick");
        QTest::keyClicks(nick, "b");
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                                nick->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(nick, &event);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        const QList<QAction *> items = menu->actions();
        QCOMPARE(items.value(0), action(w, "mnuEditUndo"));
        QCOMPARE(items.value(1), action(w, "mnuEditRedo"));
        QVERIFY(items.value(0)->isEnabled());
        menu->close();
    }
};

QTEST_MAIN(TestUndoRedo)
#include "tst_undoredo.moc"
