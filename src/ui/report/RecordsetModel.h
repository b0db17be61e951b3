#pragma once
#include "Recordset.h"
#include <QAbstractTableModel>
#include <memory>
#include <shared_mutex>

namespace vireo {

// Read-only table model over a snapshot; the field names are the horizontal header.
// Cells are produced on demand, so the model costs nothing per row.
class RecordsetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordsetModel(std::shared_ptr<const db::Recordset> rs, QObject *parent = nullptr);

    const db::Recordset &recordset() const { return *m_rs; }
    std::shared_ptr<const db::Recordset> shared() const { return m_rs; }
    // Shows another snapshot (null: an empty one) and lets go of the earlier one.
    void reset(std::shared_ptr<const db::Recordset> rs);
    // Shows a recordset that another thread is still filling (holding lock while it changes it):
    // rows become visible as grow() announces them.
    void reset(std::shared_ptr<const db::Recordset> rs, std::shared_ptr<std::shared_mutex> lock);
    void grow(qint64 rows);
    // The rows shown so far.
    qint64 visibleRows() const { return m_visible; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::shared_ptr<const db::Recordset> m_rs;
    std::shared_ptr<std::shared_mutex> m_lock;
    qint64 m_visible = 0;
    int m_columns = 0;
};

} // namespace vireo
