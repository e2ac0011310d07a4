#include "squadreader.h"

#include <QStringDecoder>

#include <cstdint>
#include <cstring>
#include <string_view>

namespace squad {
namespace {

using namespace std::string_view_literals;

// The three header texts.
constexpr std::string_view xmlDeclaration = "<?xml version=\"1.0\"?>"sv;
constexpr std::string_view doctypeLine = "<!DOCTYPE squad SYSTEM \"squad.dtd\">"sv;
constexpr std::string_view stylesheetLine =
    "<?xml-stylesheet href=\"squad.xsl?\" type=\"text/xsl\"?>"sv;

// The code pages in which values are converted. All of them keep ASCII where it is, so the tags
// are found in the bytes whatever the code page; UTF-16 and UTF-32 texts are turned into UTF-8
// first.
enum class Charset { Utf8, Latin1, Windows1252 };

// Bytes 0x80 to 0x9F of windows-1252. The five bytes it leaves undefined map to the C1 control
// of the same number, as Windows itself converts them.
constexpr char16_t windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline bool isNameChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
           u == '-' || u == '_' || u == '.' || u == ':' || u >= 0x80;
}

inline const char *find(const char *from, const char *to, char c) {
    return static_cast<const char *>(std::memchr(from, c, size_t(to - from)));
}

// The first position of `needle` in [from, to), or nullptr.
const char *find(const char *from, const char *to, std::string_view needle) {
    const std::string_view hay(from, size_t(to - from));
    const size_t at = hay.find(needle);
    return at == std::string_view::npos ? nullptr : from + at;
}

inline bool startsWith(const char *p, const char *end, std::string_view text) {
    return size_t(end - p) >= text.size() && std::memcmp(p, text.data(), text.size()) == 0;
}

bool isValidUtf8(const char *text, const char *textEnd) {
    auto p = reinterpret_cast<const unsigned char *>(text);
    const auto end = reinterpret_cast<const unsigned char *>(textEnd);
    while (p < end) {
        while (end - p >= 16) { // ASCII runs, sixteen bytes at a time
            std::uint64_t a, b;
            std::memcpy(&a, p, 8);
            std::memcpy(&b, p + 8, 8);
            if ((a | b) & 0x8080808080808080ULL)
                break;
            p += 16;
        }
        if (p == end)
            break;
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
        } else if (c < 0xC2) {
            return false; // continuation byte or overlong two-byte form
        } else if (c < 0xE0) {
            if (end - p < 2 || (p[1] & 0xC0) != 0x80)
                return false;
            p += 2;
        } else if (c < 0xF0) {
            if (end - p < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80)
                return false;
            if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0))
                return false; // overlong, or a surrogate
            p += 3;
        } else if (c < 0xF5) {
            if (end - p < 4 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80 ||
                (p[3] & 0xC0) != 0x80)
                return false;
            if ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] >= 0x90))
                return false; // overlong, or beyond U+10FFFF
            p += 4;
        } else {
            return false;
        }
    }
    return true;
}

// The value of `encoding="…"` in an XML declaration at the head of the text (blanks in front of
// it allowed), or an empty view.
std::string_view declaredEncoding(const char *p, const char *end) {
    while (p < end && isBlank(*p))
        ++p;
    if (!startsWith(p, end, "<?xml") || end - p < 6 || !isBlank(p[5]))
        return {};
    const char *close = find(p, end, "?>"sv);
    const char *const declEnd = close ? close : end;
    p += 6;
    while (p < declEnd) {
        while (p < declEnd && isBlank(*p))
            ++p;
        const char *name = p;
        while (p < declEnd && isNameChar(*p))
            ++p;
        const std::string_view attribute(name, size_t(p - name));
        while (p < declEnd && isBlank(*p))
            ++p;
        if (p == declEnd || *p != '=')
            return {};
        ++p;
        while (p < declEnd && isBlank(*p))
            ++p;
        if (p == declEnd || (*p != '"' && *p != '\''))
            return {};
        const char *valueEnd = find(p + 1, declEnd, *p);
        if (!valueEnd)
            return {};
        if (attribute == "encoding"sv)
            return std::string_view(p + 1, size_t(valueEnd - p - 1));
        p = valueEnd + 1;
    }
    return {};
}

bool equalsIgnoringCase(std::string_view a, std::string_view lowerCase) {
    if (a.size() != lowerCase.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != lowerCase[i])
            return false;
    }
    return true;
}

// Turns the bytes of one value into its characters: converts them from the code page and
// replaces the predefined entity and numeric character references; any other "&" stays.
class ValueDecoder {
public:
    explicit ValueDecoder(Charset charset)
        : m_charset(charset) {}

