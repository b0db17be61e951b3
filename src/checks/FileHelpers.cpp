#include "FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace vireo {

QString resolvePath(const QString &path)
{
    if (path.isEmpty())
        return {};
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QFileInfo::exists(p))
        return p;
    const QStringList parts = p.split(QLatin1Char('/'));
    QString current = p.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QStringLiteral(".");
    bool first = true;
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".")) {
            first = false;
            continue;
        }
        const QString candidate = (first && current == QLatin1String(".")) ? part : joinPath(current, part);
        first = false;
        if (QFileInfo::exists(candidate)) {
            current = candidate;
            continue;
        }
        if (part == QLatin1String(".."))
            return {};
        const QDir dir(current);
        const QStringList entries = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        QString found;
        for (const QString &e : entries)
            if (e.compare(part, Qt::CaseInsensitive) == 0) {
                found = e;
                break;
            }
        if (found.isEmpty())
            return {};
        current = joinPath(current, found);
    }
    return current;
}

bool FileExists(const QString &path) { return !resolvePath(path).isEmpty(); }

std::optional<QStringList> readTextLines(const QString &path)
{
    const QString real = resolvePath(path);
    if (real.isEmpty())
        return std::nullopt;
    QFile f(real);
    if (!QFileInfo(real).isFile() || !f.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return std::nullopt;
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    } else {
        QStringDecoder decode("GB18030");
        text = decode(bytes);
    }
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (text[i] == QLatin1Char('\r')) {
            lines << text.mid(start, i - start);
            if (i + 1 < n && text[i + 1] == QLatin1Char('\n'))
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

bool ReadTextFile(const QString &path, QString &boxText)
{
    if (!FileExists(path))
        return false;
    const auto lines = readTextLines(path);
    if (!lines)
        return false;
    QString t;
    for (const QString &l : *lines)
        t += l + QLatin1String("\r\n");
    boxText = t;
    return true;
}

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

} // namespace vireo
