#include "ftpsession.h"

#include "localfile.h"

#include "curlsupport/curlsupport.h"

#include <QFile>
#include <QUrl>

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <sys/socket.h>
#include <unistd.h>

namespace upload {
namespace {

bool isFinalReplyLine(const QByteArray &line) {
    return line.size() >= 3 &&
           std::all_of(line.begin(), line.begin() + 3,
                       [](char c) { return c >= '0' && c <= '9'; }) &&
           (line.size() == 3 || line[3] == ' ');
}

bool isErrorReply(const QString &reply) {
    return reply.startsWith(u'4') || reply.startsWith(u'5');
}

} // namespace

// libcurl calls these on the session's thread, except where cancel() says otherwise.
struct CurlCallbacks {
    static int debug(CURL *, curl_infotype type, char *data, size_t size, void *userp) {
        auto *session = static_cast<FtpSession *>(userp);
        switch (type) {
        case CURLINFO_HEADER_IN:
            session->takeReplyLines(data, size);
            break;
        case CURLINFO_HEADER_OUT:
            // The line itself is not kept anywhere: one of them carries the password.
            session->reportState(SendingRequest);
            session->reportState(RequestSent);
            break;
        case CURLINFO_DATA_OUT:
            session->reportState(SendingRequest);
            break;
        default:
            break;
        }
        return 0;
    }

    static int progress(void *userp, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
        auto *session = static_cast<FtpSession *>(userp);
        if (!session->m_sendingName.isEmpty())
            session->reportProgress(session->m_sendingName, sent, session->m_sendingSize);
        return session->stopping() ? 1 : 0;
    }

    static curl_socket_t openSocket(void *userp, curlsocktype, curl_sockaddr *address) {
        auto *session = static_cast<FtpSession *>(userp);
        if (session->m_cancelled)
            return CURL_SOCKET_BAD;
        bool opensSession = false;
        {
            std::lock_guard lock(session->m_socketMutex);
            if (session->m_everConnected && session->m_controlSocket == CURL_SOCKET_BAD) {
                // The control connection is gone; a new one would log in afresh and lose the
                // directory, so the session ends here instead, unless a refusal that ends only
                // one file closed it (the paths sent are absolute).
                if (!session->m_reconnecting) {
                    if (!std::exchange(session->m_mayReconnect, false)) {
                        session->m_refusedReconnect = true;
                        return CURL_SOCKET_BAD;
                    }
                    // Its data connections resume the new connection's TLS session.
                    session->m_reconnecting = true;
                    session->m_tlsConnections = 0;
                }
            }
            opensSession = !session->m_everConnected;
        }
        if (opensSession) {
            session->reportState(HostResolved);
            session->reportState(Connecting);
        }
        const curl_socket_t fd =
            ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (fd == CURL_SOCKET_BAD)
            return fd;
        std::lock_guard lock(session->m_socketMutex);
        session->m_sockets.push_back(fd);
        if (session->m_cancelled)
            ::shutdown(fd, SHUT_RDWR);
        return fd;
    }

    static int closeSocket(void *userp, curl_socket_t fd) {
        auto *session = static_cast<FtpSession *>(userp);
        bool wasControl = false;
        {
            std::lock_guard lock(session->m_socketMutex);
            std::erase(session->m_sockets, fd);
            wasControl =
                fd == session->m_controlSocket || (!session->m_everConnected && session->m_greeted);
            if (fd == session->m_controlSocket)
                session->m_controlSocket = CURL_SOCKET_BAD;
        }
        ::close(fd);
        if (wasControl)
            session->reportState(Disconnected);
        return 0;
    }

    static CURLcode sslContext(CURL *, void *context, void *userp) {
        auto *session = static_cast<FtpSession *>(userp);
        if (session->m_tlsConnections++ > 0) {
            // Many servers take a data connection only if it resumes the control connection's
            // TLS session. Under TLS 1.3 each data connection is handed tickets of its own,
            // which libcurl would then offer in place of the control connection's: data
            // connections keep none.
            SSL_CTX_set_session_cache_mode(static_cast<SSL_CTX *>(context), SSL_SESS_CACHE_OFF);
        }
        return CURLE_OK;
    }

