#include "RepairConfirm.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vireo {

RepairConfirm::RepairConfirm(const RepairRequest &r, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("RepairConfirm"));
    setWindowTitle(QStringLiteral("确认修复"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);

    const QString account = r.account.isEmpty() ? r.database : r.account;
    auto *what = new QLabel(this);
    what->setObjectName(QStringLiteral("whatLabel"));
    what->setTextFormat(Qt::PlainText);
    QString text = QStringLiteral("即将修改账套数据库中的数据：\n\n服务器：%1\n账套：%2\n会计年度：%3\n检查项目：[%4] %5")
                       .arg(r.server, account, r.year, r.code, r.name);
    if (r.findings >= 0)
        text += QStringLiteral("\n检查发现：%1 条记录").arg(r.findings);
    text += QStringLiteral("\n\n修复前请确认已备份该账套。是否执行修复？");
    what->setText(text);
    what->setWordWrap(true);
    layout->addWidget(what);

    if (!r.plan.isEmpty()) {
        layout->addWidget(new QLabel(QStringLiteral("方案："), this));
        auto *plan = new QPlainTextEdit(r.plan, this);
        plan->setObjectName(QStringLiteral("planBox"));
        plan->setReadOnly(true);
        plan->setMaximumHeight(120);
        layout->addWidget(plan);
    }

    m_script = new QPlainTextEdit(r.script, this);
    m_script->setObjectName(QStringLiteral("scriptBox"));
    m_script->setReadOnly(true);
    m_script->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_script->hide();
    layout->addWidget(m_script, 1);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *show = buttons->addButton(QStringLiteral("查看脚本"), QDialogButtonBox::ActionRole);
    show->setObjectName(QStringLiteral("showScriptButton"));
    show->setCheckable(true);
    QPushButton *ok = buttons->addButton(QStringLiteral("修复"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("repairButton"));
    QPushButton *cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    // Enter, Return and Space never change the database: no button follows the focus as default,
    // 取消 is the default and opens with the focus. Only a click on 修复 repairs.
    for (QPushButton *b : {show, ok, cancel})
        b->setAutoDefault(false);
    cancel->setDefault(true);
    layout->addWidget(buttons);
    cancel->setFocus();
    connect(show, &QPushButton::toggled, this, [this](bool on) {
        m_script->setVisible(on);
        if (on)
            resize(std::max(width(), 640), std::max(height(), 480));
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

} // namespace vireo
