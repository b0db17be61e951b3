/* Jet (.mdb) -> SQLite copy with libmdb.
 *
 * libmdb locates pages and rows (mdb_read_next_dpg, mdb_find_row, mdb_crack_row,
 * mdb_find_pg_row); the values themselves are decoded here, with every offset checked against
 * the row and the page, so that NULL stays distinct from empty text, memos of any length come
 * through whole and damaged rows are reported instead of read out of bounds. The file is
 * checked before libmdb sees it (header, whole pages, page numbers in the catalogue and the
 * usage maps). This runs in a short-lived child process: whatever still goes wrong inside
 * libmdb cannot reach the program's window. */
#define _GNU_SOURCE
#include "MdbImport.h"

#include <errno.h>
#include <iconv.h>
#include <math.h>
#include <mdbtools.h>
#include <sqlite3.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#define MAX_VALUE_BYTES (64u * 1024u * 1024u) /* longest memo accepted */

typedef struct {
    char *err;
    size_t err_size;
    FILE *raw;          /* the file, for our own checks */
    long long n_pages;
    int pg_size;
    int jet3;
    MdbHandle *mdb;
    sqlite3 *db;
    /* scratch buffers */
    unsigned char *bytes;
    size_t bytes_len, bytes_cap;
    char *text;
    size_t text_len, text_cap;
    /* the text bound to each INSERT parameter, kept until the parameter is bound again */
    char **bound_text;
    size_t *bound_cap;
    unsigned n_bound;
    iconv_t jet3_cd;
    long long rows_copied;
} Ctx;

static void (*g_progress)(long long rows);

void vireo_mdb_import_set_progress(void (*report)(long long rows)) { g_progress = report; }

/* every 10,000 rows, and at each table, so that a watcher can tell a slow file from a stuck one */
static void copied_rows(Ctx *c, long long n)
{
    const long long before = c->rows_copied;
    c->rows_copied += n;
    if (g_progress && (n == 0 || before / 10000 != c->rows_copied / 10000))
        g_progress(c->rows_copied);
}

static int fail(Ctx *c, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(c->err, c->err_size, fmt, ap);
    va_end(ap);
    return -1;
}

