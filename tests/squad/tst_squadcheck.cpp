// The squad check: each rule at its edge, and the check kept up to date by edits agreeing with a
// check made afresh.
#include "squad/idindex.h"
#include "squad/squadcheck.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using squad::Field;
using squad::Finding;
using squad::Property;

Q_DECLARE_METATYPE(squad::SquadData)

namespace {

QString id17(int n) {
    return QStringLiteral("765611980%1").arg(n, 8, 10, QLatin1Char('0'));
}

// A squad that passes every rule when its file lies beside logo.paa, squad.dtd and squad.xsl.
squad::SquadData cleanSquad(int members = 3) {
    squad::SquadData d;
    d.properties = {"NO", "Night Owls", "owls@example.org", "www.example.org", "logo.paa", "NO"};
    for (int i = 0; i < members; ++i)
        d.mmbdata.append(squad::Member{id17(i), "M" + QString::number(i + 1), "", "", "", ""});
    return d;
}

squad::SquadData withProperty(Property p, const QString &value) {
    squad::SquadData d = cleanSquad();
    d.properties[int(p)] = value;
    return d;
}

squad::SquadData withField(int member, Field f, const QString &value, int members = 3) {
    squad::SquadData d = cleanSquad(members);
    d.mmbdata.setCell(f, member, value);
    return d;
}

// "P squad tag", "H m2 id", "H squad -": kind, whom, which box.
QString describe(const Finding &f) {
    static const char *const properties[] = {"tag", "name", "mail", "web", "picture", "title"};
    const QString whom =
        f.member < 0 ? QStringLiteral("squad") : "m" + QString::number(f.member + 1);
    const QString box = f.property ? QString::fromLatin1(properties[int(*f.property)])
                        : f.field  ? squad::fieldName(*f.field)
                                   : QStringLiteral("-");
    return (f.kind == Finding::Kind::Problem ? "P " : "H ") + whom + ' ' + box;
}

const QStringList allFiles{"squad.dtd", "squad.xsl", "logo.paa"};

} // namespace

