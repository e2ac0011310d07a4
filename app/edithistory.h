#pragma once

#include "undocommands.h"

#include "squad/squaddocument.h"

#include <QObject>
#include <QTimer>
#include <QUndoStack>

namespace app {

// The one history of the squad's changes, for Undo and Redo. Every change a person makes goes
// through it as a step; the state last opened or saved is its clean state, and the document's
// unsaved-changes mark follows whether the history stands there.
class EditHistory : public QObject {
    Q_OBJECT
public:
    explicit EditHistory(squad::SquadDocument &document, QObject *parent = nullptr);
    ~EditHistory() override;

    squad::SquadDocument &document() const { return m_document; }
    QUndoStack &stack() { return m_stack; }

    // A text typed into a box, already shown there. Keystrokes into the same box make one step
    // until the run ends: the cursor leaves the box, a pause, or any other step.
    void typed(const EditPlace &place, const QString &before, const QString &after);
    // A squad property set as one step (the picture chosen in a window, say).
    void setPropertyText(squad::Property property, const QString &text);
    void addMember(int selected);
    void removeMember(int index);
    // One place up (-1) or down (+1), or to an index (a drag). False when the member cannot move.
    bool moveMember(int from, int to);
    // By nick, as the locale orders words, letter case aside; equal nicks keep their order.
    void sortByNick(int selected);
    // All members replaced in one step, say by an import.
    void setMembers(QList<squad::Member> members, int selectedBefore, int selectedAfter,
                    const QString &text);

    void endTypingRun();
    // How long a pause in typing ends the run.
    void setTypingPause(int milliseconds) { m_pause.setInterval(milliseconds); }
    // New or Open: nothing to undo, and the document as it now is counts as saved.
    void restart();
    // Saved: this state is the clean one.
    void markSaved();

    // What a change of that box is called in the Edit menu.
    QString describe(const EditPlace &place) const;
    // For the commands: where the window should bring the person.
    void show(const EditPlace &place) { Q_EMIT placeShown(place); }

Q_SIGNALS:
    void placeShown(const app::EditPlace &place);

private:
    void push(QUndoCommand *command);
    QString memberName(int index) const;

    squad::SquadDocument &m_document;
    QUndoStack m_stack;
    QTimer m_pause;
    int m_run = 0;
    bool m_pushing = false;
};

} // namespace app
