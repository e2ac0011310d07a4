#include "localfile.h"

#include "base/regularfile.h"

#include <QFile>

#include <cerrno>
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
    const base::RegularFile found = base::openRegularFile(path);
    if (found.error != 0)
        return unreadable(found.error);
    if (found.fd < 0)
        return S_ISDIR(found.status.st_mode) ? unreadable(EISDIR)
                                             : notRegular(found.status.st_mode);
    if (!file.open(found.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(found.fd);
        return unreadable(EBADF);
    }
    return {};
}

} // namespace upload
