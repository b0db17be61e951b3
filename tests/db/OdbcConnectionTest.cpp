#include "OdbcConnection.h"
#include "StandIn.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <ctime>
#include <unistd.h>

using namespace vireo;

// The error that f raises; number -1 and "no error" when it raises none.
template <class F> db::DbError errorOf(F f)
{
    try {
        f();
    } catch (const db::DbError &e) {
        return e;
    }
    return db::DbError(QStringLiteral("no error"), -1);
}

class OdbcOnServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::StandIn::Options o;
        o.databases = {QStringLiteral("QZdata_001_2024"), QStringLiteral("QZdata_002_2024")};
        o.password = QStringLiteral("pa;ss}w=rd");
        o.serverName = QStringLiteral("ERPSQL01");
        server = new test::StandIn(o);
    }
    static void TearDownTestSuite() { delete server; server = nullptr; }
    void SetUp() override { conn = server->connect(); }
    static test::StandIn *server;
    std::unique_ptr<db::OdbcConnection> conn;
};
test::StandIn *OdbcOnServer::server = nullptr;

TEST_F(OdbcOnServer, TypesNullsAndChineseTextRoundTrip)
{
    conn->execute(QStringLiteral("create table tempdb..T1 (n int, big bigint, f float, m money, b bit, d datetime, "
                                 "s nvarchar(2), v varchar(20))"));
    conn->execute(QStringLiteral("insert into tempdb..T1 values (42, 9000000000, 1.5, 12.34, 1, '2024-03-05 06:07:08', "
                                 "N'检查', '凭证')"));
    conn->execute(QStringLiteral("insert into tempdb..T1 values (null, null, null, null, null, null, null, '')"));
    const db::Recordset rs = conn->query(QStringLiteral("select * from tempdb..T1 order by n desc"));
    ASSERT_TRUE(rs.columnCount() == 8 && rs.rowCount() == 2);
    using T = db::ColumnType;
    const T types[] = {T::Integer, T::Integer, T::Real, T::Decimal, T::Boolean, T::DateTime, T::Text, T::Text};
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(int(rs.column(c).type), int(types[c])) << c;
    EXPECT_EQ(rs.value(0, 0).toLongLong(), 42);
    EXPECT_EQ(rs.value(0, 1).toLongLong(), 9000000000LL);
    EXPECT_DOUBLE_EQ(rs.value(0, 2).toDouble(), 1.5);
    EXPECT_DOUBLE_EQ(rs.number(0, 3), 12.34);
    EXPECT_TRUE(rs.value(0, 4).toBool());
    EXPECT_EQ(rs.value(0, 5).toDateTime(), QDateTime(QDate(2024, 3, 5), QTime(6, 7, 8), Qt::UTC));
    EXPECT_EQ(rs.text(0, 6) + QLatin1Char('|') + rs.text(0, 7), QStringLiteral("检查|凭证"));
    for (int c = 0; c < 7; ++c)
        EXPECT_TRUE(rs.isNull(1, c)) << c;
    EXPECT_TRUE(!rs.isNull(1, 7) && rs.text(1, 7).isEmpty());
    conn->execute(QStringLiteral("drop table tempdb..T1"));
    // The suite's stand-in runs under a name of its own.
    EXPECT_EQ(conn->query(QStringLiteral("select @@servername")).text(0, 0), QStringLiteral("ERPSQL01"));
}

