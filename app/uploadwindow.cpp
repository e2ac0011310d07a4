#include "uploadwindow.h"

#include "uploadworker.h"

#include "ui/commondialog.h"
#include "ui/geometry.h"
#include "ui/inputbox.h"
#include "ui/messagebox.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace app {

using namespace upload;
namespace {

QLineEdit *textBox(QWidget *parent, const char *name, QRect geometry) {
    return ui::place<QLineEdit>(parent, name, geometry);
}

QLabel *label(QWidget *parent, const char *name, const QString &caption, QRect geometry) {
    auto *l = ui::place<QLabel>(parent, name, geometry);
    l->setText(caption);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

} // namespace

UploadWindow::UploadWindow(ui::CommonDialog &cdb, std::function<QString()> pictureName,
                           QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
    , m_cdb(cdb)
    , m_pictureName(std::move(pictureName)) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Upload"));
    setFixedSize(ui::twips(4575), ui::twips(2475));

    ftphost = textBox(this, "ftphost", ui::twipsRect(960, 120, 3495, 375));
    ftpuser = textBox(this, "ftpuser", ui::twipsRect(960, 600, 1215, 375));
    ftppass = textBox(this, "ftppass", ui::twipsRect(3240, 600, 1215, 375));
    ftpdir = textBox(this, "ftpdir", ui::twipsRect(960, 1080, 3495, 375));
    locdir = textBox(this, "locdir", ui::twipsRect(960, 1560, 3495, 375));
    Command1 = ui::place<QPushButton>(this, "Command1", ui::twipsRect(3120, 2040, 1335, 375));
    Command1->setText(QStringLiteral("Upload files"));
    Status = textBox(this, "Status", ui::twipsRect(120, 2085, 2775, 285));
    Status->setReadOnly(true);
    QPalette statusPalette = Status->palette();
    // The shade Qt's own style paints scroll bar grooves in.
    statusPalette.setColor(QPalette::Base, statusPalette.color(QPalette::Window).darker(115));
    Status->setPalette(statusPalette);

    Label1 = label(this, "Label1", QStringLiteral("FTP-Host"), ui::twipsRect(120, 180, 735, 255));
    Label2 = label(this, "Label2", QStringLiteral("Username"), ui::twipsRect(0, 660, 855, 255));
    Label3 = label(this, "Label3", QStringLiteral("Password"), ui::twipsRect(2280, 660, 855, 255));
    Label4 = label(this, "Label4", QStringLiteral("Remote Directory"),
                   ui::twipsRect(120, 1080, 735, 495));
    Label5 = label(this, "Label5", QStringLiteral("Local Directory"),
                   ui::twipsRect(120, 1560, 735, 495));
    Label4->setWordWrap(true);
    Label5->setWordWrap(true);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Label3->setAlignment(Qt::AlignRight | Qt::AlignTop);

    setTabOrder(ftphost, ftpuser);
    setTabOrder(ftpuser, ftppass);
    setTabOrder(ftppass, ftpdir);
    setTabOrder(ftpdir, locdir);
    setTabOrder(locdir, Command1);
    setTabOrder(Command1, Status);

    locdir->installEventFilter(this);
    connect(Command1, &QPushButton::clicked, this, &UploadWindow::Command1_Click);
    // Exit ends the program without closing this window first.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
            &UploadWindow::cancelUpload);

    Form_Load();
}

UploadWindow::~UploadWindow() {
    cancelUpload();
}

bool UploadWindow::FileExists(const QString &strPath) {
    if (strPath.isEmpty())
        return false;
    return QFileInfo(strPath).isFile();
}

void UploadWindow::cancelUpload() {
    if (!m_worker)
        return;
    // Not waited for: whatever the run is in the middle of, the window is free at once.
    std::exchange(m_worker, nullptr)->abandon();
    Command1->setEnabled(true);
}

void UploadWindow::closeEvent(QCloseEvent *event) {
    cancelUpload();
    event->accept();
}

void UploadWindow::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    ui::centerOnScreen(this);
}

bool UploadWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == locdir) {
        switch (event->type()) {
        case QEvent::MouseButtonRelease: {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton &&
                locdir->rect().contains(mouse->position().toPoint()))
                locdir_Click();
            break;
        }
        case QEvent::MouseButtonDblClick:
            openPickerOnce();
            break;
        case QEvent::FocusIn: {
            // A click gives the focus too and opens the picker itself; coming back from the
            // picker or another window must not open it again.
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                reason == Qt::ShortcutFocusReason || reason == Qt::OtherFocusReason)
                locdir_GotFocus();
            break;
        }
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void UploadWindow::Form_Load() {
    m_locfile.clear();
    m_cdb.setInitDir(m_cdb.fileName());
}

void UploadWindow::locdir_Click() {
    openPickerOnce();
}

void UploadWindow::locdir_GotFocus() {
    if (locdir->text().isEmpty())
        openPickerOnce();
}

void UploadWindow::openPickerOnce() {
    // The press, release and double click of one gesture all ask for the picker; the dialog
    // opens after them, once.
    if (m_pickerPending || m_pickerOpen)
        return;
    m_pickerPending = true;
    QTimer::singleShot(0, this, [this] {
        m_pickerPending = false;
        locdir_DblClick();
    });
}

