// --make-picture, --export-picture and the picture in --check, run as a separate process.
#include "picture/paa.h"
#include "squad/squadwriter.h"

#include "../common/troopbookrun.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using testrun::Run;
using testrun::troopbook;

class TestPictureCommandLine : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase() {
        QImage logo(120, 80, QImage::Format_RGB32);
        logo.fill(QColor(200, 40, 40));
        QVERIFY(logo.save(path("logo.png")));
        QFile text(path("notes.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a picture");
    }

    void makeAndExport_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("made");
        QTest::newRow("made, 256 by default") << QStringList{"--make-picture", "logo.png", "a.paa"}
                                              << 0 << "a.paa: 256 × 256 DXT5, 7 mipmaps"
                                              << "a.paa";
        QTest::newRow("made, 64") << QStringList{"--make-picture", "logo.png", "b.paa",
                                                 "--picture-size", "64"}
                                  << 0 << "b.paa: 64 × 64 DXT5, 5 mipmaps"
                                  << "b.paa";
        QTest::newRow("size no power of two")
            << QStringList{"--make-picture", "logo.png", "c.paa", "--picture-size", "300"} << 1
            << "troopbook: --picture-size takes a power of two from 16 to 2048, not \"300\""
            << "";
        QTest::newRow("size not a number")
            << QStringList{"--make-picture", "logo.png", "c.paa", "--picture-size", "big"} << 1
            << "not \"big\""
            << "";
        QTest::newRow("size alone")
            << QStringList{"--picture-size", "64"} << 1 << "--picture-size goes with --make-picture"
            << "";
        QTest::newRow("no such image") << QStringList{"--make-picture", "none.png", "c.paa"} << 1
                                       << "none.png cannot be read as an image"
                                       << "";
        QTest::newRow("control character in a name, escaped")
            << QStringList{"--make-picture", "bell\a.png", "c.paa"} << 1
            << "bell\\x07.png cannot be read as an image"
            << "";
        QTest::newRow("not an image") << QStringList{"--make-picture", "notes.txt", "c.paa"} << 1
                                      << "notes.txt cannot be read as an image"
                                      << "";
        QTest::newRow("no output")
            << QStringList{"--make-picture", "logo.png"} << 1 << "take one output file"
            << "";
        QTest::newRow("folder missing")
            << QStringList{"--make-picture", "logo.png", "nowhere/c.paa"} << 1
            << "nowhere/c.paa cannot be written"
            << "";
        QTest::newRow("exported") << QStringList{"--export-picture", "a.paa", "a.png"} << 0 << ""
                                  << "a.png";
        QTest::newRow("export of no PAA")
            << QStringList{"--export-picture", "logo.png", "d.png"} << 1
            << "logo.png: The file is no PAA texture: it starts with the bytes 89 50"
            << "";
        QTest::newRow("export of nothing") << QStringList{"--export-picture", "none.paa", "d.png"}
                                           << 1 << "none.paa cannot be opened"
                                           << "";
    }
    void makeAndExport() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, made);
        for (QString &argument : arguments) {
            if (argument.contains('.'))
                argument = path(argument);
        }
        const Run run = troopbook(arguments);
        QCOMPARE(run.exitCode, exitCode);
        const QByteArray &said = exitCode == 0 ? run.out : run.err;
        QVERIFY2(said.contains(output.toUtf8()), said.constData());
        QCOMPARE(said.count('\n'), output.isEmpty() ? 0 : 1);
        QVERIFY(!QFile::exists(path("c.paa")) && !QFile::exists(path("d.png")));
        if (made.endsWith(".paa")) {
            QVERIFY(picture::readPaaFile(path(made)).ok());
        } else if (!made.isEmpty()) {
            const picture::PaaPicture source = picture::readPaaFile(path("a.paa"));
            QCOMPARE(QImage(path(made)).convertToFormat(QImage::Format_ARGB32), source.image);
        }
    }

    void checkLooksIntoThePicture() {
        squad::SquadData squad;
        squad.properties[int(squad::Property::Tag)] = "NO";
        squad.properties[int(squad::Property::Picture)] = "logo.paa";
        QFile::copy(path("logo.png"), path("logo.paa"));
        const QString file = path("squad.xml");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(squad::fileContents(squad));
        out.close();
        const Run run = troopbook({"--check", file});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.out.contains(": squad: problem: The picture \"logo.paa\" is a PNG image, no "
                                  "PAA texture"),
                 run.out.constData());
        QVERIFY(troopbook({"--help"}).out.contains("--make-picture <image>"));
    }
};

QTEST_GUILESS_MAIN(TestPictureCommandLine)
#include "tst_picturecommandline.moc"
