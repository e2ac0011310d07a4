#pragma once

#include "importdialog.h"

#include <QObject>
#include <QPointer>

class QMenu;

namespace ui {
class CommonDialog;
}

namespace app {

class ImportDialog;
class MainWindow;

// File > Import members… and File > Export members as CSV… of the editor window. They use a file
// dialog of their own, so that Open and Save still start where the squad files are.
class MembersTransfer : public QObject {
    Q_OBJECT
public:
    // Adds the two commands to the end of `fileMenu`.
    MembersTransfer(MainWindow &window, QMenu *fileMenu);

    void importMembers();
    void exportMembers();
    // The preview of the import under way, else null.
    ImportDialog *preview() const { return m_preview; }

private:
    MainWindow &m_window;
    ui::CommonDialog *m_dialog;
    QPointer<ImportDialog> m_preview;
};

} // namespace app
