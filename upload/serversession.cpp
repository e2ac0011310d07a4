#include "serversession.h"

#include "base/wording.h"

#include <QRandomGenerator>
#include <QUrl>

#include <algorithm>

namespace upload {
namespace {

QString upperFirst(QString text) {
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

std::optional<ServerAddress> ServerAddress::parse(const QString &text, QString *error) {
    const QString field = text.trimmed();
    QString rest = field;
    ServerAddress address;
    const qsizetype schemeEnd = rest.indexOf(QStringLiteral("://"));
    if (schemeEnd >= 0) {
        const QString scheme = rest.left(schemeEnd).toLower();
        if (scheme == u"ftps") {
            address.security = ImplicitTls;
            address.port = 990;
        } else if (scheme == u"ftpes") {
            address.security = ExplicitTls;
        } else if (scheme == u"sftp") {
            address.security = Sftp;
            address.port = 22;
        } else if (scheme != u"ftp") {
            if (error)
                *error =
                    QStringLiteral("The FTP-Host \"%1\" starts with \"%2://\"; the server can "
                                   "be reached with ftp://, ftps://, ftpes:// or sftp:// only.")
                        .arg(field, rest.left(schemeEnd));
            return std::nullopt;
        }
        rest = rest.mid(schemeEnd + 3);
    }
    if (rest.endsWith(u'/'))
        rest.chop(1);
    const QUrl url(QStringLiteral("ftp://") + rest, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty() ||
        !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment() || url.port() == 0) {
        if (error)
            *error = QStringLiteral("The FTP-Host \"%1\" is not a server name or address, with "
                                    "or without a port (for example ftp.example.org:21).")
                         .arg(field);
        return std::nullopt;
    }
    address.host = url.host(QUrl::FullyEncoded);
    if (url.port() > 0)
        address.port = url.port();
    return address;
}

const QString ServerSession::notAtomicNotice = QStringLiteral("Replaced, not atomically");
const QString ServerSession::inPlaceNotice = QStringLiteral("Written in place, not atomically");

QString ServerSession::temporaryPath(const QString &remotePath, const QString &tag) {
    const qsizetype cut = remotePath.lastIndexOf(u'/');
    // A leading dot keeps it out of most listings while it is written.
    return remotePath.left(cut + 1) + u'.' + remotePath.mid(cut + 1) +
           QStringLiteral(".troopbook-") + tag;
}

QString ServerSession::randomTag() {
    return QString::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, u'0');
}

QString ServerSession::storedSizeProblem(qint64 stored, qint64 sent) {
    return QStringLiteral("the server kept %1 of the %2 sent, so it was not stored; the file "
                          "on the server was left as it was")
        .arg(base::countOf(stored, "byte", "bytes"), base::countOf(sent, "byte", "bytes"));
}

ServerSession::ServerSession(const ServerAddress &server, const QString &user,
                             const QString &password)
    : m_server(server)
    , m_user(user.toUtf8())
    , m_password(password.toUtf8()) {}

void ServerSession::cancel() {
    m_cancelled = true;
    m_nameLookup.cancel();
}

CommandResult ServerSession::stopped() {
    reportState(RemoteError);
    return {CommandResult::Failed, QStringLiteral("The upload was cancelled."), true};
}

std::optional<QStringList> ServerSession::lookUpHost(QString *problem) {
    if (NameLookup::isNumeric(m_server.host))
        return QStringList{m_server.host};
    QString error;
    bool timedOut = false;
    const std::optional<QStringList> found =
        m_nameLookup.run(m_server.host, &error, m_timeout, &timedOut);
    if (!found || m_cancelled)
        return std::nullopt;
    if (found->isEmpty() && problem)
        *problem = timedOut ? QStringLiteral("The name of %1 \"%2\" could not be looked up "
                                             "within %3.")
                                  .arg(serverWord(), m_server.host, timeoutText())
                            : QStringLiteral("%1 \"%2\" was not found.")
                                  .arg(upperFirst(serverWord()), m_server.host);
    return found;
}

void ServerSession::reportState(TransferState state) {
    if (state == m_state)
        return;
    m_state = state;
    if (m_stateHandler)
        m_stateHandler(state);
}

QString ServerSession::masked(QString text) const {
    if (m_password.size() >= 3)
        text.replace(QString::fromUtf8(m_password), QStringLiteral("******"));
    return text;
}

long ServerSession::timeoutSeconds() const {
    return std::max(1L, long((m_timeout.count() + 999) / 1000));
}

QString ServerSession::timeoutText() const {
    return base::durationText(std::chrono::seconds(timeoutSeconds()));
}

QString ServerSession::serverWord() const {
    return m_server.security == ServerAddress::Sftp ? QStringLiteral("the SFTP server")
                                                    : QStringLiteral("the FTP-Host");
}

} // namespace upload
