#!/usr/bin/python3
"""20 account databases x the demo catalogue: vireo-check --jobs 1 against --jobs 4 in one run."""
import os
import re
import secrets
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BIN = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "bin")
ACCOUNTS = [f"{i:03d}" for i in range(1, 21)]
# A new password each run, handed over through the environment only.
BENCH_SECRET = secrets.token_urlsafe(16)


def secret_env():
    """The environment with the benchmark's password: the stand-in and vireo-check take it from there."""
    env = dict(os.environ)
    env["VIREO_SA_PASSWORD"] = BENCH_SECRET
    return env


def main():
    dbs = [f"QZdata_{a}_2024" for a in ACCOUNTS]
    args = ["/usr/bin/python3", os.path.join(ROOT, "tools", "sqlserver-standin", "server.py"), "--port", "0",
            "--password-env", "VIREO_SA_PASSWORD", "--exit-on-stdin-eof",
            "--init-each", os.path.join(ROOT, "demo", "account.sql")]
    for d in dbs:
        args += ["--database", d]
    server = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=secret_env())
    try:
        port = int(re.search(r":(\d+)", server.stdout.readline()).group(1))
        env = secret_env()
        times = {}
        for jobs in (1, 4):
            start = time.perf_counter()
            r = subprocess.run([os.path.join(BIN, "vireo-check"), "--server", f"127.0.0.1,{port}",
                                "--account", ",".join(ACCOUNTS), "--year", "2024", "--all",
                                "--param", "GJ01:20240101,20240331,50000,,",
                                "--program-folder", os.path.join(ROOT, "demo"), "--jobs", str(jobs),
                                "--format", "csv"], env=env, capture_output=True, text=True, timeout=600)
            times[jobs] = time.perf_counter() - start
            rows = [l for l in r.stdout.splitlines()[1:] if l]
            print(f"--jobs {jobs}: {times[jobs]:.2f} s, {len(rows)} item rows, exit {r.returncode}")
        print(f"speed-up --jobs 4 / --jobs 1: {times[1] / times[4]:.2f}x")
    finally:
        server.stdin.close()
        server.terminate()
        server.wait(timeout=10)


if __name__ == "__main__":
    main()
