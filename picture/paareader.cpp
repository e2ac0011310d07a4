#include "paa.h"

#include <lzo/lzo1x.h>
#include <squish.h>

#include <QFile>
#include <QLocale>

namespace picture {

std::optional<PixelType> pixelTypeFromCode(quint16 code) {
    switch (PixelType(code)) {
    case PixelType::Dxt1:
    case PixelType::Dxt2:
    case PixelType::Dxt3:
    case PixelType::Dxt4:
    case PixelType::Dxt5:
    case PixelType::Argb4444:
    case PixelType::Argb1555:
    case PixelType::Argb8888:
    case PixelType::Ai88:
        return PixelType(code);
    }
    return std::nullopt;
}

QString pixelTypeName(PixelType type) {
    switch (type) {
    case PixelType::Dxt1:
        return QStringLiteral("DXT1");
    case PixelType::Dxt2:
        return QStringLiteral("DXT2");
    case PixelType::Dxt3:
        return QStringLiteral("DXT3");
    case PixelType::Dxt4:
        return QStringLiteral("DXT4");
    case PixelType::Dxt5:
        return QStringLiteral("DXT5");
    case PixelType::Argb4444:
        return QStringLiteral("ARGB4444");
    case PixelType::Argb1555:
        return QStringLiteral("ARGB1555");
    case PixelType::Argb8888:
        return QStringLiteral("ARGB8888");
    case PixelType::Ai88:
        return QStringLiteral("AI88");
    }
    return {};
}

bool isDxt(PixelType type) {
    return (quint16(type) & 0xFF00) == 0xFF00;
}

bool looksLikePaa(QByteArrayView file) {
    return file.size() >= 2 && pixelTypeFromCode(quint8(file[0]) | quint8(file[1]) << 8);
}

namespace {

QString number(qint64 n) {
    return QLocale(QLocale::English).toString(n);
}

// Reads little-endian numbers and byte runs, never past the end.
class Cursor {
public:
    explicit Cursor(QByteArrayView data)
        : m_data(data) {}

    qsizetype position() const { return m_pos; }
    qsizetype left() const { return m_data.size() - m_pos; }
    bool startsWith(QByteArrayView text) const { return m_data.sliced(m_pos).startsWith(text); }

