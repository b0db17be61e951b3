#pragma once
#include "CatalogueLint.h"
#include <QWidget>
#include <functional>

class QTableWidget;

namespace vireo {

// 目录检查: the lint findings of the catalogue, one row each; a double click on a row asks for its
// item to be selected in the catalogue tree; Esc closes.
class CatalogueLintWindow : public QWidget {
    Q_OBJECT
public:
    CatalogueLintWindow(const LintReport &report, QWidget *parent = nullptr);
    QTableWidget *grid() const { return m_grid; }
    std::function<void(const QString &catalogue, const QString &code)> selectItem;

private:
    QTableWidget *m_grid;
};

} // namespace vireo