class TestSquadCheck : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void eachRuleAtItsEdge_data() {
        QTest::addColumn<squad::SquadData>("squad");
        QTest::addColumn<bool>("onDisk");
        QTest::addColumn<QStringList>("beside");
        QTest::addColumn<bool>("unsaved");
        QTest::addColumn<QStringList>("expected");
        // Texts the messages must hold, such as the other member of a shared ID.
        QTest::addColumn<QStringList>("mentions");
        const QString a64(64, u'a');
        const QString a65(65, u'a');
        auto row = [&](const char *name, const squad::SquadData &d, const QStringList &expected,
                       const QStringList &mentions = {}) {
            QTest::newRow(name) << d << true << allFiles << false << expected << mentions;
        };
        row("clean", cleanSquad(), {});
        row("tag empty", withProperty(Property::Tag, ""), {"P squad tag"});
        row("tag with one bad character", withProperty(Property::Tag, "N.O"), {"P squad tag"},
            {"\".\""});
        row("tag with several bad characters", withProperty(Property::Tag, "*A_B:_"),
            {"P squad tag"}, {"\"*\", \"_\", \":\","});
        row("tag of letters, digits and spaces", withProperty(Property::Tag, "No 1 Owls zZ09"), {});
        row("tag with a letter beyond ASCII", withProperty(Property::Tag, "Eulé"), {"P squad tag"},
            {"\"é\""});
        row("tag with a character beyond the BMP",
            withProperty(Property::Tag, QString::fromUtf8("O\xF0\x9F\xA6\x89O")), {"P squad tag"},
            {QString::fromUtf8("holds \"\xF0\x9F\xA6\x89\", which")});
        row("tag 64", withProperty(Property::Tag, a64), {});
        row("tag 65", withProperty(Property::Tag, a65), {"P squad tag"}, {"65 characters"});
        row("name 64", withProperty(Property::Name, a64), {});
        row("name 65", withProperty(Property::Name, a65), {"P squad name"}, {"The name has"});
        row("mail 65", withProperty(Property::Mail, a65), {"P squad mail"});
        row("web 65", withProperty(Property::Web, a65), {"P squad web"});
        row("title 64", withProperty(Property::Title, a64), {});
        row("title 65", withProperty(Property::Title, a65), {"P squad title"});
        row("64 characters outside the BMP",
            withProperty(Property::Name, QString::fromUtf8("\xF0\x9F\xA6\x89").repeated(64)), {});
        row("65 characters outside the BMP",
            withProperty(Property::Name, QString::fromUtf8("\xF0\x9F\xA6\x89").repeated(65)),
            {"P squad name"}, {"65 characters"});
        row("picture ./ beside", withProperty(Property::Picture, "./logo.paa"), {});
        // The upload's rule: it sends this one as logo.paa.
        row("picture ././ beside", withProperty(Property::Picture, "././logo.paa"), {});
        // The upload does not send these: no file of that name is beside the squad file.
        row("picture ..", withProperty(Property::Picture, ".."), {"P squad picture"},
            {"\"..\" names no file"});
        row("picture with a drive letter", withProperty(Property::Picture, "c:logo.paa"),
            {"P squad picture"}, {"\"c:logo.paa\" names no file"});
        row("picture as URL", withProperty(Property::Picture, "http://example.org/img/logo.paa"),
            {"P squad picture"}, {"web address", "\"logo.paa\""});
        row("picture in a folder", withProperty(Property::Picture, "logo/x.paa"),
            {"P squad picture"}, {"folder", "\"x.paa\""});
        row("picture as Windows path", withProperty(Property::Picture, "C:\\squad\\logo.paa"),
            {"P squad picture"}, {"\"logo.paa\""});
        row("picture not beside the file", withProperty(Property::Picture, "owls.paa"),
            {"P squad picture"}, {"\"owls.paa\""});
        row("picture ./ not beside the file", withProperty(Property::Picture, "./owls.paa"),
            {"P squad picture"}, {"\"owls.paa\""});
        row("no picture", withProperty(Property::Picture, ""), {});
        row("ID 16 digits", withField(0, Field::Id, "7656119800000001"), {"H m1 id"},
            {"16 digits"});
        row("ID 17 digits", withField(0, Field::Id, "76561198000000999"), {});
        row("ID 18 digits", withField(0, Field::Id, "765611980000000001"), {"H m1 id"},
            {"18 digits"});
        row("ID of one digit", withField(0, Field::Id, "7"), {"H m1 id"}, {"has 1 digit where"});
        row("ID empty", withField(1, Field::Id, ""), {"P m2 id"});
        row("ID placeholder", withField(1, Field::Id, "XXXXXXXX"), {"P m2 id"}, {"\"XXXXXXXX\""});
        row("ID with a space", withField(1, Field::Id, id17(1) + ' '), {"P m2 id"});
        row("ID of digits from another script",
            withField(1, Field::Id, QString::fromUtf8("\xD9\xA7\xD9\xA6")), {"P m2 id"});
        row("nick empty", withField(2, Field::Nick, ""), {"H m3 nick"});

        squad::SquadData farApart = cleanSquad(300);
        farApart.mmbdata.setCell(Field::Id, 299, id17(0));
        row("shared ID far apart", farApart, {"P m1 id", "P m300 id"},
            {"member 300 \"M300\"", "member 1 \"M1\""});
        squad::SquadData three = cleanSquad(4);
        three.mmbdata.setCell(Field::Id, 2, id17(0));
        three.mmbdata.setCell(Field::Id, 3, id17(0));
        row("one ID held by three", three, {"P m1 id", "P m3 id", "P m4 id"},
            {"members 3 \"M3\" and 4 \"M4\"", "members 1 \"M1\" and 3 \"M3\""});
        squad::SquadData six = cleanSquad(6);
        for (int m = 1; m < 6; ++m)
            six.mmbdata.setCell(Field::Id, m, "1234");
        row("one ID of four digits held by five", six,
            {"H m2 id", "P m2 id", "H m3 id", "P m3 id", "H m4 id", "P m4 id", "H m5 id", "P m5 id",
             "H m6 id", "P m6 id"},
            {"members 3 \"M3\", 4 \"M4\", 5 \"M5\" and 1 more"});
        squad::SquadData twoEmpty = cleanSquad(2);
        twoEmpty.mmbdata.setCell(Field::Id, 0, "");
        twoEmpty.mmbdata.setCell(Field::Id, 1, "");
        row("two empty IDs are not shared", twoEmpty, {"P m1 id", "P m2 id"});

