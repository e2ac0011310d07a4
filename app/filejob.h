#pragma once

#include <QFutureWatcher>
#include <QPointer>
#include <QProgressDialog>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>

#include <memory>

class QWidget;

namespace app {

// Runs one of the editor's file commands (reading or writing a squad file) on a worker thread,
// so that the window keeps being drawn. Should it take longer than a third of a second, a
// progress dialog over the window says what is being done and offers Cancel; until the job ends
// or is canceled the dialog keeps the window from taking input.
class FileJob : public QObject {
    Q_OBJECT
public:
    static constexpr int progressDelayMs = 333;

    explicit FileJob(QWidget *window);
    ~FileJob() override;

    bool isRunning() const { return m_running != nullptr; }

    // Runs `work(canceled)` off the GUI thread, where `canceled()` turns true once the job was
    // canceled; `done(result)` then runs on the GUI thread, unless the job was canceled first.
    // `label` says in the progress dialog what is being done. One job at a time.
    template <typename Result, typename Work, typename Done>
    void start(const QString &label, Work work, Done done) {
        auto promise = std::make_shared<QPromise<Result>>();
        auto *watcher = new QFutureWatcher<Result>(this);
        connect(watcher, &QFutureWatcherBase::finished, this,
                [this, watcher, done = std::move(done)]() mutable {
                    watcher->deleteLater();
                    if (m_running != watcher)
                        return; // canceled: nobody waits for it any more
                    ended();
                    done(watcher->future().takeResult());
                });
        watcher->setFuture(promise->future());
        began(label, watcher);
        QThreadPool::globalInstance()->start([promise, work = std::move(work)]() mutable {
            promise->start();
            promise->addResult(work([promise] { return promise->isCanceled(); }));
            promise->finish();
        });
    }

    // Stops waiting for the running job and asks it to stop; its result is dropped.
    void cancel();

    // The progress dialog while it is shown, else null.
    QProgressDialog *progressDialog() const { return m_dialog; }

Q_SIGNALS:
    void canceled();

private:
    void began(const QString &label, QFutureWatcherBase *watcher);
    void ended();
    void showProgress();

    QWidget *const m_window;
    QFutureWatcherBase *m_running = nullptr;
    QString m_label;
    QTimer m_delay;
    QPointer<QProgressDialog> m_dialog;
};

} // namespace app
