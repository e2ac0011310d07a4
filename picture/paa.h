#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QList>
#include <QString>

#include <optional>

namespace picture {

// The pixel types of a PAA texture, as the file's first two bytes read little-endian.
enum class PixelType : quint16 {
    Dxt1 = 0xFF01,
    Dxt2 = 0xFF02,
    Dxt3 = 0xFF03,
    Dxt4 = 0xFF04,
    Dxt5 = 0xFF05,
    Argb4444 = 0x4444,
    Argb1555 = 0x1555,
    Argb8888 = 0x8888,
    Ai88 = 0x8080,
};

std::optional<PixelType> pixelTypeFromCode(quint16 code);
// "DXT1", "ARGB8888", …
QString pixelTypeName(PixelType type);
bool isDxt(PixelType type);

// Sides beyond this are no squad picture, whatever the file says.
inline constexpr int MaxSide = 8192;
// The most a file's mipmaps may take decoded; more is refused before anything is allocated.
inline constexpr qint64 MaxDecodedBytes = qint64(256) << 20;
// No mipmap chain within that limit comes near a file of this size.
inline constexpr qint64 MaxFileSize = qint64(512) << 20;

struct PaaTag {
    // As the file spells it, reversed: "CGVA", "SFFO", …
    QByteArray name;
    QByteArray data;
};

struct PaaFacts {
    PixelType type = PixelType::Dxt1;
    int width = 0;
    int height = 0;
    int mipmapCount = 0;
    // Some pixel of the largest mipmap is not fully opaque.
    bool alpha = false;
    QList<PaaTag> tags;
    qint64 fileSize = 0;
};

struct PaaPicture {
    // The largest mipmap, QImage::Format_ARGB32; null when the file could not be read.
    QImage image;
    PaaFacts facts;
    // What is wrong with the file, in words for a user; empty when it was read.
    QString error;

    bool ok() const { return error.isEmpty(); }
};

// Reads a whole PAA file. Every mipmap is checked, only the largest is decoded to `image`.
// Malformed input of any kind gives `error`, never a crash or a huge allocation.
PaaPicture readPaa(QByteArrayView file);

// Reads the PAA file at `path`; `error` also says when it cannot be opened or is far too big.
PaaPicture readPaaFile(const QString &path);

// The file starts like a PAA texture: a known pixel type.
bool looksLikePaa(QByteArrayView file);

// Some pixel of an image in QImage::Format_ARGB32 is not fully opaque.
bool hasTransparency(const QImage &image);

} // namespace picture
