#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace upload {

// Looks up a host's addresses so that the one waiting can give up at once. The system's lookup
// cannot be interrupted and may wait on a slow name server for many seconds, so it runs on a
// thread of its own that is left to finish by itself once nobody waits for it any more; that
// thread touches nothing but the lookup's own shared state, and the application object's
// destructor waits for it.
class NameLookup {
public:
    // Blocks until the name is resolved: the numeric addresses in the order to try them, or
    // none with the reason in `error`.
    using Function = std::function<QStringList(const QString &host, QString *error)>;

    // getaddrinfo, for stream sockets of any address family.
    static QStringList systemLookup(const QString &host, QString *error);
    // Whether `host` is an address already, which needs no lookup.
    static bool isNumeric(const QString &host);

    explicit NameLookup(Function function = systemLookup)
        : m_function(std::move(function)) {}
    NameLookup(const NameLookup &) = delete;
    NameLookup &operator=(const NameLookup &) = delete;

    void setFunction(Function function) { m_function = std::move(function); }

    // The addresses of `host`, an empty list with the reason in `error` if it has none, nullopt
    // once cancel() has been called. After `timeLimit` without an answer the wait ends with an
    // empty list and `*timedOut` set.
    std::optional<QStringList> run(const QString &host, QString *error,
                                   std::chrono::milliseconds timeLimit = noTimeLimit,
                                   bool *timedOut = nullptr);
    static constexpr std::chrono::milliseconds noTimeLimit = std::chrono::milliseconds::max();
    // Safe from any thread; run() returns at once, now and in future.
    void cancel();

private:
    struct Pending;

    Function m_function;
    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex;
    std::shared_ptr<Pending> m_pending;
};

} // namespace upload
