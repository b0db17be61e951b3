#include "SummaryModel.h"
#include <QColor>

namespace vireo {

namespace {
bool isReal(const ItemOutcome &o)
{
    return o.state == ItemState::Checked || o.state == ItemState::Error || o.state == ItemState::Repaired;
}
} // namespace

const ItemOutcome *SummaryEntry::shown() const
{
    if (outcome.state == ItemState::NotRun && earlier)
        return &*earlier;
    return &outcome;
}

QString SummaryEntry::staleNote() const
{
    switch (outcome.state) {
    case ItemState::NotRun:
        return QStringLiteral("本次未检查：") + outcome.reason
               + (earlier ? QStringLiteral("，显示的是上次的结果") : QString());
    case ItemState::Cancelled:
        return outcome.reason.isEmpty() ? QStringLiteral("本次检查已停止") : outcome.reason;
    case ItemState::Repaired:
        return outcome.reason;
    case ItemState::Checked:
    case ItemState::Error:
        break;
    }
    return {};
}

SummaryModel::SummaryModel(QObject *parent) : QAbstractTableModel(parent) {}

int SummaryModel::rowCount(const QModelIndex &parent) const
{
    // An empty summary keeps one blank row, as the grid always has one.
    return parent.isValid() ? 0 : std::max<int>(1, int(m_entries.size()));
}

int SummaryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 4;
}

QVariant SummaryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const QString headers[4] = {QStringLiteral("编码"), QStringLiteral("检查项目"), QStringLiteral("结果报告"),
                                       QStringLiteral("与上次比较")};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 4)
        return headers[section];
    return {};
}

QVariant SummaryModel::data(const QModelIndex &index, int role) const
{
    const SummaryEntry *e = entry(index.row());
    if (!e || !index.isValid())
        return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
    const int col = index.column();
    const QString note = e->staleNote();
    QString text;
    switch (col) {
    case 0:
        text = e->outcome.code;
        break;
    case 1:
        text = e->outcome.name;
        break;
    case 2:
        text = e->outcome.state == ItemState::Cancelled ? note : e->shown()->finding();
        break;
    case 3:
        text = e->change;
        break;
    }
    switch (role) {
    case Qt::DisplayRole:
        return text;
    case Qt::ToolTipRole:
        if (col == 3)
            return e->changeTip.isEmpty() ? text : e->changeTip;
        return note.isEmpty() ? text : note;
    case Qt::ForegroundRole:
        if (col < 3 && !note.isEmpty())
            return QColor(Qt::gray);
        return {};
    default:
        return {};
    }
}

void SummaryModel::showRun(const std::vector<ItemOutcome> &outcomes)
{
    beginResetModel();
    m_entries.clear();
    for (const ItemOutcome &o : outcomes) {
        SummaryEntry e;
        e.outcome = o;
        if (isReal(o)) {
            m_lastReal[o.code] = o;
        } else if (o.state == ItemState::NotRun) {
            if (const auto it = m_lastReal.find(o.code); it != m_lastReal.end())
                e.earlier = it->second;
        }
        m_entries.push_back(std::move(e));
    }
    endResetModel();
}

void SummaryModel::updateOutcome(const ItemOutcome &outcome)
{
    if (isReal(outcome))
        m_lastReal[outcome.code] = outcome;
    for (size_t r = 0; r < m_entries.size(); ++r) {
        SummaryEntry &e = m_entries[r];
        if (e.outcome.code != outcome.code)
            continue;
        e.outcome = outcome;
        e.earlier.reset();
        emit dataChanged(index(int(r), 0), index(int(r), 3));
        return;
    }
}

void SummaryModel::setChange(const QString &code, const QString &text, const QString &toolTip)
{
    for (size_t r = 0; r < m_entries.size(); ++r) {
        if (m_entries[r].outcome.code != code)
            continue;
        m_entries[r].change = text;
        m_entries[r].changeTip = toolTip;
        emit dataChanged(index(int(r), 3), index(int(r), 3));
        return;
    }
}

void SummaryModel::clear()
{
    beginResetModel();
    m_entries.clear();
    endResetModel();
}

const SummaryEntry *SummaryModel::entry(int row) const
{
    return row >= 0 && size_t(row) < m_entries.size() ? &m_entries[size_t(row)] : nullptr;
}

const SummaryEntry *SummaryModel::entry(const QString &code) const
{
    for (const SummaryEntry &e : m_entries)
        if (e.outcome.code == code)
            return &e;
    return nullptr;
}

} // namespace vireo
