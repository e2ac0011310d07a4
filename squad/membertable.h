#pragma once

#include <QList>
#include <QString>

#include <array>

namespace squad {

// The six fields of a member, in the order they are stored and written.
enum class Field { Id = 0, Nick, Name, Mail, Icq, Remark };
inline constexpr int FieldCount = 6;

using Member = std::array<QString, FieldCount>;

// The member table `mmbdata`: one column per member and, behind the last member, a spare column
// whose cells are always empty. The spare column is what Add turns into the new member, so a
// table always has one column more than members. A member is named by its index, counted from 0
// in the order of the file and of the member list.
class MemberTable {
public:
    MemberTable();

    int columnCount() const { return int(m_columns.size()); }
    int memberCount() const { return columnCount() - 1; }
    bool isMember(int index) const { return index >= 0 && index < memberCount(); }

    // Any index up to the spare column's.
    const QString &cell(Field field, int index) const;
    const Member &member(int index) const { return m_columns.at(index); }
    // The members in order, without the spare column.
    QList<Member> members() const { return m_columns.first(memberCount()); }

    // Stores into a member's cell. The spare column and indexes outside the table have no cell
    // to take a value: the call returns false and changes nothing.
    bool setCell(Field field, int index, const QString &value);

    // Grows the table by one column at its end; the former spare column becomes the new member.
    // Returns that member's index.
    int grow();
    // Appends a whole member in front of the spare column (used when reading a file).
    void append(Member member);
    // Puts a member at `index` (0 to memberCount()); those from there on move one place back.
    bool insert(int index, Member member);
    // Every member after `index` moves one place towards the front and the table shrinks by one.
    bool remove(int index);
    // Replaces the whole table: these members, in order, and the spare column behind them.
    void assign(QList<Member> members);
    // Back to the created state: the spare column only.
    void reset();
    void reserve(int members) { m_columns.reserve(members + 1); }

    friend bool operator==(const MemberTable &, const MemberTable &) = default;

private:
    QList<Member> m_columns;
};

inline QString fieldName(Field field) {
    static const char *const names[FieldCount] = {"id", "nick", "name", "email", "icq", "remark"};
    return QString::fromLatin1(names[int(field)]);
}

} // namespace squad
