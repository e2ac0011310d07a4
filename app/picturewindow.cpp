#include "picturewindow.h"

#include "findingsview.h"

#include "picture/makepaa.h"
#include "picture/paa.h"
#include "picture/picturecheck.h"
#include "squad/picturename.h"
#include "squad/squadcheck.h"
#include "ui/commondialog.h"
#include "ui/messagebox.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

namespace app {
namespace {

const QString pictureWindowTitle = QStringLiteral("Squad picture");

QString quoted(const QString &text) {
    return u'"' + text + u'"';
}

QString describe(const picture::PaaFacts &facts) {
    const QLocale english(QLocale::English);
    QStringList tags;
    for (const picture::PaaTag &tag : facts.tags)
        tags << QString::fromLatin1(tag.name);
    return QStringLiteral("%1, %2 × %3 pixels, %4 %5, %6, %7 bytes. Tags: %8.")
        .arg(pixelTypeName(facts.type), QString::number(facts.width), QString::number(facts.height),
             QString::number(facts.mipmapCount),
             facts.mipmapCount == 1 ? QStringLiteral("mipmap") : QStringLiteral("mipmaps"),
             facts.alpha ? QStringLiteral("with transparency") : QStringLiteral("opaque"),
             english.toString(facts.fileSize),
             tags.isEmpty() ? QStringLiteral("none") : tags.join(QStringLiteral(", ")));
}

} // namespace

PictureView::PictureView(QWidget *parent)
    : QWidget(parent) {}

void PictureView::setImage(const QImage &image) {
    m_image = image;
    setMinimumSize(image.isNull() ? QSize() : image.size());
    updateGeometry();
    update();
}

void PictureView::setEmptyText(const QString &text) {
    m_emptyText = text;
    update();
}

QSize PictureView::sizeHint() const {
    return m_image.isNull() ? QSize(256, 256) : m_image.size();
}

void PictureView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    if (m_image.isNull()) {
        painter.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap,
                         m_emptyText);
        return;
    }
    const QRect target(QPoint((width() - m_image.width()) / 2, (height() - m_image.height()) / 2),
                       m_image.size());
    constexpr int cell = 8;
    painter.fillRect(target, QColor(255, 255, 255));
    painter.setClipRect(target);
    for (int y = 0; y < target.height(); y += cell) {
        for (int x = (y / cell % 2) * cell; x < target.width(); x += 2 * cell)
            painter.fillRect(target.x() + x, target.y() + y, cell, cell, QColor(204, 204, 204));
    }
    painter.drawImage(target.topLeft(), m_image);
}

