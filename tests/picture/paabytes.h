// PAA files written byte by byte, as the format describes them, so that the reader is tested on
// more than its own writer's output.
#pragma once

#include <QByteArray>

class PaaBytes {
public:
    PaaBytes &u16(quint32 v) { return number(v, 2); }
    PaaBytes &u24(quint32 v) { return number(v, 3); }
    PaaBytes &u32(quint32 v) { return number(v, 4); }
    PaaBytes &raw(const QByteArray &bytes) {
        m_bytes += bytes;
        return *this;
    }
    PaaBytes &tag(const char *name, const QByteArray &data) {
        return raw("GGAT").raw(name).u32(quint32(data.size())).raw(data);
    }
    PaaBytes &mipmap(quint32 width, quint32 height, const QByteArray &data) {
        return u16(width).u16(height).u24(quint32(data.size())).raw(data);
    }
    // The file, ended as this program's writer ends it.
    QByteArray end() const { return QByteArray(m_bytes).append(6, '\0'); }
    QByteArray bytes() const { return m_bytes; }

private:
    PaaBytes &number(quint32 v, int size) {
        for (int i = 0; i < size; ++i)
            m_bytes += char(v >> (8 * i));
        return *this;
    }
    QByteArray m_bytes;
};

// A 4 × 4 DXT1 block: colour 0 white, colour 1 black (so 2 and 3 are 170 and 85 grey), each row
// using the indices 0, 1, 2, 3 from left to right.
inline QByteArray greyDxt1Block() {
    return QByteArray::fromHex("ffff0000e4e4e4e4");
}

// A DXT1 picture of one block with no tags and no palette.
inline QByteArray oneBlockDxt1() {
    return PaaBytes().u16(0xFF01).u16(0).mipmap(4, 4, greyDxt1Block()).end();
}
