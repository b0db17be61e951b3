"""Statement execution: runs parsed T-SQL batches against the catalog and reports TDS-level events."""

import contextlib
import os
import re
import select
import sqlite3
import threading
import time

import functions
import sqltypes
from catalog import Catalog, Column, qi
from errors import TsqlError, unsupported
from parser import Node, Parser, parse
from sqltypes import SqlType
from translate import Scope, Translator, lit_sql

MAX_ROWS = 1_000_000
STREAM_MIN_ROWS = 1000   # results with more rows are streamed when the network layer can (Output.stream)
MAX_LOOP = 100_000
MAX_NESTING = 32

CMD_SELECT, CMD_INSERT, CMD_DELETE, CMD_UPDATE = 0xC1, 0xC3, 0xC4, 0xC5


class Output:
    """Collects what a batch answers, in order: ('result', cols, rows), ('done', kind, status, cmd, count),
    ('error', TsqlError), ('info', text, line, proc), ('return', value)."""

    def __init__(self, stream=None):
        self.events = []
        # stream(cols, rows, cancel) -> row count: set by the network layer to send a large result's rows
        # as they are produced; it first sends the events collected so far.
        self.stream = stream

    def result(self, cols, rows):
        self.events.append(('result', cols, rows))

    def done(self, kind, status, cmd=0, count=0):
        self.events.append(('done', kind, status, cmd, count))

    def error(self, e):
        self.events.append(('error', e))

    def info(self, text, line, proc='', number=0, state=1, severity=0):
        self.events.append(('info', text, line, proc, number, state, severity))


DONE_MORE, DONE_ERROR, DONE_COUNT = 0x1, 0x2, 0x10


class Session:
    def __init__(self, spid, db, user='sa'):
        self.spid = spid
        self.db = db
        self.user = user
        self.nocount = False
        self.rowcount = 0
        self.error = 0
        self.identity = None
        self.trancount = 0
        self.temp = {}   # '#name' lower -> catalog name in tempdb
        self.prepared = {}
        self.next_handle = 0
        # Set by the network layer: watch(timeout, wake) blocks until timeout seconds pass (None: no end),
        # wake (a Wakeup) is set, or the client's socket becomes readable; an attention or a closed
        # socket found then interrupts the session. Without it (engine-only use) waits sleep on wake/cancel.
        self.watch = None
        self.cancel = threading.Event()   # set when the client sends an attention or goes away
        self.wake = None                  # the Wakeup of the application lock wait in progress

    def interrupt(self):
        """Cancels what the session runs: a wait in progress ends at once."""
        self.cancel.set()
        wake = self.wake
        if wake is not None:
            wake.set()


class Wakeup:
    """A flag that a waiting session sleeps on, selectable (a pipe) so that the network layer can wait for it
    and for the client's socket at once. set() may come from any thread."""

    def __init__(self):
        self.r, self.w = os.pipe()
        os.set_blocking(self.r, False)
        os.set_blocking(self.w, False)

    def fileno(self):
        return self.r

    def set(self):
        try:
            os.write(self.w, b'x')
        except (BlockingIOError, OSError):
            pass   # already set (pipe full) or closed

    def clear(self):
        try:
            while os.read(self.r, 4096):
                pass
        except (BlockingIOError, OSError):
            pass

    def close(self):
        os.close(self.r)
        os.close(self.w)


class _Waiter:
    """A queued sp_getapplock request; granted is set (under the engine lock) when the lock is handed over."""

    def __init__(self, spid, mode):
        self.spid = spid
        self.mode = mode
        self.granted = False
        self.wake = Wakeup()


class Context:
    """Variable scope of one batch or procedure call."""

    def __init__(self, session, proc='', depth=0, inproc=None):
        self.session = session
        self.vars = {}
        self.proc = proc
        self.inproc = bool(proc) if inproc is None else inproc
        self.depth = depth
        self.return_value = None

    def var(self, name):
        v = self.vars.get(name.lower())
        if v is None:
            raise TsqlError(137, 'Must declare the scalar variable "%s".' % name, 15, abort=True)
        return v


class _Return(Exception):
    pass


class _Break(Exception):
    pass


class _Continue(Exception):
    pass


class _Abort(Exception):
    pass


class Cancelled(Exception):
    """The client sent an attention while the batch was waiting."""


