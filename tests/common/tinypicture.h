// A squad picture the game shows and the squad check finds nothing about, for tests whose
// squad needs one beside it.
#pragma once

#include <QByteArray>

namespace testpicture {

// A 4 × 4 DXT1 PAA texture: pixel type, no tags, no palette, one mipmap, the end.
inline QByteArray tinyPaa() {
    return QByteArray::fromHex("01ff0000"
                               "04000400080000"
                               "ffff0000e4e4e4e4"
                               "000000000000");
}

} // namespace testpicture