// datetime values are wall-clock values: times New York's clock skips (10 March 2024) or repeats (3 November)
// come back as stored, as value, as text and as the milliseconds that exports and fingerprints read.
TEST_F(OdbcOnServer, DateTimesKeepTheirWallClockInAZoneWithSummerTime)
{
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "America/New_York");
    tzset();
    const db::Recordset rs = conn->query(QStringLiteral("select cast('2024-03-10 02:30:00.500' as datetime), "
                                                        "cast('2024-11-03 01:30:00' as datetime), cast('2024-03-10' as datetime)"));
    const QDateTime want[] = {QDateTime(QDate(2024, 3, 10), QTime(2, 30, 0, 500), Qt::UTC),
                              QDateTime(QDate(2024, 11, 3), QTime(1, 30), Qt::UTC), QDateTime(QDate(2024, 3, 10), QTime(0, 0), Qt::UTC)};
    const char *text[] = {"2024-03-10 02:30:00", "2024-11-03 01:30:00", "2024-03-10"};
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(rs.value(0, c).toDateTime(), want[c]) << c;
        EXPECT_EQ(rs.integer(0, c), want[c].toMSecsSinceEpoch()) << c;
        EXPECT_EQ(rs.text(0, c), QString::fromLatin1(text[c])) << c;
    }
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    tzset();
}

TEST_F(OdbcOnServer, ErrorsAnywhereInABatchAreReportedWithTheServerText)
{
    const db::DbError e = errorOf([&] { conn->execute(QStringLiteral("select 1 as a\r\nselect * from tempdb..Missing \r\n")); });
    EXPECT_EQ(e.number(), 208);
    EXPECT_TRUE(e.message().contains(QStringLiteral("Missing"))) << e.message().toStdString();
    EXPECT_EQ(errorOf([&] { return conn->query(QStringLiteral("select 1 as a select 1/0 as b")); }).number(), 8134);
    EXPECT_EQ(errorOf([&] { conn->execute(QStringLiteral("print 'x' raiserror('凭证不平衡', 16, 1)")); }).message(),
              QStringLiteral("凭证不平衡"));
    // The connection stays usable after statement errors.
    EXPECT_EQ(conn->query(QStringLiteral("select 7 as n")).text(0, 0), QStringLiteral("7"));
    EXPECT_TRUE(conn->isOpen());
}

// Rows handed over in pieces as they arrive: every row once, in order; a sink that declines
// ends the reading and the connection goes on.
TEST_F(OdbcOnServer, QueryChunksStreamsEveryRowOnceAndStopsWhenAsked)
{
    conn->execute(QStringLiteral("create table tempdb..Chunks (n int); insert into tempdb..Chunks values (1),(2),(3),(4),(5)"));
    for (const int stopAfter : {0, 2}) {
        QStringList seen, pieces;
        conn->queryChunks(QStringLiteral("select n from tempdb..Chunks order by n"), 2, [&](const db::Recordset &rs) {
            pieces << QString::number(rs.rowCount());
            for (qint64 r = 0; r < rs.rowCount(); ++r)
                seen << rs.text(r, 0);
            return stopAfter == 0 || pieces.size() < stopAfter;
        });
        // the rows, then the size of each piece
        EXPECT_EQ(seen.join(QLatin1Char(',')) + QLatin1Char('/') + pieces.join(QLatin1Char(',')),
                  stopAfter ? QStringLiteral("1,2,3,4/2,2") : QStringLiteral("1,2,3,4,5/2,2,1"));
    }
    EXPECT_EQ(conn->query(QStringLiteral("select 7 as n")).text(0, 0), QStringLiteral("7"));
}

TEST_F(OdbcOnServer, LoginFailuresNameTheCauseButNeverThePassword)
{
    db::AccountParams p = server->params();
    p.password = QStringLiteral("wrong-secret");
    const QString refused = errorOf([&] { return db::OdbcConnection::open(p, 5); }).message();
    EXPECT_TRUE(refused.contains(QStringLiteral("Login failed")) && !refused.contains(QStringLiteral("wrong-secret")));
    p = server->params(QStringLiteral("QZdata_999_2024"));
    EXPECT_THROW(db::OdbcConnection::open(p, 5), db::DbError);
    // host,port and host alone with PORT are both accepted forms.
    p = server->params(QStringLiteral("QZdata_002_2024"));
    p.server = QStringLiteral("localhost , %1").arg(server->port());
    auto other = db::OdbcConnection::open(p, 5);
    EXPECT_EQ(other->query(QStringLiteral("select db_name() as d")).text(0, 0), QStringLiteral("QZdata_002_2024"));
}

