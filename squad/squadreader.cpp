#include "squadreader.h"

#include "codepage.h"
#include "squadscanner.h"

#include <string_view>

namespace squad {
namespace {

using namespace std::string_view_literals;

// The writer's header: a file without all three draws the header warning.
constexpr std::string_view xmlDeclaration = "<?xml version=\"1.0\"?>"sv;
constexpr std::string_view doctypeLine = "<!DOCTYPE squad SYSTEM \"squad.dtd\">"sv;
constexpr std::string_view stylesheetLine =
    "<?xml-stylesheet href=\"squad.xsl?\" type=\"text/xsl\"?>"sv;

// Lines end at LF, CR LF or a lone CR.
int lineOf(const char *begin, const char *end, const char *at) {
    int line = 1;
    for (const char *p = begin; p < at; ++p) {
        if (*p == '\n' || (*p == '\r' && (p + 1 == end || p[1] != '\n')))
            ++line;
    }
    return line;
}

} // namespace

namespace detail {

DecodeResult decode(const QByteArray &fileBytes, DecodeWay way) {
    DecodeResult result;
    const reading::ScanText text = reading::scanText(fileBytes);
    result.encoding = text.encoding;

    // The header check only warns.
    const std::string_view head(text.begin, size_t(text.end - text.begin));
    result.headerCorrupt = !head.starts_with(xmlDeclaration) ||
                           head.find(doctypeLine) == std::string_view::npos ||
                           head.find(stylesheetLine) == std::string_view::npos;

    const reading::Scanned scanned =
        reading::scan(text,
                      {way.writersMembers, way.sharedBlock, way.memberBudget,
                       way.mappedFile && text.converted.isNull()},
                      result.data);
    if (!scanned.ok) {
        result.error = scanned.failure.what;
        result.errorLine = lineOf(text.begin, text.end, scanned.failure.at);
        return result;
    }
    result.ok = true;
    result.truncated = scanned.truncated;
    return result;
}

DecodeResult decodeGeneral(const QByteArray &fileBytes) {
    return decode(fileBytes, DecodeWay{.writersMembers = false});
}

} // namespace detail

DecodeResult decode(const QByteArray &fileBytes) {
    return detail::decode(fileBytes, detail::DecodeWay{});
}

DecodeResult decodeMapped(const QByteArray &mappedFile) {
    return detail::decode(mappedFile, detail::DecodeWay{.mappedFile = true});
}

} // namespace squad
