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

namespace {

std::optional<QByteArray> readBytes(const QString &path)
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
    return bytes;
}

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// Lines end at CR LF, a lone CR or a lone LF; a last line without terminator counts.
QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines << text.mid(start, i - start);
            if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

// Bytes of the character that starts at bytes[i], by the encoding's byte structure; 0 when no
// character can start there.
qsizetype unitLength(const QByteArray &bytes, qsizetype i, bool utf8)
{
    const auto at = [&](qsizetype k) { return k < bytes.size() ? quint8(bytes[k]) : 0; };
    const quint8 b = at(i);
    if (b < 0x80)
        return 1;
    if (utf8)
        return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (b == 0x80 || b == 0xFF)
        return 0;
    const quint8 b2 = at(i + 1);
    if (b2 >= 0x30 && b2 <= 0x39)
        return 4;
    return (b2 >= 0x40 && b2 != 0x7F && b2 != 0xFF) ? 2 : 0;
}

// Offset of the first byte that does not decode, in bytes known to hold one.
qsizetype firstUndecodable(const QByteArray &bytes, qsizetype from, bool utf8)
{
    for (qsizetype i = from; i < bytes.size();) {
        const qsizetype len = unitLength(bytes, i, utf8);
        if (len == 0 || i + len > bytes.size())
            return i;
        QStringDecoder one(utf8 ? "UTF-8" : "GB18030", QStringDecoder::Flag::Stateless);
        const QString decoded = one(QByteArrayView(bytes).sliced(i, len));
        if (one.hasError())
            return i;
        i += len;
    }
    return bytes.size();
}

// 1-based line number of a byte offset, lines ending as splitLines has them.
int lineAt(const QByteArray &bytes, qsizetype offset)
{
    int line = 1;
    for (qsizetype i = 0; i < offset; ++i) {
        if (bytes[i] == '\n' || (bytes[i] == '\r' && !(i + 1 < bytes.size() && bytes[i + 1] == '\n')))
            ++line;
    }
    return line;
}

QStringList decodeLines(const QByteArray &bytes)
{
    if (bytes.startsWith(kUtf8Bom))
        return splitLines(QString::fromUtf8(QByteArrayView(bytes).sliced(kUtf8Bom.size())));
    QStringDecoder decode("GB18030");
    return splitLines(decode(bytes));
}

} // namespace

std::optional<QStringList> readTextLines(const QString &path)
{
    const std::optional<QByteArray> bytes = readBytes(path);
    if (!bytes)
        return std::nullopt;
    return decodeLines(*bytes);
}

std::optional<QStringList> readScriptLines(const QString &path, QString &problem, int *problemLine)
{
    problem.clear();
    const std::optional<QByteArray> bytes = readBytes(path);
    if (!bytes)
        return std::nullopt;
    const bool utf8 = bytes->startsWith(kUtf8Bom);
    const qsizetype from = utf8 ? kUtf8Bom.size() : 0;
    QStringDecoder decode(utf8 ? "UTF-8" : "GB18030", QStringDecoder::Flag::Stateless);
    const QString text = decode(QByteArrayView(*bytes).sliced(from));
    const qsizetype nul = bytes->indexOf('\0', from);
    const qsizetype bad = decode.hasError() ? firstUndecodable(*bytes, from, utf8) : -1;
    if (nul >= 0 || bad >= 0) {
        const qsizetype at = (bad < 0 || (nul >= 0 && nul < bad)) ? nul : bad;
        const QString what = at == nul ? QStringLiteral("含有 NUL 字符")
                                       : QStringLiteral("含有不能按 %1 解码的字节").arg(utf8 ? QStringLiteral("UTF-8")
                                                                                           : QStringLiteral("GB18030"));
        const int line = lineAt(*bytes, at);
        if (problemLine)
            *problemLine = line;
        problem = QStringLiteral("第 %1 行（第 %2 字节）%3").arg(line).arg(at + 1).arg(what);
        return std::nullopt;
    }
    return splitLines(text);
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
