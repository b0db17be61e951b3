"""T-SQL semantics of the stand-in, checked on the engine directly (no network)."""

import hashlib
import os
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from engine import Engine, Output, Session  # noqa: E402

DB = 'QZdata_001_2024'
EOL = ' \r\n'   # what the program's script runner appends to every line


class EngineCase(unittest.TestCase):
    def setUp(self):
        self.engine = Engine(None, [DB])
        self.session = Session(51, DB)

    def run_sql(self, text, session=None):
        out = Output()
        self.engine.run_batch(session or self.session, text, out)
        return out.events

    def results(self, text):
        ev = self.run_sql(text)
        errors = [e[1] for e in ev if e[0] == 'error']
        self.assertEqual(errors, [], 'unexpected errors: %s' % [(e.number, e.message) for e in errors])
        return [(cols, rows) for kind, cols, rows in (e for e in ev if e[0] == 'result')]

    def rows(self, text):
        res = self.results(text)
        self.assertEqual(len(res), 1)
        return res[0][1]

    def types(self, text):
        return [(n, t.decl()) for n, t in self.results(text)[0][0]]

    def errors(self, text):
        return [(e[1].number, e[1].message) for e in self.run_sql(text) if e[0] == 'error']


class ProgramStatements(EngineCase):
    """The statements the program sends for a check run, the summary and the report."""

    def probe(self, code):
        return ("if exists (select * from tempdb..sysobjects where name='%s') select b.name from tempdb..sysobjects "
                "as a left join tempdb..syscolumns as b on a.id=b.id where b.name='Error' and a.name='%s' "
                "else select '' as name" % (code, code))

    def count(self, code):
        return ("if exists (select * from tempdb..sysobjects where name='%s') select count(*) as number from "
                "tempdb..%s else select 0 as number" % (code, code))

    def report(self, code):
        return ("if exists (select * from tempdb..sysobjects where name='%s') select * from tempdb..%s "
                "else select '' as 空" % (code, code))

    def drop(self, code):
        return "if exists (select * from tempdb..sysobjects where name='%s') drop table tempdb..%s" % (code, code)

    def copy(self, code):
        return ("if exists (select * from tempdb..sysobjects where name='VUZ') select * into tempdb..%s "
                "from tempdb..VUZ" % code)

    def test_check_run_copies_staging_table_with_types(self):
        script = ['if exists (select * from tempdb..sysobjects where name=\'VUZ\') drop table tempdb..VUZ',
                  'create table tempdb..VUZ (编码 varchar(20) not null, 名称 nvarchar(2), 金额 money,',
                  '  数量 decimal(12,3), 日期 datetime, 标志 bit)',
                  "insert into tempdb..VUZ values ('A1', N'检查', 12.5, 1.25, '2024-03-01', 1),",
                  "  ('B2', NULL, NULL, NULL, NULL, NULL)"]
        self.results(''.join(line + EOL for line in script))
        self.results(self.drop('A0101'))
        self.results(self.copy('A0101'))
        self.assertEqual(self.rows(self.probe('A0101')), [])
        res = self.results(self.count('A0101'))
        self.assertEqual(res[0][1], [(2,)])
        self.assertEqual(res[0][0][0][1].decl(), 'int')
        res = self.results(self.report('A0101'))
        cols, rows = res[0]
        self.assertEqual([(n, t.decl()) for n, t in cols],
                         [('编码', 'varchar(20)'), ('名称', 'nvarchar(2)'), ('金额', 'money'),
                          ('数量', 'decimal(12,3)'), ('日期', 'datetime'), ('标志', 'bit')])
        self.assertEqual(rows[0], ('A1', '检查', 12.5, 1.25, '2024-03-01 00:00:00.000', 1))
        self.assertEqual(rows[1], ('B2', None, None, None, None, None))

    def test_missing_result_table_answers_with_the_else_branch(self):
        self.assertEqual(self.types(self.probe('K09')), [('name', 'varchar(1)')])
        self.assertEqual(self.rows(self.probe('K09')), [('',)])
        self.assertEqual(self.rows(self.count('K09')), [(0,)])
        self.assertEqual(self.types(self.report('K09')), [('空', 'varchar(1)')])
        self.assertEqual(self.rows(self.report('K09')), [('',)])
        # drop and copy do nothing without a staging table
        self.assertEqual(self.errors(self.drop('K09') + EOL + self.copy('K09')), [])
        self.assertEqual(self.rows(self.count('K09')), [(0,)])

    def test_error_column_probe_and_first_error(self):
        self.results("create table tempdb..VUZ (Error nvarchar(100))"
                     "insert tempdb..VUZ values (N'科目不平衡'), (NULL)")
        self.results(self.drop('A02') + EOL + self.copy('A02'))
        self.assertEqual(self.rows(self.probe('A02')), [('Error',)])
        self.assertEqual(self.rows('select top 1 Error from tempdb..A02'), [('科目不平衡',)])
        self.results("delete from tempdb..A02")
        self.assertEqual(self.rows('select top 1 Error from tempdb..A02'), [])

    def test_recopy_replaces_the_previous_result(self):
        self.results("create table tempdb..VUZ (a int) insert tempdb..VUZ values (1),(2),(3)")
        self.results(self.drop('X1') + EOL + self.copy('X1'))
        self.results("drop table tempdb..VUZ create table tempdb..VUZ (b nvarchar(5)) insert tempdb..VUZ values ('z')")
        self.results(self.drop('X1') + EOL + self.copy('X1'))
        self.assertEqual(self.types(self.report('X1')), [('b', 'nvarchar(5)')])
        self.assertEqual(self.rows(self.count('x1')), [(1,)])

    def test_stored_procedure_item(self):
        self.results('create procedure K01 @year int, @month varchar(2), @flag char(1) = \'Y\' as' + EOL +
                     'select @year + 1 as next_year, @month as m, @flag as f')
        res = self.results("Exec K01 '2024','3'")
        self.assertEqual(res[0][1], [(2025, '3', 'Y')])
        self.assertEqual([t.decl() for _, t in res[0][0]], ['int', 'varchar(2)', 'char(1)'])
        self.assertEqual(self.errors("Exec K01 '2024'"),
                         [(201, "Procedure or function 'K01' expects parameter '@month', which was not supplied.")])
        self.assertEqual(self.errors("Exec K01 'abc','1'")[0][0], 8114)
        self.assertEqual(self.errors("Exec K02 '1'"), [(2812, "Could not find stored procedure 'K02'.")])
        self.assertEqual(self.errors("select 1 create procedure P2 as select 1")[0][0], 111)
        self.results("drop procedure K01")
        self.assertEqual(self.errors("exec K01 '1','2'")[0][0], 2812)


