#include "squadcompare.h"

#include "idindex.h"

#include <vector>

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

// Counts every difference and words only those that will be kept.
class Collector {
public:
    Collector(qsizetype kept, const std::atomic<bool> *cancelled)
        : m_kept(kept)
        , m_cancelled(cancelled) {}

    template <typename Words> void add(Words words) {
        if (m_result.phrases.size() < m_kept)
            m_result.phrases << words();
        ++m_result.count;
    }
    // Looked at once per member; true every so often when the comparison is to stop.
    bool stopped(int member) const {
        return member % 4096 == 0 && m_cancelled && m_cancelled->load(std::memory_order_relaxed);
    }
    SquadDifferences take() { return std::move(m_result); }

private:
    const qsizetype m_kept;
    const std::atomic<bool> *const m_cancelled;
    SquadDifferences m_result;
};

} // namespace

SquadDifferences squadDifferences(const SquadData &ours, const SquadData &theirs, qsizetype kept,
                                  const std::atomic<bool> *cancelled) {
    Collector found(kept, cancelled);
    for (int p = 0; p < PropertyCount; ++p) {
        if (ours.properties[p] != theirs.properties[p])
            found.add(
                [p] { return QStringLiteral("the %1 differs").arg(propertyWords(Property(p))); });
    }

    const MemberTable &mine = ours.mmbdata;
    const MemberTable &other = theirs.mmbdata;
    const int otherCount = other.memberCount();
    // Their members by ID: for each ID the first member not yet paired, and from each member
    // the next one of the same ID, so that members sharing an ID pair in their order.
    IdIndex otherIds;
    otherIds.clear(otherCount);
    std::vector<int> firstUnpaired;
    std::vector<int> nextOfSameId(size_t(otherCount), -1);
    for (int i = otherCount - 1; i >= 0; --i) {
        if (found.stopped(i))
            return found.take();
        const int key = otherIds.add(other.cell(Field::Id, i));
        if (size_t(key) >= firstUnpaired.size())
            firstUnpaired.resize(size_t(key) + 1, -1);
        nextOfSameId[size_t(i)] = firstUnpaired[size_t(key)];
        firstUnpaired[size_t(key)] = i;
    }

    std::vector<bool> paired(size_t(otherCount), false);
    int lastMatch = -1;
    bool inOrder = true;
    for (int m = 0; m < mine.memberCount(); ++m) {
        if (found.stopped(m))
            return found.take();
        const Member &member = mine.column(m);
        const int key = otherIds.find(member[int(Field::Id)]);
        const int match = key < 0 ? -1 : firstUnpaired[size_t(key)];
        if (match < 0) {
            found.add([&] { return QStringLiteral("%1 is missing").arg(memberWords(member)); });
            continue;
        }
        firstUnpaired[size_t(key)] = nextOfSameId[size_t(match)];
        paired[size_t(match)] = true;
        inOrder = inOrder && match > lastMatch;
        lastMatch = match;
        const Member &theirsOfId = other.column(match);
        if (member != theirsOfId) {
            found.add([&] {
                QStringList fields;
                for (int f = 0; f < FieldCount; ++f) {
                    if (member[f] != theirsOfId[f])
                        fields << fieldWords(Field(f));
                }
                return QStringLiteral("%1 differs in %2")
                    .arg(memberWords(member), fields.join(QStringLiteral(", ")));
            });
        }
    }
    for (int i = 0; i < otherCount; ++i) {
        if (found.stopped(i))
            return found.take();
        if (!paired[size_t(i)])
            found.add(
                [&] { return QStringLiteral("%1 is extra").arg(memberWords(other.column(i))); });
    }
    if (!inOrder)
        found.add([] { return QStringLiteral("the members stand in another order"); });
    return found.take();
}

QString summarizeDifferences(const SquadDifferences &differences, int shown) {
    QString text = differences.phrases.mid(0, shown).join(QStringLiteral("; "));
    const qsizetype named = std::min<qsizetype>(shown, differences.phrases.size());
    if (differences.count > named)
        text += QStringLiteral("; and %1 more").arg(differences.count - named);
    return text;
}

} // namespace squad
