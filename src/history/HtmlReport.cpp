#include "HtmlReport.h"
#include "FileHelpers.h"

#include <algorithm>

namespace vireo::history {

namespace {

QString esc(const QString &s)
{
    QString out;
    out.reserve(s.size() + 16);
    for (const QChar c : s) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&#39;"); break;
        case '\r': break;
        default:
            // Control characters other than tab and line feed are not allowed in an HTML page.
            if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
                out += QChar(0xFFFD);
            else
                out += c;
        }
    }
    return out;
}

const char *const kStyle = R"(
body{font-family:"WenQuanYi Micro Hei","Microsoft YaHei",sans-serif;font-size:14px;color:#222;margin:24px;}
h1{font-size:22px;margin:0 0 12px;}
h2{font-size:18px;margin:20px 0 8px;border-bottom:2px solid #4a78b0;padding-bottom:4px;}
h3{font-size:15px;margin:14px 0 6px;color:#34557d;}
table{border-collapse:collapse;margin:6px 0;}
th,td{border:1px solid #b9c4d0;padding:3px 8px;text-align:left;vertical-align:top;}
th{background:#e8eef5;}
table.head th{width:7em;}
td.num{text-align:right;}
.new{color:#b3261e;font-weight:bold;}
.same{color:#2e7d32;}
.note{color:#8a5a00;}
.text{white-space:pre-wrap;margin:4px 0;}
.rows td{font-size:12px;}
.null{color:#999;}
section.item{break-before:page;page-break-before:always;}
@media print{body{margin:0;} thead{display:table-header-group;} tr{break-inside:avoid;}}
)";

QString statusText(const ItemRecord &r)
{
    switch (r.status) {
    case ItemStatus::Checked: return QStringLiteral("记录数：") + QString::number(r.count);
    case ItemStatus::Error: return r.errorText;
    case ItemStatus::NotChecked: return r.errorText.isEmpty() ? QStringLiteral("未检查") : QStringLiteral("未检查：") + r.errorText;
    case ItemStatus::Cancelled: return QStringLiteral("已取消");
    }
    return {};
}

QString changeCell(const ItemChange &c)
{
    const QString t = c.text();
    if (t.isEmpty())
        return {};
    const char *cls = c.kind == ItemChange::Compared && c.added > 0 ? "new" : "same";
    return QStringLiteral("<span class=\"%1\" title=\"%2\">%3</span>").arg(QLatin1String(cls), esc(c.toolTip()), esc(t));
}

bool hasFindings(const ItemRecord &r) { return r.status == ItemStatus::Checked && r.count > 0; }

} // namespace

void readItemTexts(const QString &programFolder, ReportItem &item)
{
    const QString folder = programFolder + QStringLiteral("/File/") + item.record.code + QLatin1Char('/');
    if (const auto lines = readTextLines(folder + QStringLiteral("描述.txt")))
        item.description = lines->join(QLatin1Char('\n')).trimmed();
    if (const auto lines = readTextLines(folder + QStringLiteral("方案.txt")))
        item.plan = lines->join(QLatin1Char('\n')).trimmed();
}

QString trendSvg(const std::vector<TrendPoint> &points, const std::vector<RepairRecord> &repairs)
{
    const int w = 260, h = 70, left = 34, right = 10, top = 8, bottom = 16;
    QString s = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" "
                               "role=\"img\" aria-label=\"记录数趋势\">")
                    .arg(w)
                    .arg(h);
    s += QStringLiteral("<rect x=\"0\" y=\"0\" width=\"%1\" height=\"%2\" fill=\"#fbfcfe\" stroke=\"#d5dde6\"></rect>").arg(w).arg(h);
    if (points.empty())
        return s + QStringLiteral("</svg>");
    qint64 maxCount = 1;
    for (const TrendPoint &p : points)
        maxCount = std::max(maxCount, p.count);
    const int n = int(points.size());
    auto xOf = [&](double i) { return n == 1 ? double(left + (w - left - right) / 2) : left + i * (w - left - right) / (n - 1); };
    auto yOf = [&](qint64 c) { return top + (h - top - bottom) * (1.0 - double(c) / double(maxCount)); };
    s += QStringLiteral("<text x=\"2\" y=\"%1\" font-size=\"10\" fill=\"#555\">%2</text>").arg(top + 8).arg(maxCount);
    s += QStringLiteral("<text x=\"2\" y=\"%1\" font-size=\"10\" fill=\"#555\">0</text>").arg(h - bottom);
    // Repairs between two runs sit at their place in time between the two points.
    for (const RepairRecord &r : repairs) {
        double at = -1;
        for (int i = 0; i < n; ++i) {
            if (r.time < points[size_t(i)].started) {
                if (i == 0)
                    break;
                const qint64 span = points[size_t(i - 1)].started.msecsTo(points[size_t(i)].started);
                const qint64 into = points[size_t(i - 1)].started.msecsTo(r.time);
                at = i - 1 + (span > 0 ? double(into) / double(span) : 0.5);
                break;
            }
        }
        if (at < 0 && n > 0 && r.time >= points.back().started)
            at = n - 1;
        if (at < 0)
            continue;
        const double x = xOf(at);
        s += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\" stroke=\"#e08a00\" stroke-dasharray=\"3,2\">"
                            "<title>修复 %4</title></line>")
                 .arg(x, 0, 'f', 1)
                 .arg(top)
                 .arg(h - bottom)
                 .arg(esc(shortTime(r.time)));
    }
    QString poly;
    for (int i = 0; i < n; ++i)
        poly += QStringLiteral("%1,%2 ").arg(xOf(i), 0, 'f', 1).arg(yOf(points[size_t(i)].count), 0, 'f', 1);
    s += QStringLiteral("<polyline fill=\"none\" stroke=\"#4a78b0\" stroke-width=\"2\" points=\"%1\"></polyline>").arg(poly.trimmed());
    for (int i = 0; i < n; ++i) {
        const TrendPoint &p = points[size_t(i)];
        s += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"3\" fill=\"#4a78b0\"><title>%3：%4</title></circle>")
                 .arg(xOf(i), 0, 'f', 1)
                 .arg(yOf(p.count), 0, 'f', 1)
                 .arg(esc(shortTime(p.started)))
                 .arg(p.count);
    }
    s += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"10\" fill=\"#555\">%3</text>")
             .arg(left)
             .arg(h - 3)
             .arg(esc(shortTime(points.front().started)));
    return s + QStringLiteral("</svg>");
}

QString renderHtmlReport(const std::vector<ReportSection> &sections, const ReportOptions &options)
{
    QString title = QStringLiteral("数据体检报告");
    if (sections.size() == 1)
        title += QStringLiteral(" - ") + sections.front().header.database;
    QString h;
    h += QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>%1</title>\n<style>%2</style>\n"
                        "</head>\n<body>\n<h1>%1</h1>\n")
             .arg(esc(title), QLatin1String(kStyle));
    for (const ReportSection &sec : sections) {
        const RunHeader &r = sec.header;
        h += QStringLiteral("<section class=\"account\">\n<table class=\"head\"><tbody>\n");
        const std::pair<QString, QString> head[] = {
            {QStringLiteral("服务器"), r.server},
            {QStringLiteral("账套"), sec.account},
            {QStringLiteral("年度"), sec.year},
            {QStringLiteral("数据库"), r.database},
            {QStringLiteral("操作员"), r.operatorName},
            {QStringLiteral("检查时间"), r.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                             + (r.ended.isValid() ? QStringLiteral(" 至 ") + r.ended.toString(QStringLiteral("HH:mm:ss")) : QString())},
            {QStringLiteral("工具版本"), r.toolVersion.isEmpty() ? toolVersion() : r.toolVersion},
        };
        for (const auto &[k, v] : head)
            h += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(esc(k), esc(v));
        h += QStringLiteral("</tbody></table>\n");
        if (!sec.error.isEmpty())
            h += QStringLiteral("<p class=\"note\">无法检查：%1</p>\n").arg(esc(sec.error));
        if (!sec.historyNote.isEmpty())
            h += QStringLiteral("<p class=\"note\">%1</p>\n").arg(esc(sec.historyNote));

        int withFindings = 0;
        qint64 total = 0, added = 0, resolved = 0;
        for (const ReportItem &it : sec.items) {
            if (hasFindings(it.record)) {
                ++withFindings;
                total += it.record.count;
            }
            added += it.change.added;
            resolved += it.change.resolved;
        }
        h += QStringLiteral("<h2>汇总</h2>\n<p>检查项目 %1 个，有结果的 %2 个，共 %3 行；与上次比较新增 %4 · 消除 %5。</p>\n")
                 .arg(sec.items.size())
                 .arg(withFindings)
                 .arg(total)
                 .arg(added)
                 .arg(resolved);
        h += QStringLiteral("<table class=\"summary\"><thead><tr><th>编码</th><th>检查项目</th><th>结果报告</th><th>与上次比较</th></tr></thead><tbody>\n");
        for (const ReportItem &it : sec.items)
            h += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                     .arg(esc(it.record.code), esc(it.record.name), esc(statusText(it.record)), changeCell(it.change));
        h += QStringLiteral("</tbody></table>\n</section>\n");

        for (const ReportItem &it : sec.items) {
            if (!hasFindings(it.record))
                continue;
            const ItemRecord &rec = it.record;
            h += QStringLiteral("<section class=\"item\">\n<h2>%1 %2</h2>\n").arg(esc(rec.code), esc(rec.name));
            h += QStringLiteral("<p>%1").arg(esc(statusText(rec)));
            const QString change = changeCell(it.change);
            if (!change.isEmpty())
                h += QStringLiteral(" · ") + change;
            h += QStringLiteral("</p>\n");
            if (!it.trend.empty())
                h += QStringLiteral("<div class=\"trend\">") + trendSvg(it.trend, it.repairs) + QStringLiteral("</div>\n");
            if (!it.description.isEmpty())
                h += QStringLiteral("<h3>描述</h3>\n<p class=\"text\">%1</p>\n").arg(esc(it.description));
            if (!it.plan.isEmpty())
                h += QStringLiteral("<h3>处理方案</h3>\n<p class=\"text\">%1</p>\n").arg(esc(it.plan));
            h += QStringLiteral("<h3>检查结果</h3>\n");
            const qint64 shown = std::min<qint64>(options.rowLimit, qint64(rec.capture.rows.size()));
            h += QStringLiteral("<p>共 %1 行").arg(rec.count);
            if (shown < rec.count)
                h += QStringLiteral("，下表列出前 %1 行").arg(shown);
            h += QStringLiteral("。</p>\n");
            if (shown > 0) {
                h += QStringLiteral("<table class=\"rows\"><thead><tr><th>#</th>");
                for (const QString &c : rec.capture.columns)
                    h += QStringLiteral("<th>%1</th>").arg(esc(c));
                h += QStringLiteral("</tr></thead><tbody>\n");
                for (qint64 i = 0; i < shown; ++i) {
                    h += QStringLiteral("<tr><td class=\"num\">%1</td>").arg(i + 1);
                    for (const QString &v : rec.capture.rows[size_t(i)].values)
                        h += v.isNull() ? QStringLiteral("<td class=\"null\">NULL</td>") : QStringLiteral("<td>%1</td>").arg(esc(v));
                    h += QStringLiteral("</tr>\n");
                }
                h += QStringLiteral("</tbody></table>\n");
            }
            h += QStringLiteral("</section>\n");
        }
    }
    h += QStringLiteral("</body>\n</html>\n");
    return h;
}

} // namespace vireo::history