class Engine:
    def __init__(self, state=None, databases=(), server_name='VIREOTEST'):
        self.catalog = Catalog(state, databases)
        self.lock = self.catalog.lock
        self.server_name = server_name
        self.version_text = 'Microsoft SQL Server 2012 (test stand-in over SQLite)'
        self.temp_counter = 0
        # Application locks: (database, resource) -> {spid: [mode, count]}, and the requests waiting for
        # each in arrival order ([_Waiter]); a release hands the lock to the waiters at the head of the queue.
        self.applocks = {}
        self.applock_queue = {}
        self.cancelled = 0   # statements ended by a client's attention (@@standin_cancelled)

    # ------------------------------------------------------------ entry points
    def run_batch(self, session, text, out, variables=None):
        with self.lock:
            try:
                stmts = parse(text)
            except RecursionError:
                out.error(TsqlError(191, 'Some part of your SQL statement is nested too deeply. Rewrite the query or '
                                         'break it up into smaller queries.', 15, line=1))
                out.done('done', DONE_ERROR)
                return
            except TsqlError as e:
                e.abort = True
                out.error(e)
                out.done('done', DONE_ERROR)
                return
            ctx = Context(session)
            if variables:
                ctx.vars.update(variables)
            try:
                self.run_list(stmts, ctx, out)
            except RecursionError:
                out.error(TsqlError(191, 'Some part of your SQL statement is nested too deeply.', 15, line=1))
                out.done('done', DONE_ERROR | DONE_MORE)
            except _Abort:
                pass
            except _Return:
                pass
            except (_Break, _Continue):
                pass
            self.finish(out)

    def finish(self, out):
        ev = out.events
        if ev and ev[-1][0] == 'done' and ev[-1][1] == 'done':
            _, kind, status, cmd, count = ev[-1]
            ev[-1] = ('done', kind, status & ~DONE_MORE, cmd, count)
        else:
            err = any(e[0] == 'error' and e[1].severity > 10 for e in ev)
            out.done('done', DONE_ERROR if err and ev and ev[-1][0] == 'error' else 0)

    def run_rpc(self, session, calls, out):
        """Remote procedure calls: sp_executesql and the procedures of the catalog."""
        with self.lock:
            ctx = Context(session)
            for name, params in calls:
                try:
                    lname = name.lower()
                    if lname == 'sp_executesql':
                        self.execute_sql_text([(n, (v, t)) for n, v, t, o in params], ctx, out)
                        out.events.append(('return', 0))
                        out.done('doneproc', DONE_MORE)
                        continue
                    if lname in ('sp_prepexec', 'sp_prepare', 'sp_execute', 'sp_unprepare'):
                        self.prepared_call(lname, params, ctx, out)
                        continue
                    if lname.startswith('sp_') or lname.startswith('proc#'):
                        raise unsupported('remote procedure call %s (send plain SQL batches)' % name)
                    db, pname = self.split_name(Parser(name).object_name(), ctx)
                    proc = self.catalog.find_proc(db, pname) if self.catalog.has_database(db) else None
                    if proc is None:
                        raise TsqlError(2812, "Could not find stored procedure '%s'." % name, 16)
                    self.call_proc(proc, [(n, v, t, False) for n, v, t, o in params], ctx, out)
                except _Abort:
                    out.done('doneproc', DONE_ERROR | DONE_MORE)
                except TsqlError as e:
                    if e.line is None:
                        e.line = 1
                    out.error(e)
                    out.done('doneproc', DONE_ERROR | DONE_MORE)
                except (_Return, _Break, _Continue):
                    out.done('doneproc', DONE_MORE)
            ev = out.events
            if ev and ev[-1][0] == 'done':
                _, kind, status, cmd, count = ev[-1]
                ev[-1] = ('done', kind, status & ~DONE_MORE, cmd, count)
            else:
                out.done('doneproc', 0)

    def prepared_call(self, name, params, ctx, out):
        """sp_prepare / sp_prepexec / sp_execute / sp_unprepare as ODBC drivers use them."""
        s = ctx.session
        if name in ('sp_prepexec', 'sp_prepare'):
            if len(params) < 3:
                raise TsqlError(201, "Procedure or function '%s' expects parameter '@stmt', which was not supplied."
                                % name, 16)
            defs, stmt = params[1][1], params[2][1]
            parse(stmt or '')       # a syntax error is reported at prepare time
            s.next_handle += 1
            handle = s.next_handle
            s.prepared[handle] = (defs, stmt)
            values = params[3:] if name == 'sp_prepexec' else []
        else:
            if not params or params[0][1] not in s.prepared:
                raise TsqlError(8179, 'Could not find prepared statement with handle %s.' % (params[0][1] if params else ''), 16)
            handle = params[0][1]
            if name == 'sp_unprepare':
                del s.prepared[handle]
                out.events.append(('return', 0))
                out.done('doneproc', DONE_MORE)
                return
            defs, stmt = s.prepared[handle]
            values = params[1:]
        if name != 'sp_prepare':
            self.execute_sql_text([(None, (stmt, None)), (None, (defs, None))] +
                                  [(n, (v, t)) for n, v, t, o in values], ctx, out)
        out.events.append(('return', 0))
        if name in ('sp_prepexec', 'sp_prepare'):
            out.events.append(('retval', 0, params[0][0] or '@handle', sqltypes.T_INT, handle))
        out.done('doneproc', DONE_MORE)

    def close_session(self, session):
        with self.lock:
            for name in list(session.temp.values()):
                t = self.catalog.find_table('tempdb', name)
                if t is not None:
                    self.catalog.drop_table(t)
            session.temp.clear()
            self.release_applocks(session)

    # ------------------------------------------------------------ statement lists
    def run_list(self, stmts, ctx, out):
        for i, st in enumerate(stmts):
            # An attention that came while the statement before ran stops the batch here, as SQL Server
            # stops it at once: nothing after the cancelled statement runs.
            if i and ctx.session.watch is not None and not ctx.session.cancel.is_set():
                ctx.session.watch(0)
                if ctx.session.cancel.is_set():
                    raise Cancelled()
            self.run_stmt(st, ctx, out)

    def run_stmt(self, st, ctx, out):
        try:
            self.dispatch(st, ctx, out)
        except TsqlError as e:
            if e.line is None:
                e.line = getattr(st, 'line', 1)
            if not e.proc:
                e.proc = ctx.proc
            ctx.session.error = e.number
            out.error(e)
            kind = 'doneinproc' if ctx.inproc else 'done'
            out.done(kind, DONE_ERROR | DONE_MORE)
            if e.abort:
                raise _Abort()
        except sqlite3.Error as se:
            e = functions.take_pending() or self.map_sqlite_error(se, st)
            if e.line is None:
                e.line = getattr(st, 'line', 1)
            e.proc = e.proc or ctx.proc
            ctx.session.error = e.number
            out.error(e)
            out.done('doneinproc' if ctx.inproc else 'done', DONE_ERROR | DONE_MORE)
            if e.abort:
                raise _Abort()

    def map_sqlite_error(self, se, st):
        msg = str(se)
        if 'UNIQUE constraint failed' in msg or 'PRIMARY KEY' in msg:
            return TsqlError(2627, 'Violation of PRIMARY KEY constraint. Cannot insert duplicate key.', 14)
        if 'NOT NULL constraint failed' in msg:
            col = msg.rsplit('.', 1)[-1]
            return TsqlError(515, "Cannot insert the value NULL into column '%s'; column does not allow nulls. "
                                  "UPDATE fails." % col, 16)
        return TsqlError(40001, 'Statement not supported by the test server (%s).' % msg, 16, abort=True)

    def dispatch(self, st, ctx, out):
        k = st.kind
        fn = getattr(self, 'do_' + k, None)
        if fn is None:
            raise unsupported('statement ' + k.upper())
        fn(st, ctx, out)

    def count_done(self, ctx, out, cmd, n):
        ctx.session.rowcount = n
        ctx.session.error = 0
        if ctx.inproc:
            if not ctx.session.nocount:
                out.done('doneinproc', DONE_MORE | DONE_COUNT, cmd, n)
        else:
            out.done('done', DONE_MORE | (0 if ctx.session.nocount else DONE_COUNT), cmd, n)

    # ------------------------------------------------------------ names
    def split_name(self, parts, ctx):
        """-> (db, name) for a [db].[schema].name reference."""
        name = parts[-1]
        db = parts[0] if len(parts) == 3 and parts[0] else ctx.session.db
        if name.startswith('#'):
            db = 'tempdb'
        return db, name

    def lookup_table(self, parts, ctx, required=True):
        db, name = self.split_name(parts, ctx)
        t = None
        if name.startswith('#'):
            real = ctx.session.temp.get(name.lower())
            if real is not None:
                t = self.catalog.find_table('tempdb', real)
        elif self.catalog.has_database(db):
            t = self.catalog.find_table(db, name)
        if t is None and required:
            raise TsqlError(208, "Invalid object name '%s'." % '.'.join(parts), 16, abort=True)
        return t

    def object_id(self, text, want, ctx):
        try:
            parts = Parser(text).object_name()
        except TsqlError:
            return None
        db, name = self.split_name(parts, ctx)
        if name.startswith('#'):
            real = ctx.session.temp.get(name.lower())
            t = self.catalog.find_table('tempdb', real) if real else None
            return t.id if t and want in (None, 'U') else None
        if not self.catalog.has_database(db):
            return None
        t = self.catalog.find_table(db, name)
        if t is not None and want in (None, 'U'):
            return t.id
        p = self.catalog.find_proc(db, name)
        if p is not None and want in (None, 'P'):
            return p.id
        return None

    # ------------------------------------------------------------ evaluation helpers
    def eval(self, e, ctx, scope=None):
        """Evaluate a scalar expression outside any FROM clause -> (value, type)."""
        if e.kind == 'lit':
            return e.value, e.type
        if e.kind == 'var':
            t, v = ctx.var(e.name)
            return v, t
        tr = Translator(self, ctx)
        tr.agg_state = None
        s, t = tr.expr(e, scope or Scope([]))
        row = self.catalog.conn.execute('SELECT ' + s, tr.params).fetchone()
        return row[0], t

    def eval_pred(self, e, ctx):
        tr = Translator(self, ctx)
        tr.agg_state = None
        s = tr.pred(e, Scope([]))
        row = self.catalog.conn.execute('SELECT CASE WHEN %s THEN 1 ELSE 0 END' % s, tr.params).fetchone()
        return row[0] == 1

    def run_query(self, q, ctx):
        tr = Translator(self, ctx)
        query = tr.query(q)
        cur = self.catalog.conn.execute(query.sql, tr.params)
        rows = cur.fetchmany(MAX_ROWS + 1)
        if len(rows) > MAX_ROWS:
            raise unsupported('results of more than %d rows' % MAX_ROWS)
        return query.columns, rows

    # ------------------------------------------------------------ SELECT
    def do_select_stmt(self, st, ctx, out):
        q = st.query
        core = q
        while core.kind == 'setop':
            core = core.left
        assigns = [it.assign for it in core.items] if core.kind == 'select' else []
        if any(assigns):
            if not all(assigns):
                raise TsqlError(141, 'A SELECT statement that assigns a value to a variable must not be combined with '
                                     'data-retrieval operations.', 15, abort=True)
            cols, rows = self.run_query(q, ctx)
            for row in rows:
                for name, value, (_, t) in zip(assigns, row, cols):
                    var = ctx.var(name)
                    var[1] = value
            if len(rows) > 1 and self.assign_reads_vars(core, assigns):
                raise unsupported('SELECT @var = expression over several rows when the expression reads the variable')
            ctx.session.rowcount = len(rows)
            ctx.session.error = 0
            return
        if core.kind == 'select' and core.into is not None:
            return self.select_into(q, core, ctx, out)
        tr = Translator(self, ctx)
        query = tr.query(q)
        cur = self.catalog.conn.execute(query.sql, tr.params)
        try:
            rows = cur.fetchmany(STREAM_MIN_ROWS + 1)
            if out.stream is not None and len(rows) > STREAM_MIN_ROWS and not self.may_widen(query, tr.params):
                # A large result goes to the client while SQLite produces it, as a server streams rows.
                n = out.stream(query.columns, self.limited(rows, cur), ctx.session.cancel)
                self.select_done(ctx, out, n)
                return
            rows += cur.fetchmany(MAX_ROWS + 1 - len(rows))
        finally:
            cur.close()
        if len(rows) > MAX_ROWS:
            raise unsupported('results of more than %d rows' % MAX_ROWS)
        cols = [(n, sqltypes.widen_for(t, [r[i] for r in rows])) for i, (n, t) in enumerate(query.columns)]
        out.result(cols, rows)
        self.select_done(ctx, out, len(rows))

    @staticmethod
    def limited(first, cur):
        """The rows of first, then the cursor's rows; more than MAX_ROWS in all is refused."""
        yield from first
        n = len(first)
        for r in cur:
            n += 1
            if n > MAX_ROWS:
                raise unsupported('results of more than %d rows' % MAX_ROWS)
            yield r

    def may_widen(self, query, params):
        """True when a value of a string column might be longer than the column's declared length
        (then the whole result is read first, so that the column is declared wide enough)."""
        conds = []
        for i, (_, t) in enumerate(query.columns):
            if not t.is_string or t.length == sqltypes.MAX:
                continue
            c = 'c%d' % i
            # Text: characters (unicode) or UTF-8 bytes, which are never fewer than the code page's
            # bytes. Numbers are spelled differently by Python, so they get room to spare.
            size = 'length(%s)' % c if t.is_unicode else 'length(CAST(%s AS BLOB))' % c
            conds.append("CASE typeof(%s) WHEN 'text' THEN %s > %d WHEN 'null' THEN 0 WHEN 'blob' THEN 1 "
                         "ELSE length(%s) + 12 > %d END" % (c, size, t.length, c, t.length))
        if not conds:
            return False
        names = ', '.join('c%d' % i for i in range(len(query.columns)))
        sql = 'WITH q(%s) AS (%s) SELECT 1 FROM q WHERE %s LIMIT 1' % (names, query.sql, ' OR '.join(conds))
        try:
            return self.catalog.conn.execute(sql, params).fetchone() is not None
        except sqlite3.Error:
            functions.take_pending()
            return True     # the whole read reports the error as before

    def select_done(self, ctx, out, n):
        ctx.session.rowcount = n
        ctx.session.error = 0
        kind = 'doneinproc' if ctx.inproc else 'done'
        out.done(kind, DONE_MORE | (0 if ctx.session.nocount else DONE_COUNT), CMD_SELECT, n)

    def assign_reads_vars(self, core, assigns):
        names = {a.lower() for a in assigns}
        found = []

        def walk(n):
            if isinstance(n, Node):
                if n.kind == 'var' and n.name.lower() in names:
                    found.append(n)
                for v in n.__dict__.values():
                    walk(v)
            elif isinstance(n, (list, tuple)):
                for v in n:
                    walk(v)
        walk([it.expr for it in core.items])
        return bool(found)

    def select_into(self, q, core, ctx, out):
        target = core.into
        core.into = None
        ident = [i for i, it in enumerate(core.items) if it.expr.kind == 'identity_fn']
        saved = [it.expr for it in core.items]
        if len(ident) > 1:
            raise TsqlError(2744, 'Multiple identity columns specified for table. Only one identity column per table '
                                  'is allowed.', 16)
        for i in ident:
            core.items[i].expr = Node('lit', value=None, type=sqltypes.T_INT)
        try:
            tr = Translator(self, ctx)
            query = tr.query(q)
        finally:
            core.into = target
            for i, e in enumerate(saved):
                core.items[i].expr = e
        db, name = self.split_name(target, ctx)
        if not self.catalog.has_database(db):
            raise TsqlError(2702, "Database '%s' does not exist." % db, 16)
        columns = []
        for n, t in query.columns:
            if n == '':
                raise TsqlError(1038, 'An object or column name is missing or empty. For SELECT INTO statements, '
                                      'verify each column has a name. For other statements, look for empty alias '
                                      'names. Aliases defined as "" or [] are not allowed. Change the alias to a '
                                      'valid name.', 15)
            columns.append(Column(n, t))
        for i in ident:
            fn = core.items[i].expr
            columns[i] = Column(columns[i].name, fn.type, False, (fn.seed, fn.inc))
        table = self.create_table_named(db, name, columns, ctx)
        if ident:
            try:
                rows = self.catalog.conn.execute(query.sql, tr.params).fetchall()
                keep = [j for j in range(len(columns)) if j not in ident]
                data = [([r[j] for j in keep], [query.columns[j][1] for j in keep]) for r in rows]
                n = self.insert_rows(table, [columns[j] for j in keep], data, ctx)
            except (TsqlError, sqlite3.Error):
                self.catalog.drop_table(table)
                raise
            self.count_done(ctx, out, CMD_SELECT, n)
            return
        try:
            cur = self.catalog.conn.execute('INSERT INTO %s SELECT * FROM (%s)' % (qi(table.phys), query.sql), tr.params)
        except sqlite3.Error:
            self.catalog.drop_table(table)
            raise
        self.count_done(ctx, out, CMD_SELECT, cur.rowcount)

    def create_table_named(self, db, name, columns, ctx, pk=(), uniques=()):
        if name.startswith('#'):
            if name.lower() in ctx.session.temp:
                raise TsqlError(2714, "There is already an object named '%s' in the database." % name, 16)
            self.temp_counter += 1
            real = name + '_' * max(1, 116 - len(name)) + '%012X' % self.temp_counter
            table = self.catalog.create_table('tempdb', real, columns, ctx.session.spid, pk, uniques)
            ctx.session.temp[name.lower()] = real
            return table
        if len(name) > 128:
            raise TsqlError(103, "The identifier that starts with '%s' is too long. Maximum length is 128." % name[:128], 15)
        return self.catalog.create_table(db, name, columns, None, pk, uniques)

    # ------------------------------------------------------------ DDL
    def do_create_table(self, st, ctx, out):
        db, name = self.split_name(st.name, ctx)
        if not self.catalog.has_database(db):
            raise TsqlError(2702, "Database '%s' does not exist." % db, 16)
        cols = []
        for c in st.cols:
            if c.identity and not (c.type.is_int or (c.type.name in ('decimal', 'numeric') and c.type.scale == 0)):
                raise TsqlError(2749, "Identity column '%s' must be of data type int, bigint, smallint, tinyint, or "
                                      "decimal or numeric with a scale of 0, and constrained to be nonnullable." % c.name, 16)
            cols.append(Column(c.name, c.type, c.nullable, c.identity, c.default_text))
        if sum(1 for c in cols if c.identity) > 1:
            raise TsqlError(2744, "Multiple identity columns specified for table '%s'. Only one identity column per "
                                  "table is allowed." % name, 16)
        names = {c.name.lower() for c in cols}
        for key in [st.pk] + list(st.uniques):
            for n in key:
                if n.lower() not in names:
                    raise TsqlError(1911, "Column name '%s' does not exist in the target table or view." % n, 16)
        for n in st.pk:
            for c in cols:
                if c.name.lower() == n.lower():
                    c.nullable = False
        self.create_table_named(db, name, cols, ctx, st.pk, st.uniques)

    def do_drop(self, st, ctx, out):
        for parts in st.names:
            db, name = self.split_name(parts, ctx)
            if st.what == 'table':
                t = self.lookup_table(parts, ctx, required=False)
                if t is None:
                    if st.if_exists:
                        continue
                    raise TsqlError(3701, "Cannot drop the table '%s', because it does not exist or you do not have "
                                          "permission." % '.'.join(parts), 11)
                self.catalog.drop_table(t)
                if name.startswith('#'):
                    ctx.session.temp.pop(name.lower(), None)
            else:
                p = self.catalog.find_proc(db, name) if self.catalog.has_database(db) else None
                if p is None:
                    if st.if_exists:
                        continue
                    raise TsqlError(3701, "Cannot drop the procedure '%s', because it does not exist or you do not "
                                          "have permission." % '.'.join(parts), 11)
                self.catalog.drop_proc(p)

    def do_truncate(self, st, ctx, out):
        t = self.lookup_table(st.name, ctx)
        self.catalog.conn.execute('DELETE FROM %s' % qi(t.phys))
        for c in t.columns:
            if c.identity:
                t.ident_next = c.identity[0]

    def do_alter_add(self, st, ctx, out):
        t = self.lookup_table(st.name, ctx)
        cols = [Column(c.name, c.type, c.nullable, None, c.default_text) for c in st.cols]
        if any(c.identity for c in st.cols):
            raise unsupported('ALTER TABLE ADD of an identity column')
        self.catalog.add_columns(t, cols)
        for c in cols:
            if c.default is not None:
                v, vt = self.eval(Parser(c.default).expr(), ctx)
                self.catalog.conn.execute('UPDATE %s SET %s = ?' % (qi(t.phys), qi(c.name)),
                                          (sqltypes.convert(v, c.type, vt),))

    def do_alter_drop(self, st, ctx, out):
        t = self.lookup_table(st.name, ctx)
        self.catalog.drop_columns(t, st.cols)

    def do_create_proc(self, st, ctx, out):
        db, name = self.split_name(st.name, ctx)
        if name.startswith('#'):
            raise unsupported('temporary procedures')
        self.catalog.create_proc(db, name, st.text, replace=st.alter)

    def do_use(self, st, ctx, out):
        if not self.catalog.has_database(st.db):
            raise TsqlError(911, "Database '%s' does not exist. Make sure that the name is entered correctly." % st.db, 16)
        ctx.session.db = self.catalog.db_display(st.db)
        out.events.append(('envdb', ctx.session.db))

    # ------------------------------------------------------------ DML
    def do_insert(self, st, ctx, out):
        table = self.lookup_table(st.table, ctx)
        if st.cols is None:
            target = [c for c in table.columns if not c.identity]
        else:
            target = []
            for n in st.cols:
                c = table.column(n)
                if c is None:
                    raise TsqlError(207, "Invalid column name '%s'." % n, 16, abort=True)
                if c.identity:
                    raise TsqlError(544, "Cannot insert explicit value for identity column in table '%s' when "
                                         "IDENTITY_INSERT is set to OFF." % table.name, 16)
                target.append(c)
        if st.rows is not None:
            rows = []
            types = None
            for row in st.rows:
                if len(row) != len(target):
                    if st.cols is None:
                        raise TsqlError(213, 'Column name or number of supplied values does not match table definition.', 16)
                    raise TsqlError(109 if len(row) < len(target) else 110,
                                    'There are %s columns in the INSERT statement than values specified in the VALUES '
                                    'clause. The number of values in the VALUES clause must match the number of columns '
                                    'specified in the INSERT statement.' % ('more' if len(row) < len(target) else 'fewer'),
                                    15)
                vals = []
                vtypes = []
                for e in row:
                    v, t = self.eval(e, ctx)
                    vals.append(v)
                    vtypes.append(t)
                rows.append((vals, vtypes))
        elif st.select is not None:
            cols, data = self.run_query(st.select, ctx)
            if len(cols) != len(target):
                raise TsqlError(120 if len(cols) < len(target) else 121,
                                'The select list for the INSERT statement contains %s items than the insert list. The '
                                'number of SELECT values must match the number of INSERT columns.'
                                % ('fewer' if len(cols) < len(target) else 'more'), 15)
            vtypes = [t for _, t in cols]
            for c, t in zip(target, vtypes):
                sqltypes.check_implicit(t, c.type)
            rows = [(list(r), vtypes) for r in data]
        else:
            raise unsupported('INSERT ... EXEC')
        n = self.insert_rows(table, target, rows, ctx)
        self.count_done(ctx, out, CMD_INSERT, n)

    def insert_rows(self, table, target, rows, ctx):
        cols = table.columns
        pos = {c.name.lower(): i for i, c in enumerate(target)}
        idents = None
        if any(c.identity for c in cols) and rows:
            idents = self.catalog.next_identity(table, len(rows))
        defaults = {}
        for c in cols:
            if c.name.lower() not in pos and c.default is not None:
                defaults[c.name.lower()] = self.eval(Parser(c.default).expr(), ctx)
        out_rows = []
        for r, (vals, vtypes) in enumerate(rows):
            rec = []
            for c in cols:
                i = pos.get(c.name.lower())
                if i is not None:
                    v, t = vals[i], vtypes[i]
                elif c.identity:
                    v, t = idents[r], sqltypes.T_BIGINT
                elif c.name.lower() in defaults:
                    v, t = defaults[c.name.lower()]
                else:
                    v, t = None, None
                v = functions.store(v, c.type.decl(), t.decl() if t else None)
                if v is None and not c.nullable:
                    raise TsqlError(515, "Cannot insert the value NULL into column '%s', table '%s.dbo.%s'; column does "
                                         "not allow nulls. INSERT fails." % (c.name, table.db, table.name), 16)
                rec.append(v)
            out_rows.append(rec)
        if not out_rows:
            return 0
        sql = 'INSERT INTO %s VALUES (%s)' % (qi(table.phys), ', '.join('?' * len(cols)))
        conn = self.catalog.conn
        conn.execute('SAVEPOINT ins')
        try:
            conn.executemany(sql, out_rows)
        except sqlite3.IntegrityError as e:
            conn.execute('ROLLBACK TO ins')
            conn.execute('RELEASE ins')
            raise self.constraint_error(e, table, 'INSERT')
        conn.execute('RELEASE ins')
        if idents:
            ctx.session.identity = idents[-1]
        return len(out_rows)

    def constraint_error(self, e, table, verb):
        msg = str(e)
        if 'NOT NULL' in msg:
            col = msg.rsplit('.', 1)[-1]
            return TsqlError(515, "Cannot insert the value NULL into column '%s', table '%s.dbo.%s'; column does not "
                                  "allow nulls. %s fails." % (col, table.db, table.name, verb), 16)
        return TsqlError(2627, "Violation of PRIMARY KEY constraint 'PK_%s'. Cannot insert duplicate key in object "
                               "'dbo.%s'." % (table.name, table.name), 14)

    def dml_target(self, st, ctx, tr):
        """Resolve the target and FROM of UPDATE/DELETE -> (table, from sql, scope, target source)."""
        if st.frm is None:
            table = self.lookup_table(st.target, ctx)
            sql, src = tr.resolve_source(Node('table', name=st.target, alias=None), [])
            return table, sql, Scope([src]), src
        from_sql, sources = tr.from_clause(st.frm, None)
        want = st.target[-1].lower()
        matches = [s for s in sources if s.alias == want and s.table is not None]
        if len(st.target) == 1 and matches:
            src = matches[0]
        else:
            table = self.lookup_table(st.target, ctx)
            matches = [s for s in sources if s.table is table]
            if len(matches) == 1:
                src = matches[0]
            elif not matches:
                sql, src = tr.resolve_source(Node('table', name=st.target, alias=None), sources)
                from_sql += ', ' + sql
                sources.append(src)
            else:
                raise TsqlError(8154, "The table '%s' is ambiguous." % st.target[-1], 16, abort=True)
        return src.table, from_sql, Scope(sources), src

    def do_update(self, st, ctx, out):
        tr = Translator(self, ctx)
        tr.agg_state = None
        table, from_sql, scope, src = self.dml_target(st, ctx, tr)
        where = tr.pred(st.where, scope) if st.where is not None else None
        sets = []
        for kind, target, e in st.sets:
            if kind == 'var':
                raise unsupported('UPDATE ... SET @variable')
            col = table.column(target[-1])
            if col is None:
                raise TsqlError(207, "Invalid column name '%s'." % target[-1], 16, abort=True)
            if col.identity:
                raise TsqlError(8102, "Cannot update identity column '%s'." % col.name, 16)
            s, t = tr.expr(e, scope)
            sqltypes.check_implicit(t, col.type)
            sets.append((col, 'tsql_store(%s, %s, %s)' % (s, lit_sql(col.type.decl()), lit_sql(t.decl()) if t else 'NULL')))
        phys = qi(table.phys)
        if st.frm is None:
            sql = 'UPDATE %s AS %s SET %s' % (phys, src.sqlalias, ', '.join('%s = %s' % (qi(c.name), s) for c, s in sets))
            if where:
                sql += ' WHERE ' + where
        else:
            cond = '%s.rowid = %s.rowid' % (src.sqlalias, phys)
            w = (where + ' AND ' + cond) if where else cond
            assigns = ', '.join('%s = (SELECT %s FROM %s WHERE %s LIMIT 1)' % (qi(c.name), s, from_sql, w) for c, s in sets)
            sql = 'UPDATE %s SET %s WHERE rowid IN (SELECT %s.rowid FROM %s%s)' % (
                phys, assigns, src.sqlalias, from_sql, (' WHERE ' + where) if where else '')
        conn = self.catalog.conn
        conn.execute('SAVEPOINT upd')
        try:
            cur = conn.execute(sql, tr.params)
        except sqlite3.IntegrityError as e:
            conn.execute('ROLLBACK TO upd')
            conn.execute('RELEASE upd')
            raise self.constraint_error(e, table, 'UPDATE')
        except sqlite3.Error:
            conn.execute('ROLLBACK TO upd')
            conn.execute('RELEASE upd')
            raise
        conn.execute('RELEASE upd')
        self.count_done(ctx, out, CMD_UPDATE, cur.rowcount)

    def do_delete(self, st, ctx, out):
        tr = Translator(self, ctx)
        tr.agg_state = None
        table, from_sql, scope, src = self.dml_target(st, ctx, tr)
        where = tr.pred(st.where, scope) if st.where is not None else None
        phys = qi(table.phys)
        if st.frm is None:
            sql = 'DELETE FROM %s AS %s' % (phys, src.sqlalias) + ((' WHERE ' + where) if where else '')
        else:
            sql = 'DELETE FROM %s WHERE rowid IN (SELECT %s.rowid FROM %s%s)' % (
                phys, src.sqlalias, from_sql, (' WHERE ' + where) if where else '')
        conn = self.catalog.conn
        conn.execute('SAVEPOINT del')
        try:
            cur = conn.execute(sql, tr.params)
        except sqlite3.Error:
            conn.execute('ROLLBACK TO del')
            conn.execute('RELEASE del')
            raise
        conn.execute('RELEASE del')
        self.count_done(ctx, out, CMD_DELETE, cur.rowcount)

    # ------------------------------------------------------------ control flow
    def do_block(self, st, ctx, out):
        self.run_list(st.stmts, ctx, out)

    def do_if(self, st, ctx, out):
        if self.eval_pred(st.cond, ctx):
            self.run_stmt(st.then, ctx, out)
        elif st.other is not None:
            self.run_stmt(st.other, ctx, out)

    def do_while(self, st, ctx, out):
        for _ in range(MAX_LOOP):
            if not self.eval_pred(st.cond, ctx):
                return
            try:
                self.run_stmt(st.body, ctx, out)
            except _Break:
                return
            except _Continue:
                continue
        raise unsupported('WHILE loops of more than %d iterations' % MAX_LOOP)

    def do_break(self, st, ctx, out):
        raise _Break()

    def do_continue(self, st, ctx, out):
        raise _Continue()

    def do_return(self, st, ctx, out):
        if st.value is not None:
            v, t = self.eval(st.value, ctx)
            ctx.return_value = sqltypes.convert(v, sqltypes.T_INT, t)
        raise _Return()

    def do_tran(self, st, ctx, out):
        s = ctx.session
        if st.op == 'begin':
            s.trancount += 1
        elif st.op == 'commit':
            if s.trancount == 0:
                raise TsqlError(3902, 'The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.', 16)
            s.trancount -= 1
        else:
            raise unsupported('ROLLBACK (transactions are not kept by the test server)')

    # ------------------------------------------------------------ variables and messages
    def do_declare(self, st, ctx, out):
        for name, typ, init in st.items:
            if name.lower() in ctx.vars:
                raise TsqlError(134, 'The variable name \'%s\' has already been declared. Variable names must be unique '
                                     'within a query batch or stored procedure.' % name, 15, abort=True)
            ctx.vars[name.lower()] = [typ, None]
            if init is not None:
                v, t = self.eval(init, ctx)
                ctx.vars[name.lower()][1] = sqltypes.implicit(v, typ, t)

    def do_setvar(self, st, ctx, out):
        var = ctx.var(st.var)
        e = st.expr
        if st.op != '=':
            e = Node('bin', op=st.op[0], left=Node('var', name=st.var), right=e)
        v, t = self.eval(e, ctx)
        var[1] = sqltypes.implicit(v, var[0], t)
        ctx.session.rowcount = 1

    def do_setopt(self, st, ctx, out):
        value = st.value.lower() if isinstance(st.value, str) else st.value
        for name in st.names:
            if name == 'nocount':
                ctx.session.nocount = value == 'on'
            elif name == 'rowcount':
                if str(value) != '0':
                    raise unsupported('SET ROWCOUNT other than 0')
            elif name == 'implicit_transactions' and value == 'on':
                raise unsupported('SET IMPLICIT_TRANSACTIONS ON')
            elif name in ('ansi_nulls', 'ansi_warnings', 'ansi_padding', 'quoted_identifier', 'concat_null_yields_null',
                          'arithabort', 'textsize', 'dateformat', 'language', 'datefirst', 'xact_abort', 'lock_timeout',
                          'deadlock_priority', 'implicit_transactions', 'ansi_null_dflt_on', 'cursor_close_on_commit',
                          'numeric_roundabort', 'fmtonly', 'identity_insert', 'showplan_text', 'statistics',
                          'ansi_defaults', 'no_browsetable', 'transaction isolation level', 'context_info',
                          'query_governor_cost_limit', 'nocount'):
                if name == 'identity_insert' or (name == 'fmtonly' and value == 'on'):
                    raise unsupported('SET ' + name.upper())
            else:
                raise TsqlError(195, "'%s' is not a recognized SET option." % name, 15, abort=True)

    def do_waitfor(self, st, ctx, out):
        v, _ = self.eval(st.delay, ctx)
        m = re.fullmatch(r'\s*(\d{1,2}):(\d{1,2})(?::(\d{1,2})(?:\.(\d{1,3}))?)?\s*', str(v or ''))
        if not m:
            raise TsqlError(148, "Incorrect time syntax in time string '%s' used with WAITFOR." % v, 15, abort=True)
        h, mi, sec, ms = (int(g or 0) for g in m.groups())
        seconds = h * 3600 + mi * 60 + sec + int((m.group(4) or '0').ljust(3, '0')) / 1000.0
        # Other connections (a second login, for instance) run while this one waits; an attention ends it.
        deadline = time.monotonic() + seconds
        while not ctx.session.cancel.is_set():
            left = deadline - time.monotonic()
            if left <= 0:
                break
            self.sleep(ctx.session, left)
        if ctx.session.cancel.is_set():
            raise Cancelled()
        ctx.session.error = 0

    @contextlib.contextmanager
    def unlocked(self):
        """Releases the engine lock (every level this thread holds) for the time of the block."""
        held = 0
        while True:
            try:
                self.lock.release()
            except RuntimeError:
                break
            held += 1
        try:
            yield
        finally:
            for _ in range(held):
                self.lock.acquire()

    def sleep(self, session, timeout, wake=None):
        """Waits without the engine lock until timeout seconds pass, wake is set or the session is interrupted
        (the network layer wakes on the client's socket becoming readable)."""
        with self.unlocked():
            if session.watch is not None:
                session.watch(timeout, wake)
            elif wake is not None:
                select.select([wake], [], [], timeout)
            else:
                session.cancel.wait(timeout)

    def do_print(self, st, ctx, out):
        v, t = self.eval(st.expr, ctx)
        text = '' if v is None else sqltypes.convert(v, sqltypes.varchar(8000, True), t)
        out.info(text, st.line, ctx.proc)

    def do_raiserror(self, st, ctx, out):
        msg, mt = self.eval(st.msg, ctx)
        sev, _ = self.eval(st.severity, ctx)
        state, _ = self.eval(st.state, ctx)
        args = [self.eval(a, ctx)[0] for a in st.args]
        if isinstance(msg, int):
            raise unsupported('RAISERROR with a message number')
        text = format_message('' if msg is None else msg, args)
        sev = int(sev or 0)
        state = int(state or 1)
        if sev > 18:
            raise TsqlError(2754, 'Error severity levels greater than 18 can only be specified by members of the '
                                  'sysadmin role, using the WITH LOG option.', 16)
        if sev <= 10:
            out.info(text, st.line, ctx.proc, 50000, state, sev)
            return
        raise TsqlError(50000, text, sev, state)

    # ------------------------------------------------------------ procedures
    def do_exec_string(self, st, ctx, out):
        v, t = self.eval(st.expr, ctx)
        if v is None:
            return
        try:
            stmts = parse(v)
        except TsqlError as e:
            raise e
        sub = Context(ctx.session, ctx.proc, ctx.depth + 1)
        try:
            self.run_list(stmts, sub, out)
        except (_Return, _Break, _Continue):
            pass

    def do_exec(self, st, ctx, out):
        db, name = self.split_name(st.name, ctx)
        if name.lower() == 'sp_executesql':
            return self.exec_sql(st, ctx, out)
        if name.lower() in ('sp_getapplock', 'sp_releaseapplock'):
            return self.exec_applock(name.lower(), db, st, ctx, out)
        proc = self.catalog.find_proc(db, name) if self.catalog.has_database(db) else None
        if proc is None:
            raise TsqlError(2812, "Could not find stored procedure '%s'." % '.'.join(st.name), 16)
        args = []
        for pname, value, output, is_default in st.args:
            if is_default:
                args.append((pname, None, None, True))
                continue
            v, t = self.eval(value, ctx)
            args.append((pname, v, t, False))
        self.call_proc(proc, args, ctx, out, st.retvar)

    def call_proc(self, proc, args, ctx, out, retvar=None):
        if ctx.depth >= MAX_NESTING:
            raise TsqlError(217, 'Maximum stored procedure, function, trigger, or view nesting level exceeded '
                                 '(limit 32).', 16, abort=True)
        node = parse(proc.text)[0]
        sub = Context(ctx.session, proc.name, ctx.depth + 1)
        params = node.params
        given = {}
        positional = [a for a in args if a[0] is None]
        if len(args) > len(params):
            raise TsqlError(8144, 'Procedure or function %s has too many arguments specified.' % proc.name, 16)
        for i, a in enumerate(positional):
            given[params[i][0].lower()] = a
        for a in args:
            if a[0] is not None:
                if not any(p[0].lower() == a[0].lower() for p in params):
                    raise TsqlError(8145, '%s is not a parameter for procedure %s.' % (a[0], proc.name), 16)
                given[a[0].lower()] = a
        for pname, ptype, default, output in params:
            a = given.get(pname.lower())
            if a is None or a[3]:
                if default is None:
                    raise TsqlError(201, "Procedure or function '%s' expects parameter '%s', which was not supplied."
                                    % (proc.name, pname), 16)
                v, t = self.eval(default, ctx)
            else:
                v, t = a[1], a[2]
            try:
                value = sqltypes.convert(v, ptype, t)
            except TsqlError:
                raise TsqlError(8114, 'Error converting data type %s to %s.' % (t.name if t else 'varchar', ptype.name), 16)
            sub.vars[pname.lower()] = [ptype, value]
        status = 0
        try:
            self.run_list(node.body, sub, out)
        except _Return:
            pass
        except (_Break, _Continue):
            pass
        if sub.return_value is not None:
            status = sub.return_value
        if retvar:
            var = ctx.var(retvar)
            var[1] = status
        out.events.append(('return', status))
        out.done('doneproc', DONE_MORE)

    # ------------------------------------------------------------ application locks
    APPLOCK_PARAMS = {'sp_getapplock': ('@resource', '@lockmode', '@lockowner', '@locktimeout', '@dbprincipal'),
                      'sp_releaseapplock': ('@resource', '@lockowner', '@dbprincipal')}
    APPLOCK_MODES = ('shared', 'update', 'intentshared', 'intentexclusive', 'exclusive')
    # Pairs of modes that two sessions may hold at once, as SQL Server's lock compatibility has them.
    APPLOCK_COMPATIBLE = {('shared', 'shared'), ('shared', 'update'), ('update', 'shared'),
                          ('intentshared', 'intentshared'), ('intentshared', 'intentexclusive'),
                          ('intentexclusive', 'intentshared'), ('intentexclusive', 'intentexclusive'),
                          ('intentshared', 'shared'), ('shared', 'intentshared'),
                          ('intentshared', 'update'), ('update', 'intentshared')}

    def exec_applock(self, name, db, st, ctx, out):
        """sp_getapplock / sp_releaseapplock with SQL Server's return codes: 0 granted at once, 1 granted after
        a wait, -1 timed out, -2 cancelled, -999 a bad call. Locks are owned by the session, kept per database
        and released when the session ends."""
        names = self.APPLOCK_PARAMS[name]
        given = {}
        for i, (pname, value, output, is_default) in enumerate(st.args):
            key = pname.lower() if pname else (names[i] if i < len(names) else None)
            if key not in names:
                raise TsqlError(8145 if pname else 8144, '%s is not a parameter for procedure %s.' % (pname, name)
                                if pname else 'Procedure or function %s has too many arguments specified.' % name, 16)
            if not is_default:
                given[key] = self.eval(value, ctx)[0]
        status = self.applock_call(name, db, given, ctx.session, out)
        if st.retvar:
            ctx.var(st.retvar)[1] = status
        out.events.append(('return', status))
        out.done('doneproc', DONE_MORE)

    def applock_call(self, name, db, given, session, out):
        resource = given.get('@resource')
        owner = str(given.get('@lockowner') or 'Transaction').lower()
        if resource is None or len(str(resource)) > 255 or owner not in ('session', 'transaction'):
            return -999
        if owner == 'transaction':
            raise unsupported('application locks owned by a transaction (use @LockOwner = \'Session\')')
        key = (db.lower(), str(resource))
        if name == 'sp_releaseapplock':
            held = self.applocks.get(key, {}).get(session.spid)
            if not held:
                out.error(TsqlError(1223, "Cannot release the application lock (Database Principal: 'public', "
                                          "Resource: '%s') because it is not currently held." % resource, 16))
                return -999
            held[1] -= 1
            if held[1] == 0:
                del self.applocks[key][session.spid]
                self.grant_waiters(key)
            return 0
        mode = str(given.get('@lockmode') or '').lower()
        timeout = given.get('@locktimeout')
        timeout = -1 if timeout is None else int(timeout)
        if mode not in self.APPLOCK_MODES:
            return -999
        holders = self.applocks.get(key, {})
        queue = self.applock_queue.get(key, [])
        mine = session.spid in holders
        # A new request does not pass the requests already waiting (SQL Server's lock queue is first come,
        # first served), so a holder that releases and asks again at once queues behind a waiter.
        if self.applock_compatible(holders, session.spid, mode) and (mine or not queue):
            self.applock_grant(key, session.spid, mode)
            return 0
        if timeout == 0:
            return -1
        queue = self.applock_queue.setdefault(key, [])
        waiter = _Waiter(session.spid, mode)
        # A holder's conversion (Shared to Exclusive, say) goes ahead of new requests.
        queue.insert(0, waiter) if mine else queue.append(waiter)
        deadline = None if timeout < 0 else time.monotonic() + timeout / 1000.0
        session.wake = waiter.wake
        try:
            while True:
                # Cleared before the checks: a set() after them wakes the sleep below.
                waiter.wake.clear()
                if waiter.granted:
                    return 1
                if session.cancel.is_set():
                    return -2
                left = None if deadline is None else deadline - time.monotonic()
                if left is not None and left <= 0:
                    return -1
                self.sleep(session, left, waiter.wake)
        finally:
            session.wake = None
            if not waiter.granted:
                queue.remove(waiter)
                self.grant_waiters(key)   # the requests behind it may go now
            waiter.wake.close()

    def applock_compatible(self, holders, spid, mode):
        return all(s == spid or (m, mode) in self.APPLOCK_COMPATIBLE for s, (m, _) in holders.items())

    def applock_grant(self, key, spid, mode):
        holders = self.applocks.setdefault(key, {})
        if spid in holders:
            holders[spid][1] += 1
            if mode == 'exclusive':
                holders[spid][0] = mode
        else:
            holders[spid] = [mode, 1]

    def grant_waiters(self, key):
        """Hands a lock to the waiting requests at the head of its queue, in order, as far as they are
        compatible with the holders; the first that is not stops the rest."""
        queue = self.applock_queue.get(key, [])
        while queue and self.applock_compatible(self.applocks.get(key, {}), queue[0].spid, queue[0].mode):
            w = queue.pop(0)
            self.applock_grant(key, w.spid, w.mode)
            w.granted = True
            w.wake.set()
        if not queue:
            self.applock_queue.pop(key, None)
        if not self.applocks.get(key, True):
            del self.applocks[key]

    def release_applocks(self, session):
        for key in list(self.applocks):
            if self.applocks[key].pop(session.spid, None) is not None:
                self.grant_waiters(key)

    def exec_sql(self, st, ctx, out):
        if not st.args:
            raise TsqlError(201, "Procedure or function 'sp_executesql' expects parameter '@statement', which was not "
                                 "supplied.", 16)
        values = [(pname, self.eval(v, ctx) if not d else (None, None)) for pname, v, o, d in st.args]
        self.execute_sql_text(values, ctx, out)

    def execute_sql_text(self, values, ctx, out):
        """sp_executesql: values [(name or None, (value, type))] -> runs the statement with its parameters."""
        stmt = values[0][1][0]
        defs = values[1][1][0] if len(values) > 1 else ''
        variables = {}
        if defs:
            p = Parser(defs)
            names = []
            while p.tok.kind == 'var':
                n = p.advance().value
                p.accept_kw('as')
                typ = p.data_type()
                p.accept_kw('output', 'out')
                names.append((n, typ))
                if not p.accept_op(','):
                    break
            if p.tok.kind != 'eof':
                raise p.error()
            rest = values[2:]
            for i, (pname, (v, t)) in enumerate(rest):
                if pname is None:
                    if i >= len(names):
                        raise TsqlError(8144, 'Procedure or function has too many arguments specified.', 16)
                    n, typ = names[i]
                else:
                    match = [x for x in names if x[0].lower() == pname.lower()]
                    if not match:
                        raise TsqlError(8145, '%s is not a parameter for procedure.' % pname, 16)
                    n, typ = match[0]
                variables[n.lower()] = [typ, sqltypes.convert(v, typ, t)]
            for n, typ in names:
                if n.lower() not in variables:
                    raise TsqlError(8178, "The parameterized query '(%s' expects the parameter '%s', which was not "
                                          "supplied." % (defs[:30], n), 16)
        if stmt is None:
            return
        stmts = parse(stmt)
        sub = Context(ctx.session, ctx.proc, ctx.depth + 1, inproc=True)
        sub.vars.update(variables)
        try:
            self.run_list(stmts, sub, out)
        except (_Return, _Break, _Continue):
            pass


def format_message(msg, args):
    out = []
    i = 0
    ai = 0
    while i < len(msg):
        c = msg[i]
        if c == '%' and i + 1 < len(msg):
            j = i + 1
            while j < len(msg) and msg[j] in '-+ 0#123456789.':
                j += 1
            if j < len(msg) and msg[j] in 'sdiuxXo':
                v = args[ai] if ai < len(args) else None
                ai += 1
                out.append('(null)' if v is None else str(v))
                i = j + 1
                continue
            if msg[j:j + 1] == '%':
                out.append('%')
                i = j + 1
                continue
        out.append(c)
        i += 1
    return ''.join(out)


def new_engine(state=None, databases=()):
    return Engine(state, databases)