    QString value(const char *begin, const char *end) const {
        if (begin == end)
            return QString();
        const char *amp = find(begin, end, '&');
        if (!amp)
            return convert(begin, end);
        QString out;
        out.reserve(end - begin);
        const char *segment = begin;
        while (amp) {
            char32_t code = 0;
            const char *behind = reference(amp, end, code);
            if (behind) {
                append(out, segment, amp);
                if (code > 0xFFFF) {
                    out += QChar(QChar::highSurrogate(code));
                    out += QChar(QChar::lowSurrogate(code));
                } else {
                    out += QChar(char16_t(code));
                }
                segment = behind;
            } else {
                behind = amp + 1;
            }
            amp = find(behind, end, '&');
        }
        append(out, segment, end);
        return out;
    }

private:
    QString convert(const char *begin, const char *end) const {
        const qsizetype size = end - begin;
        switch (m_charset) {
        case Charset::Utf8:
            if (size >= 3 && startsWith(begin, end, "\xEF\xBB\xBF"sv))
                return withLeadingMarks(begin, end);
            return QString::fromUtf8(begin, size);
        case Charset::Latin1:
            return QString::fromLatin1(begin, size);
        case Charset::Windows1252:
            break;
        }
        QString out(size, Qt::Uninitialized);
        char16_t *o = reinterpret_cast<char16_t *>(out.data());
        for (const char *p = begin; p < end; ++p) {
            const auto c = static_cast<unsigned char>(*p);
            *o++ = (c >= 0x80 && c < 0xA0) ? windows1252High[c - 0x80] : char16_t(c);
        }
        return out;
    }

    // QString::fromUtf8 drops a byte-order mark at the start; inside a value it is a character.
    static QString withLeadingMarks(const char *begin, const char *end) {
        QString out;
        while (startsWith(begin, end, "\xEF\xBB\xBF"sv)) {
            out += QChar(char16_t(0xFEFF));
            begin += 3;
        }
        return out + QString::fromUtf8(begin, end - begin);
    }

    void append(QString &out, const char *begin, const char *end) const {
        if (begin == end)
            return;
        if (m_charset == Charset::Latin1)
            out.append(QLatin1StringView(begin, end - begin));
        else
            out.append(convert(begin, end));
    }

    // A reference at `amp` ("&" included): returns the position behind its ";" and sets `code`,
    // or returns nullptr when the text there is no reference to a character.
    static const char *reference(const char *amp, const char *end, char32_t &code) {
        const char *p = amp + 1;
        if (p < end && *p == '#') {
            ++p;
            const bool hex = p < end && *p == 'x';
            if (hex)
                ++p;
            const char *digits = p;
            char32_t value = 0;
            bool tooLarge = false;
            for (; p < end; ++p) {
                const char c = *p;
                unsigned digit;
                if (c >= '0' && c <= '9')
                    digit = unsigned(c - '0');
                else if (hex && c >= 'a' && c <= 'f')
                    digit = unsigned(c - 'a' + 10);
                else if (hex && c >= 'A' && c <= 'F')
                    digit = unsigned(c - 'A' + 10);
                else
                    break;
                value = value * (hex ? 16 : 10) + digit;
                if (value > 0x10FFFF) {
                    tooLarge = true;
                    value = 0x110000; // stays too large, never overflows
                }
            }
            if (p == digits || p == end || *p != ';' || tooLarge || value == 0 ||
                (value >= 0xD800 && value <= 0xDFFF))
                return nullptr;
            code = value;
            return p + 1;
        }
        static constexpr struct {
            std::string_view name;
            char16_t character;
        } entities[] = {{"amp;", u'&'}, {"lt;", u'<'}, {"gt;", u'>'}, {"quot;", u'"'},
                        {"apos;", u'\''}};
        for (const auto &entity : entities) {
            if (startsWith(p, end, entity.name)) {
                code = entity.character;
                return p + entity.name.size();
            }
        }
        return nullptr;
    }

    Charset m_charset;
};

enum class Tag { Other, Squad, Member, Name, Email, Web, Picture, Title, Icq, Remark };

Tag tagFor(const char *name, size_t size) {
    const std::string_view n(name, size);
    switch (size) {
    case 3:
        return n == "web"sv ? Tag::Web : n == "icq"sv ? Tag::Icq : Tag::Other;
    case 4:
        return n == "name"sv ? Tag::Name : Tag::Other;
    case 5:
        return n == "email"sv   ? Tag::Email
               : n == "squad"sv ? Tag::Squad
               : n == "title"sv ? Tag::Title
                                : Tag::Other;
    case 6:
        return n == "member"sv ? Tag::Member : n == "remark"sv ? Tag::Remark : Tag::Other;
    case 7:
        return n == "picture"sv ? Tag::Picture : Tag::Other;
    default:
        return Tag::Other;
    }
}

