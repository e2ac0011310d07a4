#pragma once

#include <QString>

namespace squad {

// The squad picture's name as a file beside the squad file, where the game looks for it: a
// leading "./" dropped; empty when the name reaches elsewhere (a path, "..", a drive letter, a
// URL), since such a picture is neither uploaded nor found by the game.
QString pictureFileName(const QString &name);

} // namespace squad
