#pragma once

#include <QByteArray>
#include <QString>

namespace publish {

// Where the head of a squad file says its document type and style sheet lie, as written there
// (relative to the file's own address, or absolute).
struct NamedCompanions {
    // The system identifier of the DOCTYPE; empty when the file names none.
    QString documentType;
    // The href of the first xml-stylesheet instruction; empty when the file names none.
    QString styleSheet;
};

// Reads the prolog of `body`, the part before the squad element, and nothing after it.
NamedCompanions namedCompanions(const QByteArray &body);

} // namespace publish
