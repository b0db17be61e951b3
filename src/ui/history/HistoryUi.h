#pragma once
#include <QString>

namespace vireo {

class MainWindow;

// Wires the run history into a main window: after each run the run is recorded (the window goes
// on when the history cannot be written, and says so in the status bar) and column 3 of the
// summary shows the change against the last run; a double click there opens the new and resolved
// rows; 功能 → 历史记录 opens the history window; 文件 → 导出体检报告 writes the HTML report.
void attachHistory(MainWindow *window);

// Writes the HTML report of the window's last run to path; an error text, empty on success.
QString exportHtmlReport(MainWindow *window, const QString &path);

// Where 导出体检报告 starts: the 报表 folder of the program folder (made when missing), where the
// report window's exports go too; the user's documents folder when it cannot be written.
QString reportsFolder();

// The default report file name: 体检报告_{账套}_{年度}_{yyyyMMdd-HHmm}.html
QString defaultReportName();

} // namespace vireo
