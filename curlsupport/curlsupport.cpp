#include "curlsupport.h"

#include <mutex>

namespace curlsupport {

void initialise() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

int run(CURLM *multi, const std::function<bool()> &cancelled,
        const std::function<int()> &nextWait) {
    int code = CURLE_OK;
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        if (!running)
            break;
        if (cancelled()) {
            code = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, nextWait ? nextWait() : 1000, nullptr);
    }
    int left = 0;
    while (const CURLMsg *message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE)
            code = message->data.result;
    }
    return code;
}

QString errorDetail(const QByteArray &errorBuffer, int code) {
    return !errorBuffer.isEmpty() && errorBuffer.front() != '\0'
               ? QString::fromUtf8(errorBuffer.constData())
               : QString::fromUtf8(curl_easy_strerror(CURLcode(code)));
}

QString failureText(int code, const QString &detail) {
    switch (code) {
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return QStringLiteral("The connection to the server was lost (%1).").arg(detail);
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return QStringLiteral("The server's certificate could not be verified: %1").arg(detail);
    default:
        return {};
    }
}

} // namespace curlsupport
