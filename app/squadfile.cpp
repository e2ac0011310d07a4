#include "squadfile.h"

#include "base/regularfile.h"
#include "base/wording.h"
#include "squad/squadreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QScopeGuard>

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {
namespace {

// Far above real use (a million members take about 190 MB), low enough that reading never
// exhausts memory or freezes the window for long.
constexpr qint64 largestSquadFile = qint64(1) << 30;

QString openFailure(const QString &path, const QString &reason) {
    return QStringLiteral("Could not open \"%1\":\n%2").arg(QDir::toNativeSeparators(path), reason);
}

QString saveFailure(const QString &path, const QString &reason) {
    return QStringLiteral("Could not save \"%1\":\n%2\nThe file on disk was left as it was.")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString inPlaceFailure(const QString &path, const QString &reason) {
    return QStringLiteral("Could not save \"%1\":\n%2\nIts folder takes no new files, so the file "
                          "was being written in place; it may now be incomplete.")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString systemError(int error) {
    return qt_error_string(error);
}

// Empty for an ordinary file; otherwise what the path is instead.
QString specialFileKind(mode_t mode) {
    if (S_ISREG(mode))
        return {};
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe (FIFO)");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("a special file");
}

QString notAnOrdinaryFile(const QString &kind) {
    return QStringLiteral("It is %1, not an ordinary file.").arg(kind);
}

QString tooBig(qint64 size) {
    return QStringLiteral("The file is %1, too large: squad files over 1 GiB are not read.")
        .arg(QLocale::c().formattedDataSize(size));
}

// Empty when the status is that of an ordinary file of a size that may be read.
QString unreadable(const struct stat &status) {
    if (const QString kind = specialFileKind(status.st_mode); !kind.isEmpty())
        return notAnOrdinaryFile(kind);
    if (status.st_size > largestSquadFile)
        return tooBig(status.st_size);
    return {};
}

QString cutShort(int error) {
    if (error == ENOSPC)
        return QStringLiteral("The disk is full; the write was cut short.");
    if (error == EDQUOT)
        return QStringLiteral("The disk quota is used up; the write was cut short.");
    return QStringLiteral("The write was cut short: %1.").arg(systemError(error));
}

bool writeAll(int fd, const QByteArray &contents) {
    qsizetype written = 0;
    while (written < contents.size()) {
        const ssize_t n = ::pwrite(fd, contents.constData() + written,
                                   size_t(contents.size() - written), off_t(written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        written += n;
    }
    return true;
}

// Whether the folder QSaveFile would write its new copy into refuses new files to this user.
bool folderTakesNoNewFiles(const QString &path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty())
        return false;
    QByteArray probe = QFile::encodeName(QFileInfo(target).absolutePath()) + "/.troopbook-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.constData());
        return false;
    }
    return errno == EACCES || errno == EPERM;
}

// The safe save writes a new copy beside the file and renames it over the old one; in a folder
// that takes no new files that cannot work, though the file itself may be written. There, and
// only there, the file is rewritten in place. Room for the new text is claimed before the first
// byte changes, so that a full disk still leaves the old file as it was.
QString writeInPlace(const QString &path, const QByteArray &contents) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return saveFailure(path, systemError(errno));
    auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return saveFailure(path, systemError(errno));
    if (const QString kind = specialFileKind(status.st_mode); !kind.isEmpty())
        return saveFailure(path, notAnOrdinaryFile(kind));
    // Also where the file is no shorter: a sparse file has holes that writing would fill.
    if (const int error = contents.isEmpty() ? 0 : ::posix_fallocate(fd, 0, off_t(contents.size()));
        error != 0) {
        // A partial reservation may have grown the file; its old bytes are untouched.
        (void)::ftruncate(fd, status.st_size);
        return saveFailure(path, cutShort(error));
    }
    if (!writeAll(fd, contents))
        return inPlaceFailure(path, cutShort(errno));
    if (::ftruncate(fd, off_t(contents.size())) != 0 || ::fsync(fd) != 0)
        return inPlaceFailure(path, systemError(errno));
    closeFile.dismiss();
    if (::close(fd) != 0)
        return inPlaceFailure(path, systemError(errno));
    return {};
}

} // namespace

SquadFileRead readSquadFile(const QString &path) {
    SquadFileRead read;
    const base::RegularFile file = base::openRegularFile(path);
    if (file.error != 0) {
        read.error = openFailure(path, systemError(file.error));
        return read;
    }
    const int fd = file.fd;
    const auto closeFile = qScopeGuard([fd] {
        if (fd >= 0)
            ::close(fd);
    });
    const struct stat &status = file.status;
    if (const QString refusal = unreadable(status); !refusal.isEmpty()) {
        read.error = openFailure(path, refusal);
        return read;
    }
    // One byte more than the size found, so that a file still growing is noticed and read on,
    // up to the limit.
    QByteArray bytes(qsizetype(status.st_size) + 1, Qt::Uninitialized);
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used > largestSquadFile) {
                read.error = openFailure(path, tooBig(used));
                return read;
            }
            bytes.resize(qsizetype(std::min(qint64(used) * 2 + 65536, largestSquadFile + 1)));
        }
        const ssize_t n = ::read(fd, bytes.data() + used, size_t(bytes.size() - used));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            read.error = openFailure(path, systemError(errno));
            return read;
        }
        if (n == 0)
            break;
        used += n;
    }
    bytes.truncate(used);
    squad::DecodeResult decoded = squad::decode(bytes);
    read.headerCorrupt = decoded.headerCorrupt;
    if (!decoded.ok) {
        const QString reason =
            decoded.errorLine > 0
                ? QStringLiteral("Line %1: %2").arg(decoded.errorLine).arg(decoded.error)
                : decoded.error;
        read.error = openFailure(path, reason);
        return read;
    }
    read.ok = true;
    read.truncated = decoded.truncated;
    read.unreadable = decoded.unreadable;
    read.unreadableLine = decoded.unreadableLine;
    read.data = std::move(decoded.data);
    return read;
}

