#include "squadreader.h"

#include <QScopeGuard>
#include <QStringDecoder>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace squad {
namespace {

using namespace std::string_view_literals;

// The writer's header: a file without all three draws the header warning.
constexpr std::string_view xmlDeclaration = "<?xml version=\"1.0\"?>"sv;
constexpr std::string_view doctypeLine = "<!DOCTYPE squad SYSTEM \"squad.dtd\">"sv;
constexpr std::string_view stylesheetLine =
    "<?xml-stylesheet href=\"squad.xsl?\" type=\"text/xsl\"?>"sv;

// The code pages in which values are converted. All of them keep ASCII where it is, so the tags
// are found in the bytes whatever the code page; UTF-16 and UTF-32 texts, and texts in the other
// code pages a file may declare, are turned into UTF-8 first. (In some of those a character's
// bytes may hold a "<" or "&", as in ISO-2022-JP, so the bytes cannot be scanned as they are.)
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

constexpr std::array<bool, 256> nameChars = [] {
    std::array<bool, 256> table{};
    for (int u = 0; u < 256; ++u) {
        table[size_t(u)] = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                           (u >= '0' && u <= '9') || u == '-' || u == '_' || u == '.' || u == ':' ||
                           u >= 0x80;
    }
    return table;
}();

inline bool isNameChar(char c) {
    return nameChars[static_cast<unsigned char>(c)];
}

// The first `c` in [from, to), or nullptr. The distances between the marks of a squad file are
// short, so an inline loop beats a call to memchr.
inline const char *find(const char *from, const char *to, char c) {
#ifdef __SSE2__
    const __m128i needle = _mm_set1_epi8(c);
    while (to - from >= 16) {
        const unsigned hits = unsigned(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(from)), needle)));
        if (hits)
            return from + __builtin_ctz(hits);
        from += 16;
    }
#endif
    for (; from < to; ++from) {
        if (*from == c)
            return from;
    }
    return nullptr;
}

// The first position of `needle` in [from, to), or nullptr.
const char *find(const char *from, const char *to, std::string_view needle) {
    const std::string_view hay(from, size_t(to - from));
    const size_t at = hay.find(needle);
    return at == std::string_view::npos ? nullptr : from + at;
}

// The first `a` or `b` in [from, to), or nullptr.
inline const char *findEither(const char *from, const char *to, char a, char b) {
#ifdef __SSE2__
    const __m128i first = _mm_set1_epi8(a);
    const __m128i second = _mm_set1_epi8(b);
    while (to - from >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
        const unsigned hits = unsigned(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, first), _mm_cmpeq_epi8(bytes, second))));
        if (hits)
            return from + __builtin_ctz(hits);
        from += 16;
    }
#endif
    for (; from < to; ++from) {
        if (*from == a || *from == b)
            return from;
    }
    return nullptr;
}

inline bool startsWith(const char *p, const char *end, std::string_view text) {
    return size_t(end - p) >= text.size() && std::memcmp(p, text.data(), text.size()) == 0;
}