    static size_t read(char *buffer, size_t size, size_t count, void *userp) {
        const qint64 n = static_cast<SendingFile *>(userp)->read(buffer, qint64(size * count));
        return n < 0 ? CURL_READFUNC_ABORT : size_t(n);
    }
};

FtpSession::FtpSession(const ServerAddress &server, const QString &user, const QString &password)
    : ServerSession(server, user, password)
    , m_errorBuffer(CURL_ERROR_SIZE, '\0') {
    curlsupport::initialise();
}

FtpSession::~FtpSession() {
    drop();
}

QString FtpSession::pathFromPwdReply(const QString &reply) {
    const qsizetype open = reply.indexOf(u'"');
    if (open < 0)
        return reply.mid(4).trimmed();
    QString path;
    for (qsizetype i = open + 1; i < reply.size(); ++i) {
        if (reply[i] == u'"') {
            if (i + 1 < reply.size() && reply[i + 1] == u'"') {
                path += u'"';
                ++i;
                continue;
            }
            break;
        }
        path += reply[i];
    }
    return path;
}

CommandResult FtpSession::changeDirectory(const QString &directory) {
    if (directory.isEmpty()) {
        if (everConnected())
            return {};
        return quoteCommand({});
    }
    return quoteCommand("CWD " + directory.toUtf8());
}

CommandResult FtpSession::printDirectory() {
    CommandResult result = quoteCommand("PWD");
    if (result.ok())
        result.text = pathFromPwdReply(result.text);
    return result;
}

CommandResult FtpSession::store(SendingFile &file, const QString &name, const QString &remotePath) {
    reportState(SendingRequest);
    prepare(remotePath);
    CURL *curl = m_curl;
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &CurlCallbacks::read);
    curl_easy_setopt(curl, CURLOPT_READDATA, &file);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(file.size()));
    m_sendingName = remotePath.mid(remotePath.lastIndexOf(u'/') + 1);
    m_sendingSize = file.size();
    const int code = perform();
    m_sendingName.clear();
    if (stopping())
        return failure(code);
    // A file cut short while it was read ends the transfer early, which libcurl counts as a
    // failure of its own; the change is what the user needs to know.
    if (const QString changed = file.problem();
        !changed.isEmpty() &&
        (code == CURLE_OK || code == CURLE_PARTIAL_FILE || code == CURLE_ABORTED_BY_CALLBACK)) {
        if (code != CURLE_OK && !controlConnectionOpen()) {
            std::lock_guard lock(m_socketMutex);
            m_mayReconnect = true;
        }
        reportState(RemoteError);
        return {CommandResult::Refused,
                changed + QStringLiteral("; the file on the server was left as it was")};
    }
    if (code == CURLE_OK) {
        reportState(ResponseCompleted);
        return {CommandResult::Done, m_lastReply};
    }
    CommandResult result = refusedOrFailed(code);
    if (result.outcome == CommandResult::Failed)
        result = lostWhile(result, QStringLiteral("while sending %1").arg(name));
    return result;
}

void FtpSession::quit() {
    if (!m_curl)
        return;
    reportState(Disconnecting);
    // Everything is done by now: a server that never answers the goodbye is not waited for.
    if (controlConnectionOpen()) {
        const auto timeout = std::exchange(m_timeout, std::min(m_timeout, quitTimeout));
        const auto states = std::exchange(m_stateHandler, nullptr);
        quoteCommand("QUIT");
        m_stateHandler = states;
        m_timeout = timeout;
    }
    closeSession(false);
    reportState(Disconnected);
}

void FtpSession::drop() {
    if (!m_curl)
        return;
    closeSession(false);
}

void FtpSession::cancelTidily() {
    {
        std::lock_guard lock(m_socketMutex);
        m_stopRequested = true;
        if (m_putting) {
            // libcurl may wait inside a transfer for a second at a time: only a broken
            // connection ends that wait at once.
            if (m_stopDeferrals == 0) {
                for (const int fd : m_sockets)
                    ::shutdown(fd, SHUT_RDWR);
                if (m_multi)
                    curl_multi_wakeup(m_multi);
            }
            return;
        }
    }
    cancel();
}

