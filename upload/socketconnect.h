#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>

namespace upload {

// Wakes a blocking connect (or anything else that polls its descriptor) from another thread.
class CancelEvent {
public:
    CancelEvent();
    ~CancelEvent();
    CancelEvent(const CancelEvent &) = delete;
    CancelEvent &operator=(const CancelEvent &) = delete;

    // Safe from any thread; stays woken.
    void wake();
    // Readable once woken.
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

struct SocketConnect {
    // The connected socket, non-blocking and TCP_NODELAY, or -1.
    int fd = -1;
    // Why none of the addresses could be reached, when none could.
    QString error;
};

// Connects to the first of the numeric `addresses` that takes a TCP connection on `port` before
// the deadline, giving up at once when `cancelled` is set and `cancel` woken. `track` hears of
// every socket as it is opened (true) and closed (false), so that its owner can shut it down
// from another thread meanwhile.
SocketConnect connectToFirst(const QStringList &addresses, int port,
                             std::chrono::steady_clock::time_point deadline,
                             const std::atomic<bool> &cancelled, const CancelEvent &cancel,
                             const std::function<void(int fd, bool open)> &track);

} // namespace upload
