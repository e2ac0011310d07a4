#include "valuestore.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace squad::reading {

void ValueStore::release(const unsigned char *upTo) {
    const auto page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t from = (std::uintptr_t(m_released) + page - 1) & ~(page - 1);
    const std::uintptr_t to = std::uintptr_t(upTo) & ~(page - 1);
    if (to > from)
        ::madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
    m_released = upTo;
}

char16_t *ValueStore::convertAround(const unsigned char *p, const unsigned char *end,
                                    char16_t *out) {
    const char *text = reinterpret_cast<const char *>(p);
    const char *const textEnd = reinterpret_cast<const char *>(end);
    for (;;) {
        const char *lt = find(text, textEnd, '<');
        out = convert<true, false>(reinterpret_cast<const unsigned char *>(text),
                                   reinterpret_cast<const unsigned char *>(lt ? lt : textEnd), out);
        if (!lt)
            return out;
        const Markup *markup = markupAt(lt, textEnd);
        if (!markup) { // the tag of a nested element, which the scanner saw whole
            text = behindTag(lt, textEnd);
            if (!text)
                return out;
            continue;
        }
        const char *inside = lt + markup->open.size();
        const char *close = find(inside, textEnd, markup->close);
        if (markup == &cdata)
            out = convert<false, false>(reinterpret_cast<const unsigned char *>(inside),
                                        reinterpret_cast<const unsigned char *>(close), out);
        text = close + markup->close.size();
    }
}

const char *ValueStore::reference(const char *amp, const char *end, char32_t &code) {
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
        if (p == digits || p == end || *p != ';')
            return nullptr;
        code = tooLarge ? 0x110000 : value;
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

} // namespace squad::reading
