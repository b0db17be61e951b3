#!/usr/bin/env python3
"""A SQL Server stand-in for tests: speaks TDS 7.1-7.4 on 127.0.0.1 and runs a T-SQL subset on SQLite.

    python3 server.py --port 0 [--password PW | --password-env VAR] [--database NAME ...] [--state FILE.sqlite]
                      [--init SQLFILE ...] [--init-each SQLFILE ...] [--exit-on-stdin-eof] [--log]

Prints one line "listening 127.0.0.1:PORT" when ready.
"""

import argparse
import itertools
import os
import select
import signal
import socket
import struct
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import sqltypes  # noqa: E402
import tds  # noqa: E402
from engine import Cancelled, Engine, Output, Session  # noqa: E402
from errors import TsqlError  # noqa: E402

MAX_MESSAGE = 64 * 1024 * 1024     # largest request accepted (bytes)
PARTIAL_TIMEOUT = 30.0             # a started packet must complete within this time
IDLE_TIMEOUT = 3600.0              # an idle connection is dropped after this time
MAX_CONNECTIONS = 256              # further clients are turned away until others leave
STREAM_BYTES = 256 * 1024          # a result's rows are sent whenever this much is encoded


ENCODE_ERRORS = (TsqlError, ValueError, TypeError, OverflowError, struct.error, UnicodeError)


class ClientGone(Exception):
    pass


