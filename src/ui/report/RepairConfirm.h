#pragma once
#include <QDialog>
#include <QString>

class QPlainTextEdit;

namespace vireo {

// What a repair is about to change, shown before anything runs.
struct RepairRequest {
    QString server;
    QString database;
    QString account;
    QString year;
    QString code;
    QString name;
    QString plan;         // the item's 方案 text; empty when it has none
    QString script;       // 修复.sql as it will run
    qint64 findings = -1; // rows the last check found
};

// 确认修复: names server, account, year and item, shows the plan and, on request, the script.
// Accepted only by its 修复 button.
class RepairConfirm : public QDialog {
    Q_OBJECT
public:
    explicit RepairConfirm(const RepairRequest &request, QWidget *parent = nullptr);

private:
    QPlainTextEdit *m_script;
};

} // namespace vireo
