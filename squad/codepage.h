// Which code page a squad file is in, and its text in a form the scanner reads.
#pragma once

#include <QByteArray>
#include <QString>

namespace squad::reading {

// The code pages in which values are converted. All of them keep ASCII where it is, so the tags
// are found in the bytes whatever the code page; UTF-16 and UTF-32 texts, and texts in the other
// code pages a file may declare, are turned into UTF-8 first. (In some of those a character's
// bytes may hold a "<" or "&", as in ISO-2022-JP, so the bytes cannot be scanned as they are.)
enum class Charset {
    Utf8,
    Latin1,
    Windows1252,
    // A code page of one byte a character that keeps ASCII: `ScanText::high` holds the
    // characters of bytes 0x80 to 0xFF.
    SingleByte,
};

// Bytes 0x80 to 0x9F of windows-1252. The five bytes it leaves undefined map to the C1 control
// of the same number, as Windows itself converts them.
inline constexpr char16_t windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The text to scan: ASCII stands where it stands, the values are in `charset`.
struct ScanText {
    const char *begin = nullptr;
    const char *end = nullptr;
    Charset charset = Charset::Utf8;
    const char16_t *high = nullptr; // for Charset::SingleByte
    // The code page the file was read in: "UTF-8", "UTF-16", "UTF-32", "ISO-8859-1",
    // "windows-1252" or the name that the XML declaration gives, as written there.
    QString encoding;
    // Holds the text when it had to be converted; otherwise the text is the file's own bytes.
    QByteArray converted;
};

// A byte-order mark (UTF-8, UTF-16 or UTF-32) decides; otherwise the encoding named in the XML
// declaration if the system's converter (iconv) knows it and the bytes are all valid in it (a
// code page of one byte a character is read through a table of its characters, made once per
// run from the converter);
// otherwise valid UTF-8 is read as UTF-8 and anything else as windows-1252. The result points
// into `fileBytes` or into its own `converted`.
ScanText scanText(const QByteArray &fileBytes);

} // namespace squad::reading
