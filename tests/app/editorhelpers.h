// Shared by the editor window's tests: find controls by their names and read what they show.
#pragma once

#include "app/mainwindow.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

namespace editortest {

// The list of recent files goes to the test folder of the settings, not the user's.
inline const bool settingsForTests = [] {
    QStandardPaths::setTestModeEnabled(true);
    return true;
}();

// The window shown and active, so that clicks, keys and shortcuts reach it as a user's would.
struct Shown {
    app::MainWindow window;
    Shown() {
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window))
            qFatal("window not active");
    }
};

// Writes a file for a test to open or import; returns its path.
inline QString writeTestFile(const QDir &dir, const QString &name, const QByteArray &bytes) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(name));
    return f.fileName();
}

inline QLineEdit *box(app::MainWindow &w, const char *name) {
    auto *b = w.findChild<QLineEdit *>(QString::fromLatin1(name));
    if (!b)
        qFatal("no text box %s", name);
    return b;
}

inline QPushButton *button(app::MainWindow &w, const char *name) {
    auto *b = w.findChild<QPushButton *>(QString::fromLatin1(name));
    if (!b)
        qFatal("no button %s", name);
    return b;
}

inline QAction *action(app::MainWindow &w, const char *name) {
    auto *a = w.findChild<QAction *>(QString::fromLatin1(name));
    if (!a)
        qFatal("no menu item %s", name);
    return a;
}

inline QListView *list(app::MainWindow &w) {
    return w.findChild<QListView *>(QStringLiteral("List1"));
}

inline QStringList listEntries(app::MainWindow &w) {
    QStringList entries;
    const QAbstractItemModel *model = list(w)->model();
    for (int i = 0; i < model->rowCount(); ++i)
        entries << model->index(i, 0).data().toString();
    return entries;
}

inline constexpr const char *memberBoxNames[] = {"mmbId",   "mmbnick", "mmbname",
                                                 "mmbmail", "mmbicq",  "mmbremark"};

// What the six member boxes show, in field order.
inline squad::Member shownMember(app::MainWindow &w) {
    squad::Member m;
    for (int f = 0; f < squad::FieldCount; ++f)
        m[f] = box(w, memberBoxNames[f])->text();
    return m;
}

inline bool memberBoxesLocked(app::MainWindow &w) {
    int locked = 0;
    for (const char *name : memberBoxNames)
        locked += box(w, name)->isReadOnly();
    if (locked != 0 && locked != squad::FieldCount)
        qFatal("member boxes partly locked");
    return locked == squad::FieldCount;
}

inline squad::SquadData squadOf(const QStringList &nicks) {
    squad::SquadData d;
    d.properties = {"=NO=", "Night Owls", "owls@example.org", "www.example.org", "owls.paa", "NO"};
    for (const QString &nick : nicks)
        d.mmbdata.append(squad::Member{"id-" + nick, nick, nick + " full", nick + "@example.org",
                                       "1" + QString::number(nick.size()), "remark " + nick});
    return d;
}

inline void clickEntry(app::MainWindow &w, int row,
                       Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QListView *view = list(w);
    const QModelIndex index = view->model()->index(row, 0);
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers,
                      view->visualRect(index).center());
}

// Replaces what the box holds, as a user selecting all and typing over it would.
inline void typeOver(QLineEdit *box, const QString &text) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(box, Qt::Key_Delete);
    else
        QTest::keyClicks(box, text);
}

} // namespace editortest
