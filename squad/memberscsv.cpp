#include "memberscsv.h"

#include <QStringDecoder>

#include <array>

namespace squad {
namespace {

constexpr char16_t apostrophe = u'\'';

bool startsAFormula(QStringView value) {
    qsizetype i = 0;
    while (i < value.size() && value[i] == apostrophe)
        ++i;
    if (i == value.size())
        return false;
    switch (value[i].unicode()) {
    case u'=':
    case u'+':
    case u'-':
    case u'@':
    case u'\t':
    case u'\r':
        return true;
    default:
        return false;
    }
}

// Apostrophes before a formula character are counted in, so that a value which itself starts
// with an apostrophe comes back unchanged.
QString guarded(const QString &value) {
    return startsAFormula(value) ? apostrophe + value : value;
}

void appendField(QString &line, const QString &raw) {
    const QString value = guarded(raw);
    const bool quote = value.contains(u',') || value.contains(u'"') || value.contains(u'\n') ||
                       value.contains(u'\r');
    if (!quote) {
        line += value;
        return;
    }
    line += u'"';
    for (const QChar c : value) {
        if (c == u'"')
            line += u'"';
        line += c;
    }
    line += u'"';
}

QString decodeText(const QByteArray &bytes) {
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(view.sliced(3));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(view);
    if (!utf8.hasError())
        return text;
    QStringDecoder windows1252("windows-1252");
    return windows1252(view);
}

// A small RFC 4180 scanner over the decoded text. Rows end at CR LF, LF or a lone CR.
class Scanner {
public:
    Scanner(const QString &text, QChar separator)
        : m_text(text)
        , m_separator(separator) {}

    bool atEnd() const { return m_pos >= m_text.size(); }
    int row() const { return m_row; }

    // The fields of the next row; false with `error` set on a broken quote.
    bool next(QStringList &fields, CsvMembers &error) {
        fields.clear();
        ++m_row;
        int column = 1;
        for (;;) {
            QString field;
            if (m_pos < m_text.size() && m_text[m_pos] == u'"') {
                const qsizetype opened = m_pos++;
                for (;;) {
                    const qsizetype quote = m_text.indexOf(u'"', m_pos);
                    if (quote < 0) {
                        fail(error, column,
                             QStringLiteral("The quote that opens this field is never closed."));
                        m_pos = opened;
                        return false;
                    }
                    field += QStringView(m_text).mid(m_pos, quote - m_pos);
                    m_pos = quote + 1;
                    if (m_pos < m_text.size() && m_text[m_pos] == u'"') {
                        field += u'"';
                        ++m_pos;
                        continue;
                    }
                    break;
                }
                if (m_pos < m_text.size() && m_text[m_pos] != m_separator &&
                    m_text[m_pos] != u'\n' && m_text[m_pos] != u'\r') {
                    fail(error, column,
                         QStringLiteral("Text follows the quote that closes this field."));
                    return false;
                }
            } else {
                qsizetype end = m_pos;
                while (end < m_text.size() && m_text[end] != m_separator && m_text[end] != u'\n' &&
                       m_text[end] != u'\r')
                    ++end;
                field = m_text.mid(m_pos, end - m_pos);
                m_pos = end;
            }
            fields << field;
            if (m_pos < m_text.size() && m_text[m_pos] == m_separator) {
                ++m_pos;
                ++column;
                continue;
            }
            if (m_pos < m_text.size() && m_text[m_pos] == u'\r')
                ++m_pos;
            if (m_pos < m_text.size() && m_text[m_pos] == u'\n')
                ++m_pos;
            return true;
        }
    }

private:
    void fail(CsvMembers &error, int column, const QString &what) const {
        error.row = m_row;
        error.column = column;
        error.error = QStringLiteral("Row %1, column %2: %3").arg(m_row).arg(column).arg(what);
    }

    const QString &m_text;
    const QChar m_separator;
    qsizetype m_pos = 0;
    int m_row = 0;
};

// The separator the header row uses: a semicolon when it has more of them than commas, outside
// quotes.
QChar separatorOf(const QString &text) {
    int commas = 0;
    int semicolons = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && (c == u'\n' || c == u'\r'))
            break;
        else if (!quoted && c == u',')
            ++commas;
        else if (!quoted && c == u';')
            ++semicolons;
    }
    return semicolons > commas ? u';' : u',';
}

} // namespace

QString unguardedCsvValue(const QString &value) {
    if (value.startsWith(apostrophe) && startsAFormula(QStringView(value).mid(1)))
        return value.mid(1);
    return value;
}

QByteArray membersCsv(const MemberTable &table) {
    QString text;
    for (int f = 0; f < FieldCount; ++f) {
        if (f > 0)
            text += u',';
        text += fieldName(Field(f));
    }
    text += u"\r\n";
    for (int i = 0; i < table.memberCount(); ++i) {
        const Member &member = table.member(i);
        for (int f = 0; f < FieldCount; ++f) {
            if (f > 0)
                text += u',';
            appendField(text, member[f]);
        }
        text += u"\r\n";
    }
    return "\xEF\xBB\xBF" + text.toUtf8();
}

CsvMembers readMembersCsv(const QByteArray &bytes) {
    CsvMembers result;
    const QString text = decodeText(bytes);
    Scanner scanner(text, separatorOf(text));
    QStringList fields;
    if (scanner.atEnd() || !scanner.next(fields, result)) {
        if (result.error.isEmpty())
            result.error = QStringLiteral("The file is empty: it has no header row.");
        return result;
    }
    // Where each column of the file goes: a field, or -1 for a column not imported.
    QList<int> target;
    bool usable = false;
    for (const QString &name : std::as_const(fields)) {
        int field = -1;
        for (int f = 0; f < FieldCount; ++f) {
            if (name.trimmed().compare(fieldName(Field(f)), Qt::CaseInsensitive) == 0) {
                field = f;
                break;
            }
        }
        // Of a column named twice the first counts.
        if (field >= 0 && target.contains(field))
            field = -1;
        usable = usable || field >= 0;
        target << field;
    }
    if (!usable) {
        result.row = 1;
        result.error = QStringLiteral("Row 1: the header names none of the columns id, nick, "
                                      "name, email, icq and remark.");
        return result;
    }
    while (!scanner.atEnd()) {
        if (!scanner.next(fields, result)) {
            result.members.clear();
            return result;
        }
        Member member;
        bool any = false;
        for (qsizetype c = 0; c < fields.size() && c < target.size(); ++c) {
            if (target[c] < 0 || fields[c].isEmpty())
                continue;
            member[target[c]] = unguardedCsvValue(fields[c]);
            any = true;
        }
        if (any)
            result.members << std::move(member);
    }
    result.ok = true;
    return result;
}

} // namespace squad
