// vireo-check: runs the checks of the catalogue on one or more account databases without a window.
#include "CatalogueImport.h"
#include "CatalogueLint.h"
#include "CheckRunner.h"
#include "CommandLine.h"
#include "FileHelpers.h"
#include "OffThread.h"
#include "Environment.h"
#include "RunHistory.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

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

// Ctrl-C and SIGTERM: the handler only writes the signal's number to a pipe; a thread reading it
// stops the run as 停止 does. A second signal ends the process at once.
int g_signalPipe[2] = {-1, -1};
std::atomic_int g_signals{0};
std::atomic_int g_firstSignal{0};

void onSignal(int sig)
{
    if (g_signals.fetch_add(1) > 0)
        _exit(128 + sig);
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
}

class SignalStop {
public:
    SignalStop()
    {
        if (pipe(g_signalPipe) != 0)
            return;
        fcntl(g_signalPipe[0], F_SETFD, FD_CLOEXEC);
        fcntl(g_signalPipe[1], F_SETFD, FD_CLOEXEC);
        m_thread = std::thread([] {
            unsigned char sig = 0;
            while (read(g_signalPipe[0], &sig, 1) == 1 && sig != 0) {
                g_firstSignal = sig;
                QTextStream(stderr) << "vireo-check: " << interruptReason(sig) << Qt::endl;
                requestStop(interruptReason(sig));
            }
        });
        struct sigaction sa{};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
    }
    ~SignalStop()
    {
        if (!m_thread.joinable())
            return;
        // A zero byte ends the reader; a signal that comes later ends the process.
        g_signals = 1;
        const unsigned char end = 0;
        [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &end, 1);
        m_thread.join();
    }
    // 130 after SIGINT, 143 after SIGTERM; 0 when no signal came.
    static int status() { return g_firstSignal ? 128 + g_firstSignal : 0; }

private:
    std::thread m_thread;
};

// vireo-check history --database NAME [--history FILE]: the recorded runs of one database.
int listHistory(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("列出一个账套数据库的历史检查记录。"));
    p.addHelpOption();
    const HistoryOptions h;
    const QCommandLineOption &database = h.database, &file = h.historyFile, &serverName = h.serverName;
    p.addOptions(h.list());
    p.process(args);
    if (!p.isSet(database))
        return fail(QStringLiteral("需要 --database"));
    QString error;
    const QString list = formatHistoryList(p.value(file), p.value(database), p.value(serverName), &error);
    if (!error.isEmpty())
        return fail(error);
    QTextStream(stdout) << list;
    return 0;
}

