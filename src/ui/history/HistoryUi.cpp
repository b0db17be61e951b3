#include "HistoryUi.h"
#include "HistoryWindow.h"
#include "MainWindow.h"
#include "HtmlReport.h"
#include "Session.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStatusBar>

namespace vireo {

namespace {

// What the window keeps of its last run: the records, their changes and where they are stored.
class LastRun : public QObject {
public:
    explicit LastRun(QObject *parent) : QObject(parent) { setObjectName(QStringLiteral("vireoLastRun")); }
    history::RunHeader header;
    std::map<QString, history::TableCapture> captures;   // read while each item held the server lock
    std::vector<history::ItemRecord> items;
    std::vector<history::ItemChange> changes;
    qint64 id = 0;
    QString historyError;
    QDateTime started;
};

LastRun *lastRunOf(MainWindow *w)
{
    return dynamic_cast<LastRun *>(w->findChild<QObject *>(QStringLiteral("vireoLastRun"), Qt::FindDirectChildrenOnly));
}

history::TableCapture captureOf(const QString &code, db::Connection *account)
{
    try {
        return history::captureResultTable(account, code);
    } catch (const db::DbError &) {
        history::TableCapture cap;
        cap.complete = false;
        return cap;
    }
}

history::ItemRecord recordOf(const SummaryRow &row, const RunOutcome &outcome, const LastRun &last)
{
    history::ItemRecord rec;
    rec.code = row.code;
    rec.name = row.name;
    for (const ItemProblem &p : outcome.scriptFailures)
        if (p.code == row.code)
            rec.errorText = p.message;
    for (const ItemProblem &p : outcome.problems)
        if (p.code == row.code)
            rec.errorText = p.message;
    if (!rec.errorText.isEmpty()) {
        rec.status = history::ItemStatus::Error;
    } else if (!row.notChecked.isEmpty()) {
        rec.status = history::ItemStatus::NotChecked;   // an earlier run's result, or a procedure not run
        rec.errorText = row.notChecked;
    } else if (!row.isCount) {
        rec.status = history::ItemStatus::Error;
        rec.errorText = row.finding;
    } else {
        rec.status = history::ItemStatus::Checked;
        rec.count = row.count;
        if (row.count > 0) {
            const auto cap = last.captures.find(row.code);
            if (cap != last.captures.end())
                rec.capture = cap->second;
            else
                rec.capture.complete = false;
        }
    }
    return rec;
}

void recordRun(MainWindow *w, const RunOutcome &outcome)
{
    LastRun *last = lastRunOf(w);
    Session &s = session();
    last->header = {};
    last->header.started = last->started.isValid() ? last->started : QDateTime::currentDateTime();
    last->header.operatorName = s.accountInfo.operatorName;
    last->header.server = s.accountInfo.server;
    last->header.database = s.accountInfo.database;
    last->header.catalogue = w->treeName;
    last->items.clear();
    last->changes.clear();
    last->id = 0;
    last->historyError.clear();
    for (const SummaryRow &row : w->lastSummary.rows)
        last->items.push_back(recordOf(row, outcome, *last));
    last->header.ended = QDateTime::currentDateTime();

    history::HistoryStore store(history::HistoryStore::defaultPath());
    const bool open = store.open();
    for (size_t i = 0; i < last->items.size(); ++i) {
        last->changes.push_back(open ? history::compareWithPrevious(store, last->header.database, last->items[i])
                                     : history::ItemChange{});
        const history::ItemChange &c = last->changes.back();
        w->setGridChange(int(i), c.text(), c.kind == history::ItemChange::First ? QStringLiteral("历史记录中没有这一项的检查")
                                                                                  : c.toolTip());
    }
    if (open && !last->items.empty())
        last->id = store.addRun(history::RunRecord{last->header, last->items});
    if (!last->items.empty() && !last->id) {
        last->historyError = QStringLiteral("历史记录未写入：") + store.error();
        w->statusBar()->showMessage(last->historyError, 20000);
    }
}

void openChange(MainWindow *w, const QString &code)
{
    LastRun *last = lastRunOf(w);
    for (size_t i = 0; i < last->items.size(); ++i) {
        const history::ItemChange &c = last->changes[i];
        if (last->items[i].code != code || c.kind != history::ItemChange::Compared)
            continue;
        history::HistoryStore store(history::HistoryStore::defaultPath());
        const history::ItemRecord &rec = last->items[i];
        history::RowDiff d = history::diffRows(store.fingerprints(c.earlier->id, code), store.rows(c.earlier->id, code),
                                               rec.capture.fingerprints, rec.capture.rows);
        d.columns = rec.capture.columns.isEmpty() ? store.columns(c.earlier->id, code) : rec.capture.columns;
        auto *dlg = new RowDiffWindow(QStringLiteral("%1 %2：%3").arg(code, rec.name, c.text()), d, w);
        dlg->show();
        return;
    }
}

} // namespace

QString defaultReportName()
{
    const Session::AccountInfo &a = session().accountInfo;
    return QStringLiteral("体检报告_%1_%2_%3.html")
        .arg(a.account, a.year, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm")));
}

QString exportHtmlReport(MainWindow *w, const QString &path)
{
    LastRun *last = lastRunOf(w);
    if (!last || last->items.empty())
        return QStringLiteral("还没有检查结果：请先执行检查。");
    const Session &s = session();
    history::ReportSection sec;
    sec.header = last->header;
    sec.account = s.accountInfo.account;
    sec.year = s.accountInfo.year;
    sec.historyNote = last->historyError;
    history::HistoryStore store(history::HistoryStore::defaultPath());
    for (size_t i = 0; i < last->items.size(); ++i) {
        history::ReportItem item;
        item.record = last->items[i];
        item.change = last->changes[i];
        history::readItemTexts(s.programFolder, item);
        if (item.record.status == history::ItemStatus::Checked) {
            item.trend = store.trend(sec.header.database, item.record.code);
            item.repairs = store.repairs(sec.header.database, item.record.code);
            if (!last->id)
                item.trend.push_back({0, sec.header.started, item.record.count});
        }
        sec.items.push_back(std::move(item));
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(history::renderHtmlReport({sec}).toUtf8()) < 0 || !f.commit())
        return QStringLiteral("无法写入 %1：%2").arg(path, f.errorString());
    return {};
}

void attachHistory(MainWindow *w)
{
    new LastRun(w);
    QPointer<MainWindow> window(w);
    w->runStarting = [window] {
        if (window) {
            lastRunOf(window)->started = QDateTime::currentDateTime();
            lastRunOf(window)->captures.clear();
        }
    };
    // The rows are fingerprinted while the item holds the server lock: afterwards another tool
    // on the server may have replaced tempdb..{code}.
    w->itemChecked = [window](SummaryRow &row) {
        if (window && row.isCount && row.count > 0 && row.notChecked.isEmpty())
            lastRunOf(window)->captures[row.code] = captureOf(row.code, session().accountConn.get());
    };
    w->runFinished = [window](const RunOutcome &outcome) {
        if (window)
            recordRun(window, outcome);
    };
    w->openChange = [window](const QString &code) {
        if (window)
            openChange(window, code);
    };
    w->showHistory = [window] {
        if (!window)
            return;
        auto *h = new HistoryWindow(history::HistoryStore::defaultPath(), session().accountInfo.database, window);
        h->show();
    };
    w->exportReport = [window] {
        if (!window)
            return;
        const LastRun *last = lastRunOf(window);
        if (!last || last->items.empty()) {
            QMessageBox::information(window, QStringLiteral("导出体检报告"), QStringLiteral("还没有检查结果：请先执行检查。"));
            return;
        }
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        const QString path = QFileDialog::getSaveFileName(window, QStringLiteral("导出体检报告"),
                                                          folder + QLatin1Char('/') + defaultReportName(),
                                                          QStringLiteral("网页 (*.html)"));
        if (path.isEmpty())
            return;
        const QString error = exportHtmlReport(window, path);
        if (!error.isEmpty())
            QMessageBox::warning(window, QStringLiteral("导出体检报告"), error);
    };
}

} // namespace vireo
