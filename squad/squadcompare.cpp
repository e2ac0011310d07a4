#include "squadcompare.h"

#include <QHash>

#include <algorithm>

namespace squad {
namespace {

QString propertyWords(Property p) {
    static const char *const words[PropertyCount] = {"tag",         "name",    "e-mail",
                                                     "web address", "picture", "vehicle tag"};
    return QString::fromLatin1(words[int(p)]);
}

QString fieldWords(Field f) {
    static const char *const words[FieldCount] = {"ID",     "nick", "full name",
                                                  "e-mail", "ICQ",  "remark"};
    return QString::fromLatin1(words[int(f)]);
}

QString memberWords(const Member &member) {
    const QString &nick = member[int(Field::Nick)];
    const QString &id = member[int(Field::Id)];
    const QString who = nick.isEmpty() ? QStringLiteral("a member without nick") : nick;
    return id.isEmpty() ? who : QStringLiteral("%1 (ID %2)").arg(who, id);
}

QList<Member> membersOf(const MemberTable &table) {
    QList<Member> members;
    members.reserve(table.memberCount());
    for (int c = 0; c < table.memberCount(); ++c)
        members << table.member(c);
    return members;
}

} // namespace

QStringList squadDifferences(const SquadData &ours, const SquadData &theirs) {
    QStringList differences;
    for (int p = 0; p < PropertyCount; ++p) {
        if (ours.properties[p] != theirs.properties[p])
            differences << QStringLiteral("the %1 differs").arg(propertyWords(Property(p)));
    }

    const QList<Member> mine = membersOf(ours.mmbdata);
    const QList<Member> other = membersOf(theirs.mmbdata);
    // The positions of their members by ID, each ID's in order, taken from the front as paired.
    QHash<QString, QList<int>> otherById;
    for (int i = 0; i < other.size(); ++i)
        otherById[other[i][int(Field::Id)]] << i;
    QList<bool> paired(other.size(), false);
    QList<int> pairedOrder;
    for (const Member &member : mine) {
        QList<int> &candidates = otherById[member[int(Field::Id)]];
        if (candidates.isEmpty()) {
            differences << QStringLiteral("%1 is missing").arg(memberWords(member));
            continue;
        }
        const int match = candidates.takeFirst();
        paired[match] = true;
        pairedOrder << match;
        QStringList fields;
        for (int f = 0; f < FieldCount; ++f) {
            if (member[f] != other[match][f])
                fields << fieldWords(Field(f));
        }
        if (!fields.isEmpty())
            differences << QStringLiteral("%1 differs in %2")
                               .arg(memberWords(member), fields.join(QStringLiteral(", ")));
    }
    for (int i = 0; i < other.size(); ++i) {
        if (!paired[i])
            differences << QStringLiteral("%1 is extra").arg(memberWords(other[i]));
    }
    if (!std::is_sorted(pairedOrder.begin(), pairedOrder.end()))
        differences << QStringLiteral("the members stand in another order");
    return differences;
}

QString summarizeDifferences(const QStringList &differences, int shown) {
    QString text = differences.mid(0, shown).join(QStringLiteral("; "));
    if (differences.size() > shown)
        text += QStringLiteral("; and %1 more").arg(differences.size() - shown);
    return text;
}

} // namespace squad
