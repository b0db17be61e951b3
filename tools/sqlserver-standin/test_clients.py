"""The stand-in as FreeTDS tsql and the FreeTDS ODBC driver see it: both must read the same answers."""

import hashlib
import os
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import support  # noqa: E402

try:
    import pyodbc
except ImportError:     # pragma: no cover - Debian's python3-pyodbc is listed in scripts/packages.txt
    pyodbc = None

SETUP = ("create table 体检 (id int, 名称 nvarchar(2), note varchar(20), amount money, day datetime)\r\n"
         "insert 体检 values (1, N'检查', '检查', 12.5, '2024-03-01 08:30:00'), (2, NULL, NULL, NULL, NULL)")


@unittest.skipIf(pyodbc is None, 'python3-pyodbc is not installed')
class BothClients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = support.RunningServer()
        with cls.server.odbc() as c:
            c.execute(SETUP)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def tsql_rows(self, sql):
        out, err = self.server.tsql(sql)
        lines = [ln for ln in out.splitlines() if ln.strip() and not ln.startswith('(')]
        return [ln.split('\t') for ln in lines], err

    def test_same_rows_nulls_and_chinese(self):
        sql = 'select id, 名称, note, amount, day from 体检 order by id'
        rows, err = self.tsql_rows(sql)
        self.assertEqual(err.strip(), '')
        self.assertEqual(rows[0], ['id', '名称', 'note', 'amount', 'day'])
        self.assertEqual(rows[1][:4], ['1', '检查', '检查', '12.5000'])
        self.assertEqual(rows[2], ['2', 'NULL', 'NULL', 'NULL', 'NULL'])
        with self.server.odbc() as c:
            cur = c.execute(sql)
            self.assertEqual([d[0] for d in cur.description], ['id', '名称', 'note', 'amount', 'day'])
            got = [tuple(r) for r in cur.fetchall()]
        self.assertEqual(got[0][:3], (1, '检查', '检查'))
        self.assertEqual(float(got[0][3]), 12.5)
        self.assertEqual(str(got[0][4]), '2024-03-01 08:30:00')
        self.assertEqual(got[1], (2, None, None, None, None))

    def test_program_queries_through_odbc(self):
        with self.server.odbc() as c:
            c.execute("if exists (select * from tempdb..sysobjects where name='VUZ') drop table tempdb..VUZ \r\n"
                      "select * into tempdb..VUZ from 体检 \r\n")
            c.execute("if exists (select * from tempdb..sysobjects where name='A0101') drop table tempdb..A0101")
            c.execute("if exists (select * from tempdb..sysobjects where name='VUZ') "
                      "select * into tempdb..A0101 from tempdb..VUZ")
            probe = c.execute("if exists (select * from tempdb..sysobjects where name='A0101') select b.name from "
                              "tempdb..sysobjects as a left join tempdb..syscolumns as b on a.id=b.id where "
                              "b.name='Error' and a.name='A0101' else select '' as name").fetchall()
            self.assertEqual(probe, [])
            n = c.execute("if exists (select * from tempdb..sysobjects where name='A0101') select count(*) as number "
                          "from tempdb..A0101 else select 0 as number").fetchone()
            self.assertEqual(n.number, 2)
            cur = c.execute("if exists (select * from tempdb..sysobjects where name='A0101') select * from "
                            "tempdb..A0101 else select '' as 空")
            self.assertEqual(cur.description[1][0], '名称')
            self.assertEqual(cur.fetchall()[0][1], '检查')
            empty = c.execute("if exists (select * from tempdb..sysobjects where name='ZZ9') select * from "
                              "tempdb..ZZ9 else select '' as 空")
            self.assertEqual((empty.description[0][0], empty.fetchall()[0][0]), ('空', ''))

    def test_column_types_round_trip(self):
        with self.server.odbc() as c:
            c.execute("create table #ty (a tinyint, b smallint, c bigint, d bit, e float, f real, g decimal(12,4), "
                      "h numeric(5,0), i smalldatetime, j datetime, k varchar(max), l nvarchar(max), m text, "
                      "o char(4), p nchar(3), q smallmoney, r date)"
                      "insert #ty values (255, -32768, 9223372036854775807, 1, 1.5e300, 2.5, 12345678.1234, -99999, "
                      "'2024-01-02 03:04:29', '2024-01-02 03:04:05.997', replicate('检', 5000), "
                      "replicate(N'查', 5000), 'txt', 'ab', N'中', 1.25, '2024-05-06')"
                      "insert #ty (a) values (NULL)")
            cur = c.execute('select * from #ty')
            row, nulls = [tuple(r) for r in cur.fetchall()]
            self.assertEqual(row[:6], (255, -32768, 9223372036854775807, True, 1.5e300, 2.5))
            self.assertEqual((str(row[6]), str(row[7])), ('12345678.1234', '-99999'))
            self.assertEqual((str(row[8]), str(row[9])), ('2024-01-02 03:04:00', '2024-01-02 03:04:05.997000'))
            self.assertEqual((row[10], row[11]), ('检' * 5000, '查' * 5000))
            self.assertEqual(row[12:15], ('txt', 'ab  ', '中  '))
            self.assertEqual((str(row[15]), str(row[16])), ('1.2500', '2024-05-06'))
            self.assertEqual(nulls, (None,) * 17)

    def test_parameters_procedures_and_use(self):
        with self.server.odbc() as c:
            c.execute("create procedure K01 @y int, @m varchar(2) = '1' as select @y * 10 as y, @m as m")
            self.assertEqual(tuple(c.execute("Exec K01 '2024','3'").fetchone()), (20240, '3'))
            self.assertEqual(tuple(c.execute('{call K01 (?)}', 2024).fetchone()), (20240, '1'))
            self.assertEqual(tuple(c.execute('select ? + 1, ?', 41, '检查').fetchone()), (42, '检查'))
            self.assertEqual(c.execute('use master select db_name()').fetchone()[0], 'master')
            self.assertEqual(c.execute('select db_name()').fetchone()[0], 'master')

    def test_errors_reach_both_clients(self):
        _, err = self.tsql_rows('select * from nosuch')
        self.assertIn('Msg 208', err)
        self.assertIn("Invalid object name 'nosuch'.", err)
        with self.server.odbc() as c:
            with self.assertRaises(pyodbc.Error) as cm:
                c.execute('select * from nosuch')
            self.assertIn('(208)', str(cm.exception))
            self.assertIn("Invalid object name 'nosuch'.", str(cm.exception))
            with self.assertRaises(pyodbc.Error) as cm:
                c.execute("raiserror(N'金额不平 %d', 16, 1, 42)")
            self.assertIn('(50000)', str(cm.exception))
            self.assertIn('金额不平 42', str(cm.exception))

    def test_error_after_first_result_set(self):
        rows, err = self.tsql_rows("select 1 as a\nselect 1/0\nselect 2 as b")
        self.assertIn('Msg 8134', err)
        self.assertEqual(rows, [['a'], ['1'], ['b'], ['2']])
        with self.server.odbc() as c:
            cur = c.execute("select 1 as a\nselect 1/0\nselect 2 as b")
            self.assertEqual(cur.fetchall()[0][0], 1)
            with self.assertRaises(pyodbc.Error) as cm:
                cur.nextset()
            self.assertIn('Divide by zero error encountered.', str(cm.exception))

    def test_print_messages(self):
        _, err = self.tsql_rows("print N'开始'\nprint 'end'")
        self.assertEqual(err.split(), ['开始', 'end'])
        with self.server.odbc() as c:
            cur = c.cursor()
            cur.execute("print N'开始'")
            self.assertIn('开始', cur.messages[0][1])

    def test_multi_packet_batch(self):
        # far beyond one 4096-byte packet: 3000 values in one insert
        values = ', '.join("(%d, N'行%d')" % (i, i) for i in range(3000))
        sql = 'create table #big (i int, s nvarchar(10)) insert #big values %s select count(*), max(s) from #big' % values
        with self.server.odbc() as c:
            cur = c.execute(sql)
            while cur.description is None:
                cur.nextset()
            self.assertEqual(tuple(cur.fetchone()), (3000, '行999'))
        rows, err = self.tsql_rows(sql)
        self.assertEqual(rows[-1], ['3000', '行999'])

    def test_concurrent_clients_share_state(self):
        with self.server.odbc() as c:
            c.execute('create table shared_log (who int, n int)')
        failures = []

        def worker(k):
            try:
                with self.server.odbc() as c:
                    for n in range(25):
                        c.execute('insert shared_log values (?, ?)', k, n)
            except Exception as e:   # noqa: BLE001 - reported below
                failures.append(e)
        threads = [threading.Thread(target=worker, args=(k,)) for k in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        self.assertEqual(failures, [])
        rows, _ = self.tsql_rows('select who, count(*) from shared_log group by who order by who')
        self.assertEqual(rows[1:], [['0', '25'], ['1', '25']])

    def test_application_lock_is_released_when_its_holder_disconnects(self):
        lock = ("declare @r int exec @r = tempdb..sp_getapplock @Resource = N'vireo', @LockMode = 'Exclusive', "
                "@LockOwner = 'Session', @LockTimeout = %d select @r")
        holder, other = self.server.odbc(), self.server.odbc()
        try:
            self.assertEqual(holder.execute(lock % 0).fetchone()[0], 0)
            self.assertEqual(other.execute(lock % 0).fetchone()[0], -1)
            # A third client is served while the second waits for the lock.
            waiting = threading.Thread(target=lambda: results.append(other.execute(lock % 10000).fetchone()[0]))
            results = []
            waiting.start()
            with self.server.odbc() as third:
                self.assertEqual(third.execute('select 1').fetchone()[0], 1)
            time.sleep(0.3)
            self.assertEqual(results, [])  # still held
            holder.close()
            waiting.join(15)
            # 1 when the request was already waiting at the disconnect, 0 when a slow machine sent it
            # only afterwards; without the release it would time out with -1.
            self.assertIn(results, ([1], [0]))
        finally:
            other.close()

    def test_application_lock_wait_ends_on_release_and_on_attention(self):
        lock = ("declare @r int exec @r = tempdb..sp_getapplock @Resource = N'vireo-2', @LockMode = 'Exclusive', "
                "@LockOwner = 'Session', @LockTimeout = %d select @r")
        release = "declare @r int exec @r = tempdb..sp_releaseapplock N'vireo-2', 'Session' select @r"
        holder, other = self.server.odbc(), self.server.odbc()
        try:
            self.assertEqual(holder.execute(lock % 0).fetchone()[0], 0)
            # An attention ends the wait: the request is cancelled and leaves the lock's queue.
            cur = other.cursor()
            threading.Timer(0.3, cur.cancel).start()
            with self.assertRaises(pyodbc.Error) as cm:
                cur.execute(lock % -1)
            self.assertIn('HY008', str(cm.exception))
            self.assertEqual(other.execute('select 5').fetchone()[0], 5)
            # The same through a statement with a parameter, which the driver sends as an RPC.
            cur = other.cursor()
            threading.Timer(0.3, cur.cancel).start()
            with self.assertRaises(pyodbc.Error) as cm:
                cur.execute(lock.replace('%d', '?'), 60000)
            self.assertIn('HY008', str(cm.exception))
            self.assertEqual(other.execute('select 6').fetchone()[0], 6)
            # A waiter gets the lock when the holder releases it; the holder asking again waits its turn.
            results = []
            waiting = threading.Thread(target=lambda: results.append(other.execute(lock % 20000).fetchone()[0]))
            waiting.start()
            time.sleep(1.0)   # the request is queued by then
            self.assertEqual(results, [])
            self.assertEqual(tuple(holder.execute(release.replace('select @r', '') + lock.replace('declare @r int', '')
                                                  % 0).fetchone()), (-1,))
            waiting.join(15)
            self.assertEqual(results, [1])
        finally:
            holder.close()
            other.close()

    def test_hashes_and_binary_values(self):
        # varbinary results arrive as bytes (BIGVARBINARY, PLP for (max)), NULLs too; tsql prints them in hex.
        sql = ("select hashbytes('SHA2_256', N'体检') as h, hashbytes('MD5', '体检') as m, "
               "convert(varchar(64), hashbytes('SHA2_256', N'abc'), 2) as x, cast(NULL as varbinary(8)) as n, "
               "cast(0x0102 as varbinary(max)) as b, cast(0x01 as binary(3)) as f")
        with self.server.odbc() as c:
            cur = c.execute(sql)
            row = tuple(cur.fetchall()[0])
            self.assertEqual([d[3] for d in cur.description][:1], [8000])
            # A binary parameter (an RPC with BIGVARBINARY) is hashed as it is.
            self.assertEqual(c.execute("select hashbytes('SHA1', ?)", b'\x00\xffab').fetchone()[0],
                             hashlib.sha1(b'\x00\xffab').digest())
            total = c.execute("select checksum_agg(convert(int, substring(hashbytes('SHA1', note), 1, 4))) "
                              "from 体检").fetchone()[0]
        self.assertEqual(row, (hashlib.sha256('体检'.encode('utf-16-le')).digest(), hashlib.md5('体检'.encode('gbk')).digest(),
                               hashlib.sha256('abc'.encode('utf-16-le')).hexdigest().upper(), None, b'\x01\x02',
                               b'\x01\x00\x00'))
        self.assertEqual(total, int.from_bytes(hashlib.sha1('检查'.encode('gbk')).digest()[:4], 'big', signed=True))
        rows, err = self.tsql_rows("select hashbytes('MD5', 'abc') as h, cast(0x0102 as varbinary(max)) as b")
        self.assertEqual(err.strip(), '')
        self.assertEqual(rows, [['h', 'b'], [hashlib.md5(b'abc').hexdigest(), '0102']])

    def test_waitfor_delay_and_attention(self):
        with self.server.odbc() as c:
            start = time.monotonic()
            c.execute("waitfor delay '00:00:00.300'")
            self.assertGreaterEqual(time.monotonic() - start, 0.3)
            before = c.execute('select @@standin_cancelled').fetchone()[0]
            cur = c.cursor()
            threading.Timer(0.3, cur.cancel).start()
            start = time.monotonic()
            with self.assertRaises(pyodbc.Error) as cm:
                cur.execute("waitfor delay '00:00:05'")
            self.assertLess(time.monotonic() - start, 1.5)
            self.assertIn('HY008', str(cm.exception))
            # The server counts the cancelled statement, and the same connection goes on.
            self.assertEqual(tuple(c.execute("select @@standin_cancelled, N'之后'").fetchone()), (before + 1, '之后'))

    def test_large_result_streams(self):
        # 200,000 rows: the rows reach the client while the batch still runs, an error at a late row
        # follows the rows before it, and a cancel during the stream leaves the connection usable.
        with self.server.odbc() as c:
            c.execute("create table #d (d int); insert #d values (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)\r\n"
                      "select a.d + 10*b.d + 100*e.d + 1000*f.d + 10000*g.d + 100000*h.d as n, "
                      "N'流式' + cast(a.d as varchar(1)) as s into 流式表 from #d a, #d b, #d e, #d f, #d g, #d h "
                      "where h.d < 2")
            cur = c.execute('select n, s from 流式表')
            self.assertEqual(sum(1 for _ in cur), 200000)
            self.assertEqual(c.execute('select @@rowcount').fetchone()[0], 200000)
            cur = c.execute('select 1 / (n - 150000) from 流式表')
            got = 0
            with self.assertRaises(pyodbc.Error) as cm:
                for _ in cur:
                    got += 1
            self.assertIn('Divide by zero error encountered.', str(cm.exception))
            self.assertGreater(got, 1000)
            # A client that reads slowly holds no other connection up.
            cur = c.execute("select n, replicate(N'宽', 400) + s from 流式表 order by n desc")
            self.assertEqual(cur.fetchone()[0], 199999)
            self.assertEqual(self.server.tsql('select 7 as x', timeout=10)[0].split(), ['x', '7'])
            cur.cancel()
            before = c.execute('select @@standin_cancelled').fetchone()[0]
            cur = c.cursor()
            start = time.monotonic()
            cur.execute("select n, s from 流式表\r\nwaitfor delay '00:00:05'")
            self.assertEqual(cur.fetchone()[1][:2], '流式')
            self.assertLess(time.monotonic() - start, 3)
            cur.cancel()
            self.assertEqual(tuple(c.execute("select @@standin_cancelled, N'之后'").fetchone()), (before + 1, '之后'))

    def test_login_failures(self):
        with self.assertRaises(pyodbc.Error) as cm:
            self.server.odbc(password='wrong')
        self.assertIn("Login failed for user 'SA'.", str(cm.exception))
        with self.assertRaises(pyodbc.Error) as cm:
            self.server.odbc(database='QZdata_999_2024')
        self.assertIn('Cannot open database "QZdata_999_2024" requested by the login. The login failed. (4060)',
                      str(cm.exception))
        _, err = self.server.tsql('select 1', password='wrong')
        self.assertIn('18456', err)

    def test_server_name(self):
        # VIREOTEST unless --server-name says otherwise, in @@SERVERNAME and in the error tokens.
        named = support.RunningServer('--server-name', 'ERPSQL01')
        try:
            for server, name in ((self.server, 'VIREOTEST'), (named, 'ERPSQL01')):
                with server.odbc() as c:
                    self.assertEqual(c.execute('select @@servername').fetchone()[0], name)
                _, err = server.tsql('select * from nosuch')
                self.assertIn('Msg 208 (severity 16, state 1) from %s ' % name, err)
        finally:
            named.stop()


class TdsVersions(unittest.TestCase):
    """Older protocol versions the FreeTDS driver can be told to use."""

    @unittest.skipIf(pyodbc is None, 'python3-pyodbc is not installed')
    def test_7_1_to_7_3(self):
        server = support.RunningServer()
        try:
            for v in ('7.1', '7.2', '7.3'):
                with self.subTest(tds=v), server.odbc(tds=v) as c:
                    row = c.execute("select 7 as a, N'检查' as b, cast(null as int) as c, 1.25 as d").fetchone()
                    self.assertEqual((row.a, row.b, row.c, float(row.d)), (7, '检查', None, 1.25))
        finally:
            server.stop()


if __name__ == '__main__':
    unittest.main()
