// Reading PAA files written byte by byte, malformed ones, and round trips through the writer.
#include "paabytes.h"

#include "picture/makepaa.h"
#include "picture/paa.h"

#include <QPainter>
#include <QTest>
#include <QtEndian>

#include <cmath>

using namespace picture;

namespace {

QByteArray lzssChecksum(const QByteArray &decoded) {
    quint32 sum = 0;
    for (const char c : decoded)
        sum += quint8(c);
    return PaaBytes().u32(sum).bytes();
}

// Peak signal-to-noise ratio over the premultiplied channels, so that the colour of fully
// transparent pixels does not count.
double psnr(const QImage &a, const QImage &b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    double squares = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            for (const int shift : {0, 8, 16, 24}) {
                const int d = int(p[col] >> shift & 255) - int(q[col] >> shift & 255);
                squares += d * d;
            }
        }
    }
    const double mean = squares / (4.0 * x.width() * x.height());
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

QImage gradient(int width, int height, bool transparentCorner) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool clear = transparentCorner && x < width / 3 && y < height / 3;
            image.setPixel(x, y, qRgba(255 * x / width, 255 * y / height, 128, clear ? 0 : 255));
        }
    }
    return image;
}

QImage stripes(int side) {
    QImage image(side, side, QImage::Format_RGB32);
    const QRgb colours[] = {qRgb(200, 30, 30), qRgb(20, 20, 20), qRgb(240, 240, 240)};
    for (int x = 0; x < side; ++x) {
        for (int y = 0; y < side; ++y)
            image.setPixel(x, y, colours[x * 3 / side]);
    }
    return image;
}

QImage solid(int side, QRgb colour) {
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QImage disc(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(20, 120, 40));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRect(0, 0, width, height).adjusted(4, 4, -4, -4));
    return image;
}

struct Mip {
    int width;
    int height;
    bool lzo;
    qsizetype offset;
};

// The mipmap heads of a file whose head is known to hold `head` bytes.
QList<Mip> mipmapHeads(const QByteArray &file, qsizetype head) {
    QList<Mip> found;
    qsizetype at = head;
    const auto u = [&](qsizetype pos, int size) {
        quint32 v = 0;
        for (int i = size - 1; i >= 0; --i)
            v = v << 8 | quint8(file[pos + i]);
        return v;
    };
    while (u(at, 2) != 0) {
        found << Mip{int(u(at, 2) & 0x7FFF), int(u(at + 2, 2)), (u(at, 2) & 0x8000) != 0, at};
        at += 7 + u(at + 4, 3);
    }
    return found;
}

} // namespace

