/* vireo-mdb-import IN.mdb OUT.sqlite: copies every user table of a Jet file into a new SQLite
 * file. Runs as a child of the program so that a damaged file cannot take the window down. */
#include "MdbImport.h"

#include <sqlite3.h>
#include <stdio.h>
#include <sys/resource.h>

/* progress for the parent, which ends an import that stops making any */
static void report(long long rows)
{
    printf("rows %lld\n", rows);
    fflush(stdout);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "用法：%s IN.mdb OUT.sqlite\n", argc > 0 ? argv[0] : "vireo-mdb-import");
        return 2;
    }
    /* a runaway allocation on a damaged file fails here instead of swapping the machine */
    struct rlimit lim = {(rlim_t)2 << 30, (rlim_t)2 << 30};
    setrlimit(RLIMIT_AS, &lim);

    /* one thread: SQLite needs no mutexes and no memory statistics */
    sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);

    vireo_mdb_import_set_progress(report);
    char err[1024];
    if (vireo_mdb_import(argv[1], argv[2], err, sizeof err) != 0) {
        fflush(stdout);
        fprintf(stderr, "\n%s\n", err);
        return 1;
    }
    return 0;
}