    bool bytes(qint64 n, QByteArrayView *out) {
        if (n < 0 || n > left())
            return false;
        *out = m_data.sliced(m_pos, n);
        m_pos += n;
        return true;
    }
    bool number(int size, quint32 *out) {
        QByteArrayView b;
        if (!bytes(size, &b))
            return false;
        *out = 0;
        for (int i = size - 1; i >= 0; --i)
            *out = *out << 8 | quint8(b[i]);
        return true;
    }

private:
    QByteArrayView m_data;
    qsizetype m_pos = 0;
};

struct Mipmap {
    int width = 0;
    int height = 0;
    bool lzo = false;
    QByteArrayView data;
};

int bytesPerPixel(PixelType type) {
    return type == PixelType::Argb8888 ? 4 : 2;
}

// What a mipmap takes once decompressed.
qint64 decodedSize(PixelType type, int width, int height) {
    if (isDxt(type)) {
        const qint64 blocks = qint64((width + 3) / 4) * ((height + 3) / 4);
        return blocks * (type == PixelType::Dxt1 ? 8 : 16);
    }
    return qint64(width) * height * bytesPerPixel(type);
}

QString mipmapName(int index, const Mipmap &m) {
    return QStringLiteral("Mipmap %1 (%2 × %3)")
        .arg(QString::number(index + 1), QString::number(m.width), QString::number(m.height));
}

QString lzoDecode(QByteArrayView in, qint64 size, QByteArray &out) {
    static const bool ready = lzo_init() == LZO_E_OK;
    if (!ready)
        return QStringLiteral("the LZO library could not be started");
    // LZO1X cannot grow data by more than this, so more is a lie of the header, not data.
    if (size > in.size() * qint64(1024) + 1024)
        return QStringLiteral("its LZO data is far too short for its size");
    out.resize(size);
    lzo_uint written = lzo_uint(size);
    const int result = lzo1x_decompress_safe(
        reinterpret_cast<const unsigned char *>(in.data()), lzo_uint(in.size()),
        reinterpret_cast<unsigned char *>(out.data()), &written, nullptr);
    if ((result != LZO_E_OK && result != LZO_E_INPUT_NOT_CONSUMED) || qint64(written) != size) {
        return QStringLiteral("its LZO data does not decode to the %1 bytes it must have")
            .arg(number(size));
    }
    return {};
}

// BI's LZSS: a flag byte for every 8 items, bit set for a literal byte, clear for a 12-bit
// distance back and a 4-bit length + 3; before the start lie spaces. A 32-bit sum of the
// decoded bytes follows.
QString lzssDecode(QByteArrayView in, qint64 size, QByteArray &out) {
    // Each item of two bytes gives at most 18.
    if (size > in.size() * qint64(9) + 18)
        return QStringLiteral("its LZSS data is far too short for its size");
    out.resize(size);
    auto *o = reinterpret_cast<quint8 *>(out.data());
    const auto *i = reinterpret_cast<const quint8 *>(in.data());
    const quint8 *const end = i + in.size();
    const QString cut =
        QStringLiteral("its LZSS data ends before the %1 bytes it must have").arg(number(size));
    qint64 at = 0;
    while (at < size) {
        if (i == end)
            return cut;
        const quint8 flags = *i++;
        for (int bit = 0; bit < 8 && at < size; ++bit) {
            if (flags & (1 << bit)) {
                if (i == end)
                    return cut;
                o[at++] = *i++;
                continue;
            }
            if (end - i < 2)
                return cut;
            const int distance = i[0] | (i[1] & 0xF0) << 4;
            const int length = (i[1] & 0x0F) + 3;
            i += 2;
            if (distance == 0)
                return QStringLiteral("its LZSS data refers to a byte not yet decoded");
            if (at + length > size) {
                return QStringLiteral("its LZSS data decodes to more than the %1 bytes it must "
                                      "have")
                    .arg(number(size));
            }
            for (int k = 0; k < length; ++k, ++at)
                o[at] = at - distance < 0 ? quint8(' ') : o[at - distance];
        }
    }
    if (end - i < 4)
        return QStringLiteral("its LZSS data lacks the checksum");
    const quint32 stored = i[0] | i[1] << 8 | i[2] << 16 | quint32(i[3]) << 24;
    quint32 sum = 0;
    quint32 signedSum = 0;
    for (qint64 k = 0; k < size; ++k) {
        sum += o[k];
        signedSum += quint32(qint32(qint8(o[k])));
    }
    // Tools differ in whether they add the bytes signed or unsigned.
    if (stored != sum && stored != signedSum)
        return QStringLiteral("its LZSS checksum does not match");
    return {};
}

QImage decodeDxt(PixelType type, const Mipmap &m, const QByteArray &data) {
    const bool premultiplied = type == PixelType::Dxt2 || type == PixelType::Dxt4;
    QImage image(m.width, m.height,
                 premultiplied ? QImage::Format_RGBA8888_Premultiplied : QImage::Format_RGBA8888);
    if (image.isNull())
        return image;
    int flags = squish::kDxt5;
    if (type == PixelType::Dxt1)
        flags = squish::kDxt1;
    else if (type == PixelType::Dxt2 || type == PixelType::Dxt3)
        flags = squish::kDxt3;
    squish::DecompressImage(image.bits(), m.width, m.height, int(image.bytesPerLine()),
                            data.constData(), flags);
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage decodePlain(PixelType type, const Mipmap &m, const QByteArray &data) {
    QImage image(m.width, m.height, QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    const auto *p = reinterpret_cast<const quint8 *>(data.constData());
    const auto expand = [](int value, int bits) {
        return value * 255 / ((1 << bits) - 1);
    };
    for (int y = 0; y < m.height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < m.width; ++x) {
            if (type == PixelType::Argb8888) {
                line[x] = qRgba(p[2], p[1], p[0], p[3]);
                p += 4;
                continue;
            }
            const int v = p[0] | p[1] << 8;
            p += 2;
            if (type == PixelType::Argb4444) {
                line[x] = qRgba(expand(v >> 8 & 15, 4), expand(v >> 4 & 15, 4), expand(v & 15, 4),
                                expand(v >> 12, 4));
            } else if (type == PixelType::Argb1555) {
                line[x] = qRgba(expand(v >> 10 & 31, 5), expand(v >> 5 & 31, 5), expand(v & 31, 5),
                                v & 0x8000 ? 255 : 0);
            } else {
                line[x] = qRgba(v & 255, v & 255, v & 255, v >> 8);
            }
        }
    }
    return image;
}

QString readHead(Cursor &in, PaaFacts &facts) {
    quint32 code = 0;
    if (!in.number(2, &code))
        return QStringLiteral("The file is too short to be a PAA texture.");
    const std::optional<PixelType> type = pixelTypeFromCode(quint16(code));
    if (!type) {
        const auto hex = [](quint32 byte) {
            return QStringLiteral("%1").arg(byte, 2, 16, QChar(u'0')).toUpper();
        };
        return QStringLiteral("The file is no PAA texture: it starts with the bytes %1 %2, which "
                              "name no pixel type.")
            .arg(hex(code & 0xFF), hex(code >> 8));
    }
    facts.type = *type;
    while (in.startsWith("GGAT")) {
        QByteArrayView head;
        quint32 length = 0;
        QByteArrayView data;
        in.bytes(4, &head); // "GGAT"
        if (!in.bytes(4, &head))
            return QStringLiteral("The file is cut short in a tag's name.");
        const QString name = QString::fromLatin1(head);
        if (!in.number(4, &length))
            return QStringLiteral("The file is cut short in the tag %1.").arg(name);
        if (!in.bytes(length, &data)) {
            return QStringLiteral("The tag %1 says it holds %2 bytes, past the end of the file.")
                .arg(name, number(length));
        }
        facts.tags << PaaTag{head.toByteArray(), data.toByteArray()};
    }
    quint32 palette = 0;
    QByteArrayView skipped;
    if (!in.number(2, &palette) || !in.bytes(qint64(palette) * 3, &skipped))
        return QStringLiteral("The file is cut short in its palette.");
    return {};
}

} // namespace

bool hasTransparency(const QImage &image) {
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) != 255)
                return true;
        }
    }
    return false;
}