// The same for a literal, whose length the compiler knows, so that it compares inline.
template <size_t N>
inline bool startsWith(const char *p, const char *end, const char (&literal)[N]) {
    return size_t(end - p) >= N - 1 && std::memcmp(p, literal, N - 1) == 0;
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

// The declared code pages that are read as the one that Windows writes under that name: its own
// form of the code page, which differs in a few bytes or knows more characters. Under glibc's
// strict Shift_JIS the backslash and "~" would become "¥" and "‾", in web addresses too.
constexpr struct {
    std::string_view declared; // lower case
    const char *converter;
} windowsForms[] = {{"shift_jis"sv, "CP932"}, {"shift-jis"sv, "CP932"}, {"sjis"sv, "CP932"},
                    {"x-sjis"sv, "CP932"},    {"ms_kanji"sv, "CP932"},  {"csshiftjis"sv, "CP932"},
                    {"gb2312"sv, "GBK"},      {"csgb2312"sv, "GBK"}};

// The text converted from the declared code page to UTF-8 by the system's converter (iconv), or
// nothing when it does not know the name or the bytes are not all valid in it. The text up to
// `declarationEnd` must come out as it went in: that rules out the code pages in which the
// declaration itself would read as other characters (UTF-16 and UTF-32 without a byte-order
// mark, EBCDIC), which the file cannot mean.
std::optional<QByteArray> transcodeToUtf8(const char *begin, const char *end,
                                          std::string_view declared, const char *declarationEnd) {
    // Only names as XML writes them, a letter and then letters, digits, ".", "_" or "-": no
    // "//IGNORE" or "//TRANSLIT" that would pass invalid bytes, nothing the converter would
    // take apart in other ways.
    const auto isLetter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    if (declared.size() > 64 || !isLetter(declared.front()) ||
        !std::all_of(declared.begin(), declared.end(), [&](char c) {
            return isLetter(c) || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        }))
        return std::nullopt;
    std::string name(declared);
    for (const auto &form : windowsForms) {
        if (equalsIgnoringCase(declared, form.declared))
            name = form.converter;
    }
    const iconv_t converter = iconv_open("UTF-8", name.c_str());
    if (converter == iconv_t(-1))
        return std::nullopt;
    const auto closeConverter = qScopeGuard([converter] { iconv_close(converter); });

    QByteArray out;
    // Markup and most values are ASCII, one byte in either; more room is made as needed.
    out.resize((end - begin) + (end - begin) / 2 + 64);
    char *in = const_cast<char *>(begin); // iconv's signature; it does not write to the input
    size_t inLeft = size_t(end - begin);
    qsizetype written = 0;
    for (bool flushing = false;;) {
        char *to = out.data() + written;
        size_t toLeft = size_t(out.size() - written);
        // At the end, a stateful code page may still have characters to give.
        const size_t converted = flushing ? iconv(converter, nullptr, nullptr, &to, &toLeft)
                                          : iconv(converter, &in, &inLeft, &to, &toLeft);
        const int error = converted == size_t(-1) ? errno : 0;
        written = to - out.data();
        if (error == E2BIG) {
            out.resize(out.size() + out.size() / 2 + 64);
            continue;
        }
        if (error) // EILSEQ: an invalid byte; EINVAL: a character cut off at the end
            return std::nullopt;
        if (flushing)
            break;
        flushing = true;
    }
    out.truncate(written);
    if (!out.startsWith(QByteArrayView(begin, declarationEnd)))
        return std::nullopt;
    return out;
}

// A value's bytes in the text; an empty value has size 0 and becomes a null string. An element's
// value that holds comments, processing instructions or CDATA sections is noted with them, as
// one span that is taken apart when it is converted, and has a negative size (a flag of its
// own would make every span larger); the scanner has made sure that each of them ends inside
// the span.
struct Span {
    qsizetype offset = 0;
    qsizetype size = 0;
};

// The markup that may stand inside a value, and its name for a message.
struct Markup {
    std::string_view open;
    std::string_view close;
    const char *what;
};
constexpr Markup comment{"<!--"sv, "-->"sv, "comment"};
constexpr Markup instruction{"<?"sv, "?>"sv, "processing instruction"};
constexpr Markup cdata{"<![CDATA["sv, "]]>"sv, "CDATA section"};

// The markup that starts at the "<" at `lt`, or nullptr.
inline const Markup *markupAt(const char *lt, const char *end) {
    if (end - lt < 2)
        return nullptr;
    if (lt[1] == '?')
        return &instruction;
    if (lt[1] != '!')
        return nullptr;
    if (startsWith(lt, end, comment.open))
        return &comment;
    if (startsWith(lt, end, cdata.open))
        return &cdata;
    return nullptr;
}
using MemberSpans = std::array<Span, FieldCount>;

// Turns the bytes of the values into their characters: converts them from the code page and
// replaces the predefined entity and numeric character references; any other "&" stays.
//
// While the text is scanned, the store only notes where each value stands. Then all values go
// into a single block of UTF-16, each followed by a 0 as QString's own data is, and every value
// becomes a QString that shares the block (Qt's string data may start anywhere in its block).
// Reading thus allocates once instead of once per value. The block lives as long as any of the
// strings; a string that is changed later detaches from it as usual.
class ValueStore {
public:
    ValueStore(Charset charset, const char *text, const char *textEnd)
        : m_charset(charset)
        , m_text(text)
        , m_textEnd(reinterpret_cast<const unsigned char *>(textEnd)) {}

    Span note(const char *begin, const char *end, bool markup = false) {
        if (begin == end)
            return {};
        // UTF-16 never takes more units than the bytes it comes from; one more for the 0.
        m_capacity += (end - begin) + 1;
        ++m_noted;
        return Span{begin - m_text, markup ? begin - end : end - begin};
    }

    qsizetype notedCount() const { return m_noted; }

    // Allocates the block: call after the last note, before the first take.
    void allocate() {
        // convert may write up to 16 units ahead of where it stands.
        m_block = QString(m_capacity + 16, Qt::Uninitialized);
        m_base = reinterpret_cast<char16_t *>(m_block.data_ptr().data());
    }

    // The string of a value; every span is taken at most once.
    QString take(Span span) {
        if (span.size == 0)
            return QString();
        const auto *bytes = reinterpret_cast<const unsigned char *>(m_text + span.offset);
        char16_t *const start = m_base + m_used;
        char16_t *const stop = span.size < 0 ? convertAround(bytes, bytes - span.size, start)
                                             : convert<true>(bytes, bytes + span.size, start);
        *stop = 0;
        m_used += (stop - start) + 1;
        ++m_taken;
        return QString(QStringPrivate(m_block.data_ptr().d_ptr(), start, stop - start));
    }

    // Gives the taken strings their references to the block, all at once instead of one atomic
    // increment each: call after the last take and before any of the strings is copied or
    // destroyed. The store's own reference goes with the store.
    void commit() {
        if (m_taken > 0)
            m_block.data_ptr().d_ptr()->ref_.storeRelaxed(int(1 + m_taken));
        m_taken = 0;
    }

private:
    // A value with markup: the text between the markup converted, a CDATA section's text as it
    // stands, comments and processing instructions left out.
    Q_NEVER_INLINE char16_t *convertAround(const unsigned char *p, const unsigned char *end,
                                           char16_t *out) const {
        const char *text = reinterpret_cast<const char *>(p);
        const char *const textEnd = reinterpret_cast<const char *>(end);
        for (;;) {
            const char *lt = find(text, textEnd, '<');
            out = convert<true>(reinterpret_cast<const unsigned char *>(text),
                                reinterpret_cast<const unsigned char *>(lt ? lt : textEnd), out);
            if (!lt)
                return out;
            const Markup *markup = markupAt(lt, textEnd);
            const char *inside = lt + markup->open.size();
            const char *close = find(inside, textEnd, markup->close);
            if (markup == &cdata)
                out = convert<false>(reinterpret_cast<const unsigned char *>(inside),
                                     reinterpret_cast<const unsigned char *>(close), out);
            text = close + markup->close.size();
        }
    }

    // Converts the bytes; with `References` the references among them become their characters.
    template <bool References>
    char16_t *convert(const unsigned char *p, const unsigned char *end, char16_t *out) const {
        while (p < end) {
#ifdef __SSE2__
            // Sixteen bytes at a time while they are ASCII without "&": widened as they are.
            // The bytes may reach past the value (not past the text), and so may the units
            // written: the units behind the value are written again by what comes next.
            if (m_textEnd - p >= 16) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
                const unsigned special = unsigned(_mm_movemask_epi8(
                    References ? _mm_or_si128(bytes, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('&')))
                               : bytes));
                const __m128i zero = _mm_setzero_si128();
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi8(bytes, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 8),
                                 _mm_unpackhi_epi8(bytes, zero));
                const ptrdiff_t plain =
                    std::min<ptrdiff_t>(special ? __builtin_ctz(special) : 16, end - p);
                p += plain;
                out += plain;
                if (plain == 16 || p == end)
                    continue;
            }
#endif
            const unsigned c = *p;
            if (c < 0x80) {
                if (References && c == '&') {
                    char32_t code = 0;
                    if (const char *behind = reference(reinterpret_cast<const char *>(p),
                                                       reinterpret_cast<const char *>(end), code)) {
                        out = putCode(out, code);
                        p = reinterpret_cast<const unsigned char *>(behind);
                        continue;
                    }
                }
                *out++ = char16_t(c);
                ++p;
                continue;
            }
            switch (m_charset) {
            case Charset::Latin1:
                *out++ = char16_t(c);
                ++p;
                continue;
            case Charset::Windows1252:
                *out++ = c < 0xA0 ? windows1252High[c - 0x80] : char16_t(c);
                ++p;
                continue;
            case Charset::Utf8:
                break;
            }
            // A UTF-8 sequence. The text was checked when nothing but a byte-order mark chose
            // UTF-8; otherwise an invalid byte becomes U+FFFD.
            const auto continuation = [&](ptrdiff_t i) {
                return (p[i] & 0xC0) == 0x80;
            };
            const ptrdiff_t left = end - p;
            if (c >= 0xC2 && c < 0xE0 && left >= 2 && continuation(1)) {
                *out++ = char16_t(((c & 0x1F) << 6) | (p[1] & 0x3F));
                p += 2;
            } else if (c >= 0xE0 && c < 0xF0 && left >= 3 && continuation(1) && continuation(2) &&
                       !(c == 0xE0 && p[1] < 0xA0) && !(c == 0xED && p[1] >= 0xA0)) {
                *out++ = char16_t(((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
                p += 3;
            } else if (c >= 0xF0 && c < 0xF5 && left >= 4 && continuation(1) && continuation(2) &&
                       continuation(3) && !(c == 0xF0 && p[1] < 0x90) &&
                       !(c == 0xF4 && p[1] >= 0x90)) {
                out = putCode(out, (char32_t(c & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
                                       (char32_t(p[2] & 0x3F) << 6) | char32_t(p[3] & 0x3F));
                p += 4;
            } else {
                *out++ = 0xFFFD;
                ++p;
            }
        }
        return out;
    }

    static char16_t *putCode(char16_t *out, char32_t code) {
        if (code > 0xFFFF) {
            *out++ = QChar::highSurrogate(code);
            *out++ = QChar::lowSurrogate(code);
        } else {
            *out++ = char16_t(code);
        }
        return out;
    }

    // A reference at `amp` ("&" included): returns the position behind its ";" and sets `code`,
    // or returns nullptr when the text there is no reference to a character. A reference is
    // never shorter than the characters it stands for.
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
        } entities[] = {
            {"amp;", u'&'}, {"lt;", u'<'}, {"gt;", u'>'}, {"quot;", u'"'}, {"apos;", u'\''}};
        for (const auto &entity : entities) {
            if (startsWith(p, end, entity.name)) {
                code = entity.character;
                return p + entity.name.size();
            }
        }
        return nullptr;
    }

    const Charset m_charset;
    const char *const m_text;
    const unsigned char *const m_textEnd;
    qsizetype m_capacity = 0;
    qsizetype m_noted = 0;
    QString m_block;
    char16_t *m_base = nullptr;
    qsizetype m_used = 0;
    qsizetype m_taken = 0;
};

enum class Tag { Other, Squad, Member, Name, Email, Web, Picture, Title, Icq, Remark };

struct TagName {
    std::string_view name;
    Tag tag = Tag::Other;
};

// Our tag names by their first letter: no two of them share one.
constexpr std::array<TagName, 256> tagsByFirstLetter = [] {
    std::array<TagName, 256> table{};
    for (const TagName &t :
         {TagName{"name"sv, Tag::Name}, TagName{"email"sv, Tag::Email}, TagName{"web"sv, Tag::Web},
          TagName{"picture"sv, Tag::Picture}, TagName{"title"sv, Tag::Title},
          TagName{"icq"sv, Tag::Icq}, TagName{"remark"sv, Tag::Remark},
          TagName{"member"sv, Tag::Member}, TagName{"squad"sv, Tag::Squad}})
        table[static_cast<unsigned char>(t.name[0])] = t;
    return table;
}();

constexpr std::array<bool, 256> nameEnds = [] {
    std::array<bool, 256> table{};
    for (char c : {' ', '\t', '\r', '\n', '>', '/'})
        table[static_cast<unsigned char>(c)] = true;
    return table;
}();

// The tag whose name starts at `p` (behind "<" or "</"), when the name is one of ours, whole,
// and followed by a blank, ">" or "/"; `nameEnd` is set behind it.
inline Tag knownTag(const char *p, const char *end, const char *&nameEnd) {
    const TagName &known = tagsByFirstLetter[static_cast<unsigned char>(*p)];
    const size_t size = known.name.size();
    if (known.tag == Tag::Other || size_t(end - p) <= size ||
        std::memcmp(p, known.name.data(), size) != 0 ||
        !nameEnds[static_cast<unsigned char>(p[size])])
        return Tag::Other;
    nameEnd = p + size;
    return known.tag;
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
constexpr int propertyOf[] = {-1,
                              -1,
                              -1,
                              int(Property::Name),
                              int(Property::Mail),
                              int(Property::Web),
                              int(Property::Picture),
                              int(Property::Title),
                              -1,
                              -1};
constexpr int fieldOf[] = {-1, -1, -1, int(Field::Name), int(Field::Mail),
                           -1, -1, -1, int(Field::Icq),  int(Field::Remark)};
static_assert(std::size(propertyOf) == size_t(Tag::Remark) + 1 && int(Tag::Icq) == 8);

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
                failure.what = QStringLiteral("The value of the attribute %1 has no closing %2.")
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
    Scanner(const char *begin, const char *end, Charset charset, bool straightPath)
        : m_begin(begin)
        , m_end(end)
        , m_straightPath(straightPath)
        , m_store(charset, begin, end) {}

    // Fills `data`; returns false with `failure` set when a value has no end or `cancelled`
    // became true.
    bool run(SquadData &data, const std::atomic<bool> *cancelled) {
        // The writer's members take at least 99 bytes; hand-made ones rarely fewer.
        m_members.reserve(size_t(std::min<qsizetype>((m_end - m_begin) / 100, 1 << 20)));
        const char *p = m_begin;
        const auto stopped = [&] {
            if (!cancelled || !cancelled->load(std::memory_order_relaxed))
                return false;
            m_failure.at = m_begin;
            m_failure.what = QStringLiteral("Reading was cancelled.");
            return true;
        };
        // A look at the flag every so many tags costs nothing and stops a big file in time.
        unsigned tags = 0;
        while (const char *lt = find(p, m_end, '<')) {
            p = tag(lt);
            if (!p || (++tags % 65536 == 0 && stopped()))
                return false;
        }
        if (stopped())
            return false;
        closeMember();
        m_truncated = m_squadSeen && !m_squadSelfClosing && !m_squadEnded;
        if (!m_squadSeen && !m_membersSeen) {
            m_failure.at = m_begin;
            m_failure.what = QStringLiteral("The file holds no squad: it has neither a <squad> "
                                            "nor a <member> tag.");
            return false;
        }

        // Reference counts and member positions are ints.
        if (m_store.notedCount() >= INT_MAX - 1 || m_members.size() >= size_t(INT_MAX - 1)) {
            m_failure.at = m_begin;
            m_failure.what = QStringLiteral("The file is too large to be read.");
            return false;
        }
        m_store.allocate();
        for (int p = 0; p < PropertyCount; ++p)
            data.properties[p] = m_store.take(m_squad[p]);
        QList<Member> members;
        members.reserve(qsizetype(m_members.size()) + 1); // room for the spare column
        members.resize(qsizetype(m_members.size()));
        Member *member = members.data();
        for (const MemberSpans &spans : m_members) {
            for (int f = 0; f < FieldCount; ++f)
                (*member)[f] = m_store.take(spans[f]);
            ++member;
        }
        m_store.commit();
        data.mmbdata.assign(std::move(members));
        return true;
    }

    const Failure &failure() const { return m_failure; }
    bool truncated() const { return m_truncated; }

private:
    // Handles the markup at `lt`; returns where scanning goes on, or nullptr on a failure.
    const char *tag(const char *lt) {
        const char *p = lt + 1;
        if (p == m_end)
            return m_end;
        if (const Markup *markup = markupAt(lt, m_end))
            return skipMarkup(lt, *markup);
        if (*p == '!') {
            const char *gt = find(p, m_end, '>');
            return gt ? gt + 1 : m_end;
        }
        const bool endTag = *p == '/';
        if (endTag && ++p == m_end)
            return m_end;
        const char *name = p;
        const Tag which = knownTag(name, m_end, p);
        if (which == Tag::Other) {
            // "</squad" at the very end, without its ">", as people publish it, ends the squad.
            if (endTag && startsWith(name, m_end, "squad") && m_end - name == 5)
                m_squadEnded = true;
            return name; // a tag that is not read, stray text or a cut-off tag
        }
        if (endTag) {
            if (which == Tag::Member)
                closeMember();
            else if (which == Tag::Squad)
                m_squadEnded = true;
            return p;
        }
        switch (which) {
        case Tag::Other:
            return p;
        case Tag::Member:
            if (m_straightPath) {
                if (const char *behind = writersMember(lt))
                    return behind;
            }
            return memberStart(p);
        case Tag::Squad:
            if (m_squadSeen || m_membersSeen)
                return p;
            m_squadSeen = true;
            p = attributes(p, [&](std::string_view attribute, const char *b, const char *e) {
                if (attribute == "nick"sv && !(m_squadFound & 1u)) {
                    m_squadFound |= 1u;
                    m_squad[int(Property::Tag)] = m_store.note(b, e);
                }
            });
            m_squadSelfClosing = m_lastStartSelfClosing;
            return p;
        default:
            break;
        }
        // One of the elements that hold a value.
        Span *target = nullptr;
        if (m_inMember) {
            const int field = fieldOf[int(which)];
            if (field >= 0 && !(m_memberFound & (1u << field))) {
                m_memberFound |= 1u << field;
                target = &m_member[field];
            }
        } else if (!m_membersSeen) {
            const int property = propertyOf[int(which)];
            if (property >= 0 && !(m_squadFound & (1u << property))) {
                m_squadFound |= 1u << property;
                target = &m_squad[property];
            }
        }
        if (!target)
            return p;
        const char *limit = find(p, m_end, '<');
        if (!limit)
            limit = m_end;
        StartTag start;
        if (*p == '>') { // the usual <name>
            start.behind = p + 1;
            start.closed = true;
        } else if (!readStartTag(p, limit, start, m_failure, [](auto, auto, auto) {})) {
            return nullptr;
        }
        if (start.selfClosing || !start.closed)
            return start.behind; // <icq/>, or a start tag cut off by the next tag: empty
        // The value reaches to the first "<" that starts no markup.
        bool markup = false;
        while (limit != m_end) {
            const Markup *inside = markupAt(limit, m_end);
            if (!inside)
                break;
            const char *behind = skipMarkup(limit, *inside);
            if (!behind)
                return nullptr;
            markup = true;
            limit = find(behind, m_end, '<');
            if (!limit)
                limit = m_end;
        }
        if (limit == m_end) {
            m_failure.at = lt;
            m_failure.what =
                QStringLiteral("The value of <%1> is cut off: the file ends inside it.")
                    .arg(QLatin1StringView(tagText(which)));
            return nullptr;
        }
        *target = m_store.note(start.behind, limit, markup);
        return limit;
    }

    // The writer's own member, `<member id="…" nick="…">`, `<name>`, `<email>`, `<icq>`,
    // `<remark>` and `</member>` with any blanks between the tags, read straight through without
    // looking at each tag in turn; what it reads is what the general reading would. Returns
    // nullptr, having done nothing, when the text at `lt` has any other shape.
    const char *writersMember(const char *lt) {
        const char *begins[FieldCount];
        const char *ends[FieldCount];
        const char *p = lt + 7; // behind "<member"
        const auto attribute = [&]<size_t N>(const char(&lead)[N], Field field) {
            if (!startsWith(p, m_end, lead))
                return false;
            p += N - 1;
            const char *quote = findEither(p, m_end, '"', '<');
            if (!quote || *quote != '"')
                return false;
            begins[int(field)] = p;
            ends[int(field)] = quote;
            p = quote + 1;
            return true;
        };
        const auto element = [&]<size_t O, size_t C>(const char(&open)[O], const char(&close)[C],
                                                     Field field) {
            while (p < m_end && isBlank(*p))
                ++p;
            if (!startsWith(p, m_end, open))
                return false;
            p += O - 1;
            const char *valueEnd = find(p, m_end, '<');
            if (!valueEnd || !startsWith(valueEnd, m_end, close))
                return false;
            begins[int(field)] = p;
            ends[int(field)] = valueEnd;
            p = valueEnd + (C - 1);
            return true;
        };
        if (!attribute(" id=\"", Field::Id) || !attribute(" nick=\"", Field::Nick) ||
            !startsWith(p, m_end, ">"))
            return nullptr;
        ++p;
        if (!element("<name>", "</name>", Field::Name) ||
            !element("<email>", "</email>", Field::Mail) ||
            !element("<icq>", "</icq>", Field::Icq) ||
            !element("<remark>", "</remark>", Field::Remark))
            return nullptr;
        while (p < m_end && isBlank(*p))
            ++p;
        if (!startsWith(p, m_end, "</member>"))
            return nullptr;
        closeMember();
        m_membersSeen = true;
        MemberSpans &spans = m_members.emplace_back();
        for (int f = 0; f < FieldCount; ++f)
            spans[f] = m_store.note(begins[f], ends[f]);
        return p + 9;
    }

    const char *memberStart(const char *p) {
        closeMember();
        m_membersSeen = m_inMember = true;
        const char *behind =
            attributes(p, [&](std::string_view attribute, const char *b, const char *e) {
                const int field = attribute == "id"sv     ? int(Field::Id)
                                  : attribute == "nick"sv ? int(Field::Nick)
                                                          : -1;
                if (field >= 0 && !(m_memberFound & (1u << field))) {
                    m_memberFound |= 1u << field;
                    m_member[field] = m_store.note(b, e);
                }
            });
        if (behind && m_lastStartSelfClosing)
            closeMember();
        return behind;
    }

    template <typename OnAttribute> const char *attributes(const char *p, OnAttribute onAttribute) {
        const char *limit = find(p, m_end, '<');
        StartTag start;
        if (!readStartTag(p, limit ? limit : m_end, start, m_failure, onAttribute))
            return nullptr;
        m_lastStartSelfClosing = start.selfClosing;
        return start.behind;
    }

    void closeMember() {
        if (!m_inMember)
            return;
        m_members.push_back(m_member);
        m_member = MemberSpans{};
        m_memberFound = 0;
        m_inMember = false;
    }

    // Returns the position behind the markup at `lt`; nullptr, with the failure set, when its
    // end is missing: what follows would be hidden in it.
    const char *skipMarkup(const char *lt, const Markup &markup) {
        if (const char *close = find(lt + markup.open.size(), m_end, markup.close))
            return close + markup.close.size();
        m_failure.at = lt;
        m_failure.what = QStringLiteral("A %1 is not closed: the file has no \"%2\" after its "
                                        "\"%3\".")
                             .arg(QLatin1StringView(markup.what),
                                  QLatin1StringView(markup.close.data(), markup.close.size()),
                                  QLatin1StringView(markup.open.data(), markup.open.size()));
        return nullptr;
    }

    const char *const m_begin;
    const char *const m_end;
    const bool m_straightPath; // writersMember is tried first
    ValueStore m_store;
    Failure m_failure;

    bool m_squadSeen = false;   // the squad's start tag was read
    bool m_membersSeen = false; // a member started: the squad's scope is over
    bool m_inMember = false;
    bool m_lastStartSelfClosing = false;
    bool m_squadSelfClosing = false; // <squad …/>: a squad that needs no end tag
    bool m_squadEnded = false;       // its end tag was read
    bool m_truncated = false;
    unsigned m_squadFound = 0;  // bit per property already read
    unsigned m_memberFound = 0; // bit per field of the current member already read
    std::array<Span, PropertyCount> m_squad;
    MemberSpans m_member;
    std::vector<MemberSpans> m_members;
};

} // namespace

