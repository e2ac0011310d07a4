#include "namedcompanions.h"

#include <QStringDecoder>

#include <optional>

namespace publish {
namespace {

// The prolog of any real squad file is a few hundred bytes.
constexpr qsizetype prologLimit = 64 * 1024;

QString prologText(const QByteArray &body) {
    const QByteArray head = body.left(prologLimit);
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(QStringConverter::Utf16);
        return decoder(head);
    }
    // The markup is ASCII in every other encoding a squad file comes in.
    return QString::fromUtf8(head);
}

QString unescaped(QString value) {
    return value.replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&apos;"), QLatin1String("'"))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Reads the text of a literal quoted with " or ' at `at`, moving past it; nullopt when none.
std::optional<QString> quoted(QStringView text, qsizetype &at) {
    while (at < text.size() && isBlank(text[at]))
        ++at;
    if (at >= text.size() || (text[at] != u'"' && text[at] != u'\''))
        return std::nullopt;
    const qsizetype end = text.indexOf(text[at], at + 1);
    if (end < 0)
        return std::nullopt;
    const QString literal = text.mid(at + 1, end - at - 1).toString();
    at = end + 1;
    return literal;
}

// Reads the external ID of a DOCTYPE from `at`, just past its name: "SYSTEM "x"" or
// "PUBLIC "p" "x"". Returns the system identifier, empty when there is none.
QString systemIdentifier(QStringView text, qsizetype &at) {
    while (at < text.size() && isBlank(text[at]))
        ++at;
    const QStringView rest = text.mid(at);
    if (rest.startsWith(QLatin1String("SYSTEM"))) {
        at += 6;
    } else if (rest.startsWith(QLatin1String("PUBLIC"))) {
        at += 6;
        if (!quoted(text, at))
            return {};
    } else {
        return {};
    }
    return quoted(text, at).value_or(QString());
}

// The href pseudo-attribute of an xml-stylesheet instruction's data.
QString hrefOf(QStringView data) {
    qsizetype at = 0;
    while ((at = data.indexOf(QLatin1String("href"), at)) >= 0) {
        const bool starts = at == 0 || isBlank(data[at - 1]);
        at += 4;
        while (at < data.size() && isBlank(data[at]))
            ++at;
        if (!starts || at >= data.size() || data[at] != u'=')
            continue;
        ++at;
        if (const std::optional<QString> value = quoted(data, at))
            return unescaped(*value);
    }
    return {};
}

} // namespace

NamedCompanions namedCompanions(const QByteArray &body) {
    NamedCompanions named;
    const QString text = prologText(body);
    qsizetype at = text.startsWith(QChar(0xFEFF)) ? 1 : 0;
    bool styleSheetSeen = false;
    while (at < text.size()) {
        if (isBlank(text[at])) {
            ++at;
            continue;
        }
        const QStringView rest = QStringView(text).mid(at);
        if (rest.startsWith(QLatin1String("<?"))) {
            const qsizetype end = text.indexOf(QLatin1String("?>"), at);
            if (end < 0)
                break;
            const QStringView instruction = QStringView(text).mid(at + 2, end - at - 2);
            const QLatin1String target("xml-stylesheet");
            if (!styleSheetSeen && instruction.startsWith(target) &&
                instruction.size() > target.size() && isBlank(instruction[target.size()])) {
                styleSheetSeen = true;
                named.styleSheet = hrefOf(instruction.mid(target.size()));
            }
            at = end + 2;
        } else if (rest.startsWith(QLatin1String("<!--"))) {
            const qsizetype end = text.indexOf(QLatin1String("-->"), at + 4);
            if (end < 0)
                break;
            at = end + 3;
        } else if (rest.startsWith(QLatin1String("<!DOCTYPE"))) {
            qsizetype end = at + 9;
            while (end < text.size() && isBlank(text[end]))
                ++end;
            while (end < text.size() && !isBlank(text[end]) && text[end] != u'>' &&
                   text[end] != u'[')
                ++end;
            named.documentType = systemIdentifier(text, end);
            while (end < text.size() && text[end] != u'>' && text[end] != u'[')
                ++end;
            if (end < text.size() && text[end] == u'[')
                end = text.indexOf(u']', end);
            end = end < 0 ? -1 : text.indexOf(u'>', end);
            if (end < 0)
                break;
            at = end + 1;
        } else {
            break; // the squad element, or something that is no prolog
        }
    }
    return named;
}

} // namespace publish
