#pragma once

#include "squaddocument.h"

#include <QStringList>

namespace squad {

// What differs between the squad a user expects (`ours`) and another copy of it (`theirs`), in
// short phrases for a message: "the name differs", "Ann (ID 123) is missing", "Cid (ID 9) is
// extra", "Bob differs in e-mail, remark", "the members stand in another order". Members are
// paired by ID, members sharing an ID in their order. Empty when both hold the same.
QStringList squadDifferences(const SquadData &ours, const SquadData &theirs);

// The phrases joined for a sentence, at most `shown` of them and a count of the rest.
QString summarizeDifferences(const QStringList &differences, int shown = 5);

} // namespace squad
