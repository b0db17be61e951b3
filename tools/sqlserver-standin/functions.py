"""Scalar helpers registered in SQLite; they raise TsqlError for SQL Server's runtime errors."""

import datetime as _dt
import hashlib
import math
import re
import struct
import threading

import sqltypes
from errors import TsqlError

pending = threading.local()


def take_pending():
    e = getattr(pending, 'err', None)
    pending.err = None
    return e


def _wrap(fn):
    def inner(*args):
        try:
            return fn(*args)
        except TsqlError as e:
            pending.err = e
            raise
        except Exception as e:   # noqa: BLE001 - any helper failure becomes a clean SQL error
            pending.err = TsqlError(8114, 'Error in %s: %s' % (fn.__name__, e), 16, abort=True)
            raise
    return inner


_decl_cache = {}


def _type(decl):
    t = _decl_cache.get(decl)
    if t is None:
        t = _decl_cache[decl] = sqltypes.from_decl(decl)
    return t


def conv(value, target, src, style):
    return sqltypes.convert(value, _type(target), _type(src) if src else None, style)


def try_conv(value, target, src, style):
    try:
        return sqltypes.convert(value, _type(target), _type(src) if src else None, style)
    except TsqlError:
        return None


def store(value, target, src):
    """Conversion for a column assignment: also enforces the declared length (8152)."""
    t = _type(target)
    s = _type(src) if src else None
    if t.is_string and value is not None:
        text = value if isinstance(value, str) else sqltypes.convert(value, sqltypes.varchar(8000), s)
        if not sqltypes.fits(text, t):
            raise TsqlError(8152, 'String or binary data would be truncated.', 16)
    if t.is_binary and value is not None and t.length != sqltypes.MAX:
        data = sqltypes.implicit(value, sqltypes.SqlType('varbinary', sqltypes.MAX), s)
        if len(data) > t.length:
            raise TsqlError(8152, 'String or binary data would be truncated.', 16)
    return sqltypes.implicit(value, t, s)


def nz(v):
    if v == 0:
        raise TsqlError(8134, 'Divide by zero error encountered.', 16)
    return v


def fail(number, message):
    raise TsqlError(number, message, 16)


def one_row(count, value):
    if count > 1:
        raise TsqlError(512, 'Subquery returned more than 1 value. This is not permitted when the subquery follows '
                             '=, !=, <, <= , >, >= or when the subquery is used as an expression.', 16)
    return value


_like_cache = {}


def like(s, pattern, escape):
    if s is None or pattern is None:
        return None
    key = (pattern, escape)
    rx = _like_cache.get(key)
    if rx is None:
        out = []
        i = 0
        n = len(pattern)
        while i < n:
            c = pattern[i]
            if escape and c == escape and i + 1 < n:
                out.append(re.escape(pattern[i + 1]))
                i += 2
                continue
            if c == '%':
                out.append('.*')
            elif c == '_':
                out.append('.')
            elif c == '[':
                j = pattern.find(']', i + 1)
                if j < 0:
                    out.append(re.escape(c))
                else:
                    body = pattern[i + 1:j]
                    neg = body.startswith('^')
                    if neg:
                        body = body[1:]
                    cls = ''.join('\\' + ch if ch in '\\]^[' else ch for ch in body)
                    out.append('[%s%s]' % ('^' if neg else '', cls))
                    i = j
            else:
                out.append(re.escape(c))
            i += 1
        rx = re.compile('(?s)^' + ''.join(out) + r' *$', re.IGNORECASE)
        if len(_like_cache) > 500:
            _like_cache.clear()
        _like_cache[key] = rx
    if not isinstance(s, str):
        s = sqltypes.num_text(s, None)
    return 1 if rx.match(s) else 0


def getdate():
    return sqltypes.format_datetime(_dt.datetime.now())


def substring(s, start, length):
    if s is None or start is None or length is None:
        return None
    if length < 0:
        raise TsqlError(537, 'Invalid length parameter passed to the substring function.', 16)
    s = s if isinstance(s, (str, bytes)) else sqltypes.num_text(s, None)
    end = start + length
    start = max(start, 1)
    if end <= start:
        return s[:0]
    return s[start - 1:end - 1]