void UploadWindow::locdir_DblClick() {
    if (m_pickerOpen)
        return;
    m_cdb.setFlags(ui::CommonDialog::FileMustExist);
    m_cdb.setFileName(QString());
    m_pickerOpen = true;
    const QPointer<UploadWindow> self(this);
    const bool chosen = m_cdb.showOpen(this);
    if (!self)
        return;
    m_pickerOpen = false;
    const QString path = m_cdb.fileName();
    const qsizetype cut = path.lastIndexOf(u'/');
    if (!chosen || cut < 0)
        return;
    m_locfile = path.mid(cut + 1);
    locdir->setText(path.left(cut + 1));
}

void UploadWindow::Command1_Click() {
    if (m_worker)
        return;
    UploadRequest request{ftphost->text(),
                          ftpuser->text(),
                          ftppass->text(),
                          ftpdir->text(),
                          locdir->text(),
                          m_locfile,
                          m_pictureName ? m_pictureName() : QString()};
    if (const auto problem = checkFields(request)) {
        showMessage(*problem);
        return;
    }
    m_runHost = request.host;
    m_runSquadFile = squadFileName(request);
    std::unique_ptr<ServerSession> session = makeSession(request, m_sessionOptions);
    m_worker = new UploadWorker(std::move(request), std::move(session), this);
    m_notice.clear();
    Status->setToolTip(QString());
    connect(m_worker, &UploadWorker::stateChanged, this, &UploadWindow::Inet1_StateChanged);
    connect(m_worker, &UploadWorker::notice, this, &UploadWindow::showNotice);
    connect(m_worker, &UploadWorker::hostKeyQuestion, this, &UploadWindow::askHostKey);
    connect(m_worker, &UploadWorker::passphraseQuestion, this, &UploadWindow::askPassphrase);
    connect(m_worker, &UploadWorker::finished, this, &UploadWindow::finishUpload);
    Command1->setEnabled(false);
    m_worker->start();
}

void UploadWindow::Inet1_StateChanged(int state) {
    Status->setText(stateText(state));
}

QString UploadWindow::hostKeyQuestion(const UnknownHostKey &key) {
    return QStringLiteral("The SFTP server %1 is not known yet: its host key is not recorded in "
                          "%2.\r\n\r\nKey type: %3\r\nFingerprint: %4\r\n\r\nDo you trust "
                          "this server? Yes records its key and logs in; No ends the upload "
                          "without logging in.")
        .arg(key.server, key.knownHostsFile, key.keyType, key.fingerprint);
}

void UploadWindow::askHostKey(const UnknownHostKey &key) {
    // The window itself may be deleted while the question is open.
    const QPointer<UploadWindow> self(this);
    const QPointer<UploadWorker> worker(m_worker);
    // As with ssh, trusting a key takes a deliberate answer: Enter says No.
    const bool trusted =
        ui::MessageBox::show(this, hostKeyQuestion(key),
                             ui::MessageBox::YesNo | ui::MessageBox::Question |
                                 ui::MessageBox::DefaultButton2) == ui::MessageBox::Yes;
    // The run may have been cancelled while the question was open; its worker is gone then,
    // or abandoned and no longer this window's.
    if (self && worker && worker == m_worker)
        worker->answerHostKey(trusted);
}

QString UploadWindow::passphrasePrompt(const KeyPassphrase &key) {
    const QString lead =
        key.again ? QStringLiteral("That passphrase did not open the key. ") : QString();
    return lead + QStringLiteral("The key %1 is protected by a passphrase. Type it to log in with "
                                 "this key, or Cancel to go on without it:")
                      .arg(key.keyFile);
}

void UploadWindow::askPassphrase(const KeyPassphrase &key) {
    const QPointer<UploadWindow> self(this);
    const QPointer<UploadWorker> worker(m_worker);
    std::optional<QString> typed =
        ui::InputBox::askSecret(this, QStringLiteral("Key passphrase"), passphrasePrompt(key));
    std::optional<QByteArray> passphrase;
    if (typed) {
        passphrase = typed->toUtf8();
        typed->fill(u'\0');
    }
    if (self && worker && worker == m_worker)
        worker->answerPassphrase(std::move(passphrase));
}

void UploadWindow::showMessage(const UploadMessage &message) {
    if (message.severity == UploadMessage::Omission)
        ui::MessageBox::show(this, message.text, ui::MessageBox::OkOnly, QStringLiteral("Error"));
    else
        ui::MessageBox::show(this, message.text, ui::MessageBox::Critical);
}

void UploadWindow::showNotice(const QString &notice) {
    m_notice = notice;
    Status->setText(notice);
    Status->setToolTip(
        notice == ServerSession::inPlaceNotice
            ? QStringLiteral("The server renames no files: each file was written over the old "
                             "one, so for a moment the server held it only in part.")
            : QStringLiteral("The server cannot rename a file over an existing one: each old "
                             "file was removed just before its new copy took its name."));
}

void UploadWindow::finishUpload() {
    if (!m_worker)
        return;
    const std::unique_ptr<UploadWorker> worker(std::exchange(m_worker, nullptr));
    worker->wait();
    const UploadOutcome outcome = worker->outcome();
    Command1->setEnabled(true);
    if (!m_notice.isEmpty())
        Status->setText(m_notice);
    for (const QString &path : outcome.stored) {
        if (path.endsWith(u'/' + m_runSquadFile))
            m_lastStoredSquad = StoredSquad{m_runHost, path};
    }
    const QPointer<UploadWindow> self(this);
    for (const UploadMessage &message : outcome.messages) {
        showMessage(message);
        if (!self)
            return;
    }
    Q_EMIT uploadFinished();
}

} // namespace app
