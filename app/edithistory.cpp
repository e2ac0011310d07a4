#include "edithistory.h"

#include <QCollator>

#include <algorithm>
#include <numeric>

namespace app {

using squad::Field;
using squad::Property;

EditHistory::EditHistory(squad::SquadDocument &document, QObject *parent)
    : QObject(parent)
    , m_document(document) {
    m_pause.setSingleShot(true);
    m_pause.setInterval(1000);
    connect(&m_pause, &QTimer::timeout, this, &EditHistory::endTypingRun);
    connect(&m_stack, &QUndoStack::cleanChanged, this,
            [this](bool clean) { m_document.setModified(!clean); });
    // Undo and redo end a run too: the next keystroke starts a step of its own.
    connect(&m_stack, &QUndoStack::indexChanged, this, [this] {
        if (!m_pushing)
            endTypingRun();
    });
}

EditHistory::~EditHistory() {
    // The stack says it is clean as it goes, when the document may be gone already.
    disconnect(&m_stack, nullptr, this, nullptr);
}

void EditHistory::push(QUndoCommand *command) {
    m_pushing = true;
    m_stack.push(command);
    m_pushing = false;
}

void EditHistory::endTypingRun() {
    ++m_run;
    m_pause.stop();
}

void EditHistory::typed(const EditPlace &place, const QString &before, const QString &after) {
    push(new TextCommand(*this, place, before, after, m_run, true));
    m_pause.start();
}

void EditHistory::setPropertyText(Property property, const QString &text) {
    if (m_document.propertyText(property) == text)
        return;
    endTypingRun();
    push(new TextCommand(*this, {-1, {}, property}, m_document.propertyText(property), text, m_run,
                         false));
    endTypingRun();
}

void EditHistory::addMember(int selected) {
    endTypingRun();
    squad::Member newbie;
    newbie[int(Field::Nick)] = QStringLiteral("Newbie");
    push(new MemberCommand(*this, MemberCommand::Insert, m_document.memberCount(), newbie, selected,
                           QStringLiteral("Add member")));
}

void EditHistory::removeMember(int index) {
    if (!m_document.mmbdata().isMember(index))
        return;
    endTypingRun();
    push(new MemberCommand(*this, MemberCommand::Remove, index, m_document.mmbdata().member(index),
                           index, QStringLiteral("Remove member %1").arg(memberName(index))));
}

bool EditHistory::moveMember(int from, int to) {
    const squad::MemberTable &table = m_document.mmbdata();
    if (!table.isMember(from) || !table.isMember(to) || from == to)
        return false;
    endTypingRun();
    const QString how = to == from - 1   ? QStringLiteral("Move member %1 up")
                        : to == from + 1 ? QStringLiteral("Move member %1 down")
                                         : QStringLiteral("Move member %1");
    push(new MoveCommand(*this, from, to, how.arg(memberName(from))));
    return true;
}

void EditHistory::sortByNick(int selected) {
    const squad::MemberTable &table = m_document.mmbdata();
    const int count = table.memberCount();
    // Without a language ("C") Qt compares code points, which puts "Émile" behind "Zed".
    QCollator collator(QLocale() == QLocale::c() ? QLocale(QLocale::English) : QLocale());
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    // One key a member instead of a collation at every comparison.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        keys.push_back(collator.sortKey(table.cell(Field::Nick, i)));
    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys](int a, int b) {
        return keys[size_t(a)].compare(keys[size_t(b)]) < 0;
    });
    if (std::is_sorted(order.begin(), order.end()))
        return;
    QList<squad::Member> sorted;
    sorted.reserve(count);
    int selectedAfter = -1;
    for (int i = 0; i < count; ++i) {
        sorted << table.member(order[size_t(i)]);
        if (order[size_t(i)] == selected)
            selectedAfter = i;
    }
    setMembers(std::move(sorted), selected, selectedAfter, QStringLiteral("Sort members by nick"));
}

void EditHistory::setMembers(QList<squad::Member> members, int selectedBefore, int selectedAfter,
                             const QString &text) {
    endTypingRun();
    push(new MembersCommand(*this, m_document.mmbdata().members(), std::move(members),
                            selectedBefore, selectedAfter, text));
}

void EditHistory::restart() {
    endTypingRun();
    m_stack.clear();
}

void EditHistory::markSaved() {
    endTypingRun();
    m_stack.setClean();
}

QString EditHistory::memberName(int index) const {
    const QString &nick = m_document.cell(Field::Nick, index);
    if (!nick.isEmpty())
        return nick;
    const QString &id = m_document.cell(Field::Id, index);
    return id.isEmpty() ? QStringLiteral("%1").arg(index + 1) : id;
}

QString EditHistory::describe(const EditPlace &place) const {
    // The captions of the window's labels.
    static const char *const properties[squad::PropertyCount] = {"Tag", "Name",    "e-Mail",
                                                                 "Web", "Picture", "Vehicle Tags"};
    static const char *const fields[squad::FieldCount] = {"ID",     "Nick",    "Full Name",
                                                          "e-Mail", "ICQ-UIN", "Remark"};
    if (place.property)
        return QStringLiteral("Edit squad %1").arg(QLatin1String(properties[int(*place.property)]));
    return QStringLiteral("Edit %1 of %2")
        .arg(QLatin1String(fields[int(*place.field)]), memberName(place.index));
}

} // namespace app
