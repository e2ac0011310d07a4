// squad.dtd and squad.xsl as Troopbook writes them: checked with libxml2's own tools against
// what the writer saves, and written through the Tools menu and the check window.
#include "app/checkwindow.h"
#include "app/companions.h"
#include "squad/squadwriter.h"
#include "ui/commondialog.h"
#include "ui/messagebox.h"

#include "editorhelpers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace editortest;
using squad::Field;
using squad::Property;
using ui::MessageBox;

Q_DECLARE_METATYPE(squad::SquadData)

namespace {

struct Tool {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Tool runTool(const QString &program, const QStringList &arguments, const QString &folder) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A squad with every property and every field of every member set to `value`, and a second
// member with it only in the attributes.
squad::SquadData everywhere(const QString &value) {
    squad::SquadData d;
    for (int p = 0; p < squad::PropertyCount; ++p)
        d.properties[p] = value;
    d.mmbdata.append(squad::Member{value, value, value, value, value, value});
    d.mmbdata.append(squad::Member{value, value, "", "", "", ""});
    return d;
}

squad::SquadData manyMembers(int count) {
    squad::SquadData d;
    d.properties = {"NO", "Night Owls", "owls@example.org", "owls.example.org", "owls.paa", "NO"};
    for (int i = 0; i < count; ++i)
        d.mmbdata.append(squad::Member{QString::number(76561198000000000LL + i),
                                       "Owl " + QString::number(i), "", "", "", ""});
    return d;
}

const QString hostile = QStringLiteral("<script>alert(\"x\")</script> & 'q' <img src=x onerror=y>");

} // namespace

class TestCompanions : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString folder(const QString &name) {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        return path;
    }

    // `squad` saved as squad.xml into a folder of its own that holds the companions.
    QString saved(const squad::SquadData &squad) {
        const QString dir = folder(QStringLiteral("saved%1").arg(++m_folders));
        for (const app::CompanionWritten &written : app::writeCompanions(dir)) {
            if (!written.failure.isEmpty())
                qFatal("%s", qPrintable(written.failure));
        }
        writeTestFile(dir, "squad.xml", squad::fileContents(squad));
        return dir;
    }
    int m_folders = 0;

    QString html(const squad::SquadData &squad) {
        const QString dir = saved(squad);
        const Tool xsltproc = runTool(QStringLiteral("xsltproc"), {"squad.xsl", "squad.xml"}, dir);
        if (xsltproc.exitCode != 0)
            qWarning("%s", xsltproc.err.constData());
        return QString::fromUtf8(xsltproc.out);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(!QStandardPaths::findExecutable("xmllint").isEmpty(), "libxml2-utils missing");
        QVERIFY2(!QStandardPaths::findExecutable("xsltproc").isEmpty(), "xsltproc missing");
    }

    void cleanup() {
        QVERIFY(!MessageBox::hasPendingAnswers());
        QVERIFY(!ui::CommonDialog::hasPendingPaths());
        MessageBox::takeShown();
    }

