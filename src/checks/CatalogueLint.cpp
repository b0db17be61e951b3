#include "CatalogueLint.h"
#include "CheckRun.h"
#include "FileHelpers.h"
#include "ParameterLines.h"
#include "QueryHelpers.h"
#include "ScriptRunner.h"

#include <QDir>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>

namespace vireo {

namespace {

const QString kCheckScript = QStringLiteral("检查.SQL");
const QString kRepairScript = QStringLiteral("修复.sql");
const QString kMarker = QStringLiteral("存储过程&&");

struct Row {
    QString id, parent, code, name;
    bool hasParent = false, runnable = false;
};

class Linter {
public:
    Linter(db::Connection *catalog, const QString &folder) : m_catalog(catalog), m_folder(folder) {}

    LintReport report;

    void add(LintSeverity s, const LintFinding &where, const QString &message, int line = 0)
    {
        LintFinding f = where;
        f.severity = s;
        f.line = line;
        f.message = message;
        report.findings.push_back(f);
    }

    std::vector<Row> rows(const QString &table) const
    {
        const db::Recordset rs = m_catalog->query(QStringLiteral("select * from ") + table + QStringLiteral(" order by cID"));
        const auto col = [&](const char *name) {
            const int c = rs.columnIndex(QLatin1String(name));
            if (c < 0)
                throw db::DbError(QStringLiteral("缺少 %1 列").arg(QLatin1String(name)));
            return c;
        };
        const int id = col("cID"), parent = col("cParentID"), code = col("cCode"), name = col("cName"), end = col("bEnd");
        std::vector<Row> out;
        for (qint64 r = 0; r < rs.rowCount(); ++r)
            out.push_back({rs.text(r, id), rs.text(r, parent), rs.text(r, code), rs.text(r, name),
                           !rs.value(r, parent).isNull(), isTrue(rs.value(r, end))});
        return out;
    }

    void lintTable(const QString &table, const std::vector<Row> &rows)
    {
        QHash<QString, int> byId;
        QHash<QString, int> children;
        QHash<QString, QList<int>> byCode;
        for (int i = 0; i < int(rows.size()); ++i) {
            byId.insert(rows[size_t(i)].id, i);
            if (rows[size_t(i)].hasParent)
                ++children[rows[size_t(i)].parent];
        }
        for (int i = 0; i < int(rows.size()); ++i) {
            const Row &r = rows[size_t(i)];
            report.items.push_back({table, r.id, r.code, r.name, r.runnable});
            const LintFinding at{LintSeverity::Error, table, r.id, r.code, QStringLiteral("VUZ.mdb"), 0, {}};
            QList<int> &same = byCode[r.code.toLower()];
            const auto exact = std::find_if(same.begin(), same.end(), [&](int j) { return rows[size_t(j)].code == r.code; });
            if (exact != same.end())
                add(LintSeverity::Error, at, QStringLiteral("编码“%1”与 cID %2 重复，目录树载入到此即停止").arg(r.code, rows[size_t(*exact)].id));
            else if (!same.isEmpty())
                add(LintSeverity::Warning, at, QStringLiteral("编码与 cID %1 的“%2”只差大小写，两者共用结果表和文件夹")
                                                   .arg(rows[size_t(same.last())].id, rows[size_t(same.last())].code));
            same.append(i);
            if (r.hasParent && !byId.contains(r.parent))
                add(LintSeverity::Error, at, QStringLiteral("上级 cParentID“%1”不存在，项目不会出现在目录树中").arg(r.parent));
            if (r.runnable && children.value(r.id) > 0)
                add(LintSeverity::Warning, at, QStringLiteral("标为可执行项目（bEnd），却有 %1 个下级项目").arg(children.value(r.id)));
            const QString why = r.runnable ? invalidCodeReason(r.code) : QString();
            if (!why.isEmpty())
                add(LintSeverity::Error, at, why);
            if (r.name.trimmed().isEmpty())
                add(LintSeverity::Warning, at, QStringLiteral("名称为空"));
        }
        // Cycles: a chain of parents that comes back to a row before it reaches the top.
        std::vector<int> state(rows.size(), 0);   // 0 unseen, 1 on the current chain, 2 done
        for (int i = 0; i < int(rows.size()); ++i) {
            std::vector<int> chain;
            int at = i;
            while (at >= 0 && state[size_t(at)] == 0) {
                state[size_t(at)] = 1;
                chain.push_back(at);
                const Row &r = rows[size_t(at)];
                at = r.hasParent ? byId.value(r.parent, -1) : -1;
            }
            if (at >= 0 && state[size_t(at)] == 1) {
                QStringList codes;
                for (auto k = std::find(chain.begin(), chain.end(), at); k != chain.end(); ++k)
                    codes << rows[size_t(*k)].code;
                const Row &r = rows[size_t(at)];
                add(LintSeverity::Error, {LintSeverity::Error, table, r.id, r.code, QStringLiteral("VUZ.mdb"), 0, {}},
                    QStringLiteral("上级关系成环（%1），这些项目不会出现在目录树中").arg(codes.join(QStringLiteral(" → "))));
            }
            for (int k : chain)
                state[size_t(k)] = 2;
        }
    }

