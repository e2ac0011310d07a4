#include "picturename.h"

namespace squad {

QString pictureFileName(const QString &name) {
    QString plain = name;
    while (plain.startsWith(QStringLiteral("./")))
        plain.remove(0, 2);
    const bool driveLetter = plain.size() >= 2 && plain[1] == u':' && plain[0].isLetter();
    if (plain.isEmpty() || plain == u"." || plain == u".." || plain.contains(u'/') ||
        plain.contains(u'\\') || driveLetter)
        return {};
    return plain;
}

} // namespace squad
