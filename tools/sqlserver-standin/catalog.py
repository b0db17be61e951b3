"""Databases, tables and procedures kept in one SQLite file (or in memory).

Every table of every database is a SQLite table named "<db>.<name>" in lower case; the
declared SQL Server types live in the metadata tables _obj and _col.
"""

import datetime as _dt
import json
import sqlite3
import threading

import functions
import sqltypes
from errors import TsqlError

SYSTEM_TYPE_IDS = {'bigint': 127, 'int': 56, 'smallint': 52, 'tinyint': 48, 'bit': 104, 'float': 62, 'real': 59,
                   'money': 60, 'smallmoney': 122, 'decimal': 106, 'numeric': 108, 'datetime': 61,
                   'smalldatetime': 58, 'date': 40, 'char': 175, 'varchar': 167, 'nchar': 239, 'nvarchar': 231,
                   'binary': 173, 'varbinary': 165}


class Column:
    __slots__ = ('name', 'type', 'nullable', 'identity', 'default')

    def __init__(self, name, type_, nullable=True, identity=None, default=None):
        self.name = name
        self.type = type_
        self.nullable = nullable
        self.identity = identity      # (seed, increment) or None
        self.default = default        # T-SQL text of the default expression


class Table:
    def __init__(self, oid, db, name, columns, phys, ident_next=None, session=None):
        self.id = oid
        self.db = db
        self.name = name
        self.columns = columns
        self.phys = phys
        self.ident_next = ident_next
        self.session = session

    def column(self, name):
        ln = name.lower()
        for c in self.columns:
            if c.name.lower() == ln:
                return c
        return None


class Procedure:
    def __init__(self, oid, db, name, text):
        self.id = oid
        self.db = db
        self.name = name
        self.text = text


def qi(name):
    return '"' + name.replace('"', '""') + '"'


