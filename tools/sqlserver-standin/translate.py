"""Translation of T-SQL expressions and queries into SQLite SQL with SQL Server result types."""

import sqltypes
from catalog import VIEWS, qi
from errors import TsqlError, unsupported
from sqltypes import SqlType, T_INT, T_BIGINT, T_FLOAT, T_DATETIME, T_BIT

AGGREGATES = {'count', 'count_big', 'sum', 'avg', 'min', 'max', 'checksum_agg'}
# Functions that take binary arguments as they are; the others refuse them rather than guess a conversion.
BINARY_ARGS = {'isnull', 'coalesce', 'nullif', 'datalength', 'substring', 'hashbytes'}


def lit_sql(v):
    if v is None:
        return 'NULL'
    if isinstance(v, str):
        return "'" + v.replace("'", "''") + "'"
    if isinstance(v, float):
        return repr(v)
    if isinstance(v, bytes):
        return "X'%s'" % v.hex()
    return str(int(v))


class Source:
    def __init__(self, alias, sqlalias, columns, table=None, name=None):
        self.alias = alias            # name used to qualify columns (lower case)
        self.sqlalias = sqlalias
        self.columns = columns        # [(name, type, sql column name)]
        self.table = table            # catalog.Table for base tables
        self.name = name              # table name as written (lower) when no alias
        self.colmap = {}
        for name_, typ, sqlname in columns:
            self.colmap.setdefault(name_.lower(), (name_, typ, sqlname))


class Scope:
    def __init__(self, sources, parent=None):
        self.sources = sources
        self.parent = parent


class Query:
    """A translated query: SQL text, output columns [(name, type)], parameters."""

    def __init__(self, sql, columns):
        self.sql = sql
        self.columns = columns


