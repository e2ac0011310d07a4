#include "memberscommandline.h"

#include "membersfile.h"
#include "squadfile.h"
#include "terminaltext.h"

#include "squad/memberimport.h"
#include "squad/memberscsv.h"
#include "squad/squadwriter.h"

#include <QDir>

#include <cstdio>
#include <unistd.h>

namespace app {
namespace {

int failed(const QString &message) {
    printLine(stderr, message);
    return 1;
}

QString membersText(int count) {
    return count == 1 ? QStringLiteral("1 member") : QStringLiteral("%1 members").arg(count);
}

} // namespace

int exportMembersCsv(const QString &squadFile, const QString &out) {
    const SquadFileRead read = readSquadFile(squadFile);
    if (!read.ok)
        return failed(read.error);
    const QByteArray csv = squad::membersCsv(read.data.mmbdata);
    if (out.isEmpty() && ::isatty(::fileno(stdout))) {
        // Shown rather than stored: no value of the file may steer the terminal.
        const QString text = QString::fromUtf8(QByteArrayView(csv).sliced(3));
        for (const QString &row : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
            printLine(stdout, row);
        return 0;
    }
    if (out.isEmpty()) {
        if (std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout) != size_t(csv.size()) ||
            std::fflush(stdout) != 0)
            return failed(QStringLiteral("troopbook: could not write to standard output"));
        return 0;
    }
    if (const QString failure = writeSquadFile(out, csv); !failure.isEmpty())
        return failed(failure);
    printLine(stdout, QStringLiteral("%1: %2 written")
                          .arg(QDir::toNativeSeparators(out),
                               membersText(read.data.mmbdata.memberCount())));
    return 0;
}

int importMembersInto(const QString &squadFile, const QString &from, bool replace) {
    SquadFileRead squad = readSquadFile(squadFile);
    if (!squad.ok)
        return failed(squad.error);
    // Written back whole, a file cut short would lose the members that did not make it in.
    if (squad.truncated)
        return failed(truncatedWarning(squadFile, squad.data.mmbdata.memberCount()) +
                      QStringLiteral("\nOpen it in the editor and save it whole first; nothing "
                                     "was imported."));
    const MembersRead incoming = readMembersFile(from);
    if (!incoming.ok)
        return failed(incoming.error);
    squad::ImportOutcome outcome =
        squad::importMembers(squad.data.mmbdata, incoming.members,
                             replace ? squad::ExistingId::Replace : squad::ExistingId::Skip);
    if (outcome.added + outcome.replaced > 0) {
        squad.data.mmbdata.assign(std::move(outcome.members));
        if (const QString failure = writeSquadFile(squadFile, squad::fileContents(squad.data));
            !failure.isEmpty())
            return failed(failure);
    }
    // One arg() for all, so that a "%" in the path is not taken for a place holder.
    printLine(stdout,
              QStringLiteral("%1: %2 added, %3 replaced, %4 skipped")
                  .arg(QDir::toNativeSeparators(squadFile), QString::number(outcome.added),
                       QString::number(outcome.replaced), QString::number(outcome.skipped)));
    return 0;
}

} // namespace app
