// troopbook --check-published, run as a separate process against the loopback web server.
#include "squad/squadwriter.h"
#include "webserver.h"

#include "../common/loopback.h"
#include "../common/tinypicture.h"
#include "../common/troopbookrun.h"

#include <QTest>

namespace {

using testrun::Run;
using testrun::troopbook;

squad::SquadData owls() {
    squad::SquadData squad;
    squad.properties = {"OWL", "Night Owls", "", "", "logo.paa", ""};
    squad.mmbdata.append({"76561197960287930", "Ann", "", "", "", ""});
    return squad;
}

} // namespace

class TestPublishedCommandLine : public QObject {
    Q_OBJECT

    std::unique_ptr<testweb::WebServer> m_server;
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase() {
        m_server = std::make_unique<testweb::WebServer>();
        QVERIFY(m_server->isRunning());
        const QByteArray squadFile = squad::fileContents(owls());
        const QList<std::pair<QString, QByteArray>> files{{"squad.xml", squadFile},
                                                          {"logo.paa", testpicture::tinyPaa()},
                                                          {"squad.dtd", "dtd"},
                                                          {"squad.xsl", "xsl"}};
        QVERIFY(m_server->stage("good", files));
        QVERIFY(m_server->stage("html", files, "squad.xml type text/html\n"));
        squad::SquadData renamed = owls();
        renamed.properties[1] = "Day Owls";
        QVERIFY(testweb::writeFile(m_dir.filePath("same.xml"), squadFile));
        QVERIFY(testweb::writeFile(m_dir.filePath("renamed.xml"), squad::fileContents(renamed)));
        // Findings name members by nick, which may span lines.
        squad::SquadData twoLines = owls();
        twoLines.mmbdata.append({"9", "Cid\nLee", "", "", "", ""});
        QVERIFY(testweb::writeFile(m_dir.filePath("twolines.xml"), squad::fileContents(twoLines)));
        // A served picture name that would erase the lines above (CSI as one C1 character) and
        // turn the text around.
        QVERIFY(m_server->stage(
            "controls",
            {{"squad.xml", QByteArrayLiteral("<?xml version=\"1.0\"?>\n<squad nick=\"OWL\">"
                                             "<picture>\xc2\x9b"
                                             "2K\xc2\x9b"
                                             "1A\x7f\xe2\x80\xaeg.paa</picture></squad>\n")}}));
        // ESC and BEL, which XML cannot carry: left out when the file is read, and said to be.
        QVERIFY(m_server->stage(
            "escapes",
            {{"squad.xml", QByteArrayLiteral("<?xml version=\"1.0\"?>\n<squad nick=\"OWL\">"
                                             "<picture>\x1b[2K\x1b[1A\x1b]0;x\x07"
                                             "g.paa</picture></squad>\n")}}));
    }

    void cleanupTestCase() { m_server.reset(); }

    void exitStatusSaysHowItWent_data() {
        QTest::addColumn<QString>("path"); // below the server, or a whole address
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed"); // on standard output, or error when exit is 1
        QTest::newRow("all well, hints only") << "/good/squad.xml"
                                              << "" << 0 << ": hint: Over https";
        QTest::newRow("same as the file")
            << "/good/squad.xml"
            << "same.xml" << 0 << "/good/squad.xml: 200 OK, application/xml, ";
        QTest::newRow("another version than the file")
            << "/good/squad.xml"
            << "renamed.xml" << 2 << "renamed.xml. On the server: the name differs.";
        QTest::newRow("a nick on two lines, one finding a line")
            << "/good/squad.xml"
            << "twolines.xml" << 2 << "Cid\\nLee (ID 9) is missing";
        QTest::newRow("control characters from the server")
            << "/controls/squad.xml"
            << "" << 2 << "The picture \"\\u{009B}2K\\u{009B}1A\\x7F\\u{202E}g.paa\" is missing";
        QTest::newRow("characters from the server that XML cannot carry")
            << "/escapes/squad.xml"
            << "" << 2 << "holds 4 characters that cannot be read, the first on line 2";
        QTest::newRow("a problem") << "/html/squad.xml"
                                   << "" << 2
                                   << "/html/squad.xml: problem: The server sends the squad "
                                      "file as \"text/html\"";
        QTest::newRow("nothing fetched")
            << QStringLiteral("http://127.0.0.1:%1/squad.xml").arg(testnet::freePort()) << "" << 1
            << "not fetched: The server could not be reached";
        QTest::newRow("a folder") << "/good/"
                                  << "" << 1 << "names a folder";
        QTest::newRow("file unreadable") << "/good/squad.xml"
                                         << "absent.xml" << 1 << "absent.xml";
    }
    void exitStatusSaysHowItWent() {
        QFETCH(QString, path);
        QFETCH(QString, file);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        const QString address = path.startsWith(u'/')
                                    ? QStringLiteral("http://127.0.0.1:%1%2")
                                          .arg(QString::number(m_server->port()), path)
                                    : path;
        QStringList arguments{"--check-published", address};
        if (!file.isEmpty())
            arguments << m_dir.filePath(file);
        const Run run = troopbook(arguments);
        QCOMPARE(run.exitCode, exitCode);
        // Something could be fetched: findings and files on standard output, one per line.
        const QByteArray &output =
            exitCode == 1 && !printed.startsWith("not fetched") ? run.err : run.out;
        QVERIFY2(output.contains(printed.toLocal8Bit()), QByteArray(run.out + run.err).constData());
        QVERIFY(output.endsWith('\n'));
        const QByteArray printedAll = run.out + run.err;
        for (const char c : printedAll)
            QVERIFY2(c == '\n' || uchar(c) >= 0x20, printedAll.constData());
    }

    void helpNamesTheOption() {
        const Run help = troopbook({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("--check-published <url>"));
    }
};

QTEST_GUILESS_MAIN(TestPublishedCommandLine)
#include "tst_publishedcommandline.moc"