bool FtpSession::stopping() const {
    return m_cancelled || (m_stopRequested && m_stopDeferrals == 0);
}

bool FtpSession::deferStops(bool evenWhenStopped) {
    std::lock_guard lock(m_socketMutex);
    if (m_stopRequested && m_stopDeferrals == 0 && !evenWhenStopped)
        return false;
    ++m_stopDeferrals;
    return true;
}

void FtpSession::allowStops() {
    std::lock_guard lock(m_socketMutex);
    --m_stopDeferrals;
}

void FtpSession::cancel() {
    ServerSession::cancel();
    // shutdown() wakes a libcurl waiting on the socket at once; the session's thread still owns
    // and closes the descriptors.
    std::lock_guard lock(m_socketMutex);
    for (const int fd : m_sockets)
        ::shutdown(fd, SHUT_RDWR);
    if (m_multi)
        curl_multi_wakeup(m_multi);
}

bool FtpSession::controlConnectionOpen() {
    std::lock_guard lock(m_socketMutex);
    return m_controlSocket != CURL_SOCKET_BAD;
}

bool FtpSession::everConnected() {
    std::lock_guard lock(m_socketMutex);
    return m_everConnected;
}

bool FtpSession::ensureHandle() {
    if (m_curl && std::exchange(m_renewHandles, false)) {
        CURLM *multi = nullptr;
        {
            std::lock_guard lock(m_socketMutex);
            for (const int fd : m_sockets)
                ::shutdown(fd, SHUT_RDWR);
            multi = std::exchange(m_multi, nullptr);
        }
        curl_multi_cleanup(multi);
        curl_easy_cleanup(std::exchange(m_curl, nullptr));
        std::lock_guard lock(m_socketMutex);
        m_controlSocket = CURL_SOCKET_BAD;
        m_mayReconnect = true;
        m_reconnecting = false;
    }
    if (!m_curl && !m_closed) {
        m_curl = curl_easy_init();
        // The control connection waits in the multi handle's cache between commands.
        std::lock_guard lock(m_socketMutex);
        m_multi = curl_multi_init();
    }
    return m_curl && m_multi;
}

void FtpSession::prepare(const QString &remotePath) {
    CURL *curl = m_curl;
    // Options go, the connection stays.
    curl_easy_reset(curl);
    QByteArray host = m_server.host.toUtf8();
    if (host.contains(':'))
        host = '[' + host + ']';
    const QByteArray url =
        (m_server.security == ServerAddress::ImplicitTls ? "ftps://" : "ftp://") + host + ':' +
        QByteArray::number(m_server.port) + '/' + QUrl::toPercentEncoding(remotePath);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
    // Straight to the server: a proxy from the environment (ftp_proxy, all_proxy) would carry the
    // session over HTTP and have its name looked up where a cancel cannot stop it.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    if (!m_user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, m_user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, m_password.constData());
    }
    if (m_server.security != ServerAddress::Plain) {
        curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &CurlCallbacks::sslContext);
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, this);
    }
    if (!m_trustedCertificates.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO,
                         QFile::encodeName(m_trustedCertificates).constData());
    // Remote paths are always absolute, so no CWD is needed before a transfer.
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(curl, CURLOPT_FTP_USE_EPSV, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(m_timeout.count()));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeoutSeconds());
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeoutSeconds());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, m_errorBuffer.data());
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &CurlCallbacks::debug);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CurlCallbacks::progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &CurlCallbacks::openSocket);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, &CurlCallbacks::closeSocket);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, this);
}

