// The program's command line, run as a separate process, and how it prints what it finds.
#include "app/terminaltext.h"
#include "squad/memberscsv.h"
#include "squad/squadreader.h"
#include "squad/squadwriter.h"

#include "../common/troopbookrun.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using testrun::Run;
using testrun::troopbook;

class TestCommandLine : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    static bool writeBytes(const QString &file, const QByteArray &bytes) {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }

    // A squad tagged `tag` whose members have these IDs and nicks and nothing else.
    static squad::SquadData squadOf(const QString &tag, const QStringList &ids,
                                    const QStringList &nicks) {
        squad::SquadData squad;
        squad.properties[0] = tag;
        for (qsizetype i = 0; i < ids.size(); ++i)
            squad.mmbdata.append(squad::Member{ids[i], nicks[i], "", "", "", ""});
        return squad;
    }

    // Writes a squad file into the test's folder, which holds squad.dtd and squad.xsl.
    QString write(const QString &name, const squad::SquadData &squad) {
        const QString file = m_dir.filePath(name);
        if (!writeBytes(file, squad::fileContents(squad)))
            qFatal("cannot write %s", qPrintable(file));
        return file;
    }

private Q_SLOTS:
    void initTestCase() {
        for (const char *name : {"squad.dtd", "squad.xsl"})
            QVERIFY(writeBytes(m_dir.filePath(name), QByteArray()));
    }

    void checkCountsTheMembers_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("nicks");
        QTest::addColumn<QString>("count");
        QTest::newRow("three") << "three members.xml" << QStringList{"Ann", "Bea", "Cid"}
                               << "3 members";
        QTest::newRow("one, percent in the name")
            << "100%2 %1.xml" << QStringList{"Ann"} << "1 member";
        QTest::newRow("none") << "empty.xml" << QStringList{} << "0 members";
    }
    void checkCountsTheMembers() {
        QFETCH(QString, name);
        QFETCH(QStringList, nicks);
        QFETCH(QString, count);
        QStringList ids;
        for (qsizetype i = 0; i < nicks.size(); ++i)
            ids << "7656119800000000" + QString::number(i);
        const QString file = write(name, squadOf("NO", ids, nicks));

        const Run run = troopbook({"--check", file});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, (file + ": " + count + "\n").toLocal8Bit());
        QCOMPARE(run.err, QByteArray());
    }

    // Exit 0 with hints only, 2 with a problem; every finding on a line of its own.
    void checkPrintsTheFindings_data() {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QStringList>("nicks");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("findings");
        QTest::addColumn<bool>("cutShort");
        QTest::addColumn<bool>("unreadable"); // a control character in the squad's name
        const QStringList nicks{"A", "Bo", "Cyd"};
        QTest::newRow("an empty ID is a problem")
            << "NO" << nicks << QStringList{"76561198000000001", "1234", ""} << 2
            << QStringList{"member 2 \"Bo\": hint: The ID has 4",
                           "member 3 \"Cyd\": problem: The ID is"}
            << false << false;
        QTest::newRow("a short ID is a hint")
            << "NO" << nicks << QStringList{"76561198000000001", "1234"} << 0
            << QStringList{"member 2 \"Bo\": hint: The ID has 4 digits"} << false << false;
        QTest::newRow("bad tag and a shared ID")
            << "F.O.O" << nicks << QStringList{"76561198000000001", "2", "76561198000000001"} << 2
            << QStringList{"squad: problem: The tag holds \".\"",
                           "member 1 \"A\": problem: Same ID as member 3 \"Cyd\"",
                           "member 2 \"Bo\": hint: The ID has 1 digit ",
                           "member 3 \"Cyd\": problem: Same ID as member 1 \"A\""}
            << false << false;
        QTest::newRow("nothing to find") << "NO" << nicks << QStringList{"76561198000000001"} << 0
                                         << QStringList{} << false << false;
        QTest::newRow("line breaks stay on the finding's line")
            << "N\r\nO" << QStringList{"Two\nLines", "Back\\slash"} << QStringList{"1", "2"} << 2
            << QStringList{"squad: problem: The tag holds \"\\r\", \"\\n\", which",
                           "member 1 \"Two\\nLines\": hint: The ID has 1 digit ",
                           "member 2 \"Back\\\\slash\": hint: The ID has 1 digit "}
            << false << false;

        QTest::newRow("a text cut short is a problem")
            << "NO" << nicks << QStringList{"76561198000000001", "76561198000000002"} << 2
            << QStringList{"squad: problem: The text ends before the end of the squad"} << true
            << false;
        QTest::newRow("a character that cannot be read is a problem")
            << "NO" << nicks << QStringList{"76561198000000001", "76561198000000002"} << 2
            << QStringList{"squad: problem: 1 character of the values cannot be read, the first "
                           "on line 7"}
            << false << true;
        QTest::newRow("a file cut short inside a value is a problem")
            << "NO" << nicks << QStringList{"76561198000000001"} << 2
            << QStringList{"squad: problem: The text ends before the end of the squad"} << true
            << false;
    }

    void checkPrintsTheFindings() {
        QFETCH(QString, tag);
        QFETCH(QStringList, nicks);
        QFETCH(QStringList, ids);
        QFETCH(int, exitCode);
        QFETCH(QStringList, findings);
        QFETCH(bool, cutShort);
        QFETCH(bool, unreadable);
        const QString file = write("checked.xml", squadOf(tag, ids, nicks));
        if (cutShort || unreadable) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QByteArray contents = f.readAll();
            if (unreadable)
                contents.insert(contents.indexOf("<name></name>") + 6, '\x01');
            if (cutShort && ids.size() == 1) // inside the member's remark
                contents.truncate(contents.indexOf("<remark>") + 8);
            else if (cutShort)
                contents.truncate(contents.lastIndexOf("</squad>"));
            QVERIFY(f.resize(0) && f.seek(0) && f.write(contents) == contents.size());
        }

        const Run run = troopbook({"--check", file});
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.err, QByteArray());
        const QStringList lines = QString::fromLocal8Bit(run.out).split('\n');
        QCOMPARE(lines.size(), findings.size() + 2);
        QCOMPARE(lines.first(),
                 QStringLiteral("%1: %2 member%3")
                     .arg(file, QString::number(ids.size()), ids.size() == 1 ? "" : "s"));
        for (int i = 0; i < findings.size(); ++i)
            QVERIFY2(lines[i + 1].startsWith(file + ": " + findings[i]), qPrintable(lines[i + 1]));
        QCOMPARE(lines.last(), QString());
    }

    // Every file named is checked, in its own block; the exit status is the worst: a file that
    // cannot be read outweighs a problem.
    void checkOfSeveralFiles_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("firstLines"); // "" for a file that cannot be read
        QTest::addColumn<int>("exitCode");
        QTest::newRow("two without problems")
            << QStringList{"good.xml", "good2.xml"} << QStringList{"1 member", "1 member"} << 0;
        QTest::newRow("a problem in the second")
            << QStringList{"good.xml", "bad.xml"} << QStringList{"1 member", "2 members"} << 2;
        QTest::newRow("the first cannot be read, the rest still checked")
            << QStringList{"absent.xml", "bad.xml", "good.xml"}
            << QStringList{"", "2 members", "1 member"} << 1;
        QTest::newRow("--check twice") << QStringList{"--check", "good.xml", "--check", "bad.xml"}
                                       << QStringList{"1 member", "2 members"} << 2;
    }
    void checkOfSeveralFiles() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, firstLines);
        QFETCH(int, exitCode);
        write("good.xml", squadOf("NO", {"76561198000000001"}, {"Ann"}));
        write("good2.xml", squadOf("NO", {"76561198000000001"}, {"Ann"}));
        write("bad.xml", squadOf("NO", {"76561198000000001", "76561198000000001"}, {"Ann", "Ann"}));
        QStringList arguments{"--check"};
        for (const QString &name : names)
            arguments << (name.startsWith("--") ? name : m_dir.filePath(name));
        if (arguments[1] == "--check")
            arguments.removeFirst();

        const Run run = troopbook(arguments);
        QCOMPARE(run.exitCode, exitCode);
        // Each block: the count, then that file's findings, every line naming its file.
        QStringList lines = QString::fromLocal8Bit(run.out).split('\n');
        QCOMPARE(lines.takeLast(), QString());
        const QStringList files = arguments.filter(m_dir.path());
        for (int i = 0; i < files.size(); ++i) {
            if (firstLines[i].isEmpty()) {
                QVERIFY2(run.err.contains(files[i].toLocal8Bit()), run.err.constData());
                continue;
            }
            QVERIFY(!lines.isEmpty());
            QCOMPARE(lines.takeFirst(), files[i] + ": " + firstLines[i]);
            while (!lines.isEmpty() && !lines.first().endsWith(" members") &&
                   !lines.first().endsWith(" member"))
                QVERIFY2(lines.takeFirst().startsWith(files[i] + ": member "),
                         qPrintable(files[i]));
        }
        QVERIFY2(lines.isEmpty(), qPrintable(lines.join('\n')));
    }

    // What a file, a server or a path holds reaches the terminal as one harmless line.
    void escapingForTheTerminal_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("printed");
        QTest::newRow("plain text and non-ASCII letters")
            << QString::fromUtf8("Ann \u00e9\u4e2d\U0001F600")
            << QString::fromUtf8("Ann \u00e9\u4e2d\U0001F600");
        QTest::newRow("backslash doubled, so escapes stay unambiguous") << "a\\x41"
                                                                        << "a\\\\x41";
        QTest::newRow("line ends and tab") << "a\nb\r\nc\td"
                                           << "a\\nb\\r\\nc\\td";
        QTest::newRow("NUL does not cut the line") << QString::fromLatin1("N\0ul", 4) << "N\\x00ul";
        QTest::newRow("ESC sequences, BEL, VT, FF, DEL") << "\x1b[2K\x1b]0;t\x07\v\f\x7f"
                                                         << "\\x1B[2K\\x1B]0;t\\x07\\x0B\\x0C\\x7F";
        QTest::newRow("C1 controls, NEL among them")
            << QString::fromUtf8("\u0080\u0085\u009b\u009f")
            << "\\u{0080}\\u{0085}\\u{009B}\\u{009F}";
        QTest::newRow("line and paragraph separators")
            << QString::fromUtf8("a\u2028b\u2029") << "a\\u{2028}b\\u{2029}";
        QTest::newRow("bidirectional controls")
            << QString::fromUtf8("\u202a\u202e\u2066\u2069\u200e\u200f\u061c")
            << "\\u{202A}\\u{202E}\\u{2066}\\u{2069}\\u{200E}\\u{200F}\\u{061C}";
        QTest::newRow("neighbours of the controls pass")
            << QString::fromUtf8("\u00a0\u2027\u202f\u2065\u206a\u200d\u061b")
            << QString::fromUtf8("\u00a0\u2027\u202f\u2065\u206a\u200d\u061b");
        QTest::newRow("unpaired surrogates")
            << QString(QChar(0xD800)) + "x" + QChar(0xDC00) << "\\u{D800}x\\u{DC00}";
    }
    void escapingForTheTerminal() {
        QFETCH(QString, text);
        QFETCH(QString, printed);
        QCOMPARE(app::escapeForTerminal(text), printed);
    }

    // Control characters of a file reach no terminal: those XML cannot carry (NUL, ESC, BEL) are
    // left out when the file is read, and said to be; the others are printed escaped.
    void checkPrintsControlCharactersEscaped() {
        const QString file = m_dir.filePath("controls.xml");
        QVERIFY(writeBytes(
            file, QByteArrayLiteral("<?xml version=\"1.0\"?>\n<squad nick=\"N\x1b]0;x\x07\x7f\">\n"
                                    "<member id=\"1\" nick=\"A\0B\x1b[2K\xc2\x9b\xe2\x80\xa8\"/>\n"
                                    "<member id=\"22\" nick=\"Cy\"/>\n</squad>\n")));
        const Run run = troopbook({"--check", file});
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.err, QByteArray());
        const QList<QByteArray> lines = run.out.split('\n');
        QCOMPARE(lines.size(), 6);
        QVERIFY2(
            lines[1].contains("4 characters of the values cannot be read, the first on line 2"),
            lines[1].constData());
        QVERIFY2(lines[2].contains("The tag holds \"]\", \";\", \"\\x7F\""), lines[2].constData());
        QVERIFY2(lines[3].startsWith(
                     (file + ": member 1 \"AB[2K\\u{009B}\\u{2028}\": hint:").toLocal8Bit()),
                 lines[3].constData());
        QVERIFY(lines[4].startsWith((file + ": member 2 \"Cy\": hint:").toLocal8Bit()));
    }

    void checkOfAnUnreadableFileSaysWhyAndFails_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("missing") << "absent.xml" << QByteArray();
        QTest::newRow("not a squad") << "notes.txt" << QByteArray("shopping list\n");
    }
    void checkOfAnUnreadableFileSaysWhyAndFails() {
        QFETCH(QString, name);
        QFETCH(QByteArray, contents);
        const QString file = m_dir.filePath(name);
        if (!contents.isEmpty())
            QVERIFY(writeBytes(file, contents));
        const Run run = troopbook({"--check", file});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QByteArray());
        QVERIFY2(run.err.contains(file.toLocal8Bit()), run.err.constData());
        QVERIFY(run.err.endsWith('\n'));
    }

    void exportCsvWritesTheMembers() {
        squad::SquadData squad;
        for (const char *nick : {"Ann", "=Bo", "C;d"})
            squad.mmbdata.append(squad::Member{"1", nick, "", "", "", "two\nlines"});
        const QString file = write("to export.xml", squad);
        const QByteArray csv = squad::membersCsv(squad.mmbdata);

        const Run toStdout = troopbook({"--export-csv", file});
        QCOMPARE(toStdout.exitCode, 0);
        QCOMPARE(toStdout.out, csv);
        QCOMPARE(toStdout.err, QByteArray());

        const QString out = m_dir.filePath("exported.csv");
        const Run toFile = troopbook({"--export-csv", file, out});
        QCOMPARE(toFile.exitCode, 0);
        QCOMPARE(toFile.out, (out + ": 3 members written\n").toLocal8Bit());
        QFile written(out);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), csv);

        const Run missing = troopbook({"--export-csv", m_dir.filePath("absent.xml")});
        QCOMPARE(missing.exitCode, 1);
        QCOMPARE(missing.out, QByteArray());
        QVERIFY(missing.err.contains("absent.xml"));
    }

    // The squad file keeps A (ID 1) and B (ID 2); the file changes only when something came in.
    void importMembersWritesTheSquadFile_data() {
        QTest::addColumn<QString>("fromName");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed");
        QTest::addColumn<QStringList>("nicksAfter");
        const QByteArray csv("NICK;Id\r\nBee;2\r\nCee;3\r\n");
        QTest::newRow("CSV, known IDs skipped")
            << "roster.csv" << csv << false << 0 << ": 1 added, 0 replaced, 1 skipped"
            << QStringList{"A", "B", "Cee"};
        QTest::newRow("CSV, known IDs replaced")
            << "roster.csv" << csv << true << 0 << ": 1 added, 1 replaced, 0 skipped"
            << QStringList{"A", "Bee", "Cee"};
        QTest::newRow("squad file")
            << "other.xml" << squad::fileContents(squadOf("", {"1", ""}, {"Ace", "Dee"})) << false
            << 0 << ": 1 added, 0 replaced, 1 skipped" << QStringList{"A", "B", "Dee"};
        QTest::newRow("nothing new") << "known.csv" << QByteArray("id\n1\n2\n") << false << 0
                                     << ": 0 added, 0 replaced, 2 skipped" << QStringList{"A", "B"};
        QTest::newRow("broken quote") << "broken.csv" << QByteArray("nick\n\"Bee\n") << false << 1
                                      << "Row 2, column 1" << QStringList{"A", "B"};
        QTest::newRow("FROM missing")
            << "" << QByteArray() << false << 1 << "absent" << QStringList{"A", "B"};
    }
    void importMembersWritesTheSquadFile() {
        QFETCH(QString, fromName);
        QFETCH(QByteArray, from);
        QFETCH(bool, replace);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        QFETCH(QStringList, nicksAfter);
        const squad::SquadData squad = squadOf("NO", {"1", "2"}, {"A", "B"});
        const QString file = write("into.xml", squad);
        QString fromFile = m_dir.filePath(fromName.isEmpty() ? "absent.csv" : fromName);
        if (!fromName.isEmpty())
            QVERIFY(writeBytes(fromFile, from));
        QStringList arguments{"--import-members", file, fromFile};
        if (replace)
            arguments << "--replace";
        const Run run = troopbook(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((exitCode == 0 ? run.out : run.err).contains(printed.toLocal8Bit()),
                 QByteArray(run.out + run.err).constData());
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const squad::DecodeResult after = squad::decode(f.readAll());
        QVERIFY(after.ok);
        QStringList nicks;
        for (const squad::Member &m : after.data.mmbdata.members())
            nicks << m[int(squad::Field::Nick)];
        QCOMPARE(nicks, nicksAfter);
        QCOMPARE(after.data.properties, squad.properties);
    }

    void importMembersRefusesASquadFileCutShort() {
        const QString file = write("cut.xml", squadOf("", {"1"}, {"A"}));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const QByteArray before = f.readAll().chopped(12);
        QVERIFY(f.resize(before.size()));
        f.close();
        const QString csv = m_dir.filePath("one.csv");
        QVERIFY(writeBytes(csv, "nick\nNew\n"));
        const Run run = troopbook({"--import-members", file, csv});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains("nothing was imported"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }

    // Both or nothing without --force; with it, what stands in the way is replaced.
    void writeCompanionsIntoAFolder_data() {
        QTest::addColumn<QStringList>("files"); // already in DIR; one ending in / is a folder
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QString>("error");
        const QStringList both{"squad.dtd", "squad.xsl"};
        const QStringList plain{"--write-companions", "DIR"};
        const QStringList forced{"--write-companions", "DIR", "--force"};
        QTest::newRow("empty folder") << QStringList{} << plain << 0 << both << "";
        QTest::newRow("both there")
            << both << plain << 1 << QStringList{} << "squad.dtd and squad.xsl already exist";
        QTest::newRow("one there") << QStringList{"squad.xsl"} << plain << 1 << QStringList{}
                                   << "squad.xsl already exists";
        QTest::newRow("one there, forced") << QStringList{"squad.xsl"} << forced << 0 << both << "";
        QTest::newRow("a folder in the way, forced")
            << QStringList{"squad.dtd/"} << forced << 1 << QStringList{"squad.xsl"}
            << "not an ordinary file";
        QTest::newRow("no such folder")
            << QStringList{} << QStringList{"--write-companions", "DIR/x"} << 1 << QStringList{}
            << "is no folder";
        QTest::newRow("a file as well")
            << QStringList{} << QStringList{"--write-companions", "DIR", "squad.xml"} << 1
            << QStringList{} << "takes a folder and no file";
        QTest::newRow("--force alone") << QStringList{} << QStringList{"--force"} << 1
                                       << QStringList{} << "--force goes with --write-companions";
        // The paths printed are escaped: only the folder below DIR gets the files.
        QTest::newRow("a folder named with control characters")
            << QStringList{"e\x1b[2J/"} << QStringList{"--write-companions", "DIR/e\x1b[2J"} << 0
            << QStringList{} << "";
    }
    void writeCompanionsIntoAFolder() {
        QFETCH(QStringList, files);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, written);
        QFETCH(QString, error);
        QTemporaryDir dir;
        for (const QString &name : files) {
            if (name.endsWith(u'/'))
                QVERIFY(QDir(dir.path()).mkdir(name));
            else
                QVERIFY(writeBytes(dir.filePath(name), "own"));
        }
        arguments.replaceInStrings(QRegularExpression("^DIR"), dir.path());
        const Run run = troopbook(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(error.toLocal8Bit()), run.err.constData());
        QVERIFY(!run.out.contains('\x1b') && !run.err.contains('\x1b'));
        for (const char *name : {"squad.dtd", "squad.xsl"}) {
            QFile source(QStringLiteral(TROOPBOOK_COMPANIONS_DIR "/") + QLatin1String(name));
            QVERIFY(source.open(QIODevice::ReadOnly));
            QFile now(dir.filePath(name));
            const QByteArray contents = now.open(QIODevice::ReadOnly) ? now.readAll() : "";
            QCOMPARE(contents == source.readAll(), written.contains(name));
            QCOMPARE(run.out.contains(dir.filePath(name).toLocal8Bit()), written.contains(name));
        }
    }

    void helpAndVersionNeedNoWindow() {
        const Run version = troopbook({"--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QByteArray("Troopbook " TROOPBOOK_VERSION "\n"));
        const Run help = troopbook({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("--check <file>"));
        QVERIFY(help.out.contains("2 when"));
        QVERIFY(help.out.contains("[file]"));
        QVERIFY(help.out.contains("--export-csv <squadfile>"));
        QVERIFY(help.out.contains("--import-members <squadfile>"));
        QVERIFY(help.out.contains("--replace"));
        const Run wrong = troopbook({"--no-such-option"});
        QCOMPARE(wrong.exitCode, 1);
        for (const QStringList &misused :
             {QStringList{"--replace"}, QStringList{"--import-members", "squad.xml"},
              QStringList{"--export-csv", "squad.xml", "a.csv", "b.csv"}}) {
            const Run run = troopbook(misused);
            QCOMPARE(run.exitCode, 1);
            QVERIFY(run.err.startsWith("troopbook: --export-csv takes"));
        }
        const Run hostile = troopbook({"--check", "a.xml", "--\x1b]0;x\x07"});
        QCOMPARE(hostile.exitCode, 1);
        QVERIFY2(hostile.err.contains("'\\x1B]0;x\\x07'") && !hostile.err.contains('\x1b'),
                 hostile.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
