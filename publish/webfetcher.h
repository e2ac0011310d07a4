#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <chrono>

namespace publish {

// What one GET brought back.
struct WebResponse {
    // A response arrived (with any status); when false, `error` says why not.
    bool answered = false;
    bool cancelled = false;
    QString error;
    int status = 0;
    // The reason phrase of the status line, empty where the server sends none (HTTP/2).
    QString reason;
    // The Content-Type header as sent, empty when there was none.
    QString contentType;
    // The Content-Length header, -1 when there was none.
    qint64 contentLength = -1;
    // The body ended before the announced length: the connection closed early.
    bool truncated = false;
    // Where a redirect points, made absolute.
    QString location;
    QByteArray body;
};

// Fetches web addresses one after the other on the calling thread, as a game would: a plain
// HTTP/1.1 GET, no redirects followed, no compression asked for, certificates checked against the
// system's trust store. cancel() may be called from any other thread and ends the running request
// soon; every later one then ends at once as cancelled.
class WebFetcher {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{20000};
    // Bodies beyond this are not kept; a squad of 100,000 members is about a tenth of it.
    static constexpr qint64 maximumBody = 256 * 1024 * 1024;

    WebFetcher();
    ~WebFetcher();
    WebFetcher(const WebFetcher &) = delete;
    WebFetcher &operator=(const WebFetcher &) = delete;

    // The longest one request may take, connect included.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    std::chrono::milliseconds timeout() const { return m_timeout; }
    // Trusts certificates issued by (or being) the PEM file at `path` as well, for test servers.
    void setTrustedCertificates(const QString &path) { m_trustedCertificates = path; }
    // For tests: libcurl's CONNECT_TO entries ("host:port:connect-host:connect-port"), so that
    // the addresses on the usual ports reach servers on loopback test ports.
    void setConnectTo(const QStringList &entries) { m_connectTo = entries; }

    WebResponse get(const QUrl &url);

    void cancel();
    bool isCancelled() const { return m_cancelled; }
    // For the work that follows a fetch, so that one cancel stops it too.
    const std::atomic<bool> &cancelFlag() const { return m_cancelled; }

private:
    friend struct FetchCallbacks;

    std::chrono::milliseconds m_timeout = defaultTimeout;
    QString m_trustedCertificates;
    QStringList m_connectTo;
    std::atomic<bool> m_cancelled{false};
    void *m_multi = nullptr; // CURLM *, also woken by cancel()
    void *m_curl = nullptr;  // CURL *, reused so that a connection serves several requests
    WebResponse *m_response = nullptr;
    bool m_tooBig = false;
};

} // namespace publish
