#pragma once
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace vireo {

// One "参数&&" line of a check script.
struct ParameterLine {
    QString name;          // field 1: the parameter as the procedure knows it
    QString caption;       // field 2: the name shown to the user
    QString typeText;      // field 3 through TypeDisplayName
    QString rawType;       // field 3 as written
    bool required = false; // field 4 is exactly "1"
    QString defaultValue;  // field 5, only when closed by its own "&&"
    int lineNumber = 0;    // 1-based line of the script
};

// A line that carries the marker but fewer than four closed fields.
struct SkippedParameterLine {
    int lineNumber = 0;
    QString text;          // the trimmed line
};

struct ParameterScript {
    QList<ParameterLine> parameters;        // in line order, which is the argument order
    QList<SkippedParameterLine> skipped;
    bool fileFound = false;
};

// The 类型 text of a type field: lower-cased, first matching row of the type table, else empty.
QString TypeDisplayName(const QString &type);

// "否" for a required value, "是" otherwise.
QString allowEmptyText(bool required);

// True for types whose editor is the date picker.
bool isDateType(const QString &typeText);
// True for types whose text editor accepts digits only.
bool isNumericType(const QString &typeText);

// Parses one line; false when the line is not a parameter line. A parameter line with fewer than
// four closed fields sets *malformed and returns false.
bool parseParameterLine(const QString &line, int lineNumber, ParameterLine *out, bool *malformed = nullptr);

ParameterScript parseParameterLines(const QStringList &lines);

// Reads the parameter lines of a check script (code page 936 or UTF-8 with BOM).
ParameterScript readParameterLines(const QString &scriptPath);

// "Exec [" + key (its "]" doubled) + "] " + the values, each in single quotes with quotes inside doubled, comma separated.
QString buildExecStatement(const QString &key, const QStringList &values);

// Cell text of a date value that SQL Server reads the same under any language setting:
// yyyyMMdd, or yyyy-MM-ddTHH:mm:ss when the time is not midnight.
QString sqlDateText(const QDateTime &value);

// Reads a cell text as a date; an invalid QDateTime when it is not one.
QDateTime parseDateText(const QString &text);

} // namespace vireo