GET_LOCK = ("declare @r int exec @r = tempdb..sp_getapplock @Resource = N'体检', @LockMode = '%s', "
            "@LockOwner = 'Session', @LockTimeout = %d select @r as r")
RELEASE_LOCK = "declare @r int exec @r = tempdb..sp_releaseapplock N'体检', 'Session' select @r as r"


class AppLocks(EngineCase):
    """sp_getapplock / sp_releaseapplock between sessions, with SQL Server's return codes."""

    def status(self, text, session):
        return [e[2][0][0] for e in self.run_sql(text, session) if e[0] == 'result'][0]

    def test_two_sessions_wait_time_out_and_count(self):
        other = Session(52, DB)
        self.assertEqual(self.status(GET_LOCK % ('Exclusive', 0), self.session), 0)
        self.assertEqual(self.status(GET_LOCK % ('Exclusive', 0), self.session), 0)   # held twice
        started = time.monotonic()
        self.assertEqual(self.status(GET_LOCK % ('Shared', 300), other), -1)
        self.assertGreaterEqual(time.monotonic() - started, 0.3)
        self.assertEqual(self.status(RELEASE_LOCK, self.session), 0)
        self.assertEqual(self.status(GET_LOCK % ('Exclusive', 0), other), -1)      # one hold is left
        # The waiter sleeps without the engine lock: the holder's release reaches it.
        threading.Timer(0.2, self.run_sql, (RELEASE_LOCK, self.session)).start()
        self.assertEqual(self.status(GET_LOCK % ('Exclusive', 5000), other), 1)
        # Shared locks of two sessions go together; another database's lock of the same name is another lock.
        self.assertEqual(self.status(GET_LOCK.replace('tempdb..', '') % ('Exclusive', 0), self.session), 0)
        self.assertEqual(self.status(RELEASE_LOCK, other), 0)
        self.assertEqual(self.status(GET_LOCK % ('Shared', 0), other), 0)
        self.assertEqual(self.status(GET_LOCK % ('Shared', 0), self.session), 0)
        # Releasing a lock that is not held, and a bad mode: -999.
        self.assertEqual(self.status(RELEASE_LOCK, self.session), 0)
        self.assertEqual(self.errors(RELEASE_LOCK)[0][0], 1223)
        self.assertEqual(self.status(GET_LOCK % ('Everything', 0), self.session), -999)

    def test_a_closed_session_releases_its_locks(self):
        other = Session(52, DB)
        self.assertEqual(self.status(GET_LOCK % ('Exclusive', 0), self.session), 0)
        threading.Timer(0.2, self.engine.close_session, (self.session,)).start()
        self.assertEqual(self.status(GET_LOCK % ('Exclusive', 5000), other), 1)

    def wait_in_thread(self, text, session):
        """Starts text in a thread and returns once its request waits in the lock's queue -> (thread, [status])."""
        got = []
        t = threading.Thread(target=lambda: got.append(self.status(text, session)))
        t.start()
        deadline = time.monotonic() + 10
        while not any(w.spid == session.spid for q in self.engine.applock_queue.values() for w in q):
            self.assertLess(time.monotonic(), deadline, 'the request never queued')
            time.sleep(0.005)
        return t, got

    def test_a_released_lock_goes_to_the_waiter_first(self):
        # The holder releases and asks again at once: the waiter gets the lock, the holder queues behind it.
        other, third = Session(52, DB), Session(53, DB)
        self.assertEqual(self.status(GET_LOCK % ('Exclusive', 0), self.session), 0)
        t, got = self.wait_in_thread(GET_LOCK % ('Exclusive', 10000), other)
        again = ("exec tempdb..sp_releaseapplock N'体检', 'Session' declare @r int exec @r = tempdb..sp_getapplock "
                 "N'体检', 'Exclusive', 'Session', 0 select @r as r")
        self.assertEqual(self.status(again, self.session), -1)
        t.join(10)
        self.assertEqual(got, [1])
        # A waiting request also keeps compatible newcomers out: while Exclusive waits behind a Shared
        # holder, another Shared request does not pass it.
        self.assertEqual(self.status(RELEASE_LOCK, other), 0)
        self.assertEqual(self.status(GET_LOCK % ('Shared', 0), self.session), 0)
        t, got = self.wait_in_thread(GET_LOCK % ('Exclusive', 10000), other)
        self.assertEqual(self.status(GET_LOCK % ('Shared', 0), third), -1)
        t3, got3 = self.wait_in_thread(GET_LOCK % ('Shared', 10000), third)
        self.assertEqual(self.status(RELEASE_LOCK, self.session), 0)
        t.join(10)
        self.assertEqual(got, [1])
        self.assertEqual(got3, [])       # still behind the Exclusive holder
        self.assertEqual(self.status(RELEASE_LOCK, other), 0)
        t3.join(10)
        self.assertEqual(got3, [1])

    def test_a_waiter_that_gives_up_lets_the_next_one_go(self):
        # Holder Shared; an Exclusive request waits, a Shared one queues behind it. When the Exclusive
        # request is interrupted (-2) or times out (-1), the Shared one gets the lock at once.
        other, third = Session(52, DB), Session(53, DB)
        self.assertEqual(self.status(GET_LOCK % ('Shared', 0), self.session), 0)
        t, got = self.wait_in_thread(GET_LOCK % ('Exclusive', -1), other)
        t3, got3 = self.wait_in_thread(GET_LOCK % ('Shared', 10000), third)
        other.interrupt()
        t.join(10)
        t3.join(10)
        self.assertEqual((got, got3), ([-2], [1]))
        self.assertEqual(self.engine.applock_queue, {})
        self.assertEqual(self.status(RELEASE_LOCK, third), 0)
        other.cancel.clear()
        t, got = self.wait_in_thread(GET_LOCK % ('Exclusive', 300), other)
        t3, got3 = self.wait_in_thread(GET_LOCK % ('Shared', 10000), third)
        t.join(10)
        t3.join(10)
        self.assertEqual((got, got3), ([-1], [1]))


