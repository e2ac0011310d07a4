#pragma once

#include "squad/finding.h"
#include "squad/squaddocument.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace app {

// Far above real use (a million members take about 190 MB), low enough that reading never
// exhausts memory or freezes the window for long.
inline constexpr qint64 largestSquadFile = qint64(1) << 30;

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

// Asked now and then while a file is read or written: true when the work is no longer wanted.
using Canceled = std::function<bool()>;

enum class FileAccess {
    // Into memory of the program's own: another program cutting the file short meanwhile does
    // no harm.
    Read,
    // Mapped: faster and lighter, for a run that ends after reading (another program cutting
    // the file short meanwhile ends it).
    Map,
};

// Reads a whole file as Open does: anything but an ordinary file of up to 1 GiB is refused
// without being read, and nothing waits on a FIFO or device. Returns the message for the user,
// naming the file and the reason, or an empty string when `bytes` holds the file.
QString readOrdinaryFile(const QString &path, QByteArray &bytes);

// Reads a squad file the way Open does, without touching any document. Anything but an ordinary
// file of up to 1 GiB is refused without being read, and nothing waits on a FIFO or device.
// Once `canceled` says so, it ends early with neither `ok` nor an error.
SquadFileRead readSquadFile(const QString &path, const Canceled &canceled = {},
                            FileAccess access = FileAccess::Read);

// The warning for a file that was read but is cut short: it names the file and the members read.
QString truncatedWarning(const QString &path, int members);
// The warning for a file that was read with characters that could not be: it names the file, how
// many there were and the line of the first.
QString unreadableWarning(const QString &path, qsizetype count, int line);

// The problems of the file itself rather than of the squad in it: characters that cannot be read
// and a text cut short.
QList<squad::Finding> fileFindings(const SquadFileRead &read);
// Those, then what the squad check finds in the squad the file holds.
QList<squad::Finding> checkSquadFile(const SquadFileRead &read, const QString &path);

// A finding as --check prints it: "squad.xml: member 3 \"Ann\": problem: ...".
QString findingLine(const QString &path, const squad::Finding &finding,
                    const squad::SquadData &squad);

// Replaces the file with `contents` as a whole or not at all, keeping its owner, group and mode;
// where its folder takes no new files, a writable file is rewritten in place instead. A target
// that exists but is not an ordinary file is refused. Returns the message for the user when that
// failed, naming the file and the reason; an empty string on success, and also when `canceled`
// said so before the new file took the old one's place (which is then left as it was).
QString writeSquadFile(const QString &path, const QByteArray &contents,
                       const Canceled &canceled = {});

} // namespace app
