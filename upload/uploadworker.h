#pragma once

#include "ftpsession.h"
#include "uploadsequence.h"

#include <QThread>

#include <memory>

namespace upload {

// Runs one upload off the GUI thread; states reach the window as queued signals.
class UploadWorker : public QThread {
    Q_OBJECT
public:
    UploadWorker(UploadRequest request, std::unique_ptr<FtpSession> session,
                 QObject *parent = nullptr);
    ~UploadWorker() override;

    // Safe from any thread; the run ends soon after without further messages.
    void cancel() { m_session->cancel(); }
    // Cancels the run and lets it end on its own, without anyone waiting for it: the worker
    // passes to the application and deletes itself once finished. Whatever is left at the
    // application's end is waited for there, which a cancelled run keeps short.
    void abandon();
    // Valid once the thread has finished.
    const UploadOutcome &outcome() const { return m_outcome; }

Q_SIGNALS:
    void stateChanged(int state);

protected:
    void run() override;

private:
    const UploadRequest m_request;
    const std::unique_ptr<FtpSession> m_session;
    UploadOutcome m_outcome;
};

} // namespace upload
