"""T-SQL tokenizer."""

from errors import TsqlError, syntax_error

# Reserved words that cannot name anything without brackets (subset of SQL Server's list).
RESERVED = set('''
add all alter and any as asc authorization backup begin between break browse bulk by cascade case
check checkpoint close clustered coalesce collate column commit compute constraint contains
continue convert create cross current current_date current_time current_timestamp current_user
cursor database dbcc deallocate declare default delete deny desc distinct distributed double
drop else end errlvl escape except exec execute exists exit external fetch file fillfactor for
foreign freetext from full function goto grant group having holdlock identity identity_insert
identitycol if in index inner insert intersect into is join key kill left like lineno merge
national nocheck nonclustered not null nullif of off offsets on open option or order outer over
percent pivot plan primary print proc procedure public raiserror read readtext reconfigure
references replication restore restrict return revert revoke right rollback rowcount rowguidcol
rule save schema select session_user set setuser shutdown some statistics system_user table
tablesample textsize then to top tran transaction trigger truncate try_convert union unique
unpivot update updatetext use user values varying view waitfor when where while with writetext
'''.split())


class Token:
    __slots__ = ('kind', 'value', 'line', 'pos', 'start')

    def __init__(self, kind, value, line, pos, start=0):
        self.kind = kind      # id qid str nstr num bin var sysvar op eof
        self.value = value
        self.line = line
        self.pos = pos        # offset just past the token
        self.start = start    # offset of its first character

    @property
    def lower(self):
        return self.value.lower() if self.kind == 'id' else None

    def is_kw(self, *words):
        return self.kind == 'id' and self.value.lower() in words

    def text(self):
        if self.kind == 'str':
            return "'" + self.value.replace("'", "''") + "'"
        if self.kind == 'nstr':
            return "N'" + self.value.replace("'", "''") + "'"
        if self.kind == 'qid':
            return self.value
        return self.value

    def __repr__(self):
        return 'Token(%s,%r)' % (self.kind, self.value)


_OPS3 = ()
_OPS2 = ('<>', '!=', '<=', '>=', '!<', '!>', '::', '+=', '-=', '*=', '/=')
_OPS1 = '+-*/%=<>(),.;&|^~'


def _ident_start(c):
    return c.isalpha() or c == '_' or c == '#' or (ord(c) > 127 and not c.isspace())


def _ident_char(c):
    return c.isalnum() or c in '_@#$' or (ord(c) > 127 and not c.isspace() and c not in '\u3000')


def tokenize(text):
    toks = []
    i = 0
    n = len(text)
    line = 1
    while i < n:
        c = text[i]
        if c in ' \t\r\f\v\u3000\ufeff\x00':
            i += 1
            continue
        if c == '\n':
            line += 1
            i += 1
            continue
        if c == '-' and text.startswith('--', i):
            j = text.find('\n', i)
            i = n if j < 0 else j
            continue
        if c == '/' and text.startswith('/*', i):
            depth = 0
            j = i
            while j < n:
                if text.startswith('/*', j):
                    depth += 1
                    j += 2
                elif text.startswith('*/', j):
                    depth -= 1
                    j += 2
                    if depth == 0:
                        break
                else:
                    if text[j] == '\n':
                        line += 1
                    j += 1
            if depth:
                raise TsqlError(113, "Missing end comment mark '*/'.", 15, line=line)
            i = j
            continue
        start_line = line
        tok_start = len(toks)
        begin = i
        if c == "'" or (c in 'nN' and text.startswith("'", i + 1)):
            kind = 'str'
            if c != "'":
                kind = 'nstr'
                i += 1
            j = i + 1
            buf = []
            while True:
                k = text.find("'", j)
                if k < 0:
                    raise TsqlError(105, "Unclosed quotation mark after the character string '%s'." % text[i + 1:], 15, line=start_line)
                buf.append(text[j:k])
                if text.startswith("''", k):
                    buf.append("'")
                    j = k + 2
                    continue
                line += text.count('\n', i, k)
                i = k + 1
                break
            toks.append(Token(kind, ''.join(buf), start_line, i, begin))
            continue
        if c == '[':
            j = i + 1
            buf = []
            while True:
                k = text.find(']', j)
                if k < 0:
                    raise TsqlError(105, "Unclosed quotation mark after the character string '%s'." % text[i + 1:], 15, line=start_line)
                buf.append(text[j:k])
                if text.startswith(']]', k):
                    buf.append(']')
                    j = k + 2
                    continue
                line += text.count('\n', i, k)
                i = k + 1
                break
            toks.append(Token('qid', ''.join(buf), start_line, i, begin))
            continue
        if c == '"':
            k = text.find('"', i + 1)
            if k < 0:
                raise TsqlError(105, "Unclosed quotation mark after the character string '%s'." % text[i + 1:], 15, line=start_line)
            toks.append(Token('qid', text[i + 1:k], start_line, k + 1, begin))
            i = k + 1
            continue
        if c == '0' and i + 1 < n and text[i + 1] in 'xX':
            # A binary constant: 0x and hex digits (an odd count gets a leading 0, as SQL Server reads it).
            j = i + 2
            while j < n and text[j] in '0123456789abcdefABCDEF':
                j += 1
            toks.append(Token('bin', text[i + 2:j], line, j, begin))
            i = j
            continue
        if c.isdigit() or (c == '.' and i + 1 < n and text[i + 1].isdigit()):
            j = i
            while j < n and text[j].isdigit():
                j += 1
            if j < n and text[j] == '.':
                j += 1
                while j < n and text[j].isdigit():
                    j += 1
            if j < n and text[j] in 'eE' and (j + 1 < n and (text[j + 1].isdigit() or
                                                             (text[j + 1] in '+-' and j + 2 < n and text[j + 2].isdigit()))):
                j += 2
                while j < n and text[j].isdigit():
                    j += 1
            toks.append(Token('num', text[i:j], line, j, begin))
            i = j
            continue
        if c == '@':
            j = i + 1
            kind = 'var'
            if j < n and text[j] == '@':
                j += 1
                kind = 'sysvar'
            while j < n and _ident_char(text[j]):
                j += 1
            if j == i + 1:
                raise syntax_error('@', line=line)
            toks.append(Token(kind, text[i:j], line, j, begin))
            i = j
            continue
        if c == '$':
            # money literal prefix
            i += 1
            continue
        if _ident_start(c):
            j = i + 1
            while j < n and _ident_char(text[j]):
                j += 1
            toks.append(Token('id', text[i:j], line, j, begin))
            i = j
            continue
        two = text[i:i + 2]
        if two in _OPS2:
            toks.append(Token('op', two, line, i + 2, begin))
            i += 2
            continue
        if c in _OPS1:
            toks.append(Token('op', c, line, i + 1, begin))
            i += 1
            continue
        raise syntax_error(c, line=line)
    toks.append(Token('eof', '', line, n, n))
    return toks
