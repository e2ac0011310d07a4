#include "localfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace upload {
namespace {

QString describeSpecial(mode_t mode) {
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    return QStringLiteral("a special file");
}

QString notRegular(mode_t mode) {
    return QStringLiteral("it is %1, not an ordinary file, and was not sent")
        .arg(describeSpecial(mode));
}

} // namespace

LocalEntry localEntry(const QString &path) {
    struct stat status {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &status) != 0)
        return LocalEntry::Missing;
    if (S_ISDIR(status.st_mode))
        return LocalEntry::Directory;
    return S_ISREG(status.st_mode) ? LocalEntry::Regular : LocalEntry::Special;
}

QString notRegularReason(const QString &path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return notRegular(0);
    return notRegular(status.st_mode);
}

QString openForSending(const QString &path, QFile &file) {
    const auto unreadable = [](int error) {
        return QStringLiteral("the local file cannot be read (%1)").arg(qt_error_string(error));
    };
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    // Some devices act on being opened, so special files are not opened at all.
    if (::stat(name.constData(), &status) == 0 && !S_ISREG(status.st_mode) &&
        !S_ISDIR(status.st_mode))
        return notRegular(status.st_mode);
    // O_NONBLOCK: should the file have become a FIFO since, opening it must not wait for a
    // writer.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return unreadable(errno);
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return unreadable(error);
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return S_ISDIR(status.st_mode) ? unreadable(EISDIR) : notRegular(status.st_mode);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return unreadable(EBADF);
    }
    return {};
}

} // namespace upload
