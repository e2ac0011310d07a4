#pragma once

#include "squad/pictureinspector.h"

namespace picture {

// The picture rules of the squad check, for PAA textures.
class PaaInspector : public squad::PictureInspector {
public:
    QList<squad::Finding> inspect(const QString &name, QByteArrayView file) const override;
    QList<squad::Finding> inspectFile(const QString &name, const QString &path) const override;
};

// The one inspector of a run, for every check that looks at a picture.
const PaaInspector &paaInspector();

} // namespace picture
