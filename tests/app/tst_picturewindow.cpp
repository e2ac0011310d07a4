// Tools > Squad picture: the picture beside the squad file, made from an image, exported.
#include "editorhelpers.h"

#include "picture/makepaa.h"
#include "picture/paa.h"
#include "ui/commondialog.h"
#include "ui/messagebox.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

using namespace editortest;
using ui::CommonDialog;
using ui::MessageBox;

namespace {

// A wide logo with transparent corners, as a PNG beside nothing yet.
QString writeLogo(const QString &path) {
    QImage image(300, 160, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(200, 60, 30));
    painter.setPen(QPen(QColor(30, 30, 30), 6));
    painter.drawRoundedRect(QRect(10, 10, 280, 140), 40, 40);
    painter.setFont(QFont(QStringLiteral("Sans"), 48, QFont::Bold));
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, 300, 160), Qt::AlignCenter, QStringLiteral("=NO="));
    painter.end();
    if (!image.save(path))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray paaOfSide(int side) {
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(QColor(20, 90, 160));
    return picture::makePaa(image, side);
}

} // namespace

class TestPictureWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_logo;

    app::PictureWindow *open(app::MainWindow &window) {
        action(window, "mnuToolsPicture")->trigger();
        app::PictureWindow *pictures = window.pictureWindow();
        if (!pictures || !pictures->isVisible())
            qFatal("no picture window");
        return pictures;
    }
    QPushButton *pictureButton(app::PictureWindow *w, const char *name) {
        return w->findChild<QPushButton *>(QString::fromLatin1(name));
    }
    // The squad saved as squad.xml in a new folder of the test's.
    QString savedSquad(app::MainWindow &window, const QString &folder) {
        QDir(m_dir.path()).mkpath(folder);
        const QString file = m_dir.filePath(folder + "/squad.xml");
        CommonDialog::setNextPath(file);
        button(window, "Command2")->click();
        if (window.filePath() != file)
            qFatal("not saved");
        return file;
    }

