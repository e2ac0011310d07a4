#include "memberstransfer.h"

#include "edithistory.h"
#include "importdialog.h"
#include "mainwindow.h"
#include "membersfile.h"
#include "squadfile.h"

#include "squad/memberscsv.h"
#include "ui/commondialog.h"
#include "ui/messagebox.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace app {

MembersTransfer::MembersTransfer(MainWindow &window, QMenu *fileMenu)
    : QObject(&window)
    , m_window(window)
    , m_dialog(new ui::CommonDialog(this)) {
    QAction *import = fileMenu->addAction(QStringLiteral("&Import members…"));
    import->setObjectName(QStringLiteral("mnuFileImport"));
    connect(import, &QAction::triggered, this, &MembersTransfer::importMembers);
    QAction *exportCsv = fileMenu->addAction(QStringLiteral("&Export members as CSV…"));
    exportCsv->setObjectName(QStringLiteral("mnuFileExport"));
    connect(exportCsv, &QAction::triggered, this, &MembersTransfer::exportMembers);
}

void MembersTransfer::importMembers() {
    if (m_preview)
        return;
    m_dialog->setInitDir(m_dialog->fileName().isEmpty() ? m_window.filePath()
                                                        : m_dialog->fileName());
    m_dialog->setFlags(ui::CommonDialog::FileMustExist);
    m_dialog->setFilter(QStringLiteral("Members (*.csv;*.xml)|*.csv;*.xml|CSV files (*.csv)|*.csv|"
                                       "Squad definitions (*.xml)|*.xml|AllFiles (*.*)|*.*"));
    m_dialog->setFileName({});
    if (!m_dialog->showOpen(&m_window))
        return;
    const QString path = m_dialog->fileName();
    MembersRead read = readMembersFile(path);
    if (!read.ok) {
        ui::MessageBox::show(&m_window, read.error + QStringLiteral("\nNothing was imported."),
                             ui::MessageBox::Critical);
        return;
    }
    if (read.members.isEmpty()) {
        ui::MessageBox::show(
            &m_window,
            QStringLiteral("\"%1\" holds no members.").arg(QDir::toNativeSeparators(path)),
            ui::MessageBox::Information);
        return;
    }
    squad::SquadDocument &document = m_window.document();
    m_preview = new ImportDialog(path, int(read.members.size()),
                                 squad::planImport(document.mmbdata(), read.members), &m_window);
    m_preview->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_preview, &QDialog::accepted, this,
            [this, incoming = std::move(read.members), dialog = m_preview.data()] {
                squad::SquadDocument &document = m_window.document();
                const int before = document.memberCount();
                squad::ImportOutcome outcome =
                    squad::importMembers(document.mmbdata(), incoming, dialog->existingId());
                if (outcome.added + outcome.replaced == 0)
                    return;
                const int selected = m_window.listIndex();
                m_window.history().setMembers(std::move(outcome.members), selected,
                                              outcome.added > 0 ? before : selected,
                                              QStringLiteral("Import members"));
            });
    m_preview->open();
}

void MembersTransfer::exportMembers() {
    const QString squadFile = m_window.filePath();
    const QString offered = squadFile.isEmpty()
                                ? QStringLiteral("members.csv")
                                : QFileInfo(squadFile).completeBaseName() + QStringLiteral(".csv");
    m_dialog->setInitDir(m_dialog->fileName().isEmpty() ? squadFile : m_dialog->fileName());
    m_dialog->setFlags(ui::CommonDialog::OverwritePrompt);
    m_dialog->setFilter(QStringLiteral("CSV files (*.csv)|*.csv|AllFiles (*.*)|*.*"));
    m_dialog->setFileName(offered);
    if (!m_dialog->showSave(&m_window))
        return;
    const QString failure =
        writeSquadFile(m_dialog->fileName(), squad::membersCsv(m_window.document().mmbdata()));
    if (!failure.isEmpty())
        ui::MessageBox::show(&m_window, failure, ui::MessageBox::Critical);
}

} // namespace app
