#include "ParameterLines.h"
#include "FileHelpers.h"

namespace vireo {

namespace {
const QString kMarker = QStringLiteral("参数&&");
const QString kSeparator = QStringLiteral("&&");

// Trims blanks (space characters only) at both ends.
QString trimSpaces(const QString &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && s.at(e - 1) == QLatin1Char(' '))
        --e;
    return s.mid(b, e - b);
}
} // namespace

QString TypeDisplayName(const QString &type)
{
    struct Row {
        std::initializer_list<const char *> names;
        const char16_t *display;
    };
    static const Row table[] = {
        {{"1", "int", "long", "tinyint"}, u"整数"},
        {{"5", "float", "double"}, u"实数"},
        {{"2", "char", "valchar"}, u"字符"},
        {{"3", "smalldatetime"}, u"短日期"},
        {{"4", "bit"}, u"布尔型"},
        {{"x", "datetime"}, u"长日期"},
    };
    const QString t = type.toLower();
    for (const Row &row : table)
        for (const char *name : row.names)
            if (t == QLatin1String(name))
                return QString::fromUtf16(row.display);
    return QString();
}

QString allowEmptyText(bool required)
{
    return required ? QStringLiteral("否") : QStringLiteral("是");
}

bool isDateType(const QString &typeText)
{
    return typeText.contains(QStringLiteral("日期"));
}

bool isNumericType(const QString &typeText)
{
    return typeText == QStringLiteral("整数") || typeText == QStringLiteral("实数");
}

bool parseParameterLine(const QString &line, int lineNumber, ParameterLine *out, bool *malformed)
{
    if (malformed)
        *malformed = false;
    const QString text = trimSpaces(line);
    const qsizetype at = text.indexOf(kMarker);
    if (at < 0)
        return false;

    QString fields[5];
    qsizetype start = at + kMarker.size();
    for (int i = 0; i < 4; ++i) {
        const qsizetype next = text.indexOf(kSeparator, start);
        if (next < 0) {
            if (malformed)
                *malformed = true;
            return false;
        }
        fields[i] = trimSpaces(text.mid(start, next - start));
        start = next + kSeparator.size();
    }
    const qsizetype next = text.indexOf(kSeparator, start);
    if (next >= 0)
        fields[4] = trimSpaces(text.mid(start, next - start));

    out->name = fields[0];
    out->caption = fields[1];
    out->rawType = fields[2];
    out->typeText = TypeDisplayName(fields[2]);
    out->required = fields[3] == QLatin1String("1");
    out->defaultValue = fields[4];
    out->lineNumber = lineNumber;
    return true;
}

ParameterScript parseParameterLines(const QStringList &lines)
{
    ParameterScript script;
    script.fileFound = true;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        ParameterLine p;
        bool bad = false;
        if (parseParameterLine(lines.at(i), int(i + 1), &p, &bad))
            script.parameters.append(p);
        else if (bad)
            script.skipped.append({int(i + 1), trimSpaces(lines.at(i))});
    }
    return script;
}

ParameterScript readParameterLines(const QString &scriptPath)
{
    if (!FileExists(scriptPath))
        return {};
    const std::optional<QStringList> lines = readTextLines(scriptPath);
    if (!lines)
        return {};
    return parseParameterLines(*lines);
}

QString buildExecStatement(const QString &key, const QStringList &values)
{
    QStringList quoted;
    quoted.reserve(values.size());
    for (QString v : values)
        quoted.append(QLatin1Char('\'') + v.replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\''));
    return QStringLiteral("Exec [") + QString(key).replace(QLatin1Char(']'), QLatin1String("]]")) + QStringLiteral("] ")
           + quoted.join(QLatin1Char(','));
}

QString sqlDateText(const QDateTime &value)
{
    // yyyyMMdd and ISO 8601 with a "T" are read the same under every language and DATEFORMAT.
    if (value.time() == QTime(0, 0))
        return value.toString(QStringLiteral("yyyyMMdd"));
    return value.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

QDateTime parseDateText(const QString &text)
{
    static const char *const dateForms[] = {"yyyy-M-d", "yyyy/M/d", "yyyy.M.d", "yyyyMMdd", "yyyy年M月d日"};
    static const char *const timeForms[] = {"", " H:mm:ss", " H:mm", "THH:mm:ss", " H:mm:ss.zzz"};
    const QString t = text.trimmed();
    for (const char *d : dateForms)
        for (const char *tm : timeForms) {
            const QDateTime v = QDateTime::fromString(t, QString::fromUtf8(d) + QString::fromUtf8(tm));
            if (v.isValid())
                return v;
        }
    return QDateTime();
}

} // namespace vireo
