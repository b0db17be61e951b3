#include "AccountWorker.h"
#include "RunGuard.h"
#include "ServerWatch.h"
#include "Session.h"
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
    Pending pending;
    std::thread thread;
    std::mutex m;
    db::Connection *conn = nullptr;        // the connection the job runs on (set on the job's thread)
    std::unique_ptr<RunGuard> guard;       // stops its statements; set with conn
    bool done = false;
    bool cancel = false;
    QString cancelReason;
    std::exception_ptr error;
};

AccountWorker::AccountWorker(QObject *parent) : QObject(parent) {}
AccountWorker::~AccountWorker() = default;

QString AccountWorker::JobEnd::errorText() const
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const db::DbError &e) {
        return e.message();
    } catch (const std::bad_alloc &) {
        return QStringLiteral("内存不足");
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("未知错误");
    }
}

quint64 AccountWorker::submit(const QString &label, Job job, QObject *context, Done done)
{
    const quint64 id = m_nextId++;
    m_queue.push_back(Pending{id, label, std::move(job), QPointer<QObject>(context), context != nullptr, std::move(done)});
    startNext();
    return id;
}

void AccountWorker::startNext()
{
    if (m_busy || m_queue.empty())
        return;
    auto r = std::make_shared<Running>();
    r->pending = std::move(m_queue.front());
    m_queue.pop_front();
    m_busy = true;
    m_runningId = r->pending.id;
    m_label = r->pending.label;
    m_clock.start();
    m_cancelRequested = false;
    m_silentForMs = 0;
    m_failedProbes = 0;
    m_running = r;
    emit started(m_label);

    const QPointer<AccountWorker> self(this);
    r->thread = std::thread([r, self] {
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
            RunGuard::Options options;
            options.cancelWaitMs = settings().cancelWaitMs;
            // The window reports a silent server and leaves stopping to the user.
            options.failedProbesToGiveUp = 0;
            options.onProbe = [self](int failed, qint64 silentMs) {
                QMetaObject::invokeMethod(self, [self, failed, silentMs] {
                    if (!self || !self->m_busy)
                        return;
                    self->m_failedProbes = failed;
                    self->m_silentForMs = silentMs;
                    self->m_silentClock.start();
                    emit self->serverSilent(failed, silentMs);
                }, Qt::QueuedConnection);
            };
            {
                const std::lock_guard lock(r->m);
                r->conn = s.accountConn.get();
                if (r->conn) {
                    r->conn->resetCancel();
                    r->guard = std::make_unique<RunGuard>(r->conn, s.accountParams, options);
                    if (r->cancel)
                        r->guard->cancel(r->cancelReason);
                }
            }
            r->pending.job(r->conn);
        } catch (...) {
            r->error = std::current_exception();
        }
        std::unique_ptr<RunGuard> guard;
        {
            const std::lock_guard lock(r->m);
            r->done = true;
            guard = std::move(r->guard);
        }
        guard.reset();
        QMetaObject::invokeMethod(self, [self, r] {
            if (self)
                self->jobEnded(r);
        }, Qt::QueuedConnection);
    });
}

void AccountWorker::jobEnded(const std::shared_ptr<Running> &r)
{
    // The thread has posted its last message; it touches nothing of ours after it.
    r->thread.join();
    JobEnd end;
    end.cancelled = m_cancelRequested;
    end.cancelReason = r->cancelReason;
    end.error = r->error;
    if (r->conn)
        r->conn->resetCancel();
    const QString label = m_label;
    m_busy = false;
    m_running.reset();
    m_silentForMs = 0;
    m_failedProbes = 0;
    emit finished(label, end.cancelled);
    // The next job starts before this one's caller is told, so the queue never waits on it.
    startNext();
    if (r->pending.done && (!r->pending.hasContext || r->pending.context))
        r->pending.done(end);
}

void AccountWorker::cancel(const QString &reason, quint64 job)
{
    // A job that has not started yet is taken out of the queue and ends as stopped.
    for (auto it = m_queue.begin(); job && it != m_queue.end(); ++it) {
        if (it->id != job)
            continue;
        Pending p = std::move(*it);
        m_queue.erase(it);
        JobEnd end;
        end.cancelled = true;
        end.cancelReason = reason;
        if (p.done && (!p.hasContext || p.context))
            p.done(end);
        return;
    }
    const std::shared_ptr<Running> r = m_running;
    if (!m_busy || !r || m_cancelRequested || (job && job != m_runningId))
        return;
    m_cancelRequested = true;
    {
        const std::lock_guard lock(r->m);
        r->cancel = true;
        r->cancelReason = reason;
        if (r->done || !r->guard)
            return;
        r->guard->cancel(reason);
    }
    // The guard drops a connection whose server never acknowledges the cancel; the status bar says so.
    QTimer::singleShot(settings().cancelWaitMs + 200, this, [this, r] {
        const std::lock_guard lock(r->m);
        if (!r->done && r->conn && !r->conn->isOpen())
            emit notice(QStringLiteral("服务器没有确认停止，连接已断开；下次执行时将重新连接"));
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
