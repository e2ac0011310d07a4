// The check window over the editor: its findings lead to their fields and follow the typing.
#include "app/checkwindow.h"
#include "squad/squadwriter.h"
#include "ui/commondialog.h"
#include "ui/messagebox.h"

#include "editorhelpers.h"

#include "../common/tinypicture.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QTemporaryDir>
#include <QTreeView>

using namespace editortest;
using squad::Field;
using squad::Finding;
using squad::Property;

namespace {

QString id17(int n) {
    return QStringLiteral("765611980%1").arg(n, 8, 10, QLatin1Char('0'));
}

// Six members; member 6 shares member 2's ID, member 4 has no nick.
squad::SquadData troubledSquad() {
    squad::SquadData d;
    d.properties = {"N.O", "Night Owls", "owls@example.org", "www.example.org", "owls.paa", "NO"};
    for (int i = 0; i < 6; ++i)
        d.mmbdata.append(squad::Member{id17(i), "M" + QString::number(i + 1), "", "", "", ""});
    d.mmbdata.setCell(Field::Id, 5, id17(1));
    d.mmbdata.setCell(Field::Nick, 3, "");
    return d;
}

squad::SquadData cleanSquad() {
    squad::SquadData d = troubledSquad();
    d.properties[int(Property::Tag)] = "NO";
    d.properties[int(Property::Picture)] = "logo.paa";
    d.mmbdata.setCell(Field::Id, 5, id17(5));
    d.mmbdata.setCell(Field::Nick, 3, "M4");
    return d;
}

QList<Finding> shownFindings(app::CheckWindow &check) {
    const auto *model = static_cast<app::FindingsModel *>(check.findingsView()->list()->model());
    QList<Finding> shown;
    for (int row = 0; row < model->rowCount(); ++row)
        shown << model->finding(row);
    return shown;
}

int rowOf(app::CheckWindow &check, int member, std::optional<Property> property,
          std::optional<Field> field) {
    const QList<Finding> shown = shownFindings(check);
    for (int row = 0; row < shown.size(); ++row) {
        const Finding &f = shown[row];
        if (f.member == member && f.property == property && f.field == field)
            return row;
    }
    return -1;
}

} // namespace

class TestCheckWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    // The editor with `squad` opened from a folder holding squad.dtd, squad.xsl and logo.paa,
    // and its check window opened by F7.
    app::CheckWindow *openChecked(Shown &shown, const squad::SquadData &squad) {
        for (const char *name : {"squad.dtd", "squad.xsl", "logo.paa"}) {
            QFile f(m_dir.filePath(name));
            if (!f.open(QIODevice::WriteOnly))
                qFatal("cannot write %s", name);
            if (QByteArray(name).endsWith(".paa"))
                f.write(testpicture::tinyPaa());
        }
        QFile file(m_dir.filePath("squad.xml"));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the squad file");
        file.write(squad::fileContents(squad));
        file.close();
        if (!shown.window.openAtStart(file.fileName()))
            qFatal("cannot open the squad file");
        QTest::keyClick(&shown.window, Qt::Key_F7);
        app::CheckWindow *check = shown.window.checkWindow();
        if (!check || !QTest::qWaitForWindowExposed(check))
            qFatal("F7 opened no check window");
        return check;
    }

    static void verifyInStep(Shown &shown, app::CheckWindow &check) {
        const squad::SquadDocument &document = shown.window.document();
        QCOMPARE(
            shownFindings(check),
            squad::checkSquad(document.content(), {shown.window.filePath(), document.modified()}));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(QDir(m_dir.path()).mkpath("elsewhere")); }

    void doubleClickGoesToTheField_data() {
        QTest::addColumn<int>("member");
        QTest::addColumn<int>("property");
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("fix");
        QTest::newRow("bad tag") << -1 << int(Property::Tag) << -1 << "squadnick"
                                 << "NO";
        QTest::newRow("missing picture") << -1 << int(Property::Picture) << -1 << "squadpicture"
                                         << "logo.paa";
        QTest::newRow("shared ID far down") << 5 << -1 << int(Field::Id) << "mmbId" << id17(9);
        QTest::newRow("empty nick") << 3 << -1 << int(Field::Nick) << "mmbnick"
                                    << "Dot";
    }
    void doubleClickGoesToTheField() {
        QFETCH(int, member);
        QFETCH(int, property);
        QFETCH(int, field);
        QFETCH(QString, box);
        QFETCH(QString, fix);
        const auto asProperty =
            property < 0 ? std::optional<Property>() : std::optional(Property(property));
        const auto asField = field < 0 ? std::optional<Field>() : std::optional(Field(field));
        Shown shown;
        app::CheckWindow *check = openChecked(shown, troubledSquad());
        QTreeView *list = check->findingsView()->list();
        const int row = rowOf(*check, member, asProperty, asField);
        QVERIFY(row >= 0);
        const QModelIndex index = list->model()->index(row, app::FindingsModel::Message);
        list->scrollTo(index);
        // As a mouse does it: the first click presses on the row, the second is the double-click.
        const QPoint centre = list->visualRect(index).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);

        // Squad findings leave the member selected at opening as it is.
        QCOMPARE(shown.window.listIndex(), member < 0 ? 0 : member);
        QTRY_VERIFY(shown.window.isActiveWindow());
        QTRY_COMPARE(shown.window.focusWidget()->objectName(), box);
        typeOver(qobject_cast<QLineEdit *>(shown.window.focusWidget()), fix);
        QCOMPARE(rowOf(*check, member, asProperty, asField), -1);
        verifyInStep(shown, *check);
    }

    // Every keystroke and button: the list says what a check made afresh says.
    void listFollowsTheEditor_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("type another member's ID key by key")
            << QStringList{"select 0", "mmbId " + id17(1).left(15) + "x" + id17(1).mid(15),
                           "mmbId " + id17(1), "mmbId 1"};
        QTest::newRow("nick of a member named by another")
            << QStringList{"select 1", "mmbnick Renamed", "mmbnick "};
        QTest::newRow("add and remove around a shared ID")
            << QStringList{"add",      "mmbId " + id17(1), "select 0", "remove",
                           "select 3", "remove",           "add",      "mmbnick "};
        QTest::newRow("save elsewhere, new, open") << QStringList{
            "mmbnick Saved", "save elsewhere/squad.xml", "squadpicture logo.paa", "new",
            "add",           "open squad.xml",           "save squad.xml"};
        QTest::newRow("squad boxes")
            << QStringList{"squadnick ", "squadnick NO OWLS", "squadpicture ./logo.paa",
                           "squadpicture http://x/logo.paa"};
    }
    void listFollowsTheEditor() {
        QFETCH(QStringList, steps);
        Shown shown;
        app::CheckWindow *check = openChecked(shown, troubledSquad());
        verifyInStep(shown, *check);
        for (const QString &step : steps) {
            const QString verb = step.section(' ', 0, 0);
            const QString text = step.section(' ', 1);
            if (verb == "save" || verb == "new" || verb == "open") {
                // Open and New go on without saving; the file dialog answers with the file.
                if (verb != "save" && shown.window.document().modified())
                    ui::MessageBox::setNextAnswer(ui::MessageBox::No);
                if (verb != "new")
                    ui::CommonDialog::setNextPath(m_dir.filePath(text));
                const QString command = verb == "save"  ? "mnuFileSave"
                                        : verb == "new" ? "mnuFileNew"
                                                        : "mnuFileOpen";
                action(shown.window, qPrintable(command))->trigger();
                QVERIFY(!ui::MessageBox::hasPendingAnswers());
                QVERIFY(!ui::CommonDialog::hasPendingPaths());
                QCOMPARE(shown.window.filePath(), verb == "new" ? QString() : m_dir.filePath(text));
            } else if (verb == "select") {
                shown.window.setListIndex(text.toInt());
            } else if (verb == "add" || verb == "remove") {
                QTest::mouseClick(button(shown.window, verb == "add" ? "Command4" : "Command5"),
                                  Qt::LeftButton);
            } else {
                QLineEdit *edit = box(shown.window, qPrintable(verb));
                edit->setFocus();
                edit->selectAll();
                QTest::keyClick(edit, Qt::Key_Backspace);
                verifyInStep(shown, *check);
                for (const QChar c : text) {
                    QTest::keyClicks(edit, QString(c));
                    verifyInStep(shown, *check);
                    if (QTest::currentTestFailed())
                        QFAIL(qPrintable(step + ", after " + edit->text()));
                }
            }
            verifyInStep(shown, *check);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable("after " + step));
        }
        const auto *summary = check->findChild<QLabel *>("summary");
        const squad::SquadChecker &checker = check->checker();
        const auto count = [](int n, const QString &what) -> QString {
            return (n == 0 ? QStringLiteral("no") : QString::number(n)) + ' ' + what +
                   (n == 1 ? "" : "s");
        };
        QString expected = count(checker.problemCount(), "problem") + ", " +
                           count(checker.hintCount(), "hint") + '.';
        expected[0] = expected[0].toUpper();
        QTRY_COMPARE(summary->text(), expected);
    }

    // Files are put beside the squad file by other programs while the window is open.
    void filesPutBesideTheSquadFileAreNoticed() {
        Shown shown;
        squad::SquadData squad = cleanSquad();
        squad.properties[int(Property::Picture)] = "later.paa";
        app::CheckWindow *check = openChecked(shown, squad);
        QVERIFY(rowOf(*check, -1, Property::Picture, {}) >= 0);
        QFile picture(m_dir.filePath("later.paa"));
        QVERIFY(picture.open(QIODevice::WriteOnly));
        picture.write(testpicture::tinyPaa());
        picture.close();
        QTRY_COMPARE(rowOf(*check, -1, Property::Picture, {}), -1);
        QVERIFY(picture.remove());
        QTRY_VERIFY(rowOf(*check, -1, Property::Picture, {}) >= 0);
    }

    void closesWithTheEditor() {
        Shown shown;
        const QPointer<app::CheckWindow> check = openChecked(shown, cleanSquad());
        QVERIFY(shown.window.close());
        QTRY_VERIFY(!check);
    }

    void saysSoWhenNothingIsFound() {
        Shown shown;
        const QStringList menus = [&] {
            QStringList titles;
            for (const QAction *menu : shown.window.menuBar()->actions())
                titles << menu->text();
            return titles;
        }();
        QCOMPARE(menus, (QStringList{"&File", "&Tools", "&?"}));
        app::CheckWindow *check = openChecked(shown, cleanSquad());
        app::FindingsView *view = check->findingsView();
        QVERIFY(view->showsEmptyText());
        QTRY_COMPARE(check->findChild<QLabel *>("summary")->text(), "No problems, no hints.");
        QLineEdit *tag = box(shown.window, "squadnick");
        tag->setFocus();
        tag->end(false);
        QTest::keyClick(tag, Qt::Key_Period);
        QVERIFY(!view->showsEmptyText());
        QCOMPARE(view->list()->model()->rowCount(), 2);
        QTest::keyClick(tag, Qt::Key_Backspace);
        QCOMPARE(view->list()->model()->rowCount(), 1);
        shown.window.document().setModified(false);
        QVERIFY(view->showsEmptyText());
    }
};

QTEST_MAIN(TestCheckWindow)
#include "tst_checkwindow.moc"