    // Whatever the squad holds, the file the writer saves is valid against squad.dtd: the
    // writer tests' hard values, and squads of no, one and many members.
    void writtenFilesAreValid_data() {
        QTest::addColumn<squad::SquadData>("squad");
        // The writer tests' hard values.
        const std::pair<const char *, const char *> values[] = {
            {"ampersand and angles", "A&B <1>"},
            {"double quotes", "say \"hi\""},
            {"single quotes", "it's 'fine'"},
            {"blanks around", "  padded  "},
            {"empty", ""},
            {"umlaut", "Müller"},
            {"chinese", "龙之队"},
            {"cyrillic", "Волки"},
            {"outside the BMP", "𝔊𝔬𝔱𝔥 🎮"},
            {"17-digit id", "12345678901234567"},
            {"entity-like text", "&amp; &#233; &bogus;"},
            {"cdata end", "]]> --> <!--"},
            {"tab and line ends", "a\tb\nc\r\nd"},
            {"control characters", "nul\x01 bell\x07"},
        };
        for (const auto &[tag, value] : values)
            QTest::newRow(tag) << everywhere(QString::fromUtf8(value));
        QTest::newRow("lone surrogate")
            << everywhere(QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b"));
        QTest::newRow("empty squad") << squad::SquadData();
        QTest::newRow("one Newbie") << everywhere("Newbie");
        QTest::newRow("5000 members") << manyMembers(5000);
    }
    void writtenFilesAreValid() {
        QFETCH(squad::SquadData, squad);
        const Tool xmllint = runTool("xmllint", {"--noout", "--valid", "squad.xml"}, saved(squad));
        QCOMPARE(xmllint.err.left(2000), QByteArray());
        QCOMPARE(xmllint.exitCode, 0);
    }

    // The DTD holds the file to the writer's layout rather than taking anything.
    void otherLayoutsAreInvalid_data() {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::newRow("no web") << QByteArray("<web>owls.example.org</web>\r\n") << QByteArray();
        QTest::newRow("title before picture")
            << QByteArray("<picture>owls.paa</picture>\r\n<title>NO</title>")
            << QByteArray("<title>NO</title>\r\n<picture>owls.paa</picture>");
        QTest::newRow("member without id")
            << QByteArray("<member id=\"76561198000000000\" ") << QByteArray("<member ");
        QTest::newRow("remark before icq") << QByteArray("<icq></icq>\r\n<remark></remark>")
                                           << QByteArray("<remark></remark>\r\n<icq></icq>");
        QTest::newRow("unknown element")
            << QByteArray("<title>NO</title>") << QByteArray("<title>NO</title><rank/>");
    }
    void otherLayoutsAreInvalid() {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        const QString dir = saved(manyMembers(1));
        QByteArray bytes = readFile(dir + "/squad.xml");
        QVERIFY(bytes.contains(from));
        writeTestFile(dir, "squad.xml", bytes.replace(from, to));
        const Tool xmllint = runTool("xmllint", {"--noout", "--valid", "squad.xml"}, dir);
        QVERIFY(xmllint.exitCode > 0);
        QVERIFY2(xmllint.err.contains("validity error"), xmllint.err.constData());
    }

    void pageShowsEveryMemberInFileOrder() {
        squad::SquadData squad = manyMembers(300);
        squad.mmbdata.setCell(Field::Nick, 7, "Zed");
        squad.mmbdata.setCell(Field::Nick, 8, "Abe");
        const QString page = html(squad);
        QVERIFY(page.startsWith("<!DOCTYPE html>"));
        QVERIFY(page.contains("Members (300)"));
        qsizetype at = 0;
        for (int i = 0; i < 300; ++i) {
            const QString cell = "<td>" + squad.mmbdata.cell(Field::Nick, i) + "</td>";
            at = page.indexOf(cell, at);
            QVERIFY2(at >= 0, qPrintable(cell));
        }
        QVERIFY(page.contains("owls.paa"));
        QVERIFY(html(squad::SquadData()).contains("no members"));
    }

    void hostileValuesShowAsText() {
        const QString page = html(everywhere(hostile));
        for (const char *markup :
             {"<script", "<img", "<iframe", "<link", "<object", "url(", "@import"})
            QVERIFY2(!page.contains(QLatin1String(markup), Qt::CaseInsensitive), markup);
        QVERIFY(page.contains("&lt;script&gt;alert(\"x\")&lt;/script&gt; &amp; 'q' &lt;img"));
    }

    // Only http and https become links; no scheme gets http:// put in front.
    void webLinks_data() {
        QTest::addColumn<QString>("web");
        QTest::addColumn<QString>("href"); // empty: shown as text, no link
        const char *const rows[][3] = {
            {"no scheme", "owls.example.org/clan", "http://owls.example.org/clan"},
            {"blanks around", "  owls.example.org ", "http://owls.example.org"},
            {"https", "https://owls.example.org", "https://owls.example.org"},
            {"capital HTTP", "HTTP://Owls.example.org", "HTTP://Owls.example.org"},
            {"host and port", "localhost:8080/owls", "http://localhost:8080/owls"},
            {"javascript", "JavaScript:alert(1)", ""},
            {"data", "data:text/html,<b>x</b>", ""},
            {"ftp", "ftp://owls.example.org", ""},
        };
        for (const auto &[tag, web, href] : rows)
            QTest::newRow(tag) << QString(web) << QString(href);
    }
    void webLinks() {
        QFETCH(QString, web);
        QFETCH(QString, href);
        squad::SquadData squad = manyMembers(0);
        squad.properties[int(Property::Web)] = web;
        squad.properties[int(Property::Mail)].clear();
        const QString page = html(squad);
        static const QRegularExpression link(QStringLiteral("<a href=\"([^\"]*)\""));
        QStringList links;
        for (const QRegularExpressionMatch &m : link.globalMatch(page))
            links << m.captured(1);
        QCOMPARE(links, href.isEmpty() ? QStringList() : QStringList{href});
        QVERIFY(page.contains(web.toHtmlEscaped()));
    }

    // The menu command and the check window's button: what exists is named and kept on No.
    void toolsMenuWritesBesideTheSquadFile_data() {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QStringList>("replaced");
        QTest::addColumn<QString>("via"); // the menu, or the check window's button or hint
        QTest::newRow("none there") << QStringList{} << QList<int>{MessageBox::Ok}
                                    << QStringList{"squad.dtd", "squad.xsl"} << "menu";
        QTest::newRow("both there, No") << QStringList{"squad.dtd", "squad.xsl"}
                                        << QList<int>{MessageBox::No} << QStringList{} << "menu";
        QTest::newRow("both there, Yes")
            << QStringList{"squad.dtd", "squad.xsl"} << QList<int>{MessageBox::Yes, MessageBox::Ok}
            << QStringList{"squad.dtd", "squad.xsl"} << "menu";
        QTest::newRow("one there, No keeps it")
            << QStringList{"squad.xsl"} << QList<int>{MessageBox::No, MessageBox::Ok}
            << QStringList{"squad.dtd"} << "menu";
        QTest::newRow("one there, Cancel")
            << QStringList{"squad.dtd"} << QList<int>{MessageBox::Cancel} << QStringList{}
            << "menu";
        QTest::newRow("check window's button")
            << QStringList{"squad.dtd"} << QList<int>{MessageBox::No, MessageBox::Ok}
            << QStringList{"squad.xsl"} << "button";
        QTest::newRow("check window's hint") << QStringList{} << QList<int>{MessageBox::Ok}
                                             << QStringList{"squad.dtd", "squad.xsl"} << "hint";
    }
    void toolsMenuWritesBesideTheSquadFile() {
        QFETCH(QStringList, existing);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, replaced);
        QFETCH(QString, via);
        const QString dir = folder(QStringLiteral("menu/") + QTest::currentDataTag());
        writeTestFile(dir, "squad.xml", squad::fileContents(manyMembers(2)));
        for (const QString &name : existing)
            writeTestFile(dir, name, "own");
        for (int answer : answers)
            MessageBox::setNextAnswer(MessageBox::Answer(answer));
        Shown shown;
        QVERIFY(shown.window.openAtStart(dir + "/squad.xml"));
        if (via == u"menu") {
            action(shown.window, "mnuToolsCompanions")->trigger();
        } else {
            QTest::keyClick(&shown.window, Qt::Key_F7);
            app::CheckWindow *check = shown.window.checkWindow();
            QVERIFY(check);
            auto *button = check->findChild<QPushButton *>("writeCompanions");
            QTRY_VERIFY(button->isVisible());
            const auto companionHints = [check] {
                QList<squad::Finding> hints;
                for (const squad::Finding &f : check->checker().findings()) {
                    if (f.remedy == squad::Finding::Remedy::WriteCompanions)
                        hints << f;
                }
                return hints;
            };
            if (via == u"button")
                button->click();
            else
                Q_EMIT check->findingsView()->findingActivated(companionHints().first());
            QVERIFY(companionHints().isEmpty());
            QTRY_VERIFY(!button->isVisible());
        }
        const QList<MessageBox::Shown> boxes = MessageBox::takeShown();
        QCOMPARE(boxes.size(), answers.size());
        for (const QString &name : existing)
            QVERIFY2(boxes.first().text.contains(name), qPrintable(boxes.first().text));
        for (const app::Companion &companion : app::companions()) {
            const QByteArray now = readFile(dir + u'/' + companion.name);
            if (replaced.contains(companion.name))
                QCOMPARE(now, companion.contents);
            else
                QCOMPARE(now, existing.contains(companion.name) ? QByteArray("own") : QByteArray());
        }
    }

    // An unsaved squad gets its file first; cancelling that Save writes nothing.
    void anUnsavedSquadIsSavedFirst() {
        const QString dir = folder(QStringLiteral("unsaved"));
        Shown shown;
        ui::CommonDialog::setNextPath(QString());
        action(shown.window, "mnuToolsCompanions")->trigger();
        QVERIFY(QDir(dir).isEmpty());
        QVERIFY(MessageBox::takeShown().isEmpty());

        ui::CommonDialog::setNextPath(dir + "/squad.xml");
        MessageBox::setNextAnswer(MessageBox::Ok);
        action(shown.window, "mnuToolsCompanions")->trigger();
        QCOMPARE(QDir(dir).entryList(QDir::Files),
                 (QStringList{"squad.dtd", "squad.xml", "squad.xsl"}));
        QCOMPARE(runTool("xmllint", {"--noout", "--valid", "squad.xml"}, dir).exitCode, 0);
    }
};

QTEST_MAIN(TestCompanions)
#include "tst_companions.moc"
