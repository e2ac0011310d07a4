#include "squadfile.h"

#include "base/regularfile.h"
#include "base/wording.h"
#include "picture/picturecheck.h"
#include "squad/squadcheck.h"
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
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {
namespace {

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

// In bytes as well: a file just over the limit rounds to the limit itself.
QString tooBig(qint64 size) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    return QStringLiteral("The file is %1 bytes (%2), too large: squad files over 1 GiB (%3 "
                          "bytes) are not read.")
        .arg(english.toString(size), english.formattedDataSize(size),
             english.toString(largestSquadFile));
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

// False with errno set when the write failed, or with ECANCELED when it was canceled.
bool writeAll(int fd, const QByteArray &contents, const Canceled &canceled = {}) {
    // In pieces, so that a cancel is noticed while a slow disk takes them.
    constexpr qsizetype piece = qsizetype(64) << 20;
    qsizetype written = 0;
    while (written < contents.size()) {
        if (canceled && canceled()) {
            errno = ECANCELED;
            return false;
        }
        const ssize_t n =
            ::pwrite(fd, contents.constData() + written,
                     size_t(std::min(contents.size() - written, piece)), off_t(written));
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

// The new copy becomes the file that `old` describes: the same owner and group where this user
// may give them (root always, others a group they belong to), then the same mode, set-user and
// set-group bits included, which changing the owner clears. A set-id bit stays only with the
// owner or group it was given for.
void takeOverOwnership(int fd, const struct stat &old) {
    mode_t mode = old.st_mode & 07777;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        mode &= ~mode_t(S_ISUID);
        if (::fchown(fd, uid_t(-1), old.st_gid) != 0)
            mode &= ~mode_t(S_ISGID);
    }
    (void)::fchmod(fd, mode);
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

// Reads the whole file into `bytes`, sized once from `size`: one byte more than that, so that a
// file still growing is noticed and read on, up to the limit. Empty on success, else why not.
QString readAll(int fd, qint64 size, const Canceled &canceled, QByteArray &bytes) {
    // In pieces, so that a cancel is noticed while a slow disk delivers.
    constexpr qsizetype piece = qsizetype(64) << 20;
    bytes = QByteArray(qsizetype(size) + 1, Qt::Uninitialized);
    qsizetype used = 0;
    for (;;) {
        if (canceled && canceled())
            return {};
        if (used == bytes.size()) {
            if (used > largestSquadFile)
                return tooBig(used);
            bytes.resize(qsizetype(std::min(qint64(used) * 2 + 65536, largestSquadFile + 1)));
        }
        const ssize_t n =
            ::read(fd, bytes.data() + used, size_t(std::min(bytes.size() - used, piece)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return systemError(errno);
        if (n == 0)
            break;
        used += n;
    }
    bytes.truncate(used);
    return {};
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

SquadFileRead readSquadFile(const QString &path, const Canceled &canceled, FileAccess access) {
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
    QByteArray bytes;
    void *mapped = MAP_FAILED;
    const auto unmap = qScopeGuard([&] {
        if (mapped != MAP_FAILED)
            ::munmap(mapped, size_t(status.st_size));
    });
    if (access == FileAccess::Map && status.st_size > 0) {
        // The page cache's own pages: no copy, and no fresh memory to be cleared first.
        mapped =
            ::mmap(nullptr, size_t(status.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (mapped != MAP_FAILED)
            bytes = QByteArray::fromRawData(static_cast<const char *>(mapped),
                                            qsizetype(status.st_size));
    }
    if (mapped == MAP_FAILED) {
        if (const QString failure = readAll(fd, status.st_size, canceled, bytes);
            !failure.isEmpty()) {
            read.error = openFailure(path, failure);
            return read;
        }
    }
    if (canceled && canceled())
        return read;
    squad::DecodeResult decoded =
        mapped != MAP_FAILED ? squad::decodeMapped(bytes) : squad::decode(bytes);
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

QString readOrdinaryFile(const QString &path, QByteArray &bytes) {
    bytes.clear();
    const QByteArray native = QFile::encodeName(path);
    // As readSquadFile: looked at before opening and again through the open file.
    struct stat status {};
    if (::stat(native.constData(), &status) != 0)
        return openFailure(path, systemError(errno));
    if (const QString refusal = unreadable(status); !refusal.isEmpty())
        return openFailure(path, refusal);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return openFailure(path, systemError(errno));
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    if (::fstat(fd, &status) != 0)
        return openFailure(path, systemError(errno));
    if (const QString refusal = unreadable(status); !refusal.isEmpty())
        return openFailure(path, refusal);
    if (const QString failure = readAll(fd, status.st_size, {}, bytes); !failure.isEmpty()) {
        bytes.clear();
        return openFailure(path, failure);
    }
    return {};
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

QString writeSquadFile(const QString &path, const QByteArray &contents, const Canceled &canceled) {
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
    if (exists)
        takeOverOwnership(file.handle(), status);
    // Written past QIODevice's buffer, so that a write cut short (a full disk, a size limit) is
    // seen here with its cause; commit() would otherwise put the truncated file in place of the
    // old one.
    if (!writeAll(file.handle(), contents, canceled)) {
        const int error = errno;
        file.cancelWriting();
        return error == ECANCELED ? QString() : saveFailure(path, cutShort(error));
    }
    if (canceled && canceled()) {
        file.cancelWriting();
        return {};
    }
    if (!file.commit())
        return saveFailure(path, file.errorString());
    return {};
}

QList<squad::Finding> fileFindings(const SquadFileRead &read) {
    QList<squad::Finding> findings;
    if (read.unreadable > 0) {
        findings.append(
            {squad::Finding::Kind::Problem, -1, std::nullopt, std::nullopt,
             QStringLiteral("%1 of the values cannot be read, the first on line %2, "
                            "so a game's XML parser would refuse the file: open it, "
                            "check those values and save it.")
                 .arg(read.unreadable == 1 ? QStringLiteral("1 character")
                                           : QStringLiteral("%1 characters").arg(read.unreadable),
                      QString::number(read.unreadableLine))});
    }
    if (read.truncated) {
        // A game's XML parser refuses the whole file, whatever members it still holds.
        findings.append({squad::Finding::Kind::Problem, -1, std::nullopt, std::nullopt,
                         QStringLiteral("The text ends before the end of the squad, so the file "
                                        "may be incomplete and a game cannot read it: open it, "
                                        "check the members and save it whole.")});
    }
    return findings;
}

QList<squad::Finding> checkSquadFile(const SquadFileRead &read, const QString &path) {
    return fileFindings(read) + squad::checkSquad(read.data, {QFileInfo(path).absoluteFilePath(),
                                                              false, &picture::paaInspector()});
}

QString findingLine(const QString &path, const squad::Finding &finding,
                    const squad::SquadData &squad) {
    const QString concerns = finding.member < 0
                                 ? QStringLiteral("squad")
                                 : QStringLiteral("member %1 \"%2\"")
                                       .arg(QString::number(finding.member + 1),
                                            squad.mmbdata.cell(squad::Field::Nick, finding.member));
    const bool problem = finding.kind == squad::Finding::Kind::Problem;
    return QStringLiteral("%1: %2: %3: %4")
        .arg(path, concerns, problem ? QStringLiteral("problem") : QStringLiteral("hint"),
             finding.message);
}

} // namespace app
