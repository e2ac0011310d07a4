// The editor window as built and the editing of squad and members through its real controls.
#include "editorhelpers.h"

#include "ui/geometry.h"
#include "ui/messagebox.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>

using namespace editortest;
using squad::Field;
using squad::Member;
using squad::Property;
using ui::MessageBox;

class TestMemberEditing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() {
        MessageBox::takeShown();
        QVERIFY(!MessageBox::hasPendingAnswers());
    }

    void startsEmptyWithLockedMemberBoxes() {
        Shown s;
        app::MainWindow &w = s.window;
        QCOMPARE(w.objectName(), QString("Form1"));
        QCOMPARE(w.windowTitle(), QString("Troopbook - Morvane"));
        QCOMPARE(w.centralWidget()->size(), QSize(ui::twips(7230), ui::twips(4890)));
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(w.windowFlags() & Qt::WindowMaximizeButtonHint);
        QVERIFY(listEntries(w).isEmpty());
        QCOMPARE(w.document().mmbdata().columnCount(), 1);
        QCOMPARE(w.listIndex(), -1);
        QVERIFY(memberBoxesLocked(w));
        QVERIFY(!w.document().modified());

        // Locked boxes take no typing.
        QTest::keyClicks(box(w, "mmbnick"), "x");
        QCOMPARE(box(w, "mmbnick")->text(), QString());
        QVERIFY(!w.document().modified());
    }

    void controlsCarryTheirCaptionsTooltipsAndPlaces_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("twips");
        const auto row = [](const char *name, const char *parent, const char *text, QRect r) {
            QTest::newRow(name) << QString(name) << QString(parent) << QString(text) << r;
        };
        row("Command3", "client", "New", {120, 120, 735, 375});
        row("Command1", "client", "Open", {960, 120, 735, 375});
        row("Command2", "client", "Save", {1800, 120, 735, 375});
        row("Command6", "client", "Upload", {3000, 120, 735, 375});
        row("Frame2", "client", "Squad Properties", {120, 600, 6975, 1695});
        row("Frame1", "client", "Squad Member Properties", {120, 2400, 6975, 2415});
        row("squadnick", "Frame2", "Enter your squad Tag here", {720, 240, 975, 375});
        row("squadname", "Frame2", "Enter your full squad name here", {2520, 240, 4335, 375});
        row("squadmail", "Frame2", "Enter a contact mail adress here", {720, 720, 2535, 375});
        row("squadpicture", "Frame2",
            "Enter the name of the squad picture here. See the readme.txt too.",
            {4440, 720, 2415, 375});
        row("squadweb", "Frame2", "Enter your squad web address (without 'http://')",
            {720, 1200, 2535, 375});
        row("squadtitle", "Frame2", "Enter the text your vehicles get tagged with here",
            {4440, 1200, 2415, 375});
        row("Command4", "Frame1", "Add", {120, 720, 975, 375});
        row("Command5", "Frame1", "Remove", {120, 1200, 975, 375});
        row("List1", "Frame1", "Here are all current members listed", {1200, 240, 2295, 2010});
        row("mmbId", "Frame1", "Enter the members unique ID here", {4680, 240, 2175, 285});
        row("mmbnick", "Frame1", "Entere the members nick here", {4680, 600, 2175, 285});
        row("mmbname", "Frame1", "Enter the members full name here", {4680, 960, 2175, 285});
        row("mmbmail", "Frame1", "Enter the members eMail address here", {4680, 1320, 2175, 285});
        row("mmbicq", "Frame1", "Enter the members ICQ UIN here", {4680, 1680, 2175, 285});
        row("mmbremark", "Frame1", "Enter any additional remarks here like : '/me onwzorz')",
            {4680, 2025, 2175, 285});
    }
    void controlsCarryTheirCaptionsTooltipsAndPlaces() {
        QFETCH(QString, name);
        QFETCH(QString, parentName);
        QFETCH(QString, text);
        QFETCH(QRect, twips);
        app::MainWindow w;
        auto *control = w.findChild<QWidget *>(name);
        QVERIFY(control);
        QCOMPARE(control->parentWidget()->objectName(), parentName);
        QCOMPARE(control->geometry(),
                 ui::twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
        if (auto *b = qobject_cast<QPushButton *>(control))
            QCOMPARE(b->text(), text);
        else if (auto *g = qobject_cast<QGroupBox *>(control))
            QCOMPARE(g->title(), text);
        else
            QCOMPARE(control->toolTip(), text);
    }

    void labelsNameTheirFields() {
        app::MainWindow w;
        const QList<std::pair<const char *, QString>> labels{
            {"squadnick", "Tag"},     {"squadname", "Name"},
            {"squadmail", "e-Mail"},  {"squadpicture", "Picture"},
            {"squadweb", "Web"},      {"squadtitle", "Vehicle Tags"},
            {"mmbId", "ID"},          {"mmbnick", "Nick"},
            {"mmbname", "Full Name"}, {"mmbmail", "e-Mail"},
            {"mmbicq", "ICQ-UIN"},    {"mmbremark", "Remark"}};
        const QList<QLabel *> all = w.findChildren<QLabel *>();
        QCOMPARE(all.size(), labels.size());
        for (const auto &[field, caption] : labels) {
            const auto named = std::find_if(all.begin(), all.end(),
                                            [&](QLabel *l) { return l->buddy() == box(w, field); });
            QVERIFY2(named != all.end(), field);
            QCOMPARE((*named)->text(), caption);
            QCOMPARE((*named)->parentWidget(), box(w, field)->parentWidget());
            QCOMPARE((*named)->focusPolicy(), Qt::NoFocus);
            // What a screen reader announces for the field.
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(box(w, field));
            QVERIFY(accessible);
            QCOMPARE(accessible->text(QAccessible::Name), caption);
        }
    }

    void tabGoesThroughTheControlsInOrder() {
        Shown s;
        app::MainWindow &w = s.window;
        const QStringList expected{"Command3",   "Command1",  "Command2",     "squadnick",
                                   "squadname",  "squadmail", "squadpicture", "squadweb",
                                   "squadtitle", "Command4",  "Command5",     "List1",
                                   "mmbId",      "mmbnick",   "mmbname",      "mmbmail",
                                   "mmbicq",     "mmbremark", "Command6",     "Command3"};
        button(w, "Command3")->setFocus();
        QStringList visited{QApplication::focusWidget()->objectName()};
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, expected);
    }

    void menusHoldTheCommandsWithShortcuts() {
        app::MainWindow w;
        const QList<QAction *> menus = w.menuBar()->actions();
        QCOMPARE(menus.size(), 3);
        // Each item as "name text shortcut", a separator as "-".
        const auto items = [](const QAction *menu) {
            QStringList found{menu->text() + ' ' + menu->menu()->objectName() + ':'};
            for (const QAction *a : menu->menu()->actions())
                found << (a->isSeparator()
                              ? QStringLiteral("-")
                              : a->objectName() + ' ' + a->text() + ' ' + a->shortcut().toString());
            return found;
        };
        QCOMPARE(items(menus[0]),
                 (QStringList{"&File mnuFile:", "mnuFileNew &New Ctrl+N",
                              "mnuFileOpen &Open Ctrl+O", "mnuFileSave &Save Ctrl+S",
                              "mnuFileUpload &Upload ", "mnuFileExit E&xit "}));
        QCOMPARE(items(menus[1]), (QStringList{"&Tools mnuTools:", "mnuToolsCheck &Check squad F7",
                                               "mnuToolsCheckPublished Check &published squad… ",
                                               "mnuToolsCompanions &Write squad.dtd and squad.xsl ",
                                               "mnuToolsPicture &Squad picture… "}));
        QCOMPARE(items(menus[2]),
                 (QStringList{"&? mnuHelp:", "mnuHelpHelp &Help ", "mnuHelpAbout &About "}));
    }

    void helpAndAboutBoxes() {
        app::MainWindow w;
        MessageBox::setNextAnswer(MessageBox::Ok);
        action(w, "mnuHelpHelp")->trigger();
        MessageBox::setNextAnswer(MessageBox::Ok);
        action(w, "mnuHelpAbout")->trigger();
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].text, QString("Do you really need help with this one ?"));
        QCOMPARE(shown[0].title, QString("Narf ....."));
        QCOMPARE(shown[0].style, int(MessageBox::Question));
        QCOMPARE(shown[1].title, QString("About"));
        QCOMPARE(shown[1].style, int(MessageBox::Information));
        const QStringList lines = shown[1].text.split("\r\n");
        QCOMPARE(lines.size(), 4 + 8 + 2);
        QCOMPARE(lines.mid(0, 4),
                 (QStringList{"   Troopbook 1.1", "   9.8.2001", "   Morvane", ""}));
        QVERIFY(lines[4].startsWith("I'd like to greet all members of "));
        QCOMPARE(lines[6], QString("some other important guys :"));
        QCOMPARE(lines[8], QString("some other freaks"));
        QCOMPARE(lines[10], QString("and finally"));
        for (int i : {5, 7, 9, 11})
            QVERIFY(!lines[i].trimmed().isEmpty());
        QVERIFY(lines[13].contains("GPL-3.0-or-later"));
        QVERIFY(!w.document().modified());
    }

    void addOnTheEmptyDocumentSelectsAnEditableNewbie() {
        Shown s;
        app::MainWindow &w = s.window;
        QTest::mouseClick(button(w, "Command4"), Qt::LeftButton);
        QCOMPARE(listEntries(w), QStringList{"Newbie"});
        QCOMPARE(w.listIndex(), 0);
        QCOMPARE(shownMember(w), (Member{"", "Newbie", "", "", "", ""}));
        QVERIFY(!memberBoxesLocked(w));
        QCOMPARE(w.document().mmbdata().columnCount(), 2);
        QVERIFY(w.document().modified());

        // Another Add while a member with another nick is shown still gives "Newbie".
        typeOver(box(w, "mmbnick"), "Ann");
        typeOver(box(w, "mmbname"), "Ann Other");
        QTest::mouseClick(button(w, "Command4"), Qt::LeftButton);
        QCOMPARE(listEntries(w), (QStringList{"Ann", "Newbie"}));
        QCOMPARE(w.listIndex(), 1);
        QCOMPARE(shownMember(w), (Member{"", "Newbie", "", "", "", ""}));
        QCOMPARE(w.document().mmbdata().column(0), (Member{"", "Ann", "Ann Other", "", "", ""}));
        QCOMPARE(w.document().mmbdata().column(2), Member{});
    }

    void everyKeystrokeReachesTheDocumentAndTheList() {
        Shown s;
        app::MainWindow &w = s.window;
        w.document().load(squadOf({"A", "B", "C"}));
        clickEntry(w, 2);
        QCOMPARE(w.listIndex(), 2);
        typeOver(box(w, "mmbnick"), QString());
        QCOMPARE(listEntries(w), (QStringList{"A", "B", ""}));
        QStringList seen;
        for (const QChar c : QString("Ann")) {
            QTest::keyClick(box(w, "mmbnick"), c.toLatin1());
            seen << listEntries(w)[2] + '|' + w.document().cell(Field::Nick, 2);
        }
        QCOMPARE(seen, (QStringList{"A|A", "An|An", "Ann|Ann"}));

        // The other five fields go to their cells of the selected member only.
        for (int f : {0, 2, 3, 4, 5})
            typeOver(box(w, memberBoxNames[f]), QString("v%1 ").arg(f));
        QCOMPARE(w.document().mmbdata().column(2),
                 (Member{"v0 ", "Ann", "v2 ", "v3 ", "v4 ", "v5 "}));
        QCOMPARE(w.document().mmbdata().column(1), squadOf({"A", "B", "C"}).mmbdata.column(1));
        QVERIFY(w.document().modified());
    }

    void squadBoxesAreTheSquadProperties() {
        Shown s;
        app::MainWindow &w = s.window;
        const char *names[] = {"squadnick", "squadname",    "squadmail",
                               "squadweb",  "squadpicture", "squadtitle"};
        for (int p = 0; p < squad::PropertyCount; ++p) {
            QTest::keyClicks(box(w, names[p]), QString(" <v&%1\"> ").arg(p));
            QCOMPARE(w.document().propertyText(Property(p)), QString(" <v&%1\"> ").arg(p));
        }
        QVERIFY(w.document().modified());
        // A loaded document shows its properties without counting as an edit.
        w.document().setModified(false);
        w.document().load(squadOf({}));
        QCOMPARE(box(w, "squadname")->text(), QString("Night Owls"));
        QCOMPARE(box(w, "squadtitle")->text(), QString("NO"));
        QVERIFY(!w.document().modified());
    }

    void selectingShowsAMemberWithoutMarkingTheDocument() {
        Shown s;
        app::MainWindow &w = s.window;
        const squad::SquadData data = squadOf({"Alpha", "Bravo", "Charlie"});
        w.document().load(data);
        QVERIFY(memberBoxesLocked(w));

        clickEntry(w, 1);
        QCOMPARE(w.listIndex(), 1);
        QCOMPARE(shownMember(w), data.mmbdata.column(1));
        QVERIFY(!memberBoxesLocked(w));

        // Keyboard: the list has the focus after the click.
        QTest::keyClick(list(w), Qt::Key_Down);
        QCOMPARE(w.listIndex(), 2);
        QCOMPARE(shownMember(w), data.mmbdata.column(2));
        QTest::keyClick(list(w), Qt::Key_Home);
        QCOMPARE(shownMember(w), data.mmbdata.column(0));
        clickEntry(w, 2);
        QCOMPARE(shownMember(w), data.mmbdata.column(2));

        QVERIFY(!w.document().modified());
        QCOMPARE(w.document().content(), data);
    }

    void deselectingEmptiesAndLocksTheMemberBoxes() {
        Shown s;
        app::MainWindow &w = s.window;
        w.document().load(squadOf({"A", "B"}));
        clickEntry(w, 0);
        QVERIFY(!memberBoxesLocked(w));
        clickEntry(w, 0, Qt::ControlModifier);
        QCOMPARE(w.listIndex(), -1);
        QCOMPARE(shownMember(w), Member{});
        QVERIFY(memberBoxesLocked(w));
        QTest::keyClicks(box(w, "mmbnick"), "lost");
        QCOMPARE(w.document().content(), squadOf({"A", "B"}));
        QVERIFY(!w.document().modified());
    }

    void removeWithNothingSelectedChangesNothing() {
        Shown s;
        app::MainWindow &w = s.window;
        w.document().load(squadOf({"A", "B"}));
        QTest::mouseClick(button(w, "Command5"), Qt::LeftButton);
        QCOMPARE(listEntries(w), (QStringList{"A", "B"}));
        QCOMPARE(w.document().content(), squadOf({"A", "B"}));
        QVERIFY(!w.document().modified());
    }

    void removeSelectsTheMemberThatFollowed_data() {
        QTest::addColumn<int>("removed");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<int>("selectedAfter");
        QTest::newRow("first") << 0 << QStringList{"B", "C"} << 0;
        QTest::newRow("middle") << 1 << QStringList{"A", "C"} << 1;
        QTest::newRow("last of three") << 2 << QStringList{"A", "B"} << -1;
    }
    void removeSelectsTheMemberThatFollowed() {
        QFETCH(int, removed);
        QFETCH(QStringList, left);
        QFETCH(int, selectedAfter);
        Shown s;
        app::MainWindow &w = s.window;
        w.document().load(squadOf({"A", "B", "C"}));
        clickEntry(w, removed);
        QTest::mouseClick(button(w, "Command5"), Qt::LeftButton);
        QCOMPARE(listEntries(w), left);
        QCOMPARE(w.listIndex(), selectedAfter);
        QCOMPARE(w.document().content(), squadOf(left));
        QVERIFY(w.document().modified());
        if (selectedAfter >= 0) {
            QCOMPARE(shownMember(w), squadOf(left).mmbdata.column(selectedAfter));
            QVERIFY(!memberBoxesLocked(w));
        } else {
            // Nothing selected: nothing may be typed where it would be thrown away.
            QCOMPARE(shownMember(w), Member{});
            QVERIFY(memberBoxesLocked(w));
            // The rest stay reachable.
            clickEntry(w, 1);
            QCOMPARE(shownMember(w), squadOf(left).mmbdata.column(1));
            QVERIFY(!memberBoxesLocked(w));
        }
    }

    void removingTheOnlyMemberLocksTheBoxes() {
        Shown s;
        app::MainWindow &w = s.window;
        QTest::mouseClick(button(w, "Command4"), Qt::LeftButton);
        typeOver(box(w, "mmbremark"), "gone soon");
        QTest::mouseClick(button(w, "Command5"), Qt::LeftButton);
        QVERIFY(listEntries(w).isEmpty());
        QCOMPARE(w.document().mmbdata().columnCount(), 1);
        QCOMPARE(w.document().mmbdata().column(0), Member{});
        QCOMPARE(shownMember(w), Member{});
        QVERIFY(memberBoxesLocked(w));
        // A second Remove on the empty list does nothing.
        QTest::mouseClick(button(w, "Command5"), Qt::LeftButton);
        QCOMPARE(w.document().mmbdata().columnCount(), 1);
    }

    void editsAfterRemovalGoToTheNewlySelectedMember() {
        Shown s;
        app::MainWindow &w = s.window;
        w.document().load(squadOf({"A", "B", "C"}));
        clickEntry(w, 0);
        QTest::mouseClick(button(w, "Command5"), Qt::LeftButton);
        typeOver(box(w, "mmbnick"), "Bee");
        QCOMPARE(listEntries(w), (QStringList{"Bee", "C"}));
        QCOMPARE(w.document().cell(Field::Nick, 0), QString("Bee"));
        QCOMPARE(w.document().cell(Field::Nick, 1), QString("C"));
    }

    void loadingOverAnEditedDocumentShowsNoStaleMember() {
        Shown s;
        app::MainWindow &w = s.window;
        w.document().load(squadOf({"A", "B"}));
        clickEntry(w, 1);
        w.document().load(squadOf({}));
        QCOMPARE(w.listIndex(), -1);
        QCOMPARE(shownMember(w), Member{});
        QVERIFY(memberBoxesLocked(w));
        QVERIFY(!w.document().modified());
    }
};

QTEST_MAIN(TestMemberEditing)
#include "tst_memberediting.moc"