PictureWindow::PictureWindow(const squad::SquadDocument &document, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_document(document)
    , m_imageDialog(new ui::CommonDialog(this))
    , m_exportDialog(new ui::CommonDialog(this))
    , m_heading(new QLabel(this))
    , m_view(new PictureView)
    , m_facts(new QLabel(this))
    , m_findings(new FindingsView(this))
    , m_fileButtons(new QWidget(this))
    , m_export(new QPushButton(QStringLiteral("&Export as PNG…"), m_fileButtons))
    , m_previewButtons(new QWidget(this))
    , m_side(new QComboBox(m_previewButtons)) {
    setObjectName(QStringLiteral("pictureWindow"));
    setWindowTitle(pictureWindowTitle);
    m_imageDialog->setFilter(picture::imageFilter());
    m_imageDialog->setFlags(ui::CommonDialog::FileMustExist);
    m_exportDialog->setFilter(QStringLiteral("PNG images (*.png)|*.png"));
    m_exportDialog->setFlags(ui::CommonDialog::OverwritePrompt);

    m_heading->setWordWrap(true);
    m_heading->setTextFormat(Qt::PlainText);
    m_facts->setWordWrap(true);
    m_facts->setTextFormat(Qt::PlainText);
    m_facts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *scroll = new QScrollArea(this);
    scroll->setWidget(m_view);
    scroll->setWidgetResizable(true);
    m_findings->setWrapsMessages(true);
    m_findings->setEmptyText(QStringLiteral("The squad check finds nothing about the picture."));
    m_findings->setMaximumHeight(130);

    auto *make = new QPushButton(QStringLiteral("&Make from image…"), m_fileButtons);
    make->setObjectName(QStringLiteral("makeFromImage"));
    m_export->setObjectName(QStringLiteral("exportPng"));
    m_side->setObjectName(QStringLiteral("side"));
    auto *fileRow = new QHBoxLayout(m_fileButtons);
    fileRow->setContentsMargins({});
    fileRow->addWidget(make);
    fileRow->addWidget(m_export);

    for (const int side : {128, 256, 512})
        m_side->addItem(QStringLiteral("%1 × %1 pixels").arg(side), side);
    m_side->setCurrentIndex(1);
    auto *sideLabel = new QLabel(QStringLiteral("Si&ze:"), m_previewButtons);
    sideLabel->setBuddy(m_side);
    auto *write = new QPushButton(QStringLiteral("&Write picture"), m_previewButtons);
    write->setObjectName(QStringLiteral("writePicture"));
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), m_previewButtons);
    auto *previewRow = new QHBoxLayout(m_previewButtons);
    previewRow->setContentsMargins({});
    previewRow->addWidget(sideLabel);
    previewRow->addWidget(m_side);
    previewRow->addWidget(write);
    previewRow->addWidget(cancel);
    m_previewButtons->hide();

    auto *close = new QPushButton(QStringLiteral("Close"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_fileButtons);
    buttons->addWidget(m_previewButtons);
    buttons->addStretch();
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(scroll, 1);
    layout->addWidget(m_facts);
    layout->addWidget(m_findings);
    layout->addLayout(buttons);
    resize(640, 600);

    connect(make, &QPushButton::clicked, this, &PictureWindow::makeFromImage);
    connect(m_export, &QPushButton::clicked, this, &PictureWindow::exportPng);
    connect(m_side, &QComboBox::currentIndexChanged, this, &PictureWindow::remake);
    connect(write, &QPushButton::clicked, this, &PictureWindow::writePicture);
    connect(cancel, &QPushButton::clicked, this, &PictureWindow::endPreview);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this,
            &QWidget::close);
    connect(m_findings, &FindingsView::findingActivated, this, &PictureWindow::findingActivated);

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(50);
    connect(&m_refreshTimer, &QTimer::timeout, this, &PictureWindow::refresh);
    const auto later = [this] {
        m_refreshTimer.start();
    };
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, later);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, later);
    connect(&document, &squad::SquadDocument::contentReset, this, later);
    connect(&document, &squad::SquadDocument::propertyChanged, this, [later](squad::Property p) {
        if (p == squad::Property::Picture)
            later();
    });
    refresh();
}

void PictureWindow::setFilePath(const QString &path) {
    m_filePath = path;
    refresh();
}

bool PictureWindow::event(QEvent *event) {
    // Coming back to the window, the picture may have changed where no watcher sees it.
    if (event->type() == QEvent::WindowActivate)
        m_refreshTimer.start();
    return QWidget::event(event);
}

const QImage &PictureWindow::shownImage() const {
    return previewing() ? m_madeImage : m_pictureImage;
}

QString PictureWindow::factsText() const {
    return m_facts->text();
}

void PictureWindow::watch(const QString &picturePath) {
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    if (!m_filePath.isEmpty())
        m_watcher.addPath(QFileInfo(m_filePath).absolutePath());
    if (!picturePath.isEmpty())
        m_watcher.addPath(picturePath);
}

void PictureWindow::showFacts(const QString &facts, QList<squad::Finding> findings) {
    m_facts->setText(facts);
    m_facts->setVisible(!facts.isEmpty());
    m_findings->setFindings(std::move(findings), [](int) { return QString(); });
}

