#include "watchdog.h"

namespace upload {

Watchdog::~Watchdog() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_ends = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void Watchdog::touch(std::chrono::milliseconds timeout) {
    {
        std::lock_guard lock(m_mutex);
        m_deadline = std::chrono::steady_clock::now() + timeout;
        if (!m_thread.joinable())
            m_thread = std::thread(&Watchdog::watch, this);
    }
    m_changed.notify_all();
}

void Watchdog::pause() {
    std::lock_guard lock(m_mutex);
    m_deadline = std::chrono::steady_clock::time_point::max();
}

void Watchdog::watch() {
    std::unique_lock lock(m_mutex);
    while (!m_ends) {
        if (m_deadline == std::chrono::steady_clock::time_point::max()) {
            m_changed.wait(lock);
        } else if (std::chrono::steady_clock::now() >= m_deadline) {
            m_deadline = std::chrono::steady_clock::time_point::max();
            m_expired = true;
            m_expire();
        } else {
            m_changed.wait_until(lock, m_deadline);
        }
    }
}

} // namespace upload
