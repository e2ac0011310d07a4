#include "memberimport.h"

#include <QHash>

namespace squad {
namespace {

// The first holder of each ID in the squad; empty IDs name no one.
QHash<QString, int> holders(const MemberTable &squad) {
    QHash<QString, int> first;
    first.reserve(squad.memberCount());
    for (int i = 0; i < squad.memberCount(); ++i) {
        const QString &id = squad.cell(Field::Id, i);
        if (!id.isEmpty() && !first.contains(id))
            first.insert(id, i);
    }
    return first;
}

} // namespace

ImportPlan planImport(const MemberTable &squad, const QList<Member> &incoming) {
    const QHash<QString, int> held = holders(squad);
    ImportPlan plan;
    for (const Member &member : incoming) {
        const QString &id = member[int(Field::Id)];
        if (!id.isEmpty() && held.contains(id)) {
            ++plan.existing;
            plan.existingIds << id;
        } else {
            ++plan.added;
        }
    }
    return plan;
}

ImportOutcome importMembers(const MemberTable &squad, const QList<Member> &incoming,
                            ExistingId existing) {
    const QHash<QString, int> held = holders(squad);
    ImportOutcome outcome;
    outcome.members = squad.members();
    outcome.members.reserve(outcome.members.size() + incoming.size());
    for (const Member &member : incoming) {
        const QString &id = member[int(Field::Id)];
        const auto holder = id.isEmpty() ? held.constEnd() : held.constFind(id);
        if (holder == held.constEnd()) {
            outcome.members << member;
            ++outcome.added;
        } else if (existing == ExistingId::Replace) {
            outcome.members[*holder] = member;
            ++outcome.replaced;
        } else {
            ++outcome.skipped;
        }
    }
    return outcome;
}

} // namespace squad
