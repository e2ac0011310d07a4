#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace app {

// squad.dtd and squad.xsl, the two files every saved squad file names in its head, made for
// exactly the files Troopbook writes.
struct Companion {
    QString name;
    QByteArray contents;
};

// Both companions, squad.dtd first.
const QList<Companion> &companions();

// The companions that already exist in `folder`, by name (also those that are no ordinary file).
QStringList existingCompanions(const QString &folder);

// What became of one companion: written when `failure` is empty, else the message for the user.
struct CompanionWritten {
    QString name;
    QString failure;
};

// Writes the companions named in `names` (all of them when empty) into `folder`, each replacing
// the one there as a whole or not at all.
QList<CompanionWritten> writeCompanions(const QString &folder, const QStringList &names = {});

} // namespace app
