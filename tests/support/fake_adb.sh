#!/bin/sh
# Stands in for the debug bridge. Every call appends its argument vector to $KX_FAKE_ADB_DIR/calls
# as one line, each argument in angle brackets. Behaviour is read from files in that folder:
#   codes  exit codes, one per line, each used by one call (then "exit", then 0)
#   exit   the exit code once "codes" is used up
#   state  what "get-state" prints (default "device")
#   sleep  seconds to sleep before answering
d="$KX_FAKE_ADB_DIR"
line=""
for a in "$@"; do line="$line<$a>"; done
echo "$line" >> "$d/calls"
if [ -s "$d/sleep" ]; then sleep "$(cat "$d/sleep")"; fi
for a in "$@"; do
    if [ "$a" = "get-state" ]; then
        if [ -f "$d/state" ]; then cat "$d/state"; else echo device; fi
    fi
done
code=0
if [ -s "$d/exit" ]; then code=$(cat "$d/exit"); fi
if [ -s "$d/codes" ]; then
    code=$(head -n 1 "$d/codes")
    tail -n +2 "$d/codes" > "$d/codes.next"
    mv "$d/codes.next" "$d/codes"
fi
exit "$code"