        QTest::newRow("squad.dtd missing")
            << cleanSquad() << true << QStringList{"squad.xsl", "logo.paa"} << false
            << QStringList{"H squad -"} << QStringList{"squad.dtd"};
        QTest::newRow("squad.xsl missing")
            << cleanSquad() << true << QStringList{"squad.dtd", "logo.paa"} << false
            << QStringList{"H squad -"} << QStringList{"squad.xsl"};
        QTest::newRow("never saved: no files looked for")
            << cleanSquad() << false << QStringList{} << false << QStringList{} << QStringList{};
        QTest::newRow("unsaved changes") << cleanSquad() << true << allFiles << true
                                         << QStringList{"H squad -"} << QStringList{"unsaved"};
    }
    void eachRuleAtItsEdge() {
        QFETCH(squad::SquadData, squad);
        QFETCH(bool, onDisk);
        QFETCH(QStringList, beside);
        QFETCH(bool, unsaved);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, mentions);
        QTemporaryDir dir;
        for (const QString &name : beside) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const QString path = onDisk ? dir.filePath("squad.xml") : QString();
        const QList<Finding> findings = squad::checkSquad(squad, {path, unsaved});
        QStringList found;
        QString messages;
        for (const Finding &f : findings) {
            found << describe(f);
            messages += f.message + '\n';
        }
        QCOMPARE(found, expected);
        for (const QString &text : mentions)
            QVERIFY2(messages.contains(text), qPrintable(messages));
    }

    // Edits in the order a user could make them; after each, the check kept up to date must say
    // what a check of the document made afresh says.
    void followsEditsLikeAFreshCheck_data() {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<int>("randomEdits");
        QTest::newRow("join and leave a shared ID")
            << QStringList{"id 1 A", "id 2 A", "id 0 A", "id 1 B", "id 0 ", "id 2 B", "id 1 C"}
            << 0;
        QTest::newRow("nick of a member named by others")
            << QStringList{"id 1 A", "id 2 A", "nick 2 ", "nick 2 Zed", "nick 1 "} << 0;
        QTest::newRow("remove members around a shared ID")
            << QStringList{"id 0 A", "id 3 A", "remove 1", "remove 0",
                           "add",    "id 3 A", "remove 1", "remove 0"}
            << 0;
        QTest::newRow("squad properties and saving")
            << QStringList{"tag N.O",          "modified 1", "picture x/y.paa", "tag ",
                           "picture logo.paa", "modified 0", "tag NO"}
            << 0;
        QTest::newRow("load replaces all") << QStringList{"id 0 A", "load", "id 0 1"} << 0;
        QTest::newRow("random edits over few IDs") << QStringList{} << 400;
    }
    void followsEditsLikeAFreshCheck() {
        QFETCH(QStringList, script);
        QFETCH(int, randomEdits);
        QTemporaryDir dir;
        for (const QString &name : allFiles) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        squad::SquadDocument document;
        document.load(cleanSquad(5));
        squad::SquadChecker checker(document);
        checker.setFilePath(dir.filePath("squad.xml"));

        // A fixed seed, so that a failure comes back the same.
        QRandomGenerator random(11);
        const QStringList ids{"", "1", "2", "76561198000000001", "x"};
        for (int i = 0; i < randomEdits; ++i) {
            const int members = document.memberCount();
            const int m = members ? int(random.bounded(members)) : 0;
            switch (random.bounded(members > 2 ? 5 : 1)) {
            case 0:
                script << "add";
                break;
            case 1:
                script << QStringLiteral("remove %1").arg(m);
                break;
            case 2:
                script << QStringLiteral("nick %1 %2").arg(m).arg(random.bounded(2) ? "" : "N");
                break;
            default:
                script << QStringLiteral("id %1 %2").arg(m).arg(ids[random.bounded(5)]);
            }
            // Random edits are chosen against the document as it is, so run them at once.
            if (!apply(document, script.takeLast()))
                QFAIL("edit not applied");
            verifyAgreement(document, checker);
        }
        for (const QString &edit : std::as_const(script)) {
            QVERIFY2(apply(document, edit), qPrintable(edit));
            verifyAgreement(document, checker);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable("after " + edit));
        }
    }

    // The ID index against a plain count, through additions and removals that grow its table and
    // free places in the middle of runs of colliding hashes.
    void idIndexCountsLikeAHash_data() {
        QTest::addColumn<int>("hashing"); // 0 Qt's, 1 all equal, 2 by length only
        QTest::addColumn<int>("distinct");
        QTest::newRow("Qt's hash, many IDs") << 0 << 500;
        QTest::newRow("every hash equal") << 1 << 40;
        QTest::newRow("hashes equal by length") << 2 << 300;
    }
    void idIndexCountsLikeAHash() {
        QFETCH(int, hashing);
        QFETCH(int, distinct);
        const squad::IdIndex::Hash hashes[] = {nullptr, [](QStringView) { return size_t(7); },
                                               [](QStringView id) {
                                                   return size_t(id.size());
                                               }};
        squad::IdIndex index(hashes[hashing]);
        QHash<QString, int> counted;
        QList<QString> held; // one entry per holder
        QRandomGenerator random(5);
        for (int step = 0; step < 20 * distinct; ++step) {
            const bool adding = held.isEmpty() || random.bounded(5) < 3;
            if (adding) {
                const QString id = QString::number(random.bounded(distinct) * 7919);
                const int key = index.add(id);
                QCOMPARE(index.id(key), id);
                QCOMPARE(index.holders(key), ++counted[id]);
                held << id;
            } else {
                const QString id = held.takeAt(random.bounded(held.size()));
                const int key = index.find(id);
                QVERIFY(key >= 0);
                QCOMPARE(index.remove(key), --counted[id]);
                if (counted[id] == 0)
                    counted.remove(id);
            }
            if (step % 97 == 0 || step + 1 == 20 * distinct) {
                QCOMPARE(index.size(), counted.size());
                for (auto it = counted.cbegin(); it != counted.cend(); ++it)
                    QCOMPARE(index.holders(index.find(it.key())), it.value());
                QCOMPARE(index.find(u"not an ID"), -1);
            }
        }
    }

