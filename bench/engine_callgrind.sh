#!/usr/bin/env bash
# The engine's instructions per idle tick, per press, per firing tick and
# per recapture sweep of 8 slots, counted by callgrind against platform calls
# that return at once (stub_platform.cpp), and the platform calls each makes.
# Instruction counts do not depend on the machine's load, only on the
# compiler and its flags (measure the bench preset's release build).
#
#   cmake --workflow --preset bench && bench/engine_callgrind.sh
set -euo pipefail
bench=${1:-build/bench/bench/engine_bench}
n=1000
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# op:function whose whole cost, callees included, is one operation
for pair in idle:OnTimerTick press:OnHotKey fire:OnTimerTick sweep:CaptureAll; do
    op=${pair%%:*}
    fn=${pair#*:}
    valgrind --tool=callgrind --callgrind-out-file="$out/$op" --toggle-collect="$fn*" \
        "$bench" --count "$op" "$n" 2> "$out/$op.log"
    total=$(sed -n 's/^summary: *//p' "$out/$op")
    # Calls into the stubs: each "< caller (Nx)" line above a "* stub" line.
    calls=$(callgrind_annotate --tree=caller "$out/$op" 2> /dev/null | awk '
        /^ *[0-9,]+ .*< .*\([0-9,]+x\)/ { match($0, /\([0-9,]+x\)/); c = substr($0, RSTART + 1, RLENGTH - 3); gsub(",", "", c); next_c = c; next }
        /\* .*(RegisterHotKey|UnregisterHotKey|keybd_event|StubUnregisterFunc1|RegOpenKeyExW|RegQueryValueExW|RegCloseKey)/ { sum += next_c }
        END { print sum + 0 }')
    printf '%-6s %5d instructions, %2d platform calls\n' "$op" $(( (total + n / 2) / n )) $(( calls / n ))
done
