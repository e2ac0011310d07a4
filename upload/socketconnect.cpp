#include "socketconnect.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace upload {
namespace {

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// 0 once connected, else the errno; ECANCELED when cancelled.
int waitForConnect(int fd, std::chrono::steady_clock::time_point deadline,
                   const std::atomic<bool> &cancelled, const CancelEvent &cancel) {
    int error = errno;
    while (error == EINPROGRESS || error == EINTR) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return ETIMEDOUT;
        pollfd waits[2] = {{fd, POLLOUT, 0}, {cancel.fd(), POLLIN, 0}};
        const int ready = ::poll(waits, 2, int(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (cancelled)
            return ECANCELED;
        if (ready > 0) {
            socklen_t size = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                error = errno;
        }
    }
    return error;
}

} // namespace

CancelEvent::CancelEvent()
    : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CancelEvent::~CancelEvent() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void CancelEvent::wake() {
    const quint64 one = 1;
    if (m_fd >= 0 && ::write(m_fd, &one, sizeof one) < 0) {
        // The counter is full: it is woken already.
    }
}

SocketConnect connectToFirst(const QStringList &addresses, int port,
                             std::chrono::steady_clock::time_point deadline,
                             const std::atomic<bool> &cancelled, const CancelEvent &cancel,
                             const std::function<void(int fd, bool open)> &track) {
    SocketConnect result;
    for (const QString &text : addresses) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        addrinfo *found = nullptr;
        const int status = ::getaddrinfo(text.toLatin1().constData(),
                                         QByteArray::number(port).constData(), &hints, &found);
        if (status != 0) {
            result.error = QString::fromLocal8Bit(::gai_strerror(status));
            continue;
        }
        const std::unique_ptr<addrinfo, void (*)(addrinfo *)> owned(found, ::freeaddrinfo);
        const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                found->ai_protocol);
        if (fd < 0) {
            result.error = errnoText(errno);
            continue;
        }
        track(fd, true);
        const int error = ::connect(fd, found->ai_addr, found->ai_addrlen) == 0
                              ? 0
                              : waitForConnect(fd, deadline, cancelled, cancel);
        if (error == 0 && !cancelled) {
            // Every SFTP write request waits for its answer; with Nagle's delay each one would
            // also wait for the server's delayed acknowledgement, 40 ms a request.
            const int noDelay = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
            result.fd = fd;
            result.error.clear();
            return result;
        }
        track(fd, false);
        ::close(fd);
        if (cancelled)
            return result;
        result.error = errnoText(error);
    }
    return result;
}

} // namespace upload