    QString relative(const QString &path) const
    {
        return QDir(QFileInfo(m_folder).absoluteFilePath()).relativeFilePath(QFileInfo(path).absoluteFilePath());
    }

    // Every text file of an item folder: decoding, separators, the check and repair scripts' rules.
    void lintFolder(const LintFinding &item, const QString &folder)
    {
        for (const QFileInfo &fi : QDir(folder).entryInfoList(QDir::Files, QDir::Name)) {
            const QString suffix = fi.suffix().toLower();
            if (suffix != QLatin1String("sql") && suffix != QLatin1String("txt"))
                continue;
            LintFinding at = item;
            at.id.clear();
            at.file = relative(fi.filePath());
            const bool script = suffix == QLatin1String("sql");
            QString problem;
            int line = 0;
            const auto lines = readScriptLines(fi.filePath(), problem, &line);
            if (!problem.isEmpty()) {
                add(script ? LintSeverity::Error : LintSeverity::Warning, at,
                    problem + (script ? QStringLiteral("，整个脚本不会执行") : QStringLiteral("，显示时会乱码")), line);
                continue;
            }
            if (!lines) {
                add(LintSeverity::Error, at, QStringLiteral("无法读取文件"));
                continue;
            }
            if (script)
                lintSeparators(*lines, at, report.findings);
            if (fi.fileName().compare(kCheckScript, Qt::CaseInsensitive) == 0)
                lintCheckScript(at, *lines);
            if (fi.fileName().compare(kRepairScript, Qt::CaseInsensitive) == 0 && lines->join(QString()).trimmed().isEmpty())
                add(LintSeverity::Warning, at, QStringLiteral("修复.sql 是空的：修复时什么也不会执行"));
        }
    }

    void lintCheckScript(const LintFinding &at, const QStringList &lines)
    {
        static const QRegularExpression writesVuz(
            QStringLiteral("(?:\\binto|\\binsert|\\bcreate\\s+table)\\s+tempdb\\s*\\.\\s*(?:\\[?dbo\\]?\\s*)?\\.\\s*\\[?vuz\\]?(?![\\w@#$])"),
            QRegularExpression::CaseInsensitiveOption);
        QStringList code;
        for (const QString &l : lines)
            code << l.left(l.indexOf(QStringLiteral("--")));
        if (!writesVuz.match(code.join(QLatin1Char('\n'))).hasMatch())
            add(LintSeverity::Error, at, QStringLiteral("检查脚本没有写入 tempdb..VUZ，执行后取不到结果"));
        // The marker as GetProcedureName reads it: the last line that holds it, blanks trimmed.
        int markerLine = 0;
        QString name;
        for (int i = 0; i < lines.size(); ++i) {
            QString l = lines[i];
            while (l.startsWith(QLatin1Char(' ')))
                l.remove(0, 1);
            while (l.endsWith(QLatin1Char(' ')))
                l.chop(1);
            const qsizetype m = l.indexOf(kMarker);
            if (m >= 0) {
                markerLine = i + 1;
                name = l.mid(m + kMarker.size());
            }
        }
        if (markerLine && name.isEmpty())
            add(LintSeverity::Error, at, QStringLiteral("存储过程标记后没有过程名，本项不会按存储过程执行"), markerLine);
        else if (markerLine && name.compare(at.code, Qt::CaseInsensitive) != 0)
            add(LintSeverity::Warning, at, QStringLiteral("存储过程标记写的是“%1”，执行的却是与编码同名的过程 [%2]").arg(name, at.code),
                markerLine);
        const ParameterScript params = parseParameterLines(lines);
        for (const SkippedParameterLine &s : params.skipped)
            add(LintSeverity::Error, at, QStringLiteral("参数行不足四个以“&&”结尾的字段，参数窗口会略过它"), s.lineNumber);
        if (!markerLine && !params.parameters.isEmpty())
            add(LintSeverity::Warning, at, QStringLiteral("有参数行却没有存储过程标记，参数不会被询问"),
                params.parameters.first().lineNumber);
    }