def left(s, n):
    if s is None or n is None:
        return None
    if n < 0:
        raise TsqlError(536, 'Invalid length parameter passed to the left function.', 16)
    s = s if isinstance(s, str) else sqltypes.num_text(s, None)
    return s[:n]


def right(s, n):
    if s is None or n is None:
        return None
    if n < 0:
        raise TsqlError(536, 'Invalid length parameter passed to the right function.', 16)
    s = s if isinstance(s, str) else sqltypes.num_text(s, None)
    return s[len(s) - n:] if n else ''


def ci_replace(s, a, b):
    if s is None or a is None or b is None:
        return None
    if a == '':
        return s
    return re.sub(re.escape(a), lambda m: b, s, flags=re.IGNORECASE)


def charindex(a, s, start):
    if a is None or s is None:
        return None
    start = max(int(start or 1), 1)
    pos = s.lower().find(a.lower(), start - 1)
    return pos + 1


def tround(v, n, trunc):
    if v is None or n is None:
        return None
    if isinstance(v, int):
        if n >= 0:
            return v
        f = 10 ** (-n)
        q = abs(v) // f * f
        if not trunc and abs(v) % f * 2 >= f:
            q += f
        return q if v >= 0 else -q
    f = 10.0 ** n
    x = abs(v) * f
    r = math.floor(x) if trunc else math.floor(x + 0.5 + 1e-9)
    r = r / f
    return r if v >= 0 else -r


def floor_(v):
    return None if v is None else (v if isinstance(v, int) else float(math.floor(v)))


def ceiling(v):
    return None if v is None else (v if isinstance(v, int) else float(math.ceil(v)))


def isnumeric(v):
    if v is None:
        return 0
    if not isinstance(v, str):
        return 1
    try:
        float(v.strip().lstrip('$'))
        return 1 if v.strip() else 0
    except ValueError:
        return 0


def isdate(v):
    return 1 if isinstance(v, str) and sqltypes.parse_datetime(v) is not None else 0


_PARTS = {'year': 'year', 'yy': 'year', 'yyyy': 'year', 'quarter': 'quarter', 'qq': 'quarter', 'q': 'quarter',
          'month': 'month', 'mm': 'month', 'm': 'month', 'day': 'day', 'dd': 'day', 'd': 'day',
          'dayofyear': 'dayofyear', 'dy': 'dayofyear', 'y': 'dayofyear', 'week': 'week', 'wk': 'week',
          'ww': 'week', 'weekday': 'weekday', 'dw': 'weekday', 'hour': 'hour', 'hh': 'hour',
          'minute': 'minute', 'mi': 'minute', 'n': 'minute', 'second': 'second', 'ss': 'second', 's': 'second',
          'millisecond': 'millisecond', 'ms': 'millisecond'}


def part_name(name):
    p = _PARTS.get(name.lower())
    if p is None:
        raise TsqlError(155, "'%s' is not a recognized datepart option." % name, 15)
    return p


def _date(v):
    if v is None:
        return None
    d = sqltypes.parse_datetime(v) if isinstance(v, str) else None
    if d is None:
        if isinstance(v, (int, float)):
            return _dt.datetime(1900, 1, 1) + _dt.timedelta(days=v)
        raise TsqlError(241, 'Conversion failed when converting date and/or time from character string.', 16, abort=True)
    return d


