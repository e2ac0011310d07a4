#include "picturecommandline.h"

#include "terminaltext.h"

#include "picture/makepaa.h"
#include "picture/paa.h"

namespace app {
namespace {

int fail(const QString &message) {
    app::printLine(stderr, QString(u"troopbook: " + message));
    return 1;
}

} // namespace

int makePictureCommand(const QString &image, const QString &out, const QString &sideText) {
    bool number = true;
    const int side = sideText.isEmpty() ? picture::DefaultMadeSide : sideText.toInt(&number);
    if (!number || !picture::isMadeSide(side)) {
        return fail(QStringLiteral("--picture-size takes a power of two from %1 to %2, not \"%3\"")
                        .arg(QString::number(picture::MinMadeSide),
                             QString::number(picture::MaxMadeSide), sideText));
    }
    QString error;
    const QImage source = picture::readImage(image, &error);
    if (source.isNull())
        return fail(error);
    const QByteArray paa = picture::makePaa(source, side);
    if (!picture::writeWhole(out, paa, &error))
        return fail(error);
    const picture::PaaFacts facts = picture::readPaa(paa).facts;
    app::printLine(stdout,
                   QStringLiteral("%1: %2 × %3 %4, %5 mipmaps, %6 bytes")
                       .arg(out, QString::number(facts.width), QString::number(facts.height),
                            pixelTypeName(facts.type), QString::number(facts.mipmapCount),
                            QString::number(paa.size())));
    return 0;
}

int exportPictureCommand(const QString &paa, const QString &out) {
    const picture::PaaPicture read = picture::readPaaFile(paa);
    if (!read.ok())
        return fail(read.error);
    QString error;
    if (!picture::writePng(read.image, out, &error))
        return fail(error);
    return 0;
}

} // namespace app