private Q_SLOTS:
    void initTestCase() { m_logo = writeLogo(m_dir.filePath("logo.png")); }
    void cleanup() {
        QVERIFY(!CommonDialog::hasPendingPaths());
        QVERIFY(!MessageBox::hasPendingAnswers());
        MessageBox::takeShown();
    }

    // The whole way of a squad leader with only a PNG: a preview first, the squad saved on the
    // way, the picture beside it and named in "Picture".
    void makeFromImageInAnUnsavedSquad() {
        Shown shown;
        app::PictureWindow *pictures = open(shown.window);
        CommonDialog::setNextPath(m_logo);
        pictureButton(pictures, "makeFromImage")->click();
        QVERIFY(pictures->previewing());
        QCOMPARE(pictures->shownImage().size(), QSize(256, 256));
        pictures->findChild<QComboBox *>("side")->setCurrentIndex(2);
        QCOMPARE(pictures->shownImage().size(), QSize(512, 512));
        QVERIFY(pictures->factsText().startsWith("DXT5, 512 × 512 pixels, 8 mipmaps"));

        QDir(m_dir.path()).mkpath("new");
        const QString squadFile = m_dir.filePath("new/squad.xml");
        CommonDialog::setNextPath(squadFile);
        pictureButton(pictures, "writePicture")->click();
        QCOMPARE(shown.window.filePath(), squadFile);
        const picture::PaaPicture written = picture::readPaaFile(m_dir.filePath("new/logo.paa"));
        QVERIFY2(written.ok(), qPrintable(written.error));
        QCOMPARE(written.facts.width, 512);
        QCOMPARE(box(shown.window, "squadpicture")->text(), "logo.paa");
        QVERIFY(shown.window.document().modified());
        QVERIFY(!pictures->previewing());
        QTRY_COMPARE(pictures->shownImage(), written.image);
        QVERIFY(pictures->findingsView()->showsEmptyText());
    }

    void replacingAsksFirst_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("yes") << int(MessageBox::Yes) << true;
        QTest::newRow("no") << int(MessageBox::No) << false;
    }
    void replacingAsksFirst() {
        QFETCH(int, answer);
        QFETCH(bool, replaced);
        Shown shown;
        const QString folder = QStringLiteral("replace-%1").arg(answer);
        const QString squadFile = savedSquad(shown.window, folder);
        const QString target = QFileInfo(squadFile).dir().filePath("logo.paa");
        writeFile(target, "old");
        app::PictureWindow *pictures = open(shown.window);
        QVERIFY(pictures->previewImage(m_logo));
        MessageBox::setNextAnswer(MessageBox::Answer(answer));
        pictureButton(pictures, "writePicture")->click();
        const QList<MessageBox::Shown> asked = MessageBox::takeShown();
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.first().text.contains("Replace it?"));
        QCOMPARE(readFile(target) != "old", replaced);
        QCOMPARE(box(shown.window, "squadpicture")->text(), replaced ? "logo.paa" : "");
        QCOMPARE(pictures->previewing(), !replaced);
    }

    void failuresChangeNothing_data() {
        QTest::addColumn<QString>("failure");
        QTest::newRow("image unreadable") << "image";
        QTest::newRow("save of the squad cancelled") << "save";
        QTest::newRow("picture cannot be written") << "write";
    }
    void failuresChangeNothing() {
        QFETCH(QString, failure);
        Shown shown;
        QString folder;
        if (failure != "save")
            folder = QFileInfo(savedSquad(shown.window, "fail-" + failure)).absolutePath();
        app::PictureWindow *pictures = open(shown.window);
        if (failure == "image") {
            const QString notAnImage = m_dir.filePath("not an image.png");
            writeFile(notAnImage, "text");
            MessageBox::setNextAnswer(MessageBox::Ok);
            QVERIFY(!pictures->previewImage(notAnImage));
            QVERIFY(MessageBox::takeShown().first().text.contains("cannot be read as an image"));
            QVERIFY(!pictures->previewing());
        } else {
            QVERIFY(pictures->previewImage(m_logo));
            if (failure == "save") {
                CommonDialog::setNextPath(QString());
            } else {
                // A folder where the picture would go cannot be replaced by it.
                QDir(folder).mkdir("logo.paa");
                MessageBox::setNextAnswer(MessageBox::Yes);
                MessageBox::setNextAnswer(MessageBox::Ok);
            }
            pictureButton(pictures, "writePicture")->click();
            QVERIFY(pictures->previewing());
            if (failure == "write")
                QVERIFY(MessageBox::takeShown().last().text.contains("cannot be written"));
        }
        QCOMPARE(box(shown.window, "squadpicture")->text(), "");
        if (!folder.isEmpty()) {
            QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"squad.xml"});
        }
    }

    // The window follows "Picture" as typed and the file as other programs change it.
    void followsTheNameAndTheFile() {
        Shown shown;
        const QString folder = QFileInfo(savedSquad(shown.window, "follow")).absolutePath();
        writeFile(folder + "/a.paa", paaOfSide(64));
        app::PictureWindow *pictures = open(shown.window);
        QVERIFY(pictures->shownImage().isNull());
        QVERIFY(!pictureButton(pictures, "exportPng")->isEnabled());
        typeOver(box(shown.window, "squadpicture"), "a.paa");
        QTRY_COMPARE(pictures->shownImage().size(), QSize(64, 64));
        QVERIFY(pictureButton(pictures, "exportPng")->isEnabled());

        writeFile(folder + "/a.paa", paaOfSide(128));
        QTRY_COMPARE(pictures->shownImage().size(), QSize(128, 128));
        writeFile(folder + "/a.paa", "broken");
        QTRY_VERIFY(pictures->shownImage().isNull());
        QVERIFY(!pictures->findingsView()->showsEmptyText());
        QFile::remove(folder + "/a.paa");
        QTRY_VERIFY(pictures->factsText().isEmpty());
        QVERIFY(!pictureButton(pictures, "exportPng")->isEnabled());
    }

    void exportAsPng() {
        Shown shown;
        const QString folder = QFileInfo(savedSquad(shown.window, "export")).absolutePath();
        writeFile(folder + "/b.paa", paaOfSide(32));
        typeOver(box(shown.window, "squadpicture"), "b.paa");
        app::PictureWindow *pictures = open(shown.window);
        QCOMPARE(pictures->shownImage().size(), QSize(32, 32));
        CommonDialog::setNextPath(folder + "/b.png");
        pictureButton(pictures, "exportPng")->click();
        QCOMPARE(CommonDialog::takeUses().last().fileName, folder + "/b.png");
        QCOMPARE(QImage(folder + "/b.png").convertToFormat(QImage::Format_ARGB32),
                 pictures->shownImage());
    }

    void screenshot() {
        Shown shown;
        savedSquad(shown.window, "look");
        typeOver(box(shown.window, "squadnick"), "NO");
        app::PictureWindow *pictures = open(shown.window);
        QVERIFY(pictures->previewImage(m_logo));
        pictureButton(pictures, "writePicture")->click();
        QVERIFY(QTest::qWaitForWindowExposed(pictures));
        QTest::qWait(100);
        const QImage look = pictures->grab().toImage();
        QVERIFY(!look.isNull());
        const QString target = qEnvironmentVariable("TROOPBOOK_PICTURE_SCREENSHOT");
        if (target.isEmpty())
            QSKIP("set TROOPBOOK_PICTURE_SCREENSHOT to a file name to keep the picture");
        QVERIFY(look.save(target));
    }
};

QTEST_MAIN(TestPictureWindow)
#include "tst_picturewindow.moc"
