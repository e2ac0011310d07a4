#include "ftpsession.h"

#include "localfile.h"

#include <QScopeGuard>

#include <curl/curl.h>

namespace upload {
namespace {

// The reply to a command the server does not know or does not do at all, as against a refusal
// of this one file.
bool notImplemented(const QString &reply) {
    return reply.startsWith(QLatin1String("500")) || reply.startsWith(QLatin1String("502")) ||
           reply.startsWith(QLatin1String("504"));
}

} // namespace

CommandResult FtpSession::put(const QString &localPath, const QString &remotePath) {
    if (!ensureHandle())
        return failure(CURLE_FAILED_INIT);
    {
        std::lock_guard lock(m_socketMutex);
        if (m_stopRequested)
            return stopped();
        m_putting = true;
    }
    const auto finished = qScopeGuard([this] {
        std::lock_guard lock(m_socketMutex);
        m_putting = false;
    });
    SendingFile file;
    if (const QString problem = file.open(localPath); !problem.isEmpty())
        return {CommandResult::Refused, problem};
    const QString name = remotePath.mid(remotePath.lastIndexOf(u'/') + 1);
    if (!m_renames)
        return storeInPlace(file, name, remotePath);
    const QString temporary = temporaryPath(remotePath, randomTag());
    CommandResult result = store(file, name, temporary);
    if (result.ok())
        result = checkStoredSize(file, temporary);
    if (!result.ok()) {
        removeTemporary(temporary, result);
        return result;
    }
    result = replace(temporary, remotePath, name);
    if (result.outcome == CommandResult::Refused && !m_renames && file.restart()) {
        // The server renames nothing at all: the only way left is over the old file.
        removeTemporary(temporary, result);
        return storeInPlace(file, name, remotePath);
    }
    return result;
}

CommandResult FtpSession::checkStoredSize(const SendingFile &file, const QString &remotePath) {
    if (!m_tellsSize)
        return {};
    const CommandResult reply = quoteCommand("SIZE", remotePath);
    if (reply.outcome == CommandResult::Failed)
        return lostWhile(reply, QStringLiteral("while checking %1")
                                    .arg(remotePath.mid(remotePath.lastIndexOf(u'/') + 1)));
    if (!reply.text.startsWith(QLatin1String("213 "))) {
        // SIZE is an extension; a server without it is taken at its word.
        m_tellsSize = !notImplemented(reply.text);
        return {};
    }
    bool isNumber = false;
    const qint64 stored = reply.text.mid(4).trimmed().toLongLong(&isNumber);
    if (!isNumber || stored == file.size())
        return {};
    reportState(RemoteError);
    return {CommandResult::Refused, storedSizeProblem(stored, file.size())};
}

CommandResult FtpSession::replace(const QString &temporary, const QString &target,
                                  const QString &name) {
    const auto rename = [&] {
        CommandResult result = quoteCommand("RNFR", temporary);
        if (result.ok())
            result = quoteCommand("RNTO", target);
        return result;
    };
    const QString during = QStringLiteral("while %1 was taking the old file's place").arg(name);
    CommandResult result = rename();
    if (result.ok())
        return result;
    if (result.outcome == CommandResult::Failed) {
        result = lostWhile(result, during);
        if (!result.cancelled)
            result.text +=
                QStringLiteral(" The server holds either the old file or the new one, whole.");
        removeTemporary(temporary, result);
        return result;
    }
    if (notImplemented(result.text)) {
        m_renames = false;
        return result;
    }
    const QString refusal = result.text;
    // A server that renames only onto a free name: the old file has to go first, and for a
    // moment there is none. Once the old file is asked to go, a stop would leave none at all.
    if (!deferStops(false)) {
        removeTemporary(temporary, result);
        return stopped();
    }
    const auto allowed = qScopeGuard([this] { allowStops(); });
    const CommandResult removed = quoteCommand("DELE", target);
    if (removed.outcome == CommandResult::Failed) {
        result = lostWhile(removed, during);
        removeTemporary(temporary, result);
        return result;
    }
    if (!removed.ok()) {
        removeTemporary(temporary, result);
        return {CommandResult::Refused,
                QStringLiteral("the server would not give the new copy its name (%1); the file "
                               "on the server was left as it was")
                    .arg(refusal)};
    }
    result = rename();
    if (result.ok()) {
        notice(notAtomicNotice);
        return result;
    }
    // Removing the new copy now would leave neither file on the server.
    if (result.outcome == CommandResult::Failed)
        return lostWhile(result, QStringLiteral("after the old %1 was removed; the new one may be "
                                                "on the server as \"%2\"")
                                     .arg(name, temporary));
    return {CommandResult::Refused,
            QStringLiteral("the old file was removed, but the new one could not take its name "
                           "(%1); it is on the server as \"%2\"")
                .arg(result.text, temporary)};
}

CommandResult FtpSession::storeInPlace(SendingFile &file, const QString &name,
                                       const QString &target) {
    // Cut short, it would leave a broken file under the live name.
    if (!deferStops(false))
        return stopped();
    const auto allowed = qScopeGuard([this] { allowStops(); });
    CommandResult result = store(file, name, target);
    if (result.ok())
        result = checkStoredSize(file, target);
    if (result.ok())
        notice(inPlaceNotice);
    return result;
}

void FtpSession::removeTemporary(const QString &temporary, CommandResult &result) {
    if (m_cancelled)
        return;
    deferStops(true);
    const auto allowed = qScopeGuard([this] { allowStops(); });
    // A stop may have broken the connection after the command that refused the file.
    if (result.outcome != CommandResult::Failed && !m_stopRequested) {
        if (controlConnectionOpen() && !m_renewHandles)
            quoteCommand("DELE", temporary);
        return;
    }
    // The connection is gone, or about to be found gone, with the copy still on the server: a
    // short new login removes it. It reports no states, and the user already knows the run
    // failed.
    const auto states = std::exchange(m_stateHandler, nullptr);
    const auto timeout = std::exchange(m_timeout, std::min(m_timeout, cleanupTimeout));
    {
        std::lock_guard lock(m_socketMutex);
        m_mayReconnect = true;
    }
    const bool refusedReconnect = std::exchange(m_refusedReconnect, false);
    const CommandResult removed = quoteCommand("DELE", temporary);
    // Gone already counts as removed: the rename may have taken it before the connection broke.
    if (removed.outcome == CommandResult::Failed && !result.cancelled)
        result.text +=
            QStringLiteral(" A temporary copy may be left on the server as \"%1\".").arg(temporary);
    {
        std::lock_guard lock(m_socketMutex);
        m_mayReconnect = false;
        m_reconnecting = false;
    }
    m_refusedReconnect = refusedReconnect;
    m_timeout = timeout;
    m_stateHandler = states;
}

CommandResult FtpSession::lostWhile(CommandResult result, const QString &what) {
    if (result.cancelled)
        return result;
    const QString lost = QStringLiteral("The connection to the server was lost.");
    if (result.text == lost)
        result.text = QStringLiteral("The connection to the server was lost %1; the file on the "
                                     "server was left as it was.")
                          .arg(what);
    return result;
}

void FtpSession::notice(const QString &text) {
    if (m_noticeHandler)
        m_noticeHandler(text);
}

} // namespace upload
