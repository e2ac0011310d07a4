// Turns the bytes of the values that the scanner found into the strings of the squad.
#pragma once

#include "codepage.h"
#include "readertext.h"

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <type_traits>

namespace squad::reading {

// Qt's string data may start anywhere in its block, and strings that share a block share its
// reference count, so all values can live in one block allocated once. Building such strings
// takes QArrayDataPointer's constructor from a block and a start, and setting the block's
// reference count by hand: neither is public API, so this is done only for the Qt 6 versions up
// to 6.8, whose QArrayData has the layout it relies on. Elsewhere every value gets a string of its
// own, which bench_reader shows costs nearly twice the time and half as much memory again.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0) && QT_VERSION < QT_VERSION_CHECK(6, 9, 0)
#define TROOPBOOK_SHARED_VALUE_BLOCK 1
// What the block relies on, so that a change of it within these versions stops the build.
static_assert(
    std::is_constructible_v<QStringPrivate, QTypedArrayData<char16_t> *, char16_t *, qsizetype>);
static_assert(std::is_same_v<decltype(QArrayData::ref_), QBasicAtomicInt>);
#else
#define TROOPBOOK_SHARED_VALUE_BLOCK 0
#endif

// Converts the values from the code page and reads them as an XML parser does: line ends
// become LF, and in an attribute tab, CR and LF become blanks; the predefined entity and numeric
// character references become the characters they name (any other "&" stays). Characters that
// XML cannot carry (a byte that is no character of the code page, a control character, a
// reference to no character) are replaced by U+FFFD or left out, and counted.
//
// While the text is scanned, the store only notes where each value stands. Then the values are
// converted one after another, each into a string that shares one block (see above) or, with
// `sharedBlock` false or on other Qt versions, into a string of its own. The block lives as long
// as any of the strings; a string that is changed later detaches from it as usual.
// How a value stands in the text.
enum class ValueKind { Text, TextWithMarkup, Attribute };

class ValueStore {
public:
    // `high`: the characters of bytes 0x80 to 0xFF for Charset::SingleByte.
    ValueStore(Charset charset, const char16_t *high, const char *text, const char *textEnd,
               bool sharedBlock)
        : m_charset(charset)
        , m_high(high)
        , m_text(text)
        , m_textEnd(reinterpret_cast<const unsigned char *>(textEnd))
        , m_shared(sharedBlock && TROOPBOOK_SHARED_VALUE_BLOCK) {}

    Span note(const char *begin, const char *end, ValueKind kind) {
        if (begin == end)
            return {};
        // UTF-16 never takes more units than the bytes it comes from; one more for the 0.
        m_capacity += (end - begin) + 1;
        m_largest = std::max<qsizetype>(m_largest, end - begin);
        ++m_noted;
        const auto offset = std::int32_t(begin - m_text);
        return Span{kind == ValueKind::Attribute ? ~offset : offset,
                    std::int32_t(kind == ValueKind::TextWithMarkup ? begin - end : end - begin)};
    }

    qsizetype notedCount() const { return m_noted; }
    // The characters replaced or left out in the values taken so far, and where the first of
    // them stands in the text.
    qsizetype unreadableCount() const { return m_unreadable; }
    const char *firstUnreadable() const {
        return reinterpret_cast<const char *>(m_firstUnreadable);
    }

    // The text is a private read-only mapping of a file: values are taken in the order of the
    // text, so the pages in front of a value taken are not read again and go back to the system.
    void releaseRead() { m_releaseRead = true; }

    // Allocates the block, or the buffer each value is converted in: call after the last note,
    // before the first take. convert may write up to 16 units ahead of where it stands.
    void allocate() {
        m_block = QString((m_shared ? m_capacity : m_largest + 1) + 16, Qt::Uninitialized);
        m_base = reinterpret_cast<char16_t *>(m_block.data());
    }

    // The string of a value; every span is taken at most once.
    QString take(Span span) {
        if (span.size == 0)
            return QString();
        const bool attribute = span.offset < 0;
        const auto *bytes = reinterpret_cast<const unsigned char *>(
            m_text + (attribute ? ~span.offset : span.offset));
        if (m_releaseRead && bytes - m_released >= releaseStep)
            release(bytes);
        char16_t *const start = m_base + m_used;
        char16_t *const stop = span.size < 0 ? convertAround(bytes, bytes - span.size, start)
                               : attribute   ? convert<true, true>(bytes, bytes + span.size, start)
                                           : convert<true, false>(bytes, bytes + span.size, start);
#if TROOPBOOK_SHARED_VALUE_BLOCK
        if (m_shared) {
            *stop = 0;
            m_used += (stop - start) + 1;
            ++m_taken;
            return QString(QStringPrivate(m_block.data_ptr().d_ptr(), start, stop - start));
        }
#endif
        return QString(reinterpret_cast<const QChar *>(start), stop - start);
    }