static unsigned get16(const unsigned char *p) { return (unsigned)p[0] | ((unsigned)p[1] << 8); }
static uint32_t get32(const unsigned char *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static int reserve(void **buf, size_t *cap, size_t need)
{
    if (need <= *cap)
        return 0;
    size_t n = *cap ? *cap : 256;
    while (n < need)
        n *= 2;
    void *p = realloc(*buf, n);
    if (!p)
        return -1;
    *buf = p;
    *cap = n;
    return 0;
}

static int bytes_append(Ctx *c, const unsigned char *p, size_t n)
{
    if (c->bytes_len + n > MAX_VALUE_BYTES)
        return -1;
    if (reserve((void **)&c->bytes, &c->bytes_cap, c->bytes_len + n + 1))
        return -1;
    memcpy(c->bytes + c->bytes_len, p, n);
    c->bytes_len += n;
    return 0;
}

/* ---- file checks before libmdb opens the file ------------------------------------------ */

static int read_page(Ctx *c, long long pg, unsigned char *buf)
{
    if (pg < 0 || pg >= c->n_pages)
        return -1;
    if (fseeko(c->raw, (off_t)(pg * c->pg_size), SEEK_SET) != 0)
        return -1;
    return fread(buf, 1, (size_t)c->pg_size, c->raw) == (size_t)c->pg_size ? 0 : -1;
}

static int check_header(Ctx *c, const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return fail(c, "无法读取文件：%s", strerror(errno));
    if (!S_ISREG(st.st_mode))
        return fail(c, "不是普通文件");
    c->raw = fopen(path, "rb");
    if (!c->raw)
        return fail(c, "无法读取文件：%s", strerror(errno));
    unsigned char h[0x20];
    if (st.st_size < (off_t)sizeof h || fread(h, 1, sizeof h, c->raw) != sizeof h)
        return fail(c, "不是 Access（Jet）数据库文件");
    static const unsigned char magic[4] = {0x00, 0x01, 0x00, 0x00};
    if (memcmp(h, magic, 4) != 0
        || (memcmp(h + 4, "Standard Jet DB", 16) != 0 && memcmp(h + 4, "Standard ACE DB", 16) != 0))
        return fail(c, "不是 Access（Jet）数据库文件");
    const unsigned version = h[0x14];
    if (version > MDB_VER_ACCDB_2019)
        return fail(c, "不支持的数据库版本（%u）", version);
    c->jet3 = version == MDB_VER_JET3;
    c->pg_size = c->jet3 ? 2048 : 4096;
    if (st.st_size % c->pg_size != 0 || st.st_size < 3 * c->pg_size)
        return fail(c, "文件不完整（已截断）");
    c->n_pages = st.st_size / c->pg_size;
    return 0;
}

/* Every page a table's usage map names must lie inside the file: a copy cut at a page boundary
 * would otherwise lose rows silently. */
static int check_usage_map(Ctx *c, const MdbTableDef *t)
{
    const unsigned char *map = t->usage_map;
    const size_t sz = t->map_sz;
    if (!map || sz < 1)
        return fail(c, "表“%s”的页面分配表已损坏", t->name);
    if (map[0] == 0) {
        if (sz < 5)
            return fail(c, "表“%s”的页面分配表已损坏", t->name);
        const long long base = get32(map + 1);
        for (size_t i = 5; i < sz; ++i)
            for (int b = 0; b < 8; ++b)
                if (map[i] & (1u << b)) {
                    const long long pg = base + (long long)(i - 5) * 8 + b;
                    if (pg >= c->n_pages)
                        return fail(c, "文件不完整（已截断）：表“%s”的第 %lld 页不在文件中", t->name, pg);
                }
        return 0;
    }
    if (map[0] == 1) {
        unsigned char *pg_buf = malloc((size_t)c->pg_size);
        if (!pg_buf)
            return fail(c, "内存不足");
        const long long per_page = (long long)(c->pg_size - 4) * 8;
        int rc = 0;
        for (size_t i = 1; rc == 0 && i + 4 <= sz; i += 4) {
            const long long map_pg = get32(map + i);
            if (!map_pg)
                continue;
            if (read_page(c, map_pg, pg_buf) != 0) {
                rc = fail(c, "文件不完整（已截断）：表“%s”的页面分配表不在文件中", t->name);
                break;
            }
            for (int j = 4; rc == 0 && j < c->pg_size; ++j)
                for (int b = 0; b < 8; ++b)
                    if (pg_buf[j] & (1u << b)) {
                        const long long pg = (long long)((i - 1) / 4) * per_page + (long long)(j - 4) * 8 + b;
                        if (pg >= c->n_pages) {
                            rc = fail(c, "文件不完整（已截断）：表“%s”的第 %lld 页不在文件中", t->name, pg);
                            break;
                        }
                    }
        }
        free(pg_buf);
        return rc;
    }
    return fail(c, "表“%s”的页面分配表类型未知", t->name);
}

/* ---- value decoding ---------------------------------------------------------------------- */

/* Writers into a buffer already reserved for the worst case (see decode_text). */
static char *put_utf8(char *o, uint32_t cp)
{
    if (cp < 0x80) {
        *o++ = (char)cp;
    } else if (cp < 0x800) {
        *o++ = (char)(0xC0 | (cp >> 6));
        *o++ = (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *o++ = (char)(0xE0 | (cp >> 12));
        *o++ = (char)(0x80 | ((cp >> 6) & 0x3F));
        *o++ = (char)(0x80 | (cp & 0x3F));
    } else {
        *o++ = (char)(0xF0 | (cp >> 18));
        *o++ = (char)(0x80 | ((cp >> 12) & 0x3F));
        *o++ = (char)(0x80 | ((cp >> 6) & 0x3F));
        *o++ = (char)(0x80 | (cp & 0x3F));
    }
    return o;
}

/* UTF-16 code units -> UTF-8, lone surrogates become U+FFFD. */
static char *put_utf16(char *o, unsigned unit, unsigned *pending_high)
{
    if (*pending_high) {
        const unsigned hi = *pending_high;
        *pending_high = 0;
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return put_utf8(o, 0x10000 + ((hi - 0xD800) << 10) + (unit - 0xDC00));
        o = put_utf8(o, 0xFFFD);
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        *pending_high = unit;
        return o;
    }
    return put_utf8(o, (unit >= 0xDC00 && unit <= 0xDFFF) ? 0xFFFD : unit);
}

/* Text bytes as stored in the file -> UTF-8 in c->text. Jet 4 keeps UCS-2, optionally in the
 * "compressed" form (FF FE, then runs of one-byte characters switched by 00 bytes). */
static int decode_text(Ctx *c, const unsigned char *p, size_t n)
{
    c->text_len = 0;
    if (c->jet3) {
        if (reserve((void **)&c->text, &c->text_cap, n * 4 + 1))
            return -1;
        if (c->jet3_cd == (iconv_t)-1) {
            c->jet3_cd = iconv_open("UTF-8", "GB18030");
            if (c->jet3_cd == (iconv_t)-1)
                return -1;
        }
        char *in = (char *)p, *out = c->text;
        size_t in_left = n, out_left = c->text_cap - 1;
        iconv(c->jet3_cd, NULL, NULL, NULL, NULL);
        while (in_left > 0) {
            if (iconv(c->jet3_cd, &in, &in_left, &out, &out_left) == (size_t)-1) {
                if (errno == E2BIG || out_left < 3)
                    break;
                *out++ = '?';
                --out_left;
                ++in;
                --in_left;
            }
        }
        c->text_len = (size_t)(out - c->text);
        c->text[c->text_len] = 0;
        return 0;
    }
    /* at most 3 bytes out per byte in: a one-byte character gives at most 2, a code unit (2 bytes)
     * at most 3, a lone high surrogate followed by anything 3 more */
    if (reserve((void **)&c->text, &c->text_cap, 3 * n + 8))
        return -1;
    char *o = c->text;
    unsigned high = 0;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        int compressed = 1;
        size_t i = 2;
        while (i < n) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                if (p[i] < 0x80 && !high)
                    *o++ = (char)p[i];
                else
                    o = put_utf16(o, p[i], &high);
                ++i;
            } else if (i + 1 < n) {
                o = put_utf16(o, get16(p + i), &high);
                i += 2;
            } else {
                break;
            }
        }
    } else {
        for (size_t i = 0; i + 1 < n; i += 2) {
            const unsigned unit = get16(p + i);
            if (unit < 0x80 && !high)
                *o++ = (char)unit;
            else
                o = put_utf16(o, unit, &high);
        }
    }
    if (high)
        o = put_utf8(o, 0xFFFD);
    c->text_len = (size_t)(o - c->text);
    c->text[c->text_len] = 0;
    return 0;
}

