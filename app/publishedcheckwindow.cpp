#include "publishedcheckwindow.h"

#include "findingsview.h"

#include "base/wording.h"

#include "publish/checkworker.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

namespace app {
namespace {

using base::countOf;

} // namespace

PublishedCheckWindow::PublishedCheckWindow(QWidget *parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("PublishedCheckWindow"));
    setWindowTitle(QStringLiteral("Published squad check"));
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setWordWrap(true);
    // The address is the user's text, not markup.
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_findings = new FindingsView(this);
    // The findings of a published squad are long sentences that name addresses.
    m_findings->setWrapsMessages(true);
    m_files = new QListWidget(this);
    m_files->setObjectName(QStringLiteral("files"));
    m_files->setWordWrap(true);
    m_files->setTextElideMode(Qt::ElideNone);
    m_files->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_files->setSpacing(2);
    auto *filesLabel = new QLabel(QStringLiteral("Files fetched:"), this);
    m_again = new QPushButton(QStringLiteral("Check &again"), this);
    m_again->setObjectName(QStringLiteral("checkAgain"));
    m_close = new QPushButton(QStringLiteral("&Close"), this);
    m_close->setObjectName(QStringLiteral("close"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_again);
    buttons->addWidget(m_close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_findings, 1);
    layout->addWidget(filesLabel);
    layout->addWidget(m_files, 1);
    layout->addLayout(buttons);

    connect(m_again, &QPushButton::clicked, this, &PublishedCheckWindow::checkAgainRequested);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    auto *escape = new QShortcut(QKeySequence::Cancel, this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    resize(fontMetrics().averageCharWidth() * 110, fontMetrics().height() * 34);
}

PublishedCheckWindow::~PublishedCheckWindow() {
    // The worker's destructor cancels it and waits for its thread, which then ends at once.
    delete m_worker;
}

void PublishedCheckWindow::start(publish::CheckRequest request) {
    delete std::exchange(m_worker, nullptr);
    m_address = request.address.toDisplayString();
    m_report = {};
    // Until the check ends there is nothing to say about the squad at the address.
    m_findings->setEmptyText(QString());
    m_findings->setFindings({}, {});
    m_files->clear();
    m_summary->setText(QStringLiteral("Checking %1 …").arg(m_address));
    m_again->setEnabled(false);

    m_worker = new publish::CheckWorker(std::move(request));
    if (m_fetcherSetup)
        m_fetcherSetup(m_worker->fetcher());
    // A worker replaced meanwhile is deleted, and says nothing more.
    connect(m_worker, &publish::CheckWorker::fileFetched, this, &PublishedCheckWindow::addFileLine);
    connect(m_worker, &publish::CheckWorker::finished, this, &PublishedCheckWindow::finishCheck);
    m_worker->start();
}

void PublishedCheckWindow::cancel() {
    if (m_worker)
        m_worker->cancel();
}

void PublishedCheckWindow::closeEvent(QCloseEvent *event) {
    cancel();
    event->accept();
}

void PublishedCheckWindow::addFileLine(const QString &line) {
    auto *item = new QListWidgetItem(style()->standardIcon(QStyle::SP_FileIcon), line, m_files);
    item->setToolTip(line);
}

void PublishedCheckWindow::finishCheck() {
    if (!m_worker)
        return;
    const std::unique_ptr<publish::CheckWorker> worker(std::exchange(m_worker, nullptr));
    worker->wait();
    m_report = worker->report();
    m_again->setEnabled(true);

    if (!m_report.cancelled && m_report.anythingFetched)
        m_findings->setEmptyText(
            QStringLiteral("No problems found: a game can read the squad at this address."));
    // Findings about the published file concern the squad as a whole, never one member.
    m_findings->setFindings(m_report.findings, {});
    const auto problems =
        std::count_if(m_report.findings.begin(), m_report.findings.end(),
                      [](const auto &f) { return f.kind == squad::Finding::Kind::Problem; });
    const qsizetype hints = m_report.findings.size() - problems;
    if (m_report.cancelled) {
        m_summary->setText(QStringLiteral("The check of %1 was cancelled.").arg(m_address));
    } else if (!m_report.anythingFetched) {
        m_summary->setText(QStringLiteral("Nothing could be fetched from %1.").arg(m_address));
    } else if (m_report.findings.isEmpty()) {
        m_summary->setText(QStringLiteral("%1: all is well.").arg(m_address));
    } else {
        m_summary->setText(QStringLiteral("%1: %2, %3.")
                               .arg(m_address, countOf(problems, "problem", "problems"),
                                    countOf(hints, "hint", "hints")));
    }
    Q_EMIT checkFinished();
}

} // namespace app