class Connection:
    spids = itertools.count(51)

    def __init__(self, server, sock):
        self.server = server
        self.sock = sock
        self.version = tds.TDS74
        self.packet_size = 4096
        self.session = None
        self.spid = next(Connection.spids)
        self.attention = False   # an attention arrived during the running request
        self.gone = None         # the exception that ended the client while its request ran

    # ------------------------------------------------------------ socket I/O
    def recv_exact(self, n, timeout):
        self.sock.settimeout(timeout)
        chunks = []
        while n:
            try:
                b = self.sock.recv(min(n, 65536))
            except socket.timeout:
                raise ClientGone('timeout')
            except OSError as e:
                raise ClientGone(str(e))
            if not b:
                raise ClientGone('closed')
            chunks.append(b)
            n -= len(b)
        return b''.join(chunks)

    def read_message(self):
        """-> (packet type, payload) of one whole message."""
        data = bytearray()
        ptype = None
        first = True
        while True:
            head = self.recv_exact(8, IDLE_TIMEOUT if first else PARTIAL_TIMEOUT)
            first = False
            t, status, length, _, _, _ = tds.HEADER.unpack(head)
            if length < 8 or length > 65535:
                raise tds.ProtocolError('bad packet length %d' % length)
            body = self.recv_exact(length - 8, PARTIAL_TIMEOUT)
            if ptype is None:
                ptype = t
            elif t != ptype:
                if t == tds.PT_ATTENTION:
                    return t, b''
                raise tds.ProtocolError('packet type changed inside a message')
            data += body
            if len(data) > MAX_MESSAGE:
                raise tds.ProtocolError('message too large')
            if status & tds.ST_EOM:
                return ptype, bytes(data)

    def client_spoke(self, timeout=0, wake=None):
        """True when the client sent something (an attention) or closed, waiting up to timeout seconds
        (None: no end) or until wake becomes readable."""
        try:
            return self.sock in select.select([self.sock] + ([wake] if wake is not None else []), [], [], timeout)[0]
        except (OSError, ValueError):
            return True

    def watch(self, timeout, wake=None):
        """Session.watch: sleeps until timeout, wake, or the client speaking; takes the attention then."""
        if self.client_spoke(timeout, wake):
            self.take_attention()

    def take_attention(self):
        """Reads what the client sent while its request runs: an attention cancels the request; anything
        else, or a closed socket, cancels it too and ends the connection once the request has stopped."""
        if self.attention or self.gone is not None:
            return
        try:
            ptype, _ = self.read_message()
            if ptype == tds.PT_ATTENTION:
                self.attention = True
            else:
                self.gone = tds.ProtocolError('packet type %d while a batch runs' % ptype)
        except (ClientGone, tds.ProtocolError) as e:
            self.gone = e
        self.session.interrupt()

    def send(self, payload, ptype=tds.PT_REPLY):
        for p in tds.packets(ptype, payload, self.packet_size, self.spid):
            self.sock.sendall(p)

    # ------------------------------------------------------------ protocol
    def run(self):
        try:
            self.serve()
        except (ClientGone, tds.ProtocolError, OSError, ConnectionError) as e:
            self.server.log('connection %d closed: %s' % (self.spid, e))
        except Exception as e:   # noqa: BLE001 - one bad connection never takes the server down
            self.server.log('connection %d failed: %r' % (self.spid, e))
        finally:
            if self.session is not None:
                try:
                    self.server.engine.close_session(self.session)
                except Exception:   # noqa: BLE001
                    pass
            try:
                self.sock.close()
            except OSError:
                pass
            self.server.forget(self)

    def serve(self):
        ptype, data = self.read_message()
        if ptype == tds.PT_PRELOGIN:
            tds.parse_prelogin(data)
            self.send(tds.prelogin_reply())
            ptype, data = self.read_message()
        if ptype != tds.PT_LOGIN7:
            raise tds.ProtocolError('expected LOGIN7, got packet type %d' % ptype)
        if not self.login(tds.parse_login7(data)):
            return
        while True:
            ptype, data = self.read_message()
            if ptype == tds.PT_SQL:
                off = tds.parse_all_headers(data, self.version)
                body = data[off:]
                if len(body) % 2:
                    body = body[:-1]
                text = body.decode('utf-16-le', 'replace')
                self.server.log('batch %d: %s' % (self.spid, text[:500].replace('\r\n', ' ')))
                out = Output()
                out.stream = lambda cols, rows, cancel: self.stream_result(out, cols, rows, cancel)
                self.begin_reply()
                if self.run_cancellable(lambda: self.server.engine.run_batch(self.session, text, out)):
                    self.reply(out)
            elif ptype == tds.PT_RPC:
                out = Output()

                def rpc(data=data, out=out):
                    try:
                        try:
                            calls = tds.parse_rpc(data, self.version)
                        except (tds.ProtocolError, struct.error, ValueError, IndexError) as e:
                            raise TsqlError(8009, 'The incoming tabular data stream (TDS) remote procedure call '
                                                  '(RPC) protocol stream is incorrect (%s).' % e, 16)
                        self.server.log('rpc %d: %s' % (self.spid, [(c[0], [p[0] for p in c[1]]) for c in calls]))
                        self.server.engine.run_rpc(self.session, calls, out)
                    except TsqlError as e:
                        out.error(e)
                        out.done('doneproc', 0x2)
                self.begin_reply()
                if self.run_cancellable(rpc):
                    self.reply(out)
            elif ptype == tds.PT_ATTENTION:
                w = tds.TokenWriter(self.version)
                w.done('done', 0x20)
                self.send(bytes(w.buf))
            else:
                raise tds.ProtocolError('unexpected packet type %d' % ptype)

    def run_cancellable(self, work):
        """Runs work in this thread. The socket is read only where the work waits (waitfor, an application
        lock, between the packets of a streamed result: Session.watch) and once the work has ended, so an
        instant request costs no wait at all. True when the work ended by itself; False when an attention
        cancelled it or came before its reply (then DONE with DONE_ATTN has been sent)."""
        self.session.cancel.clear()
        self.attention = False
        self.gone = None
        cancelled = False
        try:
            work()
        except Cancelled:
            cancelled = True
        if self.gone is None and not self.attention and self.client_spoke():
            self.take_attention()
        if self.gone is not None:
            raise self.gone
        if self.attention or cancelled:
            with self.server.engine.lock:
                self.server.engine.cancelled += 1
            self.server.log('cancelled %d' % self.spid)
            # Rows already streamed stay sent; the reply ends after the last whole token with the acknowledgement.
            self.w.done('done', 0x20)
            self.stream(self.w, self.packets, final=True)
            return False
        return True

    def login(self, login):
        engine = self.server.engine
        version = login.version
        if version < tds.TDS71 or (version >> 24) not in (0x71, 0x72, 0x73, 0x74):
            version = tds.TDS74 if (version >> 24) > 0x74 else version
        if (version >> 24) < 0x71:
            w = tds.TokenWriter(tds.TDS71)
            w.message(False, 4002, 1, 16, 'The test server needs TDS 7.1 or later.', engine.server_name, '', 1)
            w.done('done', 0x2)
            self.send(bytes(w.buf))
            return False
        self.version = version
        self.packet_size = max(512, min(32767, login.packet_size or 4096))
        w = tds.TokenWriter(version)
        pw = self.server.password
        if pw is not None and login.password != pw:
            self.server.log('login %d refused for user %s' % (self.spid, login.user))
            w.message(False, 18456, 1, 14, "Login failed for user '%s'." % login.user, engine.server_name, '', 1)
            w.done('done', 0x2)
            self.send(bytes(w.buf))
            return False
        dbname = login.database or self.server.default_db
        with engine.lock:
            ok = engine.catalog.has_database(dbname)
            dbname = engine.catalog.db_display(dbname)
        if not ok:
            w.message(False, 4060, 1, 11, 'Cannot open database "%s" requested by the login. The login failed.' % dbname,
                      engine.server_name, '', 1)
            w.done('done', 0x2)
            self.send(bytes(w.buf))
            return False
        self.session = Session(self.spid, dbname, login.user)
        self.session.watch = self.watch
        self.server.log('login %d: user %s database %s tds %08x' % (self.spid, login.user, dbname, version))
        w.envchange(1, dbname, 'master')
        w.message(True, 5701, 2, 0, "Changed database context to '%s'." % dbname, engine.server_name, '', 1)
        w.envchange(7, sqltypes.COLLATION)
        w.envchange(2, 'us_english')
        w.message(True, 5703, 1, 0, 'Changed language setting to us_english.', engine.server_name, '', 1)
        w.loginack()
        w.envchange(4, str(self.packet_size), str(4096))
        w.done('done', 0)
        self.send(bytes(w.buf))
        return True

    def stream(self, w, packets, final=False):
        """Sends the whole packets of w's buffer (all of it, the last one marked EOM, when final)."""
        chunk = self.packet_size - 8
        buf = w.buf
        keep = 0 if final else (len(buf) % chunk or chunk)
        cut = max(0, len(buf) - keep)
        out = bytearray()
        for i in range(0, cut, chunk):
            part = buf[i:i + chunk]
            packets[0] += 1
            out += tds.HEADER.pack(tds.PT_REPLY, 0, len(part) + 8, self.spid, packets[0] & 0xFF, 0) + part
        if final:
            packets[0] += 1
            out += tds.HEADER.pack(tds.PT_REPLY, tds.ST_EOM, len(buf) - cut + 8, self.spid, packets[0] & 0xFF, 0)
            out += buf[cut:]
            cut = len(buf)
        if out:
            self.sock.sendall(out)
        del buf[:cut]

    def begin_reply(self):
        self.w = tds.TokenWriter(self.version)
        self.packets = [0]
        self.sent = 0   # events of the batch's Output already encoded into self.w

    def encode_failure(self, e):
        server = self.server.engine.server_name
        if isinstance(e, TsqlError):
            self.w.message(False, e.number, 1, 16, e.message, server, '', 1)
        else:
            self.w.message(False, 40003, 1, 16, 'The test server could not encode a value of the result: %s' % e,
                           server, '', 1)

    def result_types(self, cols):
        return [t if not (t.name == 'date' and self.version < tds.TDS73) else sqltypes.SqlType('datetime')
                for _, t in cols]

    def stream_result(self, out, cols, rows, cancel):
        """Sends the events collected so far, then a result whose rows are sent in packets while rows
        yields them; stops with Cancelled when cancel is set. -> number of rows."""
        self.encode(out.events[self.sent:])
        self.sent = len(out.events)
        w = self.w
        part = tds.TokenWriter(self.version)
        failed = None
        n = 0
        try:
            part.colmetadata(cols)
        except ENCODE_ERRORS as e:
            failed = e
        types = self.result_types(cols)
        try:
            for r in rows:
                n += 1
                if failed is not None:
                    continue
                try:
                    part.row(types, r)
                except ENCODE_ERRORS as e:
                    failed = e
                    continue
                if len(part.buf) >= STREAM_BYTES:
                    w.buf += part.buf
                    part.buf = bytearray()
                    self.stream_unlocked(w)
                    if self.client_spoke():
                        self.take_attention()
                    if cancel.is_set():
                        raise Cancelled()
        finally:
            # The rows before an error (or a cancel) are sent, as a server sends what it produced.
            if failed is None:
                w.buf += part.buf
        if failed is not None:
            self.encode_failure(failed)
        return n

    def stream_unlocked(self, w):
        """Sends w's whole packets with the engine's lock released, so that other connections (a second
        login, for instance) are served while a slow client reads a long result."""
        with self.server.engine.unlocked():
            self.stream(w, self.packets)

    def encode(self, events):
        w = self.w
        server = self.server.engine.server_name
        for ev in events:
            kind = ev[0]
            if kind == 'result':
                _, cols, rows = ev
                part = tds.TokenWriter(self.version)
                try:
                    part.colmetadata(cols)
                    types = self.result_types(cols)
                    for r in rows:
                        part.row(types, r)
                        # Large results go out while they are encoded, as a server streams rows.
                        if len(part.buf) >= STREAM_BYTES:
                            w.buf += part.buf
                            part.buf = bytearray()
                            self.stream(w, self.packets)
                except ENCODE_ERRORS as e:
                    self.encode_failure(e)
                    continue
                w.buf += part.buf
            elif kind == 'done':
                _, token, status, cmd, count = ev
                w.done(token, status, cmd, count)
            elif kind == 'error':
                e = ev[1]
                w.message(False, e.number, e.state, e.severity, e.message, server, e.proc or '', e.line or 1)
            elif kind == 'info':
                _, text, line, proc, number, state, severity = ev
                w.message(True, number, state, severity, text, server, proc or '', line or 1)
            elif kind == 'retval':
                w.return_value(ev[1], ev[2], ev[3], ev[4])
            elif kind == 'return':
                w.return_status(ev[1])
            elif kind == 'envdb':
                w.envchange(1, ev[1], '')

    def reply(self, out):
        self.encode(out.events[self.sent:])
        self.stream(self.w, self.packets, final=True)


