#!/usr/bin/env bash
# make bench: builds the release tools, makes the benchmark data once (kept in
# build/bench/data) and measures each work with hyperfine, the tools of one
# row (this tree, "before" when given, and the reference: the floor or grep)
# in turn, round after round. Medians go to build/bench/results.md.
#
#   BENCH_RUNS=N       rounds (default 7): a round runs each build once, each
#                      search 5 times
#   BENCH_LARGE=0      leave out the 200k-page corpus (it takes 1.5 GB)
#   BENCH_BEFORE=FILE  another tessaly-cli measured in the same rows ("before")
#
# Warm rows read everything once first. Cold rows (builds) drop the page
# cache before every run (sync; echo 3 > /proc/sys/vm/drop_caches); where
# that cannot be written they are left out and results.md says so. Searches
# write the result page and the listing to files, as grep writes its lines.
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
drop='sync; echo 3 > /proc/sys/vm/drop_caches'
mkdir -p "$out" "$data"
rm -f "$out"/*.json "$out"/*.log "$out/memory.txt" "$out/cold.txt"
if [ -n "$before" ]; then
    before=$(readlink -f "$before")
    [ -x "$before" ] || { echo "BENCH_BEFORE: not a program: $before" >&2; exit 2; }
fi

# Data, made once per size (the generator is deterministic).
gen() {  # kind target pages [share]
    [ -e "$2.done" ] && return
    rm -rf "$2"
    python3 "$here/gen_corpus.py" "$1" "$2" --pages "$3" ${4:+--share "$4"}
    touch "$2.done"
}
gen pages "$data/corpus20k" 20000
gen database "$data/db100k.kwf" 100000
gen database "$data/db1m.kwf" 1000000
gen database "$data/dbhit200k.kwf" 200000 0.3333
[ "$large" = 1 ] && gen pages "$data/corpus200k" 200000
printf '\x8b\x9e\x93\x73\n' > "$data/kyoto.sjis"  # 京都 in Shift_JIS, for grep

# Whether the page cache can be dropped here (root, a writable /proc/sys).
cold=1
if ! (sync && echo 3 > /proc/sys/vm/drop_caches) 2> /dev/null; then
    cold=0
    echo "/proc/sys/vm/drop_caches cannot be written here (needs root and a writable /proc/sys)" \
        > "$out/cold.txt"
fi

# Warm the cache: read everything once.
warm() {
    cat "$data"/db*.kwf > /dev/null
    "$floor" "$data/corpus20k" > /dev/null
    [ "$large" = 1 ] && "$floor" "$data/corpus200k" > /dev/null
    return 0
}
warm

# row NAME warm|cold PER REFNAME REFCOMMAND COMMAND: this tree's tool
# ("after"), before's when given, and the reference, taken in turn: a round
# runs each PER times (one hyperfine run, its order turned by one every round,
# so that no tool always follows another), and there are BENCH_RUNS rounds, so
# a change of load on a shared machine falls on all of them alike. @TOOL@ and @TAG@ in
# COMMAND stand for the tool and its name. Warm rows run each command once
# unmeasured before the first round; cold rows drop the page cache before
# every run.
row() {
    local name=$1 mode=$2 per=$3 refname=$4 ref=$5 cmd=$6 a
    a=${cmd//@TOOL@/$cli}
    local names=(after) cmds=("${a//@TAG@/after}")
    if [ -n "$before" ]; then
        a=${cmd//@TOOL@/$before}
        names+=(before)
        cmds+=("${a//@TAG@/before}")
    fi
    if [ -n "$refname" ]; then
        names+=("$refname")
        cmds+=("$ref")
    fi
    echo "== $name" >&2
    rm -f "$out/$name".*.json
    local i k j n=${#names[@]} args opts
    for ((i = 1; i <= runs; i++)); do
        args=()
        for ((k = 0; k < n; k++)); do
            j=$(((i - 1 + k) % n))
            args+=(-n "${names[j]}" "${cmds[j]}")
        done
        opts=(-w 0)
        [ "$mode" = warm ] && [ "$i" = 1 ] && opts=(-w 1)
        [ "$mode" = cold ] && opts+=(--prepare "$drop")
        hyperfine --style basic -r "$per" "${opts[@]}" --export-json "$out/$name.$i.json" "${args[@]}" \
            >> "$out/$name.log"
    done
}

build_row() {  # size warm|cold
    local name=build$1
    [ "$2" = cold ] && name=cold$1
    row "$name" "$2" 1 floor "$floor $data/corpus$1 > /dev/null" \
        "@TOOL@ build $data/corpus$1 $out/b$1-@TAG@.kwf > /dev/null 2>&1"
}

search_row() {  # name database
    row "$1" warm 5 grep "LC_ALL=C grep -F -i -f $data/kyoto.sjis $data/$2 > $out/g-$1.txt" \
        "@TOOL@ search $data/$2 京都 --out $out/s-$1-@TAG@.htm > $out/l-$1-@TAG@.txt"
}

build_row 20k warm
[ "$large" = 1 ] && build_row 200k warm
search_row search100k db100k.kwf
search_row search1m db1m.kwf
search_row searchhit200k dbhit200k.kwf
row info1m warm 5 "" "" "@TOOL@ info $data/db1m.kwf > /dev/null"
if [ "$cold" = 1 ]; then
    build_row 20k cold
    [ "$large" = 1 ] && build_row 200k cold
fi
warm

# Peak resident memory (KB) of each tool.
peak() { /usr/bin/time -f %M "$@" 2>&1 > /dev/null | tail -1; }
tools=("after:$cli")
[ -n "$before" ] && tools+=("before:$before")
for entry in "${tools[@]}"; do
    tag=${entry%%:*}
    tool=${entry#*:}
    echo "build20k $tag $(peak "$tool" build "$data/corpus20k" "$out/m20k.kwf")"
    [ "$large" = 1 ] && echo "build200k $tag $(peak "$tool" build "$data/corpus200k" "$out/m200k.kwf")"
    echo "search100k $tag $(peak "$tool" search "$data/db100k.kwf" 京都 --out "$out/m100k.htm")"
    echo "search1m $tag $(peak "$tool" search "$data/db1m.kwf" 京都 --out "$out/m1m.htm")"
    echo "searchhit200k $tag $(peak "$tool" search "$data/dbhit200k.kwf" 京都 --out "$out/mhit.htm")"
done > "$out/memory.txt"

# The hit sets of 京都 against the generator's lists.
"$cli" search "$out/b20k-after.kwf" 京都 --out "$out/hits20k.htm" > /dev/null
python3 "$here/report.py" "$out" "$data" "$large" "$runs" "${before:+before}"
echo "Results: $out/results.md"