int FtpSession::perform() {
    m_errorBuffer.fill('\0');
    m_lastReply.clear();
    m_partialLine.clear();
    m_passiveReplyPending = false;
    if (const int code = resolveHost(); code != CURLE_OK)
        return code;
    curl_easy_setopt(m_curl, CURLOPT_RESOLVE, m_resolve);
    CURLM *multi = m_multi;
    if (curl_multi_add_handle(multi, m_curl) != CURLM_OK)
        return CURLE_FAILED_INIT;
    // After a passive-mode reply libcurl opens the data connection only on its next turn, which
    // nothing else would bring for a second.
    const int code = curlsupport::run(
        multi, [this] { return stopping(); },
        [this] { return std::exchange(m_passiveReplyPending, false) ? 0 : 1000; });
    if (code == CURLE_OK && !controlConnectionOpen()) {
        // Logged in, for the first time or afresh.
        curl_socket_t control = CURL_SOCKET_BAD;
        curl_easy_getinfo(m_curl, CURLINFO_ACTIVESOCKET, &control);
        std::lock_guard lock(m_socketMutex);
        m_controlSocket = control;
        m_everConnected = m_everConnected || control != CURL_SOCKET_BAD;
        m_reconnecting = false;
    }
    curl_multi_remove_handle(multi, m_curl);
    return code;
}

int FtpSession::resolveHost() {
    if (m_resolved)
        return CURLE_OK;
    if (NameLookup::isNumeric(m_server.host)) {
        m_resolved = true;
        return CURLE_OK;
    }
    const std::optional<QStringList> addresses = lookUpHost(&m_lookupProblem);
    if (!addresses || m_cancelled)
        return CURLE_ABORTED_BY_CALLBACK;
    if (addresses->isEmpty())
        return CURLE_COULDNT_RESOLVE_HOST;
    QStringList entries;
    for (const QString &address : *addresses)
        entries << (address.contains(u':') ? u'[' + address + u']' : address);
    const QByteArray entry = m_server.host.toUtf8() + ':' + QByteArray::number(m_server.port) +
                             ':' + entries.join(u',').toLatin1();
    m_resolve = curl_slist_append(static_cast<curl_slist *>(m_resolve), entry.constData());
    m_resolved = m_resolve != nullptr;
    return m_resolved ? CURLE_OK : CURLE_OUT_OF_MEMORY;
}

