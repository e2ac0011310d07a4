#include "makepaa.h"
#include "paa.h"

#include <lzo/lzo1x.h>
#include <squish.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>

#include <array>
#include <thread>
#include <vector>

namespace picture {

bool isMadeSide(int side) {
    return side >= MinMadeSide && side <= MaxMadeSide && (side & (side - 1)) == 0;
}

QImage fitToSquare(const QImage &source, int side) {
    QImage square(side, side, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    if (source.isNull())
        return square.convertToFormat(QImage::Format_ARGB32);
    // Scaling premultiplied keeps the colour of transparent pixels out of the edges.
    const QImage scaled = source.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                              .scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&square);
    painter.drawImage((side - scaled.width()) / 2, (side - scaled.height()) / 2, scaled);
    painter.end();
    return square.convertToFormat(QImage::Format_ARGB32);
}

namespace {

void append(QByteArray &out, quint32 value, int size) {
    for (int i = 0; i < size; ++i)
        out.append(char(value >> (8 * i) & 0xFF));
}

void appendTag(QByteArray &out, const char *name, const QByteArray &data) {
    out.append("GGAT", 4);
    out.append(name, 4);
    append(out, quint32(data.size()), 4);
    out.append(data);
}

// B, G, R, A, each the mean over all pixels.
QByteArray averageColour(const QImage &image) {
    std::array<quint64, 4> sum{};
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            sum[0] += qBlue(line[x]);
            sum[1] += qGreen(line[x]);
            sum[2] += qRed(line[x]);
            sum[3] += qAlpha(line[x]);
        }
    }
    const quint64 count = quint64(image.width()) * image.height();
    QByteArray out;
    for (const quint64 s : sum)
        out.append(char((s + count / 2) / count));
    return out;
}

// Blocks are independent, so strips of block rows are compressed side by side.
QByteArray compressDxt(const QImage &argb, int flags) {
    // Debian's libsquish takes no BGRA source, whatever its flags say.
    const QImage image = argb.convertToFormat(QImage::Format_RGBA8888);
    const int w = image.width();
    const int h = image.height();
    const int blockBytes = (flags & squish::kDxt1) ? 8 : 16;
    const int rowBytes = (w + 3) / 4 * blockBytes;
    const int blockRows = (h + 3) / 4;
    QByteArray out(qsizetype(rowBytes) * blockRows, Qt::Uninitialized);
    const int threads = std::clamp(int(std::thread::hardware_concurrency()), 1, blockRows / 8 + 1);
    const auto compressRows = [&](int first, int last) {
        if (first >= last)
            return;
        squish::CompressImage(image.constScanLine(first * 4), w, std::min(h, last * 4) - first * 4,
                              int(image.bytesPerLine()), out.data() + qsizetype(first) * rowBytes,
                              flags);
    };
    std::vector<std::thread> workers;
    const int share = (blockRows + threads - 1) / threads;
    for (int t = 1; t < threads; ++t)
        workers.emplace_back(compressRows, t * share, std::min(blockRows, (t + 1) * share));
    compressRows(0, std::min(blockRows, share));
    for (std::thread &worker : workers)
        worker.join();
    return out;
}

// LZO1X-1 of `data`, or nothing when it would not be smaller.
QByteArray lzoCompress(const QByteArray &data) {
    static const bool ready = lzo_init() == LZO_E_OK;
    if (!ready)
        return {};
    QByteArray out(data.size() + data.size() / 16 + 64 + 3, Qt::Uninitialized);
    std::vector<unsigned char> work(LZO1X_1_MEM_COMPRESS);
    lzo_uint written = 0;
    if (lzo1x_1_compress(reinterpret_cast<const unsigned char *>(data.constData()),
                         lzo_uint(data.size()), reinterpret_cast<unsigned char *>(out.data()),
                         &written, work.data()) != LZO_E_OK ||
        qsizetype(written) >= data.size())
        return {};
    out.truncate(qsizetype(written));
    return out;
}

} // namespace

QByteArray encodePaa(const QImage &square) {
    const QImage top = square.convertToFormat(QImage::Format_ARGB32);
    const bool alpha = hasTransparency(top);
    int flags = squish::kColourIterativeClusterFit;
    flags |= alpha ? squish::kDxt5 | squish::kWeightColourByAlpha : squish::kDxt1;

    struct Level {
        int width;
        int height;
        bool lzo;
        QByteArray data;
    };
    std::vector<Level> levels;
    QImage level = top;
    for (;;) {
        QByteArray blocks = compressDxt(level, flags);
        bool lzo = false;
        if (level.width() > 128) {
            QByteArray packed = lzoCompress(blocks);
            if (!packed.isEmpty()) {
                blocks = std::move(packed);
                lzo = true;
            }
        }
        levels.push_back({level.width(), level.height(), lzo, std::move(blocks)});
        if (level.width() <= 4 || level.height() <= 4 || levels.size() == 16)
            break;
        level = level.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                    .scaled(level.width() / 2, level.height() / 2, Qt::IgnoreAspectRatio,
                            Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_ARGB32);
    }

    QByteArray out;
    append(out, quint16(alpha ? 0xFF05 : 0xFF01), 2);
    appendTag(out, "CGVA", averageColour(top));
    appendTag(out, "CXAM", QByteArray(4, char(0xFF)));
    if (alpha) {
        QByteArray flag;
        append(flag, 1, 4);
        appendTag(out, "GALF", flag);
    }
    // The offsets tag comes last, so its own size is known when the offsets are counted.
    constexpr int offsetsTagSize = 8 + 4 + 16 * 4;
    quint32 offset = quint32(out.size() + offsetsTagSize + 2);
    QByteArray offsets;
    for (int i = 0; i < 16; ++i) {
        append(offsets, i < int(levels.size()) ? offset : 0, 4);
        if (i < int(levels.size()))
            offset += 7 + quint32(levels[i].data.size());
    }
    appendTag(out, "SFFO", offsets);
    append(out, 0, 2); // no palette
    for (const Level &l : levels) {
        append(out, quint32(l.width) | (l.lzo ? 0x8000 : 0), 2);
        append(out, quint32(l.height), 2);
        append(out, quint32(l.data.size()), 3);
        out.append(l.data);
    }
    out.append(6, '\0');
    return out;
}

QImage readImage(const QString &path, QString *error) {
    QImageReader reader(path);
    // Photos taken upright but stored sideways come out as they are seen.
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        *error =
            QStringLiteral("%1 cannot be read as an image: %2.").arg(path, reader.errorString());
    return image;
}

bool writeWhole(const QString &path, const QByteArray &bytes, QString *error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("%1 cannot be written: %2.").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool writePng(const QImage &image, const QString &path, QString *error) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) {
        *error = QStringLiteral("%1 cannot be written: %2.").arg(path, writer.errorString());
        return false;
    }
    return writeWhole(path, png, error);
}

QString imageFilter() {
    QStringList patterns;
    for (const QByteArray &suffix : QImageReader::supportedImageFormats())
        patterns << QStringLiteral("*.") + QString::fromLatin1(suffix);
    return QStringLiteral("Images (%1)|%1|AllFiles (*.*)|*.*").arg(patterns.join(u' '));
}

} // namespace picture
