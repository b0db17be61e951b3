#include "CommandLine.h"

namespace vireo::runner {

namespace {
QCommandLineOption option(const char *name, const QString &help, const char *value = nullptr, const QString &defaultValue = {})
{
    QCommandLineOption o(QString::fromLatin1(name), help, value ? QString::fromLatin1(value) : QString(), defaultValue);
    return o;
}

// "--a X [--b Y]" for a subcommand's usage line: the required options without brackets.
QString usageOf(const QList<QCommandLineOption> &options, const QStringList &required = {})
{
    QStringList parts;
    for (const QCommandLineOption &o : options) {
        const QString name = o.names().first();
        const QString word = QStringLiteral("--") + name + (o.valueName().isEmpty() ? QString() : QLatin1Char(' ') + o.valueName());
        parts << (required.contains(name) ? word : QLatin1Char('[') + word + QLatin1Char(']'));
    }
    return parts.join(QLatin1Char(' '));
}
} // namespace

CheckOptions::CheckOptions()
    : server(option("server", QStringLiteral("服务器：HOST、HOST,PORT 或 HOST\\INSTANCE；可给多次，每次后面跟它的 --account"), "server")),
      account(option("account", QStringLiteral("账套号，逗号分隔；all 表示该服务器上该年度的全部账套数据库（sys.databases 中的 "
                                               "QZdata_账套号_年度，按账套号排序）"), "list")),
      year(option("year", QStringLiteral("会计年度，逗号分隔"), "list")),
      operatorName(option("operator", QStringLiteral("操作员"), "name")),
      catalogue(option("catalogue", QStringLiteral("Tools 或 NjaTree"), "Tools|NjaTree", QStringLiteral("Tools"))),
      items(option("items", QStringLiteral("要运行的项目编码，逗号分隔"), "codes")),
      all(option("all", QStringLiteral("运行目录中的全部项目"))),
      param(option("param", QStringLiteral("存储过程项目的参数值：CODE:值,值（每个项目一次）；含逗号的值放在双引号里，"
                                           "引号内的 \"\" 表示一个引号，例如 GJ01:20240101,\"A,B\""), "code:values")),
      format(option("format", QStringLiteral("输出格式：table、csv、json 或 html"), "table|csv|json|html", QStringLiteral("table"))),
      rows(option("rows", QStringLiteral("json 输出中每个项目带上结果表的前 N 行（列名、SQL 类型和值）"), "n")),
      exportDir(option("export", QStringLiteral("把有结果的项目导出到 DIR/{数据库}/{编码}.{格式}"), "dir")),
      exportFormat(option("export-format", QStringLiteral("--export 的文件格式：xlsx、csv 或 json"), "xlsx|csv|json", QStringLiteral("xlsx"))),
      jobs(option("jobs", QStringLiteral("并行检查的账套数"), "n", QStringLiteral("1"))),
      folder(option("program-folder", QStringLiteral("含 VUZ.mdb 和 File 的程序文件夹（默认依次找环境变量 VIREO_PROGRAM_FOLDER、"
                                                     "窗口程序上次选择的文件夹、程序所在文件夹、~/.local/share/vireo、"
                                                     "/usr/local/share/vireo、/usr/share/vireo，取第一个含 VUZ.mdb 的）"), "dir")),
      noHistory(option("no-history", QStringLiteral("不把这次检查记入历史记录"))),
      historyFile(option("history", QStringLiteral("历史记录文件（默认在用户数据文件夹）"), "file")),
      historyKeep(option("history-keep", QStringLiteral("每个数据库保留的历史记录次数"), "n", QStringLiteral("100"))),
      compare(option("compare", QStringLiteral("与历史记录比较：last 或记录编号"), "last|id")),
      output(option("output", QStringLiteral("把结果写入文件而不是标准输出"), "file")),
      reportRows(option("report-rows", QStringLiteral("HTML 报告中每个项目列出的行数（最多 1000）"), "n", QStringLiteral("200"))),
      bom(option("csv-bom", QStringLiteral("CSV 以 UTF-8 字节顺序标记开头（默认），Windows 上的 Excel 据此识别中文"))),
      noBom(option("no-csv-bom", QStringLiteral("CSV（输出和导出文件）不加字节顺序标记"))),
      timeout(option("timeout", QStringLiteral("每个项目最多运行的秒数，超过即停止并记为错误（默认不限）"), "seconds"))
{
}

QList<QCommandLineOption> CheckOptions::list() const
{
    return {server, account, year, operatorName, catalogue, items, all, param, format, rows, exportDir, exportFormat,
            jobs, folder, noHistory, historyFile, historyKeep, compare, output, reportRows, bom, noBom, timeout};
}

HistoryOptions::HistoryOptions()
    : database(option("database", QStringLiteral("数据库名，如 QZdata_001_2024"), "name")),
      historyFile(option("history", QStringLiteral("历史记录文件"), "file")),
      serverName(option("server-name", QStringLiteral("只列出该服务器（@@SERVERNAME）上的记录"), "name"))
{
}

QList<QCommandLineOption> HistoryOptions::list() const { return {database, historyFile, serverName}; }

LintOptions::LintOptions()
    : folder(option("program-folder", QStringLiteral("含 VUZ.mdb 和 File 的程序文件夹"), "dir")),
      catalogue(option("catalogue", QStringLiteral("Tools、NjaTree 或 all"), "Tools|NjaTree|all", QStringLiteral("all"))),
      format(option("format", QStringLiteral("table 或 json"), "table|json", QStringLiteral("table")))
{
}

QList<QCommandLineOption> LintOptions::list() const { return {folder, catalogue, format}; }

QStringList checkFormats()
{
    return {QStringLiteral("table"), QStringLiteral("csv"), QStringLiteral("json"), QStringLiteral("html")};
}

QStringList subcommandUsages()
{
    return {QStringLiteral("vireo-check history ") + usageOf(HistoryOptions().list(), {QStringLiteral("database")}),
            QStringLiteral("vireo-check lint ") + usageOf(LintOptions().list())};
}

QString checkDescription()
{
    const QStringList usages = subcommandUsages();
    return QStringLiteral("在一个或多个账套数据库上运行数据体检（无窗口）。SA 密码取自环境变量 VIREO_SA_PASSWORD，"
                          "或在终端上提示输入。结果写到标准输出，进度和错误写到标准错误。\n"
                          "输出格式（--format）：%1。\n"
                          "退出状态：0 所有项目已检查、没有发现；1 有发现；2 出错；3 没有出错，但有项目未检查；"
                          "130 被 Ctrl-C（SIGINT）中断，143 被 SIGTERM 中断：正在运行的项目记为 cancelled，其余为 not_run，"
                          "已完成的结果照常输出并记入历史。\n"
                          "子命令：\n"
                          "  %2\n"
                          "      列出一个账套数据库的历史检查记录；退出状态 0，出错为 2。\n"
                          "  %3\n"
                          "      不连接服务器，检查目录和项目文件中的错误；退出状态 0 没有发现，1 只有警告，2 有错误。")
        .arg(checkFormats().join(QStringLiteral("、")), usages.value(0), usages.value(1));
}

} // namespace vireo::runner
