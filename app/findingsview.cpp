#include "findingsview.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QStackedLayout>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeView>

namespace app {
namespace {

// A tree view measures its rows without the width of their columns, so wrapped text would get a
// single line; this delegate measures a message in the width its column has.
class WrappingDelegate : public QStyledItemDelegate {
public:
    explicit WrappingDelegate(QHeaderView *header)
        : QStyledItemDelegate(header)
        , m_header(header) {}

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        QStyleOptionViewItem measured = option;
        measured.rect =
            QRect(0, 0, m_header->sectionSize(index.column()), option.fontMetrics.height());
        // Some air between rows of several lines each, so that each finding reads as one.
        return QStyledItemDelegate::sizeHint(measured, index) +
               QSize(0, option.fontMetrics.height() / 2);
    }

private:
    QHeaderView *m_header;
};

} // namespace

FindingsModel::FindingsModel(QObject *parent)
    : QAbstractTableModel(parent)
    , m_problemIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical))
    , m_hintIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation)) {}

int FindingsModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FindingsModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role != Qt::DisplayRole && role != Qt::DecorationRole && role != Qt::ToolTipRole)
        return {};
    const squad::Finding f = finding(index.row());
    const bool problem = f.kind == squad::Finding::Kind::Problem;
    if (index.column() == Concerns) {
        switch (role) {
        case Qt::DisplayRole:
            return f.member < 0 ? QStringLiteral("Squad") : memberName(f.member);
        case Qt::DecorationRole:
            return problem ? m_problemIcon : m_hintIcon;
        default:
            return problem
                       ? QStringLiteral("Problem: the squad will not work in the game as meant.")
                       : QStringLiteral("Hint: worth a look.");
        }
    }
    if (role == Qt::DecorationRole)
        return {};
    // The whole message as a tooltip, for when the column cuts it short.
    return f.message;
}

QVariant FindingsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == Concerns ? QStringLiteral("Concerns") : QStringLiteral("Finding");
}

void FindingListModel::setFindings(QList<squad::Finding> findings,
                                   std::function<QString(int)> memberName) {
    beginResetModel();
    m_findings = std::move(findings);
    m_memberName = std::move(memberName);
    endResetModel();
}

int FindingListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_findings.size());
}

QString FindingListModel::memberName(int index) const {
    return m_memberName ? m_memberName(index) : QStringLiteral("Member %1").arg(index + 1);
}

FindingsView::FindingsView(QWidget *parent)
    : QWidget(parent)
    , m_stack(new QStackedLayout(this))
    , m_list(new QTreeView(this))
    , m_empty(new QLabel(this)) {
    m_list->setObjectName(QStringLiteral("findings"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->header()->setStretchLastSection(true);
    m_empty->setObjectName(QStringLiteral("noFindings"));
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setWordWrap(true);
    m_empty->setText(QStringLiteral("No findings."));
    m_empty->setAutoFillBackground(true);
    m_empty->setBackgroundRole(QPalette::Base);
    m_empty->setFrameShape(QFrame::StyledPanel);
    m_stack->addWidget(m_list);
    m_stack->addWidget(m_empty);
    connect(m_list, &QTreeView::activated, this, [this](const QModelIndex &index) {
        if (m_model && index.isValid())
            Q_EMIT findingActivated(m_model->finding(index.row()));
    });
}

void FindingsView::setModel(FindingsModel *model) {
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    m_list->setModel(model);
    m_list->header()->resizeSection(FindingsModel::Concerns, fontMetrics().averageCharWidth() * 18);
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, this, &FindingsView::showListOrEmptyText);
    connect(model, &QAbstractItemModel::modelReset, this, &FindingsView::showListOrEmptyText);
    showListOrEmptyText();
}

void FindingsView::setFindings(QList<squad::Finding> findings,
                               std::function<QString(int)> memberName) {
    if (!m_ownModel)
        m_ownModel = new FindingListModel(this);
    m_ownModel->setFindings(std::move(findings), std::move(memberName));
    if (m_model != m_ownModel)
        setModel(m_ownModel);
}

void FindingsView::setEmptyText(const QString &text) {
    m_empty->setText(text);
}

void FindingsView::setWrapsMessages(bool wraps) {
    m_list->setWordWrap(wraps);
    m_list->setUniformRowHeights(!wraps);
    m_list->setTextElideMode(wraps ? Qt::ElideNone : Qt::ElideRight);
    QAbstractItemDelegate *old = m_list->itemDelegateForColumn(FindingsModel::Message);
    m_list->setItemDelegateForColumn(FindingsModel::Message,
                                     wraps ? new WrappingDelegate(m_list->header()) : nullptr);
    delete old;
    // The view keeps each row's height; a wider or narrower column needs them measured anew.
    if (wraps)
        connect(m_list->header(), &QHeaderView::sectionResized, m_list, &QTreeView::doItemsLayout,
                Qt::UniqueConnection);
    else
        disconnect(m_list->header(), &QHeaderView::sectionResized, m_list,
                   &QTreeView::doItemsLayout);
}

bool FindingsView::showsEmptyText() const {
    return m_stack->currentWidget() == m_empty;
}

void FindingsView::showListOrEmptyText() {
    const bool empty = !m_model || m_model->rowCount() == 0;
    m_stack->setCurrentWidget(empty ? static_cast<QWidget *>(m_empty) : m_list);
}

} // namespace app
