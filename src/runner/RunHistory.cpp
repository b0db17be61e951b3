#include "RunHistory.h"
#include "RunRecords.h"
#include "HtmlReport.h"

#include <QFile>

namespace vireo::runner {

namespace {
QString historyPath(const Options &o)
{
    return o.historyFile.isEmpty() ? history::HistoryStore::defaultPath() : o.historyFile;
}
} // namespace

history::ItemRecord historyRecord(const ItemResult &item)
{
    return history::itemRecordOf(item.outcome, item.capture);
}

history::TableCapture captureFindings(const Options &o, db::Connection *conn, const ItemOutcome &item)
{
    if (!(o.history || !o.compare.isEmpty() || o.captureRows) || item.state != ItemState::Checked || !conn
        || item.count == 0)
        return {};   // nothing to read: an empty capture is complete
    try {
        return history::captureResultTable(conn, item.code);
    } catch (const db::DbError &) {
        if (conn->cancelRequested() || !conn->isOpen())
            throw;
        history::TableCapture partial;
        partial.complete = false;
        return partial;
    }
}

void recordHistory(const Options &o, AccountResult &r)
{
    const bool compare = !o.compare.isEmpty() || o.captureRows;
    if (!o.history && !compare)
        return;
    const QString path = historyPath(o);
    if (!o.history && !QFile::exists(path)) {
        r.historyError = QStringLiteral("没有历史记录可比较：%1").arg(path);
        return;
    }
    history::HistoryStore store(path);
    if (!store.open()) {
        r.historyError = QStringLiteral("历史记录未写入：") + store.error();
        return;
    }
    std::vector<history::ItemRecord> records;
    for (ItemResult &it : r.items)
        records.push_back(historyRecord(it));
    r.compared = !o.compare.isEmpty();
    if (compare) {
        const qint64 against = o.compare == QLatin1String("last") ? 0 : o.compare.toLongLong();
        for (size_t i = 0; i < r.items.size(); ++i)
            r.items[i].change = against > 0 ? history::compareWithRun(store, against, records[i])
                                            : history::compareWithPrevious(store, r.identity.server, r.database, records[i]);
    }
    if (!o.history)
        return;
    history::RunRecord run;
    run.header.started = r.started;
    run.header.ended = r.ended;
    run.header.operatorName = o.operatorName;
    run.header.server = r.server;
    run.header.serverName = r.identity.server;
    run.header.database = r.database;
    run.header.catalogue = o.catalogue;
    run.items = std::move(records);
    r.historyRun = store.addRun(run, o.historyKeep);
    if (!r.historyRun)
        r.historyError = QStringLiteral("历史记录未写入：") + store.error();
}

QString formatHtml(const std::vector<AccountResult> &results, const Options &o)
{
    std::vector<history::ReportSection> sections;
    const QString path = historyPath(o);
    std::unique_ptr<history::HistoryStore> store;
    if (QFile::exists(path)) {
        store = std::make_unique<history::HistoryStore>(path);
        if (!store->open())
            store.reset();
    }
    for (const AccountResult &r : results) {
        history::ReportSection sec;
        sec.header.started = r.started;
        sec.header.ended = r.ended;
        sec.header.operatorName = o.operatorName;
        sec.header.server = r.server;
        sec.header.serverName = r.identity.server;
        sec.header.database = r.database;
        sec.header.catalogue = o.catalogue;
        sec.account = r.account;
        sec.year = r.year;
        sec.error = r.error;
        sec.historyNote = r.historyError;
        for (const ItemResult &it : r.items) {
            history::ReportItem item;
            item.record = historyRecord(it);
            item.change = it.change;
            history::readItemTexts(o.programFolder, item);
            if (store && item.record.status == history::ItemStatus::Checked) {
                item.trend = store->trend(r.identity.server, r.database, it.outcome.code);
                item.repairs = store->repairs(r.database, it.outcome.code);
            }
            if (item.record.status == history::ItemStatus::Checked && !r.historyRun)
                item.trend.push_back(history::TrendPoint{0, r.started, it.outcome.count});   // this run, not recorded
            sec.items.push_back(std::move(item));
        }
        sections.push_back(std::move(sec));
    }
    history::ReportOptions options;
    options.rowLimit = o.reportRows;
    return history::renderHtmlReport(sections, options);
}

QString formatHistoryList(const QString &historyFile, const QString &database, const QString &serverName, QString *error)
{
    const QString path = historyFile.isEmpty() ? history::HistoryStore::defaultPath() : historyFile;
    if (!QFile::exists(path)) {
        *error = QStringLiteral("没有历史记录文件：%1").arg(path);
        return {};
    }
    history::HistoryStore store(path);
    if (!store.open()) {
        *error = store.error();
        return {};
    }
    QString out = QStringLiteral("编号\t开始时间\t结束时间\t操作员\t服务器\t目录\t版本\t项目\t有结果\t错误\t服务器名称\n");
    for (const history::RunHeader &h : store.runs(serverName, database)) {
        int total = 0, withFindings = 0, errors = 0;
        for (const history::StoredItem &i : store.items(h.id)) {
            ++total;
            withFindings += i.status == history::ItemStatus::Checked && i.count > 0;
            errors += i.status == history::ItemStatus::Error;
        }
        out += QStringList{QString::number(h.id), h.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                           h.ended.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), h.operatorName, h.server, h.catalogue,
                           h.toolVersion, QString::number(total), QString::number(withFindings), QString::number(errors),
                           h.serverName}
                   .join(QLatin1Char('\t'))
            + QLatin1Char('\n');
    }
    return out;
}

} // namespace vireo::runner
