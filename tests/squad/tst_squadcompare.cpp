// The brief account of what differs between two squads.
#include "squad/squadcompare.h"

#include <QTest>

using namespace squad;

namespace {

// "id:nick" per member, the properties empty but the name.
SquadData squadOf(const QString &name, const QStringList &members) {
    SquadData squad;
    squad.properties[int(Property::Name)] = name;
    for (const QString &member : members) {
        const QStringList parts = member.split(u':');
        squad.mmbdata.append({parts.value(0), parts.value(1), parts.value(2), "", "", ""});
    }
    return squad;
}

} // namespace

Q_DECLARE_METATYPE(squad::SquadData)

class TestSquadCompare : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void saysWhatDiffers_data() {
        QTest::addColumn<SquadData>("ours");
        QTest::addColumn<SquadData>("theirs");
        QTest::addColumn<QStringList>("differences");
        QTest::addColumn<int>("count"); // -1: as many as listed

        const SquadData base = squadOf("Owls", {"1:Ann", "2:Bob", "3:Cid"});
        QTest::newRow("same") << base << base << QStringList{} << -1;
        QTest::newRow("both empty") << SquadData{} << SquadData{} << QStringList{} << -1;
        SquadData tagAndPicture = base;
        tagAndPicture.properties[int(Property::Tag)] = "=NO=";
        tagAndPicture.properties[int(Property::Picture)] = "logo.paa";
        QTest::newRow("properties")
            << base << tagAndPicture << QStringList{"the tag differs", "the picture differs"} << -1;
        QTest::newRow("member missing and extra")
            << base << squadOf("Owls", {"1:Ann", "3:Cid", "4:Dan"})
            << QStringList{"Bob (ID 2) is missing", "Dan (ID 4) is extra"} << -1;
        QTest::newRow("fields of a member")
            << base << squadOf("Owls", {"1:Ann", "2:Bobby:Bob Jones", "3:Cid"})
            << QStringList{"Bob (ID 2) differs in nick, full name"} << -1;
        QTest::newRow("order") << base << squadOf("Owls", {"3:Cid", "1:Ann", "2:Bob"})
                               << QStringList{"the members stand in another order"} << -1;
        // Members sharing an ID pair up in their order, so one more of them is one extra.
        QTest::newRow("shared IDs")
            << squadOf("Owls", {":Ann", ":Bob"}) << squadOf("Owls", {":Ann", ":Bob", ":Eve"})
            << QStringList{"Eve is extra"} << -1;
        QTest::newRow("no nick, no ID") << squadOf("Owls", {":"}) << squadOf("Owls", {})
                                        << QStringList{"a member without nick is missing"} << -1;
        QTest::newRow("all members gone")
            << base << squadOf("Owls", {})
            << QStringList{"Ann (ID 1) is missing", "Bob (ID 2) is missing",
                           "Cid (ID 3) is missing"}
            << -1;
        // A served squad of a great many unknown members: the count, but not a text for each.
        QStringList extras;
        for (int i = 0; i < 250; ++i)
            extras << QStringLiteral("%1:N%1").arg(1000 + i);
        QStringList firstExtras;
        for (int i = 0; i < 99; ++i)
            firstExtras << QStringLiteral("N%1 (ID %1) is extra").arg(1000 + i);
        QTest::newRow("differences beyond those kept")
            << squadOf("Owls", {"1:Ann"}) << squadOf("Kites", QStringList{"1:Ann"} + extras)
            << QStringList{"the name differs"} + firstExtras << 251;
    }
    void saysWhatDiffers() {
        QFETCH(SquadData, ours);
        QFETCH(SquadData, theirs);
        QFETCH(QStringList, differences);
        QFETCH(int, count);
        const SquadDifferences found = squadDifferences(ours, theirs);
        QCOMPARE(found.phrases, differences);
        QCOMPARE(found.count, count < 0 ? differences.size() : count);
    }

    // A comparison that was cancelled stops without going through the members.
    void cancelledComparisonStops() {
        QStringList members;
        for (int i = 0; i < 10000; ++i)
            members << QStringLiteral("%1:N").arg(i);
        const std::atomic<bool> cancelled{true};
        const SquadDifferences found =
            squadDifferences(squadOf("Owls", {}), squadOf("Owls", members), 100, &cancelled);
        QVERIFY2(found.count < 10000, qPrintable(QString::number(found.count)));
    }

    void summaryCountsWhatItLeavesOut_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("summary");
        QTest::newRow("none") << 0 << "";
        QTest::newRow("one") << 1 << "d1";
        QTest::newRow("as many as shown") << 3 << "d1; d2; d3";
        QTest::newRow("one more") << 4 << "d1; d2; d3; and 1 more";
        QTest::newRow("many more") << 50 << "d1; d2; d3; and 47 more";
    }
    void summaryCountsWhatItLeavesOut() {
        QFETCH(int, count);
        QFETCH(QString, summary);
        SquadDifferences differences{{}, count};
        for (int i = 1; i <= std::min(count, 10); ++i)
            differences.phrases << QStringLiteral("d%1").arg(i);
        QCOMPARE(summarizeDifferences(differences, 3), summary);
    }
};

QTEST_GUILESS_MAIN(TestSquadCompare)
#include "tst_squadcompare.moc"
