#pragma once
#include "ItemOutcome.h"
#include <QAbstractTableModel>
#include <map>
#include <optional>
#include <vector>

namespace vireo {

// One row of the summary: the item's outcome in the window's last run and what the views add.
struct SummaryEntry {
    ItemOutcome outcome;
    // The item's last real result in this window, shown grey when this run did not check it.
    std::optional<ItemOutcome> earlier;
    QString change;        // "与上次比较"
    QString changeTip;

    // The outcome whose result the row shows: this run's, or the earlier one it fell back to.
    const ItemOutcome *shown() const;
    // The row's tool tip when it is not this run's own result; empty when it is.
    QString staleNote() const;
};

// The summary grid's rows: a model over the run's item records. Its texts are made from the
// records and never read back; the window decides from entry().
class SummaryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit SummaryModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // A run's outcomes replace the rows; items it did not check keep their earlier result grey.
    void showRun(const std::vector<ItemOutcome> &outcomes);
    // An item's outcome changed outside a run (re-check, repair, procedure run).
    void updateOutcome(const ItemOutcome &outcome);
    void setChange(const QString &code, const QString &text, const QString &toolTip);
    void clear();

    // The entry of a source row; null for the placeholder row of an empty summary.
    const SummaryEntry *entry(int row) const;
    const SummaryEntry *entry(const QString &code) const;

private:
    std::vector<SummaryEntry> m_entries;
    // The last real (checked, error or repaired) outcome of each item in this window.
    std::map<QString, ItemOutcome> m_lastReal;
};

} // namespace vireo
