#pragma once

#include "findingsview.h"

#include "squad/squadcheck.h"

#include <QFileSystemWatcher>
#include <QTimer>
#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;

namespace app {

// The findings of a SquadChecker as rows: the squad's first, then member by member. It follows
// the checker change by change, so a keystroke touches only the rows of the members it
// concerns.
class CheckModel : public FindingsModel {
    Q_OBJECT
public:
    CheckModel(const squad::SquadChecker &checker, const squad::SquadDocument &document,
               QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    squad::Finding finding(int row) const override;
    QString memberName(int member) const override;

private:
    void rebuild();
    void squadFindingsChanged();
    void memberChanged(int member);
    void membersInserted(int first, int last);
    void membersRemoved(int first, int last);
    void textsChanged();
    // The rows of `member`'s findings, counted from the first member row.
    std::pair<int, int> memberRows(int member) const;

    const squad::SquadChecker &m_checker;
    const squad::SquadDocument &m_document;
    int m_squadRows = 0;
    // For each row after the squad's: the member it concerns, ascending.
    std::vector<int> m_rowMember;
};

// "Check squad": the findings about the squad in the editor, in step with it while the user
// types. Double-clicking a finding asks the editor to go to the field concerned.
class CheckWindow : public QWidget {
    Q_OBJECT
public:
    CheckWindow(const squad::SquadDocument &document, QWidget *parent = nullptr);

    // Where the squad file lies on disk; empty when it has none.
    void setFilePath(const QString &path);
    const squad::SquadChecker &checker() const { return *m_checker; }
    FindingsView *findingsView() const { return m_view; }
    // Looks again at the files beside the squad file, for example after writing some there.
    void recheckFiles() { m_checker->recheckFiles(); }

Q_SIGNALS:
    void findingActivated(const squad::Finding &finding);
    // The user asks for squad.dtd and squad.xsl to be written beside the squad file.
    void companionsRequested();

protected:
    bool event(QEvent *event) override;

private:
    void showSummary();
    void activate(const squad::Finding &finding);

    squad::SquadChecker *m_checker;
    CheckModel *m_model;
    FindingsView *m_view;
    QLabel *m_summary;
    // Offered while a companion of the squad file is missing.
    QPushButton *m_writeCompanions;
    // Files beside the squad file come and go while the window is open.
    QFileSystemWatcher m_folderWatcher;
    // Many changes in one pass of the event loop are summed up once.
    QTimer m_summaryTimer;
};

} // namespace app
