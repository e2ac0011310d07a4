#include "ui/commondialog.h"
#include "ui/inputbox.h"
#include "ui/messagebox.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using ui::CommonDialog;
using ui::MessageBox;

class TestDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void filterBecomesQtNameFilters() {
        // The caption as written, then what it matches; "*.*" matches names without a dot too.
        QCOMPARE(CommonDialog::nameFilters(CommonDialog::squadFilter),
                 (QStringList{"Squad definitions (*.xml) (*.xml)", "AllFiles (*.*) (*)"}));
        QCOMPARE(CommonDialog::nameFilters("Pictures|*.jpg;*.paa"),
                 QStringList{"Pictures (*.jpg *.paa) (*.jpg *.paa)"});
        QCOMPARE(CommonDialog::nameFilters("Everything|*.*;*.x.*"),
                 QStringList{"Everything (*.* *.x.*) (* *.x.*)"});
    }

    void startFolderOfAFileIsItsFolder() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath("Squad.xml");
        QCOMPARE(CommonDialog::startFolder(file), dir.path());
        QCOMPARE(CommonDialog::startFolder(dir.path()), dir.path());
        QCOMPARE(CommonDialog::startFolder(QString()), QString());
    }

    void presetPathsAnswerAndCancelKeepsTheLastChoice() {
        CommonDialog cdb;
        cdb.setFileName("Squad.xml");
        cdb.setFlags(CommonDialog::FileMustExist);
        CommonDialog::setNextPath("/tmp/a/squad.xml");
        QVERIFY(cdb.showOpen(nullptr));
        QCOMPARE(cdb.fileName(), QString("/tmp/a/squad.xml"));
        cdb.setFileName("Squad.xml");
        CommonDialog::setNextPath(QString());
        QVERIFY(!cdb.showSave(nullptr));
        QCOMPARE(cdb.fileName(), QString("/tmp/a/squad.xml"));
        const auto uses = CommonDialog::takeUses();
        QCOMPARE(uses.size(), 2);
        QVERIFY(!uses[0].save);
        QCOMPARE(uses[0].flags, int(CommonDialog::FileMustExist));
        QVERIFY(uses[1].save);
        QCOMPARE(uses[1].fileName, QString("Squad.xml"));
    }

    void queuedAnswersAreReturnedInOrderAndRecorded() {
        MessageBox::setNextAnswer(MessageBox::No);
        MessageBox::setNextAnswer(MessageBox::Cancel);
        QCOMPARE(MessageBox::show(nullptr, "one", MessageBox::YesNoCancel | MessageBox::Question,
                                  "Warning"),
                 MessageBox::No);
        QCOMPARE(MessageBox::show(nullptr, "two", MessageBox::YesNoCancel | MessageBox::Question),
                 MessageBox::Cancel);
        QVERIFY(!MessageBox::hasPendingAnswers());
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].title, QString("Warning"));
        QCOMPARE(shown[1].title, QString("Troopbook"));
        QCOMPARE(shown[1].style, MessageBox::YesNoCancel | MessageBox::Question);
    }

    void realBoxMapsStyleToIconButtonsAndDefault_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("defaultButton");
        QTest::addColumn<int>("escapeAnswer");
        QTest::newRow("yes/no/cancel, question")
            << MessageBox::YesNoCancel + MessageBox::Question << int(QMessageBox::Question)
            << QStringList{"Cancel", "No", "Yes"} << "Yes" << int(MessageBox::Cancel);
        QTest::newRow("yes/no, question, second default")
            << MessageBox::YesNo + MessageBox::Question + MessageBox::DefaultButton2
            << int(QMessageBox::Question) << QStringList{"No", "Yes"} << "No"
            << int(MessageBox::No);
        QTest::newRow("ok only, second default has none")
            << MessageBox::OkOnly + MessageBox::Critical + MessageBox::DefaultButton2
            << int(QMessageBox::Critical) << QStringList{"OK"} << "OK" << int(MessageBox::Ok);
    }
    void realBoxMapsStyleToIconButtonsAndDefault() {
        QFETCH(int, style);
        QFETCH(int, icon);
        QFETCH(QStringList, buttons);
        QFETCH(QString, defaultButton);
        QFETCH(int, escapeAnswer);
        QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
        QStringList shownButtons;
        QString shownDefault;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            shownIcon = box->icon();
            for (QAbstractButton *b : box->buttons())
                shownButtons << b->text().remove(u'&');
            shownDefault = box->defaultButton()->text().remove(u'&');
            QTest::keyClick(box, Qt::Key_Escape);
        });
        QCOMPARE(
            int(MessageBox::show(nullptr, "File was modified !\r\nSave it now?", style, "Warning")),
            escapeAnswer);
        QCOMPARE(int(shownIcon), icon);
        shownButtons.sort();
        QCOMPARE(shownButtons, buttons);
        QCOMPARE(shownDefault, defaultButton);
        MessageBox::takeShown();
    }

    // A box whose window is deleted under it, as when the window is closed while it asks.
    void boxWhoseParentGoesAnswersAsEscapeWould_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes/no") << MessageBox::YesNo + MessageBox::Question << int(MessageBox::No);
        QTest::newRow("yes/no, second default")
            << MessageBox::YesNo + MessageBox::Question + MessageBox::DefaultButton2
            << int(MessageBox::No);
        QTest::newRow("yes/no/cancel")
            << MessageBox::YesNoCancel + MessageBox::Exclamation << int(MessageBox::Cancel);
        QTest::newRow("ok/cancel") << int(MessageBox::OkCancel) << int(MessageBox::Cancel);
        QTest::newRow("ok only") << MessageBox::OkOnly + MessageBox::Critical
                                 << int(MessageBox::Ok);
    }
    void boxWhoseParentGoesAnswersAsEscapeWould() {
        QFETCH(int, style);
        QFETCH(int, answer);
        auto *parent = new QWidget;
        parent->show();
        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            seen = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) != nullptr;
            delete parent;
        });
        QCOMPARE(int(MessageBox::show(parent, "Trust this server?", style)), answer);
        QVERIFY(seen);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        MessageBox::takeShown();
    }

    void realInputBoxReturnsTheTextOrNothing_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("key");
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::newRow("offered text kept")
            << "" << int(Qt::Key_Return) << std::optional<QString>("http://a.example/squad.xml");
        QTest::newRow("text typed over it") << "b.example/squad.xml" << int(Qt::Key_Return)
                                            << std::optional<QString>("b.example/squad.xml");
        QTest::newRow("escape cancels")
            << "c.example" << int(Qt::Key_Escape) << std::optional<QString>();
    }
    void realInputBoxReturnsTheTextOrNothing() {
        QFETCH(QString, typed);
        QFETCH(int, key);
        QFETCH(std::optional<QString>, answer);
        QString label;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            QVERIFY(box);
            label = box->labelText();
            auto *edit = box->findChild<QLineEdit *>();
            if (!typed.isEmpty()) {
                edit->selectAll();
                QTest::keyClicks(edit, typed);
            }
            QTest::keyClick(edit, Qt::Key(key));
        });
        QCOMPARE(ui::InputBox::ask(nullptr, "Title", "Address:", "http://a.example/squad.xml"),
                 answer);
        QCOMPARE(label, QString("Address:"));
        const QList<ui::InputBox::Asked> asked = ui::InputBox::takeAsked();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].text, QString("http://a.example/squad.xml"));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
