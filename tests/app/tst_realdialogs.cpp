// One user's session through the real file dialog and message boxes: nothing is answered in
// advance, every dialog is found on screen, typed into and accepted as a person would.
#include "editorhelpers.h"

#include "squad/squadwriter.h"
#include "ui/commondialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

using namespace editortest;

namespace {

// Runs `act` on the first modal window of type T that comes up; gives up after ten seconds,
// closing whatever is open, so that a missing dialog fails the test instead of hanging it.
template <typename T> void whenModal(std::function<void(T *)> act, QStringList *failures) {
    auto *timer = new QTimer;
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *wanted = qobject_cast<T *>(modal)) {
            timer->stop();
            timer->deleteLater();
            act(wanted);
            return;
        }
        if (++*waited > 500) {
            timer->stop();
            timer->deleteLater();
            *failures << QString("no %1 came up").arg(T::staticMetaObject.className());
            if (modal)
                modal->close();
        }
    });
    timer->start(20);
}

QLineEdit *fileNameBox(QFileDialog *dialog) {
    return dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
}

// Goes to the file's folder and types its name, as a person would; the completion list that
// typing opens is closed first so that Return reaches the dialog.
void typeFileName(QFileDialog *dialog, const QString &path) {
    const QFileInfo info(path);
    dialog->setDirectory(info.absolutePath());
    QLineEdit *edit = fileNameBox(dialog);
    edit->selectAll();
    QTest::keyClicks(edit, info.fileName());
    if (QCompleter *completer = edit->completer())
        completer->popup()->hide();
    QTest::keyClick(edit, Qt::Key_Return);
}

// The choices of the file type box, as the user reads them.
QStringList fileTypes(QFileDialog *dialog) {
    QStringList texts;
    if (auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))) {
        for (int i = 0; i < combo->count(); ++i)
            texts << combo->itemText(i);
    }
    return texts;
}

// The names the dialog lists in its current folder, once it has read the folder.
QStringList listedNames(QFileDialog *dialog) {
    QStringList names;
    auto *view = dialog->findChild<QListView *>(QStringLiteral("listView"));
    if (!view)
        return names;
    const QModelIndex root = view->rootIndex();
    for (int i = 0; i < view->model()->rowCount(root); ++i)
        names << view->model()->index(i, 0, root).data().toString();
    names.sort();
    return names;
}

