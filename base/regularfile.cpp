#include "regularfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace base {

RegularFile openRegularFile(const QString &path) {
    RegularFile file;
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &file.status) != 0) {
        file.error = errno;
        return file;
    }
    if (!S_ISREG(file.status.st_mode))
        return file;
    // O_NONBLOCK: should the name have become a FIFO since, opening it must not wait for a writer.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        file.error = errno;
        return file;
    }
    if (::fstat(fd, &file.status) != 0) {
        file.error = errno;
        ::close(fd);
        return file;
    }
    if (!S_ISREG(file.status.st_mode)) {
        ::close(fd);
        return file;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file.fd = fd;
    return file;
}

} // namespace base
