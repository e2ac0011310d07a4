#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace picture {

// The sides a picture can be made in; the game shows only powers of two.
inline constexpr int MinMadeSide = 16;
inline constexpr int MaxMadeSide = 2048;
inline constexpr int DefaultMadeSide = 256;
bool isMadeSide(int side);

// `source` scaled smoothly to fit a side × side square, its aspect kept, centred on transparent
// padding; Format_ARGB32.
QImage fitToSquare(const QImage &source, int side);

// The PAA file of a square whose side is a power of two from 4 up: DXT1 when every pixel is
// opaque, else DXT5; mipmaps down to 4 × 4; LZO where it saves room.
QByteArray encodePaa(const QImage &square);

// The PAA file of `source` fitted to a side × side square.
inline QByteArray makePaa(const QImage &source, int side) {
    return encodePaa(fitToSquare(source, side));
}

// `image` as a PNG file, written as writeWhole() does.
bool writePng(const QImage &image, const QString &path, QString *error);

// An image file as Qt reads it; null with the reason in `error` when it cannot be read.
QImage readImage(const QString &path, QString *error);

// Writes `bytes` to `path` in one step: on failure the file is left as it was. The reason goes
// to `error`.
bool writeWhole(const QString &path, const QByteArray &bytes, QString *error);

// The file filter of an open dialog for every image format Qt reads.
QString imageFilter();

} // namespace picture
