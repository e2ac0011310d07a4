#pragma once

#include <QObject>
#include <QStringList>

class QMenu;

namespace app {

// "Open &Recent": the squad files opened or saved last, newest first, kept in the user's
// settings so that they are there at the next start too.
class RecentFiles : public QObject {
    Q_OBJECT
public:
    static constexpr int Kept = 8;

    explicit RecentFiles(QMenu *menu, QObject *parent = nullptr);

    QStringList paths() const;
    // Puts the file first, taking it off further down.
    void add(const QString &path);
    void remove(const QString &path);
    void clear();

Q_SIGNALS:
    // A file on the list was chosen that is still there; one that has gone is taken off the
    // list with a message saying so.
    void chosen(const QString &path);

private:
    void choose(const QString &path);
    void store(const QStringList &paths);
    void fillMenu();

    QMenu *m_menu;
};

} // namespace app