/* A memo or OLE value (the 12-byte reference at pg_buf[start..start+size)) -> c->bytes. */
static int read_long_value(Ctx *c, const MdbTableDef *t, const MdbColumn *col, int start, int size)
{
    MdbHandle *mdb = c->mdb;
    c->bytes_len = 0;
    if (size < MDB_MEMO_OVERHEAD)
        return 0;
    const unsigned char *ref = mdb->pg_buf + start;
    const uint32_t head = get32(ref);
    const uint32_t len = head & 0x3FFFFFFFu;
    if (len > MAX_VALUE_BYTES)
        return fail(c, "表“%s”字段“%s”的长值长度异常（%u 字节）", t->name, col->name, (unsigned)len);
    if (head & 0x80000000u) { /* inline */
        return bytes_append(c, ref + MDB_MEMO_OVERHEAD, (size_t)size - MDB_MEMO_OVERHEAD) == 0
                   ? 0
                   : fail(c, "内存不足");
    }
    int pg_row = (int)get32(ref + 4);
    const int single = (head & 0x40000000u) != 0;
    /* each page holds at most 256 rows: more links than that means a loop */
    long long links_left = c->n_pages * 256;
    while (pg_row != 0) {
        void *buf = NULL;
        int off = 0;
        size_t rlen = 0;
        if ((long long)((uint32_t)pg_row >> 8) >= c->n_pages)
            return fail(c, "表“%s”字段“%s”的长值指向文件之外", t->name, col->name);
        if (mdb_find_pg_row(mdb, pg_row, &buf, &off, &rlen) != 0 || off < 0
            || (size_t)off + rlen > (size_t)c->pg_size)
            return fail(c, "表“%s”字段“%s”的长值已损坏", t->name, col->name);
        const unsigned char *row = (const unsigned char *)buf + off;
        if (single)
            return bytes_append(c, row, rlen) == 0 ? 0 : fail(c, "表“%s”字段“%s”的长值过长", t->name, col->name);
        if (rlen < 4 || --links_left < 0)
            return fail(c, "表“%s”字段“%s”的长值链已损坏", t->name, col->name);
        const int next = (int)get32(row);
        if (bytes_append(c, row + 4, rlen - 4) != 0)
            return fail(c, "表“%s”字段“%s”的长值过长", t->name, col->name);
        if (c->bytes_len >= len)
            break;
        pg_row = next;
    }
    if (c->bytes_len > len)
        c->bytes_len = len;
    return 0;
}

