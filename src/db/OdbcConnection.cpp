#include "OdbcConnection.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <mutex>
#include <set>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC with 2-byte SQLWCHAR expected");

namespace vireo::db {

namespace {

const SQLWCHAR *wide(const QString &s) { return reinterpret_cast<const SQLWCHAR *>(s.utf16()); }

struct Diagnostic {
    QString state;
    int native = 0;
    QString text;
    bool isError() const { return !state.startsWith(QLatin1String("01")); }
};

// Drops the driver's "[vendor][component]" prefixes so the server's own text remains.
QString cleanMessage(QString text)
{
    static const QRegularExpression prefix(QStringLiteral("^(\\[[^\\]]*\\])+\\s*"));
    text.remove(prefix);
    return text.trimmed();
}

std::vector<Diagnostic> diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::vector<Diagnostic> out;
    for (SQLSMALLINT i = 1; i < 64; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR text[2048];
        SQLSMALLINT len = 0;
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, text, SQLSMALLINT(std::size(text)), &len);
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
            break;
        Diagnostic d;
        d.state = QString::fromUtf16(reinterpret_cast<const char16_t *>(state), 5);
        d.native = int(native);
        d.text = cleanMessage(QString::fromUtf16(reinterpret_cast<const char16_t *>(text),
                                                 qMin<int>(len, int(std::size(text)) - 1)));
        out.push_back(std::move(d));
    }
    return out;
}

ColumnType columnTypeFor(SQLSMALLINT sqlType)
{
    switch (sqlType) {
    case SQL_BIT: return ColumnType::Boolean;
    case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: case SQL_BIGINT: return ColumnType::Integer;
    case SQL_REAL: case SQL_FLOAT: case SQL_DOUBLE: return ColumnType::Real;
    case SQL_DECIMAL: case SQL_NUMERIC: return ColumnType::Decimal;
    case SQL_TYPE_TIMESTAMP: case SQL_TYPE_DATE: case SQL_TYPE_TIME: case SQL_TIMESTAMP: case SQL_DATE:
        return ColumnType::DateTime;
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY: return ColumnType::Binary;
    default: return ColumnType::Text;
    }
}

QString driverLibrary()
{
    for (const char *p : {"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so", "/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so",
                          "/usr/lib/odbc/libtdsodbc.so", "/usr/local/lib/libtdsodbc.so"})
        if (QFile::exists(QString::fromLatin1(p)))
            return QString::fromLatin1(p);
    return {};
}

// An attribute value in braces, so that ';' and '=' are safe inside it. FreeTDS ends a braced
// value at the first '}' followed by ';' or the end of the string, so "};" cannot be carried.
QString braced(const QString &v)
{
    return QLatin1Char('{') + v + QLatin1Char('}');
}

// The TCP sockets of this process, by inode (stable while the socket lives, unlike its number).
std::set<ino_t> tcpSockets()
{
    std::set<ino_t> out;
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString &name : fds) {
        bool ok = false;
        const int fd = name.toInt(&ok);
        struct stat st {};
        int type = 0;
        socklen_t len = sizeof type;
        if (ok && fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)
            && getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_STREAM)
            out.insert(st.st_ino);
    }
    return out;
}

// The descriptor of the socket with this inode; -1 when it is gone.
int socketByInode(ino_t inode)
{
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString &name : fds) {
        bool ok = false;
        const int fd = name.toInt(&ok);
        struct stat st {};
        if (ok && fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) && st.st_ino == inode)
            return fd;
    }
    return -1;
}

std::timed_mutex g_loginMutex;
std::mutex g_claimMutex;
std::set<ino_t> g_claimed;   // sockets that belong to an open connection

} // namespace

OdbcConnection::KeepAlive &OdbcConnection::keepAlive()
{
    static KeepAlive k;
    return k;
}

