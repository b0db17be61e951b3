"""SQL Server data types: declaration parsing, conversion rules and TDS encoding."""

import datetime as _dt
import decimal
import math
import re
import struct

from errors import TsqlError

# Precedence for implicit conversion (higher wins), as SQL Server orders it.
PRECEDENCE = {
    'datetime': 24, 'smalldatetime': 23, 'date': 22,
    'float': 20, 'real': 19, 'decimal': 18, 'numeric': 18,
    'money': 17, 'smallmoney': 16, 'bigint': 15, 'int': 14, 'smallint': 13,
    'tinyint': 12, 'bit': 11, 'ntext': 10, 'text': 9, 'nvarchar': 8, 'nchar': 7,
    'varchar': 6, 'char': 5, 'varbinary': 4, 'binary': 3, 'null': 0,
}
INT_TYPES = {'bigint': 8, 'int': 4, 'smallint': 2, 'tinyint': 1}
INT_RANGE = {'bigint': (-2**63, 2**63 - 1), 'int': (-2**31, 2**31 - 1),
             'smallint': (-32768, 32767), 'tinyint': (0, 255)}
STRING_TYPES = {'char', 'varchar', 'nchar', 'nvarchar', 'text', 'ntext'}
UNICODE_TYPES = {'nchar', 'nvarchar', 'ntext'}
NUMERIC_TYPES = set(INT_TYPES) | {'bit', 'float', 'real', 'decimal', 'numeric', 'money', 'smallmoney'}
DATE_TYPES = {'datetime', 'smalldatetime', 'date'}
BINARY_TYPES = {'binary', 'varbinary'}
ALIASES = {'integer': 'int', 'dec': 'decimal', 'double precision': 'float',
           'character': 'char', 'sysname': 'nvarchar'}
MAX = -1   # length of (max) types

# Chinese_PRC_CI_AS: LCID 0x0804, ignore case/kana/width, sort id 0.
COLLATION = bytes([0x04, 0x08, 0xD0, 0x00, 0x00])
CODEPAGE = 'gbk'


class SqlType:
    __slots__ = ('name', 'length', 'precision', 'scale')

    def __init__(self, name, length=0, precision=0, scale=0):
        self.name = name
        self.length = length
        self.precision = precision
        self.scale = scale

    def __repr__(self):
        return 'SqlType(%s)' % self.decl()

    def __eq__(self, other):
        return isinstance(other, SqlType) and self.decl() == other.decl()

    def __hash__(self):
        return hash(self.decl())

    def decl(self):
        if self.name in ('char', 'varchar', 'nchar', 'nvarchar', 'binary', 'varbinary'):
            return '%s(%s)' % (self.name, 'max' if self.length == MAX else self.length)
        if self.name in ('decimal', 'numeric'):
            return '%s(%d,%d)' % (self.name, self.precision, self.scale)
        return self.name

    @property
    def is_string(self):
        return self.name in STRING_TYPES

    @property
    def is_unicode(self):
        return self.name in UNICODE_TYPES

    @property
    def is_numeric(self):
        return self.name in NUMERIC_TYPES

    @property
    def is_int(self):
        return self.name in INT_TYPES

    @property
    def is_date(self):
        return self.name in DATE_TYPES

    @property
    def is_binary(self):
        return self.name in BINARY_TYPES

    @property
    def sqlite_decl(self):
        if self.name in INT_TYPES or self.name == 'bit':
            return 'INTEGER'
        if self.name in ('float', 'real', 'decimal', 'numeric', 'money', 'smallmoney'):
            return 'REAL'
        if self.is_string:
            return 'TEXT COLLATE CI'
        if self.is_binary:
            return 'BLOB'
        return 'TEXT'


def from_decl(decl):
    m = re.match(r'^(\w+)(?:\((max|\d+)(?:,(\d+))?\))?$', decl)
    name = m.group(1)
    if name in ('decimal', 'numeric'):
        return SqlType(name, precision=int(m.group(2)), scale=int(m.group(3)))
    if m.group(2) is not None:
        return SqlType(name, MAX if m.group(2) == 'max' else int(m.group(2)))
    return SqlType(name)