    void lintFiles(const QString &table, const std::vector<Row> &rows)
    {
        for (const Row &r : rows) {
            if (!invalidCodeReason(r.code).isEmpty())
                continue;
            const LintFinding item{LintSeverity::Error, table, r.id, r.code, QStringLiteral("File/") + r.code, 0, {}};
            const QString folder = resolvePath(m_folder + QStringLiteral("/File/") + r.code);
            const QString script = resolvePath(m_folder + QStringLiteral("/File/") + r.code + QLatin1Char('/') + kCheckScript);
            if (r.runnable && !QFileInfo(script).isFile())
                add(LintSeverity::Warning, item, QStringLiteral("可执行项目没有 检查.SQL，执行时记为未检查"));
            if (!folder.isEmpty() && QFileInfo(folder).isDir() && !m_linted.contains(QFileInfo(folder).canonicalFilePath())) {
                m_linted.insert(QFileInfo(folder).canonicalFilePath());
                lintFolder(item, folder);
            }
        }
    }

    void lintOrphanFolders(const QSet<QString> &codes)
    {
        const QString files = resolvePath(m_folder + QStringLiteral("/File"));
        if (files.isEmpty())
            return;
        for (const QFileInfo &fi : QDir(files).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            if (!codes.contains(fi.fileName().toLower()))
                add(LintSeverity::Warning, {LintSeverity::Warning, {}, {}, fi.fileName(), relative(fi.filePath()), 0, {}},
                    QStringLiteral("文件夹没有对应的目录项目"));
    }

private:
    db::Connection *m_catalog;
    QString m_folder;
    QSet<QString> m_linted;
};

} // namespace

int LintReport::count(LintSeverity s) const
{
    return int(std::count_if(findings.begin(), findings.end(), [s](const LintFinding &f) { return f.severity == s; }));
}

int LintReport::exitStatus() const
{
    return count(LintSeverity::Error) ? 2 : count(LintSeverity::Warning) ? 1 : 0;
}

void lintSeparators(const QStringList &lines, const LintFinding &where, std::vector<LintFinding> &out)
{
    // "GO" at the start, blanks before it allowed, and no identifier character after it.
    static const QRegularExpression lookalike(QStringLiteral("^\\s*go(?![\\p{L}_@#$])"), QRegularExpression::CaseInsensitiveOption);
    for (int i = 0; i < lines.size(); ++i) {
        LintFinding f = where;
        f.line = i + 1;
        const int repeat = separatorRepeat(lines[i]);
        if (repeat > 1) {
            f.severity = LintSeverity::Warning;
            f.message = QStringLiteral("批分隔符带重复次数：前一批语句会执行 %1 次").arg(repeat);
        } else if (repeat == 0 && lookalike.match(lines[i]).hasMatch()) {
            f.severity = LintSeverity::Error;
            f.message = QStringLiteral("“%1”像批分隔符但不是，会作为语句发给服务器").arg(lines[i]);
        } else {
            continue;
        }
        out.push_back(f);
    }
}

LintReport lintCatalogue(db::Connection *catalog, const QString &programFolder, const QStringList &tables)
{
    Linter lint(catalog, programFolder);
    lint.report.programFolder = programFolder;
    lint.report.catalogues = tables;
    QSet<QString> codes;
    QStringList all = tables;
    for (const QString &t : {QStringLiteral("Tools"), QStringLiteral("NjaTree")})
        if (!all.contains(t))
            all << t;
    for (const QString &table : all) {
        std::vector<Row> rows;
        try {
            rows = lint.rows(table);
        } catch (const db::DbError &e) {
            if (tables.contains(table))
                lint.add(LintSeverity::Error, {LintSeverity::Error, table, {}, {}, QStringLiteral("VUZ.mdb"), 0, {}},
                         QStringLiteral("无法读取目录表 %1：%2").arg(table, e.message()));
            continue;
        }
        for (const Row &r : rows)
            codes.insert(r.code.toLower());
        if (tables.contains(table)) {
            lint.lintTable(table, rows);
            lint.lintFiles(table, rows);
        }
    }
    lint.lintOrphanFolders(codes);
    return lint.report;
}

QString lintSeverityText(LintSeverity s)
{
    return s == LintSeverity::Error ? QStringLiteral("错误") : QStringLiteral("警告");
}

namespace {
bool belongsTo(const LintFinding &f, const LintItem &i) { return f.catalogue == i.catalogue && f.code == i.code && (f.id.isEmpty() || f.id == i.id); }

QString location(const LintFinding &f)
{
    return f.line ? QStringLiteral("%1:%2").arg(f.file).arg(f.line) : f.file;
}

// The findings of each item in report order; the rest (no catalogue row) as the catalogue's own.
std::vector<std::pair<const LintItem *, std::vector<const LintFinding *>>> grouped(const LintReport &r, std::vector<const LintFinding *> &rest)
{
    std::vector<std::pair<const LintItem *, std::vector<const LintFinding *>>> out;
    std::vector<bool> used(r.findings.size(), false);
    QSet<QString> seen;   // a code's file findings go to its first row
    for (const LintItem &i : r.items) {
        out.push_back({&i, {}});
        const bool first = !seen.contains(i.catalogue + QLatin1Char('/') + i.code);
        seen.insert(i.catalogue + QLatin1Char('/') + i.code);
        for (size_t k = 0; k < r.findings.size(); ++k)
            if (!used[k] && belongsTo(r.findings[k], i) && (first || !r.findings[k].id.isEmpty())) {
                used[k] = true;
                out.back().second.push_back(&r.findings[k]);
            }
    }
    for (size_t k = 0; k < r.findings.size(); ++k)
        if (!used[k])
            rest.push_back(&r.findings[k]);
    return out;
}

QJsonObject findingJson(const LintFinding &f)
{
    return {{QStringLiteral("severity"), f.severity == LintSeverity::Error ? QStringLiteral("error") : QStringLiteral("warning")},
            {QStringLiteral("catalogue"), f.catalogue}, {QStringLiteral("code"), f.code}, {QStringLiteral("file"), f.file},
            {QStringLiteral("line"), f.line ? QJsonValue(f.line) : QJsonValue()}, {QStringLiteral("message"), f.message}};
}
} // namespace

QString formatLintTable(const LintReport &report)
{
    QString out;
    const auto line = [&](const QString &catalogue, const QString &code, const QString &name,
                          const std::vector<const LintFinding *> &fs) {
        QStringList texts;
        bool error = false;
        for (const LintFinding *f : fs) {
            error = error || f->severity == LintSeverity::Error;
            texts << lintSeverityText(f->severity) + QLatin1Char(' ') + location(*f) + QLatin1Char(' ') + f->message;
        }
        const QString worst = fs.empty() ? QStringLiteral("正常") : lintSeverityText(error ? LintSeverity::Error : LintSeverity::Warning);
        out += QStringList{catalogue.isEmpty() ? QStringLiteral("-") : catalogue, code, name, worst, texts.join(QStringLiteral("；"))}
                   .join(QLatin1Char('\t')).trimmed() + QLatin1Char('\n');
    };
    std::vector<const LintFinding *> rest;
    for (const auto &[item, fs] : grouped(report, rest))
        line(item->catalogue, item->code, item->name, fs);
    for (const LintFinding *f : rest)
        line(f->catalogue, f->code, QString(), {f});
    out += QStringLiteral("目录检查（%1）：%2 个项目，%3 个错误，%4 个警告\n")
               .arg(report.catalogues.join(QLatin1Char(',')))
               .arg(report.items.size())
               .arg(report.count(LintSeverity::Error))
               .arg(report.count(LintSeverity::Warning));
    return out;
}

QString formatLintJson(const LintReport &report)
{
    std::vector<const LintFinding *> rest;
    QJsonArray items, general;
    for (const auto &[item, fs] : grouped(report, rest)) {
        QJsonArray findings;
        for (const LintFinding *f : fs)
            findings.append(findingJson(*f));
        items.append(QJsonObject{{QStringLiteral("catalogue"), item->catalogue}, {QStringLiteral("id"), item->id},
                                 {QStringLiteral("code"), item->code}, {QStringLiteral("name"), item->name},
                                 {QStringLiteral("runnable"), item->runnable}, {QStringLiteral("findings"), findings}});
    }
    for (const LintFinding *f : rest)
        general.append(findingJson(*f));
    const QJsonObject root{{QStringLiteral("program_folder"), report.programFolder},
                           {QStringLiteral("catalogues"), QJsonArray::fromStringList(report.catalogues)},
                           {QStringLiteral("errors"), report.count(LintSeverity::Error)},
                           {QStringLiteral("warnings"), report.count(LintSeverity::Warning)},
                           {QStringLiteral("status"), report.exitStatus()},
                           {QStringLiteral("items"), items},
                           {QStringLiteral("catalogue_findings"), general}};
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
}

} // namespace vireo
