#include "uploadworker.h"

#include <QCoreApplication>

namespace upload {

UploadWorker::UploadWorker(UploadRequest request, std::unique_ptr<FtpSession> session,
                           QObject *parent)
    : QThread(parent)
    , m_request(std::move(request))
    , m_session(std::move(session)) {
    m_session->setStateHandler([this](int state) { Q_EMIT stateChanged(state); });
}

UploadWorker::~UploadWorker() {
    cancel();
    wait();
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
