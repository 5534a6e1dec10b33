#!/usr/bin/env bash
# The emulated phone against the host build in instructions, counted by
# callgrind: one run of the scenario on each (the emulated one with its
# set-up, a fresh CPU and the first translation of the code). Unlike the
# times emu_bench prints, the counts do not depend on the machine's load.
#
#   tests/emu/emu_callgrind.sh [BENCH [EXE [SCENARIO]]]
# Defaults: the default preset's klavor_emu_bench, build/phone/klavor.exe,
# one hour of phone time.
set -euo pipefail
cd "$(dirname "$0")/../.."
bench=${1:-build/default/tests/emu/klavor_emu_bench}
exe=${2:-build/phone/klavor.exe}
scenario=${3:-tests/emu/scenarios/one-hour.scenario}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

count() {  # the instructions spent inside functions matching $1
    valgrind --tool=callgrind --callgrind-out-file="$out/$2" --toggle-collect="$1" \
        "$bench" --once "$exe" "$scenario" > "$out/$2.log" 2>&1
    sed -n 's/^summary: *//p' "$out/$2"
}
host=$(count 'WinMain' host)
emulated=$(count 'emu::RunProgram*' emulated)
awk -v s="$(basename "$scenario")" -v h="$host" -v e="$emulated" \
    'BEGIN { printf "%s: host %d instructions, emulated %d, emulated / host %.1f\n", s, h, e, e / h }'
