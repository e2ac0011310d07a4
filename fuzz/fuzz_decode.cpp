// Fuzzes the squad file reader. Besides crashes, leaks and hangs it checks what decode promises:
// the straight path for the writer's members reads what the general reading reads; a failure
// leaves nothing behind and names a line; a success is a whole document, and writing that
// document and reading it again gives the same document (less what the writer leaves out).
#include "squad/squadreader.h"
#include "squad/squadwriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace squad;

namespace {

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "fuzz_decode: %s\n", what);
    std::abort();
}

// The value as the writer carries it: without the characters XML cannot hold.
QString writable(const QString &value) {
    QString out;
    const qsizetype n = value.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = value.at(i).unicode();
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 < n && QChar::isLowSurrogate(value.at(i + 1).unicode())) {
                out += value.at(i);
                out += value.at(++i);
            }
            continue;
        }
        if (QChar::isLowSurrogate(c) || c == 0xFFFE || c == 0xFFFF)
            continue;
        if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
            continue;
        out += QChar(c);
    }
    return out;
}

SquadData writable(const SquadData &data) {
    SquadData out;
    for (int p = 0; p < PropertyCount; ++p)
        out.properties[p] = writable(data.properties[p]);
    for (int i = 0; i < data.mmbdata.memberCount(); ++i) {
        Member m;
        for (int f = 0; f < FieldCount; ++f)
            m[f] = writable(data.mmbdata.cell(Field(f), i));
        out.mmbdata.append(m);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const DecodeResult result = decode(bytes);
    const DecodeResult general = detail::decodeGeneral(bytes);
    if (general.ok != result.ok || general.headerCorrupt != result.headerCorrupt ||
        general.error != result.error || general.errorLine != result.errorLine ||
        general.encoding != result.encoding || general.truncated != result.truncated ||
        general.failure != result.failure || general.unreadable != result.unreadable ||
        general.unreadableLine != result.unreadableLine || !(general.data == result.data))
        fail("the straight path and the general reading differ");
    if (!(detail::decode(bytes, {.sharedBlock = false}).data == result.data))
        fail("the values in one block and in strings of their own differ");
    if (!result.ok) {
        if (result.error.isEmpty() || result.errorLine < 1 || result.failure == ReadFailure::None)
            fail("a failure without kind, message or line");
        if (result.truncated)
            fail("a failure said to be cut short");
        if (!(result.data == SquadData{}))
            fail("a failure left a document behind");
        return 0;
    }
    const MemberTable &table = result.data.mmbdata;
    if (table.columnCount() < 1)
        fail("no spare column");
    for (int f = 0; f < FieldCount; ++f) {
        if (!table.cell(Field(f), table.columnCount() - 1).isEmpty())
            fail("the spare column is not empty");
    }
    if ((result.unreadable > 0) != (result.unreadableLine > 0))
        fail("characters that cannot be read without the line of the first");
    const SquadData expected = writable(result.data);
    if (!(expected == result.data))
        fail("a value holds a character that XML cannot carry");
    const DecodeResult again = decode(fileContents(result.data));
    if (!again.ok || again.headerCorrupt || again.truncated || again.unreadable > 0)
        fail("the written document does not read back");
    if (!(again.data == expected))
        fail("the written document reads back different");
    return 0;
}
