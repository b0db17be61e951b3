"""Test helpers: start the stand-in on a free port and talk to it with tsql, ODBC or raw TDS."""

import os
import select
import socket
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, 'server.py')
PASSWORD = 'Pw-7x!q'
DATABASE = 'QZdata_001_2024'
START_TIMEOUT = 15.0


class RunningServer:
    def __init__(self, *extra, password=PASSWORD, databases=(DATABASE,)):
        args = [sys.executable, SERVER, '--port', '0', '--exit-on-stdin-eof']
        env = dict(os.environ)
        if password is not None:  # through the environment, never on the command line
            args += ['--password-env', 'STANDIN_PASSWORD']
            env['STANDIN_PASSWORD'] = password
        for d in databases:
            args += ['--database', d]
        args += list(extra)
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env=env)
        deadline = time.monotonic() + START_TIMEOUT
        line = b''
        while time.monotonic() < deadline:
            r, _, _ = select.select([self.proc.stdout], [], [], 0.2)
            if r:
                line = self.proc.stdout.readline()
                break
            if self.proc.poll() is not None:
                break
        if not line.startswith(b'listening 127.0.0.1:'):
            self.stop()
            raise RuntimeError('server did not start: %r %r' % (line, self.proc.stderr.read()))
        self.port = int(line.split(b':')[1])
        self.password = password

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        for f in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            if f:
                f.close()

    def odbc(self, database=DATABASE, password=None, tds='7.4'):
        import pyodbc
        cs = ('Driver=FreeTDS;Server=127.0.0.1;Port=%d;Database=%s;UID=SA;PWD=%s;TDS_Version=%s;ClientCharset=UTF-8'
              % (self.port, database, self.password if password is None else password, tds))
        return pyodbc.connect(cs, autocommit=True, timeout=10)

    def tsql(self, script, database=DATABASE, password=None, timeout=30):
        """Run a script (batches separated by 'go' lines) through FreeTDS tsql -> (stdout, stderr)."""
        env = dict(os.environ, TDSVER='7.4', LANG='C.UTF-8', LC_ALL='C.UTF-8')
        p = subprocess.run(['tsql', '-H', '127.0.0.1', '-p', str(self.port), '-U', 'SA',
                            '-P', self.password if password is None else password, '-D', database, '-o', 'q'],
                           input=(script + '\ngo\nexit\n').encode('utf-8'), capture_output=True, timeout=timeout, env=env)
        return p.stdout.decode('utf-8', 'replace'), p.stderr.decode('utf-8', 'replace')


# ------------------------------------------------------------ a minimal raw TDS client

def packet(ptype, payload, status=1):
    return struct.pack('>BBHHBB', ptype, status, len(payload) + 8, 0, 1, 0) + payload


def login7(user='SA', password=PASSWORD, database=DATABASE, version=0x74000004):
    """A LOGIN7 record as a client builds it (password scrambled: nibbles swapped, then XOR 0xA5)."""
    fields = ['host', user, password, 'raw', 'srv', None, 'lib', '', database]
    fixed = 94
    data = b''
    pairs = b''
    for i, text in enumerate(fields):
        if text is None:                        # extension slot, unused
            pairs += struct.pack('<HH', 0, 0)
            continue
        raw = text.encode('utf-16-le')
        if i == 2:
            raw = bytes((((b << 4) & 0xF0) | (b >> 4)) ^ 0xA5 for b in raw)
        pairs += struct.pack('<HH', fixed + len(data), len(text))
        data += raw
    head = struct.pack('>I', version) + struct.pack('<IIII', 4096, 7, 1, 0)
    head += bytes([0xE0, 0x03, 0, 0]) + struct.pack('<iI', 0, 0x0409)
    tail = b'\x00' * 6 + struct.pack('<HHHHHHI', 0, 0, 0, 0, 0, 0, 0)
    rec = head + pairs + tail
    assert len(rec) + 4 == fixed
    return struct.pack('<I', fixed + len(data)) + rec + data


def batch(text):
    headers = struct.pack('<IIHQI', 22, 18, 2, 0, 1)
    return headers + text.encode('utf-16-le')


class RawClient:
    def __init__(self, port, timeout=10):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=timeout)

    def send(self, ptype, payload, status=1, size=4096):
        """Send one message, cut into packets of at most size bytes; status=0 leaves it unfinished."""
        chunk = size - 8
        parts = [payload[i:i + chunk] for i in range(0, len(payload), chunk)] or [b'']
        for i, part in enumerate(parts):
            last = i == len(parts) - 1
            self.sock.sendall(packet(ptype, part, status if last else 0))

    def read_message(self):
        """One whole server reply (payload of all packets up to EOM)."""
        data = b''
        for _ in range(100000):
            head = self.recv(8)
            length = struct.unpack('>H', head[2:4])[0]
            data += self.recv(length - 8)
            if head[1] & 1:
                return data
        raise AssertionError('reply never ended')

    def recv(self, n):
        buf = b''
        while len(buf) < n:
            b = self.sock.recv(n - len(buf))
            if not b:
                raise ConnectionError('server closed the connection')
            buf += b
        return buf

    def login(self, **kw):
        self.send(18, b'\x00\x00\x06\x00\x06\xff\x0b\x00\x00\x00\x00\x00')
        self.read_message()
        self.send(16, login7(**kw))
        return self.read_message()

    def close(self):
        self.sock.close()


def done_tokens(reply):
    """Status words of DONE tokens found at the end of a reply (the last 13 bytes form the final DONE)."""
    return reply[-13] == 0xFD, struct.unpack('<H', reply[-12:-10])[0]
