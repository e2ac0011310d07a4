#pragma once

#include "squaddocument.h"

#include <QByteArray>
#include <QString>

#include <atomic>

namespace squad {

// What keeps a text from being read.
enum class ReadFailure {
    None,
    NoSquad,           // neither a <squad> nor a <member> tag
    UnclosedAttribute, // an attribute's closing quote is missing before the next tag
    UnclosedMarkup,    // a comment, processing instruction or CDATA section has no end
    TooLarge,          // more values than the reader can count, or a text over 2 GiB
    TooManyMembers,    // more members than `memberBudget`
    Cancelled,         // the caller asked reading to stop
};

// The most members a squad file may hold: far above any real squad, low enough that reading a
// file or a server's body of tiny members stays within memory. Beyond it decode fails at once.
inline constexpr int memberBudget = 4'000'000;

struct DecodeResult {
    bool ok = false;            // false: nothing usable; the caller keeps its current document
    bool headerCorrupt = false; // the caller shows the header warning (the file still loads)
    SquadData data;             // the fresh document read (valid when ok)
    ReadFailure failure = ReadFailure::None; // when !ok: what went wrong
    QString error;            // when !ok: what could not be read, naming the tag or markup
    int errorLine = 0;        // when !ok: 1-based line of the text where reading failed
    QString encoding;         // the code page the text was read in: "UTF-8", "UTF-16",
                              // "UTF-32", "ISO-8859-1", "windows-1252" or the name that the
                              // XML declaration gives, as written there
    bool truncated = false;   // when ok: the text ends before the squad's end tag, or inside a
                              // tag or value; the file may be cut short, the members incomplete
    qsizetype unreadable = 0; // when ok: characters of the values replaced or left out
    int unreadableLine = 0;   // when unreadable: 1-based line of the first of them
};

// Reads a squad file: the whole file as read from disk.
//
// A fixed-text scanner, not an XML parser, that reads values as a parser would. It looks at
// every "<" once and recognises the tags it knows by their fixed names: the squad's start tag and
// its five property elements before the first member; every `<member` start tag, whose element
// reaches to its `</member>` (or to the next member or the end of the text when that is missing)
// and holds the member's four elements in any order. Comments, processing instructions and
// declarations are skipped whole; any other text is ignored. Attributes may stand in any order,
// with either quote and blanks around "=". A tag missing from its scope gives an empty value; of
// a repeated tag the first one counts.
//
// Values are read as XML 1.0 has them: line ends become LF; in an attribute tab, CR and LF
// become blanks; the five predefined entity references and numeric character references become
// their characters. An element's value reaches to its end tag: the text of elements nested in it
// is part of it, CDATA sections give their text as it stands (a reference in it stays as
// written), and comments and processing instructions are left out, the text around them joined.
// An element left open ends at the next member or squad tag, or at a "<" that starts no tag.
// Characters that XML cannot carry are replaced by U+FFFD (a byte that is none of the code
// page's) or left out (control characters, references to no character), and counted.
//
// The only failures: more members than `memberBudget`; an attribute value whose closing quote is
// missing before the next tag; a comment, processing instruction or CDATA section without its end,
// which would hide the rest of the text; and a text with neither a `<squad` nor a `<member` tag.
// Then `ok` is false and `data` is empty; the caller's document is never touched. A text that ends
// before the squad's end tag (`</squad`, its ">" may be missing), or inside a tag or a value, is
// read as far as it goes, the value cut off as far as it goes, with `truncated` set.
// `headerCorrupt` is set whenever the text does not start with the writer's XML declaration or
// lacks its document type or style sheet line, also for a failing text.
//
// The code page: a byte-order mark (UTF-8, UTF-16 or UTF-32) decides, then a UTF-16 or UTF-32
// text that starts with "<?"; otherwise the encoding named in the XML declaration if the
// system's converter (iconv) knows it and the bytes are all valid in it; otherwise valid UTF-8
// is read as UTF-8 and anything else as windows-1252. Shift_JIS and GB2312 are read in the forms
// Windows gives them (CP932, GBK).
//
// Linear in the size of the text. When `cancelled` is given and becomes true, reading stops soon
// and fails.
DecodeResult decode(const QByteArray &fileBytes, const std::atomic<bool> *cancelled = nullptr);

// The same for the bytes of a file mapped privately and read-only (mmap): the pages already read
// are handed back to the system while the values are converted, so that the file and the
// squad's strings never take memory in full at once. Other bytes must not be given to it.
DecodeResult decodeMapped(const QByteArray &mappedFile);

namespace detail {
// The ways decode can take to the same result, for the tests, the fuzz target and the benchmark,
// which check that every way gives the same result and what each costs.
struct DecodeWay {
    bool writersMembers = true; // the members the writer writes are read on a straight path
    bool sharedBlock = true;    // all values in one block (only on the Qt versions that allow it)
    int memberBudget = squad::memberBudget; // the tests try it on small texts
    bool mappedFile = false;                // see decodeMapped
};
DecodeResult decode(const QByteArray &fileBytes, DecodeWay way,
                    const std::atomic<bool> *cancelled = nullptr);
// decode without its straight path for the members that the writer writes.
DecodeResult decodeGeneral(const QByteArray &fileBytes);
} // namespace detail

} // namespace squad
