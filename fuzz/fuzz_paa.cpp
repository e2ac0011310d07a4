// Fuzzes the PAA reader. Besides crashes, leaks and hangs it checks what readPaa promises: a
// failure says why and leaves no picture; a success is a picture of the sides its facts name,
// within the limits.
#include "picture/paa.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "fuzz_paa: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const picture::PaaPicture read =
        picture::readPaa(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!read.ok()) {
        if (!read.image.isNull())
            fail("a failure left a picture");
        return 0;
    }
    const picture::PaaFacts &facts = read.facts;
    if (read.image.size() != QSize(facts.width, facts.height))
        fail("the picture's size is not the one its facts name");
    if (facts.width < 1 || facts.height < 1 || facts.width > picture::MaxSide ||
        facts.height > picture::MaxSide || facts.mipmapCount < 1)
        fail("a picture beyond the limits was read");
    if (facts.fileSize != qint64(size))
        fail("the file size is wrong");
    return 0;
}