class BinaryAndHashes(EngineCase):
    """HASHBYTES, CHECKSUM_AGG and the binary/varbinary values they work with."""

    def value(self, sql):
        return self.rows(sql)[0][0]

    def test_hashbytes_hashes_the_bytes_sql_server_hashes(self):
        # varchar in the code page (GBK), nvarchar as UTF-16LE, binary as it is; char(n) with its padding.
        cases = [
            ("'abc'", b'abc'), ("N'abc'", 'abc'.encode('utf-16-le')), ("'体检'", '体检'.encode('gbk')),
            ("N'体检'", '体检'.encode('utf-16-le')), ('0x00FF10', b'\x00\xff\x10'),
            ("cast('ab' as char(4))", b'ab  '), ("''", b''),
        ]
        algorithms = {'MD5': hashlib.md5, 'SHA': hashlib.sha1, 'sha1': hashlib.sha1, 'SHA2_256': hashlib.sha256,
                      'Sha2_512': hashlib.sha512}
        for expr, data in cases:
            for alg, fn in algorithms.items():
                with self.subTest(expr=expr, alg=alg):
                    self.assertEqual(self.value("select hashbytes('%s', %s)" % (alg, expr)), fn(data).digest())
        self.assertEqual(self.value("select hashbytes('SHA2_256', N'abc')"),
                         hashlib.sha256(b'a\x00b\x00c\x00').digest())
        self.assertEqual(self.types("select hashbytes('MD5', 'abc') as h"), [('h', 'varbinary(8000)')])
        # MD2 and MD4 against the published test vectors (RFC 1319, RFC 1320).
        vectors = {('MD2', "''"): '8350e5a3e24c153df2275c9f80692773',
                   ('MD2', "'message digest'"): 'ab4f496bfb2a530b219ff33031fe06b0',
                   ('MD2', "'abcdefghijklmnopqrstuvwxyz'"): '4e8ddff3650292ab5a4108c3aa47940b',
                   ('MD4', "''"): '31d6cfe0d16ae931b73c59d7e0c089c0',
                   ('MD4', "'abc'"): 'a448017aaf21d8525fc10ae87aa6729d',
                   ('MD4', "replicate('1234567890', 8)"): 'e33b4ddc9c38f2199c3e7b164fcc0536'}
        for (alg, expr), digest in vectors.items():
            with self.subTest(alg=alg, expr=expr):
                self.assertEqual(self.value("select hashbytes('%s', %s)" % (alg, expr)).hex(), digest)
        # From a column and a variable; NULL input and an unknown algorithm give NULL.
        self.results("create table h (s varchar(20), n nvarchar(20))\ninsert h values ('体检a', N'体检a'), (NULL, NULL)")
        self.assertEqual(self.rows("select hashbytes('SHA1', s), hashbytes('SHA1', n) from h order by s desc"),
                         [(hashlib.sha1('体检a'.encode('gbk')).digest(),
                           hashlib.sha1('体检a'.encode('utf-16-le')).digest()), (None, None)])
        self.assertEqual(self.rows("declare @v nvarchar(10) = N'x' select hashbytes('md5', @v), "
                                   "hashbytes('SHA3_256', 'abc'), hashbytes(NULL, 'abc'), hashbytes('md5', NULL)"),
                         [(hashlib.md5('x'.encode('utf-16-le')).digest(), None, None, None)])

    def test_hashbytes_refuses_what_sql_server_refuses(self):
        for expr, name in [('1', 'int'), ('getdate()', 'datetime'), ('1.5', 'numeric'), ("cast(1 as bit)", 'bit'),
                           ('cast(1 as float)', 'float')]:
            with self.subTest(expr=expr):
                self.assertEqual(self.errors("select hashbytes('MD5', %s)" % expr),
                                 [(8116, 'Argument data type %s is invalid for argument 2 of hashbytes function.'
                                   % name)])
        self.assertEqual(self.errors("select hashbytes(5, 'abc')")[0][0], 8116)
        self.assertEqual(self.errors("select hashbytes('MD5')")[0][0], 174)

    def test_binary_conversions(self):
        h = "hashbytes('SHA2_256', 'abc')"
        digest = hashlib.sha256(b'abc').digest()
        self.assertEqual(self.rows("select convert(varchar(64), %s, 2), convert(varchar(66), %s, 1), "
                                   "convert(bigint, substring(%s, 1, 8)), cast(substring(%s, 1, 4) as int)"
                                   % (h, h, h, h)),
                         [(digest.hex().upper(), '0x' + digest.hex().upper(),
                           int.from_bytes(digest[:8], 'big', signed=True), int.from_bytes(digest[:4], 'big', signed=True))])
        self.assertEqual(self.types("select substring(%s, 1, 8) as s, convert(varchar(64), %s, 2) as x" % (h, h)),
                         [('s', 'varbinary(8000)'), ('x', 'varchar(64)')])
        # Integers: big-endian, signed, cut or padded on the left; text: code page bytes, cut or padded on the right.
        self.assertEqual(self.rows("select cast(0x0102 as int), cast(0xFFFFFFFF as int), cast(0x0100000002 as int), "
                                   "cast(0xFF as tinyint), cast(0x8000 as smallint), cast(0xFFFFFFFF as bigint)"),
                         [(258, -1, 2, 255, -32768, 4294967295)])
        self.assertEqual(self.rows("select cast(258 as varbinary(4)), cast(258 as binary(2)), cast(-1 as binary(6)), "
                                   "cast('ab' as binary(4)), cast('abc' as varbinary(2)), cast(N'体' as varbinary(4)), "
                                   "cast('体' as varbinary(4)), convert(varbinary(4), 'a0B1', 2), "
                                   "convert(varbinary(4), '0x0A0B', 1)"),
                         [(b'\x00\x00\x01\x02', b'\x01\x02', b'\x00\x00\xff\xff\xff\xff', b'ab\x00\x00', b'ab',
                           '体'.encode('utf-16-le'), '体'.encode('gbk'), b'\xa0\xb1', b'\x0a\x0b')])
        self.assertEqual(self.rows("select convert(varchar(10), 0x616263), convert(nvarchar(10), 0x61006200), "
                                   "convert(varchar(10), 0x0A, 1), datalength(0x010203), datalength(cast(1 as binary(5)))"),
                         [('abc', 'ab', '0x0A', 3, 5)])
        self.assertEqual(self.errors("select convert(varbinary(4), 'xyz', 2)")[0][0], 8114)
        self.assertEqual(self.errors("select cast(0x01 as float)")[0][0], 529)
        # A string never becomes binary implicitly (error 257); an explicit conversion is needed.
        self.results('create table b (id int, h varbinary(4), f binary(3))')
        for sql in ("insert b (h) values ('abc')", "declare @b varbinary(10) = 'abc'",
                    "declare @b varbinary(10) set @b = N'abc'", "update b set f = 'x'",
                    "insert b (f) select 'x' where 1 = 0"):
            with self.subTest(sql=sql):
                self.assertEqual(self.errors(sql)[0][0], 257)
        self.results("insert b values (1, 0x01020304, 0x01), (2, cast('ab' as varbinary(4)), 0x0002)")
        self.assertEqual(self.rows('select id, h, f from b order by id'),
                         [(1, b'\x01\x02\x03\x04', b'\x01\x00\x00'), (2, b'ab', b'\x00\x02\x00')])
        self.assertEqual(self.rows('declare @i int = 0x0102 declare @s varchar(5) = 0x6869 select @i, @s'),
                         [(258, 'hi')])
        self.assertEqual(self.errors('insert b (h) values (0x0102030405)'),
                         [(8152, 'String or binary data would be truncated.')])
        self.assertEqual(self.rows("select name, xtype, length from syscolumns where id = object_id('b') order by colid"),
                         [('id', 56, 4), ('h', 165, 4), ('f', 173, 3)])
        self.assertEqual(self.types('select h, f, isnull(h, 0x00) as i from b'),
                         [('h', 'varbinary(4)'), ('f', 'binary(3)'), ('i', 'varbinary(4)')])
        self.assertEqual(self.errors("select h + 0x01 from b")[0][0], 40000)
        self.assertEqual(self.errors("select upper(h) from b")[0][0], 40000)

    def test_binary_comparison(self):
        # Byte order, with trailing 0x00 bytes ignored as SQL Server ignores them.
        self.assertEqual(self.rows("select case when 0x01 = 0x0100 then 1 else 0 end, "
                                   "case when 0x01 < 0x02 then 1 else 0 end, case when 0xFF > 0x0100 then 1 else 0 end, "
                                   "case when 0x0100 > 0x01 then 1 else 0 end, case when 0x0001 = 0x01 then 1 else 0 end, "
                                   "case when 0x00000102 = 258 then 1 else 0 end"),
                         [(1, 1, 1, 0, 0, 1)])
        self.results("create table k (id int, h varbinary(32))\n"
                     "insert k select 1, hashbytes('MD5', 'a') insert k select 2, hashbytes('MD5', 'b')\n"
                     "insert k values (3, 0x0102)")
        self.assertEqual(self.rows("select id from k where h = hashbytes('MD5', 'b') or h = 0x010200 order by id"),
                         [(2,), (3,)])
        self.assertEqual(self.rows("declare @h varbinary(16) = hashbytes('MD5', 'a') "
                                   "select id from k where h <> @h order by id"), [(2,), (3,)])

    def test_checksum_agg(self):
        self.results('create table c (g int, v int, s smallint, b bigint, t varchar(5))\n'
                     'insert c values (1, 5, 1, 1, \'a\'), (1, 9, 2, 1, \'b\'), (1, NULL, 3, 1, \'c\'), '
                     '(2, -7, 4, 1, \'d\'), (2, -7, 5, 1, \'e\'), (3, NULL, 6, 1, \'f\')')
        self.assertEqual(self.rows('select g, checksum_agg(v) from c group by g order by g'),
                         [(1, 5 ^ 9), (2, 0), (3, None)])
        self.assertEqual(self.rows('select checksum_agg(v), checksum_agg(distinct v), checksum_agg(s) from c'),
                         [(5 ^ 9 ^ -7 ^ -7, 5 ^ 9 ^ -7, 1 ^ 2 ^ 3 ^ 4 ^ 5 ^ 6)])
        self.assertEqual(self.types('select checksum_agg(s) as x from c'), [('x', 'int')])
        self.assertEqual(self.rows('select checksum_agg(v) from c where g > 5'), [(None,)])
        for col in ('b', 't'):
            with self.subTest(col=col):
                self.assertEqual(self.errors('select checksum_agg(%s) from c' % col)[0][0], 8117)
        # A content checksum of a table through HASHBYTES, independent of the order of the rows.
        expected = 0
        for t in 'abcdef':
            expected ^= int.from_bytes(hashlib.sha256(t.encode()).digest()[:4], 'big', signed=True)
        sql = ("select checksum_agg(convert(int, substring(hashbytes('SHA2_256', t), 1, 4))) "
               "from (select top 100 t from c order by t %s) x")
        self.assertEqual(self.rows(sql % 'asc'), [(expected,)])
        self.assertEqual(self.rows(sql % 'desc'), [(expected,)])


