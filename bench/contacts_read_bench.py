#!/usr/bin/env python3
"""A full contact read through kxsync against kxphone-sim on loopback.

For each store size: seeds kxphone-sim (in memory, with a request journal), runs
`kxsync --url ... contacts read --no-progress` and reports the wall time, the kxsync process's
CPU time and peak resident memory, the contacts printed and the requests the simulator served.
Comparing the sizes shows whether memory grows with the number of contacts read.

usage: bench/contacts_read_bench.py BIN_DIR [COUNT ...]     (default counts: 1000 10000)
Use a Release build without sanitizers.
"""
import json
import os
import subprocess
import sys
import tempfile
import time


def start_sim(bin_dir, count, journal):
    sim = subprocess.Popen(
        [os.path.join(bin_dir, "kxphone-sim"), "--db", ":memory:", "--seed-contacts", str(count),
         "--seed", "1", "--port", "0", "--quiet", "--journal", journal],
        stdout=subprocess.PIPE, text=True)
    line = sim.stdout.readline()
    if "listening on 127.0.0.1:" not in line:
        sim.kill()
        raise SystemExit("kxphone-sim did not start: " + line)
    return sim, int(line.rsplit(":", 1)[1])


def run(bin_dir, count):
    with tempfile.TemporaryDirectory() as tmp:
        journal = os.path.join(tmp, "journal.jsonl")
        seed_start = time.monotonic()
        sim, port = start_sim(bin_dir, count, journal)
        seed_seconds = time.monotonic() - seed_start
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "appdata"))
        usage = os.path.join(tmp, "usage")
        # GNU time measures the kxsync process alone (wall, user, system, peak RSS in KB).
        out = subprocess.run(
            ["/usr/bin/time", "-o", usage, "-f", "%e %U %S %M", os.path.join(bin_dir, "kxsync"), "--url",
             "http://127.0.0.1:%d" % port, "--serial", "bench", "contacts", "read", "--no-progress"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, check=False)
        with open(usage) as f:
            wall, user, system, rss_kb = f.read().split()[-4:]
        sim.terminate()
        sim.wait()
        paths = {}
        with open(journal) as f:
            for line in f:
                path = json.loads(line).get("path", "?")
                paths[path] = paths.get(path, 0) + 1
        return {
            "stored": count,
            "read": out.stdout.count(b"\n"),
            "rc": out.returncode,
            "wall_s": float(wall),
            "cpu_s": float(user) + float(system),
            "peak_rss_mb": int(rss_kb) / 1024.0,
            "requests": sum(paths.values()),
            "paths": paths,
            "seed_s": seed_seconds,
        }


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    bin_dir = sys.argv[1]
    counts = [int(c) for c in sys.argv[2:]] or [1000, 10000]
    print("%8s %8s %8s %9s %9s %11s %9s" % ("stored", "read", "rc", "wall s", "cpu s", "peak RSS MB", "requests"))
    for count in counts:
        r = run(bin_dir, count)
        print("%8d %8d %8d %9.2f %9.2f %11.1f %9d" % (r["stored"], r["read"], r["rc"], r["wall_s"], r["cpu_s"],
                                                      r["peak_rss_mb"], r["requests"]))
        print("         requests by path: " + ", ".join("%s %d" % kv for kv in sorted(r["paths"].items())))


if __name__ == "__main__":
    main()
