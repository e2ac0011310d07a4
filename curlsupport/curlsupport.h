#pragma once

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <atomic>
#include <functional>

namespace curlsupport {

// Sets libcurl up for the whole program, once, whichever thread asks first. Writing to a
// connection the server has hung up on raises SIGPIPE: the program ignores it from its start.
void initialise();

// Drives the transfers added to `multi` until they end or `cancelled` says so; a
// curl_multi_wakeup() on `multi` makes a cancel take effect at once. `nextWait`, when given, says
// how many milliseconds to wait for the sockets on the next turn (else a second). Returns the last
// transfer's libcurl result, CURLE_ABORTED_BY_CALLBACK when cancelled.
int run(CURLM *multi, const std::function<bool()> &cancelled,
        const std::function<int()> &nextWait = {});

// What libcurl says went wrong: the transfer's error buffer, or else the text for `code`.
QString errorDetail(const QByteArray &errorBuffer, int code);

// What to tell the user about a failure that means the same to every protocol (a connection
// lost, a certificate that could not be verified), with libcurl's `detail`; empty for the other
// codes, which each caller words for what it was doing.
QString failureText(int code, const QString &detail);

} // namespace curlsupport