    // Gives the taken strings their references to the block, all at once instead of one atomic
    // increment each: call after the last take and before any of the strings is copied or
    // destroyed. The store's own reference goes with the store.
    void commit() {
#if TROOPBOOK_SHARED_VALUE_BLOCK
        if (m_taken > 0)
            m_block.data_ptr().d_ptr()->ref_.storeRelaxed(int(1 + m_taken));
#endif
        m_taken = 0;
    }

private:
    // An element's value with markup: the text between the markup converted, a CDATA section's
    // text as it stands, the text of nested elements kept and their tags, comments and
    // processing instructions left out.
    Q_NEVER_INLINE char16_t *convertAround(const unsigned char *p, const unsigned char *end,
                                           char16_t *out);

    // Converts the bytes; with `References` the references among them become their characters,
    // with `Attribute` tab, CR and LF become blanks.
    template <bool References, bool Attribute>
    char16_t *convert(const unsigned char *p, const unsigned char *end, char16_t *out) {
        while (p < end) {
#ifdef __SSE2__
            // Sixteen bytes at a time while they are printable ASCII without "&": widened as they
            // are. The bytes may reach past the value (not past the text), and so may the units
            // written: the units behind the value are written again by what comes next.
            if (m_textEnd - p >= 16) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
                // Bytes from 0x80 are negative: below 0x20 too, and their top bit is set anyway.
                __m128i flagged = _mm_or_si128(bytes, _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)));
                if constexpr (References)
                    flagged = _mm_or_si128(flagged, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('&')));
                const unsigned special = unsigned(_mm_movemask_epi8(flagged));
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
            if (c < 0x20) {
                out = control<Attribute>(p, end, out);
                continue;
            }
            if (c < 0x80) {
                if (References && c == '&') {
                    char32_t code = 0;
                    if (const char *behind = reference(reinterpret_cast<const char *>(p),
                                                       reinterpret_cast<const char *>(end), code)) {
                        if (isXmlCharacter(code))
                            out = putCode(out, code);
                        else
                            unreadable(p);
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
            case Charset::SingleByte:
                *out++ = m_high[c - 0x80];
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
                const char16_t unit =
                    char16_t(((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
                if (unit >= 0xFFFE)
                    unreadable(p);
                else
                    *out++ = unit;
                p += 3;
            } else if (c >= 0xF0 && c < 0xF5 && left >= 4 && continuation(1) && continuation(2) &&
                       continuation(3) && !(c == 0xF0 && p[1] < 0x90) &&
                       !(c == 0xF4 && p[1] >= 0x90)) {
                out = putCode(out, (char32_t(c & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
                                       (char32_t(p[2] & 0x3F) << 6) | char32_t(p[3] & 0x3F));
                p += 4;
            } else {
                unreadable(p);
                *out++ = 0xFFFD;
                ++p;
            }
        }
        return out;
    }

    // Tab, LF and CR as an XML parser passes them on; the other control characters are none of
    // XML's.
    template <bool Attribute>
    char16_t *control(const unsigned char *&p, const unsigned char *end, char16_t *out) {
        const unsigned c = *p++;
        if (c == '\r') {
            if (p < end && *p == '\n')
                return out; // CR LF is one line end, which the LF gives
            *out++ = Attribute ? u' ' : u'\n';
        } else if (c == '\n' || c == '\t') {
            *out++ = Attribute ? u' ' : char16_t(c);
        } else {
            unreadable(p - 1);
        }
        return out;
    }

    void unreadable(const unsigned char *at) {
        if (m_unreadable++ == 0 || at < m_firstUnreadable)
            m_firstUnreadable = at;
    }

    static bool isXmlCharacter(char32_t code) {
        return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
               (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
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

    // A reference at `amp` ("&" included): returns the position behind its ";" and sets `code`
    // (for a numeric reference possibly to no character, even beyond Unicode), or returns
    // nullptr when the text there is no reference. A reference is never shorter than the
    // characters it stands for.
    static const char *reference(const char *amp, const char *end, char32_t &code);

    static constexpr qsizetype releaseStep = qsizetype(16) << 20;
    void release(const unsigned char *upTo);

    const Charset m_charset;
    const char16_t *const m_high;
    const char *const m_text;
    const unsigned char *const m_textEnd;
    const bool m_shared;
    qsizetype m_capacity = 0;
    qsizetype m_largest = 0;
    qsizetype m_noted = 0;
    QString m_block;
    char16_t *m_base = nullptr;
    qsizetype m_used = 0;
    qsizetype m_taken = 0;
    qsizetype m_unreadable = 0;
    const unsigned char *m_firstUnreadable = nullptr;
    bool m_releaseRead = false;
    const unsigned char *m_released = reinterpret_cast<const unsigned char *>(m_text);
};

} // namespace squad::reading
