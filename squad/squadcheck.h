#pragma once

#include "finding.h"
#include "idindex.h"
#include "pictureinspector.h"
#include "squaddocument.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>
#include <vector>

namespace squad {

// What the check needs to know besides the squad itself.
struct CheckContext {
    // The squad file on disk; empty while the squad has never been saved or opened. The picture,
    // squad.dtd and squad.xsl are looked for beside it.
    QString filePath;
    // The squad differs from what the file holds.
    bool unsavedChanges = false;
    // Looks into the picture beside the squad file; without one only the picture's name and
    // presence are checked.
    const PictureInspector *pictures = nullptr;
};

// Every finding about the squad: the squad's own first, then member by member in list order.
QList<Finding> checkSquad(SquadData data, const CheckContext &context);

// The check of a document, kept up to date as the document changes. A change looks again only at
// what it touched: a keystroke in a member's box re-checks that member and the members sharing
// its ID before and after, never the whole list.
class SquadChecker : public QObject {
    Q_OBJECT
public:
    explicit SquadChecker(const SquadDocument &document, QObject *parent = nullptr);

    const QString &filePath() const { return m_filePath; }
    void setFilePath(const QString &path);
    // Looks again at the files beside the squad file, which other programs may have changed.
    void recheckFiles();
    void setPictureInspector(const PictureInspector *inspector);

    const QList<Finding> &squadFindings() const { return m_squadFindings; }
    int memberFindingCount(int member) const;
    // The `index`th finding about `member`, 0 <= index < memberFindingCount(member).
    Finding memberFinding(int member, int index) const;
    // Every finding, in the order of checkSquad().
    QList<Finding> findings() const;

    int problemCount() const;
    int hintCount() const;

Q_SIGNALS:
    void squadFindingsChanged();
    // The member was looked at again: its findings, their texts or its nick may differ.
    void memberChanged(int member);
    // A finding about a shared ID names the other members by position and nick; such texts may
    // differ anywhere in the list.
    void duplicateTextsChanged();
    void membersInserted(int first, int last);
    void membersRemoved(int first, int last);
    // Everything may differ.
    void reset();

private:
    // Members whose findings changed through another member's edit, told after the edit.
    struct Ripple {
        QList<int> members;
        bool texts = false;
    };

    void rebuild();
    // The inspector's findings about the picture beside the squad file, looked at again only
    // when the file changed.
    QList<Finding> pictureFindings();
    void checkSquadRules();
    // True when the squad's findings changed.
    bool evaluateSquadRules();
    quint32 brokenRules(int member) const;
    void recheckMember(int member);
    void fieldChanged(int member, Field field);
    void insertMembers(int first, int last);
    void removeMembers(int first, int last);
    // Files `member` under `id` in the ID index; an empty ID matches nobody and is not filed.
    void indexId(int member, const QString &id, Ripple &ripple);
    void unindexId(int member, Ripple &ripple);
    void announce(const Ripple &ripple);
    bool shares(int member) const;
    // The member other than `member` filed under the ID key `key`.
    int otherHolder(int key, int member) const;
    void countMask(quint32 mask, int sign);

    const SquadDocument &m_document;
    QString m_filePath;
    const PictureInspector *m_pictures = nullptr;
    struct PictureSeen {
        QString path;
        qint64 size = 0;
        QDateTime modified;
        QList<Finding> findings;
    };
    std::optional<PictureSeen> m_pictureSeen;
    QList<Finding> m_squadFindings;
    // Per member: bit i is set while member rule i is broken, and the top bit while another
    // member holds the same ID.
    std::vector<quint32> m_broken;
    // Per member: the key of the ID under which it is counted in m_ids, -1 for none.
    std::vector<int> m_idKeys;
    // How many members hold each non-empty ID.
    IdIndex m_ids;
    // The keys of the IDs held by more than one member, and those members, ascending. Only these
    // positions are kept, so that removing a member need not renumber an entry for every ID.
    QHash<int, QList<int>> m_sharedIds;
    int m_memberProblems = 0;
    int m_memberHints = 0;
    // Members whose ID another member holds too.
    int m_sharing = 0;
};

} // namespace squad