class Translator:
    def __init__(self, executor, ctx):
        self.ex = executor
        self.ctx = ctx
        self.params = {}
        self.n_alias = 0
        self.agg_state = None

    # ------------------------------------------------------------ parameters
    def param(self, value):
        name = 'p%d' % len(self.params)
        self.params[name] = value
        return ':' + name

    def new_alias(self):
        self.n_alias += 1
        return 't%d' % self.n_alias

    # ------------------------------------------------------------ name resolution
    def resolve_source(self, node, scope_sources):
        """FROM item -> (sql text, Source)."""
        if node.kind == 'derived':
            q = self.query(node.query, Scope([], None))
            a = self.new_alias()
            cols = [(n, t, '__c%d' % i) for i, (n, t) in enumerate(q.columns)]
            for n, _, _ in cols:
                if n == '':
                    raise TsqlError(8155, "No column name was specified for column %d of '%s'." % (
                        [c[0] for c in cols].index(n) + 1, node.alias), 16)
            return '(%s) AS %s' % (q.sql, a), Source(node.alias.lower(), a, cols)
        parts = node.name
        name = parts[-1]
        view = self.view_for(parts)
        a = self.new_alias()
        alias = (node.alias or name).lower()
        if view is not None:
            sql, cols, db = view
            sql = sql.replace('{db}', lit_sql(db))
            return '(%s) AS %s' % (sql, a), Source(alias, a, [(n, t, n) for n, t in cols])
        table = self.ex.lookup_table(parts, self.ctx)
        cols = [(c.name, c.type, c.name) for c in table.columns]
        return '%s AS %s' % (qi(table.phys), a), Source(alias, a, cols, table=table)

    def view_for(self, parts):
        name = parts[-1].lower()
        schema = parts[-2].lower() if len(parts) >= 2 else ''
        db = parts[-3] if len(parts) >= 3 and parts[-3] else self.ctx.session.db
        key = None
        if schema in ('sys', 'information_schema'):
            key = schema + '.' + name
        elif name in ('sysobjects', 'syscolumns', 'sysdatabases') and schema in ('', 'dbo'):
            key = name
        if key is None or key not in VIEWS:
            return None
        if not self.ex.catalog.has_database(db):
            return None
        sql, cols = VIEWS[key]
        return sql, cols, self.ex.catalog.db_display(db)

    def column(self, parts, scope):
        name = parts[-1]
        qual = [p for p in parts[:-1] if p != '']
        s = scope
        while s is not None:
            found = []
            for src in s.sources:
                if qual:
                    q = qual[-1].lower()
                    if src.alias != q:
                        continue
                c = src.colmap.get(name.lower())
                if c is not None:
                    found.append((src, c))
                elif qual:
                    raise TsqlError(207, "Invalid column name '%s'." % name, 16, abort=True)
            if len(found) > 1:
                raise TsqlError(209, "Ambiguous column name '%s'." % name, 16, abort=True)
            if found:
                src, (cname, typ, sqlname) = found[0]
                if self.agg_state is not None and s is scope:
                    self.agg_state['cols'].append('%s.%s' % (src.sqlalias, qi(sqlname)))
                return '%s.%s' % (src.sqlalias, qi(sqlname)), typ
            if qual and any(src.alias == qual[-1].lower() for src in s.sources):
                break
            s = s.parent
        if qual:
            raise TsqlError(4104, 'The multi-part identifier "%s" could not be bound.' % '.'.join(parts), 16,
                            abort=True)
        raise TsqlError(207, "Invalid column name '%s'." % name, 16, abort=True)

    # ------------------------------------------------------------ expressions
    def coerce(self, sql, src, target):
        """SQL converting an expression of type src to target (for comparisons and arithmetic)."""
        if src is None or target is None or src == target:
            return sql
        if src.is_string and target.is_string:
            return sql
        if src.is_numeric and target.is_numeric and not (target.is_int and not src.is_int):
            return sql
        return 'tsql_conv(%s, %s, %s, NULL)' % (sql, lit_sql(target.decl()), lit_sql(src.decl()))

    def expr(self, e, scope):
        k = e.kind
        if k == 'lit':
            return lit_sql(e.value), e.type
        if k == 'col':
            return self.column(e.parts, scope)
        if k == 'var':
            v = self.ctx.var(e.name)
            return self.param(v[1]), v[0]
        if k == 'sysvar':
            return self.sysvar(e.name)
        if k == 'bin':
            return self.binary(e, scope)
        if k == 'neg':
            s, t = self.expr(e.expr, scope)
            if t is not None and not t.is_numeric:
                s = self.coerce(s, t, T_INT)
                t = T_INT
            return '(-%s)' % s, t
        if k == 'bitnot':
            s, t = self.expr(e.expr, scope)
            return '(~%s)' % s, t
        if k == 'func':
            return self.func(e, scope)
        if k == 'case':
            return self.case(e, scope)
        if k == 'cast':
            s, t = self.expr(e.expr, scope)
            style = 'NULL'
            if e.style is not None:
                style, _ = self.expr(e.style, scope)
            fn = 'tsql_try_conv' if e.try_ else 'tsql_conv'
            return '%s(%s, %s, %s, %s)' % (fn, s, lit_sql(e.type.decl()), lit_sql(t.decl()) if t else 'NULL', style), e.type
        if k == 'subquery':
            q = self.query(e.query, scope)
            if len(q.columns) != 1:
                raise TsqlError(116, 'Only one expression can be specified in the select list when the subquery is '
                                     'not introduced with EXISTS.', 16, abort=True)
            return ('(SELECT tsql_one(count(*), max(__c0)) FROM (%s LIMIT 2))' % q.sql), q.columns[0][1]
        if k in ('cmp', 'and', 'or', 'not', 'isnull', 'like', 'between', 'in', 'exists', 'truth'):
            raise TsqlError(4145, 'An expression of non-boolean type specified in a context where a condition is '
                                  'expected.', 16, abort=True) if k == 'truth' else \
                TsqlError(102, "Incorrect syntax near '%s'." % ('=' if k == 'cmp' else k), 15, abort=True)
        if k == 'identity_fn':
            raise TsqlError(177, 'The IDENTITY function can only be used when the SELECT statement has an INTO clause.',
                            15, abort=True)
        if k == 'star':
            raise TsqlError(102, "Incorrect syntax near '*'.", 15, abort=True)
        raise unsupported('expression ' + k)

    def sysvar(self, name):
        s = self.ctx.session
        if name == '@@rowcount':
            return self.param(s.rowcount), T_INT
        if name == '@@error':
            return self.param(s.error), T_INT
        if name == '@@identity':
            return self.param(s.identity), SqlType('numeric', precision=38, scale=0)
        if name == '@@spid':
            return self.param(s.spid), SqlType('smallint')
        if name == '@@trancount':
            return self.param(s.trancount), T_INT
        if name == '@@version':
            return self.param(self.ex.version_text), SqlType('nvarchar', 300)
        if name == '@@servername':
            return self.param(self.ex.server_name), sqltypes.T_SYSNAME
        if name == '@@fetch_status':
            return self.param(-1), T_INT
        if name == '@@standin_cancelled':
            return self.param(self.ex.cancelled), T_INT
        raise unsupported(name)

    def binary(self, e, scope):
        ls, lt = self.expr(e.left, scope)
        rs, rt = self.expr(e.right, scope)
        op = e.op
        if op == '+' and ((lt is None or lt.is_string) and (rt is None or rt.is_string)) and \
                (lt is not None or rt is not None):
            t = sqltypes.higher(lt, rt)
            if t.length != sqltypes.MAX:
                t = sqltypes.varchar((lt.length if lt else 0) + (rt.length if rt else 0), t.is_unicode)
            return '(%s || %s)' % (ls, rs), t
        if lt is None and rt is None:
            return 'NULL', T_INT
        lt = lt or rt
        rt = rt or lt
        if lt.is_binary or rt.is_binary:
            raise unsupported('operator %s with binary values' % op)
        if lt.is_date or rt.is_date:
            if op in '+-' and not (lt.is_date and rt.is_date):
                d, n = (ls, rs) if lt.is_date else (rs, ls)
                if op == '-' and not lt.is_date:
                    raise TsqlError(8117, 'Operand data type datetime is invalid for subtract operator.', 16)
                return "tsql_dateadd('day', %s%s, %s)" % ('-' if op == '-' else '', n, d), T_DATETIME
            if op == '-':
                return "tsql_datediff('day', %s, %s)" % (rs, ls), T_DATETIME
            raise TsqlError(8117, 'Operand data type datetime is invalid for %s operator.' % _opname(op), 16, abort=True)
        if lt.is_string or rt.is_string:
            target = rt if lt.is_string else lt
            if target.is_string:
                target = T_INT
            if lt.is_string:
                ls, lt = self.coerce(ls, lt, target), target
            if rt.is_string:
                rs, rt = self.coerce(rs, rt, target), target
        t = sqltypes.arith_type(op, lt, rt)
        if op == '/':
            if t.name in ('decimal', 'numeric', 'money', 'smallmoney', 'float', 'real') and lt.is_int and rt.is_int:
                pass
            if not lt.is_int or not rt.is_int:
                return '(CAST(%s AS REAL) / tsql_nz(%s))' % (ls, rs), t
            return '(%s / tsql_nz(%s))' % (ls, rs), t
        if op == '%':
            return '(%s %% tsql_nz(%s))' % (ls, rs), t
        if op == '^':
            return '((%s | %s) - (%s & %s))' % (ls, rs, ls, rs), t
        return '(%s %s %s)' % (ls, op, rs), t

    def compare(self, op, left, right, scope):
        ls, lt = self.expr(left, scope) if not isinstance(left, tuple) else left
        rs, rt = self.expr(right, scope) if not isinstance(right, tuple) else right
        return self.compare_sql(op, ls, lt, rs, rt)

    def compare_sql(self, op, ls, lt, rs, rt):
        if lt is not None and rt is not None:
            if lt.is_string and rt.is_string:
                return '(%s %s %s COLLATE CI)' % (ls, op, rs)
            if lt.is_binary and rt.is_binary:
                # Trailing 0x00 bytes do not count, as on SQL Server (0x01 = 0x0100).
                return '(tsql_bkey(%s) %s tsql_bkey(%s))' % (ls, op, rs)
            if lt.is_string != rt.is_string or lt.is_date != rt.is_date or lt.is_binary != rt.is_binary:
                target = sqltypes.higher(lt, rt)
                ls = self.coerce(ls, lt, target)
                rs = self.coerce(rs, rt, target)
        return '(%s %s %s)' % (ls, op, rs)

    def pred(self, e, scope):
        k = e.kind
        if k == 'cmp':
            return self.compare(e.op, e.left, e.right, scope)
        if k == 'and':
            return '(%s AND %s)' % (self.pred(e.left, scope), self.pred(e.right, scope))
        if k == 'or':
            return '(%s OR %s)' % (self.pred(e.left, scope), self.pred(e.right, scope))
        if k == 'not':
            return '(NOT %s)' % self.pred(e.expr, scope)
        if k == 'isnull':
            s, _ = self.expr(e.expr, scope)
            return '(%s IS %sNULL)' % (s, 'NOT ' if e.neg else '')
        if k == 'like':
            s, t = self.expr(e.expr, scope)
            p, _ = self.expr(e.pattern, scope)
            esc = self.expr(e.escape, scope)[0] if e.escape is not None else 'NULL'
            return '(%stsql_like(%s, %s, %s))' % ('NOT ' if e.neg else '', s, p, esc)
        if k == 'between':
            x = self.expr(e.expr, scope)
            lo = self.compare('>=', x, e.lo, scope)
            hi = self.compare('<=', x, e.hi, scope)
            return '(%s(%s AND %s))' % ('NOT ' if e.neg else '', lo, hi)
        if k == 'in':
            x = self.expr(e.expr, scope)
            if e.query is not None:
                q = self.query(e.query, scope)
                if len(q.columns) != 1:
                    raise TsqlError(116, 'Only one expression can be specified in the select list when the subquery is '
                                         'not introduced with EXISTS.', 16, abort=True)
                qt = q.columns[0][1]
                xs = x[0]
                if x[1] is not None and qt is not None and x[1].is_string and qt.is_string:
                    xs = '%s COLLATE CI' % xs
                elif x[1] is not None and qt is not None and x[1].is_string != qt.is_string:
                    xs = self.coerce(xs, x[1], sqltypes.higher(x[1], qt))
                return '(%s %sIN (SELECT __c0 FROM (%s)))' % (xs, 'NOT ' if e.neg else '', q.sql)
            parts = [self.compare('=', x, item, scope) for item in e.items]
            body = '(%s)' % ' OR '.join(parts)
            if e.neg:
                return '(NOT %s)' % body
            return body
        if k == 'exists':
            q = self.query(e.query, scope)
            return '(EXISTS (%s))' % q.sql
        if k == 'truth':
            raise TsqlError(4145, 'An expression of non-boolean type specified in a context where a condition is '
                                  'expected.', 16, abort=True)
        raise TsqlError(4145, 'An expression of non-boolean type specified in a context where a condition is expected.',
                        16, abort=True)

    def case(self, e, scope):
        parts = ['CASE']
        types = []
        if e.operand is not None:
            op = self.expr(e.operand, scope)
            whens = [(self.compare('=', op, c, scope), v) for c, v in e.whens]
        else:
            whens = [(self.pred(c, scope), v) for c, v in e.whens]
        vals = []
        for cond, v in whens:
            vs, vt = self.expr(v, scope)
            vals.append((cond, vs, vt))
            types.append(vt)
        other = self.expr(e.other, scope) if e.other is not None else None
        if other:
            types.append(other[1])
        t = None
        for x in types:
            t = sqltypes.higher(t, x)
        for cond, vs, vt in vals:
            parts.append('WHEN %s THEN %s' % (cond, self.coerce(vs, vt, t)))
        if other:
            parts.append('ELSE %s' % self.coerce(other[0], other[1], t))
        parts.append('END')
        return ' '.join(parts), t or T_INT

    def func(self, e, scope):
        name = e.name
        if name in AGGREGATES:
            return self.aggregate(e, scope)
        args = e.args

        def a(i):
            s, t = self.expr(args[i], scope)
            if t is not None and t.is_binary and name not in BINARY_ARGS:
                raise unsupported('function %s() of a binary value' % name.upper())
            return s, t

        def need(lo, hi=None):
            hi = lo if hi is None else hi
            if not lo <= len(args) <= hi:
                raise TsqlError(174, 'The %s function requires %d argument(s).' % (name, lo), 15, abort=True)

        def text_arg(i):
            s, t = a(i)
            return s, t

        if name == 'getdate' or name == 'sysdatetime' or name == 'current_timestamp':
            need(0)
            return 'tsql_getdate()', T_DATETIME
        if name in ('isnull',):
            need(2)
            s1, t1 = a(0)
            s2, t2 = a(1)
            t = t1 or t2
            return 'ifnull(%s, %s)' % (s1, self.coerce(s2, t2, t)), t
        if name == 'coalesce':
            if len(args) < 2:
                raise TsqlError(189, 'The coalesce function requires 2 to n arguments.', 15, abort=True)
            xs = [a(i) for i in range(len(args))]
            t = None
            for _, x in xs:
                t = sqltypes.higher(t, x)
            return 'coalesce(%s)' % ', '.join(self.coerce(s, x, t) for s, x in xs), t or T_INT
        if name == 'nullif':
            need(2)
            s1, t1 = a(0)
            s2, t2 = a(1)
            return 'nullif(%s, %s)' % (s1, s2), t1
        if name in ('len',):
            need(1)
            return 'tsql_len(%s)' % a(0)[0], T_INT
        if name == 'datalength':
            need(1)
            s, t = a(0)
            return 'tsql_datalength(%s, %d)' % (s, 1 if t and t.is_unicode else 0), T_INT
        if name in ('ltrim', 'rtrim', 'trim'):
            need(1)
            s, t = a(0)
            t = t if t and t.is_string else sqltypes.varchar(30)
            return "tsql_trim(%s, '%s')" % (s, name[0] if name != 'trim' else 'b'), t
        if name in ('upper', 'lower'):
            need(1)
            s, t = a(0)
            t = t if t and t.is_string else sqltypes.varchar(30)
            return 'tsql_%s(%s)' % (name, s), t
        if name == 'substring':
            need(3)
            s, t = a(0)
            t = t if t and (t.is_string or t.is_binary) else sqltypes.varchar(30)
            return 'tsql_substring(%s, %s, %s)' % (s, a(1)[0], a(2)[0]), t
        if name in ('left', 'right'):
            need(2)
            s, t = a(0)
            t = t if t and t.is_string else sqltypes.varchar(30)
            return 'tsql_%s(%s, %s)' % (name, s, a(1)[0]), t
        if name == 'replace':
            need(3)
            s, t = a(0)
            t = sqltypes.varchar(8000, t.is_unicode if t else False)
            return 'tsql_replace(%s, %s, %s)' % (s, a(1)[0], a(2)[0]), t
        if name == 'charindex':
            need(2, 3)
            return 'tsql_charindex(%s, %s, %s)' % (a(0)[0], a(1)[0], a(2)[0] if len(args) > 2 else 'NULL'), T_INT
        if name == 'abs':
            need(1)
            s, t = a(0)
            return 'abs(%s)' % s, t
        if name in ('round',):
            need(2, 3)
            s, t = a(0)
            return 'tsql_round(%s, %s, %s)' % (s, a(1)[0], a(2)[0] if len(args) > 2 else '0'), t
        if name in ('floor', 'ceiling'):
            need(1)
            s, t = a(0)
            return 'tsql_%s(%s)' % (name, s), t
        if name in ('sign',):
            need(1)
            s, t = a(0)
            return 'tsql_sign(%s)' % s, t
        if name in ('power',):
            need(2)
            s, t = a(0)
            return 'tsql_power(%s, %s)' % (s, a(1)[0]), t if t and not t.is_int else T_FLOAT
        if name == 'sqrt':
            need(1)
            return 'tsql_sqrt(%s)' % a(0)[0], T_FLOAT
        if name in ('isnumeric', 'isdate'):
            need(1)
            return 'tsql_%s(%s)' % (name, a(0)[0]), T_INT
        if name in ('year', 'month', 'day'):
            need(1)
            return "tsql_datepart('%s', %s)" % (name, a(0)[0]), T_INT
        if name in ('datepart', 'dateadd', 'datediff'):
            need({'datepart': 2, 'dateadd': 3, 'datediff': 3}[name])
            p = args[0]
            if p.kind != 'col' or len(p.parts) != 1:
                raise TsqlError(155, "'%s' is not a recognized datepart option." % getattr(p, 'value', '?'), 15, abort=True)
            import functions
            part = functions.part_name(p.parts[0])
            rest = ', '.join(a(i)[0] for i in range(1, len(args)))
            return "tsql_%s('%s', %s)" % (name, part, rest), T_DATETIME if name == 'dateadd' else T_INT
        if name == 'concat':
            if len(args) < 2:
                raise TsqlError(189, 'The concat function requires 2 to 254 arguments.', 15, abort=True)
            xs = [a(i) for i in range(len(args))]
            uni = any(x and x.is_unicode for _, x in xs)
            return 'tsql_concat(%s)' % ', '.join(s for s, _ in xs), sqltypes.varchar(8000, uni)
        if name == 'stuff':
            need(4)
            s, t = a(0)
            return 'tsql_stuff(%s, %s, %s, %s)' % (s, a(1)[0], a(2)[0], a(3)[0]), sqltypes.varchar(8000, t.is_unicode if t else False)
        if name == 'replicate':
            need(2)
            s, t = a(0)
            return 'tsql_replicate(%s, %s)' % (s, a(1)[0]), sqltypes.varchar(8000, t.is_unicode if t else False)
        if name == 'space':
            need(1)
            return 'tsql_space(%s)' % a(0)[0], sqltypes.varchar(8000)
        if name == 'reverse':
            need(1)
            s, t = a(0)
            return 'tsql_reverse(%s)' % s, t
        if name in ('char', 'nchar'):
            need(1)
            return 'tsql_%s(%s)' % (name, a(0)[0]), sqltypes.varchar(1, name == 'nchar')
        if name in ('ascii', 'unicode'):
            need(1)
            return 'tsql_%s(%s)' % (name, a(0)[0]), T_INT
        if name == 'str':
            need(1, 3)
            return 'tsql_str(%s, %s, %s)' % (a(0)[0], a(1)[0] if len(args) > 1 else 'NULL',
                                            a(2)[0] if len(args) > 2 else 'NULL'), sqltypes.varchar(10)
        if name == 'hashbytes':
            need(2)
            alg, at = a(0)
            s, t = a(1)
            if at is not None and not at.is_string:
                raise TsqlError(8116, 'Argument data type %s is invalid for argument 1 of hashbytes function.'
                                % at.name, 16, abort=True)
            if t is not None and not (t.is_string or t.is_binary):
                raise TsqlError(8116, 'Argument data type %s is invalid for argument 2 of hashbytes function.'
                                % t.name, 16, abort=True)
            kind = 'b' if t is not None and t.is_binary else 'n' if t is not None and t.is_unicode else 'v'
            return "tsql_hashbytes(%s, %s, '%s')" % (alg, s, kind), sqltypes.T_VARBINARY
        if name == 'object_id':
            need(1, 2)
            if args[0].kind != 'lit' or not isinstance(args[0].value, str):
                raise unsupported('OBJECT_ID of a non-literal name')
            want = None
            if len(args) > 1:
                if args[1].kind != 'lit':
                    raise unsupported('OBJECT_ID with a non-literal type')
                want = args[1].value.strip().upper()
            return lit_sql(self.ex.object_id(args[0].value, want, self.ctx)), T_INT
        if name == 'db_name':
            need(0)
            return lit_sql(self.ex.catalog.db_display(self.ctx.session.db)), sqltypes.T_SYSNAME
        if name in ('user_name', 'suser_sname', 'user', 'suser_name', 'current_user'):
            return lit_sql('dbo' if name.startswith('user') else 'sa'), sqltypes.T_SYSNAME
        if name in ('newid', 'rand', 'row_number', 'rank'):
            raise unsupported('function %s()' % name.upper())
        raise TsqlError(195, "'%s' is not a recognized built-in function name." % name, 15, abort=True)

    def aggregate(self, e, scope):
        if self.agg_state is None:
            raise TsqlError(147, 'An aggregate may not appear in the WHERE clause unless it is in a subquery contained '
                                 'in a HAVING clause or a select list, and the column being aggregated is an outer '
                                 'reference.', 15, abort=True)
        name = e.name
        self.agg_state['has'] = True
        if e.star:
            return 'count(*)', T_INT if name == 'count' else T_BIGINT
        if len(e.args) != 1:
            raise TsqlError(174, 'The %s function requires 1 argument(s).' % name, 15, abort=True)
        saved = self.agg_state
        self.agg_state = None
        try:
            inner = self.agg_inner(e.args[0], scope)
        finally:
            self.agg_state = saved
        s, t = inner
        d = 'DISTINCT ' if e.distinct else ''
        if name in ('count', 'count_big'):
            return 'count(%s%s)' % (d, s), T_INT if name == 'count' else T_BIGINT
        if t is None:
            t = T_INT
        if name == 'checksum_agg':
            if t.name not in ('int', 'smallint', 'tinyint'):
                raise TsqlError(8117, 'Operand data type %s is invalid for checksum_agg operator.' % t.name, 16,
                                abort=True)
            return 'tsql_checksum_agg(%s%s)' % (d, s), T_INT
        if name in ('min', 'max'):
            if t.is_string:
                return '%s(%s%s COLLATE CI)' % (name, d, s), t
            return '%s(%s%s)' % (name, d, s), t
        if not t.is_numeric:
            raise TsqlError(8117, 'Operand data type %s is invalid for %s operator.' % (t.name, name), 16, abort=True)
        if t.name == 'bit':
            raise TsqlError(8117, 'Operand data type bit is invalid for %s operator.' % name, 16, abort=True)
        if name == 'sum':
            if t.is_int:
                rt = T_BIGINT if t.name == 'bigint' else T_INT
            elif t.name in ('decimal', 'numeric'):
                rt = SqlType('decimal', precision=38, scale=t.scale)
            elif t.name in ('money', 'smallmoney'):
                rt = sqltypes.T_MONEY
            else:
                rt = T_FLOAT
            return 'sum(%s%s)' % (d, s), rt
        # avg
        if t.is_int:
            return 'CAST(avg(%s%s) AS INTEGER)' % (d, s), T_BIGINT if t.name == 'bigint' else T_INT
        if t.name in ('decimal', 'numeric'):
            return 'avg(%s%s)' % (d, s), SqlType('decimal', precision=38, scale=max(6, t.scale))
        if t.name in ('money', 'smallmoney'):
            return 'avg(%s%s)' % (d, s), sqltypes.T_MONEY
        return 'avg(%s%s)' % (d, s), T_FLOAT

    def agg_inner(self, e, scope):
        self.agg_state = {'has': False, 'cols': [], 'inner': True}
        s, t = self.expr(e, scope)
        if self.agg_state['has']:
            raise TsqlError(130, 'Cannot perform an aggregate function on an expression containing an aggregate or a '
                                 'subquery.', 16, abort=True)
        return s, t

    # ------------------------------------------------------------ queries
    def from_clause(self, frm, outer):
        sources = []
        sqls = []
        for item in frm:
            sqls.append(self.from_item(item, sources, outer))
        return ', '.join(sqls), sources

    def from_item(self, item, sources, outer):
        if item.kind == 'join':
            left = self.from_item(item.left, sources, outer)
            right = self.from_item(item.right, sources, outer)
            if item.jkind == 'cross':
                return '%s CROSS JOIN %s' % (left, right)
            saved = self.agg_state
            self.agg_state = None
            try:
                on = self.pred(item.on, Scope(sources, outer))
            finally:
                self.agg_state = saved
            return '%s %s JOIN %s ON %s' % (left, 'LEFT' if item.jkind == 'left' else 'INNER', right, on)
        sql, src = self.resolve_source(item, sources)
        for other in sources:
            if other.alias == src.alias:
                raise TsqlError(1013, "The objects \"%s\" and \"%s\" in the FROM clause have the same exposed names. "
                                      "Use correlation names to distinguish them." % (src.alias, other.alias), 16,
                                abort=True)
        sources.append(src)
        return sql

    def query(self, q, outer=None):
        if q.kind == 'setop':
            left = self.query(q.left, outer)
            right = self.query(q.right, outer)
            if len(left.columns) != len(right.columns):
                raise TsqlError(205, 'All queries combined using a UNION, INTERSECT or EXCEPT operator must have an '
                                     'equal number of expressions in their target lists.', 16, abort=True)
            cols = [(ln, sqltypes.higher(lt, rt)) for (ln, lt), (_, rt) in zip(left.columns, right.columns)]
            op = q.op.upper()
            sql = 'SELECT * FROM (%s) %s SELECT * FROM (%s)' % (left.sql, op, right.sql)
            if q.order:
                sql = 'SELECT * FROM (%s) ORDER BY %s' % (sql, self.order_terms(q.order, cols, None))
            return Query(sql, cols)
        return self.select(q, outer)

    def order_terms(self, order, cols, scope):
        terms = []
        for e, desc in order:
            s = None
            t = None
            if e.kind == 'lit' and isinstance(e.value, int):
                if not 1 <= e.value <= len(cols):
                    raise TsqlError(108, 'The ORDER BY position number %d is out of range of the number of items in '
                                         'the select list.' % e.value, 16, abort=True)
                s, t = '__c%d' % (e.value - 1), cols[e.value - 1][1]
            elif e.kind == 'col' and len(e.parts) == 1:
                for i, (n, ct) in enumerate(cols):
                    if n.lower() == e.parts[0].lower():
                        s, t = '__c%d' % i, ct
                        break
            if s is None:
                if scope is None:
                    raise TsqlError(104, 'ORDER BY items must appear in the select list if the statement contains a '
                                         'UNION, INTERSECT or EXCEPT operator.', 16, abort=True)
                s, t = self.expr(e, scope)
            if t is not None and t.is_string:
                s += ' COLLATE CI'
            terms.append(s + (' DESC' if desc else ''))
        return ', '.join(terms)

    def select(self, q, outer):
        saved_agg = self.agg_state
        grouped = q.group is not None
        self.agg_state = {'has': False, 'cols': []}
        try:
            if q.frm:
                from_sql, sources = self.from_clause(q.frm, outer)
            else:
                from_sql, sources = '', []
            scope = Scope(sources, outer)
            where = None
            if q.where is not None:
                inner_state = self.agg_state
                self.agg_state = None
                where = self.pred(q.where, scope)
                self.agg_state = inner_state
            cols = []
            exprs = []
            item_cols = []
            for item in q.items:
                if item.expr.kind == 'star':
                    if not sources:
                        raise TsqlError(263, 'Must specify table to select from.', 16, abort=True)
                    chosen = sources
                    if item.expr.qual is not None:
                        chosen = [s for s in sources if s.alias == item.expr.qual.lower()]
                        if not chosen:
                            raise TsqlError(107, "The column prefix '%s' does not match with a table name or alias "
                                                 "name used in the query." % item.expr.qual, 16, abort=True)
                    for src in chosen:
                        for n, t, sqlname in src.columns:
                            c0 = len(self.agg_state['cols'])
                            self.agg_state['cols'].append('%s.%s' % (src.sqlalias, qi(sqlname)))
                            exprs.append('%s.%s' % (src.sqlalias, qi(sqlname)))
                            cols.append((n, t))
                            item_cols.append((exprs[-1], c0, len(self.agg_state['cols'])))
                    continue
                c0 = len(self.agg_state['cols'])
                s, t = self.expr(item.expr, scope)
                if item.assign:
                    vt = self.ctx.var(item.assign)[0]
                    s = 'tsql_conv(%s, %s, %s, NULL)' % (s, lit_sql(vt.decl()), lit_sql(t.decl()) if t else 'NULL')
                    t = vt
                name = item.alias
                if name is None:
                    name = item.expr.parts[-1] if item.expr.kind == 'col' else ''
                exprs.append(s)
                cols.append((name, t if t is not None else T_INT))
                item_cols.append((s, c0, len(self.agg_state['cols'])))
            group_sql = []
            if grouped:
                gstate = self.agg_state
                self.agg_state = None
                for g in q.group:
                    gs, gt = self.expr(g, scope)
                    group_sql.append(gs)
                self.agg_state = gstate
            having = None
            if q.having is not None:
                hstate = self.agg_state
                self.agg_state = {'has': False, 'cols': []}
                having = self.pred(q.having, scope)
                hcols = self.agg_state['cols']
                self.agg_state = hstate
                if grouped or self.agg_state['has']:
                    for c in hcols:
                        if c not in group_sql:
                            raise TsqlError(8121, "Column '%s' is invalid in the HAVING clause because it is not "
                                                  "contained in either an aggregate function or the GROUP BY clause."
                                            % _colname(c), 16, abort=True)
            if grouped or self.agg_state['has']:
                refs = self.agg_state['cols']
                for s, c0, c1 in item_cols:
                    if s in group_sql:
                        continue
                    for c in refs[c0:c1]:
                        if c not in group_sql:
                            raise TsqlError(8120, "Column '%s' is invalid in the select list because it is not "
                                                  "contained in either an aggregate function or the GROUP BY clause."
                                            % _colname(c, sources), 16, abort=True)
            top = None
            if q.top is not None:
                ts, tt = self.expr(q.top, scope)
                top = ts
            order = None
            if q.order:
                ostate = self.agg_state
                self.agg_state = {'has': False, 'cols': []} if (grouped or ostate['has']) else None
                order = self.order_terms(q.order, cols, scope)
                self.agg_state = ostate
        finally:
            self.agg_state = saved_agg
        parts = ['SELECT']
        if q.distinct:
            parts.append('DISTINCT')
        parts.append(', '.join('%s AS __c%d' % (s, i) for i, s in enumerate(exprs)))
        if from_sql:
            parts.append('FROM ' + from_sql)
        if where:
            parts.append('WHERE ' + where)
        if group_sql:
            parts.append('GROUP BY ' + ', '.join(group_sql))
        if having:
            parts.append('HAVING ' + having)
        if order:
            parts.append('ORDER BY ' + order)
        if top is not None:
            parts.append('LIMIT max(0, %s)' % top)
        sql = ' '.join(parts)
        if top is not None:
            sql = 'SELECT * FROM (%s)' % sql
        return Query(sql, cols)


def _colname(sqlref, sources=None):
    name = sqlref.split('.', 1)[1].strip('"')
    return name


def _opname(op):
    return {'+': 'add', '-': 'subtract', '*': 'multiply', '/': 'divide', '%': 'modulo'}.get(op, op)
