#include "editmenu.h"

#include "edithistory.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace app {

EditMenu::EditMenu(QMainWindow &window, EditHistory &history, QListView &list,
                   const QList<QLineEdit *> &boxes)
    : QObject(&window)
    , m_history(history)
    , m_list(list) {
    m_menu = window.menuBar()->addMenu(QStringLiteral("&Edit"));
    m_menu->setObjectName(QStringLiteral("mnuEdit"));
    m_undo = history.stack().createUndoAction(m_menu, QStringLiteral("&Undo"));
    m_undo->setObjectName(QStringLiteral("mnuEditUndo"));
    m_undo->setShortcut(QKeySequence::Undo);
    m_redo = history.stack().createRedoAction(m_menu, QStringLiteral("&Redo"));
    m_redo->setObjectName(QStringLiteral("mnuEditRedo"));
    m_redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    m_menu->addAction(m_undo);
    m_menu->addAction(m_redo);
    m_menu->addSeparator();
    const auto action = [this](const char *name, const QString &caption,
                               const QKeySequence &shortcut) {
        QAction *a = m_menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(shortcut);
        return a;
    };
    m_moveUp = action("mnuEditMoveUp", QStringLiteral("Move member &up"), Qt::CTRL | Qt::Key_Up);
    m_moveDown =
        action("mnuEditMoveDown", QStringLiteral("Move member &down"), Qt::CTRL | Qt::Key_Down);
    m_sort = action("mnuEditSort", QStringLiteral("&Sort members by nick"), {});
    connect(m_moveUp, &QAction::triggered, this, [this] { moveSelected(-1); });
    connect(m_moveDown, &QAction::triggered, this, [this] { moveSelected(+1); });
    connect(m_sort, &QAction::triggered, this, [this] { m_history.sortByNick(selected()); });

    for (QLineEdit *box : boxes)
        box->installEventFilter(this);
    m_list.setDragEnabled(true);
    m_list.setDragDropMode(QAbstractItemView::InternalMove);
    m_list.setDefaultDropAction(Qt::MoveAction);
    m_list.setDropIndicatorShown(true);
    m_list.viewport()->installEventFilter(this);
    m_viewport = m_list.viewport();

    connect(m_list.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &EditMenu::updateActions);
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_list.model(), signal, this, &EditMenu::updateActions);
    connect(m_list.model(), &QAbstractItemModel::modelReset, this, &EditMenu::updateActions);
    updateActions();
}

int EditMenu::selected() const {
    const QModelIndexList rows = m_list.selectionModel()->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.constFirst().row();
}

void EditMenu::updateActions() {
    const int index = selected();
    const int count = m_list.model()->rowCount();
    m_moveUp->setEnabled(index > 0);
    m_moveDown->setEnabled(index >= 0 && index + 1 < count);
    m_sort->setEnabled(count > 1);
}

void EditMenu::moveSelected(int by) {
    const int index = selected();
    if (index >= 0)
        m_history.moveMember(index, index + by);
}

void EditMenu::dropSelected(const QPoint &at) {
    const int from = selected();
    const QModelIndex target = m_list.indexAt(at);
    // Dropped on the lower half of a member: behind it; below the last one: at the end.
    int before = m_list.model()->rowCount();
    if (target.isValid())
        before = target.row() + (at.y() > m_list.visualRect(target).center().y() ? 1 : 0);
    if (from >= 0)
        m_history.moveMember(from, before > from ? before - 1 : before);
}

QAction *EditMenu::historyAction(const QKeyEvent *event) const {
    const QKeySequence pressed(event->keyCombination());
    if (m_undo->shortcuts().contains(pressed) || event->matches(QKeySequence::Undo))
        return m_undo;
    if (m_redo->shortcuts().contains(pressed) || event->matches(QKeySequence::Redo))
        return m_redo;
    return nullptr;
}

void EditMenu::showBoxMenu(QLineEdit *box, QContextMenuEvent *event) {
    QMenu *menu = box->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The box's own Undo and Redo would work on its text alone, beside the squad's history. A
    // box that takes typing lists them first.
    const QList<QAction *> own = menu->actions();
    if (!box->isReadOnly() && own.size() >= 2) {
        menu->insertActions(own[0], {m_undo, m_redo});
        menu->removeAction(own[0]);
        menu->removeAction(own[1]);
    }
    menu->popup(event->globalPos());
}

bool EditMenu::eventFilter(QObject *watched, QEvent *event) {
    // Compared with the viewport kept at the start: while the list is being destroyed its events
    // still come here, and the list is no longer a scroll area to ask.
    if (watched == m_viewport) {
        // In internal-move mode the view lets no other drag in, so a drop is one of its members.
        if (event->type() != QEvent::Drop)
            return false;
        auto *drop = static_cast<QDropEvent *>(event);
        dropSelected(drop->position().toPoint());
        // Taken care of here: the view must not move or remove rows of its own.
        drop->setDropAction(Qt::IgnoreAction);
        drop->accept();
        m_list.viewport()->update();
        return true;
    }
    auto *box = qobject_cast<QLineEdit *>(watched);
    if (!box)
        return false;
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed for the box, so that the key arrives below whether or not the menu's action
        // is enabled, and is never the box's own undo.
        if (historyAction(static_cast<QKeyEvent *>(event))) {
            event->accept();
            return true;
        }
        return false;
    case QEvent::KeyPress:
        if (QAction *action = historyAction(static_cast<QKeyEvent *>(event))) {
            if (action->isEnabled())
                action->trigger();
            return true;
        }
        return false;
    case QEvent::ContextMenu:
        showBoxMenu(box, static_cast<QContextMenuEvent *>(event));
        return true;
    default:
        return false;
    }
}

} // namespace app