def make_type(name, args):
    """Build a type from a declaration: name and its parenthesised arguments (ints or 'max')."""
    name = ALIASES.get(name.lower(), name.lower())
    if name == 'sysname':
        return SqlType('nvarchar', 128)
    if name in ('char', 'varchar', 'nchar', 'nvarchar', 'binary', 'varbinary'):
        if not args:
            return SqlType(name, 1)
        n = args[0]
        if n == 'max':
            if name in ('char', 'nchar', 'binary'):
                raise TsqlError(102, "Incorrect syntax near 'max'.", 15)
            return SqlType(name, MAX)
        limit = 4000 if name in ('nchar', 'nvarchar') else 8000
        if n < 1 or n > limit:
            raise TsqlError(2717 if n > limit else 1001,
                            "The size (%d) given to the type '%s' exceeds the maximum allowed (%d)." % (n, name, limit), 16)
        return SqlType(name, n)
    if name in ('decimal', 'numeric'):
        p = args[0] if args else 18
        s = args[1] if len(args) > 1 else 0
        if not 1 <= p <= 38 or s > p:
            raise TsqlError(2750, "Column or parameter #1: Specified column precision %d is greater than the maximum precision of 38." % p, 16)
        return SqlType(name, precision=p, scale=s)
    if name == 'float':
        if args and args[0] <= 24:
            return SqlType('real')
        return SqlType('float')
    if name in ('text', 'ntext'):
        return SqlType('varchar' if name == 'text' else 'nvarchar', MAX)
    if name in PRECEDENCE and name != 'null':
        return SqlType(name)
    raise TsqlError(2715, "Column, parameter, or variable #1: Cannot find data type %s." % name, 16)


T_INT = SqlType('int')
T_BIGINT = SqlType('bigint')
T_BIT = SqlType('bit')
T_FLOAT = SqlType('float')
T_DATETIME = SqlType('datetime')
T_MONEY = SqlType('money')
T_NULL = SqlType('int')    # untyped NULL comes back as int, as on SQL Server
T_SYSNAME = SqlType('nvarchar', 128)
T_VARBINARY = SqlType('varbinary', 8000)


def varbinary(n):
    return SqlType('varbinary', max(1, n) if n <= 8000 else MAX)


def varchar(n, unicode=False):
    n = max(1, n)
    if unicode:
        return SqlType('nvarchar', n if n <= 4000 else MAX)
    return SqlType('varchar', n if n <= 8000 else MAX)


def higher(a, b):
    """Result type of combining a and b (CASE, UNION, comparison)."""
    if a is None:
        return b
    if b is None:
        return a
    if a.is_string and b.is_string:
        uni = a.is_unicode or b.is_unicode
        if a.length == MAX or b.length == MAX:
            return SqlType('nvarchar' if uni else 'varchar', MAX)
        return varchar(max(a.length, b.length), uni)
    if a.is_binary and b.is_binary:
        if a.length == MAX or b.length == MAX:
            return SqlType('varbinary', MAX)
        return varbinary(max(a.length, b.length))
    if a.name in ('decimal', 'numeric') and b.name in ('decimal', 'numeric'):
        s = max(a.scale, b.scale)
        p = min(38, max(a.precision - a.scale, b.precision - b.scale) + s)
        return SqlType('decimal', precision=p, scale=s)
    return a if PRECEDENCE[a.name] >= PRECEDENCE[b.name] else b


def int_as_decimal(t):
    return {'bigint': 19, 'int': 10, 'smallint': 5, 'tinyint': 3, 'bit': 1}.get(t.name)


