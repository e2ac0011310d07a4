#include "uploadworker.h"

#include <QCoreApplication>

namespace upload {

UploadWorker::UploadWorker(UploadRequest request, std::unique_ptr<Transfer> session,
                           QObject *parent)
    : QThread(parent)
    , m_request(std::move(request))
    , m_session(std::move(session)) {
    m_session->setStateHandler([this](int state) { Q_EMIT stateChanged(state); });
    m_session->setNoticeHandler([this](const QString &text) { Q_EMIT notice(text); });
    m_session->setHostKeyQuestion([this](const QString &question) { return askHostKey(question); });
}

UploadWorker::~UploadWorker() {
    cancel();
    wait();
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

bool UploadWorker::askHostKey(const QString &question) {
    {
        std::lock_guard lock(m_answerMutex);
        m_answer.reset();
    }
    Q_EMIT hostKeyQuestion(question);
    // The GUI thread answers through a queued call; a cancel or a closed window wakes us too.
    std::unique_lock lock(m_answerMutex);
    m_answered.wait(lock, [this] { return m_answer.has_value() || m_cancelled; });
    return !m_cancelled && *m_answer;
}

void UploadWorker::abandon() {
    cancel();
    disconnect();
    setParent(QCoreApplication::instance());
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    // Should it have finished before the connection was made.
    if (isFinished())
        deleteLater();
}

void UploadWorker::run() {
    m_outcome = runUpload(m_request, *m_session);
}

} // namespace upload
