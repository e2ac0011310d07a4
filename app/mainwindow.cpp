#include "mainwindow.h"

#include "companionscommand.h"
#include "filejob.h"
#include "picturewindow.h"
#include "publishedcheckwindow.h"
#include "squadfile.h"

#include "app/uploadwindow.h"
#include "picture/picturecheck.h"
#include "squad/squadreader.h"
#include "squad/squadwriter.h"
#include "ui/commondialog.h"
#include "ui/geometry.h"
#include "ui/inputbox.h"
#include "ui/messagebox.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScopedValueRollback>

using squad::Field;
using squad::Property;

namespace app {
namespace {

using ui::place;

QPushButton *button(QWidget *parent, const char *name, const QString &caption, QRect geometry) {
    auto *b = place<QPushButton>(parent, name, geometry);
    b->setText(caption);
    b->setAutoDefault(false);
    return b;
}

QLineEdit *textBox(QWidget *parent, const char *name, QRect geometry, const QString &tooltip) {
    auto *box = place<QLineEdit>(parent, name, geometry);
    box->setToolTip(tooltip);
    return box;
}

void label(QWidget *parent, const char *name, const QString &caption, QRect geometry,
           QWidget *buddy) {
    auto *l = place<QLabel>(parent, name, geometry);
    l->setText(caption);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setBuddy(buddy);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_document(new squad::SquadDocument(this))
    , m_cdb(new ui::CommonDialog(this))
    , m_fileJob(new FileJob(this))
    // About a third of a second's work on the slower code pages and disks.
    , m_backgroundFileSize(qint64(8) << 20) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Troopbook - Morvane"));
    createControls();
    createMenus();
    orderTabs();
    connectEditing();
    lockmmbfields(true);
    // The controls keep their places when the window is resized, so the client area is sized
    // once, below the menu bar.
    resize(centralWidget()->width(), centralWidget()->height() + menuBar()->sizeHint().height());
}

MainWindow::~MainWindow() {
    // The upload window has no owner, so that it is not kept above the editor.
    delete m_uploadWindow;
}

void MainWindow::createControls() {
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->resize(ui::twips(7230), ui::twips(4890));
    setCentralWidget(client);
    using ui::twipsRect;

    Command3 = button(client, "Command3", QStringLiteral("New"), twipsRect(120, 120, 735, 375));
    Command1 = button(client, "Command1", QStringLiteral("Open"), twipsRect(960, 120, 735, 375));
    Command2 = button(client, "Command2", QStringLiteral("Save"), twipsRect(1800, 120, 735, 375));
    Command6 = button(client, "Command6", QStringLiteral("Upload"), twipsRect(3000, 120, 735, 375));

    Frame2 = place<QGroupBox>(client, "Frame2", twipsRect(120, 600, 6975, 1695));
    Frame2->setTitle(QStringLiteral("Squad Properties"));
    squadnick = textBox(Frame2, "squadnick", twipsRect(720, 240, 975, 375),
                        QStringLiteral("Enter your squad Tag here"));
    squadname = textBox(Frame2, "squadname", twipsRect(2520, 240, 4335, 375),
                        QStringLiteral("Enter your full squad name here"));
    squadmail = textBox(Frame2, "squadmail", twipsRect(720, 720, 2535, 375),
                        QStringLiteral("Enter a contact mail adress here"));
    squadpicture = textBox(
        Frame2, "squadpicture", twipsRect(4440, 720, 2415, 375),
        QStringLiteral("Enter the name of the squad picture here. See the readme.txt too."));
    squadweb = textBox(Frame2, "squadweb", twipsRect(720, 1200, 2535, 375),
                       QStringLiteral("Enter your squad web address (without 'http://')"));
    squadtitle = textBox(Frame2, "squadtitle", twipsRect(4440, 1200, 2415, 375),
                         QStringLiteral("Enter the text your vehicles get tagged with here"));
    label(Frame2, "Label7", QStringLiteral("Tag"), twipsRect(120, 300, 495, 255), squadnick);
    label(Frame2, "Label2", QStringLiteral("Name"), twipsRect(1920, 300, 495, 255), squadname);
    label(Frame2, "Label8", QStringLiteral("e-Mail"), twipsRect(120, 780, 495, 255), squadmail);
    label(Frame2, "Label5", QStringLiteral("Picture"), twipsRect(3480, 780, 855, 255),
          squadpicture);
    label(Frame2, "Label9", QStringLiteral("Web"), twipsRect(120, 1260, 495, 255), squadweb);
    label(Frame2, "Label6", QStringLiteral("Vehicle Tags"), twipsRect(3360, 1260, 975, 255),
          squadtitle);

    Frame1 = place<QGroupBox>(client, "Frame1", twipsRect(120, 2400, 6975, 2415));
    Frame1->setTitle(QStringLiteral("Squad Member Properties"));
    Command4 = button(Frame1, "Command4", QStringLiteral("Add"), twipsRect(120, 720, 975, 375));
    Command5 = button(Frame1, "Command5", QStringLiteral("Remove"), twipsRect(120, 1200, 975, 375));
    List1 = place<QListView>(Frame1, "List1", twipsRect(1200, 240, 2295, 2010));
    List1->setToolTip(QStringLiteral("Here are all current members listed"));
    List1->setModel(m_document);
    // Every entry is one line of text, so the view need not measure 100,000 of them.
    List1->setUniformItemSizes(true);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mmbId = textBox(Frame1, "mmbId", twipsRect(4680, 240, 2175, 285),
                    QStringLiteral("Enter the members unique ID here"));
    mmbnick = textBox(Frame1, "mmbnick", twipsRect(4680, 600, 2175, 285),
                      QStringLiteral("Entere the members nick here"));
    mmbname = textBox(Frame1, "mmbname", twipsRect(4680, 960, 2175, 285),
                      QStringLiteral("Enter the members full name here"));
    mmbmail = textBox(Frame1, "mmbmail", twipsRect(4680, 1320, 2175, 285),
                      QStringLiteral("Enter the members eMail address here"));
    mmbicq = textBox(Frame1, "mmbicq", twipsRect(4680, 1680, 2175, 285),
                     QStringLiteral("Enter the members ICQ UIN here"));
    mmbremark = textBox(Frame1, "mmbremark", twipsRect(4680, 2025, 2175, 285),
                        QStringLiteral("Enter any additional remarks here like : '/me onwzorz')"));
    label(Frame1, "Label13", QStringLiteral("ID"), twipsRect(3720, 255, 735, 255), mmbId);
    label(Frame1, "Label14", QStringLiteral("Nick"), twipsRect(3600, 615, 855, 255), mmbnick);
    label(Frame1, "Label15", QStringLiteral("Full Name"), twipsRect(3720, 975, 735, 255), mmbname);
    label(Frame1, "Label16", QStringLiteral("e-Mail"), twipsRect(3600, 1335, 855, 255), mmbmail);
    label(Frame1, "Label17", QStringLiteral("ICQ-UIN"), twipsRect(3600, 1695, 855, 255), mmbicq);
    label(Frame1, "Label18", QStringLiteral("Remark"), twipsRect(3600, 2040, 855, 255), mmbremark);

    m_squadBoxes = {squadnick, squadname, squadmail, squadweb, squadpicture, squadtitle};
    m_memberBoxes = {mmbId, mmbnick, mmbname, mmbmail, mmbicq, mmbremark};
}

void MainWindow::createMenus() {
    const auto action = [this](QMenu *menu, const char *name, const QString &caption,
                               const QKeySequence &shortcut = {}) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(shortcut);
        return a;
    };
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFileNew = action(mnuFile, "mnuFileNew", QStringLiteral("&New"), Qt::CTRL | Qt::Key_N);
    mnuFileOpen = action(mnuFile, "mnuFileOpen", QStringLiteral("&Open"), Qt::CTRL | Qt::Key_O);
    mnuFileSave = action(mnuFile, "mnuFileSave", QStringLiteral("&Save"), Qt::CTRL | Qt::Key_S);
    mnuFileUpload = action(mnuFile, "mnuFileUpload", QStringLiteral("&Upload"));
    mnuFileExit = action(mnuFile, "mnuFileExit", QStringLiteral("E&xit"));
    mnuTools = menuBar()->addMenu(QStringLiteral("&Tools"));
    mnuTools->setObjectName(QStringLiteral("mnuTools"));
    mnuToolsCheck = action(mnuTools, "mnuToolsCheck", QStringLiteral("&Check squad"), Qt::Key_F7);
    mnuToolsCheckPublished =
        action(mnuTools, "mnuToolsCheckPublished", QStringLiteral("Check &published squad…"));
    mnuToolsCompanions =
        action(mnuTools, "mnuToolsCompanions", QStringLiteral("&Write squad.dtd and squad.xsl"));
    mnuToolsPicture = action(mnuTools, "mnuToolsPicture", QStringLiteral("&Squad picture…"));
    mnuHelp = menuBar()->addMenu(QStringLiteral("&?"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelpHelp = action(mnuHelp, "mnuHelpHelp", QStringLiteral("&Help"));
    mnuHelpAbout = action(mnuHelp, "mnuHelpAbout", QStringLiteral("&About"));

    connect(mnuFileNew, &QAction::triggered, this, &MainWindow::mnuFileNew_Click);
    connect(mnuFileOpen, &QAction::triggered, this, &MainWindow::mnuFileOpen_Click);
    connect(mnuFileSave, &QAction::triggered, this, &MainWindow::mnuFileSave_Click);
    connect(mnuFileUpload, &QAction::triggered, this, &MainWindow::mnuFileUpload_Click);
    connect(mnuFileExit, &QAction::triggered, this, &MainWindow::mnuFileExit_Click);
    connect(mnuToolsCheck, &QAction::triggered, this, &MainWindow::mnuToolsCheck_Click);
    connect(mnuToolsCheckPublished, &QAction::triggered, this,
            &MainWindow::mnuToolsCheckPublished_Click);
    connect(mnuToolsCompanions, &QAction::triggered, this, &MainWindow::mnuToolsCompanions_Click);
    connect(mnuToolsPicture, &QAction::triggered, this, &MainWindow::mnuToolsPicture_Click);
    connect(mnuHelpHelp, &QAction::triggered, this, &MainWindow::mnuHelpHelp_Click);
    connect(mnuHelpAbout, &QAction::triggered, this, &MainWindow::mnuHelpAbout_Click);
}

void MainWindow::orderTabs() {
    QWidget *const order[] = {Command3,  Command1,     Command2,  squadnick,  squadname,
                              squadmail, squadpicture, squadweb,  squadtitle, Command4,
                              Command5,  List1,        mmbId,     mmbnick,    mmbname,
                              mmbmail,   mmbicq,       mmbremark, Command6};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void MainWindow::connectEditing() {
    for (int p = 0; p < squad::PropertyCount; ++p) {
        connect(m_squadBoxes[p], &QLineEdit::textChanged, this, [this, p](const QString &text) {
            if (!m_displaying)
                m_document->setPropertyText(Property(p), text);
        });
    }
    for (int f = 0; f < squad::FieldCount; ++f) {
        connect(m_memberBoxes[f], &QLineEdit::textChanged, this, [this, f](const QString &text) {
            // With no member selected the boxes are locked, so there is nothing to store to.
            if (!m_displaying)
                m_document->setMemberField(listIndex(), Field(f), text);
        });
    }
    connect(List1->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!m_displaying)
            List1_Click();
    });
    connect(m_document, &squad::SquadDocument::contentReset, this, [this] {
        showProperties();
        List1_Click();
    });
    connect(Command3, &QPushButton::clicked, mnuFileNew, &QAction::trigger);
    connect(Command1, &QPushButton::clicked, mnuFileOpen, &QAction::trigger);
    connect(Command2, &QPushButton::clicked, mnuFileSave, &QAction::trigger);
    connect(Command6, &QPushButton::clicked, mnuFileUpload, &QAction::trigger);
    connect(Command4, &QPushButton::clicked, this, &MainWindow::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &MainWindow::Command5_Click);
}

int MainWindow::listIndex() const {
    const QModelIndexList selected = List1->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.constFirst().row();
}

void MainWindow::setListIndex(int row) {
    {
        const QScopedValueRollback displaying(m_displaying, true);
        QItemSelectionModel *selection = List1->selectionModel();
        if (row < 0) {
            selection->clear();
        } else {
            const QModelIndex index = m_document->index(row);
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            List1->scrollTo(index);
        }
    }
    List1_Click();
}

void MainWindow::List1_Click() {
    const int row = listIndex();
    if (row < 0) {
        // Nothing selected: nothing to type into, so nothing typed can get lost.
        showMemberTexts(squad::Member{});
        lockmmbfields(true);
    } else {
        mmbshow(row);
        lockmmbfields(false);
    }
}

void MainWindow::mmbshow(int index) {
    showMemberTexts(m_document->mmbdata().column(index));
}

void MainWindow::showMemberTexts(const squad::Member &member) {
    const QScopedValueRollback displaying(m_displaying, true);
    for (int f = 0; f < squad::FieldCount; ++f)
        m_memberBoxes[f]->setText(member[f]);
}

void MainWindow::showProperties() {
    const QScopedValueRollback displaying(m_displaying, true);
    for (int p = 0; p < squad::PropertyCount; ++p)
        m_squadBoxes[p]->setText(m_document->propertyText(Property(p)));
}

void MainWindow::lockmmbfields(bool locked) {
    for (QLineEdit *box : m_memberBoxes)
        box->setReadOnly(locked);
}

void MainWindow::clear() {
    m_document->clear();
}

void MainWindow::Command4_Click() {
    const int row = m_document->addMember();
    setListIndex(row);
    lockmmbfields(false);
}

void MainWindow::Command5_Click() {
    const int selected = listIndex();
    if (selected < 0)
        return;
    int next;
    {
        // The view moves its selection while the row goes; where it ends is decided here.
        const QScopedValueRollback displaying(m_displaying, true);
        next = m_document->removeMember(selected);
    }
    setListIndex(next);
    if (m_document->memberCount() == 0)
        lockmmbfields(true);
}

void MainWindow::mnuToolsCheck_Click() {
    if (!m_checkWindow) {
        m_checkWindow = new CheckWindow(*m_document, this);
        m_checkWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_checkWindow->setFilePath(m_filePath);
        connect(this, &MainWindow::filePathChanged, m_checkWindow, &CheckWindow::setFilePath);
        connect(m_checkWindow, &CheckWindow::findingActivated, this, &MainWindow::showFinding);
        connect(m_checkWindow, &CheckWindow::companionsRequested, this,
                &MainWindow::mnuToolsCompanions_Click);
    }
    m_checkWindow->show();
    m_checkWindow->raise();
    m_checkWindow->activateWindow();
}

void MainWindow::mnuToolsCompanions_Click() {
    const auto writeCompanions = [this] {
        writeCompanionsBeside(this, m_filePath);
        if (m_checkWindow)
            m_checkWindow->recheckFiles();
    };
    // They belong beside the squad file, so a squad that has none is saved first.
    if (!m_filePath.isEmpty() || save(writeCompanions) == Outcome::Done)
        writeCompanions();
}

void MainWindow::focusProperty(Property property) {
    m_squadBoxes[int(property)]->setFocus(Qt::OtherFocusReason);
}

void MainWindow::focusMemberField(int member, Field field) {
    if (!m_document->mmbdata().isMember(member))
        return;
    if (listIndex() != member)
        setListIndex(member);
    m_memberBoxes[int(field)]->setFocus(Qt::OtherFocusReason);
}

void MainWindow::mnuToolsPicture_Click() {
    if (!m_pictureWindow) {
        m_pictureWindow = new PictureWindow(*m_document, this);
        m_pictureWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_pictureWindow->setFilePath(m_filePath);
        // A save that goes on in the background is not waited for: the picture is then made
        // once the user asks again.
        m_pictureWindow->setSaveSquad([this] { return save({}) == Outcome::Done; });
        connect(this, &MainWindow::filePathChanged, m_pictureWindow, &PictureWindow::setFilePath);
        connect(m_pictureWindow, &PictureWindow::pictureMade, this, &MainWindow::setPictureName);
        connect(m_pictureWindow, &PictureWindow::findingActivated, this, &MainWindow::showFinding);
    }
    m_pictureWindow->show();
    m_pictureWindow->raise();
    m_pictureWindow->activateWindow();
}

void MainWindow::setPictureName(const QString &name) {
    squadpicture->setText(name);
}

void MainWindow::showFinding(const squad::Finding &finding) {
    if (finding.member >= 0) {
        if (finding.field)
            focusMemberField(finding.member, *finding.field);
        else if (m_document->mmbdata().isMember(finding.member))
            setListIndex(finding.member);
    } else if (finding.property) {
        focusProperty(*finding.property);
    }
    raise();
    activateWindow();
}

void MainWindow::mnuHelpHelp_Click() {
    ui::MessageBox::show(this, QStringLiteral("Do you really need help with this one ?"),
                         ui::MessageBox::Question, QStringLiteral("Narf ....."));
}

QString MainWindow::aboutText() {
    const QString crlf = QStringLiteral("\r\n");
    return QStringLiteral("   Troopbook 1.1") + crlf + QStringLiteral("   9.8.2001") + crlf +
           QStringLiteral("   Morvane") + crlf + crlf +
           QStringLiteral("I'd like to greet all members of =NO= Night Owls") + crlf +
           QStringLiteral("Mudskipper, Lady Fennec and Captain Crumble") + crlf +
           QStringLiteral("some other important guys :") + crlf +
           QStringLiteral("Bramblejack, Otterpop and the Sunday night crew") + crlf +
           QStringLiteral("some other freaks") + crlf +
           QStringLiteral("Goose, Pickles and Wobbly") + crlf + QStringLiteral("and finally") +
           crlf + QStringLiteral("everyone who still tags their tanks by hand.") + crlf + crlf +
           QStringLiteral("Troopbook is free software under the GNU General Public License, "
                          "version 3 or later (GPL-3.0-or-later), and comes with no warranty.");
}

void MainWindow::mnuHelpAbout_Click() {
    ui::MessageBox::show(this, aboutText(), ui::MessageBox::Information, QStringLiteral("About"));
}

void MainWindow::mnuFileUpload_Click() {
    if (!m_uploadWindow) {
        m_uploadWindow = new app::UploadWindow(
            *m_cdb, [document = m_document] { return document->propertyText(Property::Picture); });
        m_uploadWindow->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_uploadWindow, &app::UploadWindow::uploadFinished, this, [this] {
            if (const auto stored = m_uploadWindow->lastStoredSquad())
                m_lastStoredSquad = stored;
        });
    }
    m_uploadWindow->show();
    m_uploadWindow->raise();
    m_uploadWindow->activateWindow();
}

void MainWindow::mnuToolsCheckPublished_Click() {
    // Which web address an FTP upload ends up at is the web host's secret, so the last upload
    // is shown for orientation, not turned into a guess.
    QString prompt;
    if (m_lastStoredSquad)
        prompt = QStringLiteral("The last upload stored the squad file on %1 as %2.\n\n")
                     .arg(m_lastStoredSquad->host, QDir::cleanPath(m_lastStoredSquad->path));
    prompt += QStringLiteral("The squad file's web address (http:// or https://):");
    QString text = m_publishedAddress;
    for (;;) {
        const std::optional<QString> answer =
            ui::InputBox::ask(this, QStringLiteral("Check published squad"), prompt, text);
        if (!answer)
            return;
        QString error;
        if (publish::parseAddress(*answer, &error)) {
            m_publishedAddress = answer->trimmed();
            break;
        }
        ui::MessageBox::show(this, error, ui::MessageBox::Exclamation);
        text = *answer;
    }
    checkPublishedAgain();
}

void MainWindow::checkPublishedAgain() {
    const std::optional<QUrl> address = publish::parseAddress(m_publishedAddress, nullptr);
    if (!address)
        return;
    publish::CheckRequest request{*address, std::nullopt, QStringLiteral("the squad in the editor"),
                                  m_document->modified(), &picture::paaInspector()};
    const squad::SquadData &data = m_document->content();
    // An empty editor holds no squad to compare with; the served one is taken as it is.
    if (data != squad::SquadData())
        request.local = data;
    if (!m_publishedCheckWindow) {
        m_publishedCheckWindow = new PublishedCheckWindow(this);
        m_publishedCheckWindow->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_publishedCheckWindow, &PublishedCheckWindow::checkAgainRequested, this,
                &MainWindow::checkPublishedAgain);
    }
    m_publishedCheckWindow->setFetcherSetup(m_webFetcherSetup);
    m_publishedCheckWindow->start(std::move(request));
    m_publishedCheckWindow->show();
    m_publishedCheckWindow->raise();
    m_publishedCheckWindow->activateWindow();
}

} // namespace app
