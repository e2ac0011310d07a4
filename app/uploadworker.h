#pragma once

#include "base/backgroundjob.h"
#include "upload/transfer.h"
#include "upload/uploadsequence.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace app {

// Runs one upload off the GUI thread; states, notices and the host key question reach the
// window as queued calls.
class UploadWorker : public base::BackgroundJob {
    Q_OBJECT
public:
    UploadWorker(upload::UploadRequest request, std::unique_ptr<upload::Transfer> session,
                 QObject *parent = nullptr);
    ~UploadWorker() override;

    // Safe from any thread; the run ends soon after without further messages.
    void cancel() override;
    // The user's answer to hostKeyQuestion(); the run waits for it.
    void answerHostKey(bool trusted);
    // Valid once finished.
    const upload::UploadOutcome &outcome() const { return m_outcome; }

Q_SIGNALS:
    void stateChanged(int state);
    void notice(const QString &text);
    // The run waits until answerHostKey() or cancel() is called.
    void hostKeyQuestion(const upload::UnknownHostKey &key);

protected:
    void run() override;

private:
    bool askHostKey(const upload::UnknownHostKey &key);

    const upload::UploadRequest m_request;
    const std::unique_ptr<upload::Transfer> m_session;
    upload::UploadOutcome m_outcome;

    std::mutex m_answerMutex;
    std::condition_variable m_answered;
    std::optional<bool> m_answer;
    bool m_cancelled = false;
};

} // namespace app
