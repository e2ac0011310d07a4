#include "sftpconnection.h"

#include "localfile.h"
#include "sftpextensions.h"

#include <QFile>
#include <QScopeGuard>

#include <fcntl.h>

namespace upload {
namespace {

// Big enough to keep the link busy, small enough for every server's packet limit.
constexpr size_t chunkSize = 32768;

} // namespace

CommandResult SftpSession::put(const QString &localPath, const QString &remotePath) {
    if (!m_connection)
        return failed(QStringLiteral("The connection to the server is closed."));
    SendingFile local;
    if (const QString problem = local.open(localPath); !problem.isEmpty())
        return {CommandResult::Refused, problem};
    QString target = remotePath;
    while (target.startsWith(QStringLiteral("//")))
        target.remove(0, 1);
    const QString name = target.mid(target.lastIndexOf(u'/') + 1);
    const Watch watch(*this);
    m_storing = true;
    const auto stored = qScopeGuard([this] { m_storing = false; });
    if (m_stopRequested)
        return stopped();
    target = followLinks(target);
    return storeFile(local, name, target, temporaryPath(target, randomTag()));
}

QString SftpSession::followLinks(const QString &remotePath) {
    // A rename over a symbolic link would replace the link itself; the file it points to is
    // the one to replace, as writing into the link would.
    QString path = remotePath;
    for (int hops = 0; hops < 8; ++hops) {
        const sftp_attributes attributes =
            sftp_lstat(m_connection->sftp, path.toUtf8().constData());
        if (!attributes)
            break;
        const bool isLink = attributes->type == SSH_FILEXFER_TYPE_SYMLINK;
        sftp_attributes_free(attributes);
        const SshString link{isLink ? sftp_readlink(m_connection->sftp, path.toUtf8().constData())
                                    : nullptr};
        if (!link.text)
            break;
        const QString to = link.toString();
        path = to.startsWith(u'/') ? to : path.left(path.lastIndexOf(u'/') + 1) + to;
    }
    return path;
}

CommandResult SftpSession::storeFile(SendingFile &local, const QString &name, const QString &target,
                                     const QString &temporary) {
    const sftp_session sftp = m_connection->sftp;
    const QByteArray targetPath = target.toUtf8();
    const QByteArray temporaryName = temporary.toUtf8();
    reportState(SendingRequest);

    mode_t mode = 0644;
    bool replaces = false;
    if (const sftp_attributes old = sftp_stat(sftp, targetPath.constData())) {
        const bool isDirectory = old->type == SSH_FILEXFER_TYPE_DIRECTORY;
        if (old->flags & SSH_FILEXFER_ATTR_PERMISSIONS)
            mode = old->permissions & 07777;
        sftp_attributes_free(old);
        if (isDirectory)
            return refused(QStringLiteral("a directory of that name is in the way"));
        replaces = true;
    } else if (!alive(m_connection.get())) {
        return lost(name);
    }

    const sftp_file file =
        sftp_open(sftp, temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (!file)
        return alive(m_connection.get()) ? refused(sftpErrorText()) : lost(name);
    reportState(RequestSent);

    CommandResult result;
    QByteArray buffer(chunkSize, Qt::Uninitialized);
    const qint64 size = local.size();
    qint64 sent = 0;
    reportProgress(name, 0, size);
    for (bool done = false; !done && result.ok();) {
        if (m_stopRequested) {
            result = stopped();
            break;
        }
        const qint64 count = local.read(buffer.data(), chunkSize);
        if (count < 0) {
            result = {CommandResult::Refused, local.problem()};
            break;
        }
        done = count == 0;
        for (qint64 written = 0; written < count;) {
            const ssize_t n =
                sftp_write(file, buffer.constData() + written, size_t(count - written));
            if (n < 0) {
                result = alive(m_connection.get()) ? refused(sftpErrorText()) : lost(name);
                break;
            }
            written += n;
            touch();
        }
        sent += count;
        if (count > 0)
            reportProgress(name, sent, size);
    }
    if (sftp_close(file) != 0 && result.ok())
        result = alive(m_connection.get()) ? refused(sftpErrorText()) : lost(name);
    if (result.ok()) {
        if (const QString changed = local.problem(); !changed.isEmpty())
            result =
                refused(changed + QStringLiteral("; the file on the server was left as it was"));
    }
    // A server may acknowledge every write and still keep less.
    if (result.ok())
        result = checkStoredSize(temporaryName, local.size(), name);
    if (!result.ok()) {
        removeLeftover(temporary, result);
        return result;
    }
    touch();
    reportState(ReceivingResponse);
    // The server's umask may have narrowed the old file's mode; the copy keeps it as it was.
    if (replaces)
        sftp_chmod(sftp, temporaryName.constData(), mode);

    bool atomic = offersPosixRename(sftp);
    int renamed = SSH_FX_OP_UNSUPPORTED;
    if (atomic) {
        renamed = posixRename(sftp, temporaryName, targetPath, int(m_timeout.count()));
        if (renamed < 0)
            m_connection->broken = true;
        // Offered but turned down: some servers list extensions their file system lacks.
        atomic = renamed != SSH_FX_OP_UNSUPPORTED;
    }
    // The plain rename. (From libssh 0.11 on it is posix-rename again where offered, so a server
    // that offers it and then turns it down gets no other chance there.)
    if (!atomic)
        renamed = sftp_rename(sftp, temporaryName.constData(), targetPath.constData()) == 0
                      ? SSH_FX_OK
                      : SSH_FX_FAILURE;
    if (renamed == SSH_FX_OK) {
        reportState(ResponseReceived);
        reportState(ResponseCompleted);
        return {};
    }
    if (!alive(m_connection.get())) {
        // The server may or may not have done the rename before the connection went.
        result = failed(QStringLiteral("%1 while %2 was taking the old file's place; the server "
                                       "holds either the old file or the new one, whole.")
                            .arg(brokenText(m_connection.get()).chopped(1), name));
        removeLeftover(temporary, result);
        return result;
    }
    QString why = sftpErrorText();
    if (!atomic && replaces) {
        // A server that renames only onto a free name: the old file has to go first, and for a
        // moment there is none.
        if (sftp_unlink(sftp, targetPath.constData()) == 0) {
            if (sftp_rename(sftp, temporaryName.constData(), targetPath.constData()) == 0) {
                reportState(ResponseReceived);
                reportState(ResponseCompleted);
                if (m_noticeHandler)
                    m_noticeHandler(notAtomicNotice);
                return {};
            }
            // Removing the new copy now would leave neither file on the server.
            if (!alive(m_connection.get()))
                return failed(QStringLiteral("%1 after the old %2 was removed; the new one may be "
                                             "on the server as \"%3\".")
                                  .arg(brokenText(m_connection.get()).chopped(1), name, temporary));
            return refused(QStringLiteral("the old file was removed, but the new one could not "
                                          "take its name (%1); it is on the server as \"%2\"")
                               .arg(sftpErrorText(), temporary));
        }
        if (!alive(m_connection.get())) {
            result = lost(name);
            removeLeftover(temporary, result);
            return result;
        }
        why = sftpErrorText();
    }
    result = refused(
        replaces ? QStringLiteral("the new copy could not replace the old file (%1)").arg(why)
                 : QStringLiteral("the new file could not be given its name (%1)").arg(why));
    removeLeftover(temporary, result);
    return result;
}

CommandResult SftpSession::checkStoredSize(const QByteArray &path, qint64 expected,
                                           const QString &name) {
    const sftp_attributes attributes = sftp_stat(m_connection->sftp, path.constData());
    if (!attributes)
        return alive(m_connection.get()) ? refused(sftpErrorText()) : lost(name);
    const bool known = attributes->flags & SSH_FILEXFER_ATTR_SIZE;
    const qint64 stored = qint64(attributes->size);
    sftp_attributes_free(attributes);
    if (!known || stored == expected)
        return {};
    return refused(storedSizeProblem(stored, expected));
}

void SftpSession::removeLeftover(const QString &temporary, CommandResult &result) {
    const QByteArray path = temporary.toUtf8();
    if (alive(m_connection.get())) {
        sftp_unlink(m_connection->sftp, path.constData());
        return;
    }
    if (m_cancelled)
        return;
    // The connection is gone with the partial copy still on the server: a short second
    // connection removes it. It asks nothing; an unrecorded key by now means it is skipped.
    std::unique_ptr<Connection> cleanup;
    const auto states = std::exchange(m_stateHandler, nullptr);
    m_watchdog.reset();
    touch();
    // Gone already counts as removed: a rename may have taken it before the connection broke.
    const bool removed =
        establish(cleanup, false).ok() && (sftp_unlink(cleanup->sftp, path.constData()) == SSH_OK ||
                                           sftp_get_error(cleanup->sftp) == SSH_FX_NO_SUCH_FILE);
    if (cleanup) {
        std::swap(cleanup, m_connection);
        close(true);
        m_connection = std::move(cleanup);
    }
    m_stateHandler = states;
    if (!removed && !m_cancelled)
        result.text +=
            QStringLiteral(" A temporary copy may be left on the server as \"%1\".").arg(temporary);
}

} // namespace upload
