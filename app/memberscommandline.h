#pragma once

#include <QString>

namespace app {

// `troopbook --export-csv SQUADFILE [OUT.csv]`: the members as CSV, to OUT or standard output.
// Returns the exit code: 0, or 1 with the reason on standard error.
int exportMembersCsv(const QString &squadFile, const QString &out);

// `troopbook --import-members SQUADFILE FROM [--replace]`: the members of FROM (a squad or CSV
// file) into SQUADFILE, which is replaced as a whole or not at all. Prints how many were added,
// replaced and skipped. Returns the exit code: 0, or 1 with the reason on standard error.
int importMembersInto(const QString &squadFile, const QString &from, bool replace);

} // namespace app
