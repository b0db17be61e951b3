// vireo-check: runs the checks of the catalogue on one or more account databases without a window.
#include "CheckRunner.h"
#include "Environment.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

using namespace vireo::runner;

namespace {

QString promptPassword()
{
    if (!isatty(STDIN_FILENO))
        return {};
    fputs("SA 密码：", stderr);
    fflush(stderr);
    termios old{};
    tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= tcflag_t(~ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    char buf[512] = {};
    const bool ok = fgets(buf, sizeof buf, stdin) != nullptr;
    tcsetattr(STDIN_FILENO, TCSANOW, &old);
    fputs("\n", stderr);
    if (!ok)
        return {};
    QString s = QString::fromLocal8Bit(buf);
    while (s.endsWith(QLatin1Char('\n')) || s.endsWith(QLatin1Char('\r')))
        s.chop(1);
    return s;
}

int fail(const QString &message)
{
    QTextStream(stderr) << "vireo-check: " << message << '\n';
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vireo-check"));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("在一个或多个账套数据库上运行数据体检（无窗口）。SA 密码取自环境变量 "
                                               "VIREO_SA_PASSWORD，或在终端上提示输入。"));
    p.addHelpOption();
    const QCommandLineOption server({QStringLiteral("server")}, QStringLiteral("服务器：HOST、HOST,PORT 或 HOST\\INSTANCE"), QStringLiteral("server"));
    const QCommandLineOption account({QStringLiteral("account")}, QStringLiteral("账套号，逗号分隔"), QStringLiteral("list"));
    const QCommandLineOption year({QStringLiteral("year")}, QStringLiteral("会计年度，逗号分隔"), QStringLiteral("list"));
    const QCommandLineOption oper({QStringLiteral("operator")}, QStringLiteral("操作员"), QStringLiteral("name"));
    const QCommandLineOption catalogue({QStringLiteral("catalogue")}, QStringLiteral("Tools 或 NjaTree"), QStringLiteral("table"), QStringLiteral("Tools"));
    const QCommandLineOption items({QStringLiteral("items")}, QStringLiteral("要运行的项目编码，逗号分隔"), QStringLiteral("codes"));
    const QCommandLineOption all({QStringLiteral("all")}, QStringLiteral("运行目录中的全部项目"));
    const QCommandLineOption param({QStringLiteral("param")}, QStringLiteral("存储过程项目的参数值：CODE:值,值"), QStringLiteral("code:values"));
    const QCommandLineOption format({QStringLiteral("format")}, QStringLiteral("table、csv 或 json"), QStringLiteral("format"), QStringLiteral("table"));
    const QCommandLineOption exportDir({QStringLiteral("export")}, QStringLiteral("把有结果的项目导出到 DIR/{数据库}/{编码}.xlsx"), QStringLiteral("dir"));
    const QCommandLineOption jobs({QStringLiteral("jobs")}, QStringLiteral("并行检查的账套数"), QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption folder({QStringLiteral("program-folder")}, QStringLiteral("含 VUZ.mdb 和 File 的程序文件夹"), QStringLiteral("dir"));
    p.addOptions({server, account, year, oper, catalogue, items, all, param, format, exportDir, jobs, folder});
    p.process(app);

    Options o;
    o.server = p.value(server);
    o.accounts = p.value(account).split(QLatin1Char(','), Qt::SkipEmptyParts);
    o.years = p.value(year).split(QLatin1Char(','), Qt::SkipEmptyParts);
    o.operatorName = p.value(oper);
    o.catalogue = p.value(catalogue);
    if (o.server.isEmpty() || o.accounts.isEmpty() || o.years.isEmpty())
        return fail(QStringLiteral("需要 --server、--account 和 --year"));
    if (o.catalogue != QLatin1String("Tools") && o.catalogue != QLatin1String("NjaTree"))
        return fail(QStringLiteral("--catalogue 只能是 Tools 或 NjaTree"));
    if (p.isSet(items) && p.isSet(all))
        return fail(QStringLiteral("--items 和 --all 不能同时使用"));
    if (p.isSet(items)) {
        o.selection = Selection::Listed;
        o.items = p.value(items).split(QLatin1Char(','), Qt::SkipEmptyParts);
    } else if (p.isSet(all)) {
        o.selection = Selection::All;
    }
    for (const QString &pv : p.values(param)) {
        const qsizetype colon = pv.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            return fail(QStringLiteral("--param 的格式是 CODE:值,值：%1").arg(pv));
        o.params.insert(pv.left(colon), pv.mid(colon + 1).split(QLatin1Char(',')));
    }
    const QString fmt = p.value(format);
    if (fmt != QLatin1String("table") && fmt != QLatin1String("csv") && fmt != QLatin1String("json"))
        return fail(QStringLiteral("--format 只能是 table、csv 或 json"));
    bool ok = false;
    o.jobs = p.value(jobs).toInt(&ok);
    if (!ok || o.jobs < 1 || o.jobs > 64)
        return fail(QStringLiteral("--jobs 应为 1 到 64"));
    o.exportDir = p.value(exportDir);
    o.programFolder = p.isSet(folder) ? p.value(folder) : QCoreApplication::applicationDirPath();

    // Taken out of the environment once read, so no later reader of it finds the password.
    const bool passwordSet = qEnvironmentVariableIsSet("VIREO_SA_PASSWORD");
    QString password = vireo::takeEnvironmentSecret("VIREO_SA_PASSWORD");
    if (password.isEmpty() && !passwordSet)
        password = promptPassword();
    if (password.isEmpty() && !passwordSet)
        return fail(QStringLiteral("没有 SA 密码：请设置环境变量 VIREO_SA_PASSWORD，或在终端上运行以输入密码"));

    const bool tty = isatty(STDERR_FILENO);
    const auto results = runAll(o, password, [tty](const QString &line) {
        if (tty)
            QTextStream(stderr) << line << '\n';
    });
    QTextStream out(stdout);
    if (fmt == QLatin1String("json"))
        out << formatJson(results);
    else if (fmt == QLatin1String("csv"))
        out << formatCsv(results);
    else
        out << formatTable(results);
    out.flush();
    return exitStatus(results);
}