void PictureWindow::refresh() {
    const QString given = m_document.propertyText(squad::Property::Picture);
    const QString name = squad::pictureFileName(given);
    const QString path =
        m_filePath.isEmpty() || name.isEmpty()
            ? QString()
            : QFileInfo(QFileInfo(m_filePath).dir().filePath(name)).absoluteFilePath();
    const bool present = !path.isEmpty() && QFileInfo(path).isFile();
    watch(present ? path : QString());
    if (previewing())
        return;

    m_picturePath = present ? path : QString();
    m_pictureImage = QImage();
    QString facts;
    if (given.isEmpty()) {
        m_heading->setText(QStringLiteral("No picture is named in \"Picture\"."));
        m_view->setEmptyText(QStringLiteral("Make one from any image with \"Make from image…\"."));
    } else if (name.isEmpty()) {
        m_heading->setText(QStringLiteral("The picture %1 is not a plain file name, so it is not "
                                          "looked for beside the squad file.")
                               .arg(quoted(given)));
        m_view->setEmptyText(QString());
    } else if (m_filePath.isEmpty()) {
        m_heading->setText(QStringLiteral("The picture %1 lies beside the squad file, which is "
                                          "not saved yet.")
                               .arg(quoted(name)));
        m_view->setEmptyText(QString());
    } else if (!present) {
        m_heading->setText(QDir::toNativeSeparators(path));
        m_view->setEmptyText(
            QStringLiteral("There is no file %1 beside the squad file.").arg(quoted(name)));
    } else {
        m_heading->setText(QDir::toNativeSeparators(path));
        const picture::PaaPicture read = picture::readPaaFile(path);
        m_pictureImage = read.image;
        facts = read.ok() ? describe(read.facts) : QString();
        m_view->setEmptyText(read.ok() ? QString()
                                       : QStringLiteral("This picture cannot be shown."));
    }
    m_view->setImage(m_pictureImage);
    m_export->setEnabled(!m_pictureImage.isNull());

    QList<squad::Finding> findings;
    const squad::CheckContext context{m_filePath, m_document.modified(), &picture::paaInspector()};
    for (const squad::Finding &f : squad::checkSquad(m_document.content(), context)) {
        if (f.property == squad::Property::Picture)
            findings << f;
    }
    showFacts(facts, std::move(findings));
}

void PictureWindow::makeFromImage() {
    if (!m_imageDialog->showOpen(this))
        return;
    previewImage(m_imageDialog->fileName());
}

bool PictureWindow::previewImage(const QString &imagePath) {
    QString error;
    const QImage source = picture::readImage(imagePath, &error);
    if (source.isNull()) {
        ui::MessageBox::show(this, error, ui::MessageBox::Critical, pictureWindowTitle);
        return false;
    }
    m_sourcePath = imagePath;
    m_source = source;
    m_fileButtons->hide();
    m_previewButtons->show();
    remake();
    return true;
}

void PictureWindow::remake() {
    if (!previewing())
        return;
    const int side = m_side->currentData().toInt();
    m_made = picture::makePaa(m_source, side);
    const picture::PaaPicture read = picture::readPaa(m_made);
    m_madeImage = read.image;
    m_heading->setText(QStringLiteral("Preview of %1 as a %2 × %2 picture, not written yet. "
                                      "\"Write picture\" puts it beside the squad file.")
                           .arg(QDir::toNativeSeparators(m_sourcePath), QString::number(side)));
    m_view->setImage(m_madeImage);
    const QString name = QFileInfo(m_sourcePath).completeBaseName() + QStringLiteral(".paa");
    showFacts(describe(read.facts), picture::paaInspector().inspect(name, m_made));
}

void PictureWindow::endPreview() {
    m_source = QImage();
    m_sourcePath.clear();
    m_made.clear();
    m_madeImage = QImage();
    m_previewButtons->hide();
    m_fileButtons->show();
    refresh();
}

void PictureWindow::writePicture() {
    // The picture goes beside the squad file, so there must be one.
    if (m_filePath.isEmpty() && (!m_saveSquad || !m_saveSquad() || m_filePath.isEmpty()))
        return;
    QString base = QFileInfo(m_sourcePath).completeBaseName();
    if (squad::pictureFileName(base).isEmpty())
        base = QStringLiteral("picture");
    const QString name = base + QStringLiteral(".paa");
    const QString target = QFileInfo(m_filePath).dir().filePath(name);
    if (QFileInfo::exists(target) &&
        ui::MessageBox::show(
            this,
            QStringLiteral("%1 exists already. Replace it?").arg(QDir::toNativeSeparators(target)),
            ui::MessageBox::YesNo + ui::MessageBox::Question + ui::MessageBox::DefaultButton2,
            pictureWindowTitle) != ui::MessageBox::Yes)
        return;
    QString error;
    if (!picture::writeWhole(target, m_made, &error)) {
        ui::MessageBox::show(this, error, ui::MessageBox::Critical, pictureWindowTitle);
        return;
    }
    Q_EMIT pictureMade(name);
    endPreview();
}

void PictureWindow::exportPng() {
    if (m_pictureImage.isNull())
        return;
    const QFileInfo paa(m_picturePath);
    m_exportDialog->setFileName(
        paa.dir().filePath(paa.completeBaseName() + QStringLiteral(".png")));
    if (!m_exportDialog->showSave(this))
        return;
    QString error;
    if (!picture::writePng(m_pictureImage, m_exportDialog->fileName(), &error))
        ui::MessageBox::show(this, error, ui::MessageBox::Critical, pictureWindowTitle);
}

} // namespace app
