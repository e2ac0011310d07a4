#include "transfer.h"

#include <array>

namespace upload {

QString stateText(int state) {
    static constexpr std::array<const char *, 13> texts{
        "",
        "Resolving Host",
        "Host Resolved",
        "Connecting",
        "Connected",
        "Sending Request",
        "Request Sent",
        "Receiving Response",
        "Response Received",
        "Disconnecting",
        "Disconnected",
        "Remote Error",
        "Response Completed",
    };
    if (state < 0 || state >= int(texts.size()))
        return {};
    return QString::fromLatin1(texts[size_t(state)]);
}

} // namespace upload
