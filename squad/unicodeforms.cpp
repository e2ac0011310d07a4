#include "unicodeforms.h"

namespace squad::reading {

QByteArray utf8FromUnicode(const char *begin, const char *end, UnicodeForm form) {
    const bool wide = form == UnicodeForm::Utf32LE || form == UnicodeForm::Utf32BE;
    const bool big = form == UnicodeForm::Utf16BE || form == UnicodeForm::Utf32BE;
    const qsizetype unit = wide ? 4 : 2;
    const auto *p = reinterpret_cast<const unsigned char *>(begin);
    const auto *const stop = reinterpret_cast<const unsigned char *>(end);
    const auto read16 = [big](const unsigned char *q) {
        return big ? char32_t(q[0] << 8 | q[1]) : char32_t(q[1] << 8 | q[0]);
    };
    const auto read32 = [big](const unsigned char *q) {
        return big ? char32_t(q[0]) << 24 | char32_t(q[1]) << 16 | char32_t(q[2]) << 8 | q[3]
                   : char32_t(q[3]) << 24 | char32_t(q[2]) << 16 | char32_t(q[1]) << 8 | q[0];
    };

    QByteArray out;
    // UTF-8 takes at most three bytes for a UTF-16 unit (four for a pair) and four for a UTF-32
    // one; one more for a unit cut off at the end.
    out.resize((stop - p) / unit * (wide ? 4 : 3) + 1);
    char *o = out.data();
    while (stop - p >= unit) {
        char32_t c;
        if (wide) {
            c = read32(p);
            p += 4;
        } else {
            c = read16(p);
            p += 2;
            if (c >= 0xD800 && c < 0xDC00 && stop - p >= 2) {
                const char32_t low = read16(p);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    p += 2;
                }
            }
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            *o++ = char(0xFF);
        } else if (c < 0x80) {
            *o++ = char(c);
        } else if (c < 0x800) {
            *o++ = char(0xC0 | (c >> 6));
            *o++ = char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *o++ = char(0xE0 | (c >> 12));
            *o++ = char(0x80 | ((c >> 6) & 0x3F));
            *o++ = char(0x80 | (c & 0x3F));
        } else {
            *o++ = char(0xF0 | (c >> 18));
            *o++ = char(0x80 | ((c >> 12) & 0x3F));
            *o++ = char(0x80 | ((c >> 6) & 0x3F));
            *o++ = char(0x80 | (c & 0x3F));
        }
    }
    if (p != stop)
        *o++ = char(0xFF);
    out.truncate(o - out.constData());
    return out;
}

} // namespace squad::reading
