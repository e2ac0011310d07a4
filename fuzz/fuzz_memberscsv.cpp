// Fuzzes the members' CSV reader. Besides crashes, leaks and hangs it checks what it promises: a
// failure keeps no members and says where; a success has no member without any value, and writing
// its members as CSV and reading them again gives the same members.
#include "squad/memberscsv.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace squad;

namespace {

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "fuzz_memberscsv: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const CsvMembers read = readMembersCsv(bytes);
    if (!read.ok) {
        if (read.error.isEmpty())
            fail("a failure without message");
        if (!read.members.isEmpty())
            fail("a failure kept members");
        if (read.column > 0 && read.row < 1)
            fail("a column without a row");
        return 0;
    }
    MemberTable table;
    for (const Member &member : read.members) {
        if (member == Member{})
            fail("a member without any value");
        table.append(member);
    }
    const CsvMembers again = readMembersCsv(membersCsv(table));
    if (!again.ok)
        fail("the written members do not read back");
    if (again.members != read.members)
        fail("the written members read back different");
    return 0;
}