// vireo-check lint [--program-folder DIR] [--catalogue Tools|NjaTree|all] [--format table|json]:
// the catalogue's mistakes, without a server. Exit 0 clean, 1 warnings only, 2 errors.
int lintCatalogue(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("检查目录（VUZ.mdb）和项目文件夹（File）中的错误，不连接服务器。\n"
                                               "退出状态：0 没有发现；1 只有警告；2 有错误。"));
    p.addHelpOption();
    const LintOptions l;
    const QCommandLineOption &folder = l.folder, &catalogue = l.catalogue, &format = l.format;
    p.addOptions(l.list());
    p.process(args);
    const QString table = p.value(catalogue), fmt = p.value(format);
    if (table != QLatin1String("Tools") && table != QLatin1String("NjaTree") && table != QLatin1String("all"))
        return fail(QStringLiteral("--catalogue 只能是 Tools、NjaTree 或 all"));
    if (fmt != QLatin1String("table") && fmt != QLatin1String("json"))
        return fail(QStringLiteral("--format 只能是 table 或 json"));
    const QString dir = p.isSet(folder) ? p.value(folder) : vireo::defaultProgramFolder();
    const QString mdb = vireo::resolvePath(dir + QStringLiteral("/VUZ.mdb"));
    vireo::LintReport report;
    try {
        const auto catalog = vireo::openCatalogue(mdb.isEmpty() ? dir + QStringLiteral("/VUZ.mdb") : mdb);
        report = vireo::lintCatalogue(catalog.get(), dir,
                                      table == QLatin1String("all") ? QStringList{QStringLiteral("Tools"), QStringLiteral("NjaTree")}
                                                                    : QStringList{table});
    } catch (const vireo::db::DbError &e) {
        return fail(QStringLiteral("无法读取检查目录：") + e.message());
    }
    QTextStream(stdout) << (fmt == QLatin1String("json") ? vireo::formatLintJson(report) : vireo::formatLintTable(report));
    return report.exitStatus();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vireo-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
    if (argc > 1 && QLatin1String(argv[1]) == QLatin1String("history")) {
        QStringList args = app.arguments();
        args.removeAt(1);
        return listHistory(args);
    }
    if (argc > 1 && QLatin1String(argv[1]) == QLatin1String("lint")) {
        QStringList args = app.arguments();
        args.removeAt(1);
        return lintCatalogue(args);
    }
    QCommandLineParser p;
    p.setApplicationDescription(checkDescription());
    p.addHelpOption();
    p.addVersionOption();
    const CheckOptions c;
    const QCommandLineOption &server = c.server, &account = c.account, &year = c.year, &oper = c.operatorName,
                             &catalogue = c.catalogue, &items = c.items, &all = c.all, &param = c.param, &format = c.format,
                             &exportDir = c.exportDir, &jobs = c.jobs, &folder = c.folder, &noBom = c.noBom,
                             &noHistory = c.noHistory, &historyFile = c.historyFile, &historyKeep = c.historyKeep,
                             &compare = c.compare, &output = c.output, &reportRows = c.reportRows, &timeout = c.timeout;
    p.addOptions(c.list());
    p.process(app);

    Options o;
    // Several servers: each --server is followed by the --account list checked on it.
    const QStringList servers = p.values(server), accountLists = p.values(account);
    if (servers.size() > 1 && servers.size() != accountLists.size())
        return fail(QStringLiteral("给了多个 --server 时，每个 --server 后面各跟一个 --account"));
    o.server = servers.value(0);
    for (int i = 0; i < accountLists.size(); ++i)
        for (const QString &a : accountLists[i].split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            o.accounts << a;
            o.accountServers << servers.value(servers.size() > 1 ? i : 0);
        }
    o.years = p.value(year).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &list : accountLists)
        if (list.split(QLatin1Char(',')).contains(QLatin1String("all"), Qt::CaseInsensitive)
            && list.split(QLatin1Char(','), Qt::SkipEmptyParts).size() > 1)
            return fail(QStringLiteral("--account all 不能与其他账套号一起给出"));
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
        if (o.items.isEmpty())
            return fail(QStringLiteral("--items 没有给出项目编码"));
    } else if (p.isSet(all)) {
        o.selection = Selection::All;
    }
    for (const QString &pv : p.values(param)) {
        const qsizetype colon = pv.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            return fail(QStringLiteral("--param 的格式是 CODE:值,值：%1").arg(pv));
        const QString code = pv.left(colon);
        for (auto it = o.params.cbegin(); it != o.params.cend(); ++it)
            if (it.key().compare(code, Qt::CaseInsensitive) == 0)
                return fail(QStringLiteral("--param：项目“%1”的参数给了两次").arg(code));
        QString why;
        const QStringList values = splitParameterValues(pv.mid(colon + 1), &why);
        if (!why.isEmpty())
            return fail(QStringLiteral("--param %1：%2").arg(pv, why));
        o.params.insert(code, values);
    }
    bool ok = false;
    const QString fmt = p.value(format);
    if (!checkFormats().contains(fmt))
        return fail(QStringLiteral("--format 只能是 %1").arg(checkFormats().join(QStringLiteral("、"))));
    if (p.isSet(c.rows)) {
        o.findingRows = p.value(c.rows).toInt(&ok);
        if (!ok || o.findingRows < 0)
            return fail(QStringLiteral("--rows 应为 0 或正整数"));
        if (fmt != QLatin1String("json"))
            return fail(QStringLiteral("--rows 只用于 --format json"));
    }
    if (!parseFindingsFormat(p.value(c.exportFormat), &o.exportFormat))
        return fail(QStringLiteral("--export-format 只能是 xlsx、csv 或 json"));
    if (p.isSet(c.exportFormat) && !p.isSet(exportDir))
        return fail(QStringLiteral("--export-format 需要 --export DIR"));
    o.csvByteOrderMark = !p.isSet(noBom);
    o.history = !p.isSet(noHistory);
    o.historyFile = p.value(historyFile);
    o.historyKeep = p.value(historyKeep).toInt(&ok);
    if (!ok || o.historyKeep < 1)
        return fail(QStringLiteral("--history-keep 应为正整数"));
    o.compare = p.value(compare);
    if (!o.compare.isEmpty() && o.compare != QLatin1String("last") && o.compare.toLongLong() <= 0)
        return fail(QStringLiteral("--compare 只能是 last 或历史记录编号"));
    o.captureRows = fmt == QLatin1String("html");
    o.reportRows = p.value(reportRows).toInt(&ok);
    if (!ok || o.reportRows < 0 || o.reportRows > 1000)
        return fail(QStringLiteral("--report-rows 应为 0 到 1000"));
    o.jobs = p.value(jobs).toInt(&ok);
    if (!ok || o.jobs < 1 || o.jobs > 64)
        return fail(QStringLiteral("--jobs 应为 1 到 64"));
    if (p.isSet(timeout)) {
        o.itemTimeoutSeconds = p.value(timeout).toInt(&ok);
        if (!ok || o.itemTimeoutSeconds < 1)
            return fail(QStringLiteral("--timeout 应为正整数（秒）"));
    }
    o.exportDir = p.value(exportDir);
    o.programFolder = p.isSet(folder) ? p.value(folder) : vireo::defaultProgramFolder();

    // Taken out of the environment once read, so no later reader of it finds the password.
    const bool passwordSet = qEnvironmentVariableIsSet("VIREO_SA_PASSWORD");
    QString password = vireo::takeEnvironmentSecret("VIREO_SA_PASSWORD");
    // Unknown or misspelled codes are said before anything runs, not answered with an empty report.
    const QString selectionError = validateSelection(o);
    if (!selectionError.isEmpty())
        return fail(selectionError);
    if (password.isEmpty() && !passwordSet)
        password = promptPassword();
    if (password.isEmpty() && !passwordSet)
        return fail(QStringLiteral("没有 SA 密码：请设置环境变量 VIREO_SA_PASSWORD，或在终端上运行以输入密码"));

    // --account all: the databases each server lists, asked before anything runs.
    QString targetError;
    o.targets = resolveTargets(o, password, &targetError);
    if (!targetError.isEmpty())
        return fail(targetError);

    const SignalStop signalStop;
    QTextStream out(stdout);
    // Table and CSV lines of an account go to stdout as soon as it is checked; JSON, HTML and
    // --output files are written whole at the end.
    const bool streaming = !p.isSet(output) && (fmt == QLatin1String("table") || fmt == QLatin1String("csv"));
    bool header = false;
    const auto results = runAll(o, password, [](const QString &line) { QTextStream(stderr) << line << Qt::endl; },
                                [&](const AccountResult &r) {
        if (!streaming)
            return;
        QString text = fmt == QLatin1String("csv") ? formatCsv({r}) : formatTable({r});
        if (fmt == QLatin1String("csv") && std::exchange(header, true))
            text = text.mid(text.indexOf(QLatin1Char('\n')) + 1);
        else if (fmt == QLatin1String("csv") && !p.isSet(noBom))
            text.prepend(QChar(0xFEFF));
        out << text;
        out.flush();
    });
    for (const AccountResult &r : results)
        if (!r.historyError.isEmpty())
            QTextStream(stderr) << "vireo-check: " << r.database << ": " << r.historyError << '\n';
    const auto status = [&] { return SignalStop::status() ? SignalStop::status() : exitStatus(results); };
    if (streaming)
        return status();
    QString text;
    if (fmt == QLatin1String("json"))
        text = formatJson(results);
    else if (fmt == QLatin1String("csv"))
        text = (p.isSet(noBom) ? QString() : QString(QChar(0xFEFF))) + formatCsv(results);
    else if (fmt == QLatin1String("html"))
        text = formatHtml(results, o);
    else
        text = formatTable(results);
    if (p.isSet(output)) {
        QSaveFile f(p.value(output));
        if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0 || !f.commit())
            return fail(QStringLiteral("无法写入 %1：%2").arg(p.value(output), f.errorString()));
    } else {
        out << text;
        out.flush();
    }
    return vireo::endProgram(status());
}