TEST(ConnectionString, QuotesValuesSoDelimitersCannotLeak)
{
    db::AccountParams p{QStringLiteral("srv\\inst"), QStringLiteral("QZdata_001_2024"), QStringLiteral("SA"),
                        QStringLiteral("a;b}c")};
    const QString cs = db::OdbcConnection::connectionString(p, QStringLiteral("{FreeTDS}"));
    EXPECT_TRUE(cs.contains(QStringLiteral("SERVER={srv\\inst};")) && !cs.contains(QStringLiteral("PORT="))
                && cs.contains(QStringLiteral("PWD={a;b}c};")));
    p.password = QStringLiteral("x};y");
    EXPECT_THROW(db::OdbcConnection::open(p, 1), db::DbError);
    p.server = QStringLiteral("10.0.0.5,1533");
    EXPECT_TRUE(db::OdbcConnection::connectionString(p, QStringLiteral("{FreeTDS}"))
                    .contains(QStringLiteral("SERVER={10.0.0.5};PORT=1533;")));
}

TEST(OdbcLostServer, AVanishedServerFailsFastAndMarksTheConnectionClosed)
{
    auto server = std::make_unique<test::StandIn>();
    auto conn = server->connect();
    EXPECT_EQ(conn->query(QStringLiteral("select 1 as n")).text(0, 0), QStringLiteral("1"));
    server.reset();   // the server process ends; its socket closes
    const QString lost = errorOf([&] { conn->execute(QStringLiteral("select 1 as n")); }).message();
    EXPECT_TRUE(lost.startsWith(QStringLiteral("与数据库服务器的连接已断开"))) << lost.toStdString();
    EXPECT_FALSE(conn->isOpen());
    EXPECT_THROW(conn->query(QStringLiteral("select 1 as n")), db::DbError);
    // A connection that never opened reports why on every statement.
    db::ClosedConnection closed(QStringLiteral("Login failed for user 'SA'."));
    EXPECT_EQ(errorOf([&] { closed.execute(QStringLiteral("select 1")); }).message(), QStringLiteral("Login failed for user 'SA'."));
}

// A network that drops every packet (the server's host gone silent): the keep-alive probes on the
// driver's socket end the waiting statement. Needs root and iptables to drop the packets.
TEST(OdbcLostServer, PacketsDroppedOnTheWayEndAWaitingStatementThroughKeepAlive)
{
    const QString iptables = QStandardPaths::findExecutable(QStringLiteral("iptables"),
                                                            {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (geteuid() != 0 || iptables.isEmpty())
        GTEST_SKIP() << "dropping the server's packets needs root and iptables (root: " << (geteuid() == 0)
                     << ", iptables found: " << !iptables.isEmpty() << ")";
    test::StandIn server;
    const db::OdbcConnection::KeepAlive saved = db::OdbcConnection::keepAlive();
    db::OdbcConnection::keepAlive() = {2, 1, 3};
    auto conn = server.connect();
    db::OdbcConnection::keepAlive() = saved;
    const QStringList rule = QStringLiteral("INPUT -p tcp -i lo --sport %1 -j DROP").arg(server.port()).split(QLatin1Char(' '));
    if (QProcess::execute(iptables, QStringList{QStringLiteral("-I")} + rule) != 0)
        GTEST_SKIP() << "iptables could not add a rule here (no NET_ADMIN capability?)";
    struct Undo {
        QString iptables;
        QStringList rule;
        ~Undo() { QProcess::execute(iptables, QStringList{QStringLiteral("-D")} + rule); }
    } undo{iptables, rule};
    QElapsedTimer clock;
    clock.start();
    const QString lost = errorOf([&] { conn->execute(QStringLiteral("waitfor delay '00:02:00'")); }).message();
    EXPECT_TRUE(lost.startsWith(QStringLiteral("与数据库服务器的连接已断开"))) << lost.toStdString();
    EXPECT_LT(clock.elapsed(), 30000);
}
