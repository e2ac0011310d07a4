#include "squad/memberimport.h"
#include "squad/memberscsv.h"

#include "hardvalues.h"

#include <QTest>

using namespace squad;

namespace {

using Rows = QList<QStringList>;

Rows rowsOf(const QList<Member> &members) {
    Rows rows;
    for (const Member &m : members)
        rows << QStringList(m.begin(), m.end());
    return rows;
}

MemberTable tableOf(const Rows &rows) {
    MemberTable table;
    for (const QStringList &row : rows) {
        Member m;
        for (int f = 0; f < FieldCount; ++f)
            m[f] = row.value(f);
        table.append(m);
    }
    return table;
}

} // namespace

class TestMembersCsv : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A failing input lists no members and says where; error row and column are 0 on success.
    void readsMembers_data() {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<Rows>("members");
        QTest::addColumn<int>("errorRow");
        QTest::addColumn<int>("errorColumn");
        const QStringList ann{"1", "Ann", "Ann A", "a@x", "11", "hi"};
        QTest::newRow("all columns, comma, CR LF")
            << QByteArray("id,nick,name,email,icq,remark\r\n1,Ann,Ann A,a@x,11,hi\r\n") << Rows{ann}
            << 0 << 0;
        QTest::newRow("semicolon, any order and case, unknown column, LF")
            << QByteArray("Remark;NICK;colour;ID\nhi;Ann;red;1\n")
            << Rows{{"1", "Ann", "", "", "", "hi"}} << 0 << 0;
        QTest::newRow("semicolon header, commas in values")
            << QByteArray("nick;name\nAnn;Ann, the first\n")
            << Rows{{"", "Ann", "Ann, the first", "", "", ""}} << 0 << 0;
        QTest::newRow("quotes doubled, separator and line break inside")
            << QByteArray("nick,remark\r\n\"A \"\"B\"\"\",\"x, y\r\nz\"\r\n")
            << Rows{{"", "A \"B\"", "", "", "", "x, y\r\nz"}} << 0 << 0;
        QTest::newRow("no line end at the end, short and long rows")
            << QByteArray("nick,id\nAnn\nBo,2,extra")
            << Rows{{"", "Ann", "", "", "", ""}, {"2", "Bo", "", "", "", ""}} << 0 << 0;
        QTest::newRow("empty rows skipped, lone CR") << QByteArray("nick,id\r\n\r\n,\rBo,2\r\n")
                                                     << Rows{{"2", "Bo", "", "", "", ""}} << 0 << 0;
        QTest::newRow("UTF-8 with byte-order mark")
            << QByteArray("\xEF\xBB\xBFnick\nM\xC3\xBCller\n")
            << Rows{{"", QString::fromUtf8("Müller"), "", "", "", ""}} << 0 << 0;
        QTest::newRow("UTF-8 without byte-order mark")
            << QByteArray("nick\n\xE9\xBE\x99\n")
            << Rows{{"", QString::fromUtf8("龙"), "", "", "", ""}} << 0 << 0;
        QTest::newRow("Windows-1252")
            << QByteArray("nick;remark\nM\xFCller;\x80 5\n")
            << Rows{{"", QString::fromUtf8("Müller"), "", "", "", QString::fromUtf8("€ 5")}} << 0
            << 0;
        QTest::newRow("formula guard taken off, other apostrophes kept")
            << QByteArray("nick,name,remark,icq\n'=1+2,'@home,'plain,''-1\n")
            << Rows{{"", "=1+2", "@home", "", "'-1", "'plain"}} << 0 << 0;
        QTest::newRow("header only") << QByteArray("id,nick\r\n") << Rows{} << 0 << 0;
        QTest::newRow("quote never closed")
            << QByteArray("nick,remark\nAnn,ok\nBo,\"open\nand on\n") << Rows{} << 3 << 2;
        QTest::newRow("text after a closing quote")
            << QByteArray("id;nick\n1;\"Ann\"x\n") << Rows{} << 2 << 2;
        QTest::newRow("broken quote in the header")
            << QByteArray("\"nick,id\n") << Rows{} << 1 << 1;
        QTest::newRow("no usable header")
            << QByteArray("name1,mail\nAnn,a@x\n") << Rows{} << 1 << 0;
        QTest::newRow("empty file") << QByteArray() << Rows{} << 0 << 0;
    }
    void readsMembers() {
        QFETCH(QByteArray, csv);
        QFETCH(Rows, members);
        QFETCH(int, errorRow);
        QFETCH(int, errorColumn);
        const CsvMembers read = readMembersCsv(csv);
        const bool fails = errorRow > 0 || csv.isEmpty();
        QCOMPARE(read.ok, !fails);
        QCOMPARE(read.error.isEmpty(), !fails);
        QCOMPARE(rowsOf(read.members), members);
        QCOMPARE(read.row, errorRow);
        QCOMPARE(read.column, errorColumn);
        if (errorColumn > 0)
            QVERIFY2(read.error.startsWith(
                         QStringLiteral("Row %1, column %2: ").arg(errorRow).arg(errorColumn)),
                     qPrintable(read.error));
    }

    void writesWhatSpreadsheetsRead() {
        const MemberTable table =
            tableOf({{"1", "=cmd|' /C calc'!A0", "Ann, A", "a\"b", "-5", "l1\nl2"}, {}});
        QCOMPARE(membersCsv(table),
                 QByteArray("\xEF\xBB\xBFid,nick,name,email,icq,remark\r\n"
                            "1,'=cmd|' /C calc'!A0,\"Ann, A\",\"a\"\"b\",'-5,\"l1\nl2\"\r\n"
                            ",,,,,\r\n"));
    }

    void roundTripKeepsEveryValue_data() { hardvalues::addRows(); }
    void roundTripKeepsEveryValue() {
        QFETCH(QString, value);
        // The value in every field, alone and with text around it, behind a member with none.
        const MemberTable table =
            tableOf({QStringList(FieldCount, value), QStringList(FieldCount, "x" + value + "x"),
                     QStringList(FieldCount, value + value)});
        const CsvMembers read = readMembersCsv(membersCsv(table));
        QVERIFY2(read.ok, qPrintable(read.error));
        if (value.isEmpty()) {
            // A row without any value is no member.
            QCOMPARE(read.members.size(), 1);
            QCOMPARE(read.members[0], table.member(1));
        } else {
            QCOMPARE(read.members, table.members());
        }
    }

    // IDs already in the squad are skipped or replace the first member holding them; empty
    // IDs are always new.
    void importSkipsOrReplacesExistingIds_data() {
        QTest::addColumn<Rows>("incoming");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<QStringList>("nicksAfter");
        QTest::addColumn<QList<int>>("addedReplacedSkipped");
        QTest::addColumn<QStringList>("existingIds");
        const Rows incoming{{"2", "Bee"}, {"", "Nobody"}, {"9", "Nine"}, {"1", "Ace"}};
        QTest::newRow("skip") << incoming << false << QStringList{"A", "B", "A2", "Nobody", "Nine"}
                              << QList<int>{2, 0, 2} << QStringList{"2", "1"};
        QTest::newRow("replace") << incoming << true
                                 << QStringList{"Ace", "Bee", "A2", "Nobody", "Nine"}
                                 << QList<int>{2, 2, 0} << QStringList{"2", "1"};
        QTest::newRow("nothing new") << Rows{{"1", "X"}} << false << QStringList{"A", "B", "A2"}
                                     << QList<int>{0, 0, 1} << QStringList{"1"};
        QTest::newRow("none") << Rows{} << true << QStringList{"A", "B", "A2"}
                              << QList<int>{0, 0, 0} << QStringList{};
    }
    void importSkipsOrReplacesExistingIds() {
        QFETCH(Rows, incoming);
        QFETCH(bool, replace);
        QFETCH(QStringList, nicksAfter);
        QFETCH(QList<int>, addedReplacedSkipped);
        QFETCH(QStringList, existingIds);
        const MemberTable squad = tableOf({{"1", "A"}, {"2", "B"}, {"1", "A2"}});
        const QList<Member> members = tableOf(incoming).members();
        const ImportPlan plan = planImport(squad, members);
        QCOMPARE(plan.existingIds, existingIds);
        QCOMPARE(plan.added, addedReplacedSkipped[0]);
        QCOMPARE(plan.existing, int(existingIds.size()));
        const ImportOutcome outcome =
            importMembers(squad, members, replace ? ExistingId::Replace : ExistingId::Skip);
        QStringList nicks;
        for (const Member &m : outcome.members)
            nicks << m[int(Field::Nick)];
        QCOMPARE(nicks, nicksAfter);
        QCOMPARE((QList<int>{outcome.added, outcome.replaced, outcome.skipped}),
                 addedReplacedSkipped);
    }
};

QTEST_GUILESS_MAIN(TestMembersCsv)
#include "tst_memberscsv.moc"
