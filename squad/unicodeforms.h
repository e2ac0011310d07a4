// UTF-16 and UTF-32 texts turned into UTF-8 for the scanner.
#pragma once

#include <QByteArray>

namespace squad::reading {

enum class UnicodeForm { Utf16LE, Utf16BE, Utf32LE, Utf32BE };

// The text as UTF-8. What is no character (a lone surrogate, a code beyond U+10FFFF, a unit cut
// off at the end) becomes the byte 0xFF, which no UTF-8 text holds: reading the values then
// replaces and counts it where it stands, as it does a bad byte of a UTF-8 file.
QByteArray utf8FromUnicode(const char *begin, const char *end, UnicodeForm form);

} // namespace squad::reading
