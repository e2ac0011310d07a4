// One user's session through the real file dialog and message boxes: nothing is answered in
// advance, every dialog is found on screen, typed into and accepted as a person would.
#include "editorhelpers.h"

#include "squad/squadwriter.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
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
                filters = d->nameFilters();
                typeFileName(d, file);
            },
            &failures);
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(", ")));
        QCOMPARE(presetName, QString("Squad.xml"));
        QCOMPARE(filters, (QStringList{"Squad definitions (*.xml)", "AllFiles (*.*)"}));
        const squad::SquadData saved = w.document().data();
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
        QCOMPARE(w.document().data(), saved);
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
        QCOMPARE(readAll(file), squad::fileContents(w.document().data()));
        QCOMPARE(w.document().cell(squad::Field::Icq, 0), QString("4711"));

        // Nothing unsaved: closing the window asks nothing.
        w.close();
        QVERIFY(!w.isVisible());
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(", ")));
    }
};

QTEST_MAIN(TestRealDialogs)
#include "tst_realdialogs.moc"