class Errors(EngineCase):
    def test_runtime_error_messages(self):
        self.results('create table t (a int not null, s varchar(3))')
        cases = {
            'select 1/0': (8134, 'Divide by zero error encountered.'),
            'select * from tempdb..nope': (208, "Invalid object name 'tempdb..nope'."),
            'create table T (x int)': (2714, "There is already an object named 'T' in the database."),
            "raiserror('bad %s here', 16, 1, 'thing')": (50000, 'bad thing here'),
            'select zz from t': (207, "Invalid column name 'zz'."),
            "insert t values (1, 'abcd')": (8152, 'String or binary data would be truncated.'),
            "insert t (s) values ('a')": (515, "Cannot insert the value NULL into column 'a', table "
                                               "'QZdata_001_2024.dbo.t'; column does not allow nulls. INSERT fails."),
            "select 1 + 'x'": (245, "Conversion failed when converting the varchar value 'x' to data type int."),
            'select s, count(*) from t': (8120, "Column 's' is invalid in the select list because it is not "
                                                "contained in either an aggregate function or the GROUP BY clause."),
            'select nosuchfn(1)': (195, "'nosuchfn' is not a recognized built-in function name."),
            'drop table nope': (3701, "Cannot drop the table 'nope', because it does not exist or you do not have "
                                      "permission."),
        }
        for sql, expected in cases.items():
            with self.subTest(sql=sql):
                self.assertEqual(self.errors(sql), [expected])

    def test_syntax_error_runs_nothing(self):
        ev = self.run_sql("create table t1 (a int)\ninsert t1 values (1)\nselect from where")
        self.assertEqual([(e[1].number, e[1].message, e[1].line) for e in ev if e[0] == 'error'],
                         [(156, "Incorrect syntax near the keyword 'from'.", 3)])
        self.assertEqual(self.errors('select * from t1')[0][0], 208)
        self.assertEqual(self.errors("select 'a' 'b' 'c'")[0][:1], (102,))
        self.assertEqual(self.errors("select 'open")[0][0], 105)

    def test_statement_errors_continue_and_batch_errors_stop(self):
        ev = self.run_sql("create table t (a int) insert t values (1)\n"
                          "select 1/0\n"                      # statement-terminating
                          "insert t values (2)\n"
                          "select * from missing\n"           # batch-terminating
                          "insert t values (3)")
        kinds = [e[0] for e in ev]
        self.assertEqual(kinds.count('error'), 2)
        self.assertEqual(self.rows('select a from t order by a'), [(1,), (2,)])
        final = ev[-1]
        self.assertEqual(final[0], 'done')
        self.assertEqual(final[2] & 0x1, 0, 'the last DONE must not carry DONE_MORE')
        self.assertTrue(final[2] & 0x2, 'the batch ended on an error')

    def test_unsupported_statements_are_errors(self):
        for sql in ('select row_number() over (order by a) from t', 'rollback', 'create view v as select 1',
                    'select * from t1 full join t2 on 1=1'):
            with self.subTest(sql=sql):
                errs = self.errors(sql)
                self.assertEqual(len(errs), 1)


