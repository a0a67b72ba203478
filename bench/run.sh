#!/usr/bin/env bash
# make bench: builds the release tools, makes the benchmark data once (kept in
# build/bench/data) and measures, warm cache, each command several times in
# turn with hyperfine; medians go to build/bench/results.md.
#
#   BENCH_RUNS=N       runs per command (default 7)
#   BENCH_LARGE=0      leave out the 200k-page build (its corpus takes 1.5 GB)
#   BENCH_BEFORE=FILE  another tessaly-cli measured side by side ("before")
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD:-$root/build}
out=$build/bench
data=$out/data
runs=${BENCH_RUNS:-7}
large=${BENCH_LARGE:-1}
before=${BENCH_BEFORE:-}
cli=$build/bin/tessaly-cli
floor=$build/bin/tessaly-floor
mkdir -p "$out" "$data"

# Data, made once per size (the generator is deterministic).
gen() {  # kind target pages
    [ -e "$2.done" ] && return
    rm -rf "$2"
    python3 "$here/gen_corpus.py" "$1" "$2" --pages "$3"
    touch "$2.done"
}
gen pages "$data/corpus20k" 20000
gen database "$data/db100k.kwf" 100000
gen database "$data/db1m.kwf" 1000000
[ "$large" = 1 ] && gen pages "$data/corpus200k" 200000
printf '\x8b\x9e\x93\x73\n' > "$data/kyoto.sjis"  # 京都 in Shift_JIS, for grep

# Warm the cache: read everything once.
cat "$data"/db*.kwf > /dev/null
"$floor" "$data/corpus20k" > /dev/null
[ "$large" = 1 ] && "$floor" "$data/corpus200k" > /dev/null

hf() {  # name command...
    local name=$1
    shift
    hyperfine --style basic -w 1 -r "$runs" --export-json "$out/$name.json" "$@" > "$out/$name.log"
}
tools=("$cli")
[ -n "$before" ] && tools+=("$before")
for tool in "${tools[@]}"; do
    tag=after
    [ "$tool" != "$cli" ] && tag=before
    hf "build20k-$tag" -n build -n floor \
        "$tool build $data/corpus20k $out/b20k-$tag.kwf > /dev/null 2>&1" "$floor $data/corpus20k"
    [ "$large" = 1 ] && hf "build200k-$tag" -n build -n floor \
        "$tool build $data/corpus200k $out/b200k-$tag.kwf > /dev/null 2>&1" "$floor $data/corpus200k"
    for db in 100k 1m; do
        hf "search$db-$tag" -n search -n grep \
            "$tool search $data/db$db.kwf 京都 --out $out/s$db-$tag.htm > /dev/null" \
            "LC_ALL=C grep -F -i -f $data/kyoto.sjis $data/db$db.kwf > $out/g$db.txt"
    done
    hf "info1m-$tag" -n info "$tool info $data/db1m.kwf > /dev/null"
done

# Peak resident memory (KB) of the current tools.
peak() { /usr/bin/time -f %M "$@" 2>&1 > /dev/null | tail -1; }
{
    echo "build20k $(peak "$cli" build "$data/corpus20k" "$out/m20k.kwf")"
    [ "$large" = 1 ] && echo "build200k $(peak "$cli" build "$data/corpus200k" "$out/m200k.kwf")"
    echo "search100k $(peak "$cli" search "$data/db100k.kwf" 京都 --out "$out/m100k.htm")"
    echo "search1m $(peak "$cli" search "$data/db1m.kwf" 京都 --out "$out/m1m.htm")"
} > "$out/memory.txt"

# The hit sets of 京都 against the generator's lists.
"$cli" search "$out/b20k-after.kwf" 京都 --out "$out/hits20k.htm" > /dev/null
python3 "$here/report.py" "$out" "$data" "$large" "${before:+before}"
echo "Results: $out/results.md"