PaaPicture readPaa(QByteArrayView file) {
    PaaPicture result;
    PaaFacts &facts = result.facts;
    facts.fileSize = file.size();
    Cursor in(file);
    result.error = readHead(in, facts);
    if (!result.ok())
        return result;

    const PixelType type = facts.type;
    QList<Mipmap> mipmaps;
    qint64 decodedTotal = 0;
    for (;;) {
        quint32 width = 0;
        quint32 height = 0;
        if (!in.number(2, &width) || !in.number(2, &height)) {
            result.error = mipmaps.isEmpty()
                               ? QStringLiteral("The file is cut short before its first mipmap.")
                               : QStringLiteral("The file is cut short after mipmap %1, before "
                                                "the end of its mipmaps.")
                                     .arg(mipmaps.size());
            return result;
        }
        Mipmap m;
        m.lzo = isDxt(type) && (width & 0x8000);
        m.width = int(isDxt(type) ? width & 0x7FFF : width);
        m.height = int(height);
        if (m.width == 0 && m.height == 0)
            break;
        const int index = int(mipmaps.size());
        if (m.width == 0 || m.height == 0) {
            result.error = QStringLiteral("%1 has a side of 0 pixels.").arg(mipmapName(index, m));
            return result;
        }
        if (m.width > MaxSide || m.height > MaxSide) {
            result.error = QStringLiteral("%1 is larger than %2 pixels on a side.")
                               .arg(mipmapName(index, m), number(MaxSide));
            return result;
        }
        quint32 length = 0;
        if (!in.number(3, &length)) {
            result.error = QStringLiteral("The file is cut short in the head of %1.")
                               .arg(mipmapName(index, m).toLower());
            return result;
        }
        if (!in.bytes(length, &m.data)) {
            result.error = QStringLiteral("%1 says it holds %2 bytes, past the end of the file.")
                               .arg(mipmapName(index, m), number(length));
            return result;
        }
        decodedTotal += decodedSize(type, m.width, m.height);
        if (decodedTotal > MaxDecodedBytes) {
            result.error = QStringLiteral("The mipmaps would take more than %1 MiB decoded.")
                               .arg(MaxDecodedBytes >> 20);
            return result;
        }
        mipmaps << m;
    }
    if (mipmaps.isEmpty()) {
        result.error = QStringLiteral("The file holds no mipmap.");
        return result;
    }

    // Every mipmap must decode, as the game may show any of them; only the largest is kept.
    QByteArray largest;
    QByteArray data;
    for (int index = 0; index < mipmaps.size(); ++index) {
        const Mipmap &m = mipmaps[index];
        const qint64 size = decodedSize(type, m.width, m.height);
        QString why;
        if (m.lzo) {
            why = lzoDecode(m.data, size, data);
        } else if (isDxt(type) || m.data.size() == size) {
            if (m.data.size() < size) {
                why = QStringLiteral("it holds %1 bytes where %2 pixels need %3")
                          .arg(number(m.data.size()), pixelTypeName(type), number(size));
            } else {
                data = m.data.first(size).toByteArray();
            }
        } else {
            why = lzssDecode(m.data, size, data);
        }
        if (!why.isEmpty()) {
            result.error = QStringLiteral("%1 cannot be read: %2.").arg(mipmapName(index, m), why);
            return result;
        }
        if (index == 0)
            largest = std::move(data);
    }

    const Mipmap &first = mipmaps.first();
    result.image =
        isDxt(type) ? decodeDxt(type, first, largest) : decodePlain(type, first, largest);
    if (result.image.isNull()) {
        result.error = QStringLiteral("There is not enough memory to show the picture.");
        return result;
    }
    facts.width = first.width;
    facts.height = first.height;
    facts.mipmapCount = int(mipmaps.size());
    facts.alpha = hasTransparency(result.image);
    return result;
}

PaaPicture readPaaFile(const QString &path) {
    QFile file(path);
    PaaPicture result;
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("%1 cannot be opened: %2.").arg(path, file.errorString());
    } else if (file.size() > MaxFileSize) {
        result.error = QStringLiteral("%1 takes more than %2 MiB, more than any squad picture.")
                           .arg(path, QString::number(MaxFileSize >> 20));
    } else {
        result = readPaa(file.readAll());
        if (!result.ok())
            result.error = QStringLiteral("%1: %2").arg(path, result.error);
    }
    return result;
}

} // namespace picture
