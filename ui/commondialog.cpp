#include "commondialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>

namespace ui {
namespace {

QList<QString> &queuedPaths() {
    static QList<QString> paths;
    return paths;
}

QList<CommonDialog::Use> &uses() {
    static QList<CommonDialog::Use> list;
    return list;
}

bool recording = false;

} // namespace

CommonDialog::CommonDialog(QObject *parent)
    : QObject(parent) {}

QStringList CommonDialog::nameFilters(const QString &filter) {
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &description = parts[i];
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        const QString written = u'(' + patterns.join(u' ') + u')';
        const QString caption =
            description.contains(written) ? description : description + u' ' + written;
        // "*.*" is the usual way to write "every file", but here it would hide every name without a
        // dot, so it matches as "*" while the caption still shows it as written.
        for (QString &pattern : patterns) {
            if (pattern == QStringLiteral("*.*"))
                pattern = QStringLiteral("*");
        }
        filters << caption + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters;
}

QString CommonDialog::startFolder(const QString &initDir) {
    if (initDir.isEmpty())
        return {};
    const QFileInfo info(initDir);
    if (info.isDir())
        return info.absoluteFilePath();
    return info.absolutePath();
}

bool CommonDialog::showOpen(QWidget *parent) {
    return show(parent, false);
}

bool CommonDialog::showSave(QWidget *parent) {
    return show(parent, true);
}

bool CommonDialog::show(QWidget *parent, bool save) {
    if (recording)
        uses().append({save, m_fileName, m_initDir, m_flags});
    QString chosen;
    if (!queuedPaths().isEmpty()) {
        chosen = queuedPaths().takeFirst();
    } else {
        // Owned through a guard rather than the stack: the window it belongs to may be deleted
        // while the dialog is still up, and takes the dialog with it.
        const QPointer<QFileDialog> dialog = new QFileDialog(parent);
        const auto release = qScopeGuard([&dialog] { delete dialog.data(); });
        dialog->setObjectName(QStringLiteral("cdb"));
        // Qt's own dialog behaves the same on every desktop and can be driven by tests.
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog->setFileMode((m_flags & FileMustExist) ? QFileDialog::ExistingFile
                                                      : QFileDialog::AnyFile);
        dialog->setOption(QFileDialog::DontConfirmOverwrite, !(m_flags & OverwritePrompt));
        // Each entry ends in the patterns it matches, after the caption; the dialog shows only
        // the caption.
        dialog->setOption(QFileDialog::HideNameFilterDetails);
        dialog->setNameFilters(nameFilters(m_filter));
        const QString folder = startFolder(m_initDir);
        if (!folder.isEmpty())
            dialog->setDirectory(folder);
        if (!m_fileName.isEmpty())
            dialog->selectFile(m_fileName);
        const bool accepted = dialog->exec() == QDialog::Accepted;
        if (accepted && dialog && !dialog->selectedFiles().isEmpty())
            chosen = dialog->selectedFiles().constFirst();
    }
    if (chosen.isEmpty()) {
        // The next dialog still starts where the last choice was made.
        m_fileName = m_lastChosen;
        return false;
    }
    m_fileName = m_lastChosen = QFileInfo(chosen).absoluteFilePath();
    return true;
}

void CommonDialog::setNextPath(const QString &path) {
    queuedPaths().append(path);
}

bool CommonDialog::hasPendingPaths() {
    return !queuedPaths().isEmpty();
}

void CommonDialog::startRecording() {
    recording = true;
}

QList<CommonDialog::Use> CommonDialog::takeUses() {
    return std::exchange(uses(), {});
}

} // namespace ui
