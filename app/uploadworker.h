#pragma once

#include "base/backgroundjob.h"
#include "upload/transfer.h"
#include "upload/uploadsequence.h"
#include "upload/watchdog.h"

#include <condition_variable>
#include <functional>
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

    // Safe from any thread; the run ends soon after without further messages, once the file it
    // was writing is off the server or whole.
    void cancel() override;
    // The user's answer to hostKeyQuestion(); the run waits for it.
    void answerHostKey(bool trusted);
    // The user's answer to passphraseQuestion(): the passphrase, or nullopt to skip the key.
    void answerPassphrase(std::optional<QByteArray> passphrase);
    // Valid once finished.
    const upload::UploadOutcome &outcome() const { return m_outcome; }

Q_SIGNALS:
    void stateChanged(int state);
    void notice(const QString &text);
    // The run waits until answerHostKey() or cancel() is called.
    void hostKeyQuestion(const upload::UnknownHostKey &key);
    // The run waits until answerPassphrase() or cancel() is called.
    void passphraseQuestion(const upload::KeyPassphrase &key);

protected:
    void run() override;

private:
    bool askHostKey(const upload::UnknownHostKey &key);
    std::optional<QByteArray> askPassphrase(const upload::KeyPassphrase &key);
    // Posts `ask` to the GUI thread and waits until `answered` or a cancel.
    void waitForAnswer(const std::function<void()> &ask, const std::function<bool()> &answered);

    const upload::UploadRequest m_request;
    const std::unique_ptr<upload::Transfer> m_session;
    upload::UploadOutcome m_outcome;

    std::mutex m_answerMutex;
    std::condition_variable m_answered;
    std::optional<bool> m_answer;
    std::optional<std::optional<QByteArray>> m_passphrase;
    bool m_cancelled = false;

    std::atomic<bool> m_stopping{false};
    // Ends a stopped run that the server keeps waiting.
    upload::Watchdog m_cutOff{[this] {
        m_session->cancel();
    }};
};

} // namespace app