struct OdbcConnection::Handles {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
    ino_t socket = 0;               // the driver's socket, when it could be told apart
    std::mutex running;             // guards stmt against the statement's end
    SQLHSTMT stmt = SQL_NULL_HSTMT; // the statement being executed, for cancel()
    ~Handles()
    {
        if (socket) {
            const std::lock_guard lock(g_claimMutex);
            g_claimed.erase(socket);
        }
        if (connected)
            SQLDisconnect(dbc);
        if (dbc != SQL_NULL_HDBC)
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        if (env != SQL_NULL_HENV)
            SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
};

// Owns one statement handle for the duration of a call.
class Statement {
public:
    explicit Statement(SQLHDBC dbc)
    {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
            const auto d = diagnostics(SQL_HANDLE_DBC, dbc);
            throw DbError(d.empty() ? QStringLiteral("无法分配语句句柄") : d.front().text,
                          d.empty() ? 0 : d.front().native, d.empty() ? QString() : d.front().state);
        }
    }
    ~Statement()
    {
        SQLFreeStmt(stmt, SQL_CLOSE);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
    SQLHSTMT stmt = SQL_NULL_HSTMT;
};

OdbcConnection::OdbcConnection() : h(std::make_unique<Handles>()) {}
OdbcConnection::~OdbcConnection() = default;

QString OdbcConnection::connectionString(const AccountParams &p, const QString &driver)
{
    QString host = p.server.trimmed();
    QString port;
    const int comma = host.lastIndexOf(QLatin1Char(','));
    if (comma > 0) {
        port = host.mid(comma + 1).trimmed();
        host = host.left(comma).trimmed();
    }
    QString s = QStringLiteral("DRIVER=%1;SERVER=%2;").arg(driver, braced(host));
    if (!port.isEmpty())
        s += QStringLiteral("PORT=%1;").arg(port);
    s += QStringLiteral("DATABASE=%1;UID=%2;PWD=%3;TDS_Version=7.4;ClientCharset=UTF-8;")
             .arg(braced(p.database), braced(p.user), braced(p.password));
    return s;
}

std::unique_ptr<OdbcConnection> OdbcConnection::open(const AccountParams &params, int loginTimeoutSeconds,
                                                     bool identifySocket)
{
    for (const QString *v : {&params.server, &params.database, &params.user, &params.password})
        if (v->contains(QLatin1String("};")))
            throw DbError(v == &params.password ? QStringLiteral("密码中含有“};”，FreeTDS 驱动无法传递这样的密码")
                                                : QStringLiteral("连接参数中不能含有“};”：%1").arg(*v));
    std::unique_ptr<OdbcConnection> c(new OdbcConnection);
    Handles &h = *c->h;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h.env)))
        throw DbError(QStringLiteral("无法初始化 ODBC 环境"));
    SQLSetEnvAttr(h.env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, h.env, &h.dbc)))
        throw DbError(QStringLiteral("无法分配 ODBC 连接句柄"));
    SQLSetConnectAttr(h.dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLLEN(loginTimeoutSeconds)), 0);

    QStringList drivers{QStringLiteral("{FreeTDS}")};
    const QString lib = driverLibrary();
    if (!lib.isEmpty())
        drivers << lib;
    std::vector<Diagnostic> last;
    for (const QString &driver : drivers) {
        const QString cs = connectionString(params, driver);
        SQLWCHAR out[1024];
        SQLSMALLINT outLen = 0;
        // Logins of this process take turns, so that the one new socket is this login's; a login
        // that waits too long for its turn (another one hangs) goes ahead without knowing its socket.
        std::unique_lock turn(g_loginMutex, std::defer_lock);
        if (identifySocket)
            (void)turn.try_lock_for(std::chrono::seconds(2));
        const std::set<ino_t> before = tcpSockets();
        const SQLRETURN rc = SQLDriverConnectW(h.dbc, nullptr, const_cast<SQLWCHAR *>(wide(cs)), SQL_NTS, out,
                                               SQLSMALLINT(std::size(out)), &outLen, SQL_DRIVER_NOPROMPT);
        if (SQL_SUCCEEDED(rc)) {
            h.connected = true;
            // The driver's socket: the one stream socket that appeared during the login and that no
            // other connection has claimed.
            if (turn.owns_lock()) {
                const std::lock_guard lock(g_claimMutex);
                std::vector<ino_t> fresh;
                for (ino_t i : tcpSockets())
                    if (!before.count(i) && !g_claimed.count(i))
                        fresh.push_back(i);
                if (fresh.size() == 1) {
                    h.socket = fresh.front();
                    g_claimed.insert(h.socket);
                }
            }
            // FreeTDS turns keep-alive on with the system's long defaults; a vanished host or
            // network would keep a statement waiting for hours. Shorter probes end it in minutes.
            const int fd = h.socket ? socketByInode(h.socket) : -1;
            if (fd >= 0) {
                const KeepAlive &k = keepAlive();
                const int on = 1;
                setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
                setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &k.idleSeconds, sizeof k.idleSeconds);
                setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &k.intervalSeconds, sizeof k.intervalSeconds);
                setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &k.count, sizeof k.count);
                // Keep-alive stays silent while sent data waits for its acknowledgement (a batch
                // sent just before the network went away): bound that wait the same way.
                const unsigned userTimeoutMs = 1000u * unsigned(k.idleSeconds + k.intervalSeconds * k.count);
                setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
            }
            SQLSetConnectAttr(h.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
            return c;
        }
        last = diagnostics(SQL_HANDLE_DBC, h.dbc);
        // Only a driver that could not be found or loaded is worth a second attempt.
        const bool driverMissing = !last.empty() && (last.front().state == QLatin1String("IM002")
                                                     || last.front().state == QLatin1String("01000")
                                                     || last.front().state == QLatin1String("IM003"));
        if (!driverMissing)
            break;
    }
    QString text;
    int number = 0;
    QString state;
    for (const Diagnostic &d : last) {
        if (!d.isError() && last.size() > 1)
            continue;
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += d.text;
        if (!number)
            number = d.native;
        if (state.isEmpty())
            state = d.state;
    }
    if (text.isEmpty())
        text = QStringLiteral("无法连接到服务器 %1").arg(params.server);
    throw DbError(text, number, state);
}

