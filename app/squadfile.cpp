#include "squadfile.h"

#include "squad/squadreader.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace app {
namespace {

QString openFailure(const QString &path, const QString &reason) {
    return QStringLiteral("Could not open \"%1\":\n%2").arg(QDir::toNativeSeparators(path), reason);
}

QString saveFailure(const QString &path, const QString &reason) {
    return QStringLiteral("Could not save \"%1\":\n%2\nThe file on disk was left as it was.")
        .arg(QDir::toNativeSeparators(path), reason);
}

} // namespace

SquadFileRead readSquadFile(const QString &path) {
    SquadFileRead read;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        read.error = openFailure(path, file.errorString());
        return read;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        read.error = openFailure(path, file.errorString());
        return read;
    }
    squad::DecodeResult decoded = squad::decode(bytes);
    read.headerCorrupt = decoded.headerCorrupt;
    if (!decoded.ok) {
        const QString reason =
            decoded.errorLine > 0
                ? QStringLiteral("Line %1: %2").arg(decoded.errorLine).arg(decoded.error)
                : decoded.error;
        read.error = openFailure(path, reason);
        return read;
    }
    read.ok = true;
    read.truncated = decoded.truncated;
    read.data = std::move(decoded.data);
    return read;
}

QString truncatedWarning(const QString &path, int members) {
    return QStringLiteral(
               "\"%1\" may be incomplete:\nits text ends before the end of the squad.\n%2")
        .arg(QDir::toNativeSeparators(path),
             members == 1 ? QStringLiteral("1 member was read.")
                          : QStringLiteral("%1 members were read.").arg(members));
}

QString writeSquadFile(const QString &path, const QByteArray &contents) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return saveFailure(path, file.errorString());
    // The explicit flush matters: a write cut short (a full disk, a size limit) shows only here,
    // and commit() would otherwise put the truncated file in place of the old one.
    if (file.write(contents) != contents.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return saveFailure(path, reason);
    }
    if (!file.commit())
        return saveFailure(path, file.errorString());
    return {};
}

} // namespace app
