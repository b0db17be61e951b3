"""TDS 7.x wire format: packets, PRELOGIN, LOGIN7, RPC requests and response tokens."""

import struct

import sqltypes
from errors import TsqlError

# packet types
PT_SQL, PT_RPC, PT_REPLY, PT_ATTENTION, PT_LOGIN7, PT_PRELOGIN = 1, 3, 4, 6, 16, 18
ST_EOM = 0x01

TDS71, TDS72, TDS73, TDS74 = 0x71000001, 0x72090002, 0x730B0003, 0x74000004

HEADER = struct.Struct('>BBHHBB')


class ProtocolError(Exception):
    pass


# ------------------------------------------------------------ requests

def parse_prelogin(data):
    opts = {}
    i = 0
    while i < len(data) and data[i] != 0xFF:
        if i + 5 > len(data):
            raise ProtocolError('truncated PRELOGIN')
        token, off, length = struct.unpack('>BHH', data[i:i + 5])
        opts[token] = data[off:off + length]
        i += 5
    return opts


def prelogin_reply(version=(11, 0, 2100, 0)):
    options = [
        (0, struct.pack('>BBH', version[0], version[1], version[2]) + struct.pack('>H', version[3])),
        (1, b'\x02'),          # ENCRYPT_NOT_SUP
        (2, b'\x00'),
        (3, b''),
        (4, b'\x00'),
    ]
    head = b''
    body = b''
    off = len(options) * 5 + 1
    for token, value in options:
        head += struct.pack('>BHH', token, off + len(body), len(value))
        body += value
    return head + b'\xff' + body


class Login:
    def __init__(self):
        self.version = TDS74
        self.packet_size = 4096
        self.hostname = ''
        self.user = ''
        self.password = ''
        self.app = ''
        self.server = ''
        self.database = ''
        self.language = ''


def _unscramble(data):
    out = bytearray()
    for b in data:
        b ^= 0xA5
        out.append(((b & 0x0F) << 4) | (b >> 4))
    return bytes(out)


def parse_login7(data):
    if len(data) < 94:
        raise ProtocolError('LOGIN7 too short')
    length, version, packet_size = struct.unpack('<III', data[:12])
    login = Login()
    login.version = struct.unpack('>I', data[4:8])[0] if data[4] in (0x71, 0x72, 0x73, 0x74) else version
    login.packet_size = packet_size

    def field(pos, password=False):
        off, n = struct.unpack('<HH', data[pos:pos + 4])
        raw = data[off:off + n * 2]
        if len(raw) != n * 2:
            raise ProtocolError('LOGIN7 field out of range')
        if password:
            raw = _unscramble(raw)
        return raw.decode('utf-16-le', 'replace')

    login.hostname = field(36)
    login.user = field(40)
    login.password = field(44, True)
    login.app = field(48)
    login.server = field(52)
    login.language = field(64)
    login.database = field(68)
    return login


def parse_all_headers(data, version):
    """Skip ALL_HEADERS (TDS 7.2+) -> offset of the payload."""
    if version < TDS72 or len(data) < 4:
        return 0
    total = struct.unpack('<I', data[:4])[0]
    if total < 4 or total > len(data):
        # Some clients omit the headers; only accept a plausible header block.
        return 0
    return total


class Reader:
    def __init__(self, data, pos=0):
        self.data = data
        self.pos = pos

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ProtocolError('truncated RPC request')
        b = self.data[self.pos:self.pos + n]
        self.pos += n
        return b

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack('<H', self.take(2))[0]

    def u32(self):
        return struct.unpack('<I', self.take(4))[0]

    def bvarchar(self):
        n = self.u8()
        return self.take(n * 2).decode('utf-16-le', 'replace')

    def usvarchar(self):
        n = self.u16()
        return self.take(n * 2).decode('utf-16-le', 'replace')

    @property
    def at_end(self):
        return self.pos >= len(self.data)


PROC_IDS = {1: 'sp_cursor', 2: 'sp_cursoropen', 3: 'sp_cursorprepare', 4: 'sp_cursorexecute',
            5: 'sp_cursorprepexec', 6: 'sp_cursorunprepare', 7: 'sp_cursorfetch', 8: 'sp_cursoroption',
            9: 'sp_cursorclose', 10: 'sp_executesql', 11: 'sp_prepare', 12: 'sp_execute', 13: 'sp_prepexec',
            14: 'sp_prepexecrpc', 15: 'sp_unprepare'}