bool OdbcConnection::isOpen() const { return h && h->connected && !m_broken; }

void OdbcConnection::cancel()
{
    m_cancel = true;
    const std::lock_guard lock(h->running);
    if (h->stmt != SQL_NULL_HSTMT)
        SQLCancel(h->stmt);
}

void OdbcConnection::abort()
{
    m_cancel = true;
    m_broken = true;
    // shutdown() wakes the driver's wait on the socket; the descriptor stays the driver's to close.
    const int fd = h->socket ? socketByInode(h->socket) : -1;
    if (fd >= 0)
        shutdown(fd, SHUT_RDWR);
}

bool OdbcConnection::connectionDead() const
{
    SQLUINTEGER dead = SQL_CD_FALSE;
    const SQLRETURN rc = SQLGetConnectAttr(h->dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
}

namespace {

// Reads the current row's columns into rs; buf is scratch space kept across rows.
void readRow(SQLHSTMT stmt, Recordset &rs, std::vector<char16_t> &buf)
{
    for (int c = 0; c < rs.columnCount(); ++c) {
        const SQLUSMALLINT col = SQLUSMALLINT(c + 1);
        SQLLEN ind = 0;
        SQLRETURN rc = SQL_SUCCESS;
        switch (rs.column(c).type) {
        case ColumnType::Integer: {
            SQLBIGINT v = 0;
            rc = SQLGetData(stmt, col, SQL_C_SBIGINT, &v, sizeof v, &ind);
            if (SQL_SUCCEEDED(rc))
                ind == SQL_NULL_DATA ? rs.appendNull(c) : rs.appendInteger(c, v);
            break;
        }
        case ColumnType::Boolean: {
            unsigned char v = 0;
            rc = SQLGetData(stmt, col, SQL_C_BIT, &v, sizeof v, &ind);
            if (SQL_SUCCEEDED(rc))
                ind == SQL_NULL_DATA ? rs.appendNull(c) : rs.appendInteger(c, v ? 1 : 0);
            break;
        }
        case ColumnType::Real: {
            double v = 0;
            rc = SQLGetData(stmt, col, SQL_C_DOUBLE, &v, sizeof v, &ind);
            if (SQL_SUCCEEDED(rc))
                ind == SQL_NULL_DATA ? rs.appendNull(c) : rs.appendReal(c, v);
            break;
        }
        case ColumnType::DateTime: {
            SQL_TIMESTAMP_STRUCT ts{};
            rc = SQLGetData(stmt, col, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &ind);
            if (SQL_SUCCEEDED(rc)) {
                if (ind == SQL_NULL_DATA)
                    rs.appendNull(c);
                else
                    rs.appendDateTime(c, QDate(ts.year, ts.month, ts.day),
                                      QTime(ts.hour, ts.minute, ts.second, int(ts.fraction / 1000000)));
            }
            break;
        }
        case ColumnType::Binary: {
            QByteArray bytes;
            for (;;) {
                char chunk[4096];
                rc = SQLGetData(stmt, col, SQL_C_BINARY, chunk, sizeof chunk, &ind);
                if (!SQL_SUCCEEDED(rc) || ind == SQL_NULL_DATA)
                    break;
                const SQLLEN got = (ind == SQL_NO_TOTAL || ind > SQLLEN(sizeof chunk)) ? SQLLEN(sizeof chunk) : ind;
                bytes.append(chunk, got);
                if (rc == SQL_SUCCESS)
                    break;
            }
            if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
                ind == SQL_NULL_DATA ? rs.appendNull(c)
                                     : rs.appendText(c, QStringLiteral("0x") + QString::fromLatin1(bytes.toHex().toUpper()));
            if (rc == SQL_NO_DATA)
                rc = SQL_SUCCESS;
            break;
        }
        default: {
            // Wide text, read in pieces until the driver has no more.
            qsizetype used = 0;
            bool isNull = false;
            for (;;) {
                const SQLLEN room = SQLLEN((buf.size() - size_t(used)) * sizeof(char16_t));
                rc = SQLGetData(stmt, col, SQL_C_WCHAR, buf.data() + used, room, &ind);
                if (rc == SQL_NO_DATA) {
                    rc = SQL_SUCCESS;
                    break;
                }
                if (!SQL_SUCCEEDED(rc))
                    break;
                if (ind == SQL_NULL_DATA) {
                    isNull = true;
                    break;
                }
                if (rc == SQL_SUCCESS) {
                    used += qsizetype(ind / SQLLEN(sizeof(char16_t)));
                    break;
                }
                // Truncated: the buffer is full but for its terminator.
                used = qsizetype(buf.size()) - 1;
                const size_t need = (ind != SQL_NO_TOTAL) ? size_t(used) + size_t(ind) / sizeof(char16_t) + 1
                                                          : buf.size() * 2;
                buf.resize(std::max(need, buf.size() * 2));
            }
            if (SQL_SUCCEEDED(rc))
                isNull ? rs.appendNull(c) : rs.appendText(c, buf.data(), used);
            break;
        }
        }
        if (!SQL_SUCCEEDED(rc)) {
            const auto d = diagnostics(SQL_HANDLE_STMT, stmt);
            throw DbError(d.empty() ? QStringLiteral("读取数据失败") : d.front().text, d.empty() ? 0 : d.front().native);
        }
    }
    rs.endRow();
}

// The column's type as SQL Server declares it: the driver's type name with the length of a text or
// binary column ("max" beyond 8000 bytes) and the precision and scale of a decimal.
QString sqlTypeName(SQLHSTMT stmt, SQLUSMALLINT col, SQLULEN size, SQLSMALLINT digits)
{
    SQLWCHAR buf[128];
    SQLSMALLINT bytes = 0;
    if (!SQL_SUCCEEDED(SQLColAttributeW(stmt, col, SQL_DESC_TYPE_NAME, buf, SQLSMALLINT(sizeof buf), &bytes, nullptr)))
        return {};
    const QString name = QString::fromUtf16(reinterpret_cast<const char16_t *>(buf),
                                            qBound(qsizetype(0), qsizetype(bytes / qsizetype(sizeof(SQLWCHAR))), qsizetype(127))).toLower();
    static const QStringList sized{QStringLiteral("char"), QStringLiteral("varchar"), QStringLiteral("nchar"),
                                   QStringLiteral("nvarchar"), QStringLiteral("binary"), QStringLiteral("varbinary")};
    if (sized.contains(name)) {
        const SQLULEN limit = name.startsWith(QLatin1Char('n')) ? 4000 : 8000;
        return name + (size == 0 || size > limit ? QStringLiteral("(max)") : QStringLiteral("(%1)").arg(size));
    }
    if (name == QLatin1String("decimal") || name == QLatin1String("numeric"))
        return QStringLiteral("%1(%2,%3)").arg(name).arg(size).arg(digits);
    return name;
}

Recordset describe(SQLHSTMT stmt, SQLSMALLINT cols)
{
    std::vector<Column> columns;
    for (SQLSMALLINT i = 1; i <= cols; ++i) {
        SQLWCHAR name[512];
        SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeColW(stmt, SQLUSMALLINT(i), name, SQLSMALLINT(std::size(name)), &nameLen, &type, &size, &digits, &nullable);
        columns.push_back({QString::fromUtf16(reinterpret_cast<const char16_t *>(name), qMin<int>(nameLen, 511)),
                           columnTypeFor(type), sqlTypeName(stmt, SQLUSMALLINT(i), size, digits)});
    }
    return Recordset(std::move(columns));
}

} // namespace

Recordset OdbcConnection::query(const QString &sql, qint64 maxRows) { return run(sql, maxRows, 0, nullptr); }

void OdbcConnection::queryChunks(const QString &sql, qint64 chunkRows, const std::function<bool(const Recordset &)> &sink)
{
    run(sql, -1, std::max<qint64>(1, chunkRows), &sink);
}

void OdbcConnection::queryInto(const QString &sql, RowSink &sink) { run(sql, -1, 0, nullptr, &sink); }

std::vector<Recordset> OdbcConnection::queryAll(const QString &sql)
{
    std::vector<Recordset> all;
    run(sql, -1, 0, nullptr, nullptr, &all);
    return all;
}

Recordset OdbcConnection::run(const QString &sql, qint64 maxRows, qint64 chunkRows,
                              const std::function<bool(const Recordset &)> *sink, RowSink *rowSink,
                              std::vector<Recordset> *all)
{
    m_messages.clear();
    if (!isOpen())
        throw DbError(m_broken ? QStringLiteral("与数据库服务器的连接已断开") : QStringLiteral("数据库连接未打开"));
    if (m_cancel)
        throw DbError(QStringLiteral("已停止"), 0, QStringLiteral("HY008"));
    Statement st(h->dbc);
    // Published for cancel() while the statement runs; withdrawn before the handle is freed.
    struct Running {
        Handles &h;
        Running(Handles &handles, SQLHSTMT stmt) : h(handles)
        {
            const std::lock_guard lock(h.running);
            h.stmt = stmt;
        }
        ~Running()
        {
            const std::lock_guard lock(h.running);
            h.stmt = SQL_NULL_HSTMT;
        }
    } running(*h, st.stmt);
    std::optional<Recordset> first;
    std::optional<Diagnostic> error;

    auto note = [&](SQLRETURN rc) {
        if (rc == SQL_SUCCESS || rc == SQL_NO_DATA)
            return;
        for (Diagnostic &d : diagnostics(SQL_HANDLE_STMT, st.stmt)) {
            if (d.state.startsWith(QLatin1String("08")))
                m_broken = true;
            if (d.isError() || rc == SQL_ERROR) {
                if (!error)
                    error = d;
            } else {
                m_messages << d.text;
            }
        }
        if (rc == SQL_ERROR && !error)
            error = Diagnostic{QStringLiteral("HY000"), 0, QStringLiteral("数据库返回了未说明的错误")};
    };

    // The text goes with its length, so a NUL inside it cannot end the batch early.
    SQLRETURN rc = SQLExecDirectW(st.stmt, const_cast<SQLWCHAR *>(wide(sql)), SQLINTEGER(sql.size()));
    note(rc);
    bool more = rc != SQL_ERROR || !m_broken;
    // The next row of the current result set; false at its end or on an error (noted).
    const auto fetch = [&] {
        const SQLRETURN f = SQLFetch(st.stmt);
        if (f == SQL_NO_DATA)
            return false;
        note(f);
        return bool(SQL_SUCCEEDED(f));
    };
    for (int guard = 0; more && guard < 1000000; ++guard) {
        if (m_broken || m_cancel)
            break;
        if (SQL_SUCCEEDED(rc)) {
            SQLSMALLINT cols = 0;
            SQLNumResultCols(st.stmt, &cols);
            if (all && cols > 0 && !error) {
                // Every result set of the batch, each read whole.
                Recordset rs = describe(st.stmt, cols);
                std::vector<char16_t> buf(4096);
                while (!m_cancel && fetch())
                    readRow(st.stmt, rs, buf);
                rs.squeeze();
                all->push_back(std::move(rs));
            } else if (cols > 0 && !first && !error) {
                first = describe(st.stmt, cols);
                Recordset *rows = &*first;
                if (rowSink) {
                    const std::unique_lock lock(*rowSink->lock);
                    *rowSink->target = std::move(*first);
                    rows = rowSink->target;
                }
                qint64 nextReport = rowSink ? rowSink->firstRows : -1;
                std::vector<char16_t> buf(4096);
                bool wanted = true;
                while ((maxRows < 0 || rows->rowCount() < maxRows) && !m_cancel && fetch()) {
                    if (rowSink) {
                        {
                            const std::unique_lock lock(*rowSink->lock);
                            readRow(st.stmt, *rows, buf);
                        }
                        if (rows->rowCount() == nextReport) {
                            nextReport += rowSink->chunkRows;
                            if (rowSink->progress)
                                rowSink->progress(rows->rowCount());
                        }
                        continue;
                    }
                    readRow(st.stmt, *first, buf);
                    // Streaming: hand over a full piece and start the next one empty.
                    if (sink && first->rowCount() >= chunkRows) {
                        wanted = (*sink)(*first);
                        first = describe(st.stmt, cols);
                        rows = &*first;
                        if (!wanted)
                            break;
                    }
                }
                if (sink && wanted && !error && first->rowCount() > 0) {
                    (*sink)(*first);
                    first = describe(st.stmt, cols);
                }
                if (rowSink) {
                    {
                        const std::unique_lock lock(*rowSink->lock);
                        rows->squeeze();
                    }
                    if (rowSink->progress)
                        rowSink->progress(rows->rowCount());
                }
            }
        }
        rc = SQLMoreResults(st.stmt);
        if (rc == SQL_NO_DATA)
            break;
        note(rc);
    }
    if (m_cancel && !m_broken)
        throw DbError(QStringLiteral("已停止"), 0, QStringLiteral("HY008"));
    if (error) {
        if (error->state.startsWith(QLatin1String("08")) || connectionDead())
            m_broken = true;
        if (m_broken)
            throw DbError(QStringLiteral("与数据库服务器的连接已断开：") + error->text, error->native, error->state);
        throw DbError(error->text, error->native, error->state);
    }
    if (rowSink) {
        if (!first) {
            const std::unique_lock lock(*rowSink->lock);
            *rowSink->target = Recordset();
        }
        return Recordset();
    }
    if (!first)
        first = Recordset();
    first->squeeze();
    return std::move(*first);
}

void OdbcConnection::execute(const QString &sql) { query(sql, 0); }

} // namespace vireo::db
