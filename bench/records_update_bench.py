#!/usr/bin/env python3
"""Updating every contact of a seeded kxphone-sim through kxsync, with the carry-over of what the
host's record cannot hold (BIN_DIR) beside a build without it (BASELINE_BIN_DIR), in one run.

Each build gets its own freshly seeded simulator; the contacts are read once with
`kxsync --json contacts read` and written back unchanged as updates. Reports wall time, kxsync CPU,
peak memory, requests served by path, and the ratio of the two writes.

usage: bench/records_update_bench.py BIN_DIR BASELINE_BIN_DIR [COUNT]   (default 10000)
Use Release builds without sanitizers.
"""
import json
import os
import sys
import tempfile

import shutil

from records_write_bench import PICTURES, kxsync, start_sim


def update(bin_dir, count, tmp, tag):
    journal = os.path.join(tmp, tag + ".journal")
    lines, updates, answers = (os.path.join(tmp, tag + name) for name in (".read", ".updates", ".answers"))
    sim, port = start_sim(bin_dir, "--seed-contacts", count, journal)
    kxsync(bin_dir, tmp, port, ["--json", "contacts", "read"], lines)
    with open(lines) as src, open(updates, "w") as dst:
        for line in src:
            record = json.loads(line)
            record["op"] = "update"
            dst.write(json.dumps(record) + "\n")
    open(journal, "w").close()  # count the write's requests only
    result = kxsync(bin_dir, tmp, port, ["--json", "contacts", "write", updates], answers)
    sim.terminate()
    sim.wait()
    paths = {}
    with open(journal) as f:
        for line in f:
            path = json.loads(line).get("path", "?")
            if path != "/session_ctrl":
                paths[path] = paths.get(path, 0) + 1
    result["paths"] = paths
    result["records"] = sum(1 for line in open(answers) if json.loads(line).get("error") == "")
    return result


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 10000
    with tempfile.TemporaryDirectory() as tmp:
        carry = update(sys.argv[1], count, tmp, "carry")
        plain = update(sys.argv[2], count, tmp, "plain")
        shutil.rmtree(os.path.join(PICTURES, os.path.basename(tmp)), ignore_errors=True)
    for name, r in (("with carry-over", carry), ("without", plain)):
        print("%-16s updated %6d rc %d  wall %.2f s  cpu %.2f s  peak %.1f MB  requests %s" %
              (name, r["records"], r["rc"], r["wall_s"], r["cpu_s"], r["rss_mb"],
               ", ".join("%s %d" % kv for kv in sorted(r["paths"].items()))))
    print("with/without: wall %.2f, requests %.2f" %
          (carry["wall_s"] / plain["wall_s"], sum(carry["paths"].values()) / sum(plain["paths"].values())))


if __name__ == "__main__":
    main()
