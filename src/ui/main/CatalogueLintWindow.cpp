#include "CatalogueLintWindow.h"

#include <QHeaderView>
#include <QLabel>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vireo {

CatalogueLintWindow::CatalogueLintWindow(const LintReport &report, QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("CatalogueLint"));
    setProperty("vireoChildWindow", true);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("目录检查"));
    auto *layout = new QVBoxLayout(this);
    auto *total = new QLabel(QStringLiteral("%1 个项目：%2 个错误，%3 个警告。双击一行在目录树中选中该项目。")
                                 .arg(report.items.size())
                                 .arg(report.count(LintSeverity::Error))
                                 .arg(report.count(LintSeverity::Warning)),
                             this);
    total->setObjectName(QStringLiteral("totalLabel"));
    layout->addWidget(total);
    m_grid = new QTableWidget(int(report.findings.size()), 6, this);
    m_grid->setObjectName(QStringLiteral("findingsGrid"));
    m_grid->setHorizontalHeaderLabels({QStringLiteral("级别"), QStringLiteral("目录"), QStringLiteral("编码"),
                                       QStringLiteral("文件"), QStringLiteral("行"), QStringLiteral("说明")});
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setStretchLastSection(true);
    for (int r = 0; r < m_grid->rowCount(); ++r) {
        const LintFinding &f = report.findings[size_t(r)];
        const QStringList cells{lintSeverityText(f.severity), f.catalogue, f.code, f.file,
                                f.line ? QString::number(f.line) : QString(), f.message};
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            item->setToolTip(cells[c]);
            if (f.severity == LintSeverity::Error)
                item->setForeground(Qt::red);
            m_grid->setItem(r, c, item);
        }
    }
    m_grid->resizeColumnsToContents();
    layout->addWidget(m_grid, 1);
    connect(m_grid, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (selectItem)
            selectItem(m_grid->item(row, 1)->text(), m_grid->item(row, 2)->text());
    });
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
    resize(900, 420);
}

} // namespace vireo