def arith_type(op, a, b):
    """Result type of a numeric operator."""
    if a.name in ('decimal', 'numeric') or b.name in ('decimal', 'numeric'):
        if a.name in ('float', 'real') or b.name in ('float', 'real'):
            return T_FLOAT
        def ps(t):
            if t.name in ('decimal', 'numeric'):
                return t.precision, t.scale
            if t.name in ('money', 'smallmoney'):
                return 19, 4
            return int_as_decimal(t) or 18, 0
        p1, s1 = ps(a)
        p2, s2 = ps(b)
        if op in '+-':
            s = max(s1, s2)
            p = max(s1, s2) + max(p1 - s1, p2 - s2) + 1
        elif op == '*':
            p, s = p1 + p2 + 1, s1 + s2
        elif op == '/':
            s = max(6, s1 + p2 + 1)
            p = p1 - s1 + s2 + s
        else:
            s = max(s1, s2)
            p = min(p1 - s1, p2 - s2) + s
        if p > 38:
            s = max(min(s, 6), s - (p - 38))
            p = 38
        return SqlType('decimal', precision=p, scale=s)
    t = higher(a, b)
    if t.name == 'bit':
        return T_INT if a.name != b.name else SqlType('bit')
    if t.name == 'tinyint' and (a.name != 'tinyint' or b.name != 'tinyint'):
        return higher(a if a.name != 'tinyint' else b, T_INT)
    return t


# ---------------------------------------------------------------- conversions

def conv_error(value, src, target):
    if src is not None and src.is_string:
        return TsqlError(245 if target.is_int or target.name == 'bit' else 8114,
                         "Conversion failed when converting the %s value '%s' to data type %s." % (src.name, value, target.name)
                         if target.is_int or target.name == 'bit'
                         else "Error converting data type %s to %s." % (src.name, target.name), 16, abort=True)
    return TsqlError(8114, "Error converting data type %s to %s." % (src.name if src else 'varchar', target.name), 16, abort=True)


_NUM_RE = re.compile(r'^\s*([+-]?)\s*(\d*)(?:\.(\d*))?(?:[eE]([+-]?\d+))?\s*$')
_DATE_FORMATS = ['%Y-%m-%d %H:%M:%S.%f', '%Y-%m-%d %H:%M:%S', '%Y-%m-%d %H:%M', '%Y-%m-%d',
                 '%Y%m%d', '%Y%m%d %H:%M:%S', '%Y/%m/%d', '%Y/%m/%d %H:%M:%S', '%Y.%m.%d',
                 '%Y-%m-%dT%H:%M:%S', '%Y-%m-%dT%H:%M:%S.%f', '%m/%d/%Y', '%m/%d/%Y %H:%M:%S', '%Y/%m/%d %H:%M',
                 '%Y-%m-%d %H:%M:%S.%f ', '%Y']


def parse_datetime(s):
    s = s.strip()
    # Fast path for the ISO form the engine stores ('2024-01-01 00:00:00.000'); strptime costs
    # about ten times as much and this runs once per datetime value sent.
    if len(s) >= 19 and s[4] == '-' and s[7] == '-' and s[10] in ' T':
        try:
            d = _dt.datetime.fromisoformat(s)
            if d.tzinfo is None:
                return d
        except ValueError:
            pass
    for f in _DATE_FORMATS:
        try:
            return _dt.datetime.strptime(s, f)
        except ValueError:
            pass
    return None


