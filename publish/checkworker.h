#pragma once

#include "publishedcheck.h"
#include "webfetcher.h"

#include "base/backgroundjob.h"

namespace publish {

// Runs one check of a published squad off the GUI thread; each fetched file reaches the window
// as a queued signal.
class CheckWorker : public base::BackgroundJob {
    Q_OBJECT
public:
    explicit CheckWorker(CheckRequest request, QObject *parent = nullptr);
    ~CheckWorker() override;

    // Before start(): set up the fetcher, for example to shorten its time-out.
    WebFetcher &fetcher() { return m_fetcher; }
    // Safe from any thread; the run ends soon after.
    void cancel() override { m_fetcher.cancel(); }
    // Valid once finished.
    const CheckReport &report() const { return m_report; }

Q_SIGNALS:
    void fileFetched(const QString &line);

protected:
    void run() override;

private:
    const CheckRequest m_request;
    WebFetcher m_fetcher;
    CheckReport m_report;
};

} // namespace publish
