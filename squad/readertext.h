// The byte-level pieces that the reader's code-page detection, scanner and value store share.
// Only the reader includes this.
#pragma once

#include "squaddocument.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace squad::reading {

using namespace std::string_view_literals;

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline constexpr std::array<bool, 256> nameChars = [] {
    std::array<bool, 256> table{};
    for (int u = 0; u < 256; ++u) {
        table[size_t(u)] = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                           (u >= '0' && u <= '9') || u == '-' || u == '_' || u == '.' || u == ':' ||
                           u >= 0x80;
    }
    return table;
}();

// Where an element's name may start: a letter, "_", ":" or any non-ASCII byte.
inline bool isNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}

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
inline const char *find(const char *from, const char *to, std::string_view needle) {
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

// A value's bytes in the text; an empty value has size 0 and becomes a null string. An element's
// value that holds comments, processing instructions or CDATA sections is noted with them, as
// one span that is taken apart when it is converted, and has a negative size (a flag of its
// own would make every span larger); the scanner has made sure that each of them ends inside
// the span.
struct Span {
    // Eight bytes, as there are six for each member: the scanner reads texts of up to 2 GiB.
    std::int32_t offset = 0; // negative for an attribute's value: ~offset
    std::int32_t size = 0;
};

// The markup that may stand inside a value, and its name for a message.
struct Markup {
    std::string_view open;
    std::string_view close;
    const char *what;
};
inline constexpr Markup comment{"<!--"sv, "-->"sv, "comment"};
inline constexpr Markup instruction{"<?"sv, "?>"sv, "processing instruction"};
inline constexpr Markup cdata{"<![CDATA["sv, "]]>"sv, "CDATA section"};

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

// Behind the tag that starts at the "<" at `lt`: behind its ">", or at the next "<" when it has
// none (an attribute value cannot hold "<"); a ">" inside a quoted value does not end it.
// nullptr when the text ends first.
inline const char *behindTag(const char *lt, const char *end) {
    for (const char *p = lt + 1; p < end; ++p) {
        const char c = *p;
        if (c == '>')
            return p + 1;
        if (c == '<')
            return p;
        if (c == '"' || c == '\'') {
            p = findEither(p + 1, end, c, '<');
            if (!p)
                return nullptr;
            if (*p == '<')
                return p;
        }
    }
    return nullptr;
}

} // namespace squad::reading
