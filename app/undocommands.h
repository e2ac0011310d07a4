#pragma once

#include "squad/squaddocument.h"

#include <QUndoCommand>

#include <optional>

namespace app {

class EditHistory;

// Where a change is seen: the member selected (-1 for none) and the box that gets the cursor.
struct EditPlace {
    int index = -1;
    std::optional<squad::Field> field;
    std::optional<squad::Property> property;

    friend bool operator==(const EditPlace &, const EditPlace &) = default;
};

// A step of the squad's history. Doing and undoing it changes the document and then shows the
// person where: the history passes that on to the window.
class DocumentCommand : public QUndoCommand {
public:
    DocumentCommand(EditHistory &history, const QString &text);

protected:
    squad::SquadDocument &document() const;
    void show(const EditPlace &place) const;

private:
    EditHistory &m_history;
};

// A squad property or member field set to a new text. Keystrokes of one run merge into one step.
class TextCommand : public DocumentCommand {
public:
    TextCommand(EditHistory &history, const EditPlace &place, const QString &before,
                const QString &after, int run, bool typed);
    void redo() override;
    void undo() override;
    int id() const override { return 1; }
    bool mergeWith(const QUndoCommand *other) override;

private:
    void apply(const QString &text) const;

    EditPlace m_place;
    QString m_before;
    QString m_after;
    int m_run;
    // A typed change is already in its box when it is pushed: only undo and redo show it.
    bool m_shown;
};

// A member put in at an index (Add), or taken out (Remove): one is the other undone.
class MemberCommand : public DocumentCommand {
public:
    enum Kind { Insert, Remove };
    MemberCommand(EditHistory &history, Kind kind, int index, squad::Member member,
                  int selectedBefore, const QString &text);
    void redo() override;
    void undo() override;

private:
    void insert() const;
    void remove() const;

    Kind m_kind;
    int m_index;
    squad::Member m_member;
    int m_selectedBefore;
};

class MoveCommand : public DocumentCommand {
public:
    MoveCommand(EditHistory &history, int from, int to, const QString &text);
    void redo() override;
    void undo() override;

private:
    int m_from;
    int m_to;
};

// All members at once, before and after: a sort or an import.
class MembersCommand : public DocumentCommand {
public:
    MembersCommand(EditHistory &history, QList<squad::Member> before, QList<squad::Member> after,
                   int selectedBefore, int selectedAfter, const QString &text);
    void redo() override;
    void undo() override;

private:
    QList<squad::Member> m_before;
    QList<squad::Member> m_after;
    int m_selectedBefore;
    int m_selectedAfter;
};

} // namespace app
