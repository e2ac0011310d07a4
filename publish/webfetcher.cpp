#include "webfetcher.h"

#include "base/wording.h"
#include "curlsupport/curlsupport.h"

#include <QFile>

#include <curl/curl.h>

namespace publish {
namespace {

// A header value as it may be shown and printed: a server's control characters must not reach
// a terminal, and a value runs to a few lines at most.
QString printable(const QByteArray &value) {
    QString text = QString::fromLatin1(value.left(300));
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            c = u'?';
    }
    return text;
}

} // namespace

// libcurl calls these on the fetching thread.
struct FetchCallbacks {
    static size_t header(char *data, size_t size, size_t count, void *userp) {
        auto *fetcher = static_cast<WebFetcher *>(userp);
        const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
        if (line.startsWith("HTTP/") && fetcher->m_response) {
            // "HTTP/1.1 404 Not Found": the phrase is what follows the code.
            const qsizetype codeStart = line.indexOf(' ');
            const qsizetype reasonStart = line.indexOf(' ', codeStart + 1);
            fetcher->m_response->reason = codeStart > 0 && reasonStart > 0
                                              ? printable(line.mid(reasonStart + 1).trimmed())
                                              : QString();
        }
        return size * count;
    }

    static size_t write(char *data, size_t size, size_t count, void *userp) {
        auto *fetcher = static_cast<WebFetcher *>(userp);
        const qint64 n = qint64(size * count);
        QByteArray &body = fetcher->m_response->body;
        if (body.size() + n > WebFetcher::maximumBody) {
            fetcher->m_tooBig = true;
            return 0;
        }
        if (body.isEmpty()) {
            // Grown in doublings, a body of 200 MB would take up to twice that for a moment.
            curl_off_t announced = -1;
            curl_easy_getinfo(fetcher->m_curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
            if (announced > n && announced <= WebFetcher::maximumBody)
                body.reserve(qsizetype(announced));
        }
        body.append(data, n);
        return size * count;
    }

    static int progress(void *userp, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<WebFetcher *>(userp)->m_cancelled ? 1 : 0;
    }
};

WebFetcher::WebFetcher() {
    curlsupport::initialise();
    m_multi = curl_multi_init();
    m_curl = curl_easy_init();
}

WebFetcher::~WebFetcher() {
    curl_easy_cleanup(m_curl);
    curl_multi_cleanup(m_multi);
}

void WebFetcher::cancel() {
    m_cancelled = true;
    if (m_multi)
        curl_multi_wakeup(m_multi);
}

WebResponse WebFetcher::get(const QUrl &url) {
    WebResponse response;
    if (m_cancelled) {
        response.cancelled = true;
        response.error = QStringLiteral("The check was cancelled.");
        return response;
    }
    if (!m_multi || !m_curl) {
        response.error = QStringLiteral("The web library could not be started.");
        return response;
    }
    m_response = &response;
    m_tooBig = false;
    QByteArray errorBuffer(CURL_ERROR_SIZE, '\0');
    CURL *curl = m_curl;
    curl_easy_reset(curl);
    const QByteArray address = url.toEncoded();
    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // A game asks the server itself; a proxy from the environment (http_proxy, all_proxy), maybe
    // a caching one, would answer in its stead.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    // Game clients speak HTTP/1.x; over HTTP/2 a server may leave out Content-Length lawfully.
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Troopbook");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(m_timeout.count()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(m_timeout.count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // A cancel or time-out during the name lookup would otherwise wait for the system's
    // resolver, many seconds with a slow name server, and with it the window that closes; the
    // resolver's thread is left to end by itself instead.
    curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer.data());
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &FetchCallbacks::header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &FetchCallbacks::write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &FetchCallbacks::progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    const QByteArray trusted = QFile::encodeName(m_trustedCertificates);
    if (!trusted.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, trusted.constData());
    curl_slist *connectTo = nullptr;
    for (const QString &entry : m_connectTo)
        connectTo = curl_slist_append(connectTo, entry.toUtf8().constData());
    curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectTo);

    const int code = curl_multi_add_handle(m_multi, curl) == CURLM_OK
                         ? curlsupport::run(m_multi, [this] { return m_cancelled.load(); })
                         : CURLE_FAILED_INIT;

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    response.status = int(status);
    char *type = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        response.contentType = printable(type);
    curl_off_t length = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    response.contentLength = qint64(length);
    char *location = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
        response.location = printable(location);
    curl_multi_remove_handle(m_multi, curl);
    // The handle outlives this call's buffer and list.
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(curl, CURLOPT_CONNECT_TO, nullptr);
    curl_slist_free_all(connectTo);
    m_response = nullptr;

    const QString detail = curlsupport::errorDetail(errorBuffer, code);
    response.answered = status > 0 && !m_cancelled;
    if (m_cancelled) {
        response.cancelled = true;
        response.error = QStringLiteral("The check was cancelled.");
    } else if (code == CURLE_OK) {
    } else if (code == CURLE_PARTIAL_FILE && response.answered) {
        response.truncated = true;
    } else if (m_tooBig) {
        response.answered = false;
        response.error =
            QStringLiteral("The file is larger than %1 MB; it was not read to its end.")
                .arg(maximumBody / (1024 * 1024));
    } else if (const QString common = curlsupport::failureText(code, detail); !common.isEmpty()) {
        response.answered = false;
        response.error = common;
    } else {
        response.answered = false;
        switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            response.error = QStringLiteral("The host \"%1\" was not found.").arg(url.host());
            break;
        case CURLE_COULDNT_CONNECT:
            response.error = QStringLiteral("The server could not be reached (%1).").arg(detail);
            break;
        case CURLE_OPERATION_TIMEDOUT:
            response.error = QStringLiteral("The server did not answer within %1.")
                                 .arg(base::durationText(m_timeout));
            break;
        case CURLE_SSL_CONNECT_ERROR:
            response.error = QStringLiteral("No secure connection could be made (%1).").arg(detail);
            break;
        case CURLE_OUT_OF_MEMORY:
            // What libcurl reports for a header line beyond its limit, once the status arrived.
            if (status > 0 && response.body.isEmpty()) {
                response.error = QStringLiteral("The server's response header is larger than the "
                                                "%1 KB a header line may take; the response was "
                                                "not read.")
                                     .arg(CURL_MAX_HTTP_HEADER / 1024);
            } else {
                response.error = detail.endsWith(u'.') ? detail : detail + u'.';
            }
            break;
        default:
            response.error = detail.endsWith(u'.') ? detail : detail + u'.';
            break;
        }
    }
    return response;
}

} // namespace publish
