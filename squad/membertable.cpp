#include "membertable.h"

namespace squad {

MemberTable::MemberTable() {
    reset();
}

const QString &MemberTable::cell(Field field, int index) const {
    return m_columns.at(index)[int(field)];
}

bool MemberTable::setCell(Field field, int index, const QString &value) {
    if (!isMember(index))
        return false;
    m_columns[index][int(field)] = value;
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

bool MemberTable::insert(int index, Member member) {
    if (index < 0 || index > memberCount())
        return false;
    m_columns.insert(index, std::move(member));
    return true;
}

bool MemberTable::remove(int index) {
    if (!isMember(index))
        return false;
    m_columns.remove(index);
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