class TestPaa : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dxt1BlockDecodesToItsColours() {
        const PaaPicture read = readPaa(oneBlockDxt1());
        QVERIFY2(read.ok(), qPrintable(read.error));
        const QList<int> greys{255, 0, 170, 85};
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x)
                QCOMPARE(read.image.pixel(x, y), qRgba(greys[x], greys[x], greys[x], 255));
        }
        QCOMPARE(read.facts.type, PixelType::Dxt1);
        QCOMPARE(read.facts.mipmapCount, 1);
        QVERIFY(!read.facts.alpha);
    }

    void dxt1BlockWithTransparentIndex() {
        // Colour 0 below colour 1: three colours, index 3 transparent black.
        // Black and red; row 0 uses the indices 0, 1, 0, 3, the other rows 3.
        const QByteArray block = QByteArray::fromHex("000000f8c4ffffff");
        const PaaPicture read = readPaa(PaaBytes().u16(0xFF01).u16(0).mipmap(4, 4, block).end());
        QVERIFY2(read.ok(), qPrintable(read.error));
        QCOMPARE(read.image.pixel(0, 0), qRgba(0, 0, 0, 255));
        QCOMPARE(read.image.pixel(1, 0), qRgba(255, 0, 0, 255));
        QCOMPARE(qAlpha(read.image.pixel(3, 0)), 0);
        QVERIFY(read.facts.alpha);
    }

    void dxt5BlockDecodesAlphaAndColour() {
        // Alpha 0 = 255, alpha 1 = 0; row 0 uses alpha indices 0, 1, 0, 1, the rest 0.
        const QByteArray alpha = QByteArray::fromHex("ff00") + QByteArray::fromHex("080200000000");
        const QByteArray colour = QByteArray::fromHex("1f00e007") + QByteArray::fromHex("00000000");
        const PaaPicture read =
            readPaa(PaaBytes().u16(0xFF05).u16(0).mipmap(4, 4, alpha + colour).end());
        QVERIFY2(read.ok(), qPrintable(read.error));
        QCOMPARE(read.image.pixel(0, 0), qRgba(0, 0, 255, 255));
        QCOMPARE(read.image.pixel(1, 0), qRgba(0, 0, 255, 0));
        QCOMPARE(read.image.pixel(3, 3), qRgba(0, 0, 255, 255));
        QVERIFY(read.facts.alpha);
    }

    void lzoMipmapUnknownTagsAndWrongOffsets() {
        // LZO1X: 8 literal bytes (17 + 8), then the end marker.
        const QByteArray lzo =
            QByteArray::fromHex("19") + greyDxt1Block() + QByteArray::fromHex("110000");
        const QByteArray file = PaaBytes()
                                    .u16(0xFF01)
                                    .tag("ZZZZ", "abc")
                                    .tag("SFFO", QByteArray(64, '\x7f'))
                                    .tag("CGVA", "\x01\x02\x03\x04")
                                    .u16(1)
                                    .raw("\x10\x20\x30")
                                    .mipmap(0x8000 | 4, 4, lzo)
                                    .end();
        const PaaPicture read = readPaa(file);
        QVERIFY2(read.ok(), qPrintable(read.error));
        QCOMPARE(read.image, readPaa(oneBlockDxt1()).image);
        QCOMPARE(read.facts.tags.size(), 3);
        QCOMPARE(read.facts.tags[0].name, "ZZZZ");
        QCOMPARE(read.facts.tags[0].data, "abc");
        QCOMPARE(read.facts.fileSize, file.size());
    }

    void plainPixelTypes_data() {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QRgb>("first");
        QTest::addColumn<QRgb>("second");
        // 2 × 1 pictures; ARGB8888 stored B, G, R, A.
        QTest::newRow("ARGB8888 raw") << 0x8888u << QByteArray::fromHex("10203040ff000080")
                                      << qRgba(0x30, 0x20, 0x10, 0x40) << qRgba(0, 0, 255, 0x80);
        QTest::newRow("ARGB4444 raw") << 0x4444u << QByteArray::fromHex("0ff0f00f")
                                      << qRgba(0, 0, 255, 255) << qRgba(255, 255, 0, 0);
        QTest::newRow("AI88 raw") << 0x8080u << QByteArray::fromHex("80ff1000")
                                  << qRgba(0x80, 0x80, 0x80, 255) << qRgba(0x10, 0x10, 0x10, 0);
        // Two literal bytes (opaque red), then 6 bytes from 2 back.
        const QByteArray lzss = QByteArray::fromHex("0300fc0203") +
                                lzssChecksum(QByteArray::fromHex("00fc").repeated(4));
        QTest::newRow("ARGB1555 LZSS, 4 wide")
            << 0x1555u << lzss << qRgba(255, 0, 0, 255) << qRgba(255, 0, 0, 255);
    }
    void plainPixelTypes() {
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        QFETCH(QRgb, first);
        QFETCH(QRgb, second);
        const quint32 width = type == 0x1555 ? 4 : 2;
        const PaaPicture read = readPaa(PaaBytes().u16(type).u16(0).mipmap(width, 1, data).end());
        QVERIFY2(read.ok(), qPrintable(read.error));
        QCOMPARE(read.image.size(), QSize(width, 1));
        QCOMPARE(read.image.pixel(0, 0), first);
        QCOMPARE(read.image.pixel(1, 0), second);
    }

    void lzssBeforeTheStartIsSpaces() {
        // One back reference into nothing: four spaces, as an AI88 2 × 1 picture.
        const QByteArray spaces(4, ' ');
        const QByteArray lzss = QByteArray::fromHex("00"
                                                    "0401") +
                                lzssChecksum(spaces);
        const PaaPicture read = readPaa(PaaBytes().u16(0x8080).u16(0).mipmap(2, 1, lzss).end());
        QVERIFY2(read.ok(), qPrintable(read.error));
        QCOMPARE(read.image.pixel(0, 0), qRgba(0x20, 0x20, 0x20, 0x20));
    }

    void malformedFilesSayWhatIsWrong_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");
        const QByteArray good = oneBlockDxt1();
        QTest::newRow("empty") << QByteArray() << "too short";
        QTest::newRow("unknown type") << QByteArray::fromHex("89504e47") << "bytes 89 50";
        QTest::newRow("cut in a tag name")
            << PaaBytes().u16(0xFF01).raw("GGATCG").bytes() << "tag's name";
        QTest::newRow("tag past the end")
            << PaaBytes().u16(0xFF01).raw("GGATCGVA").u32(100).raw("ab").bytes()
            << "tag CGVA says it holds 100 bytes";
        QTest::newRow("cut in the palette")
            << PaaBytes().u16(0xFF01).u16(2).raw("abc").bytes() << "palette";
        QTest::newRow("no mipmap") << PaaBytes().u16(0xFF01).u16(0).end() << "no mipmap";
        QTest::newRow("cut before the first mipmap") << good.first(5) << "before its first";
        QTest::newRow("cut in a mipmap head") << good.first(9) << "head of mipmap 1";
        QTest::newRow("mipmap past the end") << good.first(15) << "says it holds 8 bytes";
        QTest::newRow("no end of the chain") << good.first(good.size() - 6) << "after mipmap 1";
        QTest::newRow("width 0") << PaaBytes().u16(0xFF01).u16(0).mipmap(0, 4, "").end()
                                 << "side of 0";
        QTest::newRow("over 8192")
            << PaaBytes().u16(0xFF01).u16(0).mipmap(8200, 4, "").end() << "larger than 8,192";
        QTest::newRow("more than 256 MiB")
            << PaaBytes().u16(0x8888).u16(0).mipmap(8192, 8192, "x").mipmap(8192, 8192, "x").end()
            << "more than 256 MiB";
        QTest::newRow("DXT data too short")
            << PaaBytes().u16(0xFF01).u16(0).mipmap(8, 8, QByteArray(8, 0)).end()
            << "holds 8 bytes where DXT1 pixels need 32";
        QTest::newRow("LZO that decodes short")
            << PaaBytes()
                   .u16(0xFF01)
                   .u16(0)
                   .mipmap(0x8000 | 8, 8,
                           QByteArray::fromHex("19") + QByteArray(8, 0) +
                               QByteArray::fromHex("110000"))
                   .end()
            << "LZO data does not decode to the 32 bytes";
        QTest::newRow("LZO garbage")
            << PaaBytes().u16(0xFF01).u16(0).mipmap(0x8000 | 4, 4, "\xff\xff").end() << "LZO";
        QTest::newRow("LZSS checksum wrong")
            << PaaBytes()
                   .u16(0x8080)
                   .u16(0)
                   .mipmap(2, 1, QByteArray::fromHex("0f41424344") + PaaBytes().u32(1).bytes())
                   .end()
            << "checksum does not match";
        QTest::newRow("LZSS cut short")
            << PaaBytes().u16(0x8080).u16(0).mipmap(2, 1, QByteArray::fromHex("0f41")).end()
            << "ends before the 4 bytes";
        QTest::newRow("LZSS run past the size")
            << PaaBytes().u16(0x8080).u16(0).mipmap(2, 1, QByteArray::fromHex("01410f0100")).end()
            << "more than the 4 bytes";
        QTest::newRow("LZSS far too short for its size")
            << PaaBytes().u16(0x8888).u16(0).mipmap(512, 512, "\x01").end() << "far too short";
        QTest::newRow("second mipmap broken") << PaaBytes()
                                                     .u16(0xFF01)
                                                     .u16(0)
                                                     .mipmap(4, 4, greyDxt1Block())
                                                     .mipmap(0x8000 | 4, 4, QByteArray(1, '\0'))
                                                     .end()
                                              << "Mipmap 2 (4 × 4) cannot be read";
    }
    void malformedFilesSayWhatIsWrong() {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        const PaaPicture read = readPaa(file);
        QVERIFY(!read.ok());
        QVERIFY2(read.error.contains(message), qPrintable(read.error));
        QVERIFY(read.image.isNull());
    }

    void roundTrip_data() {
        QTest::addColumn<QImage>("source");
        QTest::addColumn<int>("side");
        QTest::addColumn<bool>("alpha");
        QTest::addColumn<int>("mipmaps");
        QTest::newRow("opaque gradient") << gradient(200, 200, false) << 256 << false << 7;
        QTest::newRow("one colour") << solid(60, qRgb(200, 30, 30)) << 16 << false << 3;
        QTest::newRow("three colours") << stripes(90) << 128 << false << 6;
        QTest::newRow("transparent corner") << gradient(64, 64, true) << 512 << true << 8;
        QTest::newRow("wide disc, padded") << disc(300, 120) << 256 << true << 7;
        QTest::newRow("tall photo-like, padded") << gradient(50, 300, false) << 128 << true << 6;
    }
    void roundTrip() {
        QFETCH(QImage, source);
        QFETCH(int, side);
        QFETCH(bool, alpha);
        QFETCH(int, mipmaps);
        const QImage square = fitToSquare(source, side);
        const QByteArray file = encodePaa(square);
        const PaaPicture read = readPaa(file);
        QVERIFY2(read.ok(), qPrintable(read.error));
        QCOMPARE(read.facts.type, alpha ? PixelType::Dxt5 : PixelType::Dxt1);
        QCOMPARE(read.image.size(), QSize(side, side));
        QCOMPARE(read.facts.mipmapCount, mipmaps);
        QCOMPARE(read.facts.alpha, alpha);
        const double quality = psnr(square, read.image);
        QVERIFY2(quality >= 35, qPrintable(QString::number(quality)));

        QStringList names;
        for (const PaaTag &tag : read.facts.tags)
            names << QString::fromLatin1(tag.name);
        QCOMPARE(names, alpha ? QStringList({"CGVA", "CXAM", "GALF", "SFFO"})
                              : QStringList({"CGVA", "CXAM", "SFFO"}));
        QCOMPARE(read.facts.tags[1].data, QByteArray(4, '\xff'));
        QVERIFY(file.endsWith(QByteArray(6, '\0')));

        // The offsets name each mipmap head in turn; LZO only on the wide ones.
        const QByteArray offsets = read.facts.tags.last().data;
        QCOMPARE(offsets.size(), 64);
        const qsizetype head = file.indexOf("SFFO") + 4 + 4 + 64 + 2;
        const QList<Mip> heads = mipmapHeads(file, head);
        QCOMPARE(heads.size(), mipmaps);
        for (int i = 0; i < 16; ++i) {
            const auto offset = qFromLittleEndian<quint32>(offsets.constData() + 4 * i);
            QCOMPARE(offset, i < mipmaps ? quint32(heads[i].offset) : 0u);
            if (i < mipmaps) {
                QCOMPARE(heads[i].width, side >> i);
                QVERIFY(!heads[i].lzo || heads[i].width > 128);
            }
        }
    }

    void averageColourTag() {
        const QByteArray file = encodePaa(fitToSquare(solid(30, qRgb(200, 30, 30)), 16));
        const PaaPicture read = readPaa(file);
        // All pixels red 200, 30, 30: B, G, R, A.
        QCOMPARE(read.facts.tags[0].data, QByteArray::fromHex("1e1ec8ff"));
    }
};

QTEST_GUILESS_MAIN(TestPaa)
#include "tst_paa.moc"
