#include "localfile.h"

#include "base/regularfile.h"

#include <QFile>

#include <algorithm>
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

QString SendingFile::open(const QString &path) {
    if (QString problem = openForSending(path, m_file); !problem.isEmpty())
        return problem;
    return restart()
               ? QString()
               : QStringLiteral("the local file cannot be read (%1)").arg(m_file.errorString());
}

bool SendingFile::restart() {
    m_read = 0;
    m_readError.clear();
    return m_file.seek(0) && ::fstat(m_file.handle(), &m_start) == 0;
}

qint64 SendingFile::read(char *data, qint64 max) {
    const qint64 count = m_file.read(data, std::min(max, size() - m_read));
    if (count < 0) {
        m_readError = m_file.errorString();
        return -1;
    }
    m_read += count;
    return count;
}

QString SendingFile::problem() const {
    if (!m_readError.isEmpty())
        return QStringLiteral("the local file cannot be read (%1)").arg(m_readError);
    struct stat now {};
    const bool unchanged = ::fstat(m_file.handle(), &now) == 0 && now.st_size == m_start.st_size &&
                           now.st_mtim.tv_sec == m_start.st_mtim.tv_sec &&
                           now.st_mtim.tv_nsec == m_start.st_mtim.tv_nsec;
    if (!unchanged || m_read != size())
        return QStringLiteral("the local file changed while it was sent (another program was "
                              "writing to it), so it was not stored");
    return {};
}

} // namespace upload
