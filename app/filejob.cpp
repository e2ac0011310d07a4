#include "filejob.h"

namespace app {

FileJob::FileJob(QWidget *window)
    : QObject(window)
    , m_window(window) {
    setObjectName(QStringLiteral("fileJob"));
    m_delay.setSingleShot(true);
    m_delay.setInterval(progressDelayMs);
    connect(&m_delay, &QTimer::timeout, this, &FileJob::showProgress);
}

FileJob::~FileJob() {
    if (m_running)
        m_running->cancel();
}

void FileJob::began(const QString &label, QFutureWatcherBase *watcher) {
    Q_ASSERT(!m_running);
    m_running = watcher;
    m_label = label;
    m_delay.start();
}

void FileJob::ended() {
    m_running = nullptr;
    m_delay.stop();
    if (m_dialog) {
        // Later: this may run inside the dialog's own Cancel.
        m_dialog->hide();
        m_dialog->deleteLater();
    }
}

void FileJob::cancel() {
    if (!m_running)
        return;
    m_running->cancel();
    ended();
    Q_EMIT canceled();
}

void FileJob::showProgress() {
    if (!m_running)
        return;
    auto *dialog = new QProgressDialog(m_label, QStringLiteral("Cancel"), 0, 0, m_window);
    dialog->setObjectName(QStringLiteral("fileProgress"));
    dialog->setWindowTitle(QStringLiteral("Troopbook"));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAutoReset(false);
    dialog->setAutoClose(false);
    dialog->setMinimumDuration(0);
    connect(dialog, &QProgressDialog::canceled, this, &FileJob::cancel);
    m_dialog = dialog;
    dialog->show();
}

} // namespace app
