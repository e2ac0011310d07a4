#pragma once

#include <QString>

namespace app {

// --make-picture: makes the PAA file `out` from the image file `image`, `sideText` pixels on a
// side (256 when empty). Prints a line about the file made; 1 with a one-line message on stderr
// when it fails.
int makePictureCommand(const QString &image, const QString &out, const QString &sideText);

// --export-picture: writes the largest mipmap of the PAA file `paa` as the PNG file `out`.
int exportPictureCommand(const QString &paa, const QString &out);

} // namespace app
