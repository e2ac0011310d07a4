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

bool directoryMatches(const QString &remoteDirectory, const QString &reply, bool changedInto) {
    if (remoteDirectory.isEmpty())
        return true;
    QString wanted = remoteDirectory;
    if (wanted.size() > 1 && wanted.endsWith(u'/'))
        wanted.chop(1);
    if (reply == u'/' + wanted || reply == wanted)
        return true;
    // Relative to a login directory other than the root. Only after a successful change: a
    // refused one leaves the session where it was, which may happen to end in that name.
    return changedInto && !wanted.startsWith(u'/') && reply.endsWith(u'/' + wanted);
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
    const QString reply = result.text;

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
                return abandon(result);
            }
            if (result.outcome == CommandResult::Refused)
                notStored << name + QStringLiteral(": ") + result.text;
            else
                outcome.stored << remote;
        }
        if (!notStored.isEmpty())
            outcome.messages.append(
                {QStringLiteral("These files were not stored on the server:\r\n") +
                 notStored.join(QStringLiteral("\r\n"))});
    } else {
        outcome.messages.append({directoryMissing});
    }
    transfer.quit();
    return outcome;
}

} // namespace upload