class Server:
    def __init__(self, args):
        self.password = args.password
        self.verbose = args.log
        self.databases = args.database or []
        self.default_db = self.databases[0] if self.databases else 'master'
        self.engine = Engine(args.state, self.databases, server_name=args.server_name)
        self.connections = set()
        self.conn_lock = threading.Lock()
        self.stopping = threading.Event()
        self.stop_r, self.stop_w = os.pipe()   # written by stop(): wakes the accept loop at once
        self.listener = None

    def log(self, text):
        if self.verbose:
            sys.stderr.write(text + '\n')
            sys.stderr.flush()

    def forget(self, conn):
        with self.conn_lock:
            self.connections.discard(conn)

    def run_init(self, paths, database):
        session = Session(0, database)
        for path in paths:
            with open(path, 'rb') as f:
                raw = f.read()
            text = _decode_script(raw)
            for batch in split_batches(text):
                out = Output()
                self.engine.run_batch(session, batch, out)
                errors = [ev[1] for ev in out.events if ev[0] == 'error']
                if errors:
                    e = errors[0]
                    raise SystemExit('init script %s: error %d at line %s: %s' % (path, e.number, e.line, e.message))
        self.engine.close_session(session)

    def serve(self, port):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(('127.0.0.1', port))
        self.listener.listen(64)
        sys.stdout.write('listening 127.0.0.1:%d\n' % self.listener.getsockname()[1])
        sys.stdout.flush()
        while not self.stopping.is_set():
            try:
                r, _, _ = select.select([self.listener, self.stop_r], [], [])
            except (OSError, ValueError):
                break
            if self.listener not in r:
                continue
            try:
                sock, _ = self.listener.accept()
            except OSError:
                continue
            with self.conn_lock:
                crowded = len(self.connections) >= MAX_CONNECTIONS
            if crowded:
                sock.close()
                continue
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            conn = Connection(self, sock)
            with self.conn_lock:
                self.connections.add(conn)
            threading.Thread(target=conn.run, daemon=True).start()
        try:
            self.listener.close()
        except OSError:
            pass

    def stop(self, *_):
        self.stopping.set()
        try:
            os.write(self.stop_w, b'x')
        except OSError:
            pass


