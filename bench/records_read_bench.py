#!/usr/bin/env python3
"""Full reads of contacts and events through kxsync against kxphone-sim on loopback, this build
(BIN_DIR) beside another (BASELINE_BIN_DIR, e.g. today's main), in one run.

For each build and kind: a freshly seeded in-memory kxphone-sim, then `kxsync KIND read`
RUNS times, each into a fresh picture folder (best wall time kept), and once more
into the folder of the last run (the pictures are there already: "again"). Reports wall time,
kxsync CPU per delivered record, peak resident memory, requests served by the simulator, and the
simulator's own CPU per request (from /proc, over kxsync's run). A last pair of reads with the
smaller store shows whether kxsync's memory grows with the records read.

Picture folders go to /dev/shm when it exists: ext4 skips inodes freed in the last half minute
when it allocates one, so a bench that removes a run's 1,400 picture files and creates them again
would measure that search instead of the driver (both builds alike, but by chance).

usage: bench/records_read_bench.py BIN_DIR BASELINE_BIN_DIR [CONTACTS [EVENTS [RUNS]]]
       (default 10000 3000 3)
Use Release builds without sanitizers. Targets: 10,000 contacts in at most 0.4 s wall
and 20 us of kxsync CPU per contact; 3,000 events likewise.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

from records_write_bench import start_sim


SESSION_LINES = (b"InitDriver:", b"SetParam(", b"InitSync(", b"UninitSync:")


def sim_cpu(pid):
    # Nanoseconds run by every thread of the process (the scheduler's own count, not ticks).
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total / 1e9


def requests(journal):
    with open(journal) as f:
        return sum(1 for _ in f)


def read_once(bin_dir, kind, port, sim, journal, pictures, tmp):
    open(journal, "w").close()  # count this read's requests only
    out = os.path.join(tmp, "records")
    env = dict(os.environ, XDG_DATA_HOME=pictures, TZ="UTC")
    before = sim_cpu(sim.pid)
    with open(out, "wb") as f:
        # wait4 gives the child's own CPU time and peak memory, in microseconds and KB.
        start = time.monotonic()
        child = subprocess.Popen([os.path.join(bin_dir, "kxsync"), "--no-progress", "--port", str(port), kind,
                                  "read"], stdout=f, stderr=subprocess.DEVNULL, env=env)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.monotonic() - start
        child.returncode = os.waitstatus_to_exitcode(status)
    sim_s = sim_cpu(sim.pid) - before
    with open(out, "rb") as f:
        # One line per record; the calendar also prints the driver's session calls.
        records = sum(1 for line in f if not line.startswith(SESSION_LINES))
    served = requests(journal)
    return {"rc": child.returncode, "wall_s": wall, "cpu_s": usage.ru_utime + usage.ru_stime,
            "rss_mb": usage.ru_maxrss / 1024.0, "records": records, "requests": served, "sim_s": sim_s}


def measure(bin_dir, kind, seed_flag, count, runs, scratch):
    with tempfile.TemporaryDirectory() as tmp:
        journal = os.path.join(tmp, "journal.jsonl")
        sim, port = start_sim(bin_dir, seed_flag, count, journal)
        try:
            best = None
            for i in range(runs):
                pictures = tempfile.mkdtemp(dir=scratch)
                r = read_once(bin_dir, kind, port, sim, journal, pictures, tmp)
                if best is None or r["wall_s"] < best["wall_s"]:
                    best = r
            again = read_once(bin_dir, kind, port, sim, journal, pictures, tmp)
        finally:
            sim.terminate()
            sim.wait()
        return best, again


def row(name, r):
    per = 1e6 * r["cpu_s"] / max(r["records"], 1)
    sim_per = 1e3 * r["sim_s"] / max(r["requests"], 1)
    return "%-22s %8d %3d %7.3f %7.3f %8.1f %8.1f %8d %9.3f" % (
        name, r["records"], r["rc"], r["wall_s"], r["cpu_s"], per, r["rss_mb"], r["requests"], sim_per)


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    bin_dir, base_dir = sys.argv[1], sys.argv[2]
    contacts = int(sys.argv[3]) if len(sys.argv) > 3 else 10000
    events = int(sys.argv[4]) if len(sys.argv) > 4 else 3000
    runs = int(sys.argv[5]) if len(sys.argv) > 5 else 3
    scratch = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        print("%-22s %8s %3s %7s %7s %8s %8s %8s %9s" %
              ("build / kind", "records", "rc", "wall s", "cpu s", "us/rec", "peak MB", "requests", "sim ms/rq"))
        results = {}
        for kind, flag, count in (("contacts", "--seed-contacts", contacts), ("calendar", "--seed-events", events)):
            for tag, d in (("this", bin_dir), ("baseline", base_dir)):
                best, again = measure(d, kind, flag, count, runs, scratch)
                results[(tag, kind)] = best
                print(row("%s %s" % (tag, kind), best))
                print(row("%s %s again" % (tag, kind), again))
            this, base = results[("this", kind)], results[("baseline", kind)]
            print("%-22s wall %.2fx, kxsync cpu %.2fx, simulator cpu per request %.2fx" %
                  ("  %s speed-up" % kind, base["wall_s"] / this["wall_s"], base["cpu_s"] / max(this["cpu_s"], 1e-9),
                   (base["sim_s"] / max(base["requests"], 1)) / max(this["sim_s"] / max(this["requests"], 1), 1e-9)))
        for tag, d in (("this", bin_dir), ("baseline", base_dir)):
            small, _ = measure(d, "contacts", "--seed-contacts", max(contacts // 10, 1), 1, scratch)
            big = results[(tag, "contacts")]
            print("memory (%s): %d contacts %.1f MB, %d contacts %.1f MB" %
                  (tag, small["records"], small["rss_mb"], big["records"], big["rss_mb"]))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
