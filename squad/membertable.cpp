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
    m_columns.insert(memberCount(), std::move(member));
}

bool MemberTable::remove(int column) {
    if (!isMember(column))
        return false;
    m_columns.remove(column);
    return true;
}

void MemberTable::reset() {
    m_columns.clear();
    m_columns.append(Member{});
}

} // namespace squad