const char *tagText(Tag tag) {
    switch (tag) {
    case Tag::Squad:
        return "squad";
    case Tag::Member:
        return "member";
    case Tag::Name:
        return "name";
    case Tag::Email:
        return "email";
    case Tag::Web:
        return "web";
    case Tag::Picture:
        return "picture";
    case Tag::Title:
        return "title";
    case Tag::Icq:
        return "icq";
    case Tag::Remark:
        return "remark";
    case Tag::Other:
        break;
    }
    return "";
}

// Where an element's value goes: the squad property or the member field, or -1 for none.
int propertyFor(Tag tag) {
    switch (tag) {
    case Tag::Name:
        return int(Property::Name);
    case Tag::Email:
        return int(Property::Mail);
    case Tag::Web:
        return int(Property::Web);
    case Tag::Picture:
        return int(Property::Picture);
    case Tag::Title:
        return int(Property::Title);
    default:
        return -1;
    }
}

int fieldFor(Tag tag) {
    switch (tag) {
    case Tag::Name:
        return int(Field::Name);
    case Tag::Email:
        return int(Field::Mail);
    case Tag::Icq:
        return int(Field::Icq);
    case Tag::Remark:
        return int(Field::Remark);
    default:
        return -1;
    }
}

struct Failure {
    const char *at = nullptr;
    QString what;
};

// The end of a start tag: where it ends, whether it closed itself with "/>", and whether its ">"
// was there at all before the next "<".
struct StartTag {
    const char *behind = nullptr;
    bool selfClosing = false;
    bool closed = false;
};

// Reads the attributes of a start tag from `p`, just behind its name, up to `limit`, the next
// "<" (or the end of the text): an attribute value cannot hold "<", so the tag ends before it.
// `onAttribute(name, valueBegin, valueEnd)` is called for every attribute with a value. Returns
// false, with `failure` set, for a quoted value whose closing quote is missing.
template <typename OnAttribute>
bool readStartTag(const char *p, const char *limit, StartTag &tag, Failure &failure,
                  OnAttribute onAttribute) {
    for (;;) {
        while (p < limit && isBlank(*p))
            ++p;
        if (p == limit) {
            tag.behind = limit; // the tag is not closed before the next one: take it as ended
            return true;
        }
        if (*p == '>') {
            tag.behind = p + 1;
            tag.closed = true;
            return true;
        }
        if (*p == '/' && p + 1 < limit && p[1] == '>') {
            tag.behind = p + 2;
            tag.closed = tag.selfClosing = true;
            return true;
        }
        const char *name = p;
        while (p < limit && isNameChar(*p))
            ++p;
        if (p == name) { // a stray character
            ++p;
            continue;
        }
        const std::string_view attribute(name, size_t(p - name));
        while (p < limit && isBlank(*p))
            ++p;
        if (p == limit || *p != '=')
            continue; // an attribute without a value counts for nothing
        ++p;
        while (p < limit && isBlank(*p))
            ++p;
        if (p < limit && (*p == '"' || *p == '\'')) {
            const char quote = *p;
            const char *value = p + 1;
            const char *valueEnd = find(value, limit, quote);
            if (!valueEnd) {
                failure.at = name;
                failure.what = QStringLiteral("the value of the attribute %1 has no closing %2")
                                   .arg(QString::fromUtf8(attribute.data(), attribute.size()),
                                        quote == '"' ? QStringLiteral("double quote")
                                                     : QStringLiteral("single quote"));
                return false;
            }
            onAttribute(attribute, value, valueEnd);
            p = valueEnd + 1;
        } else { // unquoted, as people sometimes write it: up to a blank or the tag's end
            const char *value = p;
            while (p < limit && !isBlank(*p) && *p != '>' &&
                   !(*p == '/' && p + 1 < limit && p[1] == '>'))
                ++p;
            onAttribute(attribute, value, p);
        }
    }
}

// Lines end at LF, CR LF or a lone CR.
int lineOf(const char *begin, const char *end, const char *at) {
    int line = 1;
    for (const char *p = begin; p < at; ++p) {
        if (*p == '\n' || (*p == '\r' && (p + 1 == end || p[1] != '\n')))
            ++line;
    }
    return line;
}

