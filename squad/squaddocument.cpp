#include "squaddocument.h"

namespace squad {

SquadDocument::SquadDocument(QObject *parent)
    : QAbstractListModel(parent) {}

void SquadDocument::setModified(bool modified) {
    if (m_modified == modified)
        return;
    m_modified = modified;
    Q_EMIT modifiedChanged(modified);
}

void SquadDocument::markModified() {
    if (!m_loading)
        setModified(true);
}

void SquadDocument::setPropertyText(Property p, const QString &value) {
    QString &stored = m_data.properties[int(p)];
    if (stored == value)
        return;
    stored = value;
    markModified();
    Q_EMIT propertyChanged(p);
}

bool SquadDocument::setMemberField(int index, Field field, const QString &value) {
    if (m_loading || !m_data.mmbdata.isMember(index))
        return false;
    if (m_data.mmbdata.cell(field, index) != value) {
        m_data.mmbdata.setCell(field, index, value);
        markModified();
        if (field == Field::Nick) {
            const QModelIndex changed = QAbstractListModel::index(index);
            Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
        }
        Q_EMIT memberFieldChanged(index, field);
    }
    return true;
}

int SquadDocument::addMember() {
    const int index = memberCount();
    Member newbie;
    newbie[int(Field::Nick)] = QStringLiteral("Newbie");
    insertMember(index, std::move(newbie));
    return index;
}

bool SquadDocument::insertMember(int index, Member member) {
    if (index < 0 || index > memberCount())
        return false;
    beginInsertRows({}, index, index);
    m_data.mmbdata.insert(index, std::move(member));
    endInsertRows();
    markModified();
    return true;
}

int SquadDocument::removeMember(int index) {
    if (!m_data.mmbdata.isMember(index))
        return -1;
    beginRemoveRows({}, index, index);
    m_data.mmbdata.remove(index);
    endRemoveRows();
    markModified();
    return index < memberCount() ? index : -1;
}

bool SquadDocument::moveMember(int from, int to) {
    if (!m_data.mmbdata.isMember(from) || !m_data.mmbdata.isMember(to) || from == to)
        return false;
    // Out and in again rather than a row move: everything that follows the member list (the
    // squad check among them) already keeps up with members coming and going.
    Member moved = m_data.mmbdata.member(from);
    removeMember(from);
    insertMember(to, std::move(moved));
    return true;
}

void SquadDocument::setMembers(QList<Member> members) {
    beginResetModel();
    m_data.mmbdata.assign(std::move(members));
    endResetModel();
    markModified();
    Q_EMIT contentReset();
}

void SquadDocument::clear() {
    load(SquadData{});
}

void SquadDocument::load(SquadData data) {
    beginResetModel();
    m_data = std::move(data);
    endResetModel();
    Q_EMIT contentReset();
}

int SquadDocument::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : memberCount();
}

QVariant SquadDocument::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || !m_data.mmbdata.isMember(index.row()))
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_data.mmbdata.cell(Field::Nick, index.row());
    return {};
}

Qt::ItemFlags SquadDocument::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return QAbstractListModel::flags(index) | Qt::ItemIsDragEnabled;
}

} // namespace squad
