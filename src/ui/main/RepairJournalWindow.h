#pragma once
#include <QWidget>

class QTableView;

namespace vireo {

// 修复记录: the repair journal (the history file's repairs table), newest first, in a sortable grid.
class RepairJournalWindow : public QWidget {
    Q_OBJECT
public:
    explicit RepairJournalWindow(QWidget *parent = nullptr);
    // Reads the journal again; a journal that cannot be read shows why in the window.
    void reload();
    QTableView *grid() const { return m_grid; }

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    QTableView *m_grid;
};

// Opens the journal window, or raises and refreshes the one that is open.
void showRepairJournal();

} // namespace vireo
