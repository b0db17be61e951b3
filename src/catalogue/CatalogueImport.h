#pragma once
#include "SqliteConnection.h"
#include <QString>
#include <functional>
#include <memory>

namespace vireo {

// Reads the Jet catalogue at mdbPath into an in-memory SQLite database: every user table with all
// its columns (Yes/No as BOOLEAN 0/1, numbers keep their type, dates as 'yyyy-MM-dd HH:mm:ss',
// text compared without regard to letter case, NULL kept apart from empty text).
// The file is read by the importer executable (default: vireo-mdb-import beside the running
// program, else in ../libexec/vireo/ or ../libexec/ from it) in a child process, so a damaged file cannot crash or hang the caller.
// Throws db::DbError naming the file when it is missing, not a Jet database, truncated or damaged,
// or when the importer makes no progress for several seconds (it reports every 10,000 rows).
// progress receives the rows read so far about every 100 ms while the import runs.
std::unique_ptr<db::SqliteConnection> openCatalogue(const QString &mdbPath, const QString &importerPath = {},
                                                    const std::function<void(qint64 rows)> &progress = {});

// A second in-memory copy of an open catalogue, for another thread (a catalogue connection belongs
// to the thread that opened it); the source must not be in use meanwhile.
std::unique_ptr<db::SqliteConnection> copyCatalogue(db::SqliteConnection &source);

// The importer's file name inside the program folder.
QString catalogueImporterName();

} // namespace vireo
