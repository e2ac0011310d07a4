#pragma once

#include <QString>

class QWidget;

namespace app {

// "Tools > Write squad.dtd and squad.xsl": writes both beside the squad file at `squadFile`. It
// names those that exist already and asks before replacing them, then says what it did. True
// when at least one file was written.
bool writeCompanionsBeside(QWidget *parent, const QString &squadFile);

} // namespace app
