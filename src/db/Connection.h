#pragma once
#include "DbError.h"
#include "Recordset.h"
#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace vireo::db {

// Where query rows go while they arrive: the recordset they are appended to (replaced by the
// result's columns first), the lock held exclusively for each change to it, and a report of the
// row count after the first firstRows rows, then every chunkRows rows and at the end.
struct RowSink {
    Recordset *target = nullptr;
    std::shared_mutex *lock = nullptr;
    qint64 firstRows = 200;
    qint64 chunkRows = 10000;
    std::function<void(qint64 rows)> progress;
};

// One open database connection. Every call is synchronous and surfaces every error.
class Connection {
public:
    virtual ~Connection() = default;

    virtual bool isOpen() const = 0;

    // Sends the whole text as one batch, drains every result and row count, discards the rows,
    // and throws DbError with the server's message when any statement in it failed.
    virtual void execute(const QString &sql) = 0;

    // The rows of the first result set that has columns (at most maxRows when maxRows >= 0).
    // The rest of the batch is drained; an error anywhere in it throws DbError.
    virtual Recordset query(const QString &sql, qint64 maxRows = -1) = 0;

    // Every result set that has columns, in order, each with all its rows. Errors throw DbError
    // as query() does.
    virtual std::vector<Recordset> queryAll(const QString &sql) { return {query(sql)}; }

    // The rows of the first result set, handed to sink in pieces of at most chunkRows rows as
    // they arrive; sink returns false to read no further. Errors throw DbError as query() does.
    virtual void queryChunks(const QString &sql, qint64 chunkRows, const std::function<bool(const Recordset &)> &sink)
    {
        (void)chunkRows;
        sink(query(sql));
    }

    // As query(), with the rows handed over while they arrive.
    virtual void queryInto(const QString &sql, RowSink &sink)
    {
        Recordset rs = query(sql);
        const qint64 n = rs.rowCount();
        {
            const std::unique_lock lock(*sink.lock);
            *sink.target = std::move(rs);
        }
        if (sink.progress)
            sink.progress(n);
    }

    // Informational messages (PRINT and the like) of the last call.
    virtual QStringList messages() const { return {}; }

    // Safe from any thread while another thread runs a statement on this connection:
    // cancel() asks the server to stop the running statement, and every statement sent after
    // it fails at once until resetCancel(); abort() drops the connection under a statement that
    // the server never ends (the call then fails as a lost connection).
    virtual void cancel() {}
    virtual void resetCancel() {}
    virtual bool cancelRequested() const { return false; }
    virtual void abort() {}
};

} // namespace vireo::db
