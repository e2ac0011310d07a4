#include "checkwindow.h"

#include "base/wording.h"
#include "picture/picturecheck.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace app {

CheckModel::CheckModel(const squad::SquadChecker &checker, const squad::SquadDocument &document,
                       QObject *parent)
    : FindingsModel(parent)
    , m_checker(checker)
    , m_document(document) {
    using squad::SquadChecker;
    connect(&checker, &SquadChecker::reset, this, &CheckModel::rebuild);
    connect(&checker, &SquadChecker::squadFindingsChanged, this, &CheckModel::squadFindingsChanged);
    connect(&checker, &SquadChecker::memberChanged, this, &CheckModel::memberChanged);
    connect(&checker, &SquadChecker::membersInserted, this, &CheckModel::membersInserted);
    connect(&checker, &SquadChecker::membersRemoved, this, &CheckModel::membersRemoved);
    connect(&checker, &SquadChecker::duplicateTextsChanged, this, &CheckModel::textsChanged);
    rebuild();
}

int CheckModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_squadRows + int(m_rowMember.size());
}

std::pair<int, int> CheckModel::memberRows(int member) const {
    const auto [first, last] = std::equal_range(m_rowMember.begin(), m_rowMember.end(), member);
    return {int(first - m_rowMember.begin()), int(last - m_rowMember.begin())};
}

squad::Finding CheckModel::finding(int row) const {
    if (row < m_squadRows)
        return m_checker.squadFindings().at(row);
    const int member = m_rowMember.at(row - m_squadRows);
    return m_checker.memberFinding(member, row - m_squadRows - memberRows(member).first);
}

QString CheckModel::memberName(int member) const {
    const QString &nick = m_document.cell(squad::Field::Nick, member);
    return nick.isEmpty() ? QStringLiteral("Member %1").arg(member + 1) : nick;
}

void CheckModel::rebuild() {
    beginResetModel();
    m_squadRows = int(m_checker.squadFindings().size());
    m_rowMember.clear();
    for (int m = 0; m < m_document.memberCount(); ++m)
        m_rowMember.insert(m_rowMember.end(), m_checker.memberFindingCount(m), m);
    endResetModel();
}

void CheckModel::squadFindingsChanged() {
    const int now = int(m_checker.squadFindings().size());
    if (now < m_squadRows) {
        beginRemoveRows({}, now, m_squadRows - 1);
        m_squadRows = now;
        endRemoveRows();
    } else if (now > m_squadRows) {
        beginInsertRows({}, m_squadRows, now - 1);
        m_squadRows = now;
        endInsertRows();
    }
    if (now > 0)
        Q_EMIT dataChanged(index(0, 0), index(now - 1, ColumnCount - 1));
}

void CheckModel::memberChanged(int member) {
    const auto [first, last] = memberRows(member);
    const int was = last - first;
    const int now = m_checker.memberFindingCount(member);
    const int top = m_squadRows + first;
    if (now < was) {
        beginRemoveRows({}, top + now, top + was - 1);
        m_rowMember.erase(m_rowMember.begin() + first + now, m_rowMember.begin() + last);
        endRemoveRows();
    } else if (now > was) {
        beginInsertRows({}, top + was, top + now - 1);
        m_rowMember.insert(m_rowMember.begin() + last, now - was, member);
        endInsertRows();
    }
    // The nick is shown beside each finding, and the texts may say something new.
    if (now > 0)
        Q_EMIT dataChanged(index(top, 0), index(top + now - 1, ColumnCount - 1));
}

void CheckModel::membersInserted(int first, int last) {
    const int added = last - first + 1;
    const int at =
        int(std::lower_bound(m_rowMember.begin(), m_rowMember.end(), first) - m_rowMember.begin());
    for (auto row = m_rowMember.begin() + at; row != m_rowMember.end(); ++row)
        *row += added;
    std::vector<int> rows;
    for (int m = first; m <= last; ++m)
        rows.insert(rows.end(), m_checker.memberFindingCount(m), m);
    if (!rows.empty()) {
        beginInsertRows({}, m_squadRows + at, m_squadRows + at + int(rows.size()) - 1);
        m_rowMember.insert(m_rowMember.begin() + at, rows.begin(), rows.end());
        endInsertRows();
    }
    if (at < int(m_rowMember.size()) - int(rows.size()))
        textsChanged();
}

void CheckModel::membersRemoved(int first, int last) {
    const int removed = last - first + 1;
    const int from = memberRows(first).first;
    const int to = memberRows(last).second;
    if (to > from) {
        beginRemoveRows({}, m_squadRows + from, m_squadRows + to - 1);
        m_rowMember.erase(m_rowMember.begin() + from, m_rowMember.begin() + to);
        endRemoveRows();
    }
    for (auto row = m_rowMember.begin() + from; row != m_rowMember.end(); ++row)
        *row -= removed;
    // Members without a nick are named by their position, which moved.
    if (from < int(m_rowMember.size()))
        textsChanged();
}