private:
    static bool apply(squad::SquadDocument &document, const QString &edit) {
        const QString verb = edit.section(' ', 0, 0);
        const QString rest = edit.section(' ', 1);
        const int member = rest.section(' ', 0, 0).toInt();
        const QString value = rest.section(' ', 1);
        if (verb == "add")
            return document.addMember() >= 0;
        if (verb == "remove")
            return document.removeMember(member) >= -1;
        if (verb == "id")
            return document.setMemberField(member, Field::Id, value);
        if (verb == "nick")
            return document.setMemberField(member, Field::Nick, value);
        if (verb == "tag" || verb == "picture") {
            document.setPropertyText(verb == "tag" ? Property::Tag : Property::Picture, rest);
            return true;
        }
        if (verb == "modified") {
            document.setModified(rest == "1");
            return true;
        }
        if (verb == "load") {
            squad::SquadData d = cleanSquad(7);
            d.mmbdata.setCell(Field::Id, 6, id17(1));
            document.load(d);
            return true;
        }
        return false;
    }

    static void verifyAgreement(const squad::SquadDocument &document,
                                const squad::SquadChecker &checker) {
        const QList<Finding> fresh =
            squad::checkSquad(document.content(), {checker.filePath(), document.modified()});
        QCOMPARE(checker.findings(), fresh);
        const auto problems = std::count_if(fresh.begin(), fresh.end(), [](const Finding &f) {
            return f.kind == Finding::Kind::Problem;
        });
        QCOMPARE(checker.problemCount(), int(problems));
        QCOMPARE(checker.hintCount(), int(fresh.size() - problems));
    }
};

QTEST_GUILESS_MAIN(TestSquadCheck)
#include "tst_squadcheck.moc"