def _decode_script(raw):
    if raw.startswith(b'\xef\xbb\xbf'):
        return raw[3:].decode('utf-8')
    if raw.startswith(b'\xff\xfe'):
        return raw[2:].decode('utf-16-le')
    try:
        return raw.decode('utf-8')
    except UnicodeDecodeError:
        return raw.decode('gb18030', 'replace')


def split_batches(text):
    """Cut a script at lines that begin with GO, as the program's script runner does."""
    batches = []
    cur = []
    for line in text.replace('\r\n', '\n').split('\n'):
        if line[:2].upper() == 'GO':
            if cur:
                batches.append('\r\n'.join(cur))
            cur = []
        else:
            cur.append(line)
    if any(s.strip() for s in cur):
        batches.append('\r\n'.join(cur))
    return [b for b in batches if b.strip()]


def take_env_secret(name):
    """The value of an environment variable, removed and overwritten in the process's environment
    block so that /proc/PID/environ no longer shows it. None when the variable is not set."""
    value = os.environ.get(name)
    if value is None:
        return None
    try:
        import ctypes
        libc = ctypes.CDLL(None)
        libc.getenv.restype = ctypes.c_void_p
        at = libc.getenv(name.encode())
        if at:
            ctypes.memset(at, 0, len(ctypes.string_at(at)))
    except (OSError, AttributeError):
        pass
    del os.environ[name]
    return value


