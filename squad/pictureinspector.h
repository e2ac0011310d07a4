#pragma once

#include "finding.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

namespace squad {

// Looks into the squad picture for what keeps the game from showing it. The squad library reads
// no pictures: the program hands the check an inspector from a library that does.
class PictureInspector {
public:
    virtual ~PictureInspector() = default;

    // Findings about the picture file `name` with the content `file`: about the squad, with the
    // property Picture. Called from any thread.
    virtual QList<Finding> inspect(const QString &name, QByteArrayView file) const = 0;
    // The same for the file at `path`, read with the inspector's own limits.
    virtual QList<Finding> inspectFile(const QString &name, const QString &path) const = 0;
};

} // namespace squad
