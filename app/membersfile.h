#pragma once

#include "squad/membertable.h"

#include <QList>
#include <QString>

namespace app {

struct MembersRead {
    bool ok = false;
    QList<squad::Member> members;
    // When !ok: the message for the user, naming the file and what went wrong.
    QString error;
};

// Reads the members of a squad file (as Open reads it) or of a CSV file, told apart by their
// text: a squad file starts with markup.
MembersRead readMembersFile(const QString &path);

} // namespace app
