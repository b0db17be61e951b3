#!/usr/bin/python3
"""20 account databases over 4 stand-in servers: vireo-check --jobs 4 against --jobs 1, run in
turns (1 4 1 4 ...), with min/median/max of the speed-up; then the same 20 accounts on one server,
where every item takes the server's check lock in turn.

    run.py [BIN_DIR [PAIRS]]     (BASELINE_BIN=/path/to/an/older/vireo-check adds its one-server times)

The run history is left out (--no-history): bench/history measures it.
"""
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
ROUNDS = 3
PAIRS = int(sys.argv[2]) if len(sys.argv) > 2 else 5


def start_server(accounts):
    args = ["/usr/bin/python3", os.path.join(ROOT, "tools", "sqlserver-standin", "server.py"), "--port", "0",
            "--password-env", "VIREO_SA_PASSWORD", "--exit-on-stdin-eof",
            "--init-each", os.path.join(ROOT, "demo", "account.sql")]
    for a in accounts:
        args += ["--database", f"QZdata_{a}_2024"]
    server = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=secret_env())
    port = int(re.search(r":(\d+)", server.stdout.readline()).group(1))
    return server, f"127.0.0.1,{port}"


def cpu_seconds(pids):
    """User + system CPU time of processes, from /proc."""
    total = 0.0
    for pid in pids:
        fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
        total += (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    return total


def check(binary, targets, jobs, server_pids=(), extra=("--no-history",), rounds=None):
    """targets: [(server, [accounts])] -> (best seconds of `rounds` (ROUNDS), item rows, exit status, CPU seconds
    of the last round: client and servers)."""
    args = [binary]
    for server, accounts in targets:
        args += ["--server", server, "--account", ",".join(accounts)]
    args += ["--year", "2024", "--all", "--param", "GJ01:20240101,20240331,50000,,",
             "--program-folder", os.path.join(ROOT, "demo"), "--jobs", str(jobs), "--format", "csv", *extra]
    env = secret_env()
    best = None
    for _ in range(rounds or ROUNDS):
        before, children = cpu_seconds(server_pids), os.times()
        start = time.perf_counter()
        r = subprocess.run(args, env=env, capture_output=True, text=True, timeout=600)
        took = time.perf_counter() - start
        after = os.times()
        cpu = cpu_seconds(server_pids) - before + (after.children_user + after.children_system
                                                   - children.children_user - children.children_system)
        best = took if best is None else min(best, took)
    rows = [line for line in r.stdout.splitlines()[1:] if line]
    return best, len(rows), r.returncode, cpu


def main():
    servers = []
    try:
        quarters = [ACCOUNTS[i::4] for i in range(4)]
        for q in quarters:
            servers.append(start_server(q))
        spread = [(addr, q) for (_, addr), q in zip(servers, quarters)]
        one_proc, one = start_server(ACCOUNTS)
        servers.append((one_proc, one))
        binary = os.path.join(BIN, "vireo-check")

        pids = [proc.pid for proc, _ in servers]
        ratios = []
        for i in range(PAIRS):
            t1, rows1, status1, c1 = check(binary, spread, 1, pids[:4], rounds=1)
            t4, rows4, status4, c4 = check(binary, spread, 4, pids[:4], rounds=1)
            ratios.append(t1 / t4)
            print(f"pair {i + 1}: --jobs 1 {t1:.2f} s ({rows1} item rows, exit {status1}, {c1:.2f} s CPU), "
                  f"--jobs 4 {t4:.2f} s ({rows4} item rows, exit {status4}, {c4:.2f} s CPU), {t1 / t4:.2f}x", flush=True)
        ratios.sort()
        print(f"speed-up over 4 servers, --jobs 4 / --jobs 1: min {ratios[0]:.2f}x, median {ratios[len(ratios) // 2]:.2f}x, "
              f"max {ratios[-1]:.2f}x (target >= 2.5x)")

        s1, rows, status, _ = check(binary, [(one, ACCOUNTS)], 1, pids[4:])
        print(f"1 server,  --jobs 1: {s1:.2f} s, {rows} item rows, exit {status}")
        s4, rows, status, _ = check(binary, [(one, ACCOUNTS)], 4, pids[4:])
        print(f"1 server,  --jobs 4: {s4:.2f} s, {rows} item rows, exit {status}")
        print(f"one server, --jobs 4 / --jobs 1: {s1 / s4:.2f}x (the lock lets one item run at a time)")
        baseline = os.environ.get("BASELINE_BIN")
        if baseline:
            b4, rows, status, _ = check(baseline, [(one, ACCOUNTS)], 4, pids[4:], extra=())
            print(f"baseline 1 server, --jobs 4: {b4:.2f} s, {rows} item rows, exit {status}")
            print(f"one server, --jobs 4, baseline / now: {b4 / s4:.2f}x (>= 1 means no slower)")
    finally:
        for proc, _ in servers:
            proc.stdin.close()
            proc.terminate()
            proc.wait(timeout=10)


if __name__ == "__main__":
    main()
