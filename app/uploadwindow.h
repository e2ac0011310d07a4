#pragma once

#include "upload/sessionfactory.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ui {
class CommonDialog;
}

namespace app {

class UploadWorker;

// The upload window `Form2`: the settings of one FTP or SFTP upload, the squad file picker and the
// transfer's status line. The transfer itself runs on a worker thread.
class UploadWindow : public QWidget {
    Q_OBJECT
public:
    // `cdb` is the editor's file dialog, shared with its Open and Save; `pictureName` reads the
    // editor's picture field when an upload starts.
    UploadWindow(ui::CommonDialog &cdb, std::function<QString()> pictureName,
                 QWidget *parent = nullptr);
    ~UploadWindow() override;

    // Stops a running upload at once; its worker ends by itself soon after.
    void cancelUpload();
    bool isUploading() const { return m_worker != nullptr; }

    // True for an existing ordinary file (not a directory); never fails.
    static bool FileExists(const QString &strPath);

    // How each session is set up, for example with a shorter time-out.
    void setSessionOptions(const upload::SessionOptions &options) { m_sessionOptions = options; }

    // The question put to the user about a server whose host key is not recorded yet.
    static QString hostKeyQuestion(const upload::UnknownHostKey &key);
    // What the box that asks for a key's passphrase says.
    static QString passphrasePrompt(const upload::KeyPassphrase &key);

    QString locfile() const { return m_locfile; }

    // Where the last upload that stored the squad file put it: the host field as typed and the
    // file's path on the server.
    struct StoredSquad {
        QString host;
        QString path;
    };
    std::optional<StoredSquad> lastStoredSquad() const { return m_lastStoredSquad; }

Q_SIGNALS:
    // A run ended and its messages have been shown (none when it was cancelled).
    void uploadFinished();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void locdir_Click();
    void locdir_DblClick();
    void locdir_GotFocus();
    void Command1_Click();
    void Inet1_StateChanged(int state);

    void openPickerOnce();
    void finishUpload();
    void askHostKey(const upload::UnknownHostKey &key);
    void askPassphrase(const upload::KeyPassphrase &key);
    void showMessage(const upload::UploadMessage &message);
    void showNotice(const QString &notice);

    ui::CommonDialog &m_cdb;
    std::function<QString()> m_pictureName;
    upload::SessionOptions m_sessionOptions;

    QLineEdit *ftphost;
    QLineEdit *ftpuser;
    QLineEdit *ftppass;
    QLineEdit *ftpdir;
    QLineEdit *locdir;
    QPushButton *Command1;
    QLineEdit *Status;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label4;
    QLabel *Label5;

    QString m_locfile;
    // Kept in the status line once the run's states are over.
    QString m_notice;
    // The running upload's host field and squad file name.
    QString m_runHost;
    QString m_runSquadFile;
    std::optional<StoredSquad> m_lastStoredSquad;
    UploadWorker *m_worker = nullptr;
    bool m_pickerPending = false;
    bool m_pickerOpen = false;
    bool m_placed = false;
};

} // namespace app
