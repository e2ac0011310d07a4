#pragma once

#include "app/checkwindow.h"
#include "app/picturewindow.h"
#include "app/publishedcheckwindow.h"
#include "app/uploadwindow.h"
#include "squad/finding.h"
#include "squad/squaddocument.h"

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <optional>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPushButton;

namespace ui {
class CommonDialog;
}

namespace publish {
class WebFetcher;
}

namespace app {

class FileJob;
struct SquadFileRead;

// The editor window `Form1`: it owns the squad document for the whole run. Every text box
// hands each change to the document at once; the member list is a view over the document.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    squad::SquadDocument &document() { return *m_document; }
    // The window's one file dialog `cdb`, shared with the upload window.
    ui::CommonDialog &cdb() { return *m_cdb; }
    // The upload window while it is open, else null.
    app::UploadWindow *uploadWindow() const { return m_uploadWindow; }

    // Opens a file named on the command line as Open does after its dialog: a file that cannot
    // be read leaves the empty document and says why. False when it could not be read; a large
    // file is read on in the background.
    bool openAtStart(const QString &path);

    // Files of this many bytes and more are read and written off the GUI thread (reading or
    // writing them may take longer than a third of a second); the tests lower it.
    void setBackgroundFileSize(qint64 bytes) { m_backgroundFileSize = bytes; }
    // The open or save running in the background, if any.
    FileJob &fileJob() { return *m_fileJob; }

    // The selected member's position (the list's ListIndex), -1 when none is selected.
    int listIndex() const;
    // Selects the member at `row` (-1 selects none) and shows it, as a click on it would.
    void setListIndex(int row);

    static QString aboutText();

    // The window of the published squad's check while it exists, else null.
    PublishedCheckWindow *publishedCheckWindow() const { return m_publishedCheckWindow; }
    // Adjusts the fetcher of each check of the published squad, for example for test servers.
    void setWebFetcherSetup(std::function<void(publish::WebFetcher &)> setup) {
        m_webFetcherSetup = std::move(setup);
    }

    // The squad file on disk that the document was last opened from or saved to; empty after
    // New and before the first Open or Save.
    const QString &filePath() const { return m_filePath; }
    // The check window while it is open, else null.
    CheckWindow *checkWindow() const { return m_checkWindow; }
    // Puts the cursor into the box of a squad property.
    void focusProperty(squad::Property property);
    // Selects the member and puts the cursor into the box of its field.
    void focusMemberField(int member, squad::Field field);
    // The squad picture window while it is open, else null.
    PictureWindow *pictureWindow() const { return m_pictureWindow; }
    // Names the squad picture as the user would by typing it into "Picture".
    void setPictureName(const QString &name);
    // Brings the editor forward at what the finding concerns: the box of its property or field,
    // with the member selected.
    void showFinding(const squad::Finding &finding);

Q_SIGNALS:
    void filePathChanged(const QString &path);

protected:
    // Closing the window runs Exit.
    void closeEvent(QCloseEvent *event) override;

private:
    // How far a command that may go on in the background got: done (and it may go on), stopped,
    // or still running, when what follows it is left to run once it is done.
    enum class Outcome { Done, Stopped, Running };

    void mnuFileNew_Click();
    void mnuFileOpen_Click();
    void mnuFileSave_Click();
    // Saves through the save dialog. When the writing runs in the background, `afterSaved` runs
    // once the file is saved.
    Outcome save(const std::function<void()> &afterSaved);
    void mnuFileUpload_Click();
    void mnuFileExit_Click();
    // True when the window may close: unsaved work is settled and the upload window is put away.
    bool Form_Unload();
    // Asks about unsaved changes. Done when the command may go on: nothing to save, the user
    // said No, or said Yes and the save succeeded; when the save runs in the background, `then`
    // runs once it has succeeded.
    Outcome settleUnsavedChanges(const std::function<void()> &then);
    // Opens the file, in the background when it is large; `afterOpened` runs once it is open.
    // False when it could not be read.
    bool openFile(const QString &path, const std::function<void()> &afterOpened = {});
    bool showOpened(const QString &path, SquadFileRead &read);
    bool showSaved(const QString &path, const QString &failure);
    void setFilePath(const QString &path);

    void mmbshow(int index);
    void lockmmbfields(bool locked);
    void clear();

    void List1_Click();
    void Command4_Click();
    void Command5_Click();
    void mnuToolsCheck_Click();
    void mnuToolsCheckPublished_Click();
    void mnuToolsCompanions_Click();
    void mnuToolsPicture_Click();
    // Checks the published squad at the address asked for last.
    void checkPublishedAgain();
    void mnuHelpHelp_Click();
    void mnuHelpAbout_Click();

    void createControls();
    void createMenus();
    void connectEditing();
    void orderTabs();
    // Puts the document's squad properties into their boxes without counting as an edit.
    void showProperties();
    void showMemberTexts(const squad::Member &member);

    squad::SquadDocument *m_document;
    ui::CommonDialog *m_cdb;
    QPointer<app::UploadWindow> m_uploadWindow;
    QPointer<CheckWindow> m_checkWindow;
    QPointer<PictureWindow> m_pictureWindow;
    QString m_filePath;
    QPointer<PublishedCheckWindow> m_publishedCheckWindow;
    std::function<void(publish::WebFetcher &)> m_webFetcherSetup;
    // The published squad's address, kept for the rest of the run once given.
    QString m_publishedAddress;
    std::optional<app::UploadWindow::StoredSquad> m_lastStoredSquad;
    FileJob *m_fileJob;
    qint64 m_backgroundFileSize;
    // The unsaved changes were settled for closing while a save ran in the background.
    bool m_closeSettled = false;
    // While the program itself fills the boxes or moves the selection, the change handling
    // must not take the texts for the user's edits.
    bool m_displaying = false;

    QPushButton *Command3 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command6 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QLineEdit *squadnick = nullptr;
    QLineEdit *squadname = nullptr;
    QLineEdit *squadmail = nullptr;
    QLineEdit *squadpicture = nullptr;
    QLineEdit *squadweb = nullptr;
    QLineEdit *squadtitle = nullptr;
    QGroupBox *Frame1 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;
    QListView *List1 = nullptr;
    QLineEdit *mmbId = nullptr;
    QLineEdit *mmbnick = nullptr;
    QLineEdit *mmbname = nullptr;
    QLineEdit *mmbmail = nullptr;
    QLineEdit *mmbicq = nullptr;
    QLineEdit *mmbremark = nullptr;

    QMenu *mnuFile = nullptr;
    QAction *mnuFileNew = nullptr;
    QAction *mnuFileOpen = nullptr;
    QAction *mnuFileSave = nullptr;
    QAction *mnuFileUpload = nullptr;
    QAction *mnuFileExit = nullptr;
    QMenu *mnuTools = nullptr;
    QAction *mnuToolsCheck = nullptr;
    QAction *mnuToolsCheckPublished = nullptr;
    QAction *mnuToolsCompanions = nullptr;
    QAction *mnuToolsPicture = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *mnuHelpHelp = nullptr;
    QAction *mnuHelpAbout = nullptr;

    // The same boxes in property order and in field order.
    std::array<QLineEdit *, squad::PropertyCount> m_squadBoxes{};
    std::array<QLineEdit *, squad::FieldCount> m_memberBoxes{};
};

} // namespace app
