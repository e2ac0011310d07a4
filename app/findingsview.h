#pragma once

#include "squad/finding.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QWidget>

#include <functional>

class QLabel;
class QStackedLayout;
class QTreeView;

namespace app {

// The rows of a FindingsView: one finding a row, with whom it concerns and what it says.
class FindingsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Concerns, Message, ColumnCount };

    explicit FindingsModel(QObject *parent = nullptr);

    virtual squad::Finding finding(int row) const = 0;
    // How the list names the member at this position.
    virtual QString memberName(int index) const = 0;

    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QIcon m_problemIcon;
    QIcon m_hintIcon;
};

// A fixed list of findings, such as a check of something that does not change while shown.
class FindingListModel : public FindingsModel {
    Q_OBJECT
public:
    using FindingsModel::FindingsModel;

    void setFindings(QList<squad::Finding> findings, std::function<QString(int)> memberName);

    int rowCount(const QModelIndex &parent = {}) const override;
    squad::Finding finding(int row) const override { return m_findings.at(row); }
    QString memberName(int index) const override;

private:
    QList<squad::Finding> m_findings;
    std::function<QString(int)> m_memberName;
};

// A list of findings: an icon for problem or hint, the member concerned (or "Squad"), the
// message. Double-clicking a row, or Enter on it, activates its finding. With no rows the list
// gives way to a sentence that says so.
class FindingsView : public QWidget {
    Q_OBJECT
public:
    explicit FindingsView(QWidget *parent = nullptr);

    // Shows the rows of `model`, which must outlive the view's use of it.
    void setModel(FindingsModel *model);
    // Shows a fixed list; `memberName` names a member by its position.
    void setFindings(QList<squad::Finding> findings, std::function<QString(int)> memberName);
    void setEmptyText(const QString &text);
    // Lets long messages run onto further lines rather than be cut short. Rows then differ in
    // height, which long lists pay for on every change: for short lists only.
    void setWrapsMessages(bool wraps);
    QTreeView *list() const { return m_list; }
    bool showsEmptyText() const;

Q_SIGNALS:
    void findingActivated(const squad::Finding &finding);

private:
    void showListOrEmptyText();

    QStackedLayout *m_stack;
    QTreeView *m_list;
    QLabel *m_empty;
    FindingsModel *m_model = nullptr;
    FindingListModel *m_ownModel = nullptr;
};

} // namespace app
