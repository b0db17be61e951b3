#pragma once
#include "Connection.h"
#include <QString>
#include <QStringList>
#include <vector>

namespace vireo {

// What catalogue authors get wrong, found without a server: the catalogue rows of VUZ.mdb and the
// item folders under File/.

enum class LintSeverity { Warning, Error };

struct LintFinding {
    LintSeverity severity = LintSeverity::Error;
    QString catalogue;  // the table; empty for a folder that no table names
    QString id;         // cID of the catalogue row; empty when the finding is not about one row
    QString code;
    QString file;       // relative to the program folder: VUZ.mdb or File/{code}/{file}
    int line = 0;       // 1-based; 0 when the finding has no line
    QString message;
};

// One catalogue row, so that every item gets its line in the report.
struct LintItem {
    QString catalogue, id, code, name;
    bool runnable = false;
};

struct LintReport {
    QString programFolder;
    QStringList catalogues;
    std::vector<LintItem> items;
    std::vector<LintFinding> findings;
    int count(LintSeverity s) const;
    // 0 clean, 1 warnings only, 2 errors.
    int exitStatus() const;
};

// The lint findings of one script's lines: separator look-alikes and separators with a repeat count.
void lintSeparators(const QStringList &lines, const LintFinding &where, std::vector<LintFinding> &out);

// Lints the given tables of an open catalogue and the item folders of programFolder/File.
LintReport lintCatalogue(db::Connection *catalog, const QString &programFolder, const QStringList &tables);

QString lintSeverityText(LintSeverity s);   // 错误 / 警告
QString formatLintTable(const LintReport &report);
QString formatLintJson(const LintReport &report);

} // namespace vireo
