#pragma once
#include "DbError.h"
#include "Recordset.h"
#include <QString>
#include <QStringList>
#include <functional>

namespace vireo::db {

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

    // The rows of the first result set, handed to sink in pieces of at most chunkRows rows as
    // they arrive; sink returns false to read no further. Errors throw DbError as query() does.
    virtual void queryChunks(const QString &sql, qint64 chunkRows, const std::function<bool(const Recordset &)> &sink)
    {
        (void)chunkRows;
        sink(query(sql));
    }

    // Informational messages (PRINT and the like) of the last call.
    virtual QStringList messages() const { return {}; }
};

} // namespace vireo::db