void CheckModel::textsChanged() {
    const int rows = rowCount();
    if (rows > 0)
        Q_EMIT dataChanged(index(0, 0), index(rows - 1, ColumnCount - 1));
}

CheckWindow::CheckWindow(const squad::SquadDocument &document, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_checker(new squad::SquadChecker(document, this))
    , m_model(new CheckModel(*m_checker, document, this))
    , m_view(new FindingsView(this))
    , m_summary(new QLabel(this))
    , m_writeCompanions(new QPushButton(QStringLiteral("&Write squad.dtd and squad.xsl"), this)) {
    m_checker->setPictureInspector(&picture::paaInspector());
    setObjectName(QStringLiteral("checkWindow"));
    setWindowTitle(QStringLiteral("Check squad"));
    m_summary->setObjectName(QStringLiteral("summary"));
    m_view->setEmptyText(
        QStringLiteral("No findings: nothing stands in the way of the squad in the game."));
    m_view->setModel(m_model);
    auto *advice = new QLabel(QStringLiteral("Double-click a finding to go to the field "
                                             "concerned. The list follows your changes."),
                              this);
    advice->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_writeCompanions->setObjectName(QStringLiteral("writeCompanions"));
    m_writeCompanions->setAutoDefault(false);
    m_writeCompanions->setToolTip(QStringLiteral("Writes squad.dtd and squad.xsl, made for the "
                                                 "files Troopbook saves, beside the squad file"));
    buttons->addButton(m_writeCompanions, QDialogButtonBox::ActionRole);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_view, 1);
    layout->addWidget(advice);
    layout->addWidget(buttons);
    resize(820, 320);

    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this,
            &QWidget::close);
    connect(m_view, &FindingsView::findingActivated, this, &CheckWindow::activate);
    connect(m_writeCompanions, &QPushButton::clicked, this, &CheckWindow::companionsRequested);
    connect(&m_folderWatcher, &QFileSystemWatcher::directoryChanged, m_checker,
            &squad::SquadChecker::recheckFiles);
    m_summaryTimer.setSingleShot(true);
    m_summaryTimer.setInterval(0);
    connect(&m_summaryTimer, &QTimer::timeout, this, &CheckWindow::showSummary);
    const auto refresh = [this] {
        m_summaryTimer.start();
    };
    using squad::SquadChecker;
    connect(m_checker, &SquadChecker::reset, this, refresh);
    connect(m_checker, &SquadChecker::squadFindingsChanged, this, refresh);
    connect(m_checker, &SquadChecker::memberChanged, this, refresh);
    connect(m_checker, &SquadChecker::membersInserted, this, refresh);
    connect(m_checker, &SquadChecker::membersRemoved, this, refresh);
    showSummary();
}

void CheckWindow::setFilePath(const QString &path) {
    if (!m_folderWatcher.directories().isEmpty())
        m_folderWatcher.removePaths(m_folderWatcher.directories());
    if (!path.isEmpty())
        m_folderWatcher.addPath(QFileInfo(path).absolutePath());
    m_checker->setFilePath(path);
}

bool CheckWindow::event(QEvent *event) {
    // Coming back to the window, the user may have put files in place meanwhile, also where no
    // folder can be watched.
    if (event->type() == QEvent::WindowActivate)
        m_checker->recheckFiles();
    return QWidget::event(event);
}

void CheckWindow::showSummary() {
    const auto count = [](int n, const char *one, const char *many) -> QString {
        if (n == 0)
            return QStringLiteral("no %1").arg(QLatin1String(many));
        return base::countOf(n, one, many);
    };
    QString text =
        QStringLiteral("%1, %2.").arg(count(m_checker->problemCount(), "problem", "problems"),
                                      count(m_checker->hintCount(), "hint", "hints"));
    text[0] = text[0].toUpper();
    m_summary->setText(text);
    const QList<squad::Finding> &squadFindings = m_checker->squadFindings();
    m_writeCompanions->setVisible(
        std::any_of(squadFindings.begin(), squadFindings.end(), [](const squad::Finding &f) {
            return f.remedy == squad::Finding::Remedy::WriteCompanions;
        }));
}

void CheckWindow::activate(const squad::Finding &finding) {
    if (finding.remedy == squad::Finding::Remedy::WriteCompanions)
        Q_EMIT companionsRequested();
    else
        Q_EMIT findingActivated(finding);
}

} // namespace app
