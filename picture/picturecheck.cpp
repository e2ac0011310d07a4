#include "picturecheck.h"

#include "paa.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

namespace picture {
namespace {

using squad::Finding;

Finding finding(Finding::Kind kind, const QString &message) {
    return {kind, -1, squad::Property::Picture, std::nullopt, message};
}

bool powerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

QString quoted(const QString &text) {
    return u'"' + text + u'"';
}

// What an image that is no PAA is, by its content: "a PNG image", or empty when unknown.
QString otherFormat(QByteArrayView file) {
    QByteArray copy = file.toByteArray();
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&buffer);
    if (format.isEmpty())
        return {};
    return QStringLiteral("a %1 image").arg(QString::fromLatin1(format).toUpper());
}

} // namespace

QList<Finding> PaaInspector::inspect(const QString &name, QByteArrayView file) const {
    constexpr auto Problem = Finding::Kind::Problem;
    constexpr auto Hint = Finding::Kind::Hint;
    const QString picture = quoted(name);
    if (!looksLikePaa(file)) {
        const QString format = otherFormat(file);
        const QString what = file.isEmpty() ? QStringLiteral("is empty")
                             : format.isEmpty()
                                 ? QStringLiteral("is no PAA texture")
                                 : QStringLiteral("is %1, no PAA texture").arg(format);
        return {finding(Problem, QStringLiteral("The picture %1 %2, so the game shows no logo: "
                                                "make a PAA of it with Tools > Squad picture.")
                                     .arg(picture, what))};
    }
    const PaaPicture read = readPaa(file);
    if (!read.ok()) {
        return {finding(Problem, QStringLiteral("The picture %1 cannot be read, so the game shows "
                                                "no logo: %2 Make it again with Tools > Squad "
                                                "picture.")
                                     .arg(picture, read.error))};
    }
    QList<Finding> found;
    const PaaFacts &facts = read.facts;
    const QString size =
        QStringLiteral("%1 × %2").arg(QString::number(facts.width), QString::number(facts.height));
    if (!powerOfTwo(facts.width) || !powerOfTwo(facts.height)) {
        found << finding(Problem, QStringLiteral("The picture %1 is %2 pixels; the game shows a "
                                                 "picture only when both sides are powers of two "
                                                 "(such as 256 × 256): make it again with Tools > "
                                                 "Squad picture.")
                                      .arg(picture, size));
    }
    if (facts.width > 512 || facts.height > 512) {
        found << finding(Hint, QStringLiteral("The picture %1 is %2 pixels, larger than the "
                                              "512 × 512 a logo needs: every player downloads it, "
                                              "so 256 × 256 serves better.")
                                   .arg(picture, size));
    }
    if (facts.width != facts.height) {
        found << finding(Hint, QStringLiteral("The picture %1 is %2 pixels, not square: the game "
                                              "stretches it to a square.")
                                   .arg(picture, size));
    }
    if (facts.type != PixelType::Dxt1 && facts.type != PixelType::Dxt5) {
        found << finding(Hint, QStringLiteral("The picture %1 is stored as %2, which not every "
                                              "version of the game shows: DXT1 or DXT5 are safe, "
                                              "as Tools > Squad picture makes them.")
                                   .arg(picture, pixelTypeName(facts.type)));
    }
    return found;
}

QList<Finding> PaaInspector::inspectFile(const QString &name, const QString &path) const {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {
            finding(Finding::Kind::Problem, QStringLiteral("The picture %1 cannot be opened: %2.")
                                                .arg(quoted(name), file.errorString()))};
    }
    if (file.size() > MaxFileSize) {
        return {finding(Finding::Kind::Problem,
                        QStringLiteral("The picture %1 takes more than %2 MiB, far too much for a "
                                       "squad logo: make it again with Tools > Squad picture.")
                            .arg(quoted(name), QString::number(MaxFileSize >> 20)))};
    }
    return inspect(name, file.readAll());
}

const PaaInspector &paaInspector() {
    static const PaaInspector inspector;
    return inspector;
}

} // namespace picture
