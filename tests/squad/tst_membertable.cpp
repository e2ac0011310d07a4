#include "squad/membertable.h"

#include <QTest>

using namespace squad;

class TestMemberTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void createdTableHoldsOnlyTheSpareColumn() {
        MemberTable t;
        QCOMPARE(t.columnCount(), 1);
        QCOMPARE(t.memberCount(), 0);
        QVERIFY(!t.isMember(0));
        QVERIFY(t.member(0) == Member{});
    }

    void spareColumnTakesNoValue() {
        MemberTable t;
        QVERIFY(!t.setCell(Field::Nick, 0, "lost"));
        QVERIFY(!t.setCell(Field::Nick, -1, "lost"));
        QVERIFY(!t.setCell(Field::Nick, 5, "lost"));
        QVERIFY(t.cell(Field::Nick, 0).isEmpty());
        t.grow();
        QVERIFY(t.setCell(Field::Nick, 0, "kept"));
        QVERIFY(!t.setCell(Field::Remark, 1, "lost"));
        QVERIFY(t.member(1) == Member{});
    }

    void growTurnsTheSpareIntoAMember() {
        MemberTable t;
        QCOMPARE(t.grow(), 0);
        QCOMPARE(t.grow(), 1);
        QCOMPARE(t.columnCount(), 3);
        QVERIFY(t.member(2) == Member{});
    }

    void removeShiftsLaterColumnsForward_data() {
        QTest::addColumn<int>("removed");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("first") << 0 << QStringList{"B", "C"};
        QTest::newRow("middle") << 1 << QStringList{"A", "C"};
        QTest::newRow("last") << 2 << QStringList{"A", "B"};
    }
    void removeShiftsLaterColumnsForward() {
        QFETCH(int, removed);
        QFETCH(QStringList, left);
        MemberTable t;
        for (const QString nick : {"A", "B", "C"}) {
            const int c = t.grow();
            t.setCell(Field::Nick, c, nick);
            t.setCell(Field::Remark, c, nick + " remark");
        }
        QVERIFY(t.remove(removed));
        QCOMPARE(t.memberCount(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(t.cell(Field::Nick, i), left[i]);
            QCOMPARE(t.cell(Field::Remark, i), left[i] + " remark");
        }
        QVERIFY(t.member(2) == Member{});
    }

    void removeOfNoMemberChangesNothing() {
        MemberTable t;
        t.grow();
        QVERIFY(!t.remove(1)); // the spare
        QVERIFY(!t.remove(-1));
        QCOMPARE(t.memberCount(), 1);
    }

    void appendAndResetKeepTheSpareLast() {
        MemberTable t;
        t.append(Member{"1", "a", "", "", "", ""});
        t.append(Member{"2", "b", "", "", "", ""});
        QCOMPARE(t.memberCount(), 2);
        QCOMPARE(t.cell(Field::Id, 1), QString("2"));
        QVERIFY(t.member(2) == Member{});
        t.reset();
        QCOMPARE(t.columnCount(), 1);
        QVERIFY(t == MemberTable{});
    }

    void holdsFarMoreThan32767Members() {
        MemberTable t;
        t.reserve(100000);
        for (int i = 0; i < 100000; ++i)
            t.append(Member{QString::number(i), "n", "", "", "", ""});
        QCOMPARE(t.memberCount(), 100000);
        QVERIFY(t.remove(40000));
        QCOMPARE(t.cell(Field::Id, 40000), QString("40001"));
        QCOMPARE(t.cell(Field::Id, 99998), QString("99999"));
        QVERIFY(t.member(99999) == Member{});
    }
};

QTEST_GUILESS_MAIN(TestMemberTable)
#include "tst_membertable.moc"