class Scanner {
public:
    Scanner(const char *begin, const char *end, Charset charset)
        : m_begin(begin)
        , m_end(end)
        , m_decoder(charset) {}

    // Fills `data`; returns false with `failure` set when a value has no end.
    bool run(SquadData &data) {
        MemberTable &table = data.mmbdata;
        // The writer's members take at least 99 bytes; hand-made ones rarely fewer.
        table.reserve(int(std::min<qsizetype>((m_end - m_begin) / 100, 1 << 20)));
        const char *p = m_begin;
        while (const char *lt = find(p, m_end, '<')) {
            p = tag(lt, data);
            if (!p)
                return false;
        }
        closeMember(table);
        if (!m_squadSeen && !m_membersSeen) {
            m_failure.at = m_begin;
            m_failure.what = QStringLiteral("it holds no squad: neither a <squad> nor a <member> "
                                            "tag was found");
            return false;
        }
        return true;
    }

    const Failure &failure() const { return m_failure; }

private:
    // Handles the markup at `lt`; returns where scanning goes on, or nullptr on a failure.
    const char *tag(const char *lt, SquadData &data) {
        const char *p = lt + 1;
        if (p == m_end)
            return m_end;
        if (*p == '!') {
            if (startsWith(p, m_end, "!--"sv))
                return skipPast(p + 3, "-->"sv);
            if (startsWith(p, m_end, "![CDATA["sv))
                return skipPast(p + 8, "]]>"sv);
            return skipPast(p + 1, ">"sv);
        }
        if (*p == '?')
            return skipPast(p + 1, "?>"sv);
        const bool endTag = *p == '/';
        if (endTag)
            ++p;
        const char *name = p;
        while (p < m_end && isNameChar(*p))
            ++p;
        if (p == m_end || !(isBlank(*p) || *p == '>' || *p == '/'))
            return p; // no tag that is read: stray text or a cut-off tag
        const Tag which = tagFor(name, size_t(p - name));
        if (endTag) {
            if (which == Tag::Member)
                closeMember(data.mmbdata);
            return p;
        }
        switch (which) {
        case Tag::Other:
            return p;
        case Tag::Member:
            return memberStart(p, data.mmbdata);
        case Tag::Squad:
            if (m_squadSeen || m_membersSeen)
                return p;
            m_squadSeen = true;
            return attributes(p, [&](std::string_view attribute, const char *b, const char *e) {
                if (attribute == "nick"sv && !(m_squadFound & 1u)) {
                    m_squadFound |= 1u;
                    data.properties[int(Property::Tag)] = m_decoder.value(b, e);
                }
            });
        default:
            break;
        }
        // One of the elements that hold a value.
        QString *target = nullptr;
        if (m_inMember) {
            const int field = fieldFor(which);
            if (field >= 0 && !(m_memberFound & (1u << field))) {
                m_memberFound |= 1u << field;
                target = &m_member[field];
            }
        } else if (!m_membersSeen) {
            const int property = propertyFor(which);
            if (property >= 0 && !(m_squadFound & (1u << property))) {
                m_squadFound |= 1u << property;
                target = &data.properties[property];
            }
        }
        if (!target)
            return p;
        const char *limit = find(p, m_end, '<');
        if (!limit)
            limit = m_end;
        StartTag start;
        if (!readStartTag(p, limit, start, m_failure, [](auto, auto, auto) {}))
            return nullptr;
        if (start.selfClosing || !start.closed)
            return start.behind; // <icq/>, or a start tag cut off by the next tag: empty
        if (limit == m_end) {
            m_failure.at = lt;
            m_failure.what =
                QStringLiteral("the value of <%1> has no end: the text ends before its \"<\"")
                    .arg(QLatin1StringView(tagText(which)));
            return nullptr;
        }
        *target = m_decoder.value(start.behind, limit);
        return limit;
    }

    const char *memberStart(const char *p, MemberTable &table) {
        closeMember(table);
        m_membersSeen = m_inMember = true;
        const char *behind = attributes(p, [&](std::string_view attribute, const char *b,
                                               const char *e) {
            const int field = attribute == "id"sv     ? int(Field::Id)
                              : attribute == "nick"sv ? int(Field::Nick)
                                                      : -1;
            if (field >= 0 && !(m_memberFound & (1u << field))) {
                m_memberFound |= 1u << field;
                m_member[field] = m_decoder.value(b, e);
            }
        });
        if (behind && m_lastStartSelfClosing)
            closeMember(table);
        return behind;
    }

