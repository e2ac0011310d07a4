#pragma once

#include "publish/publishedcheck.h"

#include <QWidget>

#include <functional>

class QLabel;
class QListWidget;
class QPushButton;

namespace publish {
class CheckWorker;
class WebFetcher;
} // namespace publish

namespace app {

class FindingsView;

// Shows what the check of a published squad found: its findings, listed as the squad check lists
// them, and a line for each file fetched. The check runs on a worker thread; closing the
// window cancels it.
class PublishedCheckWindow : public QWidget {
    Q_OBJECT
public:
    explicit PublishedCheckWindow(QWidget *parent = nullptr);
    ~PublishedCheckWindow() override;

    // Starts checking; a check still running is cancelled first.
    void start(publish::CheckRequest request);
    void cancel();
    bool isChecking() const { return m_worker != nullptr; }
    // The last finished check's report.
    const publish::CheckReport &report() const { return m_report; }
    FindingsView *findingsView() const { return m_findings; }

    // Adjusts each check's fetcher before it starts, for example to shorten its time-out.
    void setFetcherSetup(std::function<void(publish::WebFetcher &)> setup) {
        m_fetcherSetup = std::move(setup);
    }

Q_SIGNALS:
    // "Check again" was pressed: the owner starts a new check of the same address.
    void checkAgainRequested();
    // A check ended, also by cancel.
    void checkFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void finishCheck();
    void addFileLine(const QString &line);

    std::function<void(publish::WebFetcher &)> m_fetcherSetup;
    publish::CheckWorker *m_worker = nullptr;
    publish::CheckReport m_report;
    QString m_address;

    QLabel *m_summary;
    FindingsView *m_findings;
    QListWidget *m_files;
    QPushButton *m_again;
    QPushButton *m_close;
};

} // namespace app