class Queries(EngineCase):
    def setUp(self):
        super().setUp()
        self.results("create table emp (id int identity(1,1) primary key, name nvarchar(20), dept varchar(10), "
                     "pay money, born datetime)"
                     "insert emp (name, dept, pay, born) values (N'张三', 'IT', 100, '1990-05-01'),"
                     "(N'李四', 'it', 250.5, '1985-01-31'), ('Bob', 'HR', NULL, NULL), ('amy', 'HR', 40, '2000-12-12')")

    def test_case_insensitive_names_and_text(self):
        self.assertEqual(self.rows("SELECT NAME FROM EMP WHERE DEPT = 'hr' AND Name = 'BOB  ' "), [('Bob',)])
        self.assertEqual(self.rows("select count(*) from [dbo].[emp] where dept like 'I_'"), [(2,)])
        self.assertEqual(self.rows("select dept, count(*) from emp group by dept order by dept"), [('HR', 2), ('IT', 2)])

    def test_joins_aggregates_and_ordering(self):
        self.results("create table dept (code varchar(10), title nvarchar(10))"
                     "insert dept values ('IT', N'信息'), ('FIN', N'财务')")
        rows = self.rows("select d.title, count(e.id) as n, sum(e.pay) as total from dept d "
                         "left join emp e on e.dept = d.code group by d.title having count(e.id) >= 0 order by n desc")
        self.assertEqual(rows, [('信息', 2, 350.5), ('财务', 0, None)])
        self.assertEqual(self.rows("select top 2 name from emp order by pay desc"), [('李四',), ('张三',)])
        self.assertEqual(self.rows("select distinct dept from emp where pay is not null order by 1"), [('HR',), ('IT',)])
        self.assertEqual(self.rows("select avg(id), min(name), max(born) from emp"),
                         [(2, 'amy', '2000-12-12 00:00:00.000')])
        self.assertEqual(self.rows("select name from emp where id in (select id from emp where pay > 50) "
                                   "and exists (select 1 from dept where code = emp.dept) order by id"),
                         [('张三',), ('李四',)])
        self.assertEqual(self.errors("select (select id from emp) as x")[0][0], 512)

    def test_expression_types(self):
        types = self.types("select 'ab' as v, N'ab' as n, 1 as i, 1.5 as d, getdate() as g, cast(1 as bit) as b, "
                           "isnull(name, '') as nm, len(name) as l, convert(varchar(10), born, 120) as cv, "
                           "2.0 * pay as m, pay * 2 as p, id / 2.0 as q from emp")
        self.assertEqual(types, [('v', 'varchar(2)'), ('n', 'nvarchar(2)'), ('i', 'int'), ('d', 'numeric(2,1)'),
                                 ('g', 'datetime'), ('b', 'bit'), ('nm', 'nvarchar(20)'), ('l', 'int'),
                                 ('cv', 'varchar(10)'), ('m', 'decimal(22,5)'), ('p', 'money'),
                                 ('q', 'decimal(17,6)')])
        self.assertEqual(self.types("select count(*) as c, sum(pay) as s, sum(id) as t, avg(pay) as a, "
                                    "max(name) as x from emp"),
                         [('c', 'int'), ('s', 'money'), ('t', 'int'), ('a', 'money'), ('x', 'nvarchar(20)')])

    def test_scalar_functions(self):
        row = self.rows("select ltrim(rtrim('  x  ')), upper('ab'), substring('abcdef', 2, 3), left('abc', 2), "
                        "right('abc', 2), replace('aXa', 'x', '-'), charindex('c', 'abc'), abs(-3), "
                        "round(2.456, 2), 7 / 2, 7 % 3, 'a' + 'b', case when 1 > 2 then 'y' else 'n' end, "
                        "coalesce(null, 3), year('2024-02-03'), datediff(day, '2024-01-01', '2024-03-01'), "
                        "convert(varchar(10), dateadd(month, 1, '2024-01-31'), 23), isnumeric('12.5')")[0]
        self.assertEqual(row, ('x', 'AB', 'bcd', 'ab', 'bc', 'a-a', 3, 3, 2.46, 3, 1, 'ab', 'n', 3,
                               2024, 60, '2024-02-29', 1))

    def test_variables_control_flow_and_messages(self):
        ev = self.run_sql("declare @n int, @s nvarchar(50) set @n = 0 set @s = N''\n"
                          "while @n < 3 begin set @n = @n + 1 set @s = @s + cast(@n as nvarchar(5)) end\n"
                          "if @n = 3 print N'完成 ' + @s else print 'never'\n"
                          "select @n = count(*) from emp print @n")
        self.assertEqual([e[1] for e in ev if e[0] == 'info'], ['完成 123', '4'])

    def test_update_delete_and_insert_select(self):
        self.results("create table bonus (name nvarchar(20), amount money)")
        self.results("insert bonus select name, pay / 10 from emp where pay is not null")
        self.results("update b set amount = amount + e.id from bonus b inner join emp e on e.name = b.name")
        self.assertEqual(self.rows("select name, amount from bonus order by amount"),
                         [('amy', 8.0), ('张三', 11.0), ('李四', 27.05)])
        ev = self.run_sql("delete from bonus where amount > 20")
        self.assertIn(('done', 'done', 0x10, 0xC4, 1), ev)
        self.results("update emp set pay = 0 where pay is null")
        self.assertEqual(self.rows("select count(*) from emp where pay = 0"), [(1,)])

    def test_temp_tables_belong_to_their_session(self):
        other = Session(52, DB)
        self.results("create table #t (a int) insert #t values (1)")
        self.assertEqual(self.rows("select count(*) from tempdb..sysobjects where name like '#t[_]%'"), [(1,)])
        out = Output()
        self.engine.run_batch(other, "select * from #t", out)
        self.assertEqual([e[1].number for e in out.events if e[0] == 'error'], [208])
        self.engine.close_session(self.session)
        self.assertEqual(self.rows("select count(*) from tempdb..sysobjects where name like '#t%'"), [(0,)])