/* Days since 1899-12-30 (negative days keep a positive time of day) -> 'yyyy-MM-dd HH:mm:ss'. */
static int format_date(double v, char out[64])
{
    if (!isfinite(v) || v < -657434.0 || v > 2958466.0) /* years 100 .. 9999 */
        return -1;
    long long days = (long long)v; /* towards zero */
    long long secs = llround(fabs(v - (double)days) * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        days += v < 0 ? -1 : 1;
    }
    /* civil date from days relative to 1970-01-01 */
    long long z = days - 25569 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
    snprintf(out, 64, "%04d-%02d-%02d %02d:%02d:%02d", (int)y, (int)m, (int)d, (int)(secs / 3600),
             (int)((secs / 60) % 60), (int)(secs % 60));
    return 0;
}

/* ---- SQLite side ------------------------------------------------------------------------- */

static const char *declared_type(int col_type)
{
    switch (col_type) {
    case MDB_BOOL: return "BOOLEAN NOT NULL";
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_COMPLEX: return "INTEGER";
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_MONEY:
    case MDB_NUMERIC: return "REAL";
    case MDB_DATETIME: return "DATETIME";
    case MDB_TEXT:
    case MDB_MEMO: return "TEXT COLLATE NOCASE";
    case MDB_REPID: return "TEXT";
    default: return "BLOB";
    }
}

static void append_ident(GString *s, const char *name)
{
    g_string_append_c(s, '"');
    for (const char *p = name; *p; ++p) {
        if (*p == '"')
            g_string_append_c(s, '"');
        g_string_append_c(s, *p);
    }
    g_string_append_c(s, '"');
}

static int exec_sql(Ctx *c, const char *sql)
{
    char *msg = NULL;
    if (sqlite3_exec(c->db, sql, NULL, NULL, &msg) != SQLITE_OK) {
        fail(c, "写入副本失败：%s", msg ? msg : sqlite3_errmsg(c->db));
        sqlite3_free(msg);
        return -1;
    }
    return 0;
}

static int column_index(const MdbTableDef *t, const char *name)
{
    for (unsigned i = 0; i < t->num_cols; ++i) {
        const MdbColumn *col = g_ptr_array_index(t->columns, i);
        if (g_ascii_strcasecmp(col->name, name) == 0)
            return (int)i;
    }
    return -1;
}

static int create_table(Ctx *c, const MdbTableDef *t, sqlite3_stmt **insert)
{
    GString *sql = g_string_new("CREATE TABLE ");
    append_ident(sql, t->name);
    g_string_append(sql, " (");
    GString *ins = g_string_new("INSERT INTO ");
    append_ident(ins, t->name);
    g_string_append(ins, " VALUES (");
    for (unsigned i = 0; i < t->num_cols; ++i) {
        const MdbColumn *col = g_ptr_array_index(t->columns, i);
        if (i) {
            g_string_append(sql, ", ");
            g_string_append_c(ins, ',');
        }
        append_ident(sql, col->name);
        g_string_append_c(sql, ' ');
        g_string_append(sql, declared_type(col->col_type));
        g_string_append_c(ins, '?');
    }
    g_string_append(sql, ")");
    g_string_append(ins, ")");
    int rc = exec_sql(c, sql->str);
    if (rc == 0 && sqlite3_prepare_v2(c->db, ins->str, -1, insert, NULL) != SQLITE_OK)
        rc = fail(c, "写入副本失败：%s", sqlite3_errmsg(c->db));
    g_string_free(sql, TRUE);
    g_string_free(ins, TRUE);
    return rc;
}

