#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace base {

// One piece of blocking work run on a thread of its own, reporting back to the thread that owns
// the job through post(). The owner deletes a finished job, or abandons a running one: a window
// that closes does not wait for a server or a disk. What a job posts after it was abandoned or
// deleted is dropped, so an owner never hears from a run it has given up.
//
// Subclasses implement run() and cancel(), and call stop() in their destructor, while the
// members run() uses still exist.
class BackgroundJob : public QObject {
    Q_OBJECT
public:
    explicit BackgroundJob(QObject *parent = nullptr);
    ~BackgroundJob() override;

    void start();
    // Makes run() end soon; safe from any thread.
    virtual void cancel() = 0;
    // Waits for run() to end, at most `milliseconds` unless that is negative. True once ended.
    bool wait(int milliseconds = -1);
    bool isFinished() const;

    // Cancels the run and lets it end on its own: the job passes to the application, says
    // nothing more, and deletes itself once finished. Whatever is left when the application
    // ends is waited for there, which a cancelled run keeps short.
    void abandon();

Q_SIGNALS:
    // run() has returned; not emitted for an abandoned job.
    void finished();

protected:
    // The work, on the job's own thread.
    virtual void run() = 0;
    // From run(): calls `call` on the owner's thread, unless the job is abandoned or gone by
    // then.
    void post(std::function<void()> call);
    // Cancels and waits for the run to end.
    void stop();

private:
    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_abandoned{false};
};

} // namespace base
