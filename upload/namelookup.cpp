#include "namelookup.h"

#include <QByteArray>
#include <QCoreApplication>

#include <condition_variable>
#include <thread>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace upload {
namespace {

// The lookup threads still running. A lookup nobody waits for any more is left to end by
// itself, but not to outlive the application object: its destructor waits for the last one.
struct RunningLookups {
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
    bool waitsAtExit = false;
};

RunningLookups &runningLookups() {
    static RunningLookups running;
    return running;
}

void waitForRunningLookups() {
    RunningLookups &running = runningLookups();
    std::unique_lock lock(running.mutex);
    running.ended.wait(lock, [&] { return running.count == 0; });
    running.waitsAtExit = false;
}

void lookupStarted() {
    RunningLookups &running = runningLookups();
    std::lock_guard lock(running.mutex);
    ++running.count;
    if (!running.waitsAtExit && QCoreApplication::instance()) {
        running.waitsAtExit = true;
        qAddPostRoutine(waitForRunningLookups);
    }
}

void lookupEnded() {
    RunningLookups &running = runningLookups();
    std::lock_guard lock(running.mutex);
    --running.count;
    running.ended.notify_all();
}

} // namespace

struct NameLookup::Pending {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    QStringList addresses;
    QString error;
};

QStringList NameLookup::systemLookup(const QString &host, QString *error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int status = ::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found);
    if (status != 0) {
        if (error)
            *error = QString::fromLocal8Bit(::gai_strerror(status));
        return {};
    }
    QStringList addresses;
    for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
        char text[NI_MAXHOST];
        if (::getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text, nullptr, 0,
                          NI_NUMERICHOST) == 0 &&
            !addresses.contains(QLatin1String(text)))
            addresses << QString::fromLatin1(text);
    }
    ::freeaddrinfo(found);
    if (addresses.isEmpty() && error)
        *error = QStringLiteral("no address");
    return addresses;
}

bool NameLookup::isNumeric(const QString &host) {
    const QByteArray text = host.toLatin1();
    unsigned char address[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, text.constData(), address) == 1 ||
           ::inet_pton(AF_INET6, text.constData(), address) == 1;
}

std::optional<QStringList> NameLookup::run(const QString &host, QString *error,
                                           std::chrono::milliseconds timeLimit, bool *timedOut) {
    if (timedOut)
        *timedOut = false;
    auto pending = std::make_shared<Pending>();
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return std::nullopt;
        m_pending = pending;
    }
    lookupStarted();
    try {
        struct Work {
            std::shared_ptr<Pending> pending;
            Function function;
            QString host;
        };
        auto work = std::make_unique<Work>(Work{pending, m_function, host});
        std::thread([work = std::move(work)]() mutable {
            QString reason;
            QStringList addresses = work->function(work->host, &reason);
            {
                std::lock_guard lock(work->pending->mutex);
                work->pending->addresses = std::move(addresses);
                work->pending->error = std::move(reason);
                work->pending->finished = true;
                work->pending->done.notify_all();
            }
            // Nothing of the lookup's is left once the application is told it has ended.
            work.reset();
            lookupEnded();
        }).detach();
    } catch (const std::system_error &e) {
        lookupEnded();
        if (error)
            *error = QString::fromLocal8Bit(e.what());
        return QStringList();
    }
    bool finished = false;
    {
        std::unique_lock lock(pending->mutex);
        const auto answered = [&] {
            return pending->finished || m_cancelled;
        };
        if (timeLimit == noTimeLimit)
            pending->done.wait(lock, answered);
        else
            pending->done.wait_for(lock, timeLimit, answered);
        finished = pending->finished && !m_cancelled;
    }
    {
        std::lock_guard lock(m_mutex);
        m_pending.reset();
    }
    if (m_cancelled)
        return std::nullopt;
    if (!finished) {
        if (timedOut)
            *timedOut = true;
        if (error)
            *error = QStringLiteral("no answer");
        return QStringList();
    }
    // The lookup's thread is done with these.
    if (error)
        *error = pending->error;
    return pending->addresses;
}

void NameLookup::cancel() {
    std::shared_ptr<Pending> pending;
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        pending = m_pending;
    }
    if (pending) {
        // Taking the lock orders the flag before the waiter's next look at it.
        std::lock_guard lock(pending->mutex);
        pending->done.notify_all();
    }
}

} // namespace upload
