// New, Open, Save, Upload and Exit through the menu, the buttons and the shortcuts, with the file
// dialog and the message boxes answered through their wrappers.
#include "editorhelpers.h"

#include "app/filejob.h"

#include "squad/squadreader.h"
#include "squad/squadwriter.h"
#include "ui/commondialog.h"
#include "ui/messagebox.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>

#include <csignal>
#include <netinet/in.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace editortest;
using squad::Member;
using squad::SquadData;
using ui::CommonDialog;
using ui::MessageBox;

namespace {

// Values that a careless writer or reader would get wrong.
SquadData hardSquad() {
    SquadData d;
    d.properties = {" =N&O= ",          "A&B <1> \"quoted\" 'single'",
                    "owls@example.org", "ü中文😀",
                    "owls.paa",         "tag\twith tab"};
    d.mmbdata.append(
        Member{"7 nick=\"x\"", "Ann\"", "<name>x</name>", "", "]]> &amp;", " trailing "});
    d.mmbdata.append(Member{"", "", "", "", "", ""});
    d.mmbdata.append(Member{"3", "Zoë", "Zoë Q", "zoe@example.org", "123", "line\nbreak"});
    return d;
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// An edited document: loaded, then one keystroke, so that `modified` is set by a user's change.
void editedDocument(app::MainWindow &w, const SquadData &data) {
    w.document().load(data);
    w.setListIndex(0);
    QTest::keyClick(box(w, "squadname"), Qt::Key_End);
    QTest::keyClicks(box(w, "squadname"), "!");
    if (!w.document().modified())
        qFatal("typing did not mark the document");
}

const QString question = QStringLiteral("File was modified !\r\nSave it now?");

} // namespace

class TestFileCommands : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QStringList m_unexpectedModals;
    QTimer m_modalWatch;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // A dialog that a test did not answer would wait for ever; close it and fail instead.
        m_modalWatch.setInterval(200);
        connect(&m_modalWatch, &QTimer::timeout, this, [this] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                m_unexpectedModals
                    << modal->metaObject()->className() + (": " + modal->windowTitle());
                modal->close();
            }
        });
        m_modalWatch.start();
    }

    void init() {
        CommonDialog::takeUses();
        MessageBox::takeShown();
    }

    void cleanup() {
        const QStringList unexpected = std::exchange(m_unexpectedModals, {});
        bool pending = false;
        while (MessageBox::hasPendingAnswers()) {
            pending = true;
            MessageBox::show(nullptr, QString(), 0);
        }
        while (CommonDialog::hasPendingPaths()) {
            pending = true;
            CommonDialog(nullptr).showOpen(nullptr);
        }
        QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(", ")));
        QVERIFY2(!pending, "answers or paths were left unused");
    }

    void saveAndReopenGiveTheSameSquad() {
        Shown s;
        app::MainWindow &w = s.window;
        const SquadData squad = hardSquad();
        editedDocument(w, squad);
        const SquadData edited = w.document().content();
        const QString file = path("roundtrip.xml");

        CommonDialog::setNextPath(file);
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(readAll(file), squad::fileContents(edited));
        QVERIFY(readAll(file).endsWith("</squad>\r\n"));
        QVERIFY(!w.document().modified());

        QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(w.document().memberCount(), 0);
        QCOMPARE(box(w, "squadname")->text(), QString());
        QVERIFY(MessageBox::takeShown().isEmpty()); // saved, so New asks nothing

        CommonDialog::setNextPath(file);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(w.document().content(), edited);
        QCOMPARE(listEntries(w), (QStringList{"Ann\"", "", "Zoë"}));
        QCOMPARE(w.listIndex(), 0);
        QCOMPARE(shownMember(w), edited.mmbdata.column(0));
        QCOMPARE(box(w, "squadnick")->text(), QString(" =N&O= "));
        QVERIFY(!memberBoxesLocked(w));
        QVERIFY(!w.document().modified());
        QVERIFY(!w.document().loading());
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void buttonsRunTheCommands() {
        Shown s;
        app::MainWindow &w = s.window;
        editedDocument(w, hardSquad());
        const QString file = path("buttons.xml");
        CommonDialog::setNextPath(file);
        QTest::mouseClick(button(w, "Command2"), Qt::LeftButton);
        QVERIFY(QFile::exists(file));
        QTest::mouseClick(button(w, "Command3"), Qt::LeftButton);
        QCOMPARE(w.document().memberCount(), 0);
        CommonDialog::setNextPath(file);
        QTest::mouseClick(button(w, "Command1"), Qt::LeftButton);
        QCOMPARE(w.document().memberCount(), 3);
        const auto uses = CommonDialog::takeUses();
        QCOMPARE(uses.size(), 2);
        QVERIFY(uses[0].save);
        QVERIFY(!uses[1].save);
    }

    void cancelledDialogsChangeNothing() {
        Shown s;
        app::MainWindow &w = s.window;
        editedDocument(w, hardSquad());
        const SquadData before = w.document().content();
        const QString file = path("never.xml");
        CommonDialog::setNextPath(QString());
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!QFile::exists(file));
        QVERIFY(w.document().modified());

        MessageBox::setNextAnswer(MessageBox::No); // the question before Open
        CommonDialog::setNextPath(QString());
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(w.document().content(), before);
        QVERIFY(w.document().modified());
        QCOMPARE(shownMember(w), before.mmbdata.column(0));
        QCOMPARE(CommonDialog::takeUses().size(), 2);
        QCOMPARE(MessageBox::takeShown().size(), 1); // the question, no message after a cancel
    }

    // Open offers "Squad.xml" where the dialog was used last; Save offers the file the squad was
    // last opened from or saved to, and "Squad.xml" only for a squad that has no file yet.
    void dialogCarriesItsSettingsFromUseToUse() {
        Shown s;
        app::MainWindow &w = s.window;
        QTemporaryDir other;
        const QString first = path("squad.xml");
        const QString second = other.filePath("second.xml");
        writeBytes(first, squad::fileContents(hardSquad()));

        CommonDialog::setNextPath(QString());
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        CommonDialog::setNextPath(first);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        CommonDialog::setNextPath(second);
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        CommonDialog::setNextPath(QString());
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        CommonDialog::setNextPath(QString());
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        // The upload window's picker leaves its choice in the shared dialog.
        w.cdb().setFlags(CommonDialog::FileMustExist);
        w.cdb().setFileName(path("picked.xml"));
        CommonDialog::setNextPath(QString());
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
        CommonDialog::setNextPath(QString());
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);

        const auto uses = CommonDialog::takeUses();
        QCOMPARE(uses.size(), 7);
        const auto expect = [&](int i, bool save, const QString &fileName, const QString &initDir) {
            QCOMPARE(uses[i].save, save);
            QCOMPARE(uses[i].fileName, fileName);
            QCOMPARE(uses[i].initDir, initDir);
            QCOMPARE(uses[i].flags, save ? 2 : 4096);
        };
        expect(0, true, "Squad.xml", QString());
        expect(1, false, "Squad.xml", QString());
        expect(2, true, "squad.xml", first);
        expect(3, false, "Squad.xml", second);
        expect(4, true, "second.xml", second);
        expect(5, false, "Squad.xml", path("picked.xml"));
        expect(6, true, "Squad.xml", second);
        QCOMPARE(w.cdb().filter(), CommonDialog::squadFilter);
    }

    void openFailuresNameTheFileAndLeaveTheDocument_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("headerWarning");
        QTest::newRow("missing file") << "missing.xml" << QByteArray() << "No such file" << false;
        QTest::newRow("folder") << "folder.xml" << QByteArray() << "directory" << false;
        QTest::newRow("no squad in it")
            << "text.xml" << QByteArray("just some notes\r\n") << "Line 1:" << true;
        QTest::newRow("attribute without its closing quote")
            << "quote.xml"
            << QByteArray("<?xml version=\"1.0\"?>\r\n<!DOCTYPE squad SYSTEM \"squad.dtd\">\r\n"
                          "<?xml-stylesheet href=\"squad.xsl?\" type=\"text/xsl\"?>\r\n"
                          "<squad nick=\"cut\r\n<name>N</name>")
            << "Line 4:" << false;
        QTest::newRow("unclosed comment")
            << "comment.xml"
            << squad::fileContents(hardSquad()).replace("<member id=\"\"", "<!-- <member id=\"\"")
            << "comment is not closed" << false;
    }
    void openFailuresNameTheFileAndLeaveTheDocument() {
        QFETCH(QString, name);
        QFETCH(QByteArray, contents);
        QFETCH(QString, reason);
        QFETCH(bool, headerWarning);
        const QString file = path(name);
        if (name == "folder.xml")
            QVERIFY(QDir().mkpath(file));
        else if (!contents.isEmpty())
            writeBytes(file, contents);

        Shown s;
        app::MainWindow &w = s.window;
        editedDocument(w, hardSquad());
        w.setListIndex(2);
        const SquadData before = w.document().content();
        MessageBox::setNextAnswer(MessageBox::No);
        if (headerWarning)
            MessageBox::setNextAnswer(MessageBox::Ok);
        MessageBox::setNextAnswer(MessageBox::Ok);
        CommonDialog::setNextPath(file);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);

        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), headerWarning ? 3 : 2);
        QCOMPARE(shown[0].text, question);
        if (headerWarning) {
            QCOMPARE(shown[1].text, QString("XML-Header is corrupt!"));
            QCOMPARE(shown[1].title, QString("Error in XML-Header"));
            QCOMPARE(shown[1].style, int(MessageBox::Exclamation));
        }
        const MessageBox::Shown &failure = shown.last();
        QVERIFY2(failure.text.contains(QDir::toNativeSeparators(file)), qPrintable(failure.text));
        QVERIFY2(failure.text.contains(reason), qPrintable(failure.text));
        QCOMPARE(failure.style, int(MessageBox::Critical));

        QCOMPARE(w.document().content(), before);
        QCOMPARE(listEntries(w), (QStringList{"Ann\"", "", "Zoë"}));
        QCOMPARE(w.listIndex(), 2);
        QCOMPARE(shownMember(w), before.mmbdata.column(2));
        QVERIFY(w.document().modified());
        QVERIFY(!w.document().loading());
    }

    void oddHeaderWarnsAndStillLoads() {
        QByteArray bytes = squad::fileContents(hardSquad());
        bytes.replace("<?xml version=\"1.0\"?>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
        const QString file = path("odd-header.xml");
        writeBytes(file, bytes);
        Shown s;
        app::MainWindow &w = s.window;
        MessageBox::setNextAnswer(MessageBox::Ok);
        CommonDialog::setNextPath(file);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QString("XML-Header is corrupt!"));
        QCOMPARE(w.document().content(), hardSquad());
        QVERIFY(!w.document().modified());
    }

    // A file whose text ends before the end of the squad opens with what it holds, and then
    // says so; one that ends in "</squad" without its ">" is whole.
    void cutShortFileOpensWithAWarning_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("atStart");
        QTest::addColumn<int>("members");
        QTest::addColumn<QString>("warning"); // empty: none
        const QByteArray whole = squad::fileContents(hardSquad());
        const qsizetype squadEnd = whole.lastIndexOf("</squad>");
        QTest::newRow("ends behind the last member")
            << whole.left(squadEnd) << false << 3 << "3 members were read.";
        QTest::newRow("ends behind the last member, opened at start")
            << whole.left(squadEnd) << true << 3 << "3 members were read.";
        QTest::newRow("ends behind the first member")
            << whole.left(whole.indexOf("<member", whole.indexOf("<member") + 1)) << false << 1
            << "1 member was read.";
        QTest::newRow("ends in </squad without >")
            << whole.left(squadEnd + 7) << false << 3 << QString();
        const qsizetype secondMember = whole.indexOf("<member", whole.indexOf("<member") + 1);
        QTest::newRow("ends inside a value")
            << whole.left(whole.indexOf("<remark>", secondMember) + 8) << false << 2
            << "2 members were read.";
    }
    void cutShortFileOpensWithAWarning() {
        QFETCH(QByteArray, contents);
        QFETCH(bool, atStart);
        QFETCH(int, members);
        QFETCH(QString, warning);
        const QString file = path("cut-short.xml");
        writeBytes(file, contents);
        Shown s;
        app::MainWindow &w = s.window;
        if (!warning.isEmpty())
            MessageBox::setNextAnswer(MessageBox::Ok);
        if (atStart) {
            QVERIFY(w.openAtStart(file));
        } else {
            CommonDialog::setNextPath(file);
            QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        }
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty()) {
            QVERIFY2(shown[0].text.contains(QDir::toNativeSeparators(file)),
                     qPrintable(shown[0].text));
            QVERIFY2(shown[0].text.contains("may be incomplete"), qPrintable(shown[0].text));
            QVERIFY2(shown[0].text.endsWith(warning), qPrintable(shown[0].text));
            QCOMPARE(shown[0].style, int(MessageBox::Exclamation));
        }
        SquadData expected = hardSquad();
        expected.mmbdata.reset();
        for (int i = 0; i < members; ++i)
            expected.mmbdata.append(hardSquad().mmbdata.column(i));
        QCOMPARE(w.document().content(), expected);
        QCOMPARE(w.listIndex(), members > 0 ? 0 : -1);
        QVERIFY(!w.document().modified());
        QVERIFY(!w.document().loading());
    }

    // Characters that cannot be read are shown as U+FFFD or left out, and Open says so, after the
    // cut-short warning when there is one.
    void unreadableCharactersOpenWithAWarning_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QStringList>("warnings"); // the end of each box, in order
        QTest::addColumn<QString>("name");         // the squad's name as it opens
        const QByteArray whole = squad::fileContents(hardSquad());
        const QByteArray name = "<name>A&amp;B &lt;1&gt; &quot;quoted&quot; 'single'</name>";
        QVERIFY(whole.contains(name));
        QTest::newRow("a control character")
            << QByteArray(whole).replace(name, "<name>A\x01"
                                               "B</name>")
            << QStringList{"1 character was replaced by \"\uFFFD\" or left out, the first on "
                           "line 7."}
            << "AB";
        QTest::newRow("windows-1252 behind a UTF-8 byte-order mark")
            << "\xEF\xBB\xBF" + QByteArray(whole).replace(name, "<name>M\xFCller \x80</name>")
            << QStringList{"2 characters were replaced by \"\uFFFD\" or left out, the first on "
                           "line 7."}
            << u"M\uFFFDller \uFFFD"_qs;
        const QByteArray damaged = QByteArray(whole).replace(name, "<name>&#1;&#xFFFE;</name>");
        QTest::newRow("cut short as well")
            << damaged.left(damaged.indexOf("<member"))
            << QStringList{"0 members were read.",
                           "2 characters were replaced by \"\uFFFD\" or left out, the first on "
                           "line 7."}
            << QString();
    }
    void unreadableCharactersOpenWithAWarning() {
        QFETCH(QByteArray, contents);
        QFETCH(QStringList, warnings);
        QFETCH(QString, name);
        const QString file = path("unreadable.xml");
        writeBytes(file, contents);
        Shown s;
        app::MainWindow &w = s.window;
        for (int i = 0; i < warnings.size(); ++i)
            MessageBox::setNextAnswer(MessageBox::Ok);
        CommonDialog::setNextPath(file);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), warnings.size());
        for (int i = 0; i < warnings.size(); ++i) {
            QVERIFY2(shown[i].text.contains(QDir::toNativeSeparators(file)),
                     qPrintable(shown[i].text));
            QVERIFY2(shown[i].text.endsWith(warnings[i]), qPrintable(shown[i].text));
            QCOMPARE(shown[i].style, int(MessageBox::Exclamation));
        }
        QCOMPARE(w.document().propertyText(squad::Property::Name), name);
        QVERIFY(!w.document().modified());
    }

    void fileWithoutMembersLeavesTheMemberBoxesLocked() {
        SquadData empty = hardSquad();
        empty.mmbdata.reset();
        const QString file = path("no-members.xml");
        writeBytes(file, squad::fileContents(empty));
        Shown s;
        app::MainWindow &w = s.window;
        w.document().load(hardSquad());
        w.setListIndex(1);
        QVERIFY(!memberBoxesLocked(w));
        CommonDialog::setNextPath(file);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(w.document().content(), empty);
        QVERIFY(listEntries(w).isEmpty());
        QCOMPARE(w.listIndex(), -1);
        QCOMPARE(shownMember(w), Member{});
        QVERIFY(memberBoxesLocked(w));
        QCOMPARE(box(w, "squadtitle")->text(), QString("tag\twith tab"));
    }

    void saveFailuresNameTheFileAndKeepTheDocumentModified_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing folder") << "no-such-folder/Squad.xml"
                                        << "";
        QTest::newRow("folder given as file") << "a-folder"
                                              << "directory";
        QTest::newRow("file given as folder") << "plain-file/Squad.xml"
                                              << "";
    }
    void saveFailuresNameTheFileAndKeepTheDocumentModified() {
        QFETCH(QString, target);
        QFETCH(QString, reason);
        QVERIFY(QDir().mkpath(path("a-folder")));
        writeBytes(path("plain-file"), "x");
        Shown s;
        app::MainWindow &w = s.window;
        editedDocument(w, hardSquad());
        MessageBox::setNextAnswer(MessageBox::Ok);
        CommonDialog::setNextPath(path(target));
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].text.contains(QDir::toNativeSeparators(path(target))),
                 qPrintable(shown[0].text));
        QVERIFY2(shown[0].text.contains(reason), qPrintable(shown[0].text));
        QVERIFY(shown[0].text.count('\n') >= 1); // the reason follows the file's name
        QCOMPARE(shown[0].style, int(MessageBox::Critical));
        QVERIFY(w.document().modified());
        QCOMPARE(readAll(path("plain-file")), QByteArray("x"));
        QVERIFY(QFileInfo(path("a-folder")).isDir());
    }

    // Open and --check refuse what is not an ordinary file of a sane size, at once; Save refuses
    // to put a file in the place of anything but an ordinary file, and changes nothing there.
    void specialFilesAreRefused_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("trySave");
        QTest::newRow("directory") << "directory"
                                   << "It is a directory" << true;
        QTest::newRow("FIFO") << "FIFO"
                              << "It is a named pipe (FIFO)" << true;
        QTest::newRow("symlink to a FIFO") << "symlink"
                                           << "It is a named pipe (FIFO)" << true;
        QTest::newRow("socket") << "socket"
                                << "It is a socket" << true;
        QTest::newRow("/dev/zero") << "/dev/zero"
                                   << "It is a character device" << false;
        QTest::newRow("/dev/null") << "/dev/null"
                                   << "It is a character device" << true;
        QTest::newRow("30 GiB sparse file")
            << "30 GiB"
            << "(30.00 GiB), too large: squad files over 1 GiB" << false;
        QTest::newRow("1 GiB and a byte")
            << "1 GiB+1"
            << "1,073,741,825 bytes (1.00 GiB), too large: squad files over 1 GiB "
               "(1,073,741,824 bytes)"
            << false;
    }
    void specialFilesAreRefused() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QFETCH(bool, trySave);
        QTemporaryDir area;
        QVERIFY(area.isValid());
        QString file = area.filePath("target");
        const QByteArray native = QFile::encodeName(file);
        if (kind == "directory") {
            QVERIFY(QDir().mkdir(file));
        } else if (kind == "FIFO") {
            QCOMPARE(::mkfifo(native, 0644), 0);
        } else if (kind == "symlink") {
            QCOMPARE(::mkfifo(QByteArray(native + ".fifo").constData(), 0644), 0);
            QCOMPARE(::symlink("target.fifo", native), 0);
        } else if (kind == "socket") {
            const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            QVERIFY(size_t(native.size()) < sizeof address.sun_path);
            std::copy(native.begin(), native.end(), address.sun_path);
            QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
            ::close(listener);
        } else if (kind.startsWith('/')) {
            file = kind;
        } else {
            QFile sparse(file);
            QVERIFY(sparse.open(QIODevice::WriteOnly));
            QVERIFY(sparse.resize(kind == "30 GiB" ? 30LL << 30 : (1LL << 30) + 1));
        }
        const auto status = [](const QString &path, bool follow) {
            struct stat st {};
            const QByteArray name = QFile::encodeName(path);
            if ((follow ? ::stat(name, &st) : ::lstat(name, &st)) != 0)
                return QString("missing");
            return QString("%1 %2 %3 %4")
                .arg(st.st_mode)
                .arg(st.st_ino)
                .arg(st.st_rdev)
                .arg(st.st_size);
        };
        const QString before = status(file, false) + status(file, true);
        // Whatever Save might leave beside it: a copy named after it.
        const auto beside = [&file] {
            return QDir(QFileInfo(file).absolutePath())
                .entryList({QFileInfo(file).fileName() + '*'},
                           QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        };
        const QStringList besideBefore = beside();

        Shown s;
        app::MainWindow &w = s.window;
        editedDocument(w, hardSquad());
        const SquadData edited = w.document().content();
        MessageBox::setNextAnswer(MessageBox::No);
        MessageBox::setNextAnswer(MessageBox::Ok);
        CommonDialog::setNextPath(file);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown[1].text.contains(QDir::toNativeSeparators(file)), qPrintable(shown[1].text));
        QVERIFY2(shown[1].text.contains(reason), qPrintable(shown[1].text));
        QCOMPARE(shown[1].style, int(MessageBox::Critical));
        QCOMPARE(w.document().content(), edited);

        QProcess check;
        check.start(QStringLiteral(TROOPBOOK_BINARY), {"--check", file});
        QVERIFY(check.waitForFinished(20000));
        QCOMPARE(check.exitCode(), 1);
        const QByteArray error = check.readAllStandardError();
        QVERIFY2(error.contains(reason.toUtf8()), error.constData());
        QCOMPARE(check.readAllStandardOutput(), QByteArray());

        if (trySave) {
            MessageBox::setNextAnswer(MessageBox::Ok);
            CommonDialog::setNextPath(file);
            QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
            shown = MessageBox::takeShown();
            QCOMPARE(shown.size(), 1);
            QVERIFY2(shown[0].text.contains(reason), qPrintable(shown[0].text));
            QVERIFY2(shown[0].text.contains("left as it was"), qPrintable(shown[0].text));
            QCOMPARE(shown[0].style, int(MessageBox::Critical));
            QVERIFY(w.document().modified());
        }
        QCOMPARE(status(file, false) + status(file, true), before);
        QCOMPARE(beside(), besideBefore);
    }

    // Save replaces the file as a whole and keeps its owner, group and mode; where the folder
    // takes no new files it writes the file in place. A write cut short says so and leaves the
    // old file.
    void saveOverAnExistingFile_data() {
        QTest::addColumn<bool>("lockedFolder");
        QTest::addColumn<bool>("newName");
        QTest::addColumn<bool>("cutShort");
        QTest::addColumn<bool>("othersFile"); // another user's, with set-user and set-group bits
        QTest::addColumn<QString>("failure");
        QTest::newRow("ordinary folder") << false << false << false << false << "";
        QTest::newRow("ordinary folder, another user's set-id file")
            << false << false << false << true << "";
        QTest::newRow("ordinary folder, write cut short")
            << false << false << true << false << "The write was cut short: File too large.";
        QTest::newRow("locked folder") << true << false << false << false << "";
        QTest::newRow("locked folder, write cut short")
            << true << false << true << false << "The write was cut short: File too large.";
        QTest::newRow("locked folder, new name")
            << true << true << false << false << "Permission denied";
    }
    void saveOverAnExistingFile() {
        QFETCH(bool, lockedFolder);
        QFETCH(bool, newName);
        QFETCH(bool, cutShort);
        QFETCH(bool, othersFile);
        QFETCH(QString, failure);
        // Root writes into any folder; with another file system user it is held by folder
        // modes like everyone else. That uid is the thread's own and can be given back.
        const bool root = ::geteuid() == 0;
        const uid_t nobody = 65534;
        if (othersFile && !root)
            QSKIP("only root can give a file to another user");
        const mode_t mode = othersFile ? 06750 : 0640;
        QTemporaryDir area;
        QVERIFY(area.isValid());
        QVERIFY(QFile::setPermissions(area.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ExeOwner | QFile::ExeOther));
        const QString folder = area.filePath("folder");
        QVERIFY(QDir().mkdir(folder));
        const QString file = folder + (newName ? "/new.xml" : "/kept.xml");
        // Longer than what is saved, so that writing in place must also shorten the file.
        const QByteArray old = cutShort ? squad::fileContents(SquadData{})
                                        : squad::fileContents(squadOf({"A", "B", "C", "D", "E"}));
        if (!newName) {
            writeBytes(file, old);
            if (root && (lockedFolder || othersFile))
                QCOMPARE(::chown(QFile::encodeName(file), nobody, nobody), 0);
            QCOMPARE(::chmod(QFile::encodeName(file), mode), 0);
        }
        struct stat before {};
        ::stat(QFile::encodeName(file), &before);
        if (lockedFolder)
            QCOMPARE(::chmod(QFile::encodeName(folder), 0555), 0);
        const auto unlock = qScopeGuard([&] { ::chmod(QFile::encodeName(folder), 0755); });

        Shown s;
        app::MainWindow &w = s.window;
        editedDocument(w, hardSquad());
        const QByteArray contents = squad::fileContents(w.document().content());
        QVERIFY(contents.size() < old.size() || cutShort);

        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const bool dropRoot = lockedFolder && root;
        {
            const auto restore = qScopeGuard([&] {
                if (dropRoot) {
                    ::setfsuid(0);
                    ::setfsgid(0);
                }
                setrlimit(RLIMIT_FSIZE, &saved);
                std::signal(SIGXFSZ, oldHandler);
            });
            if (cutShort) {
                rlimit small = saved;
                small.rlim_cur = 64;
                QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
            }
            if (dropRoot) {
                ::setfsgid(nobody);
                ::setfsuid(nobody);
            }
            if (QFile probe(folder + "/probe"); lockedFolder && probe.open(QIODevice::WriteOnly)) {
                probe.remove();
                QSKIP("this user may write into read-only folders");
            }
            if (!failure.isEmpty())
                MessageBox::setNextAnswer(MessageBox::Ok);
            CommonDialog::setNextPath(file);
            QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        }

        const auto shown = MessageBox::takeShown();
        struct stat after {};
        const bool exists = ::stat(QFile::encodeName(file), &after) == 0;
        // No copy or probe left behind.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 exists ? QStringList{QFileInfo(file).fileName()} : QStringList{});
        if (failure.isEmpty()) {
            QCOMPARE(shown.size(), 0);
            QCOMPARE(readAll(file), contents);
            QCOMPARE(after.st_mode & 07777, mode);
            QCOMPARE(after.st_uid, before.st_uid);
            QCOMPARE(after.st_gid, before.st_gid);
            // In place only where the folder left no other way.
            QCOMPARE(after.st_ino == before.st_ino, lockedFolder);
            QVERIFY(!w.document().modified());
            return;
        }
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].text.contains(QDir::toNativeSeparators(file)), qPrintable(shown[0].text));
        QVERIFY2(shown[0].text.contains(failure), qPrintable(shown[0].text));
        QVERIFY2(shown[0].text.contains("The file on disk was left as it was."),
                 qPrintable(shown[0].text));
        QCOMPARE(exists, !newName);
        if (exists)
            QCOMPARE(readAll(file), old);
        QVERIFY(w.document().modified());
    }

    // A large file is read and written on a worker thread while the window goes on; Cancel
    // leaves the squad as it was and the document still unsaved. (Every file counts as large
    // here.)
    void largeFilesOpenAndSaveInTheBackground_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("open") << "open" << false;
        QTest::newRow("open, canceled") << "open" << true;
        QTest::newRow("save") << "save" << false;
        QTest::newRow("save, canceled") << "save" << true;
        QTest::newRow("exit, saved first") << "exit" << false;
    }
    void largeFilesOpenAndSaveInTheBackground() {
        QFETCH(QString, command);
        QFETCH(bool, cancel);
        const QString file = path("background.xml");
        const SquadData onDisk = squadOf({"Mudskipper", "Goose"});
        writeBytes(file, squad::fileContents(onDisk));
        Shown s;
        app::MainWindow &w = s.window;
        w.setBackgroundFileSize(1);
        editedDocument(w, hardSquad());
        const SquadData edited = w.document().content();

        if (command == "open") {
            MessageBox::setNextAnswer(MessageBox::No);
            CommonDialog::setNextPath(file);
            QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        } else if (command == "save") {
            CommonDialog::setNextPath(file);
            QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        } else {
            MessageBox::setNextAnswer(MessageBox::Yes);
            CommonDialog::setNextPath(file);
            action(w, "mnuFileExit")->trigger();
        }
        // The command returned while the file is still being worked on.
        QVERIFY(w.fileJob().isRunning());
        QCOMPARE(w.document().content(), edited);
        QVERIFY(w.isVisible());
        if (cancel) {
            w.fileJob().cancel();
            QVERIFY(!w.fileJob().isRunning());
            // Whatever the worker still delivers is dropped.
            QVERIFY(QThreadPool::globalInstance()->waitForDone(20000));
            QCoreApplication::processEvents();
            QCOMPARE(w.document().content(), edited);
            QVERIFY(w.document().modified());
            QCOMPARE(w.filePath(), QString());
            const QByteArray left = readAll(file);
            // A save canceled after its last step has replaced the file; never part of it.
            QVERIFY(left == squad::fileContents(onDisk) ||
                    (command == "save" && left == squad::fileContents(edited)));
            QCOMPARE(QDir(m_dir.path()).entryList({"background.xml*"}, QDir::Files | QDir::Hidden),
                     QStringList{"background.xml"});
            return;
        }
        QTRY_VERIFY(!w.fileJob().isRunning());
        QVERIFY(MessageBox::takeShown().size() == (command == "save" ? 0 : 1));
        QVERIFY(!w.document().modified());
        if (command == "exit") {
            QTRY_VERIFY(!w.isVisible());
            QCOMPARE(readAll(file), squad::fileContents(edited));
            return;
        }
        QCOMPARE(w.filePath(), file);
        if (command == "open") {
            QCOMPARE(w.document().content(), onDisk);
            QCOMPARE(w.listIndex(), 0);
            QCOMPARE(shownMember(w), onDisk.mmbdata.column(0));
        } else {
            QCOMPARE(readAll(file), squad::fileContents(edited));
        }
    }

    // Qt's text boxes cut values at 32,767 characters unless told otherwise.
    void longValuesStayWhole() {
        SquadData squad;
        for (int p = 0; p < squad::PropertyCount; ++p)
            squad.properties[p] = QString(100000, QChar('a' + p)) + "|end";
        Member member;
        for (int f = 0; f < squad::FieldCount; ++f)
            member[f] = QString(100000, QChar('A' + f)) + "|end";
        squad.mmbdata.append(member);
        const QString file = path("long-values.xml");
        writeBytes(file, squad::fileContents(squad));

        Shown s;
        app::MainWindow &w = s.window;
        CommonDialog::setNextPath(file);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        const char *squadBoxes[] = {"squadnick", "squadname",    "squadmail",
                                    "squadweb",  "squadpicture", "squadtitle"};
        for (int p = 0; p < squad::PropertyCount; ++p)
            QVERIFY2(box(w, squadBoxes[p])->text() == squad.properties[p], squadBoxes[p]);
        QVERIFY(shownMember(w) == member);
        for (const char *name : {"squadtitle", "mmbremark"}) {
            QTest::keyClick(box(w, name), Qt::Key_End);
            QTest::keyClicks(box(w, name), "!");
        }
        squad.properties[int(squad::Property::Title)] += '!';
        squad.mmbdata.setCell(squad::Field::Remark, 0, member[int(squad::Field::Remark)] + '!');
        QVERIFY(w.document().content() == squad);

        action(w, "mnuFileUpload")->trigger();
        QVERIFY(w.uploadWindow());
        const auto uploadBoxes = w.uploadWindow()->findChildren<QLineEdit *>();
        QVERIFY(uploadBoxes.size() >= 5);
        for (QLineEdit *uploadBox : uploadBoxes) {
            uploadBox->setText(member[0]);
            QVERIFY2(uploadBox->text() == member[0], qPrintable(uploadBox->objectName()));
        }
        w.uploadWindow()->close();
    }

    // The question on New, Open, Exit and closing the window, with every way of answering it.
    void unsavedChangesAreNeverLostSilently_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("goesOn");
        for (const char *command : {"new", "open", "exit", "close"}) {
            const auto row = [&](const char *answer, bool goesOn) {
                QTest::addRow("%s, %s", command, answer) << command << answer << goesOn;
            };
            row("yes, saved", true);
            row("yes, save cancelled", false);
            row("yes, save failed", false);
            row("no", true);
            row("cancel", false);
        }
    }
    void unsavedChangesAreNeverLostSilently() {
        QFETCH(QString, command);
        QFETCH(QString, answer);
        QFETCH(bool, goesOn);
        const QString saved = path("answer-saved.xml");
        QFile::remove(saved);
        const QString other = path("other.xml");
        SquadData otherSquad;
        otherSquad.properties[0] = "OTHER";
        writeBytes(other, squad::fileContents(otherSquad));

        Shown s;
        app::MainWindow &w = s.window;
        editedDocument(w, hardSquad());
        const SquadData edited = w.document().content();

        if (answer.startsWith("yes")) {
            MessageBox::setNextAnswer(MessageBox::Yes);
            if (answer == "yes, saved") {
                CommonDialog::setNextPath(saved);
            } else if (answer == "yes, save cancelled") {
                CommonDialog::setNextPath(QString());
            } else {
                CommonDialog::setNextPath(path("no-such-folder/x.xml"));
                MessageBox::setNextAnswer(MessageBox::Ok);
            }
        } else {
            MessageBox::setNextAnswer(answer == "no" ? MessageBox::No : MessageBox::Cancel);
        }
        if (command == "open" && goesOn)
            CommonDialog::setNextPath(other);

        if (command == "new")
            QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
        else if (command == "open")
            QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        else if (command == "exit")
            action(w, "mnuFileExit")->trigger();
        else
            w.close();

        const auto shown = MessageBox::takeShown();
        QVERIFY(!shown.isEmpty());
        QCOMPARE(shown[0].text, question);
        QCOMPARE(shown[0].title, QString("Warning"));
        QCOMPARE(shown[0].style, MessageBox::YesNoCancel | MessageBox::Question);
        QCOMPARE(QFile::exists(saved), answer == "yes, saved");
        if (answer == "yes, saved")
            QCOMPARE(readAll(saved), squad::fileContents(edited));

        if (!goesOn) {
            QVERIFY(w.isVisible());
            QCOMPARE(w.document().content(), edited);
            QVERIFY(w.document().modified());
            return;
        }
        if (command == "new") {
            QCOMPARE(w.document().content(), SquadData{});
            QVERIFY(memberBoxesLocked(w));
        } else if (command == "open") {
            QCOMPARE(w.document().content(), otherSquad);
        } else {
            QVERIFY(!w.isVisible());
            return;
        }
        QVERIFY(w.isVisible());
        QVERIFY(!w.document().modified());
    }

    void unmodifiedDocumentIsLeftWithoutAQuestion() {
        Shown s;
        app::MainWindow &w = s.window;
        w.document().load(hardSquad());
        w.setListIndex(1); // looking is no change
        QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(w.document().memberCount(), 0);
        w.document().load(hardSquad());
        action(w, "mnuFileExit")->trigger();
        QVERIFY(!w.isVisible());
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void uploadWindowIsModelessSingleAndDiscardedWhenClosed() {
        Shown s;
        app::MainWindow &w = s.window;
        QVERIFY(!w.uploadWindow());
        QTest::mouseClick(button(w, "Command6"), Qt::LeftButton);
        QPointer<app::UploadWindow> first = w.uploadWindow();
        QVERIFY(first);
        QVERIFY(first->isVisible());
        QVERIFY(first->isWindow());
        QCOMPARE(first->objectName(), QString("Form2"));
        QCOMPARE(first->windowTitle(), QString("Upload"));
        QCOMPARE(first->windowModality(), Qt::NonModal);
        QVERIFY(!QApplication::activeModalWidget());

        action(w, "mnuFileUpload")->trigger();
        QCOMPARE(w.uploadWindow(), first.data());

        // The editor stays usable beside it.
        QTest::keyClicks(box(w, "squadname"), "x");
        QCOMPARE(w.document().propertyText(squad::Property::Name), QString("x"));

        first->close();
        QTRY_VERIFY(!first);
        QVERIFY(!w.uploadWindow());
        QTest::mouseClick(button(w, "Command6"), Qt::LeftButton);
        QVERIFY(w.uploadWindow());
        QVERIFY(w.uploadWindow() != nullptr);

        MessageBox::setNextAnswer(MessageBox::No);
        action(w, "mnuFileExit")->trigger();
        QVERIFY(!w.isVisible());
        QVERIFY(w.uploadWindow() && !w.uploadWindow()->isVisible());
    }

    void exitCancelsARunningUpload() {
        // A loopback server that takes the connection and never greets: the upload hangs on.
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const auto closeListener = qScopeGuard([listener] { ::close(listener); });
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QCOMPARE(::listen(listener, 4), 0);
        socklen_t size = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size);

        Shown s;
        app::MainWindow &w = s.window;
        action(w, "mnuFileUpload")->trigger();
        app::UploadWindow *form2 = w.uploadWindow();
        QVERIFY(form2);
        auto *host = form2->findChild<QLineEdit *>("ftphost");
        auto *locdir = form2->findChild<QLineEdit *>("locdir");
        QVERIFY(host && locdir);
        QTest::keyClicks(host, QString("127.0.0.1:%1").arg(ntohs(address.sin_port)));
        CommonDialog::setNextPath(path("Squad.xml"));
        QTest::mouseClick(locdir, Qt::LeftButton);
        QTRY_VERIFY(!locdir->text().isEmpty());
        QTest::mouseClick(form2->findChild<QPushButton *>("Command1"), Qt::LeftButton);
        QVERIFY(form2->isUploading());

        action(w, "mnuFileExit")->trigger();
        QVERIFY(!w.isVisible());
        QVERIFY(!form2->isUploading());
        QVERIFY(!form2->isVisible());
    }

    void fileNamedAtStartIsOpened() {
        const QString file = path("start.xml");
        writeBytes(file, squad::fileContents(hardSquad()));
        {
            app::MainWindow w;
            QVERIFY(w.openAtStart(file));
            QCOMPARE(w.document().content(), hardSquad());
            QCOMPARE(w.listIndex(), 0);
            QVERIFY(!w.document().modified());
            QCOMPARE(w.cdb().fileName(), file);
        }
        {
            app::MainWindow w;
            MessageBox::setNextAnswer(MessageBox::Ok);
            QVERIFY(!w.openAtStart(path("absent.xml")));
            const auto shown = MessageBox::takeShown();
            QCOMPARE(shown.size(), 1);
            QVERIFY(shown[0].text.contains(path("absent.xml")));
            QCOMPARE(w.document().content(), SquadData{});
            QVERIFY(memberBoxesLocked(w));
            QCOMPARE(w.cdb().fileName(), QString());
        }
    }
};

QTEST_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
