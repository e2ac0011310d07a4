#pragma once

#include "squad/finding.h"
#include "squad/squaddocument.h"

#include <QFileSystemWatcher>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

namespace ui {
class CommonDialog;
}

namespace app {

class FindingsView;

// A picture at its own size over a checkerboard, so that transparent parts show as such; a
// sentence instead while there is no picture.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget *parent = nullptr);

    void setImage(const QImage &image);
    const QImage &image() const { return m_image; }
    void setEmptyText(const QString &text);
    const QString &emptyText() const { return m_emptyText; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
    QString m_emptyText;
};

// "Squad picture": the picture named in "Picture" as it lies beside the squad file, with its
// facts and what the squad check finds about it, following the name and the file on disk.
// "Make from image…" shows a PAA made from any image before it is written beside the squad file.
class PictureWindow : public QWidget {
    Q_OBJECT
public:
    PictureWindow(const squad::SquadDocument &document, QWidget *parent = nullptr);

    // Where the squad file lies on disk; empty when it has none.
    void setFilePath(const QString &path);
    // Saves the squad, which has no file yet, so that the picture can go beside it. True when
    // it was saved.
    void setSaveSquad(std::function<bool()> save) { m_saveSquad = std::move(save); }

    // "Make from image…" with `imagePath` picked: shows the PAA made from it, not yet written.
    // False, saying why, when the image cannot be read.
    bool previewImage(const QString &imagePath);
    bool previewing() const { return !m_source.isNull(); }
    // The picture shown: the file beside the squad, or the preview.
    const QImage &shownImage() const;
    QString factsText() const;
    FindingsView *findingsView() const { return m_findings; }

Q_SIGNALS:
    // A picture was written beside the squad file: "Picture" should name it.
    void pictureMade(const QString &fileName);
    void findingActivated(const squad::Finding &finding);

protected:
    bool event(QEvent *event) override;

private:
    void refresh();
    void watch(const QString &picturePath);
    void makeFromImage();
    void remake();
    void writePicture();
    void endPreview();
    void exportPng();
    void showFacts(const QString &facts, QList<squad::Finding> findings);

    const squad::SquadDocument &m_document;
    QString m_filePath;
    std::function<bool()> m_saveSquad;
    ui::CommonDialog *m_imageDialog;
    ui::CommonDialog *m_exportDialog;

    QLabel *m_heading;
    PictureView *m_view;
    QLabel *m_facts;
    FindingsView *m_findings;
    QWidget *m_fileButtons;
    QPushButton *m_export;
    QWidget *m_previewButtons;
    QComboBox *m_side;

    // The picture beside the squad file, as read last.
    QString m_picturePath;
    QImage m_pictureImage;
    // While previewing: the image picked and the PAA made from it.
    QString m_sourcePath;
    QImage m_source;
    QByteArray m_made;
    QImage m_madeImage;

    QFileSystemWatcher m_watcher;
    // Changes come in bursts (a save renames, a copy writes in pieces): looked at once after.
    QTimer m_refreshTimer;
};

} // namespace app
