#include "backgroundjob.h"

#include <QCoreApplication>
#include <QThread>

namespace base {

BackgroundJob::BackgroundJob(QObject *parent)
    : QObject(parent) {}

BackgroundJob::~BackgroundJob() {
    // A subclass that forgot stop() would have its members destroyed under the running thread.
    Q_ASSERT(!m_thread || m_thread->isFinished() || !m_thread->isRunning());
}

void BackgroundJob::start() {
    if (m_thread)
        return;
    m_thread.reset(QThread::create([this] { run(); }));
    // The thread object lives on the owner's thread, so this arrives there, queued.
    connect(m_thread.get(), &QThread::finished, this, [this] {
        if (!m_abandoned)
            Q_EMIT finished();
    });
    m_thread->start();
}

bool BackgroundJob::wait(int milliseconds) {
    if (!m_thread)
        return true;
    return milliseconds < 0 ? m_thread->wait() : m_thread->wait(QDeadlineTimer(milliseconds));
}

bool BackgroundJob::isFinished() const {
    return !m_thread || m_thread->isFinished();
}

void BackgroundJob::post(std::function<void()> call) {
    QMetaObject::invokeMethod(
        this,
        [this, call = std::move(call)] {
            if (!m_abandoned)
                call();
        },
        Qt::QueuedConnection);
}

void BackgroundJob::stop() {
    cancel();
    wait();
}

void BackgroundJob::abandon() {
    m_abandoned = true;
    cancel();
    disconnect(this, &BackgroundJob::finished, nullptr, nullptr);
    setParent(QCoreApplication::instance());
    if (!m_thread || m_thread->isFinished()) {
        deleteLater();
        return;
    }
    connect(m_thread.get(), &QThread::finished, this, &QObject::deleteLater);
    // Should it have finished before the connection was made.
    if (m_thread->isFinished())
        deleteLater();
}

} // namespace base
