#pragma once

#include "squaddocument.h"

#include <QByteArray>
#include <QString>

namespace squad {

// The squad file's text, from `<?xml` to `</squad>` without the line end that closes the file.
// Values are escaped so that any XML parser reads them back exactly, and characters that XML
// cannot carry at all are left out.
QString encode(const SquadData &data);
// The same text as UTF-8 bytes.
QByteArray encodeUtf8(const SquadData &data);
// The bytes that Save stores: the text and one CR LF.
QByteArray fileContents(const SquadData &data);

} // namespace squad