/* The tree loader asks for the children of one parent ordered by cID, once per node. */
static int create_indexes(Ctx *c, const MdbTableDef *t, int table_no)
{
    const int parent = column_index(t, "cParentID"), id = column_index(t, "cID");
    if (parent < 0)
        return 0;
    GString *sql = g_string_new(NULL);
    g_string_append_printf(sql, "CREATE INDEX \"vireo_parent_%d\" ON ", table_no);
    append_ident(sql, t->name);
    g_string_append(sql, " (");
    append_ident(sql, ((MdbColumn *)g_ptr_array_index(t->columns, parent))->name);
    if (id >= 0) {
        g_string_append(sql, ", ");
        append_ident(sql, ((MdbColumn *)g_ptr_array_index(t->columns, id))->name);
    }
    int covering = 1;
    for (unsigned i = 0; i < t->num_cols; ++i) {
        const int type = ((MdbColumn *)g_ptr_array_index(t->columns, i))->col_type;
        if (type == MDB_MEMO || type == MDB_OLE)
            covering = 0;
    }
    for (unsigned i = 0; covering && i < t->num_cols; ++i) {
        if ((int)i == parent || (int)i == id)
            continue;
        g_string_append(sql, ", ");
        append_ident(sql, ((MdbColumn *)g_ptr_array_index(t->columns, i))->name);
    }
    g_string_append(sql, ")");
    const int rc = exec_sql(c, sql->str);
    g_string_free(sql, TRUE);
    return rc;
}

/* ---- rows -------------------------------------------------------------------------------- */

/* The row layout must fit inside the row before mdb_crack_row walks it. */
static int row_layout_ok(Ctx *c, const MdbTableDef *t, int start, size_t size)
{
    const unsigned char *pg = c->mdb->pg_buf;
    const int cnt = c->jet3 ? 1 : 2;
    if (size < (size_t)cnt + 1)
        return 0;
    const unsigned row_cols = c->jet3 ? pg[start] : get16(pg + start);
    const size_t mask = (row_cols + 7) / 8;
    if ((size_t)cnt + mask > size)
        return 0;
    /* columns added after the row was written lie past its null mask: they read as NULL */
    for (unsigned i = 0; i < t->num_cols; ++i) {
        const MdbColumn *col = g_ptr_array_index(t->columns, i);
        if (col->col_num < 0 || col->col_num >= MDB_MAX_COLS)
            return 0;
    }
    if (t->num_var_cols == 0)
        return 1;
    const int row_end = start + (int)size - 1;
    if (c->jet3) {
        if ((size_t)cnt + mask + 1 > size)
            return 0;
        const unsigned var_cols = pg[row_end - mask];
        const size_t jumps = (size - 1) / 256;
        if ((size_t)cnt + mask + 1 + jumps + var_cols + 1 > size)
            return 0;
        return 1;
    }
    if ((size_t)cnt + mask + 2 > size)
        return 0;
    const unsigned var_cols = get16(pg + row_end - mask - 1);
    if ((size_t)cnt + mask + 2 + 2 * ((size_t)var_cols + 1) > size)
        return 0;
    for (unsigned i = 0; i <= var_cols; ++i) {
        const unsigned off = get16(pg + row_end - mask - 3 - 2 * i);
        if (off > size)
            return 0;
    }
    return 1;
}

/* Binds the text just decoded into c->text without copying it: the buffer moves to the
 * parameter's slot, and the slot's previous buffer (no longer bound once this returns) becomes
 * the next decoding buffer. */
static int bind_decoded_text(Ctx *c, sqlite3_stmt *st, int param)
{
    if (param < 1 || (unsigned)param > c->n_bound)
        return sqlite3_bind_text(st, param, c->text, (int)c->text_len, SQLITE_TRANSIENT);
    char *mine = c->text;
    const size_t mine_cap = c->text_cap;
    c->text = c->bound_text[param - 1];
    c->text_cap = c->bound_cap[param - 1];
    c->bound_text[param - 1] = mine;
    c->bound_cap[param - 1] = mine_cap;
    return sqlite3_bind_text(st, param, mine, (int)c->text_len, SQLITE_STATIC);
}