def datepart(part, v):
    d = _date(v)
    if d is None:
        return None
    return {'year': d.year, 'quarter': (d.month - 1) // 3 + 1, 'month': d.month, 'day': d.day,
            'dayofyear': d.timetuple().tm_yday, 'week': int(d.strftime('%U')) + 1,
            'weekday': (d.weekday() + 1) % 7 + 1, 'hour': d.hour, 'minute': d.minute, 'second': d.second,
            'millisecond': d.microsecond // 1000}[part]


def dateadd(part, n, v):
    d = _date(v)
    if d is None or n is None:
        return None
    n = int(n)
    if part in ('year', 'quarter', 'month'):
        months = n * {'year': 12, 'quarter': 3, 'month': 1}[part]
        m = d.month - 1 + months
        y = d.year + m // 12
        m = m % 12 + 1
        import calendar
        day = min(d.day, calendar.monthrange(y, m)[1])
        d = d.replace(year=y, month=m, day=day)
    else:
        secs = {'day': 86400, 'dayofyear': 86400, 'weekday': 86400, 'week': 7 * 86400, 'hour': 3600,
                'minute': 60, 'second': 1, 'millisecond': 0.001}[part]
        d = d + _dt.timedelta(seconds=n * secs)
    return sqltypes.format_datetime(d)


def datediff(part, a, b):
    x, y = _date(a), _date(b)
    if x is None or y is None:
        return None
    if part == 'year':
        return y.year - x.year
    if part == 'quarter':
        return (y.year - x.year) * 4 + (y.month - 1) // 3 - (x.month - 1) // 3
    if part == 'month':
        return (y.year - x.year) * 12 + y.month - x.month
    if part in ('day', 'dayofyear', 'weekday'):
        return (y.date() - x.date()).days
    if part == 'week':
        return ((y.date() - x.date()).days + (x.weekday() + 1) % 7 - (y.weekday() + 1) % 7) // 7
    if part == 'hour':
        return (y.replace(minute=0, second=0, microsecond=0) - x.replace(minute=0, second=0, microsecond=0)) // _dt.timedelta(hours=1)
    if part == 'minute':
        return (y.replace(second=0, microsecond=0) - x.replace(second=0, microsecond=0)) // _dt.timedelta(minutes=1)
    if part == 'second':
        return (y.replace(microsecond=0) - x.replace(microsecond=0)) // _dt.timedelta(seconds=1)
    return int((y - x) / _dt.timedelta(milliseconds=1))


def tconcat(*args):
    return ''.join('' if a is None else (a if isinstance(a, str) else sqltypes.num_text(a, None)) for a in args)


def stuff(s, start, length, repl):
    if s is None or start is None or length is None or start < 1 or start > len(s) or length < 0:
        return None
    return s[:start - 1] + (repl or '') + s[start - 1 + length:]


def replicate(s, n):
    if s is None or n is None or n < 0:
        return None
    return s * int(n)


def space(n):
    return None if n is None or n < 0 else ' ' * int(n)


def tchar(n):
    if n is None or not 0 <= n <= 255:
        return None
    return bytes([int(n)]).decode(sqltypes.CODEPAGE, 'replace') if n < 128 else bytes([int(n)]).decode('latin-1')


def tnchar(n):
    return None if n is None else chr(int(n))


def unicode_(s):
    return None if not s else ord(s[0])


def ascii_(s):
    if not s:
        return None
    return s[0].encode(sqltypes.CODEPAGE, 'replace')[0]


def datalength(v, unicode):
    if v is None:
        return None
    if isinstance(v, str):
        return len(v) * 2 if unicode else len(v.encode(sqltypes.CODEPAGE, 'replace'))
    if isinstance(v, bytes):
        return len(v)
    if isinstance(v, int):
        return 4
    return 8


def power(a, b):
    if a is None or b is None:
        return None
    return a ** b


def sqrt(a):
    if a is None:
        return None
    if a < 0:
        raise TsqlError(3623, 'An invalid floating point operation occurred.', 16)
    return math.sqrt(a)


def sign(a):
    return None if a is None else (a > 0) - (a < 0)


def str_(v, length, dec):
    if v is None:
        return None
    length = 10 if length is None else int(length)
    dec = 0 if dec is None else int(dec)
    s = '%.*f' % (dec, float(v))
    if len(s) > length:
        return '*' * length
    return s.rjust(length)


def reverse(s):
    return None if s is None else s[::-1]


def upper(s):
    return None if s is None else (s.upper() if isinstance(s, str) else sqltypes.num_text(s, None))


def lower(s):
    return None if s is None else (s.lower() if isinstance(s, str) else sqltypes.num_text(s, None))


def trim(s, which):
    if s is None:
        return None
    s = s if isinstance(s, str) else sqltypes.num_text(s, None)
    return s.lstrip(' ') if which == 'l' else s.rstrip(' ') if which == 'r' else s.strip(' ')


def tlen(s):
    if s is None:
        return None
    s = s if isinstance(s, str) else sqltypes.num_text(s, None)
    return len(s.rstrip(' '))


def ci_compare(a, b):
    ka = a.rstrip(' ').casefold()
    kb = b.rstrip(' ').casefold()
    if ka == kb:
        return 0
    ea = ka.encode('gb18030', 'replace')
    eb = kb.encode('gb18030', 'replace')
    return -1 if ea < eb else 1


# ---------------------------------------------------------------- hashes and checksums

# MD2's substitution table (RFC 1319), a permutation of 0..255 built from the digits of pi.
_MD2_S = bytes([
    41, 46, 67, 201, 162, 216, 124, 1, 61, 54, 84, 161, 236, 240, 6, 19,
    98, 167, 5, 243, 192, 199, 115, 140, 152, 147, 43, 217, 188, 76, 130, 202,
    30, 155, 87, 60, 253, 212, 224, 22, 103, 66, 111, 24, 138, 23, 229, 18,
    190, 78, 196, 214, 218, 158, 222, 73, 160, 251, 245, 142, 187, 47, 238, 122,
    169, 104, 121, 145, 21, 178, 7, 63, 148, 194, 16, 137, 11, 34, 95, 33,
    128, 127, 93, 154, 90, 144, 50, 39, 53, 62, 204, 231, 191, 247, 151, 3,
    255, 25, 48, 179, 72, 165, 181, 209, 215, 94, 146, 42, 172, 86, 170, 198,
    79, 184, 56, 210, 150, 164, 125, 182, 118, 252, 107, 226, 156, 116, 4, 241,
    69, 157, 112, 89, 100, 113, 135, 32, 134, 91, 207, 101, 230, 45, 168, 2,
    27, 96, 37, 173, 174, 176, 185, 246, 28, 70, 97, 105, 52, 64, 126, 15,
    85, 71, 163, 35, 221, 81, 175, 58, 195, 92, 249, 206, 186, 197, 234, 38,
    44, 83, 13, 110, 133, 40, 132, 9, 211, 223, 205, 244, 65, 129, 77, 82,
    106, 220, 55, 200, 108, 193, 171, 250, 36, 225, 123, 8, 12, 189, 177, 74,
    120, 136, 149, 139, 227, 99, 232, 109, 233, 203, 213, 254, 59, 0, 29, 57,
    242, 239, 183, 14, 102, 88, 208, 228, 166, 119, 114, 248, 235, 117, 75, 10,
    49, 68, 80, 180, 143, 237, 31, 26, 219, 153, 141, 51, 159, 17, 131, 20])


def md2(data):
    """MD2 (RFC 1319): not in Python's hashlib."""
    pad = 16 - len(data) % 16
    data = data + bytes([pad]) * pad
    checksum = bytearray(16)
    last = 0
    for i in range(0, len(data), 16):
        for j in range(16):
            checksum[j] ^= _MD2_S[data[i + j] ^ last]
            last = checksum[j]
    data += bytes(checksum)
    x = bytearray(48)
    for i in range(0, len(data), 16):
        for j in range(16):
            x[16 + j] = data[i + j]
            x[32 + j] = x[16 + j] ^ x[j]
        t = 0
        for j in range(18):
            for k in range(48):
                x[k] ^= _MD2_S[t]
                t = x[k]
            t = (t + j) & 0xFF
    return bytes(x[:16])


def md4(data):
    """MD4 (RFC 1320): OpenSSL 3 leaves it out of hashlib."""
    def rotl(v, s):
        v &= 0xFFFFFFFF
        return ((v << s) | (v >> (32 - s))) & 0xFFFFFFFF
    msg = data + b'\x80' + bytes((55 - len(data)) % 64) + struct.pack('<Q', (len(data) * 8) & (2**64 - 1))
    h = [0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476]
    for off in range(0, len(msg), 64):
        x = struct.unpack('<16I', msg[off:off + 64])
        a, b, c, d = h
        for i in range(16):
            k, s = i, (3, 7, 11, 19)[i % 4]
            a, b, c, d = d, rotl(a + ((b & c) | (~b & d)) + x[k], s), b, c
        for i in range(16):
            k, s = (i % 4) * 4 + i // 4, (3, 5, 9, 13)[i % 4]
            a, b, c, d = d, rotl(a + ((b & c) | (b & d) | (c & d)) + x[k] + 0x5A827999, s), b, c
        for i in range(16):
            k, s = (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15)[i], (3, 9, 11, 15)[i % 4]
            a, b, c, d = d, rotl(a + (b ^ c ^ d) + x[k] + 0x6ED9EBA1, s), b, c
        h = [(v + w) & 0xFFFFFFFF for v, w in zip(h, (a, b, c, d))]
    return struct.pack('<4I', *h)


_HASHES = {'md2': md2, 'md4': md4, 'md5': lambda d: hashlib.md5(d).digest(),
           'sha': lambda d: hashlib.sha1(d).digest(), 'sha1': lambda d: hashlib.sha1(d).digest(),
           'sha2_256': lambda d: hashlib.sha256(d).digest(), 'sha2_512': lambda d: hashlib.sha512(d).digest()}


def hashbytes(algorithm, value, kind):
    """HASHBYTES: kind is 'n' for Unicode text (hashed as UTF-16LE), 'v' for other text (in the code page),
    'b' for binary. An unknown algorithm gives NULL, as on SQL Server."""
    if algorithm is None or value is None:
        return None
    fn = _HASHES.get(str(algorithm).strip().lower())
    if fn is None:
        return None
    if isinstance(value, bytes):
        data = value
    else:
        text = value if isinstance(value, str) else sqltypes.num_text(value, None)
        data = text.encode('utf-16-le') if kind == 'n' else text.encode(sqltypes.CODEPAGE, 'replace')
    return fn(data)


def binary_key(v):
    """A binary value for comparison: SQL Server compares binary values as if padded with 0x00 on the right."""
    return v.rstrip(b'\x00') if isinstance(v, bytes) else v


class ChecksumAgg:
    """CHECKSUM_AGG: the XOR of the non-NULL int values (NULL when there are none)."""

    def __init__(self):
        self.value = None

    def step(self, v):
        if v is not None:
            self.value = int(v) if self.value is None else self.value ^ int(v)

    def finalize(self):
        return self.value


FUNCTIONS = {
    'tsql_conv': (conv, 4), 'tsql_try_conv': (try_conv, 4), 'tsql_store': (store, 3), 'tsql_nz': (nz, 1),
    'tsql_fail': (fail, 2), 'tsql_one': (one_row, 2),
    'tsql_like': (like, 3), 'tsql_getdate': (getdate, 0), 'tsql_substring': (substring, 3),
    'tsql_left': (left, 2), 'tsql_right': (right, 2), 'tsql_replace': (ci_replace, 3),
    'tsql_charindex': (charindex, 3), 'tsql_round': (tround, 3), 'tsql_floor': (floor_, 1),
    'tsql_ceiling': (ceiling, 1), 'tsql_isnumeric': (isnumeric, 1), 'tsql_isdate': (isdate, 1),
    'tsql_datepart': (datepart, 2), 'tsql_dateadd': (dateadd, 3), 'tsql_datediff': (datediff, 3),
    'tsql_stuff': (stuff, 4), 'tsql_replicate': (replicate, 2), 'tsql_space': (space, 1),
    'tsql_char': (tchar, 1), 'tsql_nchar': (tnchar, 1), 'tsql_unicode': (unicode_, 1), 'tsql_ascii': (ascii_, 1),
    'tsql_datalength': (datalength, 2), 'tsql_power': (power, 2), 'tsql_sqrt': (sqrt, 1), 'tsql_sign': (sign, 1),
    'tsql_str': (str_, 3), 'tsql_reverse': (reverse, 1), 'tsql_upper': (upper, 1), 'tsql_lower': (lower, 1),
    'tsql_trim': (trim, 2), 'tsql_len': (tlen, 1), 'tsql_hashbytes': (hashbytes, 3), 'tsql_bkey': (binary_key, 1),
}


def register(conn):
    for name, (fn, nargs) in FUNCTIONS.items():
        conn.create_function(name, nargs, _wrap(fn), deterministic=name not in ('tsql_getdate', 'tsql_fail'))
    conn.create_function('tsql_concat', -1, _wrap(tconcat), deterministic=True)
    conn.create_aggregate('tsql_checksum_agg', 1, ChecksumAgg)
    conn.create_collation('CI', ci_compare)
