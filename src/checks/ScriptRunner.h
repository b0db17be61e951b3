#pragma once
#include "Connection.h"
#include <QString>
#include <QStringList>

namespace vireo {

// Cuts script lines into batches: each gathered line + one blank + CR LF; a line whose first two
// characters are "GO" in any letter case separates batches; empty batches are not kept.
QStringList splitBatches(const QStringList &lines);

// Runs a script file batch by batch on the connection. Empty when the whole script ran; otherwise
// the reason it stopped (the file could not be read, or the database's message for the failing batch).
QString RunSqlFile(const QString &fileName, const QString &folder, db::Connection *conn);

} // namespace vireo
