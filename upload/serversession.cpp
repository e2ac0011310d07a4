#include "serversession.h"

#include <QUrl>

#include <algorithm>
#include <csignal>
#include <mutex>

namespace upload {

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

ServerSession::ServerSession(const ServerAddress &server, const QString &user,
                             const QString &password)
    : m_server(server)
    , m_user(user.toUtf8())
    , m_password(password.toUtf8()) {
    static std::once_flag once;
    // Writing to a connection the server has hung up on must fail, not end the program.
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

void ServerSession::cancel() {
    m_cancelled = true;
    m_nameLookup.cancel();
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
        *problem = timedOut
                       ? QStringLiteral("The name of the FTP-Host \"%1\" could not be "
                                        "looked up within %2.")
                             .arg(m_server.host, timeoutText())
                       : QStringLiteral("The FTP-Host \"%1\" was not found.").arg(m_server.host);
    return found;
}

void ServerSession::raise(int state) {
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
    const long n = timeoutSeconds();
    return n == 1 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(n);
}

} // namespace upload