static int bind_value(Ctx *c, sqlite3_stmt *st, int param, const MdbTableDef *t, const MdbColumn *col,
                      const MdbField *f, int row_start, size_t row_size)
{
    const unsigned char *pg = c->mdb->pg_buf;
    if (col->col_type == MDB_BOOL) /* the null-mask bit is the value */
        return sqlite3_bind_int(st, param, f->is_null ? 0 : 1);
    if (f->is_null)
        return sqlite3_bind_null(st, param);
    const int start = f->start, siz = f->siz;
    if (siz < 0 || start < row_start || (size_t)(start - row_start) + (size_t)siz > row_size)
        return fail(c, "表“%s”字段“%s”的数据已损坏", t->name, col->name), SQLITE_ERROR;
    const unsigned char *p = pg + start;
    int need = 0;
    switch (col->col_type) {
    case MDB_BYTE: need = 1; break;
    case MDB_INT: need = 2; break;
    case MDB_LONGINT: case MDB_COMPLEX: case MDB_FLOAT: need = 4; break;
    case MDB_DOUBLE: case MDB_DATETIME: case MDB_MONEY: need = 8; break;
    case MDB_NUMERIC: need = 17; break;
    case MDB_REPID: need = 16; break;
    default: break;
    }
    if (siz < need)
        return fail(c, "表“%s”字段“%s”的数据已损坏", t->name, col->name), SQLITE_ERROR;
    switch (col->col_type) {
    case MDB_BYTE: return sqlite3_bind_int(st, param, p[0]);
    case MDB_INT: return sqlite3_bind_int(st, param, (int16_t)get16(p));
    case MDB_LONGINT:
    case MDB_COMPLEX: return sqlite3_bind_int64(st, param, (int32_t)get32(p));
    case MDB_FLOAT: {
        uint32_t u = get32(p);
        float v;
        memcpy(&v, &u, 4);
        return isfinite(v) ? sqlite3_bind_double(st, param, v) : sqlite3_bind_null(st, param);
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
        uint64_t u = (uint64_t)get32(p) | ((uint64_t)get32(p + 4) << 32);
        double v;
        memcpy(&v, &u, 8);
        if (col->col_type == MDB_DOUBLE)
            return isfinite(v) ? sqlite3_bind_double(st, param, v) : sqlite3_bind_null(st, param);
        char buf[64];
        if (format_date(v, buf) != 0)
            return sqlite3_bind_null(st, param);
        return sqlite3_bind_text(st, param, buf, -1, SQLITE_TRANSIENT);
    }
    case MDB_MONEY: {
        const int64_t v = (int64_t)((uint64_t)get32(p) | ((uint64_t)get32(p + 4) << 32));
        return sqlite3_bind_double(st, param, (double)v / 10000.0);
    }
    case MDB_NUMERIC: {
        /* sign byte, then the 96-bit magnitude as four 32-bit words, most significant first */
        double v = 0;
        for (int w = 0; w < 4; ++w)
            v = v * 4294967296.0 + (double)get32(p + 1 + 4 * w);
        v /= pow(10.0, col->col_scale);
        return sqlite3_bind_double(st, param, (p[0] & 0x80) ? -v : v);
    }
    case MDB_REPID: {
        char buf[40];
        snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", p[3], p[2],
                 p[1], p[0], p[5], p[4], p[7], p[6], p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
        return sqlite3_bind_text(st, param, buf, -1, SQLITE_TRANSIENT);
    }
    case MDB_TEXT:
        if (decode_text(c, p, (size_t)siz) != 0)
            return fail(c, "内存不足"), SQLITE_ERROR;
        return bind_decoded_text(c, st, param);
    case MDB_MEMO:
        if (read_long_value(c, t, col, start, siz) != 0)
            return SQLITE_ERROR;
        if (decode_text(c, c->bytes ? c->bytes : (const unsigned char *)"", c->bytes_len) != 0)
            return fail(c, "内存不足"), SQLITE_ERROR;
        return bind_decoded_text(c, st, param);
    case MDB_OLE:
        if (read_long_value(c, t, col, start, siz) != 0)
            return SQLITE_ERROR;
        return sqlite3_bind_blob(st, param, c->bytes ? (const void *)c->bytes : "", (int)c->bytes_len,
                                 SQLITE_TRANSIENT);
    default:
        return sqlite3_bind_blob(st, param, p, siz, SQLITE_TRANSIENT);
    }
}