class Batches(EngineCase):
    def test_lexical_details(self):
        self.assertEqual(self.rows("/* a /* nested */ comment */ select [a]]b] = N'it''s', 'x' -- go\r\n as y"),
                         [("it's", 'x')])
        self.assertEqual(self.types("select [a]]b] = 1"), [('a]b', 'int')])
        ev = self.run_sql(''.join(line + EOL for line in ['', '-- header', 'select 1', 'select * from nope']))
        self.assertEqual([(e[1].number, e[1].line) for e in ev if e[0] == 'error'], [(208, 4)])

    def test_like_patterns_and_ci_comparisons(self):
        cases = [("'abc' like 'a%'", 1), ("'ABC' like 'a_c'", 1), ("'abc' like '[a-b]bc'", 1),
                 ("'cbc' like '[^c]bc'", 0), ("'a%c' like 'a!%c' escape '!'", 1), ("'abc  ' = 'ABC'", 1),
                 ("N'检查' like N'检%'", 1), ("'b' > 'A'", 1), ("'a' <> 'A'", 0)]
        for cond, want in cases:
            with self.subTest(cond=cond):
                self.assertEqual(self.rows('select case when %s then 1 else 0 end' % cond), [(want,)])

    def test_procedure_tokens_and_messages(self):
        self.results("create procedure P1 @n int as" + EOL + "select @n as n" + EOL +
                     "raiserror('inside %d', 16, 1, @n)" + EOL + "print 'after'" + EOL + "return 3")
        ev = self.run_sql("declare @rc int exec @rc = P1 @n = 5 select @rc as rc")
        kinds = [(e[0], e[1] if e[0] in ('done', 'return') else None) for e in ev]
        self.assertEqual(kinds, [('result', None), ('done', 'doneinproc'), ('error', None), ('done', 'doneinproc'),
                                 ('info', None), ('return', 3), ('done', 'doneproc'), ('result', None), ('done', 'done')])
        err = [e[1] for e in ev if e[0] == 'error'][0]
        self.assertEqual((err.number, err.message, err.proc, err.line), (50000, 'inside 5', 'P1', 3))
        self.assertEqual(ev[-2][2], [(3,)])

    def test_varchar_keeps_only_what_the_code_page_holds(self):
        self.results("create table cp (v varchar(10), n nvarchar(10)) insert cp values (N'检查☃', N'检查☃')")
        self.assertEqual(self.rows('select v, n, len(v), datalength(v) from cp'), [('检查?', '检查☃', 3, 5)])


class State(unittest.TestCase):
    def test_state_file_keeps_databases_but_not_tempdb(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, 'state.sqlite')
            e = Engine(path, [DB])
            s = Session(51, DB)
            e.run_batch(s, "create table keep (a nvarchar(4)) insert keep values (N'检查')"
                           "create table tempdb..gone (a int)", Output())
            e.catalog.conn.close()
            e2 = Engine(path, [DB])
            out = Output()
            e2.run_batch(Session(51, DB), "select a from keep select count(*) from tempdb..sysobjects", out)
            results = [ev[2] for ev in out.events if ev[0] == 'result']
            self.assertEqual(results, [[('检查',)], [(0,)]])
            e2.catalog.conn.close()


if __name__ == '__main__':
    unittest.main()
