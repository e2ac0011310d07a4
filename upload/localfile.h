#pragma once

#include <QFile>
#include <QString>

#include <sys/stat.h>

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

// A local file as it was when its transfer began: no more bytes are handed out than it held
// then, and once they are sent it can tell whether the file changed meanwhile (another program
// writing to it), in which case what was sent is no copy of any state of it.
class SendingFile {
public:
    // Opens as openForSending() does. Empty on success, else why not.
    QString open(const QString &path);
    // Back to the first byte, taking the file as it is now.
    bool restart();
    qint64 size() const { return qint64(m_start.st_size); }
    // Up to `max` bytes; 0 at the size the file had when it was opened; -1 if it cannot be read.
    qint64 read(char *data, qint64 max);
    // Empty when exactly the bytes the file held when it was opened were read and it has not
    // changed since; else why what was read is not to be stored, in words for the list of
    // files not stored.
    QString problem() const;

private:
    QFile m_file;
    struct stat m_start {};
    qint64 m_read = 0;
    QString m_readError;
};

} // namespace upload
