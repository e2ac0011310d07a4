#include "uploadsequence.h"

#include "ftpsession.h"
#include "localfile.h"

#include "squad/picturename.h"

namespace upload {
namespace {

const QString directoryMissing =
    QStringLiteral("Connection accomplished,\r\nbut the remote directory doesn't exist.");

bool carriesControlCharacters(const QString &value) {
    return value.contains(u'\r') || value.contains(u'\n') || value.contains(QChar(0));
}

} // namespace

std::optional<UploadMessage> checkFields(const UploadRequest &request) {
    if (request.host.isEmpty() || request.localDirectory.isEmpty())
        return UploadMessage{QStringLiteral("Hmm, I'm sure you forgot something !"),
                             UploadMessage::Omission};
    const std::pair<QString, const QString *> fields[] = {
        {QStringLiteral("FTP-Host"), &request.host},
        {QStringLiteral("Username"), &request.user},
        {QStringLiteral("Password"), &request.password},
        {QStringLiteral("Remote Directory"), &request.remoteDirectory},
        {QStringLiteral("Local Directory"), &request.localDirectory},
        {QStringLiteral("squad file name"), &request.squadFile},
        {QStringLiteral("Picture"), &request.pictureName},
    };
    for (const auto &[label, value] : fields) {
        if (carriesControlCharacters(*value))
            return UploadMessage{
                QStringLiteral("The field \"%1\" contains a line break or a NUL character, which "
                               "cannot be sent to a server. Nothing was sent.")
                    .arg(label)};
    }
    QString error;
    if (!ServerAddress::parse(request.host, &error))
        return UploadMessage{error};
    return std::nullopt;
}

QString squadFileName(const UploadRequest &request) {
    return request.squadFile.isEmpty() ? QStringLiteral("squad.xml") : request.squadFile;
}

QString localPath(const QString &localDirectory, const QString &name) {
    if (localDirectory.endsWith(u'/'))
        return localDirectory + name;
    return localDirectory + u'/' + name;
}

QString reportedDirectory(const QString &reply, bool changedInto) {
    if (changedInto && reply.size() > 1 && reply.endsWith(u'/'))
        return reply.chopped(1);
    return reply;
}

bool directoryMatches(const QString &remoteDirectory, const QString &reply, bool changedInto) {
    if (remoteDirectory.isEmpty())
        return true;
    QString wanted = remoteDirectory;
    if (wanted.size() > 1 && wanted.endsWith(u'/'))
        wanted.chop(1);
    // A server that entered the directory may name it in its own case: it takes names in any
    // case, or the change would have been refused. Only after a successful change: a refused
    // one leaves the session where it was, which may happen to bear a similar name.
    const Qt::CaseSensitivity cs = changedInto ? Qt::CaseInsensitive : Qt::CaseSensitive;
    const QString reported = reportedDirectory(reply, changedInto);
    if (reported.compare(u'/' + wanted, cs) == 0 || reported.compare(wanted, cs) == 0)
        return true;
    // Relative to a login directory other than the root.
    return changedInto && !wanted.startsWith(u'/') && reported.endsWith(u'/' + wanted, cs);
}

UploadOutcome runUpload(const UploadRequest &request, Transfer &transfer) {
    UploadOutcome outcome;
    const auto abandon = [&](const CommandResult &result) {
        transfer.drop();
        outcome.cancelled = result.cancelled;
        if (!result.cancelled)
            outcome.messages.append({result.text});
        return outcome;
    };

    CommandResult result = transfer.changeDirectory(request.remoteDirectory);
    if (result.outcome == CommandResult::Failed)
        return abandon(result);
    const bool changedInto = result.ok();
    result = transfer.printDirectory();
    if (result.outcome == CommandResult::Refused)
        result = {
            CommandResult::Failed,
            QStringLiteral("The server did not tell its current directory: %1").arg(result.text)};
    if (result.outcome == CommandResult::Failed)
        return abandon(result);
    const QString reply = reportedDirectory(result.text, changedInto);

    if (directoryMatches(request.remoteDirectory, reply, changedInto)) {
        // Each file with why it is not sent, if it is not.
        QList<std::pair<QString, QString>> files;
        // A FIFO or device would block the run for good, so it is named, not opened. A missing
        // companion, or a directory of that name, is simply not there to send; the picture the
        // squad names is listed then, since the game will miss it.
        const auto consider = [&](const QString &name, bool always, bool listIfAbsent = false) {
            const QString path = localPath(request.localDirectory, name);
            const LocalEntry entry = localEntry(path);
            if (entry == LocalEntry::Special)
                files.append({name, notRegularReason(path)});
            else if (always || entry == LocalEntry::Regular)
                files.append({name, QString()});
            else if (listIfAbsent)
                files.append({name, entry == LocalEntry::Directory
                                        ? QStringLiteral("it is a folder, not a picture, and was "
                                                         "not sent")
                                        : QStringLiteral("the picture is not in the local "
                                                         "directory, so it was not sent")});
        };
        consider(squadFileName(request), true);
        consider(QStringLiteral("squad.dtd"), false);
        consider(QStringLiteral("squad.xsl"), false);
        if (!request.pictureName.isEmpty()) {
            // The name comes from the squad file, which may be someone else's.
            const QString picture = squad::pictureFileName(request.pictureName);
            if (picture.isEmpty())
                files.append({request.pictureName,
                              QStringLiteral("the picture name is not a plain file name in the "
                                             "local directory, so it was not sent")});
            else
                consider(picture, false, true);
        }

        QStringList notStored;
        QStringList storedNames;
        const auto listNotStored = [&] {
            if (!notStored.isEmpty())
                outcome.messages.append(
                    {QStringLiteral("These files were not stored on the server:\r\n") +
                     notStored.join(QStringLiteral("\r\n"))});
        };
        for (qsizetype i = 0; i < files.size(); ++i) {
            const auto &[name, skipped] = files[i];
            if (!skipped.isEmpty()) {
                notStored << name + QStringLiteral(": ") + skipped;
                outcome.files.append({name, QString(), false, skipped});
                continue;
            }
            const QString remote = reply + u'/' + name;
            result = transfer.put(localPath(request.localDirectory, name), remote);
            outcome.files.append(
                {name, remote, result.ok(), result.ok() ? QString() : result.text});
            if (result.outcome == CommandResult::Failed) {
                for (const auto &[left, why] : files.mid(i + 1))
                    outcome.files.append(
                        {left, QString(), false,
                         why.isEmpty() ? QStringLiteral("the upload ended before it") : why});
                if (!result.cancelled) {
                    // What the server holds now, file by file, since the run ends here.
                    QStringList untried;
                    for (qsizetype j = i; j < files.size(); ++j)
                        untried << files[j].first;
                    result.text += storedNames.isEmpty()
                                       ? QStringLiteral("\r\n\r\nNo file was stored.")
                                       : QStringLiteral("\r\n\r\nStored: %1")
                                             .arg(storedNames.join(QStringLiteral(", ")));
                    result.text += QStringLiteral("\r\nNot stored: %1")
                                       .arg(untried.join(QStringLiteral(", ")));
                }
                abandon(result);
                listNotStored();
                return outcome;
            }
            if (result.outcome == CommandResult::Refused) {
                notStored << name + QStringLiteral(": ") + result.text;
            } else {
                outcome.stored << remote;
                storedNames << name;
            }
        }
        listNotStored();
    } else {
        outcome.messages.append({directoryMissing});
    }
    transfer.quit();
    return outcome;
}

} // namespace upload
