#include "RecordsetModel.h"

#include <limits>

namespace vireo {

RecordsetModel::RecordsetModel(std::shared_ptr<const db::Recordset> rs, QObject *parent)
    : QAbstractTableModel(parent), m_rs(rs ? std::move(rs) : std::make_shared<const db::Recordset>())
{
}

void RecordsetModel::reset(std::shared_ptr<const db::Recordset> rs)
{
    beginResetModel();
    m_rs = rs ? std::move(rs) : std::make_shared<const db::Recordset>();
    endResetModel();
}

int RecordsetModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(std::min<qint64>(m_rs->rowCount(), std::numeric_limits<int>::max()));
}

int RecordsetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rs->columnCount();
}

QVariant RecordsetModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return m_rs->text(index.row(), index.column());
    case Qt::UserRole:   // the value itself, for sorting
        return m_rs->value(index.row(), index.column());
    case Qt::TextAlignmentRole:
        switch (m_rs->column(index.column()).type) {
        case db::ColumnType::Integer: case db::ColumnType::Real: case db::ColumnType::Decimal:
            return int(Qt::AlignRight | Qt::AlignVCenter);
        default:
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        }
    default:
        return {};
    }
}

QVariant RecordsetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_rs->columnCount() ? QVariant(m_rs->column(section).name) : QVariant();
    return section + 1;
}

} // namespace vireo
