#pragma once

#include <QString>

#include <sys/stat.h>

namespace base {

// An ordinary file opened for reading, or why not.
struct RegularFile {
    // Open and blocking again on success, else -1.
    int fd = -1;
    // The errno of an open or a look that failed; 0 when the path names something else than an
    // ordinary file, which `status` then describes.
    int error = 0;
    // What the path named: the open file on success, else the folder or special file found.
    struct stat status {};
};

// Opens `path` for reading without ever blocking: a FIFO, device or socket is not opened at all
// (some devices act on being opened), and a name swapped for one after that look is refused
// through the descriptor. The caller closes the descriptor.
RegularFile openRegularFile(const QString &path);

} // namespace base
