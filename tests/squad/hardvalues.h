// Values that test a writer's escaping: markup, quotes, blanks, scripts, references, line breaks,
// separators and what a spreadsheet would take for a formula. One row each.
#pragma once

#include <QString>
#include <QTest>

namespace hardvalues {

inline void addRows() {
    QTest::addColumn<QString>("value");
    QTest::newRow("ampersand and angles") << "A&B <1>";
    QTest::newRow("double quotes") << "say \"hi\"";
    QTest::newRow("single quotes") << "it's 'fine'";
    QTest::newRow("blanks around") << "  padded  ";
    QTest::newRow("empty") << "";
    QTest::newRow("umlaut") << QString::fromUtf8("Müller");
    QTest::newRow("chinese") << QString::fromUtf8("龙之队");
    QTest::newRow("cyrillic") << QString::fromUtf8("Волки");
    QTest::newRow("outside the BMP") << QString::fromUtf8("𝔊𝔬𝔱𝔥 🎮");
    QTest::newRow("17-digit id") << "12345678901234567";
    QTest::newRow("entity-like text") << "&amp; &#233; &bogus;";
    QTest::newRow("cdata end") << "]]> --> <!--";
    QTest::newRow("tab inside") << "a\tb";
    QTest::newRow("line feed inside") << "l1\nl2";
    QTest::newRow("CR LF inside") << "r1\r\nr2";
    QTest::newRow("separators") << "a,b;c";
    QTest::newRow("formula") << "=1+2";
    QTest::newRow("apostrophe before at") << "'@home";
}

} // namespace hardvalues
