#include "AccountWorker.h"
#include "ServerWatch.h"
#include "Session.h"
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <mutex>
#include <thread>

namespace vireo {

AccountWorker::Settings &AccountWorker::settings()
{
    static Settings s;
    return s;
}

// One job on its way: shared by the window thread and the job's thread.
struct AccountWorker::Running {
    db::Connection *conn = nullptr;   // the connection the job runs on (set on the job's thread)
    std::mutex m;
    bool done = false;
    bool cancel = false;
    std::exception_ptr error;
    QEventLoop *loop = nullptr;       // window thread only
};

AccountWorker::AccountWorker(QObject *parent) : QObject(parent) {}
AccountWorker::~AccountWorker() = default;

bool AccountWorker::run(const QString &label, const Job &job)
{
    // Jobs of other callers (another window) run first, one at a time.
    while (m_busy) {
        QEventLoop wait;
        connect(this, &AccountWorker::finished, &wait, &QEventLoop::quit);
        wait.exec();
    }
    m_busy = true;
    m_label = label;
    m_clock.start();
    m_cancelRequested = false;
    m_silentForMs = 0;
    m_failedProbes = 0;
    auto r = std::make_shared<Running>();
    m_running = r;
    emit started(label);

    Session &s = session();
    std::unique_ptr<ServerWatch> watch;
    if (s.accountParams)
        watch = std::make_unique<ServerWatch>(*s.accountParams, [this](int failed, qint64 silentMs) {
            QMetaObject::invokeMethod(this, [this, failed, silentMs] {
                if (!m_busy)
                    return;
                m_failedProbes = failed;
                m_silentForMs = silentMs;
                emit serverSilent(failed, silentMs);
            }, Qt::QueuedConnection);
        });

    QEventLoop loop;
    r->loop = &loop;
    const QPointer<AccountWorker> self(this);
    std::thread thread([r, job, self] {
        try {
            Session &s = session();
            // A connection that was lost is opened again with the credentials of the last login.
            if (s.accountParams && (!s.accountConn || !s.accountConn->isOpen())) {
                QMetaObject::invokeMethod(self, [self] {
                    if (self)
                        emit self->notice(QStringLiteral("与数据库服务器的连接已断开，正在重新连接…"));
                }, Qt::QueuedConnection);
                QString result;
                bool failed = false;
                try {
                    s.accountConn = db::OdbcConnection::open(*s.accountParams);
                    result = QStringLiteral("已重新连接数据库服务器");
                } catch (const db::DbError &e) {
                    s.accountConn = std::make_unique<db::ClosedConnection>(QStringLiteral("重新连接数据库服务器失败：")
                                                                          + e.message());
                    result = QStringLiteral("重新连接数据库服务器失败：") + e.message();
                    failed = true;
                }
                QMetaObject::invokeMethod(self, [self, result, failed] {
                    if (!self)
                        return;
                    emit self->notice(result);
                    if (failed)
                        emit self->reconnectFailed(result);
                }, Qt::QueuedConnection);
            }
            {
                const std::lock_guard lock(r->m);
                r->conn = s.accountConn.get();
                if (r->conn) {
                    r->conn->resetCancel();
                    if (r->cancel)
                        r->conn->cancel();
                }
            }
            job(r->conn);
        } catch (...) {
            r->error = std::current_exception();
        }
        {
            const std::lock_guard lock(r->m);
            r->done = true;
        }
        QMetaObject::invokeMethod(self, [r] {
            if (r->loop)
                r->loop->quit();
        }, Qt::QueuedConnection);
    });
    if (!r->done)
        loop.exec();
    r->loop = nullptr;
    // The thread has posted its last message or is about to; it touches nothing of ours after it.
    thread.join();
    watch.reset();

    const bool cancelled = m_cancelRequested;
    if (r->conn)
        r->conn->resetCancel();
    m_busy = false;
    m_running.reset();
    m_silentForMs = 0;
    m_failedProbes = 0;
    emit finished(label, cancelled);
    if (r->error)
        std::rethrow_exception(r->error);
    return !cancelled;
}

void AccountWorker::cancel()
{
    const std::shared_ptr<Running> r = m_running;
    if (!m_busy || !r || m_cancelRequested)
        return;
    m_cancelRequested = true;
    {
        const std::lock_guard lock(r->m);
        r->cancel = true;
        if (r->done || !r->conn)
            return;
        r->conn->cancel();
    }
    // A server that never acknowledges the cancel (a hung process) would keep the statement
    // waiting for ever: drop the connection; the next job opens it again.
    QTimer::singleShot(settings().cancelWaitMs, this, [this, r] {
        const std::lock_guard lock(r->m);
        if (!r->done && r->conn) {
            r->conn->abort();
            emit notice(QStringLiteral("服务器没有确认停止，连接已断开；下次执行时将重新连接"));
        }
    });
}

AccountWorker &accountWorker()
{
    static AccountWorker *w = new AccountWorker;
    return *w;
}

} // namespace vireo

namespace vireo {

namespace {
template <typename F>
void onHomeThread(QObject *home, F &&f)
{
    if (!home || home->thread() == QThread::currentThread()) {
        f();
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(home, [&] {
        try {
            f();
        } catch (...) {
            error = std::current_exception();
        }
    }, Qt::BlockingQueuedConnection);
    if (error)
        std::rethrow_exception(error);
}
} // namespace

bool HomeThreadConnection::isOpen() const
{
    bool open = false;
    onHomeThread(m_home, [&] { open = m_real && m_real->isOpen(); });
    return open;
}

void HomeThreadConnection::execute(const QString &sql)
{
    onHomeThread(m_home, [&] {
        if (!m_real)
            throw db::DbError(QStringLiteral("目录数据库未打开"));
        m_real->execute(sql);
    });
}

db::Recordset HomeThreadConnection::query(const QString &sql, qint64 maxRows)
{
    db::Recordset rs;
    onHomeThread(m_home, [&] {
        if (!m_real)
            throw db::DbError(QStringLiteral("目录数据库未打开"));
        rs = m_real->query(sql, maxRows);
    });
    return rs;
}

} // namespace vireo
