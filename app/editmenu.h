#pragma once

#include <QList>
#include <QObject>

class QAction;
class QContextMenuEvent;
class QPoint;
class QKeyEvent;
class QLineEdit;
class QListView;
class QMainWindow;
class QMenu;

namespace app {

class EditHistory;

// The editor's "&Edit" menu: Undo and Redo over the squad's one history, moving the selected
// member and sorting the members. It also keeps the text boxes from running their own undo
// beside it (keys and context menu alike) and turns a drag in the member list into a move.
class EditMenu : public QObject {
    Q_OBJECT
public:
    EditMenu(QMainWindow &window, EditHistory &history, QListView &list,
             const QList<QLineEdit *> &boxes);

    QMenu *menu() const { return m_menu; }
    QAction *undoAction() const { return m_undo; }
    QAction *redoAction() const { return m_redo; }
    // A drag of the selected member let go at that point of the list's viewport.
    void dropSelected(const QPoint &at);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int selected() const;
    void moveSelected(int by);
    void showBoxMenu(QLineEdit *box, QContextMenuEvent *event);
    // Undo or Redo when the key is one of theirs, else null.
    QAction *historyAction(const QKeyEvent *event) const;
    void updateActions();

    EditHistory &m_history;
    QListView &m_list;
    const QObject *m_viewport = nullptr;
    QMenu *m_menu;
    QAction *m_undo;
    QAction *m_redo;
    QAction *m_moveUp;
    QAction *m_moveDown;
    QAction *m_sort;
};

} // namespace app
