#pragma once

#include "membertable.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace squad {

// The members as a spreadsheet takes them: a header row `id,nick,name,email,icq,remark`, one row
// per member, comma separated and quoted where RFC 4180 needs it, UTF-8 with a byte-order mark,
// CR LF line ends. A value that a spreadsheet would run as a formula (one starting with "=", "+",
// "-", "@", a tab or a carriage return, after any apostrophes) gets an apostrophe in front, so
// that it stays text; readMembersCsv takes exactly that apostrophe off again.
QByteArray membersCsv(const MemberTable &table);

struct CsvMembers {
    bool ok = false;
    QList<Member> members;
    // When !ok: what is wrong, for the user; `row` and `column` (from 1; the header is row 1)
    // say where, or are 0 when the fault is not at one place.
    QString error;
    int row = 0;
    int column = 0;
};

// Reads members from CSV text: a header row naming any of the columns id, nick, name, email, icq
// and remark (any order and case; other columns are ignored, missing ones read as empty), then
// one member a row. The separator, comma or semicolon, is the one the header row uses. Fields
// may be quoted, with doubled quotes inside and line breaks as well; a row without any value is
// skipped. UTF-8 with or without a byte-order mark, otherwise Windows-1252. A quote left open, or
// text after a closing quote, fails the whole text, as does a header naming none of the columns.
CsvMembers readMembersCsv(const QByteArray &bytes);

// The text a spreadsheet shows as the value, with the formula guard taken off.
QString unguardedCsvValue(const QString &value);

} // namespace squad