CommandResult FtpSession::quoteCommand(const QByteArray &command) {
    if (!ensureHandle())
        return failure(CURLE_FAILED_INIT);
    const bool opensSession = !everConnected();
    reportState(opensSession ? ResolvingHost : SendingRequest);
    prepare(QStringLiteral("/"));
    curl_easy_setopt(m_curl, CURLOPT_NOBODY, 1L);
    // "*": a refusal is the server's answer, not the end of the session.
    const QByteArray line = "*" + command;
    curl_slist *quote = command.isEmpty() ? nullptr : curl_slist_append(nullptr, line.constData());
    curl_easy_setopt(m_curl, CURLOPT_QUOTE, quote);
    const int code = perform();
    curl_easy_setopt(m_curl, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    if (code != CURLE_OK)
        return failure(code);
    // 3xx: RNFR's "ready for the new name".
    if (!command.isEmpty() && !m_lastReply.startsWith(u'2') && !m_lastReply.startsWith(u'3')) {
        reportState(RemoteError);
        return {CommandResult::Refused, masked(m_lastReply)};
    }
    reportState(ResponseCompleted);
    return {CommandResult::Done, m_lastReply};
}

CommandResult FtpSession::quoteCommand(const char *verb, const QString &path) {
    return quoteCommand(QByteArray(verb) + ' ' + path.toUtf8());
}

CommandResult FtpSession::refusedOrFailed(int code) {
    switch (code) {
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_PARTIAL_FILE: {
        if (controlConnectionOpen() && !stopping() && isErrorReply(m_lastReply)) {
            reportState(RemoteError);
            return {CommandResult::Refused, masked(m_lastReply)};
        }
        break;
    }
    case CURLE_FTP_WEIRD_PASV_REPLY:
        // libcurl 7.88 over TLS takes a refused STOR for a broken passive-mode reply, after
        // which its replies no longer match its commands: the refusal is the file's, and the
        // next command starts from new handles and logs in afresh.
        if (!stopping() && m_lastReply.startsWith(u'5')) {
            m_renewHandles = true;
            reportState(RemoteError);
            return {CommandResult::Refused, masked(m_lastReply)};
        }
        break;
    default:
        break;
    }
    return failure(code);
}

CommandResult FtpSession::failure(int code) {
    reportState(RemoteError);
    CommandResult result{CommandResult::Failed, {}, stopping()};
    const QString detail = curlsupport::errorDetail(m_errorBuffer, code);
    if (result.cancelled) {
        result.text = QStringLiteral("The upload was cancelled.");
    } else if (m_refusedReconnect || code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR ||
               code == CURLE_SEND_ERROR) {
        // libcurl's detail ("response reading failed (errno: 115)") tells a user nothing more.
        result.text = QStringLiteral("The connection to the server was lost.");
    } else if (const QString common = curlsupport::failureText(code, detail); !common.isEmpty()) {
        result.text = common;
    } else if (code == CURLE_LOGIN_DENIED) {
        result.text = QStringLiteral("The server refused the login: %1").arg(m_lastReply);
    } else if (code == CURLE_OPERATION_TIMEDOUT && !m_greeted) {
        // Nothing came back at all: no connection, no TLS handshake or no greeting.
        result.text = QStringLiteral("The FTP-Host \"%1\" could not be reached within %2.")
                          .arg(m_server.host, timeoutText());
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
        result.text =
            QStringLiteral("The server did not answer within %1 (%2).").arg(timeoutText(), detail);
    } else if (code == CURLE_SSL_CONNECT_ERROR && m_server.security == ServerAddress::ImplicitTls &&
               detail.contains(QLatin1String("wrong version number"))) {
        // What OpenSSL makes of a plain "220" greeting where a TLS handshake was expected.
        result.text = QStringLiteral("The server did not start TLS at once, as ftps:// expects "
                                     "(%1). If it starts TLS only when asked to after connecting, "
                                     "ftpes:// may be meant in place of ftps://.")
                          .arg(detail);
    } else if (code == CURLE_USE_SSL_FAILED) {
        result.text = QStringLiteral("The server does not offer TLS encryption (%1). Nothing was "
                                     "sent without it.")
                          .arg(m_lastReply.isEmpty() ? detail : m_lastReply);
    } else if (code == CURLE_COULDNT_CONNECT) {
        result.text = QStringLiteral("The FTP server could not be reached (%1).").arg(detail);
    } else if (code == CURLE_COULDNT_RESOLVE_HOST) {
        result.text = m_lookupProblem.isEmpty()
                          ? QStringLiteral("The FTP-Host \"%1\" was not found.").arg(m_server.host)
                          : m_lookupProblem;
    } else {
        result.text = detail;
    }
    result.text = masked(result.text);
    return result;
}

void FtpSession::closeSession(bool polite) {
    CURLM *multi = nullptr;
    {
        std::lock_guard lock(m_socketMutex);
        if (!polite) {
            for (const int fd : m_sockets)
                ::shutdown(fd, SHUT_RDWR);
        }
        multi = std::exchange(m_multi, nullptr);
    }
    // Closes the cached control connection; libcurl sends QUIT on it if it still can.
    curl_multi_cleanup(multi);
    curl_easy_cleanup(m_curl);
    m_curl = nullptr;
    curl_slist_free_all(static_cast<curl_slist *>(std::exchange(m_resolve, nullptr)));
    m_closed = true;
}

void FtpSession::takeReplyLines(const char *data, size_t size) {
    m_partialLine.append(data, qsizetype(size));
    qsizetype end;
    while ((end = m_partialLine.indexOf('\n')) >= 0) {
        QByteArray line = m_partialLine.left(end);
        m_partialLine.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!m_greeted) {
            m_greeted = true;
            reportState(Connected);
        }
        reportState(ReceivingResponse);
        if (isFinalReplyLine(line)) {
            m_passiveReplyPending = line.startsWith("227") || line.startsWith("229");
            m_lastReply = QString::fromUtf8(line);
            reportState(ResponseReceived);
        }
    }
}

} // namespace upload