static int copy_rows(Ctx *c, MdbTableDef *t, sqlite3_stmt *insert)
{
    MdbHandle *mdb = c->mdb;
    MdbField *fields = calloc(t->num_cols ? t->num_cols : 1, sizeof(MdbField));
    if (!fields)
        return fail(c, "内存不足");
    int rc = 0;
    long long pages_left = c->n_pages; /* a data page is visited at most once */
    mdb_rewind_table(t);
    while (rc == 0 && mdb_read_next_dpg(t)) {
        if (--pages_left < 0) {
            rc = fail(c, "表“%s”的数据页链已损坏", t->name);
            break;
        }
        const unsigned rco = mdb->fmt->row_count_offset;
        const unsigned rows = get16(mdb->pg_buf + rco);
        if (rows > 1000 || rco + 2 + 2 * rows > (unsigned)c->pg_size) {
            rc = fail(c, "表“%s”的数据页 %u 已损坏", t->name, t->cur_phys_pg);
            break;
        }
        for (unsigned r = 0; rc == 0 && r < rows; ++r) {
            int start = 0;
            size_t size = 0;
            /* deleted rows and overflow pointers (the row itself is stored elsewhere) */
            if (get16(mdb->pg_buf + rco + 2 + 2 * r) & 0xC000)
                continue;
            if (mdb_find_row(mdb, (int)r, &start, &size) != 0) {
                rc = fail(c, "表“%s”的数据页 %u 第 %u 行已损坏", t->name, t->cur_phys_pg, r);
                break;
            }
            if (size == 0)
                continue;
            start &= 0x1FFF;
            if (!row_layout_ok(c, t, start, size)) {
                rc = fail(c, "表“%s”的数据页 %u 第 %u 行已损坏", t->name, t->cur_phys_pg, r);
                break;
            }
            if (mdb_crack_row(t, start, size, fields) < 0) {
                rc = fail(c, "表“%s”的数据页 %u 第 %u 行已损坏", t->name, t->cur_phys_pg, r);
                break;
            }
            if (!insert) /* checking the layout only */
                continue;
            const unsigned row_cols = c->jet3 ? mdb->pg_buf[start] : get16(mdb->pg_buf + start);
            for (unsigned i = 0; i < t->num_cols; ++i) {
                const MdbColumn *col = g_ptr_array_index(t->columns, i);
                if ((unsigned)col->col_num >= row_cols)
                    fields[i].is_null = 1;
            }
            sqlite3_reset(insert);
            for (unsigned i = 0; rc == 0 && i < t->num_cols; ++i) {
                const MdbField *f = &fields[i];
                if (f->colnum < 0 || (unsigned)f->colnum >= t->num_cols) {
                    rc = fail(c, "表“%s”的数据已损坏", t->name);
                    break;
                }
                const MdbColumn *col = g_ptr_array_index(t->columns, f->colnum);
                const int brc = bind_value(c, insert, f->colnum + 1, t, col, f, start, size);
                if (brc != SQLITE_OK && rc == 0)
                    rc = c->err[0] ? -1 : fail(c, "写入副本失败：%s", sqlite3_errmsg(c->db));
            }
            if (rc == 0 && sqlite3_step(insert) != SQLITE_DONE)
                rc = fail(c, "写入副本失败：%s", sqlite3_errmsg(c->db));
            if (rc == 0)
                copied_rows(c, 1);
        }
    }
    free(fields);
    return rc;
}

static int copy_table(Ctx *c, MdbCatalogEntry *entry, int table_no)
{
    if ((long long)entry->table_pg <= 0 || (long long)entry->table_pg >= c->n_pages)
        return fail(c, "表“%s”的定义页不在文件中", entry->object_name);
    MdbTableDef *t = mdb_read_table(entry);
    if (!t)
        return fail(c, "无法读取表“%s”的定义", entry->object_name);
    int rc = 0;
    if (t->num_cols == 0 || t->num_cols > MDB_MAX_COLS)
        rc = fail(c, "表“%s”的定义已损坏", entry->object_name);
    if (rc == 0 && !mdb_read_columns(t))
        rc = fail(c, "无法读取表“%s”的字段", entry->object_name);
    if (rc == 0 && t->columns->len != t->num_cols)
        rc = fail(c, "表“%s”的字段定义已损坏", entry->object_name);
    if (rc == 0)
        rc = check_usage_map(c, t);
    sqlite3_stmt *insert = NULL;
    if (rc == 0) {
        c->bound_text = calloc(t->num_cols, sizeof *c->bound_text);
        c->bound_cap = calloc(t->num_cols, sizeof *c->bound_cap);
        if (!c->bound_text || !c->bound_cap)
            rc = fail(c, "内存不足");
        else
            c->n_bound = t->num_cols;
    }
    if (rc == 0)
        rc = create_table(c, t, &insert);
    copied_rows(c, 0);
    if (rc == 0)
        rc = copy_rows(c, t, insert);
    if (rc == 0)
        rc = create_indexes(c, t, table_no);
    sqlite3_finalize(insert);
    for (unsigned i = 0; i < c->n_bound; ++i)
        free(c->bound_text[i]);
    free(c->bound_text);
    free(c->bound_cap);
    c->bound_text = NULL;
    c->bound_cap = NULL;
    c->n_bound = 0;
    mdb_free_tabledef(t);
    return rc;
}