class Catalog:
    def __init__(self, path=None, databases=()):
        self.lock = threading.RLock()
        self.conn = sqlite3.connect(path or ':memory:', isolation_level=None, check_same_thread=False)
        self.conn.execute('PRAGMA synchronous=OFF')
        self.conn.execute('PRAGMA journal_mode=MEMORY')
        functions.register(self.conn)
        c = self.conn
        c.execute('CREATE TABLE IF NOT EXISTS _db(name TEXT COLLATE CI PRIMARY KEY, dbid INTEGER, crdate TEXT)')
        c.execute('CREATE TABLE IF NOT EXISTS _obj(id INTEGER PRIMARY KEY, db TEXT COLLATE CI, name TEXT COLLATE CI,'
                  ' xtype TEXT COLLATE CI, crdate TEXT, phys TEXT, session INTEGER, text TEXT, ident_next INTEGER)')
        c.execute('CREATE TABLE IF NOT EXISTS _col(objid INTEGER, colid INTEGER, name TEXT COLLATE CI, type TEXT,'
                  ' xtype INTEGER, length INTEGER, xprec INTEGER, xscale INTEGER, isnullable INTEGER, identity TEXT,'
                  ' dflt TEXT)')
        self.tables = {}      # (db lower, name lower) -> Table
        self.procs = {}       # (db lower, name lower) -> Procedure
        self.dbnames = {}     # lower -> display name
        self._load()
        # tempdb is recreated whenever the server starts
        for t in [t for t in self.tables.values() if t.db.lower() == 'tempdb']:
            self.drop_table(t)
        for key in [k for k in self.procs if k[0] == 'tempdb']:
            self.drop_proc(self.procs[key])
        for name in ('master', 'tempdb') + tuple(databases):
            self.add_database(name)

    def _load(self):
        c = self.conn
        for name, in c.execute('SELECT name FROM _db'):
            self.dbnames[name.lower()] = name
        cols = {}
        for objid, name, typ, nullable, ident, dflt in c.execute(
                'SELECT objid, name, type, isnullable, identity, dflt FROM _col ORDER BY objid, colid'):
            cols.setdefault(objid, []).append(Column(name, sqltypes.from_decl(typ), bool(nullable),
                                                     tuple(json.loads(ident)) if ident else None, dflt))
        for oid, db, name, xtype, phys, session, text, ident_next in c.execute(
                'SELECT id, db, name, xtype, phys, session, text, ident_next FROM _obj'):
            if xtype.strip() == 'U':
                self.tables[(db.lower(), name.lower())] = Table(oid, db, name, cols.get(oid, []), phys, ident_next, session)
            else:
                self.procs[(db.lower(), name.lower())] = Procedure(oid, db, name, text)

    def add_database(self, name):
        if name.lower() in self.dbnames:
            return
        self.dbnames[name.lower()] = name
        dbid = len(self.dbnames)
        self.conn.execute('INSERT OR IGNORE INTO _db VALUES (?, ?, ?)', (name, dbid, now()))

    def has_database(self, name):
        return name.lower() in self.dbnames

    def db_display(self, name):
        return self.dbnames.get(name.lower(), name)

    def _new_id(self):
        row = self.conn.execute('SELECT max(id) FROM _obj').fetchone()
        return max(row[0] or 0, 1000000) + 7919

    # ------------------------------------------------------------ tables
    def find_table(self, db, name):
        return self.tables.get((db.lower(), name.lower()))

    def object_exists(self, db, name):
        key = (db.lower(), name.lower())
        return key in self.tables or key in self.procs

    def create_table(self, db, name, columns, session=None, pk=(), uniques=()):
        if self.object_exists(db, name):
            raise TsqlError(2714, "There is already an object named '%s' in the database." % name, 16)
        seen = set()
        for col in columns:
            if col.name.lower() in seen:
                raise TsqlError(2705, "Column names in each table must be unique. Column name '%s' in table '%s' "
                                      "is specified more than once." % (col.name, name), 16)
            seen.add(col.name.lower())
        if not columns:
            raise TsqlError(4514, 'CREATE TABLE failed because column list is empty.', 16)
        phys = '%s.%s' % (db.lower(), name.lower())
        decls = []
        for col in columns:
            d = '%s %s' % (qi(col.name), col.type.sqlite_decl)
            if not col.nullable:
                d += ' NOT NULL'
            decls.append(d)
        if pk:
            decls.append('PRIMARY KEY (%s)' % ', '.join(qi(n) for n in pk))
        for u in uniques:
            decls.append('UNIQUE (%s)' % ', '.join(qi(n) for n in u))
        oid = self._new_id()
        c = self.conn
        c.execute('CREATE TABLE %s (%s)' % (qi(phys), ', '.join(decls)))
        ident_next = None
        for col in columns:
            if col.identity:
                ident_next = col.identity[0]
        c.execute('INSERT INTO _obj VALUES (?,?,?,?,?,?,?,?,?)',
                  (oid, db, name, 'U ', now(), phys, session, None, ident_next))
        for i, col in enumerate(columns, 1):
            t = col.type
            length = t.length * (2 if t.is_unicode else 1) if t.is_string or t.is_binary else \
                sqltypes.INT_TYPES.get(t.name, 8)
            if (t.is_string or t.is_binary) and t.length == sqltypes.MAX:
                length = -1
            c.execute('INSERT INTO _col VALUES (?,?,?,?,?,?,?,?,?,?,?)',
                      (oid, i, col.name, t.decl(), SYSTEM_TYPE_IDS.get(t.name, 0), length, t.precision, t.scale,
                       1 if col.nullable else 0, json.dumps(col.identity) if col.identity else None, col.default))
        table = Table(oid, db, name, columns, phys, ident_next, session)
        self.tables[(db.lower(), name.lower())] = table
        return table

    def drop_table(self, table):
        c = self.conn
        c.execute('DROP TABLE IF EXISTS %s' % qi(table.phys))
        c.execute('DELETE FROM _col WHERE objid=?', (table.id,))
        c.execute('DELETE FROM _obj WHERE id=?', (table.id,))
        self.tables.pop((table.db.lower(), table.name.lower()), None)

    def add_columns(self, table, columns):
        for col in columns:
            if table.column(col.name):
                raise TsqlError(2705, "Column names in each table must be unique. Column name '%s' in table '%s' "
                                      "is specified more than once." % (col.name, table.name), 16)
            if not col.nullable and col.default is None:
                n = self.conn.execute('SELECT count(*) FROM %s' % qi(table.phys)).fetchone()[0]
                if n:
                    raise TsqlError(4901, "ALTER TABLE only allows columns to be added that can contain nulls, or have a "
                                          "DEFAULT definition specified, or the column being added is an identity or "
                                          "timestamp column, or alternatively if none of the previous conditions are "
                                          "satisfied the table must be empty to allow addition of this column. Column "
                                          "'%s' cannot be added to non-empty table '%s' because it does not satisfy "
                                          "these conditions." % (col.name, table.name), 16)
            self.conn.execute('ALTER TABLE %s ADD COLUMN %s %s' % (qi(table.phys), qi(col.name), col.type.sqlite_decl))
            table.columns.append(col)
            t = col.type
            self.conn.execute('INSERT INTO _col VALUES (?,?,?,?,?,?,?,?,?,?,?)',
                              (table.id, len(table.columns), col.name, t.decl(), SYSTEM_TYPE_IDS.get(t.name, 0),
                               t.length if t.is_string or t.is_binary else 8, t.precision, t.scale, 1 if col.nullable else 0,
                               None, col.default))

    def drop_columns(self, table, names):
        for name in names:
            col = table.column(name)
            if col is None:
                raise TsqlError(4924, "ALTER TABLE DROP COLUMN failed because column '%s' does not exist in table '%s'."
                                % (name, table.name), 16)
            self.conn.execute('ALTER TABLE %s DROP COLUMN %s' % (qi(table.phys), qi(col.name)))
            table.columns.remove(col)
        self.conn.execute('DELETE FROM _col WHERE objid=?', (table.id,))
        for i, col in enumerate(table.columns, 1):
            t = col.type
            self.conn.execute('INSERT INTO _col VALUES (?,?,?,?,?,?,?,?,?,?,?)',
                              (table.id, i, col.name, t.decl(), SYSTEM_TYPE_IDS.get(t.name, 0),
                               t.length if t.is_string or t.is_binary else 8, t.precision, t.scale, 1 if col.nullable else 0,
                               json.dumps(col.identity) if col.identity else None, col.default))

    def next_identity(self, table, count):
        col = next(c for c in table.columns if c.identity)
        start = table.ident_next
        table.ident_next = start + count * col.identity[1]
        self.conn.execute('UPDATE _obj SET ident_next=? WHERE id=?', (table.ident_next, table.id))
        return [start + i * col.identity[1] for i in range(count)]

    # ------------------------------------------------------------ procedures
    def find_proc(self, db, name):
        return self.procs.get((db.lower(), name.lower()))

    def create_proc(self, db, name, text, replace=False):
        old = self.find_proc(db, name)
        if old is not None:
            if not replace:
                raise TsqlError(2714, "There is already an object named '%s' in the database." % name, 16)
            self.drop_proc(old)
        elif replace:
            raise TsqlError(208, "Invalid object name '%s'." % name, 16)
        elif self.find_table(db, name):
            raise TsqlError(2714, "There is already an object named '%s' in the database." % name, 16)
        oid = self._new_id()
        self.conn.execute('INSERT INTO _obj VALUES (?,?,?,?,?,?,?,?,?)', (oid, db, name, 'P ', now(), None, None, text, None))
        p = Procedure(oid, db, name, text)
        self.procs[(db.lower(), name.lower())] = p
        return p

    def drop_proc(self, proc):
        self.conn.execute('DELETE FROM _obj WHERE id=?', (proc.id,))
        self.procs.pop((proc.db.lower(), proc.name.lower()), None)


