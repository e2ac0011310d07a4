#pragma once

#include <QString>

class QFile;

namespace upload {

// What a local path names, symbolic links followed.
enum class LocalEntry {
    Missing,
    Directory,
    Regular,
    // A FIFO, device or socket: opening or reading one may block for good or never end.
    Special,
};

LocalEntry localEntry(const QString &path);

// Why the special file at `path` is not sent, for the list of files not stored.
QString notRegularReason(const QString &path);

// Opens `path` for sending without ever blocking: only a regular file is opened, and a file
// swapped for a FIFO after a check is refused too. Empty on success, else why not.
QString openForSending(const QString &path, QFile &file);

} // namespace upload
