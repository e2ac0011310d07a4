#include "checkworker.h"

namespace publish {

CheckWorker::CheckWorker(CheckRequest request, QObject *parent)
    : BackgroundJob(parent)
    , m_request(std::move(request)) {}

CheckWorker::~CheckWorker() {
    stop();
}

void CheckWorker::run() {
    m_report = checkPublished(m_request, m_fetcher, [this](const FetchedFile &file) {
        post([this, line = file.line()] { Q_EMIT fileFetched(line); });
    });
}

} // namespace publish