def now():
    return sqltypes.format_datetime(_dt.datetime.now())


# Catalogue views: (sql over _obj/_col with :db, [(column, type)])
_SYSNAME = sqltypes.T_SYSNAME
_INT = sqltypes.T_INT
_SMALL = sqltypes.SqlType('smallint')
_TINY = sqltypes.SqlType('tinyint')
_CHAR2 = sqltypes.SqlType('char', 2)
_DT = sqltypes.T_DATETIME
_NV60 = sqltypes.SqlType('nvarchar', 60)

VIEWS = {
    'sysobjects': ("SELECT name, id, xtype, 1 AS uid, 0 AS parent_obj, crdate, xtype AS type FROM _obj WHERE db = {db}",
                   [('name', _SYSNAME), ('id', _INT), ('xtype', _CHAR2), ('uid', _SMALL), ('parent_obj', _INT),
                    ('crdate', _DT), ('type', _CHAR2)]),
    'syscolumns': ("SELECT c.name, c.objid AS id, c.xtype, c.length, c.xprec, c.xscale, c.colid, c.isnullable,"
                   " c.xtype AS type FROM _col c JOIN _obj o ON o.id = c.objid WHERE o.db = {db}",
                   [('name', _SYSNAME), ('id', _INT), ('xtype', _TINY), ('length', _SMALL), ('xprec', _TINY),
                    ('xscale', _TINY), ('colid', _SMALL), ('isnullable', _INT), ('type', _TINY)]),
    'sys.objects': ("SELECT name, id AS object_id, xtype AS type, CASE WHEN trim(xtype) = 'U' THEN 'USER_TABLE'"
                    " ELSE 'SQL_STORED_PROCEDURE' END AS type_desc, crdate AS create_date FROM _obj WHERE db = {db}",
                    [('name', _SYSNAME), ('object_id', _INT), ('type', _CHAR2), ('type_desc', _NV60),
                     ('create_date', _DT)]),
    'sys.tables': ("SELECT name, id AS object_id, xtype AS type, crdate AS create_date FROM _obj"
                   " WHERE db = {db} AND trim(xtype) = 'U'",
                   [('name', _SYSNAME), ('object_id', _INT), ('type', _CHAR2), ('create_date', _DT)]),
    'sys.procedures': ("SELECT name, id AS object_id, xtype AS type, crdate AS create_date FROM _obj"
                       " WHERE db = {db} AND trim(xtype) = 'P'",
                       [('name', _SYSNAME), ('object_id', _INT), ('type', _CHAR2), ('create_date', _DT)]),
    'sys.columns': ("SELECT c.objid AS object_id, c.name, c.colid AS column_id, c.xtype AS system_type_id,"
                    " c.length AS max_length, c.xprec AS precision, c.xscale AS scale, c.isnullable AS is_nullable"
                    " FROM _col c JOIN _obj o ON o.id = c.objid WHERE o.db = {db}",
                    [('object_id', _INT), ('name', _SYSNAME), ('column_id', _INT), ('system_type_id', _TINY),
                     ('max_length', _SMALL), ('precision', _TINY), ('scale', _TINY), ('is_nullable', sqltypes.T_BIT)]),
    'information_schema.tables': (
        "SELECT {db} AS TABLE_CATALOG, 'dbo' AS TABLE_SCHEMA, name AS TABLE_NAME, 'BASE TABLE' AS TABLE_TYPE"
        " FROM _obj WHERE db = {db} AND trim(xtype) = 'U'",
        [('TABLE_CATALOG', _SYSNAME), ('TABLE_SCHEMA', _SYSNAME), ('TABLE_NAME', _SYSNAME),
         ('TABLE_TYPE', sqltypes.SqlType('varchar', 10))]),
    'information_schema.columns': (
        "SELECT {db} AS TABLE_CATALOG, 'dbo' AS TABLE_SCHEMA, o.name AS TABLE_NAME, c.name AS COLUMN_NAME,"
        " c.colid AS ORDINAL_POSITION, CASE WHEN c.isnullable THEN 'YES' ELSE 'NO' END AS IS_NULLABLE,"
        " substr(c.type, 1, instr(c.type || '(', '(') - 1) AS DATA_TYPE,"
        " CASE WHEN c.xtype IN (167, 175, 165, 173) THEN c.length WHEN c.xtype IN (231, 239) THEN c.length / 2 END"
        " AS CHARACTER_MAXIMUM_LENGTH FROM _col c JOIN _obj o ON o.id = c.objid WHERE o.db = {db}",
        [('TABLE_CATALOG', _SYSNAME), ('TABLE_SCHEMA', _SYSNAME), ('TABLE_NAME', _SYSNAME),
         ('COLUMN_NAME', _SYSNAME), ('ORDINAL_POSITION', _INT), ('IS_NULLABLE', sqltypes.SqlType('varchar', 3)),
         ('DATA_TYPE', _SYSNAME), ('CHARACTER_MAXIMUM_LENGTH', _INT)]),
    'sysdatabases': ("SELECT name, dbid, crdate FROM _db", [('name', _SYSNAME), ('dbid', _SMALL), ('crdate', _DT)]),
    'sys.databases': ("SELECT name, dbid AS database_id, crdate AS create_date FROM _db",
                      [('name', _SYSNAME), ('database_id', _INT), ('create_date', _DT)]),
}
