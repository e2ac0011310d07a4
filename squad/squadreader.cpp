#include "squadreader.h"

#include "codepage.h"
#include "fileheader.h"
#include "squadscanner.h"

#include <string_view>

namespace squad {
namespace {

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

DecodeResult decode(const QByteArray &fileBytes, DecodeWay way,
                    const std::atomic<bool> *cancelled) {
    DecodeResult result;
    const reading::ScanText text = reading::scanText(fileBytes);
    result.encoding = text.encoding;

    // The header check only warns.
    const std::string_view head(text.begin, size_t(text.end - text.begin));
    result.headerCorrupt = !head.starts_with(fileheader::xmlDeclaration) ||
                           head.find(fileheader::doctypeLine) == std::string_view::npos ||
                           head.find(fileheader::stylesheetLine) == std::string_view::npos;

    const reading::Scanned scanned =
        reading::scan(text,
                      {way.writersMembers, way.sharedBlock, way.memberBudget,
                       way.mappedFile && text.converted.isNull(), cancelled},
                      result.data);
    if (!scanned.ok) {
        result.failure = scanned.failure.kind;
        result.error = scanned.failure.what;
        result.errorLine = lineOf(text.begin, text.end, scanned.failure.at);
        return result;
    }
    result.ok = true;
    result.truncated = scanned.truncated;
    result.unreadable = scanned.unreadable;
    if (scanned.unreadable > 0)
        result.unreadableLine = lineOf(text.begin, text.end, scanned.firstUnreadable);
    return result;
}

DecodeResult decodeGeneral(const QByteArray &fileBytes) {
    return decode(fileBytes, DecodeWay{.writersMembers = false});
}

} // namespace detail

DecodeResult decode(const QByteArray &fileBytes, const std::atomic<bool> *cancelled) {
    return detail::decode(fileBytes, detail::DecodeWay{}, cancelled);
}

DecodeResult decodeMapped(const QByteArray &mappedFile) {
    return detail::decode(mappedFile, detail::DecodeWay{.mappedFile = true});
}

} // namespace squad
