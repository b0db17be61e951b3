/* Copy of a Jet (.mdb) file's user tables into a new SQLite database. */
#ifndef VIREO_MDB_IMPORT_H
#define VIREO_MDB_IMPORT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Copies every user table of the Jet file at mdb_path, with all its columns and rows, into a new
 * SQLite database at sqlite_path (replaced when it exists), in one transaction.
 * Returns 0 on success; otherwise a non-zero value and a UTF-8 message in err. */
int vireo_mdb_import(const char *mdb_path, const char *sqlite_path, char *err, size_t err_size);

/* Called with the rows copied so far at the start of each table and after every 10,000 rows. */
void vireo_mdb_import_set_progress(void (*report)(long long rows));

#ifdef __cplusplus
}
#endif

#endif
