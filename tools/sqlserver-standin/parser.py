"""Recursive-descent parser for the T-SQL subset; builds a small AST of plain nodes."""

from errors import TsqlError, syntax_error, unsupported
from lexer import RESERVED, tokenize
import sqltypes


class Node:
    def __init__(self, kind, **kw):
        self.kind = kind
        self.__dict__.update(kw)

    def __repr__(self):
        items = ', '.join('%s=%r' % (k, v) for k, v in self.__dict__.items() if k != 'kind')
        return '%s(%s)' % (self.kind, items)


STATEMENT_WORDS = {'select', 'insert', 'update', 'delete', 'create', 'drop', 'if', 'begin', 'while',
                   'declare', 'set', 'print', 'raiserror', 'exec', 'execute', 'use', 'return', 'truncate',
                   'alter', 'break', 'continue', 'commit', 'rollback', 'save', 'goto', 'waitfor', 'with'}


class Parser:
    def __init__(self, text):
        self.text = text
        self.toks = tokenize(text)
        self.i = 0

    # ------------------------------------------------------------ helpers
    @property
    def tok(self):
        return self.toks[self.i]

    def peek(self, k=1):
        return self.toks[min(self.i + k, len(self.toks) - 1)]

    def advance(self):
        t = self.toks[self.i]
        if t.kind != 'eof':
            self.i += 1
        return t

    def error(self, tok=None):
        tok = tok or self.tok
        if tok.kind == 'eof':
            prev = self.toks[self.i - 1] if self.i else tok
            return syntax_error(prev.text() if prev.kind != 'eof' else '', prev.is_kw(*RESERVED), line=prev.line)
        return syntax_error(tok.text(), tok.kind == 'id' and tok.value.lower() in RESERVED, line=tok.line)

    def at_kw(self, *words):
        return self.tok.is_kw(*words)

    def at_op(self, *ops):
        return self.tok.kind == 'op' and self.tok.value in ops

    def accept_kw(self, *words):
        if self.tok.is_kw(*words):
            return self.advance()
        return None

    def accept_op(self, op):
        if self.at_op(op):
            return self.advance()
        return None

    def expect_kw(self, word):
        if not self.tok.is_kw(word):
            raise self.error()
        return self.advance()

    def expect_op(self, op):
        if not self.at_op(op):
            raise self.error()
        return self.advance()

    def ident(self, allow_reserved=False):
        t = self.tok
        if t.kind == 'qid' or (t.kind == 'id' and (allow_reserved or t.value.lower() not in RESERVED)):
            self.advance()
            return t.value
        raise self.error()

    def is_ident(self, t=None):
        t = t or self.tok
        return t.kind == 'qid' or (t.kind == 'id' and t.value.lower() not in RESERVED)

    def object_name(self):
        """[db.][schema.]name with empty parts allowed (tempdb..X)."""
        parts = [self.ident()]
        while self.at_op('.'):
            self.advance()
            if self.at_op('.'):
                parts.append('')
                continue
            parts.append(self.ident())
        if len(parts) > 3 or parts[-1] == '':
            raise self.error()
        return parts

    # ------------------------------------------------------------ batch
    def parse_batch(self):
        stmts = []
        first = True
        while self.tok.kind != 'eof':
            if self.accept_op(';'):
                continue
            if first and self.is_ident() and not self.at_kw(*STATEMENT_WORDS):
                stmts.append(self.exec_stmt(implicit=True))
            elif self.at_kw('create', 'alter') and self.peek().is_kw('proc', 'procedure'):
                if not first:
                    raise TsqlError(111, "'CREATE/ALTER PROCEDURE' must be the first statement in a query batch.", 15,
                                    line=self.tok.line)
                stmts.append(self.create_proc())
            else:
                stmts.append(self.statement())
            first = False
        return stmts

    def statement(self):
        t = self.tok
        line = t.line
        if t.kind != 'id':
            if t.kind == 'op' and t.value == '(':
                s = self.select_stmt()
                s.line = line
                return s
            raise self.error()
        w = t.value.lower()
        fn = {
            'select': self.select_stmt, 'insert': self.insert_stmt, 'update': self.update_stmt,
            'delete': self.delete_stmt, 'create': self.create_stmt, 'drop': self.drop_stmt,
            'if': self.if_stmt, 'begin': self.begin_stmt, 'while': self.while_stmt,
            'declare': self.declare_stmt, 'set': self.set_stmt, 'print': self.print_stmt,
            'raiserror': self.raiserror_stmt, 'exec': self.exec_stmt, 'execute': self.exec_stmt,
            'use': self.use_stmt, 'return': self.return_stmt, 'truncate': self.truncate_stmt,
            'alter': self.alter_stmt, 'break': self.simple_stmt, 'continue': self.simple_stmt,
            'commit': self.tran_stmt, 'rollback': self.tran_stmt, 'waitfor': self.waitfor_stmt,
        }.get(w)
        if fn is None:
            if w in RESERVED:
                raise self.error()
            raise self.error()
        s = fn()
        s.line = line
        return s

    def simple_stmt(self):
        return Node(self.advance().value.lower())

    def tran_stmt(self):
        w = self.advance().value.lower()
        self.accept_kw('tran', 'transaction', 'work')
        if self.is_ident() and not self.at_kw(*STATEMENT_WORDS):
            self.advance()
        return Node('tran', op=w)

    def block_until(self, *words):
        stmts = []
        while not self.at_kw(*words):
            if self.tok.kind == 'eof':
                raise self.error()
            if self.accept_op(';'):
                continue
            stmts.append(self.statement())
        return stmts

    def begin_stmt(self):
        self.expect_kw('begin')
        if self.at_kw('tran', 'transaction'):
            self.advance()
            if self.is_ident() and not self.at_kw(*STATEMENT_WORDS):
                self.advance()
            return Node('tran', op='begin')
        if self.at_kw('try'):
            raise unsupported('BEGIN TRY', self.tok.line)
        stmts = self.block_until('end')
        self.expect_kw('end')
        return Node('block', stmts=stmts)

    def if_stmt(self):
        self.expect_kw('if')
        cond = self.predicate()
        body = self.statement_or_fail()
        other = None
        while self.accept_op(';'):
            pass
        if self.accept_kw('else'):
            other = self.statement_or_fail()
        return Node('if', cond=cond, then=body, other=other)

    def statement_or_fail(self):
        while self.accept_op(';'):
            pass
        if self.tok.kind == 'eof' or self.at_kw('else', 'end'):
            raise self.error()
        return self.statement()

    def while_stmt(self):
        self.expect_kw('while')
        cond = self.predicate()
        body = self.statement_or_fail()
        return Node('while', cond=cond, body=body)

    def use_stmt(self):
        self.expect_kw('use')
        return Node('use', db=self.ident())

    def return_stmt(self):
        self.expect_kw('return')
        value = None
        if not (self.tok.kind == 'eof' or self.at_op(';') or self.at_kw(*STATEMENT_WORDS) or self.at_kw('end', 'else')):
            value = self.expr()
        return Node('return', value=value)

    def waitfor_stmt(self):
        self.expect_kw('waitfor')
        if not self.at_kw('delay'):
            raise unsupported('WAITFOR without DELAY', self.tok.line)
        self.advance()
        return Node('waitfor', delay=self.expr())

    def print_stmt(self):
        self.expect_kw('print')
        return Node('print', expr=self.expr())

    def raiserror_stmt(self):
        self.expect_kw('raiserror')
        self.expect_op('(')
        args = [self.expr()]
        while self.accept_op(','):
            args.append(self.expr())
        self.expect_op(')')
        if len(args) < 3:
            raise TsqlError(102, "Incorrect syntax near ')'.", 15, line=self.tok.line)
        if self.accept_kw('with'):
            self.ident(True)
            while self.accept_op(','):
                self.ident(True)
        return Node('raiserror', msg=args[0], severity=args[1], state=args[2], args=args[3:])

    def truncate_stmt(self):
        self.expect_kw('truncate')
        self.expect_kw('table')
        return Node('truncate', name=self.object_name())

    # ------------------------------------------------------------ declarations
    def data_type(self, in_cast=False):
        t = self.tok
        if t.kind not in ('id', 'qid'):
            raise self.error()
        name = self.advance().value
        if name.lower() == 'double' and self.at_kw('precision'):
            self.advance()
            name = 'float'
        args = []
        if self.accept_op('('):
            while True:
                if self.at_kw('max'):
                    self.advance()
                    args.append('max')
                elif self.tok.kind == 'num' and self.tok.value.isdigit():
                    args.append(int(self.advance().value))
                else:
                    raise self.error()
                if not self.accept_op(','):
                    break
            self.expect_op(')')
        if in_cast and not args and name.lower() in ('char', 'varchar', 'nchar', 'nvarchar'):
            args = [30]
        try:
            return sqltypes.make_type(name, args)
        except TsqlError as e:
            e.line = t.line
            raise

    def declare_stmt(self):
        self.expect_kw('declare')
        items = []
        while True:
            if self.tok.kind != 'var':
                raise self.error()
            name = self.advance().value
            self.accept_kw('as')
            if self.at_kw('table', 'cursor'):
                raise unsupported('DECLARE ... ' + self.tok.value.upper(), self.tok.line)
            typ = self.data_type()
            init = None
            if self.accept_op('='):
                init = self.expr()
            items.append((name, typ, init))
            if not self.accept_op(','):
                break
        return Node('declare', items=items)

    def set_stmt(self):
        self.expect_kw('set')
        if self.tok.kind == 'var':
            name = self.advance().value
            if self.tok.kind == 'op' and self.tok.value in ('=', '+=', '-=', '*=', '/='):
                op = self.advance().value
            else:
                raise self.error()
            return Node('setvar', var=name, op=op, expr=self.expr())
        if self.at_kw('transaction'):
            # every isolation level behaves alike here: statements run one at a time
            self.advance()
            for word in ('isolation', 'level'):
                if not self.tok.is_kw(word):
                    raise self.error()
                self.advance()
            words = []
            while self.tok.kind == 'id' and self.tok.value.lower() in ('read', 'committed', 'uncommitted',
                                                                          'repeatable', 'serializable', 'snapshot'):
                words.append(self.advance().value.lower())
            if not words:
                raise self.error()
            return Node('setopt', names=['transaction isolation level'], value=' '.join(words))
        opts = [self.ident(True).lower()]
        while self.accept_op(','):
            opts.append(self.ident(True).lower())
        if self.at_kw('on', 'off'):
            value = self.advance().value.lower()
        elif self.tok.kind in ('num', 'id', 'str', 'qid'):
            value = self.advance().value
        else:
            raise self.error()
        return Node('setopt', names=opts, value=value)

    # ------------------------------------------------------------ DDL
    def create_stmt(self):
        self.expect_kw('create')
        if self.accept_kw('table'):
            return self.create_table()
        if self.at_kw('unique', 'clustered', 'nonclustered', 'index'):
            raise unsupported('CREATE INDEX', self.tok.line)
        if self.at_kw('proc', 'procedure'):
            raise TsqlError(111, "'CREATE/ALTER PROCEDURE' must be the first statement in a query batch.", 15,
                            line=self.tok.line)
        if self.is_ident() or self.tok.kind == 'id':
            raise unsupported('CREATE ' + self.tok.value.upper(), self.tok.line)
        raise self.error()

    def create_table(self):
        name = self.object_name()
        self.expect_op('(')
        cols = []
        pk = []
        uniques = []
        while True:
            if self.at_kw('constraint', 'primary', 'unique', 'foreign', 'check'):
                kind, colnames = self.table_constraint()
                if kind == 'primary':
                    pk = colnames
                elif kind == 'unique':
                    uniques.append(colnames)
            else:
                cols.append(self.column_def())
            if not self.accept_op(','):
                break
            if self.at_op(')'):
                break
        self.expect_op(')')
        for c in cols:
            if c.primary:
                pk = [c.name]
            if c.unique:
                uniques.append([c.name])
        return Node('create_table', name=name, cols=cols, pk=pk, uniques=uniques)

    def table_constraint(self):
        if self.accept_kw('constraint'):
            self.ident()
        if self.accept_kw('primary'):
            self.expect_kw('key')
            kind = 'primary'
        elif self.accept_kw('unique'):
            kind = 'unique'
        else:
            raise unsupported('FOREIGN KEY / CHECK constraints', self.tok.line)
        self.accept_kw('clustered', 'nonclustered')
        self.expect_op('(')
        names = [self.ident()]
        self.accept_kw('asc', 'desc')
        while self.accept_op(','):
            names.append(self.ident())
            self.accept_kw('asc', 'desc')
        self.expect_op(')')
        return kind, names

    def column_def(self):
        name = self.ident()
        typ = self.data_type()
        col = Node('coldef', name=name, type=typ, nullable=True, identity=None, default=None,
                   primary=False, unique=False, explicit_null=False, default_text=None)
        while True:
            if self.accept_kw('null'):
                col.nullable = True
                col.explicit_null = True
            elif self.at_kw('not') and self.peek().is_kw('null'):
                self.advance()
                self.advance()
                col.nullable = False
            elif self.accept_kw('identity'):
                seed, inc = 1, 1
                if self.accept_op('('):
                    seed = self.signed_int()
                    self.expect_op(',')
                    inc = self.signed_int()
                    self.expect_op(')')
                col.identity = (seed, inc)
                col.nullable = False
            elif self.accept_kw('constraint'):
                self.ident()
            elif self.accept_kw('default'):
                start = self.tok.start
                col.default = self.primary()
                col.default_text = self.text[start:self.toks[self.i - 1].pos]
            elif self.accept_kw('primary'):
                self.expect_kw('key')
                self.accept_kw('clustered', 'nonclustered')
                col.primary = True
                col.nullable = False
            elif self.accept_kw('unique'):
                self.accept_kw('clustered', 'nonclustered')
                col.unique = True
            elif self.accept_kw('collate'):
                self.ident(True)
            elif self.at_kw('references', 'check', 'foreign'):
                raise unsupported('column constraint ' + self.tok.value.upper(), self.tok.line)
            else:
                return col

    def signed_int(self):
        neg = bool(self.accept_op('-'))
        if self.tok.kind != 'num':
            raise self.error()
        v = int(float(self.advance().value))
        return -v if neg else v

    def drop_stmt(self):
        self.expect_kw('drop')
        if self.accept_kw('table'):
            kind = 'table'
        elif self.accept_kw('proc', 'procedure'):
            kind = 'proc'
        else:
            if self.is_ident() or self.tok.kind == 'id':
                raise unsupported('DROP ' + self.tok.value.upper(), self.tok.line)
            raise self.error()
        if_exists = False
        if self.at_kw('if') and self.peek().is_kw('exists'):
            self.advance()
            self.advance()
            if_exists = True
        names = [self.object_name()]
        while self.accept_op(','):
            names.append(self.object_name())
        return Node('drop', what=kind, names=names, if_exists=if_exists)

    def alter_stmt(self):
        self.expect_kw('alter')
        if not self.accept_kw('table'):
            raise unsupported('ALTER ' + self.tok.value.upper(), self.tok.line)
        name = self.object_name()
        if self.accept_kw('add'):
            self.accept_kw('column')
            cols = [self.column_def()]
            while self.accept_op(','):
                cols.append(self.column_def())
            return Node('alter_add', name=name, cols=cols)
        if self.accept_kw('drop'):
            self.expect_kw('column')
            cols = [self.ident()]
            while self.accept_op(','):
                cols.append(self.ident())
            return Node('alter_drop', name=name, cols=cols)
        raise unsupported('this form of ALTER TABLE', self.tok.line)

    def create_proc(self):
        line = self.tok.line
        alter = self.advance().value.lower() == 'alter'
        self.advance()
        name = self.object_name()
        params = []
        paren = self.accept_op('(')
        while self.tok.kind == 'var':
            pname = self.advance().value
            self.accept_kw('as')
            ptype = self.data_type()
            default = None
            if self.accept_op('='):
                default = self.expr()
            output = bool(self.accept_kw('output', 'out'))
            params.append((pname, ptype, default, output))
            if not self.accept_op(','):
                break
        if paren:
            self.expect_op(')')
        if self.accept_kw('with'):
            self.ident(True)
            while self.accept_op(','):
                self.ident(True)
        self.expect_kw('as')
        start = self.tok.start
        body_line = self.tok.line
        body = []
        while self.tok.kind != 'eof':
            if self.accept_op(';'):
                continue
            if self.at_kw('create', 'alter') and self.peek().is_kw('proc', 'procedure'):
                raise TsqlError(111, "'CREATE/ALTER PROCEDURE' must be the first statement in a query batch.", 15,
                                line=self.tok.line)
            body.append(self.statement())
        n = Node('create_proc', name=name, params=params, body=body, alter=alter,
                 source=self.text[start:], body_line=body_line, text=self.text)
        n.line = line
        return n

    # ------------------------------------------------------------ EXEC
    def exec_stmt(self, implicit=False):
        line = self.tok.line
        if not implicit:
            self.advance()
        if self.at_op('('):
            self.advance()
            e = self.expr()
            self.expect_op(')')
            n = Node('exec_string', expr=e)
            n.line = line
            return n
        retvar = None
        if self.tok.kind == 'var':
            retvar = self.advance().value
            self.expect_op('=')
        name = self.object_name()
        args = []
        if not self.at_end_of_args():
            while True:
                pname = None
                if self.tok.kind == 'var' and self.peek().kind == 'op' and self.peek().value == '=':
                    pname = self.advance().value
                    self.advance()
                if self.at_kw('default'):
                    self.advance()
                    value = None
                    is_default = True
                else:
                    is_default = False
                    value = self.exec_arg()
                output = bool(self.accept_kw('output', 'out'))
                args.append((pname, value, output, is_default))
                if not self.accept_op(','):
                    break
        n = Node('exec', name=name, args=args, retvar=retvar)
        n.line = line
        return n

    def at_end_of_args(self):
        t = self.tok
        return t.kind == 'eof' or (t.kind == 'op' and t.value == ';') or \
            (t.kind == 'id' and t.value.lower() in RESERVED and t.value.lower() not in ('null', 'default'))

    def exec_arg(self):
        t = self.tok
        if t.kind in ('str', 'nstr', 'bin', 'var') or (t.kind == 'id' and t.value.lower() == 'null'):
            return self.primary()
        if t.kind == 'num' or (t.kind == 'op' and t.value in '+-'):
            return self.unary()
        if t.kind in ('id', 'qid'):
            self.advance()
            return Node('lit', value=t.value, type=sqltypes.varchar(len(t.value), True))
        raise self.error()

    # ------------------------------------------------------------ DML
    def insert_stmt(self):
        self.expect_kw('insert')
        self.accept_kw('into')
        name = self.object_name()
        cols = None
        if self.at_op('(') and not self.peek().is_kw('select'):
            self.advance()
            cols = [self.ident()]
            while self.accept_op(','):
                cols.append(self.ident())
            self.expect_op(')')
        if self.accept_kw('values'):
            rows = []
            while True:
                self.expect_op('(')
                row = [self.expr()]
                while self.accept_op(','):
                    row.append(self.expr())
                self.expect_op(')')
                rows.append(row)
                if not self.accept_op(','):
                    break
            return Node('insert', table=name, cols=cols, rows=rows, select=None, exec=None)
        if self.at_kw('select') or self.at_op('('):
            return Node('insert', table=name, cols=cols, rows=None, select=self.query_expr(), exec=None)
        if self.at_kw('exec', 'execute'):
            return Node('insert', table=name, cols=cols, rows=None, select=None, exec=self.exec_stmt())
        if self.at_kw('default'):
            self.advance()
            self.expect_kw('values')
            return Node('insert', table=name, cols=[], rows=[[]], select=None, exec=None)
        raise self.error()

    def update_stmt(self):
        self.expect_kw('update')
        if self.at_kw('top'):
            raise unsupported('UPDATE TOP', self.tok.line)
        target = self.object_name()
        self.table_hints()
        self.expect_kw('set')
        sets = []
        while True:
            if self.tok.kind == 'var':
                var = self.advance().value
                self.expect_op('=')
                if self.is_ident() and self.peek().kind == 'op' and self.peek().value == '=':
                    raise unsupported('SET @var = column = expression', self.tok.line)
                sets.append(('var', var, self.expr()))
            else:
                col = self.object_name()
                if self.tok.kind == 'op' and self.tok.value in ('=', '+=', '-=', '*=', '/='):
                    op = self.advance().value
                else:
                    raise self.error()
                e = self.expr()
                if op != '=':
                    e = Node('bin', op=op[0], left=Node('col', parts=col), right=e)
                sets.append(('col', col, e))
            if not self.accept_op(','):
                break
        frm = None
        if self.accept_kw('from'):
            frm = self.from_list()
        where = None
        if self.accept_kw('where'):
            where = self.predicate()
        return Node('update', target=target, sets=sets, frm=frm, where=where)

    def delete_stmt(self):
        self.expect_kw('delete')
        if self.at_kw('top'):
            raise unsupported('DELETE TOP', self.tok.line)
        self.accept_kw('from')
        target = self.object_name()
        self.table_hints()
        frm = None
        if self.accept_kw('from'):
            frm = self.from_list()
        where = None
        if self.accept_kw('where'):
            where = self.predicate()
        return Node('delete', target=target, frm=frm, where=where)

    # ------------------------------------------------------------ SELECT
    def select_stmt(self):
        q = self.query_expr()
        return Node('select_stmt', query=q)

    def query_expr(self):
        """select [union [all] select]... [order by ...]"""
        left = self.query_term()
        while self.at_kw('union', 'except', 'intersect'):
            op = self.advance().value.lower()
            if op == 'union' and self.accept_kw('all'):
                op = 'union all'
            right = self.query_term()
            if right.order or right.into:
                raise self.error()
            left = Node('setop', op=op, left=left, right=right, order=None, into=None, line=left.line)
        if self.at_kw('order'):
            left.order = self.order_by()
        return left

    def query_term(self):
        if self.accept_op('('):
            q = self.query_expr()
            self.expect_op(')')
            return q
        return self.select_core()

    def select_core(self):
        line = self.tok.line
        self.expect_kw('select')
        distinct = False
        if self.accept_kw('distinct'):
            distinct = True
        else:
            self.accept_kw('all')
        top = None
        if self.accept_kw('top'):
            if self.accept_op('('):
                top = self.expr()
                self.expect_op(')')
            elif self.tok.kind == 'num' or self.tok.kind == 'var':
                top = self.primary()
            else:
                raise self.error()
            if self.accept_kw('percent'):
                raise unsupported('TOP ... PERCENT', line)
            if self.at_kw('with'):
                raise unsupported('TOP ... WITH TIES', line)
        items = [self.select_item()]
        while self.accept_op(','):
            items.append(self.select_item())
        into = None
        if self.accept_kw('into'):
            into = self.object_name()
        frm = None
        if self.accept_kw('from'):
            frm = self.from_list()
        where = None
        if self.accept_kw('where'):
            where = self.predicate()
        group = None
        if self.at_kw('group'):
            self.advance()
            self.expect_kw('by')
            group = [self.expr()]
            while self.accept_op(','):
                group.append(self.expr())
        having = None
        if self.accept_kw('having'):
            having = self.predicate()
        return Node('select', distinct=distinct, top=top, items=items, into=into, frm=frm, where=where,
                    group=group, having=having, order=None, line=line)

    def order_by(self):
        self.expect_kw('order')
        self.expect_kw('by')
        order = []
        while True:
            e = self.expr()
            desc = False
            if self.accept_kw('desc'):
                desc = True
            else:
                self.accept_kw('asc')
            order.append((e, desc))
            if not self.accept_op(','):
                break
        return order

    def select_item(self):
        t = self.tok
        if t.kind == 'op' and t.value == '*':
            self.advance()
            return Node('item', expr=Node('star', qual=None), alias=None, assign=None)
        if self.is_ident() and self.peek().kind == 'op' and self.peek().value == '.' :
            # qualified star: a.* / db..t.* (up to four parts)
            j = self.i
            parts = []
            while True:
                tk = self.toks[j]
                if tk.kind == 'qid' or (tk.kind == 'id' and tk.value.lower() not in RESERVED):
                    parts.append(tk.value)
                    j += 1
                elif tk.kind == 'op' and tk.value == '.':
                    parts.append('')
                else:
                    break
                if self.toks[j].kind == 'op' and self.toks[j].value == '.':
                    j += 1
                    if self.toks[j].kind == 'op' and self.toks[j].value == '*':
                        self.i = j + 1
                        return Node('item', expr=Node('star', qual=[p for p in parts if p != ''][-1]), alias=None, assign=None)
                    continue
                break
        if t.kind == 'var' and self.peek().kind == 'op' and self.peek().value in ('=', '+=', '-=', '*=', '/='):
            self.advance()
            op = self.advance().value
            e = self.expr()
            if op != '=':
                e = Node('bin', op=op[0], left=Node('var', name=t.value), right=e)
            return Node('item', expr=e, alias=None, assign=t.value)
        if (self.is_ident() or t.kind == 'str') and self.peek().kind == 'op' and self.peek().value == '=':
            alias = self.advance().value
            self.advance()
            return Node('item', expr=self.expr(), alias=alias, assign=None)
        e = self.expr()
        alias = None
        if self.accept_kw('as'):
            if self.tok.kind in ('str', 'nstr'):
                alias = self.advance().value
            else:
                alias = self.ident()
        elif self.is_ident() or self.tok.kind == 'str':
            alias = self.advance().value
        return Node('item', expr=e, alias=alias, assign=None)

    def from_list(self):
        sources = [self.table_source()]
        while self.accept_op(','):
            sources.append(self.table_source())
        return sources

    def table_hints(self):
        if self.at_kw('with') and self.peek().kind == 'op' and self.peek().value == '(':
            self.advance()
        if self.at_op('(') and self.peek().is_kw('nolock', 'readuncommitted', 'tablock', 'holdlock',
                                                 'updlock', 'rowlock', 'index'):
            depth = 0
            while True:
                if self.at_op('('):
                    depth += 1
                elif self.at_op(')'):
                    depth -= 1
                    if depth == 0:
                        self.advance()
                        break
                elif self.tok.kind == 'eof':
                    raise self.error()
                self.advance()

    def table_source(self):
        left = self.table_primary()
        while True:
            if self.at_kw('inner', 'join'):
                self.accept_kw('inner')
                self.expect_kw('join')
                kind = 'inner'
            elif self.at_kw('left', 'right', 'full'):
                kind = self.advance().value.lower()
                self.accept_kw('outer')
                self.expect_kw('join')
            elif self.at_kw('cross'):
                self.advance()
                if self.at_kw('apply'):
                    raise unsupported('CROSS APPLY', self.tok.line)
                self.expect_kw('join')
                kind = 'cross'
            else:
                return left
            if kind in ('right', 'full'):
                raise unsupported(kind.upper() + ' JOIN', self.tok.line)
            right = self.table_primary()
            on = None
            if kind != 'cross':
                self.expect_kw('on')
                on = self.predicate()
            left = Node('join', jkind=kind, left=left, right=right, on=on)

    def table_primary(self):
        if self.at_op('('):
            if self.peek().is_kw('select'):
                self.advance()
                q = self.query_expr()
                self.expect_op(')')
                self.accept_kw('as')
                alias = self.ident()
                return Node('derived', query=q, alias=alias)
            self.advance()
            src = self.table_source()
            self.expect_op(')')
            return src
        name = self.object_name()
        alias = None
        if self.accept_kw('as'):
            alias = self.ident()
        elif self.is_ident() and not self.at_kw('apply'):
            alias = self.ident()
        self.table_hints()
        return Node('table', name=name, alias=alias)

    # ------------------------------------------------------------ expressions
    def predicate(self):
        return self.or_expr()

    def or_expr(self):
        left = self.and_expr()
        while self.accept_kw('or'):
            left = Node('or', left=left, right=self.and_expr())
        return left

    def and_expr(self):
        left = self.not_expr()
        while self.accept_kw('and'):
            left = Node('and', left=left, right=self.not_expr())
        return left

    def not_expr(self):
        if self.accept_kw('not'):
            return Node('not', expr=self.not_expr())
        return self.comparison()

    def comparison(self):
        if self.at_op('(') and not self.peek().is_kw('select'):
            save = self.i
            try:
                self.advance()
                p = self.predicate()
                self.expect_op(')')
                if p.kind != 'truth':
                    return p
            except TsqlError:
                pass
            self.i = save
        if self.at_kw('exists'):
            self.advance()
            self.expect_op('(')
            q = self.query_expr()
            self.expect_op(')')
            return Node('exists', query=q)
        left = self.expr()
        t = self.tok
        if t.kind == 'op' and t.value in ('=', '<>', '!=', '<', '>', '<=', '>=', '!<', '!>'):
            op = self.advance().value
            op = {'!=': '<>', '!<': '>=', '!>': '<='}.get(op, op)
            if self.at_kw('all', 'any', 'some'):
                raise unsupported('ALL/ANY/SOME', t.line)
            return Node('cmp', op=op, left=left, right=self.expr())
        neg = False
        if self.at_kw('not') and self.peek().is_kw('like', 'in', 'between'):
            self.advance()
            neg = True
        if self.accept_kw('is'):
            neg = bool(self.accept_kw('not'))
            self.expect_kw('null')
            return Node('isnull', expr=left, neg=neg)
        if self.accept_kw('like'):
            pat = self.expr()
            esc = None
            if self.accept_kw('escape'):
                esc = self.expr()
            return Node('like', expr=left, pattern=pat, escape=esc, neg=neg)
        if self.accept_kw('between'):
            lo = self.expr()
            self.expect_kw('and')
            hi = self.expr()
            return Node('between', expr=left, lo=lo, hi=hi, neg=neg)
        if self.accept_kw('in'):
            self.expect_op('(')
            if self.at_kw('select'):
                q = self.query_expr()
                self.expect_op(')')
                return Node('in', expr=left, query=q, items=None, neg=neg)
            items = [self.expr()]
            while self.accept_op(','):
                items.append(self.expr())
            self.expect_op(')')
            return Node('in', expr=left, query=None, items=items, neg=neg)
        if neg:
            raise self.error()
        return Node('truth', expr=left)

    def expr(self):
        left = self.term()
        while self.tok.kind == 'op' and self.tok.value in ('+', '-', '&', '|', '^'):
            op = self.advance().value
            left = Node('bin', op=op, left=left, right=self.term())
        return left

    def term(self):
        left = self.unary()
        while self.tok.kind == 'op' and self.tok.value in ('*', '/', '%'):
            op = self.advance().value
            left = Node('bin', op=op, left=left, right=self.unary())
        return left

    def unary(self):
        if self.tok.kind == 'op' and self.tok.value in ('-', '+', '~'):
            op = self.advance().value
            e = self.unary()
            if op == '-' and e.kind == 'lit' and isinstance(e.value, (int, float)) and not isinstance(e.value, bool):
                return Node('lit', value=-e.value, type=e.type)
            if op == '+':
                return e
            return Node('neg' if op == '-' else 'bitnot', expr=e)
        e = self.primary()
        if self.at_kw('collate'):
            self.advance()
            self.ident(True)
        return e

    def primary(self):
        t = self.tok
        if t.kind == 'num':
            self.advance()
            return number_literal(t.value)
        if t.kind == 'str':
            self.advance()
            return Node('lit', value=t.value, type=sqltypes.varchar(len(t.value.encode(sqltypes.CODEPAGE, 'replace'))))
        if t.kind == 'nstr':
            self.advance()
            return Node('lit', value=t.value, type=sqltypes.varchar(len(t.value), True))
        if t.kind == 'bin':
            self.advance()
            data = bytes.fromhex(('0' if len(t.value) % 2 else '') + t.value)
            return Node('lit', value=data, type=sqltypes.varbinary(len(data)))
        if t.kind == 'var':
            self.advance()
            return Node('var', name=t.value)
        if t.kind == 'sysvar':
            self.advance()
            return Node('sysvar', name=t.value.lower())
        if t.kind == 'op' and t.value == '(':
            self.advance()
            if self.at_kw('select'):
                q = self.query_expr()
                self.expect_op(')')
                return Node('subquery', query=q)
            e = self.expr()
            if self.at_kw('and', 'or') or (self.tok.kind == 'op' and self.tok.value in ('=', '<>', '<', '>')):
                raise self.error()
            self.expect_op(')')
            return e
        if t.kind == 'id':
            w = t.value.lower()
            if w == 'null':
                self.advance()
                return Node('lit', value=None, type=None)
            if w == 'case':
                return self.case_expr()
            if w in ('cast', 'try_cast') and self.peek().kind == 'op' and self.peek().value == '(':
                self.advance()
                self.expect_op('(')
                e = self.expr()
                self.expect_kw('as')
                typ = self.data_type(in_cast=True)
                self.expect_op(')')
                return Node('cast', expr=e, type=typ, style=None, try_=w == 'try_cast')
            if w in ('convert', 'try_convert') and self.peek().kind == 'op' and self.peek().value == '(':
                self.advance()
                self.expect_op('(')
                typ = self.data_type(in_cast=True)
                self.expect_op(',')
                e = self.expr()
                style = None
                if self.accept_op(','):
                    style = self.expr()
                self.expect_op(')')
                return Node('cast', expr=e, type=typ, style=style, try_=w == 'try_convert')
            if w == 'identity' and self.peek().kind == 'op' and self.peek().value == '(':
                line = t.line
                self.advance()
                self.advance()
                typ = self.data_type()
                seed, inc = 1, 1
                if self.accept_op(','):
                    seed = self.signed_int()
                    self.expect_op(',')
                    inc = self.signed_int()
                self.expect_op(')')
                return Node('identity_fn', type=typ, seed=seed, inc=inc, line=line)
            if w in ('current_timestamp',):
                self.advance()
                return Node('func', name='getdate', args=[], distinct=False, star=False)
            if self.peek().kind == 'op' and self.peek().value == '(' and \
                    (w not in RESERVED or w in ('left', 'right', 'coalesce', 'nullif', 'user')):
                return self.func_call()
        if t.kind in ('id', 'qid'):
            if t.kind == 'id' and t.value.lower() in RESERVED:
                raise self.error()
            parts = [self.ident()]
            while self.at_op('.'):
                self.advance()
                if self.at_op('.'):
                    parts.append('')
                    continue
                parts.append(self.ident())
            if len(parts) > 4 or '' in parts[-2:]:
                raise self.error()
            return Node('col', parts=[p for p in parts])
        raise self.error()

    def func_call(self):
        name = self.advance().value.lower()
        self.expect_op('(')
        if name in ('count', 'count_big') and self.at_op('*'):
            self.advance()
            self.expect_op(')')
            return Node('func', name=name, args=[], distinct=False, star=True)
        distinct = False
        if self.accept_kw('distinct'):
            distinct = True
        else:
            self.accept_kw('all') if name in ('count', 'sum', 'avg', 'min', 'max') else None
        args = []
        if not self.at_op(')'):
            args.append(self.expr())
            while self.accept_op(','):
                args.append(self.expr())
        self.expect_op(')')
        if self.at_kw('over'):
            raise unsupported('window functions (OVER)', self.tok.line)
        return Node('func', name=name, args=args, distinct=distinct, star=False)

    def case_expr(self):
        self.expect_kw('case')
        operand = None
        if not self.at_kw('when'):
            operand = self.expr()
        whens = []
        while self.accept_kw('when'):
            cond = self.expr() if operand is not None else self.predicate()
            self.expect_kw('then')
            whens.append((cond, self.expr()))
        if not whens:
            raise self.error()
        other = None
        if self.accept_kw('else'):
            other = self.expr()
        self.expect_kw('end')
        return Node('case', operand=operand, whens=whens, other=other)


def number_literal(text):
    if 'e' in text.lower():
        return Node('lit', value=float(text), type=sqltypes.T_FLOAT)
    if '.' in text:
        ip, _, fp = text.partition('.')
        ip = ip.lstrip('0')
        p = max(1, len(ip) + len(fp))
        return Node('lit', value=float(text), type=sqltypes.SqlType('numeric', precision=max(p, len(fp)), scale=len(fp)))
    v = int(text)
    if v <= 2**31 - 1:
        return Node('lit', value=v, type=sqltypes.T_INT)
    return Node('lit', value=v if v < 2**63 else float(v),
                type=sqltypes.SqlType('numeric', precision=min(38, len(text.lstrip('0'))), scale=0))


def parse(text):
    return Parser(text).parse_batch()
