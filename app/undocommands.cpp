#include "undocommands.h"

#include "edithistory.h"

namespace app {

using squad::Field;

DocumentCommand::DocumentCommand(EditHistory &history, const QString &text)
    : m_history(history) {
    // Behind the line break: the menu's text, where "&" would underline the next letter.
    setText(text + u'\n' + QString(text).replace(u'&', QStringLiteral("&&")));
}

squad::SquadDocument &DocumentCommand::document() const {
    return m_history.document();
}

void DocumentCommand::show(const EditPlace &place) const {
    m_history.show(place);
}

TextCommand::TextCommand(EditHistory &history, const EditPlace &place, const QString &before,
                         const QString &after, int run, bool typed)
    : DocumentCommand(history, history.describe(place))
    , m_place(place)
    , m_before(before)
    , m_after(after)
    , m_run(run)
    , m_shown(!typed) {}

void TextCommand::apply(const QString &text) const {
    if (m_place.property)
        document().setPropertyText(*m_place.property, text);
    else
        document().setMemberField(m_place.index, *m_place.field, text);
}

void TextCommand::redo() {
    apply(m_after);
    if (m_shown)
        show(m_place);
    m_shown = true;
}

void TextCommand::undo() {
    apply(m_before);
    show(m_place);
}

bool TextCommand::mergeWith(const QUndoCommand *other) {
    const auto *next = static_cast<const TextCommand *>(other);
    if (next->m_run != m_run || next->m_place != m_place)
        return false;
    m_after = next->m_after;
    // Typed and taken back within the run: nothing is left to undo.
    setObsolete(m_after == m_before);
    return true;
}

MemberCommand::MemberCommand(EditHistory &history, Kind kind, int index, squad::Member member,
                             int selectedBefore, const QString &text)
    : DocumentCommand(history, text)
    , m_kind(kind)
    , m_index(index)
    , m_member(std::move(member))
    , m_selectedBefore(selectedBefore) {}

void MemberCommand::insert() const {
    document().insertMember(m_index, m_member);
    show({m_index, {}, {}});
}

void MemberCommand::remove() const {
    show({document().removeMember(m_index), {}, {}});
}

void MemberCommand::redo() {
    if (m_kind == Insert)
        insert();
    else
        remove();
}

void MemberCommand::undo() {
    if (m_kind == Insert) {
        document().removeMember(m_index);
        show({m_selectedBefore, {}, {}});
    } else {
        insert();
    }
}

MoveCommand::MoveCommand(EditHistory &history, int from, int to, const QString &text)
    : DocumentCommand(history, text)
    , m_from(from)
    , m_to(to) {}

void MoveCommand::redo() {
    document().moveMember(m_from, m_to);
    show({m_to, {}, {}});
}

void MoveCommand::undo() {
    document().moveMember(m_to, m_from);
    show({m_from, {}, {}});
}

MembersCommand::MembersCommand(EditHistory &history, QList<squad::Member> before,
                               QList<squad::Member> after, int selectedBefore, int selectedAfter,
                               const QString &text)
    : DocumentCommand(history, text)
    , m_before(std::move(before))
    , m_after(std::move(after))
    , m_selectedBefore(selectedBefore)
    , m_selectedAfter(selectedAfter) {}

void MembersCommand::redo() {
    document().setMembers(m_after);
    show({m_selectedAfter, {}, {}});
}

void MembersCommand::undo() {
    document().setMembers(m_before);
    show({m_selectedBefore, {}, {}});
}

} // namespace app
