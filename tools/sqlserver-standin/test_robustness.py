"""Bad clients never take the stand-in down: garbage, truncation, vanishing clients, huge batches, cancels."""

import os
import signal
import socket
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import support  # noqa: E402


class Robustness(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = support.RunningServer()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def assert_serving(self):
        c = support.RawClient(self.server.port)
        try:
            c.login()
            c.send(1, support.batch("select N'ok'"))
            reply = c.read_message()
            self.assertIn('ok'.encode('utf-16-le'), reply)
            self.assertEqual(support.done_tokens(reply), (True, 0x10))
        finally:
            c.close()
        self.assertIsNone(self.server.proc.poll())

    def test_garbage_and_truncated_packets(self):
        attempts = [
            b'\x00' * 3,                                         # shorter than a header
            b'GET / HTTP/1.1\r\nHost: x\r\n\r\n',                # not TDS at all
            struct.pack('>BBHHBB', 18, 1, 4, 0, 1, 0),           # length below the header size
            struct.pack('>BBHHBB', 18, 1, 400, 0, 1, 0) + b'x',  # promises more than it sends
            support.packet(16, b'\x01\x02'),                     # LOGIN7 that is too short
            support.packet(1, b'select 1'),                      # batch before login
            os.urandom(2000),
        ]
        for data in attempts:
            s = socket.create_connection(('127.0.0.1', self.server.port), timeout=5)
            try:
                s.sendall(data)
                s.shutdown(socket.SHUT_WR)
                s.settimeout(5)
                try:
                    while s.recv(4096):
                        pass
                except (socket.timeout, ConnectionResetError):
                    pass
            finally:
                s.close()
        self.assert_serving()

    def test_garbage_after_login_and_broken_rpc(self):
        c = support.RawClient(self.server.port)
        try:
            c.login()
            c.send(3, b'\x16\x00\x00\x00' + os.urandom(64))      # RPC with nonsense after the headers
            reply = c.read_message()
            self.assertEqual(reply[0], 0xAA, 'a broken RPC is answered with an ERROR token')
            c.send(1, b'\x00' * 22 + 'sélect ⊕'.encode('utf-16-le'))
            self.assertEqual(c.read_message()[0], 0xAA)
        finally:
            c.close()
        self.assert_serving()

    def test_client_vanishes_mid_batch(self):
        c = support.RawClient(self.server.port)
        c.login()
        payload = support.batch('select 1 ' + ' ' * 10000)
        c.send(1, payload[:3000], status=0)                     # first packet of several, no EOM
        c.close()
        c = support.RawClient(self.server.port)
        c.login()
        c.send(1, support.batch('select replicate(N\'x\', 4000) as big' + ' union all select N\'y\'' * 2000))
        c.close()                                               # gone before reading a large reply
        self.assert_serving()

    def test_ten_megabyte_batch(self):
        c = support.RawClient(self.server.port, timeout=60)
        try:
            c.login()
            text = "select len('" + 'x' * (5 * 1024 * 1024) + "') as n"
            payload = support.batch(text)
            self.assertGreater(len(payload), 10 * 1024 * 1024)
            c.send(1, payload, size=32768)
            reply = c.read_message()
            self.assertIn(struct.pack('<BI', 4, 5 * 1024 * 1024), reply)
        finally:
            c.close()
        self.assert_serving()

    def test_attention_is_acknowledged(self):
        c = support.RawClient(self.server.port)
        try:
            c.login()
            c.send(1, support.batch('select 1'))
            c.read_message()
            c.send(6, b'')
            reply = c.read_message()
            self.assertEqual(reply[0], 0xFD)
            self.assertTrue(struct.unpack('<H', reply[1:3])[0] & 0x20, 'DONE_ATTN')
        finally:
            c.close()

    def test_deep_nesting_is_an_error(self):
        c = support.RawClient(self.server.port)
        try:
            c.login()
            c.send(1, support.batch('select ' + '(' * 5000 + '1' + ')' * 5000))
            reply = c.read_message()
            self.assertEqual(reply[0], 0xAA)
        finally:
            c.close()
        self.assert_serving()


class Lifecycle(unittest.TestCase):
    def test_exits_on_sigterm_and_on_stdin_eof(self):
        server = support.RunningServer()
        server.proc.send_signal(signal.SIGTERM)
        self.assertEqual(server.proc.wait(10), 0)
        server.stop()
        server = support.RunningServer()
        server.proc.stdin.close()
        self.assertEqual(server.proc.wait(10), 0)
        server.stop()

    def test_init_scripts_preload_the_first_or_every_database(self):
        import tempfile
        with tempfile.NamedTemporaryFile('wb', suffix='.sql', delete=False) as f:
            f.write('create table 预置 (a nvarchar(4))\r\ngo\r\ninsert 预置 values (N\'检查\')\r\n'.encode('gb18030'))
        dbs = (support.DATABASE, 'QZdata_002_2024')
        try:
            for option, loaded in (('--init', (True, False)), ('--init-each', (True, True))):
                server = support.RunningServer(option, f.name, databases=dbs)
                try:
                    for db, expected in zip(dbs, loaded):
                        out, err = server.tsql('select a from 预置', database=db)
                        if expected:
                            self.assertEqual(out.split(), ['a', '检查'], (option, db, err))
                        else:
                            self.assertIn("Invalid object name", err, (option, db, out))
                finally:
                    server.stop()
        finally:
            os.unlink(f.name)

    def test_bad_init_script_stops_start_up(self):
        import tempfile
        with tempfile.NamedTemporaryFile('w', suffix='.sql', delete=False) as f:
            f.write('select * from missing_table\n')
        try:
            t0 = time.monotonic()
            p = subprocess.run([sys.executable, support.SERVER, '--port', '0', '--init', f.name],
                               capture_output=True, timeout=30)
            self.assertNotEqual(p.returncode, 0)
            self.assertIn(b"Invalid object name 'missing_table'", p.stderr)
            self.assertNotIn(b'listening', p.stdout)
            self.assertLess(time.monotonic() - t0, 30)
        finally:
            os.unlink(f.name)


if __name__ == '__main__':
    unittest.main()
