#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a number of seconds each, seeded
# from the test fixtures and the sample pages, and prints one summary line per
# target: runs, seconds and executions per second. Fails on the first finding
# (the crashing input is kept as <build>/artifacts/<target>-crash-...).
#   usage: scripts/run-fuzz.sh <fuzz build folder> <seconds per target>
set -euo pipefail
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/artifacts"
summary=()
for target in "$build"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus="$build/corpus/$name"
    mkdir -p "$corpus"
    log="$build/$name.log"
    echo "== $name: ${seconds}s"
    if ! "$target" "$corpus" "$root/tests/data" "$root/examples/pages" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -max_len=8192 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" >"$log" 2>&1; then
        tail -40 "$log"
        echo "FINDING in $name (log: $log)"
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
    [ -n "$secs" ] && [ "$secs" -gt 0 ] || secs=$seconds
    summary+=("$(printf '%-14s %9s runs in %4ss  %7s exec/s' "$name" "$runs" "$secs" "$((runs / secs))")")
done
echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
