#include "StandIn.h"
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <stdexcept>

namespace vireo::test {

StandIn::StandIn() : StandIn(Options{}) {}

StandIn::StandIn(Options options) : m_options(std::move(options))
{
    QStringList args{QStringLiteral(VIREO_STANDIN), QStringLiteral("--port"), QStringLiteral("0"),
                     QStringLiteral("--exit-on-stdin-eof")};
    if (!m_options.password.isEmpty()) {  // through the environment, never on the command line
        args << QStringLiteral("--password-env") << QStringLiteral("STANDIN_PASSWORD");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("STANDIN_PASSWORD"), m_options.password);
        m_proc.setProcessEnvironment(env);
    }
    for (const QString &db : m_options.databases)
        args << QStringLiteral("--database") << db;
    for (const QString &f : m_options.initFiles)
        args << QStringLiteral("--init") << f;
    for (const QString &f : m_options.initEachFiles)
        args << QStringLiteral("--init-each") << f;
    if (m_options.log)
        args << QStringLiteral("--log");
    if (!m_options.serverName.isEmpty())
        args << QStringLiteral("--server-name") << m_options.serverName;
    m_proc.setProcessChannelMode(QProcess::SeparateChannels);
    m_proc.start(QStringLiteral("/usr/bin/python3"), args);
    if (!m_proc.waitForStarted(10000))
        throw std::runtime_error("the SQL Server stand-in did not start");
    QDeadlineTimer deadline(20000);
    QByteArray out;
    static const QRegularExpression re(QStringLiteral("listening 127\\.0\\.0\\.1:(\\d+)"));
    while (!deadline.hasExpired()) {
        if (!m_proc.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        out += m_proc.readAllStandardOutput();
        const auto m = re.match(QString::fromUtf8(out));
        if (m.hasMatch()) {
            m_port = m.captured(1).toInt();
            return;
        }
    }
    const QByteArray err = m_proc.readAllStandardError();
    m_proc.kill();
    m_proc.waitForFinished(2000);
    throw std::runtime_error("the SQL Server stand-in did not report its port: " + err.toStdString());
}

StandIn::~StandIn()
{
    if (m_proc.state() != QProcess::NotRunning) {
        m_proc.closeWriteChannel();
        m_proc.terminate();
        if (!m_proc.waitForFinished(3000)) {
            m_proc.kill();
            m_proc.waitForFinished(2000);
        }
    }
}

QString StandIn::log()
{
    // Drains the pipe until the stand-in has been quiet for a moment.
    m_proc.setReadChannel(QProcess::StandardError);
    while (m_proc.waitForReadyRead(200))
        m_log += m_proc.readAllStandardError();
    m_log += m_proc.readAllStandardError();
    m_proc.setReadChannel(QProcess::StandardOutput);
    return QString::fromUtf8(m_log);
}

QString StandIn::server() const { return QStringLiteral("127.0.0.1,%1").arg(m_port); }

db::AccountParams StandIn::params(const QString &database) const
{
    db::AccountParams p;
    p.server = server();
    p.database = database.isEmpty() ? m_options.databases.value(0) : database;
    p.password = m_options.password;
    return p;
}

std::unique_ptr<db::OdbcConnection> StandIn::connect(const QString &database) const
{
    return db::OdbcConnection::open(params(database));
}

bool checkLockIsFree(db::Connection &other)
{
    const qint64 r = other.query(QStringLiteral("set nocount on declare @r int exec @r = tempdb..sp_getapplock "
                                                "@Resource = N'Vireo数据体检:tempdb..VUZ', @LockMode = 'Exclusive', "
                                                "@LockOwner = 'Session', @LockTimeout = 0 select @r as r"))
                         .integer(0, 0);
    if (r >= 0)
        other.execute(QStringLiteral("exec tempdb..sp_releaseapplock @Resource = N'Vireo数据体检:tempdb..VUZ', @LockOwner = 'Session'"));
    return r >= 0;
}

} // namespace vireo::test
