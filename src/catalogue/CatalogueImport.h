#pragma once
#include "SqliteConnection.h"
#include <QString>
#include <memory>

namespace vireo {

// Reads the Jet catalogue at mdbPath into an in-memory SQLite database: every user table with all
// its columns (Yes/No as BOOLEAN 0/1, numbers keep their type, dates as 'yyyy-MM-dd HH:mm:ss',
// text compared without regard to letter case, NULL kept apart from empty text).
// The file is read by the importer executable (default: vireo-mdb-import beside the running
// program, else in ../libexec/vireo/ or ../libexec/ from it) in a child process, so a damaged file cannot crash or hang the caller.
// Throws db::DbError naming the file when it is missing, not a Jet database, truncated or damaged.
std::unique_ptr<db::SqliteConnection> openCatalogue(const QString &mdbPath, const QString &importerPath = {});

// The importer's file name inside the program folder.
QString catalogueImporterName();

} // namespace vireo
