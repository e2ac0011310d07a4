#pragma once

#include "transfer.h"

#include <QList>
#include <QString>

#include <optional>

namespace upload {

// What the upload window's fields held when "Upload files" was pressed.
struct UploadRequest {
    QString host;
    QString user;
    QString password;
    QString remoteDirectory;
    QString localDirectory;
    QString squadFile; // the name picked in the local-directory picker
    QString pictureName;
};

// What the user is told; whoever shows it decides how.
struct UploadMessage {
    enum Severity {
        // A field the upload needs is empty; nothing was tried.
        Omission,
        // The upload failed, or did not store everything.
        Failure,
    };
    QString text;
    Severity severity = Failure;
};

// A reason not to start: fields missing, a field that would smuggle in FTP commands, a host
// that is no server address.
std::optional<UploadMessage> checkFields(const UploadRequest &request);

// One file of the run, once the remote directory was found: whether it was stored, and why not.
struct FileOutcome {
    // Its name in the local directory.
    QString name;
    // Where it went, or was to go; empty when it was never sent.
    QString remotePath;
    bool stored = false;
    QString reason;
};

struct UploadOutcome {
    // Shown one after the other once the run is over.
    QList<UploadMessage> messages;
    // The remote paths of the files the server accepted.
    QStringList stored;
    bool cancelled = false;
    // In the order sent, the squad file first; empty when the run ended before sending.
    QList<FileOutcome> files;
};

// The squad file's name; the one the game looks for when none was picked.
QString squadFileName(const UploadRequest &request);
// The local path of a file in the local directory, with or without its trailing separator.
QString localPath(const QString &localDirectory, const QString &name);
// The directory the server reports after the change, without a trailing "/" if it entered it.
QString reportedDirectory(const QString &reply, bool changedInto);
// Whether the directory the server reports is the one asked for: with or without its leading
// "/"; any directory when none was asked for; for a relative one that the server changed into,
// also a reply that ends in "/" and that directory. After a successful change a trailing "/"
// and the letters' case do not count.
bool directoryMatches(const QString &remoteDirectory, const QString &reply, bool changedInto);

// One whole upload over `transfer`, on the calling thread.
UploadOutcome runUpload(const UploadRequest &request, Transfer &transfer);

} // namespace upload
