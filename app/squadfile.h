#pragma once

#include "squad/squaddocument.h"

#include <QByteArray>
#include <QString>

namespace app {

struct SquadFileRead {
    bool ok = false;
    // The file was read, but its head is not the one the program writes.
    bool headerCorrupt = false;
    // The file was read, but its text ends before the end of the squad or inside a value: it may
    // be incomplete.
    bool truncated = false;
    // The file was read, but this many characters of its values could not be: they were
    // replaced or left out, the first on `unreadableLine`.
    qsizetype unreadable = 0;
    int unreadableLine = 0;
    squad::SquadData data;
    // When !ok: the message for the user, naming the file and what went wrong.
    QString error;
};

// Reads a squad file the way Open does, without touching any document. Anything but an ordinary
// file of up to 1 GiB is refused without being read, and nothing waits on a FIFO or device.
SquadFileRead readSquadFile(const QString &path);

// The warning for a file that was read but is cut short: it names the file and the members read.
QString truncatedWarning(const QString &path, int members);
// The warning for a file that was read with characters that could not be: it names the file, how
// many there were and the line of the first.
QString unreadableWarning(const QString &path, qsizetype count, int line);

// Replaces the file with `contents` as a whole or not at all, keeping its mode; where its folder
// takes no new files, a writable file is rewritten in place instead. A target that exists but is
// not an ordinary file is refused. Returns the message for the user when that failed, naming the
// file and the reason; an empty string on success.
QString writeSquadFile(const QString &path, const QByteArray &contents);

} // namespace app
