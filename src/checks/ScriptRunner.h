#pragma once
#include "Connection.h"
#include <QString>
#include <QStringList>

namespace vireo {

// Cuts script lines into batches: each gathered line + one blank + CR LF. A separator line is "GO"
// in any letter case at the very start of the line, followed by nothing, blanks or tabs, an
// optional repeat count (the batch is kept that many times) and an optional "--" comment; any
// other line, "GOTO x" or "goods = 1" included, belongs to the batch. The count runs from 1 to
// 9999; a larger one leaves the line in the batch, where the server rejects it. Empty batches are
// not kept.
QStringList splitBatches(const QStringList &lines);

// The repeat count of a separator line as splitBatches reads it; 0 when the line is not one.
int separatorRepeat(const QString &line);

// Runs a script file batch by batch on the connection. Empty when the whole script ran; otherwise
// the reason it stopped (the file could not be read, it holds a NUL character or bytes that do
// not decode, in which case nothing of it was sent, or the database's message for the failing batch).
QString RunSqlFile(const QString &fileName, const QString &folder, db::Connection *conn);

} // namespace vireo
