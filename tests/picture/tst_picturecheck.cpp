// The picture rules of the squad check, on picture content and on the file beside a squad.
#include "paabytes.h"

#include "picture/makepaa.h"
#include "picture/picturecheck.h"
#include "squad/squadcheck.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using squad::Finding;

namespace {

// A DXT1 file of the given sides, its blocks all zero.
QByteArray dxt1(int width, int height) {
    const int blocks = std::max(1, (width + 3) / 4) * std::max(1, (height + 3) / 4);
    return PaaBytes().u16(0xFF01).u16(0).mipmap(width, height, QByteArray(blocks * 8, 0)).end();
}

QByteArray png() {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// "P: fragment" or "H: fragment" for each finding, in order.
QStringList summary(const QList<Finding> &findings, const QStringList &fragments) {
    QStringList lines;
    for (qsizetype i = 0; i < findings.size(); ++i) {
        const QString fragment = i < fragments.size() ? fragments[i].mid(3) : QString();
        const QString kind = findings[i].kind == Finding::Kind::Problem ? "P: " : "H: ";
        lines << kind + (findings[i].message.contains(fragment) ? fragment : findings[i].message);
        if (findings[i].property != squad::Property::Picture || findings[i].member != -1)
            lines.last() += " (not about the picture)";
    }
    return lines;
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

class TestPictureCheck : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pictureRules_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("a good one") << dxt1(256, 256) << QStringList();
        QTest::newRow("made here")
            << picture::makePaa(QImage(10, 20, QImage::Format_RGB32), 64) << QStringList();
        QTest::newRow("PNG under a PAA name")
            << png() << QStringList{"P: is a PNG image, no PAA texture"};
        QTest::newRow("empty") << QByteArray() << QStringList{"P: is empty"};
        QTest::newRow("text") << QByteArray("hello") << QStringList{"P: is no PAA texture"};
        QTest::newRow("cut short") << dxt1(16, 16).first(20)
                                   << QStringList{"P: cannot be read, so the game shows no logo: "
                                                  "Mipmap 1 (16 × 16) says it holds"};
        QTest::newRow("sides not powers of two")
            << dxt1(48, 48) << QStringList{"P: is 48 × 48 pixels; the game shows"};
        QTest::newRow("large") << dxt1(1024, 1024) << QStringList{"H: larger than the 512 × 512"};
        QTest::newRow("not square") << dxt1(64, 32) << QStringList{"H: not square"};
        QTest::newRow("plain pixels, odd sides, not square")
            << PaaBytes().u16(0x8888).u16(0).mipmap(3, 2, QByteArray(24, '\xff')).end()
            << QStringList{"P: is 3 × 2 pixels", "H: not square", "H: stored as ARGB8888"};
        QTest::newRow("DXT3") << PaaBytes().u16(0xFF03).u16(0).mipmap(4, 4, QByteArray(16, 0)).end()
                              << QStringList{"H: stored as DXT3"};
    }
    void pictureRules() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        const QList<Finding> findings = picture::paaInspector().inspect("logo.paa", file);
        QCOMPARE(summary(findings, expected), expected);
    }

    // The squad check, --check and the check window look at the file beside the squad file, and
    // again only when it changed.
    void squadCheckFollowsThePictureFile() {
        QTemporaryDir dir;
        const QString squadFile = dir.filePath("squad.xml");
        writeFile(squadFile, "");
        writeFile(dir.filePath("squad.dtd"), "");
        writeFile(dir.filePath("squad.xsl"), "");
        writeFile(dir.filePath("logo.paa"), dxt1(48, 48));
        squad::SquadData data;
        data.properties[0] = "TAG";
        data.properties[int(squad::Property::Picture)] = "./logo.paa";

        const auto pictureFindings = [](const QList<Finding> &all) {
            QStringList found;
            for (const Finding &f : all) {
                if (f.property == squad::Property::Picture)
                    found << f.message;
            }
            return found;
        };
        QCOMPARE(pictureFindings(squad::checkSquad(data, {squadFile, false})), QStringList());
        const QStringList once =
            pictureFindings(squad::checkSquad(data, {squadFile, false, &picture::paaInspector()}));
        QCOMPARE(once.size(), 1);
        QVERIFY(once.first().contains("48 × 48"));

        squad::SquadDocument document;
        document.load(data);
        squad::SquadChecker checker(document);
        checker.setPictureInspector(&picture::paaInspector());
        checker.setFilePath(squadFile);
        QCOMPARE(pictureFindings(checker.findings()), once);

        writeFile(dir.filePath("logo.paa"), dxt1(1024, 1024));
        checker.recheckFiles();
        const QStringList later = pictureFindings(checker.findings());
        QCOMPARE(later.size(), 1);
        QVERIFY(later.first().contains("1024 × 1024"));

        QFile::remove(dir.filePath("logo.paa"));
        checker.recheckFiles();
        const QStringList gone = pictureFindings(checker.findings());
        QCOMPARE(gone.size(), 1);
        QVERIFY(gone.first().contains("is not beside the squad file"));
    }
};

QTEST_GUILESS_MAIN(TestPictureCheck)
#include "tst_picturecheck.moc"
