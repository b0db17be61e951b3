#!/usr/bin/python3
"""Round trips to the SQL Server stand-in over pyodbc (FreeTDS): the median (and mean, 95th percentile) time
of 500 `select 1` batches and of 200 sp_getapplock + sp_releaseapplock pairs (two batches each), the pairs
against the plain `select 1` baseline of the same server measured in the same run.

    run.py [--baseline-dir DIR]

--baseline-dir names another copy of tools/sqlserver-standin (an older one, for instance extracted with
`git archive`); its server is measured in the same run and the ratios new/old are printed as well.
"""
import argparse
import os
import re
import secrets
import statistics
import subprocess
import sys
import time

import pyodbc

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
STANDIN = os.path.join(ROOT, "tools", "sqlserver-standin")
# A new password each run, handed over through the environment only.
SECRET = secrets.token_urlsafe(16)
DATABASE = "QZdata_001_2024"
SELECTS = 500
PAIRS = 200
GET = ("declare @r int exec @r = sp_getapplock @Resource = N'bench', @LockMode = 'Exclusive', "
       "@LockOwner = 'Session', @LockTimeout = 0 select @r")
RELEASE = "declare @r int exec @r = sp_releaseapplock @Resource = N'bench', @LockOwner = 'Session' select @r"


def start_server(folder):
    env = dict(os.environ, STANDIN_BENCH_PASSWORD=SECRET)
    server = subprocess.Popen(["/usr/bin/python3", os.path.join(folder, "server.py"), "--port", "0",
                               "--password-env", "STANDIN_BENCH_PASSWORD", "--exit-on-stdin-eof",
                               "--database", DATABASE],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env)
    line = server.stdout.readline()
    m = re.search(r":(\d+)$", line.strip())
    if not m:
        server.kill()
        raise SystemExit("the stand-in in %s did not start: %r" % (folder, line))
    return server, int(m.group(1))


def measure(folder):
    """-> (seconds of each `select 1` round trip, seconds of each get + release pair)."""
    server, port = start_server(folder)
    try:
        conn = pyodbc.connect("Driver=FreeTDS;Server=127.0.0.1;Port=%d;Database=%s;UID=SA;PWD=%s;"
                              "TDS_Version=7.4;ClientCharset=UTF-8" % (port, DATABASE, SECRET),
                              autocommit=True, timeout=10)
        cur = conn.cursor()
        for _ in range(20):   # warm-up
            cur.execute("select 1").fetchall()
        selects = []
        for _ in range(SELECTS):
            t = time.perf_counter()
            if cur.execute("select 1").fetchall()[0][0] != 1:
                raise SystemExit("wrong answer to select 1")
            selects.append(time.perf_counter() - t)
        pairs = []
        for _ in range(PAIRS):
            t = time.perf_counter()
            got = cur.execute(GET).fetchall()[0][0]
            gone = cur.execute(RELEASE).fetchall()[0][0]
            pairs.append(time.perf_counter() - t)
            if (got, gone) != (0, 0):
                raise SystemExit("sp_getapplock / sp_releaseapplock returned %r" % ((got, gone),))
        conn.close()
        return selects, pairs
    finally:
        server.stdin.close()
        try:
            server.wait(10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--baseline-dir", help="another copy of tools/sqlserver-standin to compare with")
    args = ap.parse_args()
    runs = [("this", STANDIN)] + ([("baseline", os.path.abspath(args.baseline_dir))] if args.baseline_dir else [])
    found = {}
    for name, folder in runs:
        selects, pairs = measure(folder)
        sel, pair = statistics.median(selects), statistics.median(pairs)
        found[name] = (sel, pair)
        print("%s (%s)" % (name, folder))
        for what, times in (("select 1", selects), ("applock pair", pairs)):
            print("  %-13s median %8.3f ms   mean %8.3f ms   95th percentile %8.3f ms   over %d"
                  % (what, statistics.median(times) * 1e3, statistics.mean(times) * 1e3,
                     sorted(times)[int(len(times) * 0.95)] * 1e3, len(times)))
        print("  applock pair / select 1 (medians): %.2f" % (pair / sel))
    if "baseline" in found:
        (s, p), (bs, bp) = found["this"], found["baseline"]
        print("this / baseline (medians): select 1 %.3f, applock pair %.3f" % (s / bs, p / bp))
    return 0


if __name__ == "__main__":
    sys.exit(main())
