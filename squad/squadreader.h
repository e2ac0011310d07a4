#pragma once

#include "squaddocument.h"

#include <QByteArray>
#include <QString>

#include <atomic>

namespace squad {

// The message box that a file with a header other than the writer's draws.
inline const QString headerWarningText = QStringLiteral("XML-Header is corrupt!");
inline const QString headerWarningTitle = QStringLiteral("Error in XML-Header");
inline constexpr int headerWarningStyle = 48;

struct DecodeResult {
    bool ok = false;            // false: nothing usable; the caller keeps its current document
    bool headerCorrupt = false; // the caller shows the header warning (the file still loads)
    SquadData data;             // the fresh document read (valid when ok)
    QString error;              // when !ok: what could not be read, for a message to the user
    int errorLine = 0;          // when !ok: 1-based line of the text where reading failed
    QString encoding;           // the code page the text was read in: "UTF-8", "UTF-16",
                                // "UTF-32", "ISO-8859-1", "windows-1252" or the name that the
                                // XML declaration gives, as written there
    bool truncated = false;     // when ok: the squad's start tag is not followed by its end
                                // tag; the text may be cut short and the members incomplete
};

// Reads a squad file: the whole file as read from disk.
//
// A fixed-text scanner, not an XML parser. It looks at every "<" once and recognises the tags it
// knows by their fixed names: the squad's start tag and its five property elements before the
// first member; every `<member` start tag, whose element reaches to its `</member>` (or to the
// next member or the end of the text when that is missing) and holds the member's four elements
// in any order. Comments, processing instructions and declarations are skipped whole; any other
// text is ignored. Attributes may stand in any order, with either quote and blanks around "=".
// A tag missing from its scope gives an empty value; of a repeated tag the first one counts.
// Values are kept verbatim (blanks and line breaks included) except that the five predefined
// entity references and numeric character references are turned into their characters. Inside
// an element's value a CDATA section gives its text as it stands (a reference in it stays as
// written), and comments and processing instructions are left out, the text around them joined.
//
// The only failures: a value whose end ("<" of an element, the closing quote of an attribute)
// is missing; a comment, processing instruction or CDATA section without its end, which would
// hide the rest of the text; and a text with neither a `<squad` nor a `<member` tag. Then `ok`
// is false and `data` is empty; the caller's document is never touched. A text with a squad
// start tag that ends before the squad's end tag (`</squad`, its ">" may be missing) is read as
// far as it goes, with `truncated` set. `headerCorrupt` is set whenever the text does not start
// with the writer's XML declaration or lacks its document type or style sheet line, also for a
// failing text.
//
// The code page: a byte-order mark (UTF-8, UTF-16 or UTF-32) decides; otherwise the encoding
// named in the XML declaration if the system's converter (iconv) knows it and the bytes are all
// valid in it; otherwise valid UTF-8 is read as UTF-8 and anything else as windows-1252.
// Shift_JIS and GB2312 are read in the forms Windows gives them (CP932, GBK).
//
// Linear in the size of the text. When `cancelled` is given and becomes true, reading stops soon
// and fails.
DecodeResult decode(const QByteArray &fileBytes, const std::atomic<bool> *cancelled = nullptr);

namespace detail {
// decode without its straight path for the members that the writer writes: for the tests and the
// fuzz target, which check that both ways give the same result.
DecodeResult decodeGeneral(const QByteArray &fileBytes);
} // namespace detail

} // namespace squad