namespace {

DecodeResult decodeText(const QByteArray &fileBytes, bool straightPath,
                        const std::atomic<bool> *cancelled = nullptr) {
    DecodeResult result;
    const char *begin = fileBytes.constData();
    const char *end = begin + fileBytes.size();

    // The code page.
    QByteArray transcoded; // for UTF-16, UTF-32 and code pages the scanner does not convert
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
            } else if (const auto known = QStringConverter::encodingForName(
                           QByteArray(declared.data(), qsizetype(declared.size())))) {
                // A declaration readable byte by byte cannot be UTF-16 or UTF-32, and the
                // system code page is none the file can name.
                if (known == QStringConverter::Utf8 && validUtf8())
                    chosen = Charset::Utf8;
                else if (known == QStringConverter::Latin1)
                    chosen = Charset::Latin1;
            } else {
                const char *declarationEnd = declared.data() + declared.size() + 1;
                if (std::optional<QByteArray> utf8 =
                        transcodeToUtf8(begin, end, declared, declarationEnd)) {
                    transcoded = std::move(*utf8);
                    begin = transcoded.constData();
                    end = begin + transcoded.size();
                    chosen = Charset::Utf8;
                    result.encoding = QString::fromLatin1(declared.data(), declared.size());
                }
            }
        }
        if (!chosen)
            chosen = validUtf8() ? Charset::Utf8 : Charset::Windows1252;
        charset = *chosen;
        if (result.encoding.isEmpty())
            result.encoding = charset == Charset::Utf8     ? QStringLiteral("UTF-8")
                              : charset == Charset::Latin1 ? QStringLiteral("ISO-8859-1")
                                                           : QStringLiteral("windows-1252");
    }

    // The header check only warns.
    const std::string_view text(begin, size_t(end - begin));
    result.headerCorrupt = !text.starts_with(xmlDeclaration) ||
                           text.find(doctypeLine) == std::string_view::npos ||
                           text.find(stylesheetLine) == std::string_view::npos;

    Scanner scanner(begin, end, charset, straightPath);
    if (!scanner.run(result.data, cancelled)) {
        result.data = SquadData{};
        result.error = scanner.failure().what;
        result.errorLine = lineOf(begin, end, scanner.failure().at);
        return result;
    }
    result.ok = true;
    result.truncated = scanner.truncated();
    return result;
}

} // namespace

DecodeResult decode(const QByteArray &fileBytes, const std::atomic<bool> *cancelled) {
    return decodeText(fileBytes, true, cancelled);
}

namespace detail {
DecodeResult decodeGeneral(const QByteArray &fileBytes) {
    return decodeText(fileBytes, false);
}
} // namespace detail

} // namespace squad
