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
// table always has one column more than members.
class MemberTable {
public:
    MemberTable();

    int columnCount() const { return int(m_columns.size()); }
    int memberCount() const { return columnCount() - 1; }
    bool isMember(int column) const { return column >= 0 && column < memberCount(); }

    // Any column, the spare included.
    const QString &cell(Field field, int column) const;
    const Member &column(int column) const { return m_columns.at(column); }

    // Stores into a member's column. The spare column and positions outside the table have no
    // cell to take a value: the call returns false and changes nothing.
    bool setCell(Field field, int column, const QString &value);

    // Grows the table by one column at its end; the former spare column becomes the new member.
    // Returns that member's column.
    int grow();
    // Appends a whole member in front of the spare column (used when reading a file).
    void append(Member member);
    // Every column after `column` moves one place towards the front and the table shrinks by one.
    bool remove(int column);
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