/* The system catalogue (MSysObjects, definition at page 2) must be whole as well: libmdb skips
 * pages it cannot read, which would drop tables without a word. */
static int check_catalogue_pages(Ctx *c)
{
    MdbCatalogEntry msys;
    memset(&msys, 0, sizeof msys);
    msys.mdb = c->mdb;
    msys.object_type = MDB_SYSTEM_TABLE;
    msys.table_pg = 2;
    strcpy(msys.object_name, "MSysObjects");
    MdbTableDef *t = mdb_read_table(&msys);
    if (!t)
        return fail(c, "无法读取数据库的表目录");
    int rc = 0;
    if (t->num_cols == 0 || t->num_cols > MDB_MAX_COLS || !mdb_read_columns(t) || t->columns->len != t->num_cols)
        rc = fail(c, "数据库的表目录已损坏");
    if (rc == 0)
        rc = check_usage_map(c, t);
    if (rc == 0)
        rc = copy_rows(c, t, NULL);
    mdb_free_tabledef(t);
    return rc;
}

int vireo_mdb_import(const char *mdb_path, const char *sqlite_path, char *err, size_t err_size)
{
    Ctx c;
    memset(&c, 0, sizeof c);
    c.err = err;
    c.err_size = err_size;
    c.jet3_cd = (iconv_t)-1;
    if (err_size)
        err[0] = 0;

    int rc = check_header(&c, mdb_path);
    if (rc == 0) {
        /* names come out of libmdb as UTF-8 whatever the caller's environment says */
        setenv("MDB_ICONV", "UTF-8", 1);
        setenv("MDB_JET3_CHARSET", "GB18030", 1);
        c.mdb = mdb_open(mdb_path, MDB_NOFLAGS);
        if (!c.mdb)
            rc = fail(&c, "不是可读的 Access（Jet）数据库文件");
        else if (c.mdb->fmt->pg_size != c.pg_size)
            rc = fail(&c, "数据库页大小与版本不符");
    }
    if (rc == 0)
        rc = check_catalogue_pages(&c);
    if (rc == 0 && (!mdb_read_catalog(c.mdb, MDB_TABLE) || c.mdb->num_catalog == 0))
        rc = fail(&c, "无法读取数据库的表目录");
    if (rc == 0) {
        remove(sqlite_path);
        if (sqlite3_open_v2(sqlite_path, &c.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            NULL) != SQLITE_OK)
            rc = fail(&c, "无法创建副本 %s：%s", sqlite_path, c.db ? sqlite3_errmsg(c.db) : "内存不足");
    }
    if (rc == 0)
        rc = exec_sql(&c, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
                           "PRAGMA locking_mode=EXCLUSIVE;"
                           "PRAGMA temp_store=MEMORY; BEGIN");
    for (unsigned i = 0; rc == 0 && i < c.mdb->num_catalog && i < c.mdb->catalog->len; ++i) {
        MdbCatalogEntry *entry = g_ptr_array_index(c.mdb->catalog, i);
        if (mdb_is_user_table(entry))
            rc = copy_table(&c, entry, (int)i);
    }
    if (rc == 0)
        rc = exec_sql(&c, "COMMIT");
    if (c.db)
        sqlite3_close(c.db);
    if (rc != 0 && c.db)
        remove(sqlite_path);
    if (c.mdb)
        mdb_close(c.mdb);
    if (c.raw)
        fclose(c.raw);
    if (c.jet3_cd != (iconv_t)-1)
        iconv_close(c.jet3_cd);
    free(c.bytes);
    free(c.text);
    return rc == 0 ? 0 : 1;
}
