#include "membersfile.h"

#include "squadfile.h"

#include "squad/memberscsv.h"
#include "squad/squadreader.h"

#include <QDir>

namespace app {
namespace {

// Whether the text starts with "<" after a byte-order mark and blanks, in an ASCII code page or
// in UTF-16 or UTF-32, whose zero bytes stand beside the ASCII ones.
bool looksLikeMarkup(QByteArrayView text) {
    for (const char c : text.first(std::min<qsizetype>(text.size(), 4096))) {
        if (c == '<')
            return true;
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\0' && c != '\xEF' &&
            c != '\xBB' && c != '\xBF' && c != '\xFF' && c != '\xFE')
            return false;
    }
    return false;
}

QString unreadable(const QString &path, const QString &reason) {
    return QStringLiteral("Could not read \"%1\":\n%2").arg(QDir::toNativeSeparators(path), reason);
}

} // namespace

MembersRead readMembersFile(const QString &path) {
    MembersRead read;
    QByteArray bytes;
    read.error = readOrdinaryFile(path, bytes);
    if (!read.error.isEmpty())
        return read;
    if (looksLikeMarkup(bytes)) {
        const squad::DecodeResult decoded = squad::decode(bytes);
        if (!decoded.ok) {
            read.error = unreadable(
                path, decoded.errorLine > 0
                          ? QStringLiteral("Line %1: %2").arg(decoded.errorLine).arg(decoded.error)
                          : decoded.error);
            return read;
        }
        // Its members may be incomplete: taking in part of a roster without saying so is worse
        // than taking none.
        if (decoded.truncated) {
            read.error = unreadable(path, QStringLiteral("The text ends before the end of the "
                                                         "squad, so its members may be "
                                                         "incomplete."));
            return read;
        }
        read.members = decoded.data.mmbdata.members();
    } else {
        squad::CsvMembers csv = squad::readMembersCsv(bytes);
        if (!csv.ok) {
            read.error = unreadable(path, csv.error);
            return read;
        }
        read.members = std::move(csv.members);
    }
    read.ok = true;
    return read;
}

} // namespace app
