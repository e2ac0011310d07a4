#include "companions.h"

#include "squadfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace app {

const QList<Companion> &companions() {
    static const QList<Companion> files = [] {
        QList<Companion> read;
        for (const char *name : {"squad.dtd", "squad.xsl"}) {
            QFile resource(QStringLiteral(":/companions/") + QLatin1String(name));
            if (!resource.open(QIODevice::ReadOnly))
                qFatal("The resource %s is missing from the program", name);
            read.append({QString::fromLatin1(name), resource.readAll()});
        }
        return read;
    }();
    return files;
}

QStringList existingCompanions(const QString &folder) {
    QStringList found;
    for (const Companion &companion : companions()) {
        // A dangling link or a folder of that name is in the way of writing just as a file is.
        const QFileInfo info(QDir(folder).filePath(companion.name));
        if (info.exists() || info.isSymLink())
            found << companion.name;
    }
    return found;
}

QList<CompanionWritten> writeCompanions(const QString &folder, const QStringList &names) {
    QList<CompanionWritten> results;
    for (const Companion &companion : companions()) {
        if (!names.isEmpty() && !names.contains(companion.name))
            continue;
        results.append({companion.name,
                        writeSquadFile(QDir(folder).filePath(companion.name), companion.contents)});
    }
    return results;
}

} // namespace app
