// The scanner of squad files: finds the squad's and the members' values in the text.
#pragma once

#include "codepage.h"
#include "squaddocument.h"
#include "squadreader.h"

#include <QString>

#include <atomic>

namespace squad::reading {

struct ScanFailure {
    ReadFailure kind = ReadFailure::None;
    const char *at = nullptr; // where in the text
    QString what;
};

struct Scanned {
    bool ok = false;
    bool truncated = false;   // the text ends before the squad's end tag or inside a tag or value
    ScanFailure failure;      // when !ok
    qsizetype unreadable = 0; // characters of the values replaced or left out
    const char *firstUnreadable = nullptr;
};

struct ScanWay {
    // The members as the writer writes them are read on a straight path, which gives the same
    // result as the general one.
    bool writersMembers = true;
    bool sharedBlock = true; // the value store's choice
    int memberBudget = 0;    // more members fail
    // The text is a private read-only mapping of a file, whose pages may be handed back once
    // read.
    bool releaseRead = false;
    // Stops the reading soon, as a failure, once it becomes true.
    const std::atomic<bool> *cancelled = nullptr;
};

// Reads the squad from the text into `data`, which is left empty on a failure.
Scanned scan(const ScanText &text, const ScanWay &way, SquadData &data);

} // namespace squad::reading