def parse_rpc(data, version):
    """-> list of (procname, [(param name, value, SqlType, is_output)])."""
    r = Reader(data, parse_all_headers(data, version))
    calls = []
    while not r.at_end:
        n = r.u16()
        if n == 0xFFFF:
            pid = r.u16()
            name = PROC_IDS.get(pid, 'proc#%d' % pid)
        else:
            name = r.take(n * 2).decode('utf-16-le', 'replace')
        r.u16()     # option flags
        params = []
        while not r.at_end:
            b = r.data[r.pos]
            if b in (0x80, 0xFF, 0xFE):     # batch separators
                r.pos += 1
                break
            pname = r.bvarchar()
            status = r.u8()
            value, typ = read_typed_value(r)
            params.append((pname or None, value, typ, bool(status & 1)))
        calls.append((name, params))
    return calls


def read_typed_value(r):
    t = r.u8()
    if t in (0x26, 0x68, 0x6D, 0x6E, 0x6F):        # INTN BITN FLTN MONEYN DATETIMN
        maxlen = r.u8()
        n = r.u8()
        if n == 0:
            return None, _fixed_type(t, maxlen)
        raw = r.take(n)
        if t == 0x26:
            return int.from_bytes(raw, 'little', signed=n != 1), _fixed_type(t, n)
        if t == 0x68:
            return raw[0] != 0, sqltypes.T_BIT
        if t == 0x6D:
            return struct.unpack('<d' if n == 8 else '<f', raw)[0], sqltypes.T_FLOAT
        if t == 0x6E:
            if n == 8:
                hi, lo = struct.unpack('<iI', raw)
                return ((hi << 32) | lo) / 10000.0, sqltypes.T_MONEY
            return struct.unpack('<i', raw)[0] / 10000.0, sqltypes.T_MONEY
        import datetime as _dt
        if n == 8:
            days, ticks = struct.unpack('<iI', raw)
            d = _dt.datetime(1900, 1, 1) + _dt.timedelta(days=days, seconds=ticks / 300.0)
        else:
            days, mins = struct.unpack('<HH', raw)
            d = _dt.datetime(1900, 1, 1) + _dt.timedelta(days=days, minutes=mins)
        return sqltypes.format_datetime(d), sqltypes.T_DATETIME
    if t in (0x30, 0x34, 0x38, 0x7F, 0x32):         # fixed INT1 INT2 INT4 INT8 BIT
        size = {0x30: 1, 0x34: 2, 0x38: 4, 0x7F: 8, 0x32: 1}[t]
        raw = r.take(size)
        if t == 0x32:
            return raw[0] != 0, sqltypes.T_BIT
        return int.from_bytes(raw, 'little', signed=t != 0x30), sqltypes.T_INT if size <= 4 else sqltypes.T_BIGINT
    if t in (0x6A, 0x6C):                           # DECIMALN NUMERICN
        r.u8()
        p = r.u8()
        s = r.u8()
        n = r.u8()
        typ = sqltypes.SqlType('decimal', precision=p, scale=s)
        if n == 0:
            return None, typ
        raw = r.take(n)
        v = int.from_bytes(raw[1:], 'little') / (10 ** s)
        return (v if raw[0] else -v), typ
    if t in (0xA7, 0xAF, 0xE7, 0xEF, 0xA5, 0xAD):   # (N)VARCHAR (N)CHAR BIGVARBINARY BIGBINARY
        maxlen = r.u16()
        binary = t in (0xA5, 0xAD)
        if not binary:
            r.take(5)   # collation
        unicode = t in (0xE7, 0xEF)
        if binary:
            typ = sqltypes.SqlType('varbinary' if t == 0xA5 else 'binary', sqltypes.MAX if maxlen == 0xFFFF else
                                   max(1, maxlen))
        else:
            typ = sqltypes.SqlType('nvarchar' if unicode else 'varchar', sqltypes.MAX if maxlen == 0xFFFF else
                                   max(1, maxlen // 2 if unicode else maxlen))
        if maxlen == 0xFFFF:
            total = struct.unpack('<Q', r.take(8))[0]
            if total == 0xFFFFFFFFFFFFFFFF:
                return None, typ
            chunks = []
            while True:
                n = r.u32()
                if n == 0:
                    break
                chunks.append(r.take(n))
            raw = b''.join(chunks)
        else:
            n = r.u16()
            if n == 0xFFFF:
                return None, typ
            raw = r.take(n)
        if binary:
            return bytes(raw), typ
        text = raw.decode('utf-16-le', 'replace') if unicode else raw.decode(sqltypes.CODEPAGE, 'replace')
        return text, typ
    if t in (0x63, 0x23):                           # NTEXT TEXT
        r.u32()
        r.take(5)
        n = r.u32()
        if n == 0xFFFFFFFF:
            return None, sqltypes.SqlType('nvarchar' if t == 0x63 else 'varchar', sqltypes.MAX)
        raw = r.take(n)
        uni = t == 0x63
        return (raw.decode('utf-16-le' if uni else sqltypes.CODEPAGE, 'replace'),
                sqltypes.SqlType('nvarchar' if uni else 'varchar', sqltypes.MAX))
    raise TsqlError(8009, 'The incoming RPC parameter type 0x%02X is not supported by the test server.' % t, 16)


def _fixed_type(code, n):
    if code == 0x26:
        return {1: sqltypes.SqlType('tinyint'), 2: sqltypes.SqlType('smallint'), 4: sqltypes.T_INT}.get(n, sqltypes.T_BIGINT)
    return {0x68: sqltypes.T_BIT, 0x6D: sqltypes.T_FLOAT, 0x6E: sqltypes.T_MONEY, 0x6F: sqltypes.T_DATETIME}[code]


# ------------------------------------------------------------ response tokens

def bvarchar(s):
    b = s.encode('utf-16-le')
    return bytes([len(b) // 2]) + b


def usvarchar(s):
    b = s.encode('utf-16-le')
    return struct.pack('<H', len(b) // 2) + b


class TokenWriter:
    def __init__(self, version):
        self.version = version
        self.buf = bytearray()

    @property
    def tds72(self):
        return self.version >= TDS72

    def loginack(self, prog='Microsoft SQL Server', prog_version=(11, 0, 21, 0)):
        body = b'\x01' + struct.pack('>I', self.version) + bvarchar(prog) + bytes(prog_version)
        self.buf += b'\xad' + struct.pack('<H', len(body)) + body

    def envchange(self, kind, new, old=''):
        if kind == 7:
            body = bytes([7, len(new)]) + new + b'\x00'
        else:
            body = bytes([kind]) + bvarchar(new) + bvarchar(old)
        self.buf += b'\xe3' + struct.pack('<H', len(body)) + body

    def message(self, info, number, state, severity, text, server, proc, line):
        text = text[:4000]
        body = struct.pack('<iBB', number, state, severity) + usvarchar(text) + bvarchar(server[:128]) + \
            bvarchar(proc[:128]) + (struct.pack('<i', line) if self.tds72 else struct.pack('<H', line & 0xFFFF))
        self.buf += (b'\xab' if info else b'\xaa') + struct.pack('<H', len(body)) + body

    def done(self, token, status, cmd=0, count=0):
        code = {'done': 0xFD, 'doneproc': 0xFE, 'doneinproc': 0xFF}[token]
        self.buf += bytes([code]) + struct.pack('<HH', status, cmd) + \
            (struct.pack('<Q', count) if self.tds72 else struct.pack('<I', count & 0xFFFFFFFF))

    def return_value(self, ordinal, name, t, value):
        self.buf += b'\xac' + struct.pack('<H', ordinal) + bvarchar(name) + b'\x01' + \
            (struct.pack('<I', 0) if self.tds72 else struct.pack('<H', 0)) + struct.pack('<H', 0x0009) + \
            sqltypes.type_info(t, self.tds72) + sqltypes.encode_value(t, value)

    def return_status(self, value):
        self.buf += b'\x79' + struct.pack('<i', value)

    def colmetadata(self, cols):
        out = bytearray(b'\x81' + struct.pack('<H', len(cols)))
        for name, t in cols:
            if not self.tds72 and t.is_string and t.length == sqltypes.MAX:
                raise TsqlError(40002, '(max) types need TDS 7.2 or later.', 16)
            out += (struct.pack('<I', 0) if self.tds72 else struct.pack('<H', 0))
            out += struct.pack('<H', 0x0009)    # nullable, updatable unknown
            if t.name == 'date' and self.version < TDS73:
                t = sqltypes.SqlType('datetime')
            out += sqltypes.type_info(t, self.tds72)
            out += bvarchar(name[:128])
        self.buf += out

    def row(self, types, values):
        out = bytearray(b'\xd1')
        for t, v in zip(types, values):
            if sqltypes.is_nan(v):
                v = None
            out += sqltypes.encode_value(t, v)
        self.buf += out


def packets(ptype, payload, size, spid=0):
    """Split payload into TDS packets of at most size bytes."""
    chunk = size - 8
    out = []
    n = max(1, (len(payload) + chunk - 1) // chunk)
    for i in range(n):
        part = payload[i * chunk:(i + 1) * chunk]
        status = ST_EOM if i == n - 1 else 0
        out.append(HEADER.pack(ptype, status, len(part) + 8, spid, (i + 1) & 0xFF, 0) + part)
    return out