bool activate(QWidget &window) {
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestRealDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void createSaveReopenChangeAndSaveAgain() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath("owls.xml");
        QStringList failures;
        app::MainWindow w;
        w.show();
        QVERIFY(activate(w));

        QTest::keyClicks(box(w, "squadname"), "Night Owls");
        QTest::mouseClick(button(w, "Command4"), Qt::LeftButton);
        typeOver(box(w, "mmbnick"), "Ann");
        typeOver(box(w, "mmbmail"), "ann@example.org");

        // Save: the dialog offers "Squad.xml" and both filter choices.
        QString presetName;
        QStringList filters;
        whenModal<QFileDialog>(
            [&](QFileDialog *d) {
                presetName = fileNameBox(d)->text();
                filters = fileTypes(d);
                typeFileName(d, file);
            },
            &failures);
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(", ")));
        QCOMPARE(presetName, QString("Squad.xml"));
        QCOMPARE(filters, (QStringList{"Squad definitions (*.xml)", "AllFiles (*.*)"}));
        const squad::SquadData saved = w.document().content();
        QCOMPARE(readAll(file), squad::fileContents(saved));
        QVERIFY(!w.document().modified());

        // New over a changed document asks; No throws the change away.
        QTest::keyClicks(box(w, "mmbname"), "Ann Example");
        QString questionText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString defaultButton;
        whenModal<QMessageBox>(
            [&](QMessageBox *box) {
                questionText = box->text();
                icon = box->icon();
                defaultButton = box->defaultButton()->text().remove('&');
                QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
            },
            &failures);
        // The window manager gives the focus back to the editor when a dialog closes.
        QVERIFY(activate(w));
        QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(", ")));
        QCOMPARE(questionText, QString("File was modified !\r\nSave it now?"));
        QCOMPARE(icon, QMessageBox::Question);
        QCOMPARE(defaultButton, QString("Yes"));
        QCOMPARE(w.document().memberCount(), 0);
        QVERIFY(!w.document().modified());

        // Open starts in the folder of the file saved last and will not take a missing file.
        QString startFolder;
        bool refusedMissing = false;
        QString missingWarning;
        whenModal<QFileDialog>(
            [&](QFileDialog *d) {
                startFolder = d->directory().absolutePath();
                whenModal<QMessageBox>(
                    [&](QMessageBox *box) {
                        missingWarning = box->text();
                        box->accept();
                    },
                    &failures);
                typeFileName(d, dir.filePath("missing.xml"));
                refusedMissing = d->isVisible();
                typeFileName(d, file);
            },
            &failures);
        QVERIFY(activate(w));
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(", ")));
        QCOMPARE(startFolder, QDir(dir.path()).absolutePath());
        QVERIFY(refusedMissing);
        QVERIFY2(missingWarning.contains("missing.xml"), qPrintable(missingWarning));
        QCOMPARE(w.document().content(), saved);
        QCOMPARE(listEntries(w), QStringList{"Ann"});
        QCOMPARE(box(w, "mmbmail")->text(), QString("ann@example.org"));

        // Change and save over the same file: the dialog asks first; No returns to it.
        typeOver(box(w, "mmbicq"), "4711");
        QVERIFY(activate(w));
        int overwriteQuestions = 0;
        whenModal<QFileDialog>(
            [&](QFileDialog *d) {
                whenModal<QMessageBox>(
                    [&](QMessageBox *box) {
                        ++overwriteQuestions;
                        QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
                    },
                    &failures);
                typeFileName(d, file);
                whenModal<QMessageBox>(
                    [&](QMessageBox *box) {
                        ++overwriteQuestions;
                        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
                    },
                    &failures);
                typeFileName(d, file);
            },
            &failures);
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(", ")));
        QCOMPARE(overwriteQuestions, 2);
        QCOMPARE(readAll(file), squad::fileContents(w.document().content()));
        QCOMPARE(w.document().cell(squad::Field::Icq, 0), QString("4711"));

        // Nothing unsaved: closing the window asks nothing.
        w.close();
        QVERIFY(!w.isVisible());
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(", ")));
    }

    // Names without a dot are common on this system; "AllFiles (*.*)" must show them.
    void eachFileTypeListsWhatItsCaptionSays() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const char *name : {"README", "owls.xml", "notes.txt", "squad.xml.bak"})
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        QStringList failures;
        app::MainWindow w;
        w.cdb().setFileName(dir.filePath("owls.xml"));
        w.show();
        QVERIFY(activate(w));
        QStringList types;
        QStringList squadFiles;
        QStringList allFiles;
        whenModal<QFileDialog>(
            [&](QFileDialog *d) {
                const auto close = qScopeGuard([d] { d->reject(); });
                types = fileTypes(d);
                QTRY_COMPARE(listedNames(d), QStringList{"owls.xml"});
                squadFiles = listedNames(d);
                auto *combo = d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
                combo->setFocus();
                QTest::keyClick(combo, Qt::Key_Down);
                QTRY_COMPARE(listedNames(d).size(), 4);
                allFiles = listedNames(d);
            },
            &failures);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(", ")));
        QCOMPARE(types, (QStringList{"Squad definitions (*.xml)", "AllFiles (*.*)"}));
        QCOMPARE(squadFiles, QStringList{"owls.xml"});
        QCOMPARE(allFiles, (QStringList{"README", "notes.txt", "owls.xml", "squad.xml.bak"}));
    }
};

QTEST_MAIN(TestRealDialogs)
#include "tst_realdialogs.moc"