QString truncatedWarning(const QString &path, int members) {
    return QStringLiteral(
               "\"%1\" may be incomplete:\nits text ends before the end of the squad.\n%2")
        .arg(QDir::toNativeSeparators(path),
             base::countOf(members, "member was read.", "members were read."));
}

QString unreadableWarning(const QString &path, qsizetype count, int line) {
    return QStringLiteral("\"%1\" holds characters that cannot be read.\n%2 replaced by "
                          "\"\uFFFD\" or left out, the first on line %3.")
        .arg(QDir::toNativeSeparators(path),
             count == 1 ? QStringLiteral("1 character was")
                        : QStringLiteral("%1 characters were").arg(count),
             QString::number(line));
}

QString writeSquadFile(const QString &path, const QByteArray &contents) {
    // Only an ordinary file is replaced: saving over a FIFO, a device or a folder would put a
    // plain file in its place (or write into the device), and report success.
    struct stat status {};
    const bool exists = ::stat(QFile::encodeName(path).constData(), &status) == 0;
    if (exists) {
        if (const QString kind = specialFileKind(status.st_mode); !kind.isEmpty())
            return saveFailure(path, notAnOrdinaryFile(kind));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (exists && folderTakesNoNewFiles(path))
            return writeInPlace(path, contents);
        return saveFailure(path, file.errorString());
    }
    // Written past QIODevice's buffer, so that a write cut short (a full disk, a size limit) is
    // seen here with its cause; commit() would otherwise put the truncated file in place of the
    // old one.
    if (!writeAll(file.handle(), contents)) {
        const int error = errno;
        file.cancelWriting();
        return saveFailure(path, cutShort(error));
    }
    if (!file.commit())
        return saveFailure(path, file.errorString());
    return {};
}

} // namespace app
