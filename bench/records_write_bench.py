#!/usr/bin/env python3
"""Writing contacts and events through kxsync to kxphone-sim on loopback, beside a full read of
the same data in the same run.

For each kind: seeds kxphone-sim with COUNT records and reads them with
`kxsync --json KIND read` (the read figures), then starts an empty kxphone-sim and writes the same
lines back as creates with `kxsync --json KIND write FILE` (the write figures). Reports wall time,
kxsync CPU time and peak resident memory, records, requests served, and the write/read ratios.

usage: bench/records_write_bench.py BIN_DIR [CONTACTS [EVENTS]]   (default 10000 3000)
Use a Release build without sanitizers.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

# Picture folders on /dev/shm when it exists: ext4 skips inodes freed in the last half minute when
# it allocates one, so reads into fresh folders would measure that search as much as the driver.
PICTURES = "/dev/shm" if os.path.isdir("/dev/shm") else tempfile.gettempdir()


def start_sim(bin_dir, seed_flag, count, journal):
    args = [os.path.join(bin_dir, "kxphone-sim"), "--db", ":memory:", "--seed", "1", "--port", "0", "--quiet",
            "--journal", journal]
    if count:
        args += [seed_flag, str(count)]
    sim = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
    line = sim.stdout.readline()
    if "listening on 127.0.0.1:" not in line:
        sim.kill()
        raise SystemExit("kxphone-sim did not start: " + line)
    return sim, int(line.rsplit(":", 1)[1])


def kxsync(bin_dir, tmp, port, arguments, output):
    usage = os.path.join(tmp, "usage")
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(PICTURES, os.path.basename(tmp)), TZ="UTC")
    with open(output, "wb") as out:
        rc = subprocess.run(["/usr/bin/time", "-o", usage, "-f", "%e %U %S %M", os.path.join(bin_dir, "kxsync"),
                             "--no-progress", "--port", str(port)] + arguments,
                            stdout=out, stderr=subprocess.DEVNULL, env=env, check=False).returncode
    with open(usage) as f:
        wall, user, system, rss_kb = f.read().split()[-4:]
    return {"rc": rc, "wall_s": float(wall), "cpu_s": float(user) + float(system), "rss_mb": int(rss_kb) / 1024.0}


def served(journal):
    with open(journal) as f:
        return sum(1 for line in f if json.loads(line).get("path") != "/session_ctrl")


def measure(bin_dir, kind, seed_flag, count):
    with tempfile.TemporaryDirectory() as tmp:
        pictures = os.path.join(PICTURES, os.path.basename(tmp))
        read_journal, write_journal = os.path.join(tmp, "read.jsonl"), os.path.join(tmp, "write.jsonl")
        lines, answers = os.path.join(tmp, "lines.jsonl"), os.path.join(tmp, "answers.jsonl")
        sim, port = start_sim(bin_dir, seed_flag, count, read_journal)
        read = kxsync(bin_dir, tmp, port, ["--json", kind, "read"], lines)
        sim.terminate()
        sim.wait()
        read["records"] = sum(1 for _ in open(lines))
        read["requests"] = served(read_journal)

        creates = os.path.join(tmp, "creates.jsonl")
        with open(lines) as src, open(creates, "w") as dst:
            for line in src:
                record = json.loads(line)
                record.pop("id", None)
                record.pop("picture", None)  # the seeded pictures are larger than a write may send
                record["op"] = "create"
                dst.write(json.dumps(record) + "\n")
        sim, port = start_sim(bin_dir, seed_flag, 0, write_journal)
        write = kxsync(bin_dir, tmp, port, ["--json", kind, "write", creates], answers)
        sim.terminate()
        sim.wait()
        write["records"] = sum(1 for line in open(answers) if json.loads(line).get("error") == "")
        write["requests"] = served(write_journal)
        shutil.rmtree(pictures, ignore_errors=True)
        return read, write


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    bin_dir = sys.argv[1]
    contacts = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    events = int(sys.argv[3]) if len(sys.argv) > 3 else 3000
    print("%-9s %-6s %8s %4s %8s %8s %8s %10s %9s" %
          ("kind", "op", "records", "rc", "wall s", "cpu s", "us/rec", "peak MB", "requests"))
    for kind, flag, count in (("contacts", "--seed-contacts", contacts), ("calendar", "--seed-events", events)):
        read, write = measure(bin_dir, kind, flag, count)
        for op, r in (("read", read), ("write", write)):
            print("%-9s %-6s %8d %4d %8.2f %8.2f %8.1f %10.1f %9d" %
                  (kind, op, r["records"], r["rc"], r["wall_s"], r["cpu_s"],
                   1e6 * r["cpu_s"] / max(r["records"], 1), r["rss_mb"], r["requests"]))
        print("%-9s write/read: wall %.2f, cpu %.2f" %
              (kind, write["wall_s"] / read["wall_s"], write["cpu_s"] / max(read["cpu_s"], 1e-9)))


if __name__ == "__main__":
    main()
