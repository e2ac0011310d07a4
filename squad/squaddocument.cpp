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

bool SquadDocument::setMemberField(int column, Field field, const QString &value) {
    if (m_loading || !m_data.mmbdata.isMember(column))
        return false;
    if (m_data.mmbdata.cell(field, column) != value) {
        m_data.mmbdata.setCell(field, column, value);
        markModified();
        if (field == Field::Nick) {
            const QModelIndex changed = index(column);
            Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
        }
        Q_EMIT memberFieldChanged(column, field);
    }
    return true;
}

int SquadDocument::addMember() {
    const int column = memberCount();
    beginInsertRows({}, column, column);
    m_data.mmbdata.grow();
    m_data.mmbdata.setCell(Field::Nick, column, QStringLiteral("Newbie"));
    endInsertRows();
    markModified();
    return column;
}

int SquadDocument::removeMember(int column) {
    if (!m_data.mmbdata.isMember(column))
        return -1;
    beginRemoveRows({}, column, column);
    m_data.mmbdata.remove(column);
    endRemoveRows();
    markModified();
    return column < memberCount() ? column : -1;
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

} // namespace squad
