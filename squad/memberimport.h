#pragma once

#include "membertable.h"

#include <QList>
#include <QStringList>

namespace squad {

// What an import does with a member whose ID a member of the squad already has.
enum class ExistingId { Skip, Replace };

struct ImportPlan {
    // Members that come in as new ones: their ID is empty or not yet in the squad.
    int added = 0;
    // Members whose ID is already in the squad; the IDs themselves in the order they come.
    int existing = 0;
    QStringList existingIds;
};

struct ImportOutcome {
    // The squad's members after the import: replaced ones where they were, new ones behind.
    QList<Member> members;
    int added = 0;
    int replaced = 0;
    int skipped = 0;
};

// What importing `incoming` into `squad` would do, before anything changes.
ImportPlan planImport(const MemberTable &squad, const QList<Member> &incoming);

// Imports `incoming`: a member whose ID is already held (by the first member holding it) is
// skipped or replaces that member; every other one is appended in the order given.
ImportOutcome importMembers(const MemberTable &squad, const QList<Member> &incoming,
                            ExistingId existing);

} // namespace squad
