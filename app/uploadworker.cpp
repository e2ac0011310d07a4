#include "uploadworker.h"

#include <chrono>

namespace app {
namespace {

using namespace std::chrono_literals;

// How long a stopped run may take to remove its temporary copy from the server before it is cut
// off; the application, as it ends, waits that long at most.
constexpr auto tidyTime = 2000ms;

} // namespace

UploadWorker::UploadWorker(upload::UploadRequest request, std::unique_ptr<upload::Transfer> session,
                           QObject *parent)
    : BackgroundJob(parent)
    , m_request(std::move(request))
    , m_session(std::move(session)) {
    m_session->setStateHandler([this](upload::TransferState state) {
        post([this, state] { Q_EMIT stateChanged(state); });
    });
    m_session->setNoticeHandler(
        [this](const QString &text) { post([this, text] { Q_EMIT notice(text); }); });
    m_session->setHostKeyQuestion(
        [this](const upload::UnknownHostKey &key) { return askHostKey(key); });
    m_session->setPassphraseQuestion(
        [this](const upload::KeyPassphrase &key) { return askPassphrase(key); });
}

UploadWorker::~UploadWorker() {
    stop();
}

void UploadWorker::cancel() {
    m_session->cancelTidily();
    if (!isFinished() && !m_stopping.exchange(true))
        m_cutOff.touch(tidyTime);
    {
        std::lock_guard lock(m_answerMutex);
        m_cancelled = true;
    }
    m_answered.notify_all();
}

void UploadWorker::answerHostKey(bool trusted) {
    {
        std::lock_guard lock(m_answerMutex);
        m_answer = trusted;
    }
    m_answered.notify_all();
}

void UploadWorker::answerPassphrase(std::optional<QByteArray> passphrase) {
    {
        std::lock_guard lock(m_answerMutex);
        m_passphrase = std::move(passphrase);
    }
    m_answered.notify_all();
}

void UploadWorker::waitForAnswer(const std::function<void()> &ask,
                                 const std::function<bool()> &answered) {
    post(ask);
    // The GUI thread answers through a queued call; a cancel or a closed window wakes us too.
    std::unique_lock lock(m_answerMutex);
    m_answered.wait(lock, [&] { return answered() || m_cancelled; });
}

bool UploadWorker::askHostKey(const upload::UnknownHostKey &key) {
    {
        std::lock_guard lock(m_answerMutex);
        m_answer.reset();
    }
    waitForAnswer([this, key] { Q_EMIT hostKeyQuestion(key); },
                  [this] { return m_answer.has_value(); });
    std::lock_guard lock(m_answerMutex);
    return !m_cancelled && *m_answer;
}

std::optional<QByteArray> UploadWorker::askPassphrase(const upload::KeyPassphrase &key) {
    {
        std::lock_guard lock(m_answerMutex);
        m_passphrase.reset();
    }
    waitForAnswer([this, key] { Q_EMIT passphraseQuestion(key); },
                  [this] { return m_passphrase.has_value(); });
    std::lock_guard lock(m_answerMutex);
    if (m_cancelled || !m_passphrase)
        return std::nullopt;
    return std::exchange(m_passphrase, std::nullopt).value();
}

void UploadWorker::run() {
    m_outcome = upload::runUpload(m_request, *m_session);
}

} // namespace app
