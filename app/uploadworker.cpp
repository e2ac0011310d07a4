#include "uploadworker.h"

namespace app {

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
}

UploadWorker::~UploadWorker() {
    stop();
}

void UploadWorker::cancel() {
    m_session->cancel();
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

bool UploadWorker::askHostKey(const upload::UnknownHostKey &key) {
    {
        std::lock_guard lock(m_answerMutex);
        m_answer.reset();
    }
    post([this, key] { Q_EMIT hostKeyQuestion(key); });
    // The GUI thread answers through a queued call; a cancel or a closed window wakes us too.
    std::unique_lock lock(m_answerMutex);
    m_answered.wait(lock, [this] { return m_answer.has_value() || m_cancelled; });
    return !m_cancelled && *m_answer;
}

void UploadWorker::run() {
    m_outcome = upload::runUpload(m_request, *m_session);
}

} // namespace app
