#include "curlsupport.h"

#include <csignal>
#include <mutex>

namespace curlsupport {

void initialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        // Writing to a connection the server has hung up on must fail, not end the program;
        // TLS writes do not all pass MSG_NOSIGNAL.
        std::signal(SIGPIPE, SIG_IGN);
    });
}

int run(CURLM *multi, const std::atomic<bool> &cancelled, const std::function<int()> &nextWait) {
    int code = CURLE_OK;
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        if (!running)
            break;
        if (cancelled) {
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

} // namespace curlsupport
