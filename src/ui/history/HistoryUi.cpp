#include "HistoryUi.h"
#include "HistoryWindow.h"
#include "MainWindow.h"
#include "FileHelpers.h"
#include "HtmlReport.h"
#include "MessageBoxes.h"
#include "RunRecords.h"
#include "Session.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <mutex>
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
    std::mutex capturesLock;                               // captures are written on the worker
    std::map<QString, history::TableCapture> captures;   // read while each item held the server lock
    std::vector<history::ItemRecord> items;
    std::vector<history::ItemChange> changes;
    qint64 id = 0;
    QString historyError;
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

history::ItemRecord recordOf(const ItemOutcome &item, LastRun &last)
{
    history::TableCapture capture;
    {
        const std::lock_guard hold(last.capturesLock);
        if (const auto cap = last.captures.find(item.code); cap != last.captures.end())
            capture = cap->second;
        else
            capture.complete = item.count == 0;
    }
    return history::itemRecordOf(item, capture);
}

void showChange(MainWindow *w, const QString &code, const history::ItemChange &c)
{
    w->setGridChange(code, c.text(),
                     c.kind == history::ItemChange::First ? QStringLiteral("历史记录中没有这一项的检查") : c.toolTip());
}

void recordRun(MainWindow *w, const CheckRunRecord &run)
{
    LastRun *last = lastRunOf(w);
    last->header = history::runHeaderOf(run.identity);
    last->items.clear();
    last->changes.clear();
    last->id = 0;
    last->historyError.clear();
    for (const ItemOutcome &item : run.items)
        last->items.push_back(recordOf(item, *last));

    history::HistoryStore store(history::HistoryStore::defaultPath());
    const bool open = store.open();
    for (const history::ItemRecord &rec : last->items) {
        last->changes.push_back(open ? history::compareWithPrevious(store, last->header.serverName, last->header.database, rec) : history::ItemChange{});
        showChange(w, rec.code, last->changes.back());
    }
    if (open && !last->items.empty())
        last->id = store.addRun(history::RunRecord{last->header, last->items});
    if (!last->items.empty() && !last->id) {
        last->historyError = QStringLiteral("历史记录未写入：") + store.error();
        w->showStatus(last->historyError, 20000);
    }
}

// An item checked again outside the run (re-check, procedure run) compares with the newest run
// that checked it, the run just made included; a repaired item has nothing to compare yet.
void refreshChange(MainWindow *w, const ItemOutcome &outcome)
{
    LastRun *last = lastRunOf(w);
    for (size_t i = 0; i < last->items.size(); ++i) {
        if (last->items[i].code != outcome.code)
            continue;
        if (outcome.state == ItemState::Repaired) {
            last->changes[i] = {};
            w->setGridChange(outcome.code, QString(), QString());
            return;
        }
        last->items[i] = recordOf(outcome, *last);
        history::HistoryStore store(history::HistoryStore::defaultPath());
        last->changes[i] = store.open() ? history::compareWithPrevious(store, last->header.serverName, last->header.database, last->items[i])
                                        : history::ItemChange{};
        showChange(w, outcome.code, last->changes[i]);
        return;
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

QString reportsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (session().programFolder.isEmpty())
        return documents;
    const QString folder = QDir::cleanPath(session().programFolder + QStringLiteral("/报表"));
    const QString existing = resolvePath(folder);
    if (existing.isEmpty())
        return QDir().mkpath(folder) ? folder : documents;
    const QFileInfo info(existing);
    return info.isDir() && info.isWritable() ? existing : documents;
}

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
            item.trend = store.trend(sec.header.serverName, sec.header.database, item.record.code);
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
    LastRun *last = lastRunOf(w);
    w->runStarting = [last] {
        const std::lock_guard hold(last->capturesLock);
        last->captures.clear();
    };
    // The rows are fingerprinted on the worker while the item holds the server lock: afterwards
    // another tool on the server may have replaced tempdb..{code}. The record keeper lives as long
    // as the window, and the window outlives the jobs it started (it closes only when idle).
    const auto capture = [last](ItemOutcome &item, db::Connection *account) {
        if (item.state != ItemState::Checked || item.count <= 0)
            return;
        history::TableCapture cap = captureOf(item.code, account);
        const std::lock_guard hold(last->capturesLock);
        last->captures[item.code] = std::move(cap);
    };
    w->itemChecked = capture;
    session().itemChecked = capture;
    w->runFinished = [window](const CheckRunRecord &run) {
        if (window)
            recordRun(window, run);
    };
    w->outcomeChanged = [window](const ItemOutcome &outcome) {
        if (window)
            refreshChange(window, outcome);
    };
    w->openChange = [window](const QString &code) {
        if (window)
            openChange(window, code);
    };
    w->showHistory = [window] {
        if (!window)
            return;
        auto *h = new HistoryWindow(history::HistoryStore::defaultPath(), session().accountInfo.serverName,
                                   session().accountInfo.database, window);
        h->show();
    };
    w->exportReport = [window] {
        if (!window)
            return;
        const LastRun *last = lastRunOf(window);
        const QString title = QStringLiteral("导出体检报告");
        if (!last || last->items.empty()) {
            showMessageBox(window, QMessageBox::Information, title, QStringLiteral("还没有检查结果：请先执行检查。"));
            return;
        }
        // Window-modal: a job of another window that ends meanwhile is not held up by the dialog.
        auto *dialog = new QFileDialog(window, title, reportsFolder() + QLatin1Char('/') + defaultReportName(),
                                       QStringLiteral("网页 (*.html)"));
        dialog->setObjectName(QStringLiteral("reportExportDialog"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        QObject::connect(dialog, &QFileDialog::fileSelected, window, [window, title](const QString &path) {
            const QString error = exportHtmlReport(window, path);
            if (!error.isEmpty())
                showMessageBox(window, QMessageBox::Warning, title, error);
        });
        dialog->open();
    };
}

} // namespace vireo
