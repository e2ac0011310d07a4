#include "checkworker.h"

namespace publish {

CheckWorker::CheckWorker(CheckRequest request, QObject *parent)
    : QThread(parent)
    , m_request(std::move(request)) {}

CheckWorker::~CheckWorker() {
    cancel();
    wait();
}

void CheckWorker::run() {
    m_report = checkPublished(m_request, m_fetcher,
                              [this](const FetchedFile &file) { Q_EMIT fileFetched(file.line()); });
}

} // namespace publish