def format_datetime(d, name='datetime'):
    if name == 'date':
        return d.strftime('%Y-%m-%d')
    if name == 'smalldatetime':
        d = (d + _dt.timedelta(seconds=30)).replace(second=0, microsecond=0)
        return d.strftime('%Y-%m-%d %H:%M:00.000')
    # datetime keeps 1/300 s
    ticks = round((d.microsecond / 1e6) * 300)
    d = d.replace(microsecond=0) + _dt.timedelta(seconds=ticks / 300)
    return d.strftime('%Y-%m-%d %H:%M:%S.') + '%03d' % (d.microsecond // 1000)


def num_text(v, src):
    if isinstance(v, float):
        if src is not None and src.name in ('decimal', 'numeric'):
            return '%.*f' % (src.scale, v)
        if src is not None and src.name in ('money', 'smallmoney'):
            return '%.2f' % v
        if v == int(v) and abs(v) < 1e15:
            return '%d' % v
        return '%.15g' % v
    return str(v)


def check_implicit(src, target):
    """Refuses an assignment (to a column, a variable) that SQL Server converts only explicitly: text to binary
    is error 257. Numbers to binary columns are left out of the test server (their padding rules)."""
    if src is None or target is None or not (src.is_binary or target.is_binary) or src.is_binary == target.is_binary:
        return
    if target.is_binary and (src.is_string or src.is_date or src.name in ('float', 'real')):
        raise TsqlError(257, 'Implicit conversion from data type %s to %s is not allowed. Use the CONVERT '
                             'function to run this query.' % (src.name, target.name), 16, abort=True)
    if target.is_binary or not (target.is_string or target.is_int):
        raise TsqlError(40000, 'Not supported by the test server: implicit conversion of %s to %s'
                        % (src.name, target.name), 16, abort=True)


def implicit(value, target, src):
    """convert() for an assignment (a column, a variable), with check_implicit's refusals."""
    check_implicit(src, target)
    return convert(value, target, src)


def to_binary(value, target, src, style):
    """Bytes of value as binary/varbinary(target.length): text in its code page (UTF-16LE for Unicode), or hex
    digits with style 1 ('0x...') or 2; integers big-endian in their own size. Text is padded or cut on the
    right, other values on the left, as SQL Server does."""
    if isinstance(value, bytes):
        data = value
        right = True
    elif isinstance(value, str) and (src is None or src.is_string):
        if style in (1, 2):
            text = value.strip()
            if style == 1:
                if text[:2].lower() != '0x':
                    raise TsqlError(8114, 'Error converting data type %s to %s.' % (src.name if src else 'varchar',
                                                                                target.name), 16, abort=True)
                text = text[2:]
            try:
                data = bytes.fromhex(text) if len(text) % 2 == 0 else None
            except ValueError:
                data = None
            if data is None:
                raise TsqlError(8114, 'Error converting data type %s to %s.' % (src.name if src else 'varchar',
                                                                            target.name), 16, abort=True)
        elif style not in (None, 0):
            raise TsqlError(281, '%d is not a valid style number when converting to %s.' % (style, target.name), 16)
        else:
            data = value.encode('utf-16-le') if src is not None and src.is_unicode else value.encode(CODEPAGE, 'replace')
        right = True
    elif isinstance(value, int) and (src is None or src.is_int or src.name == 'bit'):
        size = INT_TYPES.get(src.name if src else 'int', 1)
        data = (int(value) & ((1 << (8 * size)) - 1)).to_bytes(size, 'big')
        right = False
    else:
        raise TsqlError(40000, 'Not supported by the test server: conversion of %s to %s'
                        % (src.name if src else type(value).__name__, target.name), 16, abort=True)
    n = target.length
    if n == MAX:
        return data
    if len(data) > n:
        data = data[:n] if right else data[len(data) - n:]
    elif target.name == 'binary' and len(data) < n:
        data = data + bytes(n - len(data)) if right else bytes(n - len(data)) + data
    return data


def from_binary(value, target, style):
    """A binary value as target: integers from the big-endian bytes (the rightmost ones when longer, as
    SQL Server cuts on the left); text as the bytes in the code page (UTF-16LE for Unicode) or, with
    style 1 or 2, as upper-case hex digits (with or without '0x')."""
    t = target.name
    if t in INT_TYPES:
        size = INT_TYPES[t]
        data = value[-size:] if len(value) > size else value
        v = int.from_bytes(data, 'big')
        if len(data) == size and t != 'tinyint' and v >= 1 << (8 * size - 1):
            v -= 1 << (8 * size)
        return v
    if t in STRING_TYPES:
        if style in (1, 2):
            text = ('0x' if style == 1 else '') + value.hex().upper()
        elif style not in (None, 0):
            raise TsqlError(281, '%d is not a valid style number when converting from binary to a character string.'
                            % style, 16)
        elif target.is_unicode:
            text = value[:len(value) // 2 * 2].decode('utf-16-le', 'replace')
        else:
            text = value.decode(CODEPAGE, 'replace')
        return convert(text, target, None)
    if t in ('float', 'real'):
        raise TsqlError(529, 'Explicit conversion from data type varbinary to %s is not allowed.' % t, 16, abort=True)
    raise TsqlError(40000, 'Not supported by the test server: conversion of binary values to %s' % t, 16, abort=True)


def convert(value, target, src=None, style=None):
    """Convert a stored value to the storage form of target, raising SQL Server's errors."""
    if value is None:
        return None
    t = target.name
    if t in BINARY_TYPES:
        return to_binary(value, target, src, style)
    if isinstance(value, bytes):
        if src is None or src.is_binary:
            return from_binary(value, target, style)
        value = value.decode('utf-8', 'replace')
    if t in INT_TYPES or t == 'bit':
        if isinstance(value, str):
            m = _NUM_RE.match(value)
            if not m or not (m.group(2) or m.group(3)) or m.group(3) is not None or m.group(4):
                if t == 'bit' and value.strip().lower() in ('true', 'false'):
                    return 1 if value.strip().lower() == 'true' else 0
                raise conv_error(value, src or SqlType('varchar'), target)
            v = int((m.group(1) or '') + (m.group(2) or '0'))
        elif isinstance(value, float):
            if src is not None and src.name in ('money', 'smallmoney', 'decimal', 'numeric'):
                v = int(decimal.Decimal(repr(value)).quantize(0, decimal.ROUND_HALF_UP))
            else:
                v = int(value)
        else:
            v = int(value)
        if t == 'bit':
            return 1 if v else 0
        lo, hi = INT_RANGE[t]
        if not lo <= v <= hi:
            raise TsqlError(8115, "Arithmetic overflow error converting expression to data type %s." % t, 16, abort=False)
        return v
    if t in ('float', 'real', 'decimal', 'numeric', 'money', 'smallmoney'):
        if isinstance(value, str):
            m = _NUM_RE.match(value)
            if not m or not (m.group(2) or m.group(3)):
                raise conv_error(value, src or SqlType('varchar'), target)
            v = float(value)
        else:
            v = float(value)
        if t in ('decimal', 'numeric'):
            v = round(v, target.scale)
            if abs(v) >= 10 ** (target.precision - target.scale):
                raise TsqlError(8115, "Arithmetic overflow error converting %s to data type numeric." %
                                ('varchar' if isinstance(value, str) else (src.name if src else 'numeric')), 16)
        elif t in ('money', 'smallmoney'):
            v = round(v, 4)
            limit = 922337203685477.5807 if t == 'money' else 214748.3647
            if not -limit - 0.0001 <= v <= limit:
                raise TsqlError(8115, 'Arithmetic overflow error converting expression to data type %s.' % t, 16)
        elif t == 'real':
            v = struct.unpack('<f', struct.pack('<f', v))[0]
        return v
    if t in DATE_TYPES:
        if isinstance(value, str):
            d = parse_datetime(value)
            if d is None:
                if value.strip() == '':
                    d = _dt.datetime(1900, 1, 1)
                else:
                    raise TsqlError(241, "Conversion failed when converting date and/or time from character string.", 16, abort=True)
        elif isinstance(value, (int, float)):
            d = _dt.datetime(1900, 1, 1) + _dt.timedelta(days=float(value))
        else:
            d = value
        return format_datetime(d, t)
    if t in STRING_TYPES:
        if isinstance(value, str):
            s = value
            if src is not None and src.is_date and style is not None:
                s = date_style(value, style)
        elif src is not None and src.is_date:
            s = str(value)
        elif isinstance(value, float) and (src is None or src.name in ('float', 'real')):
            s = num_text(value, src) if style is None else repr(value)
        else:
            s = num_text(value, src)
        if src is not None and src.is_date and style is None and isinstance(value, str):
            s = date_style0(value)
        if not target.is_unicode:
            s = s.encode(CODEPAGE, 'replace').decode(CODEPAGE)
        if target.length != MAX and target.length > 0:
            size = len(s.encode(CODEPAGE, 'replace')) if not target.is_unicode else len(s)
            if size > target.length:
                s = truncate_to(s, target)
            if t in ('char', 'nchar'):
                s = s + ' ' * (target.length - (len(s.encode(CODEPAGE, 'replace')) if not target.is_unicode else len(s)))
        return s
    raise TsqlError(529, "Explicit conversion to data type %s is not supported by the test server." % t, 16)


def truncate_to(s, target):
    if target.is_unicode:
        return s[:target.length]
    out = ''
    for ch in s:
        if len((out + ch).encode(CODEPAGE, 'replace')) > target.length:
            break
        out += ch
    return out


def fits(s, target):
    """True when a string value fits the target's declared length (for 8152)."""
    if not target.is_string or target.length == MAX or not isinstance(s, str):
        return True
    if target.is_unicode:
        return len(s.rstrip(' ')) <= target.length
    return len(s.rstrip(' ').encode(CODEPAGE, 'replace')) <= target.length


def date_style0(value):
    d = parse_datetime(value)
    if d is None:
        return value
    hour = d.hour % 12 or 12
    return '%s %2d %d %2d:%02d%s' % (d.strftime('%b'), d.day, d.year, hour, d.minute, 'AM' if d.hour < 12 else 'PM')


def date_style(value, style):
    d = parse_datetime(value)
    if d is None:
        return value
    fmt = {120: '%Y-%m-%d %H:%M:%S', 20: '%Y-%m-%d %H:%M:%S', 23: '%Y-%m-%d', 112: '%Y%m%d',
           12: '%y%m%d', 102: '%Y.%m.%d', 111: '%Y/%m/%d', 108: '%H:%M:%S', 8: '%H:%M:%S',
           101: '%m/%d/%Y', 103: '%d/%m/%Y'}.get(style)
    if style in (121, 21):
        return format_datetime(d)
    if fmt is None:
        raise TsqlError(281, "%d is not a valid style number when converting from datetime to a character string." % style, 16)
    return d.strftime(fmt)


# ---------------------------------------------------------------- TDS encoding

def type_info(t, tds72=True):
    """TYPE_INFO bytes for COLMETADATA."""
    n = t.name
    if n in INT_TYPES:
        return bytes([0x26, INT_TYPES[n]])
    if n == 'bit':
        return bytes([0x68, 1])
    if n == 'float':
        return bytes([0x6D, 8])
    if n == 'real':
        return bytes([0x6D, 4])
    if n == 'money':
        return bytes([0x6E, 8])
    if n == 'smallmoney':
        return bytes([0x6E, 4])
    if n in ('decimal', 'numeric'):
        return bytes([0x6A if n == 'decimal' else 0x6C, dec_size(t.precision), t.precision, t.scale])
    if n == 'datetime':
        return bytes([0x6F, 8])
    if n == 'smalldatetime':
        return bytes([0x6F, 4])
    if n == 'date':
        return bytes([0x28])
    if n in BINARY_TYPES:
        # BIGVARBINARY / BIGBINARY: a USHORT length (0xFFFF: varbinary(max), sent as PLP), no collation.
        return bytes([0xA5 if n == 'varbinary' else 0xAD]) + struct.pack('<H', 0xFFFF if t.length == MAX else t.length)
    code = {'varchar': 0xA7, 'char': 0xAF, 'nvarchar': 0xE7, 'nchar': 0xEF}[n]
    if t.length == MAX:
        return bytes([code]) + b'\xff\xff' + COLLATION
    size = t.length * 2 if t.is_unicode else t.length
    return bytes([code]) + struct.pack('<H', size) + COLLATION


def dec_size(p):
    return 5 if p <= 9 else 9 if p <= 19 else 13 if p <= 28 else 17


_EPOCH = _dt.datetime(1900, 1, 1)


def encode_value(t, v):
    """Row bytes for value v (storage form) of type t."""
    n = t.name
    if n in INT_TYPES:
        if v is None:
            return b'\x00'
        size = INT_TYPES[n]
        return bytes([size]) + int(v).to_bytes(size, 'little', signed=n != 'tinyint')
    if n == 'bit':
        return b'\x00' if v is None else bytes([1, 1 if v else 0])
    if n in ('float', 'real'):
        if v is None:
            return b'\x00'
        return b'\x08' + struct.pack('<d', float(v)) if n == 'float' else b'\x04' + struct.pack('<f', float(v))
    if n in ('money', 'smallmoney'):
        if v is None:
            return b'\x00'
        cents = int(decimal.Decimal(repr(float(v))).scaleb(4).quantize(0, decimal.ROUND_HALF_EVEN))
        cents = max(-2**63, min(2**63 - 1, cents))
        if n == 'smallmoney':
            cents = max(-2**31, min(2**31 - 1, cents))
            return b'\x04' + struct.pack('<i', cents)
        return b'\x08' + struct.pack('<iI', cents >> 32, cents & 0xFFFFFFFF)
    if n in ('decimal', 'numeric'):
        if v is None:
            return b'\x00'
        d = decimal.Decimal(repr(v) if isinstance(v, float) else str(v))
        iv = int(d.scaleb(t.scale).quantize(0, decimal.ROUND_HALF_UP))
        size = dec_size(t.precision)
        return bytes([size, 0 if iv < 0 else 1]) + abs(iv).to_bytes(size - 1, 'little')
    if n in DATE_TYPES:
        if v is None:
            return b'\x00'
        d = parse_datetime(str(v))
        if d is None:
            d = _EPOCH
        if n == 'date':
            days = (d.date() - _dt.date(1, 1, 1)).days
            return b'\x03' + days.to_bytes(3, 'little')
        delta = d - _EPOCH
        if n == 'smalldatetime':
            return b'\x04' + struct.pack('<HH', delta.days, delta.seconds // 60)
        ticks = round((delta.seconds + d.microsecond / 1e6) * 300)
        return b'\x08' + struct.pack('<iI', delta.days, ticks)
    if n in BINARY_TYPES:
        if v is not None and not isinstance(v, bytes):
            v = convert(v, t, None)
        if t.length == MAX:
            if v is None:
                return b'\xff' * 8
            out = struct.pack('<Q', len(v))
            if v:
                out += struct.pack('<I', len(v)) + v
            return out + b'\x00\x00\x00\x00'
        return b'\xff\xff' if v is None else struct.pack('<H', len(v)) + v
    # strings
    if v is not None and not isinstance(v, str):
        v = num_text(v, None) if not isinstance(v, bytes) else v.decode('utf-8', 'replace')
    if t.length == MAX:
        if v is None:
            return b'\xff' * 8
        data = v.encode('utf-16-le') if t.is_unicode else v.encode(CODEPAGE, 'replace')
        out = struct.pack('<Q', len(data))
        if data:
            out += struct.pack('<I', len(data)) + data
        return out + b'\x00\x00\x00\x00'
    if v is None:
        return b'\xff\xff'
    data = v.encode('utf-16-le') if t.is_unicode else v.encode(CODEPAGE, 'replace')
    return struct.pack('<H', len(data)) + data


def widen_for(t, values):
    """Widen a string type so that every value fits its declared length (inferred types)."""
    if not t.is_string or t.length == MAX:
        return t
    need = t.length
    for v in values:
        if v is None:
            continue
        s = v if isinstance(v, str) else str(v)
        size = len(s) if t.is_unicode else len(s.encode(CODEPAGE, 'replace'))
        if size > need:
            need = size
    if need == t.length:
        return t
    return SqlType(t.name, need if need <= (4000 if t.is_unicode else 8000) else MAX)


def is_nan(v):
    return isinstance(v, float) and (math.isnan(v) or math.isinf(v))
