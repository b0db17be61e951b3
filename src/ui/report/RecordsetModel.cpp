#include "RecordsetModel.h"

#include <limits>

namespace vireo {

RecordsetModel::RecordsetModel(std::shared_ptr<const db::Recordset> rs, QObject *parent)
    : QAbstractTableModel(parent)
{
    reset(std::move(rs));
}

void RecordsetModel::reset(std::shared_ptr<const db::Recordset> rs)
{
    reset(std::move(rs), nullptr);
}

void RecordsetModel::reset(std::shared_ptr<const db::Recordset> rs, std::shared_ptr<std::shared_mutex> lock)
{
    beginResetModel();
    m_rs = rs ? std::move(rs) : std::make_shared<const db::Recordset>();
    m_lock = std::move(lock);
    if (m_lock) {
        const std::shared_lock hold(*m_lock);
        m_visible = m_rs->rowCount();
        m_columns = m_rs->columnCount();
    } else {
        m_visible = m_rs->rowCount();
        m_columns = m_rs->columnCount();
    }
    endResetModel();
}

void RecordsetModel::grow(qint64 rows)
{
    int columns = 0;
    {
        std::shared_lock<std::shared_mutex> hold;
        if (m_lock)
            hold = std::shared_lock(*m_lock);
        columns = m_rs->columnCount();
        rows = std::min(rows, m_rs->rowCount());
    }
    // The columns arrive with the first rows: the header changes as a whole.
    if (columns != m_columns) {
        beginResetModel();
        m_columns = columns;
        m_visible = rows;
        endResetModel();
        return;
    }
    const qint64 cap = std::numeric_limits<int>::max();
    const qint64 to = std::min(rows, cap);
    if (to <= m_visible)
        return;
    beginInsertRows({}, int(m_visible), int(to - 1));
    m_visible = to;
    endInsertRows();
}

int RecordsetModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(std::min<qint64>(m_visible, std::numeric_limits<int>::max()));
}

int RecordsetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant RecordsetModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_visible || index.column() >= m_columns)
        return {};
    std::shared_lock<std::shared_mutex> hold;
    if (m_lock)
        hold = std::shared_lock(*m_lock);
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
    if (orientation == Qt::Horizontal) {
        std::shared_lock<std::shared_mutex> hold;
        if (m_lock)
            hold = std::shared_lock(*m_lock);
        return section >= 0 && section < m_columns ? QVariant(m_rs->column(section).name) : QVariant();
    }
    return section + 1;
}

} // namespace vireo
