#pragma once

#include "squad/finding.h"
#include "squad/pictureinspector.h"
#include "squad/squaddocument.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace publish {

class WebFetcher;

// One address the check asked for and what came back.
struct FetchedFile {
    QString url;
    bool answered = false;
    int status = 0;
    QString reason;
    QString contentType;
    qint64 size = 0;
    QString error; // why nothing came back, when !answered

    // "http://example.org/clan/squad.xml: 200 OK, application/xml, 1234 bytes"
    QString line() const;
};

struct CheckRequest {
    QUrl address;
    // The squad the served one should equal; none to take the served one as it is.
    std::optional<squad::SquadData> local;
    // How the messages name the local squad, e.g. "the squad in the editor" or a file path.
    QString localName;
    // The local squad has changes not yet saved, so the server cannot have them.
    bool localUnsaved = false;
    // Looks into the picture fetched; without one only its presence is checked.
    const squad::PictureInspector *pictures = nullptr;
};

struct CheckReport {
    // About fetched files only: each has member -1 and no field.
    QList<squad::Finding> findings;
    QList<FetchedFile> files;
    // At least one request got an answer from a server.
    bool anythingFetched = false;
    bool cancelled = false;
};

// The squad file's address as typed: http:// or https:// (http:// when no scheme is given) and
// a path to a file. nullopt with the reason in `error` otherwise.
std::optional<QUrl> parseAddress(const QString &text, QString *error);

// The same address over the other of http and https, on that scheme's usual port.
QUrl counterpartAddress(const QUrl &address);

// Fetches the squad file at `request.address` as a game would, then the picture, squad.dtd and
// squad.xsl beside it and the squad file over the other scheme, and says what would keep a game
// from reading the squad. `fileFetched` is called after each request, on the calling thread.
CheckReport checkPublished(const CheckRequest &request, WebFetcher &fetcher,
                           const std::function<void(const FetchedFile &)> &fileFetched = {});

} // namespace publish
