#pragma once

#include "transfer.h"
#include "uploadsequence.h"

#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace upload {

// Runs one upload off the GUI thread; states reach the window as queued signals.
class UploadWorker : public QThread {
    Q_OBJECT
public:
    UploadWorker(UploadRequest request, std::unique_ptr<Transfer> session,
                 QObject *parent = nullptr);
    ~UploadWorker() override;

    // Safe from any thread; the run ends soon after without further messages.
    void cancel();
    // Cancels the run and lets it end on its own, without anyone waiting for it: the worker
    // passes to the application and deletes itself once finished. Whatever is left at the
    // application's end is waited for there, which a cancelled run keeps short.
    void abandon();
    // The user's answer to hostKeyQuestion(); the run waits for it.
    void answerHostKey(bool trusted);
    // Valid once the thread has finished.
    const UploadOutcome &outcome() const { return m_outcome; }

Q_SIGNALS:
    void stateChanged(int state);
    void notice(const QString &text);
    // The run waits until answerHostKey() or cancel() is called.
    void hostKeyQuestion(const QString &question);

protected:
    void run() override;

private:
    bool askHostKey(const QString &question);

    const UploadRequest m_request;
    const std::unique_ptr<Transfer> m_session;
    UploadOutcome m_outcome;

    std::mutex m_answerMutex;
    std::condition_variable m_answered;
    std::optional<bool> m_answer;
    bool m_cancelled = false;
};

} // namespace upload