    template <typename OnAttribute>
    const char *attributes(const char *p, OnAttribute onAttribute) {
        const char *limit = find(p, m_end, '<');
        StartTag start;
        if (!readStartTag(p, limit ? limit : m_end, start, m_failure, onAttribute))
            return nullptr;
        m_lastStartSelfClosing = start.selfClosing;
        return start.behind;
    }

    void closeMember(MemberTable &table) {
        if (!m_inMember)
            return;
        table.append(std::move(m_member));
        m_member = Member{};
        m_memberFound = 0;
        m_inMember = false;
    }

    const char *skipPast(const char *from, std::string_view terminator) {
        const char *at = find(from, m_end, terminator);
        return at ? at + terminator.size() : m_end;
    }

    const char *const m_begin;
    const char *const m_end;
    const ValueDecoder m_decoder;
    Failure m_failure;

    bool m_squadSeen = false;   // the squad's start tag was read
    bool m_membersSeen = false; // a member started: the squad's scope is over
    bool m_inMember = false;
    bool m_lastStartSelfClosing = false;
    unsigned m_squadFound = 0;  // bit per property already read
    unsigned m_memberFound = 0; // bit per field of the current member already read
    Member m_member;
};

} // namespace

DecodeResult decode(const QByteArray &fileBytes) {
    DecodeResult result;
    const char *begin = fileBytes.constData();
    const char *end = begin + fileBytes.size();

    // The code page.
    QByteArray transcoded; // only for UTF-16 and UTF-32 texts
    Charset charset = Charset::Utf8;
    const auto unicodeWithMark = [&](QStringConverter::Encoding encoding, int markSize,
                                     const char *name) {
        QStringDecoder toUnicode(encoding);
        transcoded = QString(toUnicode(QByteArrayView(begin + markSize, end))).toUtf8();
        begin = transcoded.constData();
        end = begin + transcoded.size();
        result.encoding = QLatin1StringView(name);
    };
    const QByteArrayView head(begin, std::min<qsizetype>(fileBytes.size(), 4));
    if (head.startsWith("\xEF\xBB\xBF")) {
        begin += 3;
        result.encoding = QStringLiteral("UTF-8");
    } else if (head.startsWith(QByteArrayView("\xFF\xFE\0\0", 4))) {
        unicodeWithMark(QStringConverter::Utf32LE, 4, "UTF-32");
    } else if (head.startsWith(QByteArrayView("\0\0\xFE\xFF", 4))) {
        unicodeWithMark(QStringConverter::Utf32BE, 4, "UTF-32");
    } else if (head.startsWith("\xFF\xFE")) {
        unicodeWithMark(QStringConverter::Utf16LE, 2, "UTF-16");
    } else if (head.startsWith("\xFE\xFF")) {
        unicodeWithMark(QStringConverter::Utf16BE, 2, "UTF-16");
    } else {
        std::optional<Charset> chosen;
        std::optional<bool> valid;
        const auto validUtf8 = [&] {
            if (!valid)
                valid = isValidUtf8(begin, end);
            return *valid;
        };
        const std::string_view declared = declaredEncoding(begin, end);
        if (!declared.empty()) {
            if (equalsIgnoringCase(declared, "windows-1252"sv) ||
                equalsIgnoringCase(declared, "cp1252"sv)) {
                chosen = Charset::Windows1252;
            } else {
                const auto known =
                    QStringConverter::encodingForName(QByteArray(declared.data(),
                                                                 qsizetype(declared.size())));
                // A declaration readable byte by byte cannot be UTF-16 or UTF-32, and the
                // system code page is none the file can name.
                if (known == QStringConverter::Utf8 && validUtf8())
                    chosen = Charset::Utf8;
                else if (known == QStringConverter::Latin1)
                    chosen = Charset::Latin1;
            }
        }
        if (!chosen)
            chosen = validUtf8() ? Charset::Utf8 : Charset::Windows1252;
        charset = *chosen;
        result.encoding = charset == Charset::Utf8     ? QStringLiteral("UTF-8")
                          : charset == Charset::Latin1 ? QStringLiteral("ISO-8859-1")
                                                       : QStringLiteral("windows-1252");
    }

    // The header check only warns.
    const std::string_view text(begin, size_t(end - begin));
    result.headerCorrupt = !text.starts_with(xmlDeclaration) ||
                           text.find(doctypeLine) == std::string_view::npos ||
                           text.find(stylesheetLine) == std::string_view::npos;

    Scanner scanner(begin, end, charset);
    if (!scanner.run(result.data)) {
        result.data = SquadData{};
        result.error = QStringLiteral("The file could not be read: %1.").arg(
            scanner.failure().what);
        result.errorLine = lineOf(begin, end, scanner.failure().at);
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace squad
