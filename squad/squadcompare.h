#pragma once

#include "squaddocument.h"

#include <QStringList>

#include <atomic>

namespace squad {

// What differs between two copies of a squad, in short phrases for a message.
struct SquadDifferences {
    // The first phrases found, in the order below, at most as many as were asked for.
    QStringList phrases;
    // How many differences there are, kept or not.
    qsizetype count = 0;
};

// What differs between the squad a user expects (`ours`) and another copy of it (`theirs`):
// "the name differs", "Ann (ID 123) is missing", "Bob differs in e-mail, remark", "Cid (ID 9) is
// extra", "the members stand in another order". Members are paired by ID, members sharing an ID
// in their order. Only the first `kept` phrases are made, so that a served squad of a million
// unknown members costs no million texts. When `cancelled` becomes true the comparison stops
// soon, its result incomplete.
SquadDifferences squadDifferences(const SquadData &ours, const SquadData &theirs,
                                  qsizetype kept = 100,
                                  const std::atomic<bool> *cancelled = nullptr);

// The phrases joined for a sentence, at most `shown` of them and a count of the rest.
QString summarizeDifferences(const SquadDifferences &differences, int shown = 5);

} // namespace squad
