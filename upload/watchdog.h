#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace upload {

// Calls `expire` on a thread of its own once it has been armed and then not touched for the
// time-out: for libraries that wait for an answer for ever, `expire` ends the wait (by shutting
// a socket down). The thread starts with the first touch() and ends with the watchdog.
class Watchdog {
public:
    explicit Watchdog(std::function<void()> expire)
        : m_expire(std::move(expire)) {}
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    // Arms the watchdog, or pushes its deadline `timeout` ahead.
    void touch(std::chrono::milliseconds timeout);
    // Disarms it until the next touch(), while the user takes their time.
    void pause();
    // Whether it has expired since the last reset().
    bool hasExpired() const { return m_expired; }
    void reset() { m_expired = false; }

private:
    void watch();

    const std::function<void()> m_expire;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
    bool m_ends = false;
    std::atomic<bool> m_expired{false};
    std::thread m_thread;
};

} // namespace upload
