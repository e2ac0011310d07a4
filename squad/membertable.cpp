#include "membertable.h"

namespace squad {

MemberTable::MemberTable() {
    reset();
}

const QString &MemberTable::cell(Field field, int column) const {
    return m_columns.at(column)[int(field)];
}

bool MemberTable::setCell(Field field, int column, const QString &value) {
    if (!isMember(column))
        return false;
    m_columns[column][int(field)] = value;
    return true;
}

int MemberTable::grow() {
    m_columns.append(Member{});
    return memberCount() - 1;
}

void MemberTable::append(Member member) {
    // The spare column is empty: it becomes the member, and a fresh spare goes behind it.
    m_columns.last() = std::move(member);
    m_columns.append(Member{});
}

bool MemberTable::remove(int column) {
    if (!isMember(column))
        return false;
    m_columns.remove(column);
    return true;
}

void MemberTable::assign(QList<Member> members) {
    members.append(Member{});
    m_columns = std::move(members);
}

void MemberTable::reset() {
    m_columns.clear();
    m_columns.append(Member{});
}

} // namespace squad
