#include "squad/squaddocument.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace squad;

namespace {

QStringList listEntries(const SquadDocument &doc) {
    QStringList entries;
    for (int i = 0; i < doc.rowCount(); ++i)
        entries << doc.data(doc.index(i)).toString();
    return entries;
}

// The invariants every operation keeps: one column more than list entries, list entry i is the
// nick of member i, and the spare column is empty.
void verifyInvariants(const SquadDocument &doc) {
    const MemberTable &t = doc.mmbdata();
    QCOMPARE(t.columnCount(), doc.rowCount() + 1);
    for (int i = 0; i < doc.rowCount(); ++i)
        QCOMPARE(doc.data(doc.index(i)).toString(), t.cell(Field::Nick, i));
    QVERIFY(t.member(t.columnCount() - 1) == Member{});
}

void addNamed(SquadDocument &doc, const QStringList &nicks) {
    for (const QString &nick : nicks) {
        const int c = doc.addMember();
        doc.setMemberField(c, Field::Nick, nick);
        doc.setMemberField(c, Field::Name, nick + " full");
    }
}

} // namespace

class TestSquadDocument : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void createdDocumentIsEmptyAndUnmodified() {
        SquadDocument doc;
        QAbstractItemModelTester tester(&doc);
        QCOMPARE(doc.rowCount(), 0);
        QCOMPARE(doc.mmbdata().columnCount(), 1);
        QVERIFY(!doc.modified());
        QVERIFY(!doc.loading());
        for (int p = 0; p < PropertyCount; ++p)
            QVERIFY(doc.propertyText(Property(p)).isEmpty());
        verifyInvariants(doc);
    }

    void addAppendsASelectedNewbie() {
        SquadDocument doc;
        QAbstractItemModelTester tester(&doc);
        QSignalSpy modifiedSpy(&doc, &SquadDocument::modifiedChanged);
        QCOMPARE(doc.addMember(), 0);
        QCOMPARE(doc.mmbdata().columnCount(), 2);
        QCOMPARE(listEntries(doc), QStringList{"Newbie"});
        const Member expected{"", "Newbie", "", "", "", ""};
        QVERIFY(doc.mmbdata().member(0) == expected);
        QVERIFY(doc.modified());
        QCOMPARE(modifiedSpy.count(), 1);
        verifyInvariants(doc);

        doc.setMemberField(0, Field::Nick, "Ann");
        QCOMPARE(doc.addMember(), 1);
        QCOMPARE(listEntries(doc), (QStringList{"Ann", "Newbie"}));
        verifyInvariants(doc);
    }

    void removeKeepsThePositionOnTheFollowingMember_data() {
        QTest::addColumn<int>("removed");
        QTest::addColumn<int>("selectedAfter");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("first") << 0 << 0 << QStringList{"B", "C"};
        QTest::newRow("middle") << 1 << 1 << QStringList{"A", "C"};
        QTest::newRow("last") << 2 << -1 << QStringList{"A", "B"};
    }
    void removeKeepsThePositionOnTheFollowingMember() {
        QFETCH(int, removed);
        QFETCH(int, selectedAfter);
        QFETCH(QStringList, left);
        SquadDocument doc;
        QAbstractItemModelTester tester(&doc);
        addNamed(doc, {"A", "B", "C"});
        doc.setModified(false);
        QCOMPARE(doc.removeMember(removed), selectedAfter);
        QCOMPARE(listEntries(doc), left);
        QCOMPARE(doc.cell(Field::Name, 1), left[1] + " full");
        QVERIFY(doc.modified());
        verifyInvariants(doc);
    }

    void removeOfTheOnlyMemberLeavesTheCreatedTable() {
        SquadDocument doc;
        doc.addMember();
        QCOMPARE(doc.removeMember(0), -1);
        QCOMPARE(doc.rowCount(), 0);
        QVERIFY(doc.mmbdata() == MemberTable{});
    }

    void removeWithNothingSelectedChangesNothing() {
        SquadDocument doc;
        addNamed(doc, {"A"});
        doc.setModified(false);
        QCOMPARE(doc.removeMember(-1), -1);
        QCOMPARE(doc.removeMember(1), -1);
        QCOMPARE(listEntries(doc), QStringList{"A"});
        QVERIFY(!doc.modified());
    }

    void nickChangeUpdatesTheListEntry() {
        SquadDocument doc;
        addNamed(doc, {"A", "B", "C"});
        QSignalSpy dataSpy(&doc, &QAbstractItemModel::dataChanged);
        for (const QString typed : {"A", "An", "Ann"}) {
            QVERIFY(doc.setMemberField(2, Field::Nick, typed));
            QCOMPARE(listEntries(doc).at(2), typed);
        }
        QCOMPARE(dataSpy.count(), 3);
        QCOMPARE(dataSpy.last().at(0).value<QModelIndex>().row(), 2);
        // Other fields do not touch the list.
        doc.setMemberField(2, Field::Mail, "ann@example.org");
        QCOMPARE(dataSpy.count(), 3);
        verifyInvariants(doc);
    }

    void memberFieldWithoutAMemberIsNotStored() {
        SquadDocument doc;
        QVERIFY(!doc.setMemberField(-1, Field::Nick, "x"));
        QVERIFY(!doc.setMemberField(0, Field::Nick, "x"));
        QVERIFY(!doc.modified());
        verifyInvariants(doc);
    }

    void loadingMutesChanges() {
        SquadDocument doc;
        addNamed(doc, {"A"});
        doc.setModified(false);
        doc.setLoading(true);
        doc.setPropertyText(Property::Name, "Loaded");
        QVERIFY(!doc.setMemberField(0, Field::Nick, "changed"));
        doc.setLoading(false);
        QVERIFY(!doc.modified());
        QCOMPARE(doc.cell(Field::Nick, 0), QString("A"));
        QCOMPARE(doc.propertyText(Property::Name), QString("Loaded"));
    }

    void propertyChangeMarksModifiedOnlyWhenTheValueChanges() {
        SquadDocument doc;
        QSignalSpy spy(&doc, &SquadDocument::propertyChanged);
        doc.setPropertyText(Property::Tag, "");
        QVERIFY(!doc.modified());
        doc.setPropertyText(Property::Tag, "=XYZ=");
        QVERIFY(doc.modified());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<Property>(), Property::Tag);
    }

    void clearEmptiesEverythingButLeavesModified() {
        SquadDocument doc;
        QAbstractItemModelTester tester(&doc);
        doc.setPropertyText(Property::Picture, "logo.paa");
        addNamed(doc, {"A", "B"});
        doc.clear();
        QCOMPARE(doc.content(), SquadData{});
        QCOMPARE(doc.rowCount(), 0);
        QVERIFY(doc.modified());
        doc.setModified(false);
        doc.clear();
        QVERIFY(!doc.modified());
    }

    void loadReplacesMembersInFileOrderAndKeepsModified_data() {
        QTest::addColumn<bool>("modifiedBefore");
        QTest::newRow("unedited") << false;
        QTest::newRow("edited") << true;
    }
    void loadReplacesMembersInFileOrderAndKeepsModified() {
        QFETCH(bool, modifiedBefore);
        SquadDocument doc;
        QAbstractItemModelTester tester(&doc);
        addNamed(doc, {"old1", "old2", "old3"});
        doc.setModified(modifiedBefore);
        SquadData loaded;
        loaded.properties[int(Property::Tag)] = "TAG";
        loaded.mmbdata.append(Member{"1", "x", "", "", "", ""});
        loaded.mmbdata.append(Member{"2", "y", "", "", "", ""});
        QSignalSpy reset(&doc, &QAbstractItemModel::modelReset);
        doc.load(loaded);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(listEntries(doc), (QStringList{"x", "y"}));
        QCOMPARE(doc.propertyText(Property::Tag), QString("TAG"));
        QCOMPARE(doc.modified(), modifiedBefore);
        verifyInvariants(doc);
    }
};

QTEST_GUILESS_MAIN(TestSquadDocument)
#include "tst_squaddocument.moc"
