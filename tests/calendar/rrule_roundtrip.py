#!/usr/bin/env python3
# Whether pairs of rule texts repeat on the same instants, expanded by dateutil. One case a line,
# tab-separated: wall-time DTSTART (yyyymmddThhmmss), zone offset in minutes east, rule read, rule
# written. Open series are compared up to a horizon. Prints each differing case; exit status 1 then.
import datetime
import itertools
import sys

from dateutil import rrule, tz

HORIZON = datetime.datetime(2100, 1, 1, tzinfo=tz.UTC)
MAX_INSTANCES = 3000


def expand(rule, dtstart):
    series = rrule.rrulestr(rule, dtstart=dtstart)
    return list(itertools.takewhile(lambda t: t < HORIZON, itertools.islice(series, MAX_INSTANCES)))


def main(path):
    failures = 0
    with open(path, encoding="ascii") as cases:
        for line in cases:
            line = line.rstrip("\n")
            if not line:
                continue
            start, east, read, written = line.split("\t")
            zone = tz.tzoffset(None, int(east) * 60)
            dtstart = datetime.datetime.strptime(start, "%Y%m%dT%H%M%S").replace(tzinfo=zone)
            try:
                before, after = expand(read, dtstart), expand(written, dtstart)
            except ValueError as e:
                print(f"{read} -> {written}: {e}")
                failures += 1
                continue
            if not before or before != after:
                diff = sorted(set(before) ^ set(after))[:3]
                print(f"{read} -> {written}: {len(before)} vs {len(after)} instances, first differing "
                      f"{[t.isoformat() for t in diff]}")
                failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
