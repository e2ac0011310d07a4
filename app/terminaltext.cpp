#include "terminaltext.h"

#include <algorithm>

namespace app {
namespace {

bool isBidiControl(char16_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
           c == 0x200F || c == 0x061C;
}

bool needsBraces(char16_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || isBidiControl(c);
}

void appendHex(QString &out, unsigned value, int digits) {
    out += QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString escapeForTerminal(QStringView text) {
    // Most lines hold nothing to escape: --check may print millions of them.
    if (std::none_of(text.begin(), text.end(), [](QChar c) {
            const char16_t u = c.unicode();
            return u < 0x20 || u == 0x7F || u == u'\\' || needsBraces(u) || QChar::isSurrogate(u);
        }))
        return text.toString();
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += text[i];
            out += text[++i];
            continue;
        }
        switch (c) {
        case u'\\':
            out += QLatin1String("\\\\");
            continue;
        case u'\n':
            out += QLatin1String("\\n");
            continue;
        case u'\r':
            out += QLatin1String("\\r");
            continue;
        case u'\t':
            out += QLatin1String("\\t");
            continue;
        default:
            break;
        }
        if (c < 0x20 || c == 0x7F) {
            out += QLatin1String("\\x");
            appendHex(out, c, 2);
        } else if (needsBraces(c) || QChar::isSurrogate(c)) {
            out += QLatin1String("\\u{");
            appendHex(out, c, 4);
            out += u'}';
        } else {
            out += QChar(c);
        }
    }
    return out;
}

void printLine(std::FILE *stream, QStringView line) {
    // A message on standard error stands after the lines printed before it, also in one log.
    if (stream != stdout)
        std::fflush(stdout);
    QByteArray bytes = escapeForTerminal(line).toLocal8Bit();
    bytes += '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace app
