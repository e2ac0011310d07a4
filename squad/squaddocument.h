#pragma once

#include "membertable.h"

#include <QAbstractListModel>

namespace squad {

// The six squad properties, in the order the file writes them after the tag.
enum class Property { Tag = 0, Name, Mail, Web, Picture, Title };
inline constexpr int PropertyCount = 6;

// What a squad file holds: the squad's properties and its member table.
struct SquadData {
    std::array<QString, PropertyCount> properties;
    MemberTable mmbdata;

    const QString &property(Property p) const { return properties[int(p)]; }
    friend bool operator==(const SquadData &, const SquadData &) = default;
};

// The one squad document of a run. As a list model it is the member list: the row of a member's
// index shows its nick, so a view over it is always in step with the member table.
class SquadDocument : public QAbstractListModel {
    Q_OBJECT
public:
    explicit SquadDocument(QObject *parent = nullptr);

    const SquadData &content() const { return m_data; }
    const MemberTable &mmbdata() const { return m_data.mmbdata; }
    int memberCount() const { return m_data.mmbdata.memberCount(); }
    const QString &propertyText(Property p) const { return m_data.property(p); }
    const QString &cell(Field field, int index) const { return m_data.mmbdata.cell(field, index); }

    bool modified() const { return m_modified; }
    void setModified(bool modified);
    bool loading() const { return m_loading; }
    void setLoading(bool loading) { m_loading = loading; }

    // A user's change of a squad property. Unless loading, it marks the document modified.
    void setPropertyText(Property p, const QString &value);
    // A user's change of a member field. Unless loading, it stores the value and marks the
    // document modified. Returns false, storing nothing, when `index` is no member.
    bool setMemberField(int index, Field field, const QString &value);
    // Appends a member "Newbie"; returns its index.
    int addMember();
    // Puts `member` at `index` (0 to memberCount()), the members from there on moving one place
    // back. Returns false, changing nothing, for an index outside that range.
    bool insertMember(int index, Member member);
    // Removes the member at `index`. Returns the index that is selected afterwards: the same
    // index, now holding the member that followed, or -1 when the last one was removed or
    // `index` named no member.
    int removeMember(int index);
    // Takes the member at `from` out and puts it back so that it ends at index `to`.
    bool moveMember(int from, int to);
    // Replaces all members at once, keeping the squad properties.
    void setMembers(QList<Member> members);
    // Empties the document: properties, members and list. `modified` is left as it is.
    void clear();
    // Replaces the whole content with what a file held. `modified` is left as it is.
    void load(SquadData data);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // A member can be dragged to another place in the list: dropped between members, not on one.
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }

Q_SIGNALS:
    void modifiedChanged(bool modified);
    void propertyChanged(squad::Property property);
    void memberFieldChanged(int index, squad::Field field);
    // The whole content was replaced (clear, load or all members at once).
    void contentReset();

private:
    void markModified();

    SquadData m_data;
    bool m_loading = false;
    bool m_modified = false;
};

} // namespace squad
