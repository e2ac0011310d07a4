// The editor's file commands: New, Open, Save and Exit, and the question about unsaved changes
// that comes before them. Large files are read and written in the background.
#include "filejob.h"
#include "mainwindow.h"
#include "squadfile.h"

#include "app/uploadwindow.h"
#include "squad/squadreader.h"
#include "squad/squadwriter.h"
#include "ui/commondialog.h"
#include "ui/messagebox.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QScopeGuard>

namespace app {
namespace {

// The warning about a file whose head is not the one the program writes; the file still loads.
void showHeaderWarning(QWidget *parent) {
    ui::MessageBox::show(parent, QStringLiteral("XML-Header is corrupt!"),
                         ui::MessageBox::Exclamation, QStringLiteral("Error in XML-Header"));
}

} // namespace

MainWindow::Outcome MainWindow::settleUnsavedChanges(const std::function<void()> &then) {
    if (!m_document->modified())
        return Outcome::Done;
    switch (ui::MessageBox::show(this, QStringLiteral("File was modified !\r\nSave it now?"),
                                 ui::MessageBox::YesNoCancel | ui::MessageBox::Question,
                                 QStringLiteral("Warning"))) {
    case ui::MessageBox::Yes:
        return save(then);
    case ui::MessageBox::No:
        return Outcome::Done;
    default:
        return Outcome::Stopped;
    }
}

void MainWindow::mnuFileNew_Click() {
    const auto newDocument = [this] {
        clear();
        m_document->setModified(false);
        setFilePath({});
    };
    if (settleUnsavedChanges(newDocument) == Outcome::Done)
        newDocument();
}

void MainWindow::mnuFileOpen_Click() {
    const auto chooseAndOpen = [this] {
        m_cdb->setInitDir(m_cdb->fileName());
        m_cdb->setFlags(ui::CommonDialog::FileMustExist);
        m_cdb->setFileName(QStringLiteral("Squad.xml"));
        if (m_cdb->showOpen(this))
            openFile(m_cdb->fileName());
    };
    if (settleUnsavedChanges(chooseAndOpen) == Outcome::Done)
        chooseAndOpen();
}

bool MainWindow::openFile(const QString &path, const std::function<void()> &afterOpened) {
    // What is refused is refused at once.
    if (const QFileInfo info(path);
        !info.isFile() || info.size() < m_backgroundFileSize || info.size() > largestSquadFile) {
        SquadFileRead read = readSquadFile(path);
        if (!showOpened(path, read))
            return false;
        if (afterOpened)
            afterOpened();
        return true;
    }
    m_fileJob->start<SquadFileRead>(
        QStringLiteral("Opening \"%1\"…").arg(QFileInfo(path).fileName()),
        [path](const Canceled &canceled) { return readSquadFile(path, canceled); },
        [this, path, afterOpened](SquadFileRead read) {
            if (showOpened(path, read) && afterOpened)
                afterOpened();
        });
    return true;
}

bool MainWindow::showOpened(const QString &path, SquadFileRead &read) {
    if (read.headerCorrupt)
        showHeaderWarning(this);
    if (!read.ok) {
        ui::MessageBox::show(this, read.error, ui::MessageBox::Critical);
        return false;
    }
    m_document->setLoading(true);
    const auto loaded = qScopeGuard([this] { m_document->setLoading(false); });
    m_document->load(std::move(read.data));
    if (m_document->memberCount() > 0)
        setListIndex(0);
    m_document->setModified(false);
    setFilePath(path);
    if (read.truncated || read.unreadable > 0) {
        // After the file is open: the boxes wait for the user, who then has the document.
        m_document->setLoading(false);
        if (read.truncated)
            ui::MessageBox::show(this, truncatedWarning(path, m_document->memberCount()),
                                 ui::MessageBox::Exclamation);
        if (read.unreadable > 0)
            ui::MessageBox::show(this,
                                 unreadableWarning(path, read.unreadable, read.unreadableLine),
                                 ui::MessageBox::Exclamation);
    }
    return true;
}

bool MainWindow::openAtStart(const QString &path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    // The next dialog starts where this file is, as after opening it through the dialog.
    return openFile(absolute, [this, absolute] { m_cdb->setFileName(absolute); });
}

void MainWindow::mnuFileSave_Click() {
    save({});
}

namespace {

// Whether writing the squad may take long enough to be worth a worker thread: its text is
// longer than `bytes`, judged by its values (the markup adds less than a hundred bytes a member).
bool writesAtLeast(const squad::SquadData &squad, qint64 bytes) {
    qint64 size = 0;
    for (const QString &property : squad.properties)
        size += property.size();
    const int members = squad.mmbdata.memberCount();
    for (int m = 0; m < members && size < bytes; ++m) {
        size += 100;
        for (const QString &value : squad.mmbdata.column(m))
            size += value.size();
    }
    return size >= bytes;
}

} // namespace

MainWindow::Outcome MainWindow::save(const std::function<void()> &afterSaved) {
    // The file holds the document as it is when Save is chosen; the copy shares its texts.
    const squad::SquadData squad = m_document->content();
    if (m_filePath.isEmpty()) {
        m_cdb->setInitDir(m_cdb->fileName());
        m_cdb->setFileName(QStringLiteral("Squad.xml"));
    } else {
        // Where the squad came from: on a file system that tells case apart, "Squad.xml" would
        // be another file than the "squad.xml" opened.
        m_cdb->setInitDir(m_filePath);
        m_cdb->setFileName(QFileInfo(m_filePath).fileName());
    }
    m_cdb->setFlags(ui::CommonDialog::OverwritePrompt);
    if (!m_cdb->showSave(this))
        return Outcome::Stopped;
    const QString path = m_cdb->fileName();
    if (!writesAtLeast(squad, m_backgroundFileSize))
        return showSaved(path, writeSquadFile(path, squad::fileContents(squad))) ? Outcome::Done
                                                                                 : Outcome::Stopped;
    m_fileJob->start<QString>(
        QStringLiteral("Saving \"%1\"…").arg(QFileInfo(path).fileName()),
        [squad, path](const Canceled &canceled) {
            const QByteArray contents = squad::fileContents(squad);
            return canceled() ? QString() : writeSquadFile(path, contents, canceled);
        },
        [this, path, afterSaved](const QString &failure) {
            if (showSaved(path, failure) && afterSaved)
                afterSaved();
        });
    return Outcome::Running;
}

bool MainWindow::showSaved(const QString &path, const QString &failure) {
    if (!failure.isEmpty()) {
        ui::MessageBox::show(this, failure, ui::MessageBox::Critical);
        return false;
    }
    m_document->setModified(false);
    setFilePath(path);
    return true;
}

void MainWindow::setFilePath(const QString &path) {
    if (m_filePath == path)
        return;
    m_filePath = path;
    Q_EMIT filePathChanged(path);
}

void MainWindow::mnuFileExit_Click() {
    // The run ends with this window; whether it may close is decided in one place for the menu
    // and the window's close button alike.
    close();
}

void MainWindow::closeEvent(QCloseEvent *event) {
    event->setAccepted(Form_Unload());
}

bool MainWindow::Form_Unload() {
    // A file being read or written is waited for, or canceled, in its progress dialog.
    if (m_fileJob->isRunning())
        return false;
    if (!std::exchange(m_closeSettled, false)) {
        const Outcome settled = settleUnsavedChanges([this] {
            m_closeSettled = true;
            close();
        });
        if (settled != Outcome::Done)
            return false;
    }
    if (m_uploadWindow) {
        // A transfer must not outlive the program half-done in the background.
        m_uploadWindow->cancelUpload();
        m_uploadWindow->hide();
    }
    if (m_checkWindow)
        m_checkWindow->close();
    if (m_publishedCheckWindow)
        m_publishedCheckWindow->close();
    return true;
}

} // namespace app
