#include "codepage.h"

#include "readertext.h"
#include "unicodeforms.h"

#include <QScopeGuard>
#include <QStringDecoder>

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace squad::reading {
namespace {

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

// The name under which the system's converter (iconv) knows a declared code page, or nothing
// for a name that XML would not write: a letter and then letters, digits, ".", "_" or "-", so
// no "//IGNORE" or "//TRANSLIT" that would pass invalid bytes, nothing the converter would take
// apart in other ways.
std::optional<std::string> converterName(std::string_view declared) {
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
    return name;
}

// Marks a byte that the code page leaves undefined.
constexpr char16_t undefinedByte = 0xFFFF;
using HighTable = std::array<char16_t, 128>;

// The characters of bytes 0x80 to 0xFF when the converter reads the code page one byte a
// character, each byte on its own, and keeps ASCII; otherwise nothing. (Code pages of several
// bytes a character leave a lead byte incomplete; those that combine a letter with the accent
// behind it hold a byte back until the next: a table cannot read either.)
std::optional<HighTable> buildHighTable(const std::string &name) {
    const iconv_t converter = iconv_open("UTF-32LE", name.c_str());
    if (converter == iconv_t(-1))
        return std::nullopt;
    const auto closeConverter = qScopeGuard([converter] { iconv_close(converter); });
    HighTable table{};
    for (int byte = 0; byte < 256; ++byte) {
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        char in = char(byte);
        char *from = &in;
        size_t inLeft = 1;
        char32_t code[2] = {};
        char *to = reinterpret_cast<char *>(code);
        size_t toLeft = sizeof code;
        const size_t converted = iconv(converter, &from, &inLeft, &to, &toLeft);
        const size_t written = sizeof code - toLeft;
        if (converted == size_t(-1) && errno == EILSEQ && byte >= 0x80) {
            table[size_t(byte - 0x80)] = undefinedByte;
            continue;
        }
        if (converted == size_t(-1) || written != sizeof(char32_t) ||
            (byte < 0x80 && code[0] != char32_t(byte)) || code[0] > 0xFFFF ||
            code[0] == undefinedByte)
            return std::nullopt;
        if (byte >= 0x80)
            table[size_t(byte - 0x80)] = char16_t(code[0]);
    }
    return table;
}

// The table of a code page, made once per run; null for a code page that has none.
const char16_t *highTable(const std::string &name) {
    static std::mutex guard;
    static std::map<std::string, std::optional<HighTable>> tables;
    const std::lock_guard lock(guard);
    auto it = tables.find(name);
    if (it == tables.end())
        it = tables.emplace(name, buildHighTable(name)).first;
    return it->second ? it->second->data() : nullptr;
}

bool allDefined(const char *begin, const char *end, const char16_t *high) {
    return std::none_of(begin, end, [high](char c) {
        return static_cast<unsigned char>(c) >= 0x80 &&
               high[static_cast<unsigned char>(c) - 0x80] == undefinedByte;
    });
}

// The text converted from the declared code page to UTF-8 by the system's converter (iconv), or
// nothing when it does not know the name or the bytes are not all valid in it. The text up to
// `declarationEnd` must come out as it went in: that rules out the code pages in which the
// declaration itself would read as other characters (UTF-16 and UTF-32 without a byte-order
// mark, EBCDIC), which the file cannot mean.
std::optional<QByteArray> transcodeToUtf8(const char *begin, const char *end,
                                          const std::string &name, const char *declarationEnd) {
    const iconv_t converter = iconv_open("UTF-8", name.c_str());
    if (converter == iconv_t(-1))
        return std::nullopt;
    const auto closeConverter = qScopeGuard([converter] { iconv_close(converter); });

    // Room for the most a byte can become, three bytes of UTF-8, claimed once: what is not
    // written to is never given memory.
    QByteArray out((end - begin) * 3 + 64, Qt::Uninitialized);
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

} // namespace

ScanText scanText(const QByteArray &fileBytes) {
    ScanText result;
    const char *begin = fileBytes.constData();
    const char *end = begin + fileBytes.size();
    QByteArray &transcoded = result.converted; // UTF-16, UTF-32 and code pages read by iconv
    Charset charset = Charset::Utf8;
    const auto unicodeWithMark = [&](UnicodeForm form, int markSize, const char *name) {
        transcoded = utf8FromUnicode(begin + markSize, end, form);
        begin = transcoded.constData();
        end = begin + transcoded.size();
        result.encoding = QLatin1StringView(name);
    };
    const QByteArrayView head(begin, std::min<qsizetype>(fileBytes.size(), 4));
    if (head.startsWith("\xEF\xBB\xBF")) {
        begin += 3;
        result.encoding = QStringLiteral("UTF-8");
    } else if (head.startsWith(QByteArrayView("\xFF\xFE\0\0", 4))) {
        unicodeWithMark(UnicodeForm::Utf32LE, 4, "UTF-32");
    } else if (head.startsWith(QByteArrayView("\0\0\xFE\xFF", 4))) {
        unicodeWithMark(UnicodeForm::Utf32BE, 4, "UTF-32");
    } else if (head.startsWith("\xFF\xFE")) {
        unicodeWithMark(UnicodeForm::Utf16LE, 2, "UTF-16");
    } else if (head.startsWith("\xFE\xFF")) {
        unicodeWithMark(UnicodeForm::Utf16BE, 2, "UTF-16");
    } else if (head.startsWith(QByteArrayView("<\0\0\0", 4))) {
        // Without a byte-order mark a text that starts with "<" tells its form by the zero bytes
        // around it (XML 1.0, appendix F).
        unicodeWithMark(UnicodeForm::Utf32LE, 0, "UTF-32");
    } else if (head.startsWith(QByteArrayView("\0\0\0<", 4))) {
        unicodeWithMark(UnicodeForm::Utf32BE, 0, "UTF-32");
    } else if (head.startsWith(QByteArrayView("<\0?\0", 4))) {
        unicodeWithMark(UnicodeForm::Utf16LE, 0, "UTF-16");
    } else if (head.startsWith(QByteArrayView("\0<\0?", 4))) {
        unicodeWithMark(UnicodeForm::Utf16BE, 0, "UTF-16");
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
            } else if (const std::optional<std::string> name = converterName(declared)) {
                const char *declarationEnd = declared.data() + declared.size() + 1;
                if (const char16_t *high = highTable(*name); high && allDefined(begin, end, high)) {
                    chosen = Charset::SingleByte;
                    result.high = high;
                    result.encoding = QString::fromLatin1(declared.data(), declared.size());
                } else if (std::optional<QByteArray> utf8 =
                               transcodeToUtf8(begin, end, *name, declarationEnd)) {
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
    result.begin = begin;
    result.end = end;
    result.charset = charset;
    return result;
}

} // namespace squad::reading
