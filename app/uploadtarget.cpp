#include "uploadtarget.h"

#include "upload/serversession.h"

#include <QList>
#include <QUrl>

namespace app {
namespace {

// The .netrc text as words; a double-quoted word may hold blanks and backslash escapes. A
// macro definition, which runs to the next blank line, holds no entries and is left out.
QList<QByteArray> netrcWords(const QByteArray &text) {
    const QByteArrayView blanks(" \t\r\n");
    QList<QByteArray> words;
    for (qsizetype i = 0; i < text.size();) {
        if (blanks.contains(text[i])) {
            ++i;
            continue;
        }
        QByteArray word;
        if (text[i] == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size())
                    ++i;
                word += text[i];
            }
            ++i;
        } else {
            for (; i < text.size() && !blanks.contains(text[i]); ++i)
                word += text[i];
        }
        words << word;
        if (words.size() >= 2 && words[words.size() - 2] == "macdef") {
            words.resize(words.size() - 2);
            const qsizetype end = text.indexOf("\n\n", i);
            i = end < 0 ? text.size() : end + 2;
        }
    }
    return words;
}

} // namespace

std::optional<UploadTarget> parseUploadAddress(const QString &address, QString *error) {
    const auto refuse = [&](const QString &why) {
        *error = why;
        return std::nullopt;
    };
    const qsizetype schemeEnd = address.indexOf(QStringLiteral("://"));
    const QString scheme = schemeEnd < 0 ? QString() : address.left(schemeEnd).toLower();
    if (!QStringList{"ftp", "ftps", "ftpes", "sftp"}.contains(scheme))
        return refuse(QStringLiteral("The address \"%1\" does not start with ftp://, ftps://, "
                                     "ftpes:// or sftp://.")
                          .arg(address));
    const QString rest = address.mid(schemeEnd + 3);
    const qsizetype pathStart = rest.indexOf(u'/');
    const QString authority = pathStart < 0 ? rest : rest.left(pathStart);
    QString path = pathStart < 0 ? QString() : rest.mid(pathStart);
    const qsizetype at = authority.lastIndexOf(u'@');
    const QString userInfo = at < 0 ? QString() : authority.left(at);
    if (userInfo.contains(u':'))
        return refuse(QStringLiteral(
            "The address holds a password. Other users of this computer can read a command "
            "line while it runs (ps), so it is not taken: give the password in the environment "
            "variable TROOPBOOK_PASSWORD or in ~/.netrc instead."));
    const QString hostAndPort = authority.mid(at + 1);
    const std::optional<upload::ServerAddress> server =
        upload::ServerAddress::parse(scheme + QStringLiteral("://") + hostAndPort, nullptr);
    if (hostAndPort.isEmpty() || !server)
        return refuse(QStringLiteral("The address \"%1\" names no server; for example "
                                     "sftp://clan@example.org:2222/www/squad.")
                          .arg(address));
    UploadTarget target;
    target.host = scheme + QStringLiteral("://") + hostAndPort;
    target.machine = QUrl(QStringLiteral("ftp://") + hostAndPort).host();
    target.user = QUrl::fromPercentEncoding(userInfo.toUtf8());
    path = QUrl::fromPercentEncoding(path.toUtf8());
    if (server->security != upload::ServerAddress::Sftp)
        path = path.mid(1);
    else if (path == u"/~" || path.startsWith(QStringLiteral("/~/")))
        path = path.mid(3);
    else if (path == u"/")
        path.clear();
    target.remoteDirectory = path;
    return target;
}

std::optional<NetrcLogin> findNetrcLogin(const QByteArray &netrc, const QString &machine,
                                         const QString &user) {
    const QList<QByteArray> words = netrcWords(netrc);
    std::optional<NetrcLogin> fallback;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const bool isDefault = words[i] == "default";
        if (!isDefault && (words[i] != "machine" || i + 1 >= words.size()))
            continue;
        const bool named =
            !isDefault &&
            QString::fromUtf8(words[i + 1]).compare(machine, Qt::CaseInsensitive) == 0;
        NetrcLogin entry;
        qsizetype j = i + (isDefault ? 1 : 2);
        for (; j + 1 < words.size() && words[j] != "machine" && words[j] != "default"; j += 2) {
            if (words[j] == "login")
                entry.login = QString::fromUtf8(words[j + 1]);
            else if (words[j] == "password")
                entry.password = QString::fromUtf8(words[j + 1]);
        }
        i = j - 1;
        if (!user.isEmpty() && !entry.login.isEmpty() && entry.login != user)
            continue;
        if (named)
            return entry;
        if (isDefault && !fallback)
            fallback = entry;
    }
    return fallback;
}

} // namespace app