def main(argv=None):
    ap = argparse.ArgumentParser(description='SQL Server stand-in for tests (TDS over SQLite)')
    ap.add_argument('--port', type=int, default=0)
    ap.add_argument('--password', default=None)
    ap.add_argument('--password-env', default=None, metavar='VAR',
                    help='take the password from this environment variable (kept off the command line)')
    ap.add_argument('--database', action='append')
    ap.add_argument('--server-name', default='VIREOTEST', metavar='NAME',
                    help='the name @@SERVERNAME and the error and message tokens give')
    ap.add_argument('--state', default=None, help='SQLite file that keeps the databases between runs')
    ap.add_argument('--init', action='append', default=[], help='T-SQL script run against the first database')
    ap.add_argument('--init-each', action='append', default=[], help='T-SQL script run against every database')
    ap.add_argument('--exit-on-stdin-eof', action='store_true')
    ap.add_argument('--log', action='store_true', help='log connections and batches to stderr')
    args = ap.parse_args(argv)
    if args.password_env:
        args.password = take_env_secret(args.password_env)
    server = Server(args)
    if args.init:
        server.run_init(args.init, server.default_db)
    if args.init_each:
        for database in server.databases:
            server.run_init(args.init_each, database)
    signal.signal(signal.SIGTERM, server.stop)
    signal.signal(signal.SIGINT, server.stop)
    if args.exit_on_stdin_eof:
        def watch():
            try:
                while os.read(0, 4096):
                    pass
            except OSError:
                pass
            server.stop()
        threading.Thread(target=watch, daemon=True).start()
    server.serve(args.port)
    return 0


if __name__ == '__main__':
    sys.exit(main())
