#!/usr/bin/env bash
# make bench-peers: the same kind of corpus (BENCH_PEER_PAGES pages, default
# 5000) indexed and searched for 京都 in title or keywords by Tessaly!,
# Namazu (mknmz -M -k under ja_JP.eucJP), Recoll and Xapian Omega
# (XAPIAN_CJK_NGRAM=1): index time, query time, and each hit set against the
# generator's list. Results in build/bench/peers.md.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD:-$root/build}
out=$build/bench/peers
pages=${BENCH_PEER_PAGES:-5000}
corpus=$out/corpus
cli=$build/bin/tessaly-cli
mkdir -p "$out"
rm -rf "$corpus" "$out"/idx-* "$out/messages.log"
python3 "$here/gen_corpus.py" pages "$corpus" --pages "$pages"
list=$corpus.kyoto.txt

# Namazu reads and writes EUC-JP; the locale must exist.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.eucjp$'; then
    localedef -i ja_JP -f EUC-JP ja_JP.eucJP || true
fi

seconds() {  # command... : prints the elapsed seconds, or why there are none
    local t0 t1 rc=0
    t0=$(date +%s.%N)
    "$@" > /dev/null 2>> "$out/messages.log" || rc=$?
    t1=$(date +%s.%N)
    if [ "$rc" = 0 ]; then echo "$t1 - $t0" | bc -l; else echo "failed (exit $rc, see messages.log)"; fi
}

# Relative backslash paths of the hits from a listing of file paths or URLs.
relpaths() {
    sed -e 's|^file://||' -e "s|^$corpus/||" -e 's|/|\\|g' | sort -u
}

score() {  # name hits-file
    local found missing
    found=$(comm -12 <(sort -u "$list") "$2" | wc -l)
    missing=$(comm -23 <(sort -u "$list") "$2" | wc -l)
    echo "$found | $missing | $(wc -l < "$2")"
}

report=$out/peers.md
{
    echo "# Peers on $pages generated pages ($(wc -l < "$list") hold 京都 in title or keywords)"
    echo
    echo "| tool | index | query | found | missing | hits |"
    echo "|---|---|---|---|---|---|"
} > "$report"

# Tessaly!
ti=$(seconds "$cli" build "$corpus" "$out/idx-tessaly.kwf")
tq=$(seconds "$cli" search "$out/idx-tessaly.kwf" 京都 --out "$out/tessaly.htm")
grep -o '<LI><A href="[^"]*"' "$out/tessaly.htm" | sed -e 's/.*href="//' -e 's/"$//' |
    relpaths > "$out/tessaly.hits"
echo "| Tessaly! | $ti s | $tq s | $(score tessaly "$out/tessaly.hits") |" >> "$report"

# Namazu: title and keywords are fields of its index (-M reads meta tags).
mkdir -p "$out/idx-namazu"
ni=$(LANG=ja_JP.eucJP seconds mknmz -M -k -O "$out/idx-namazu" "$corpus")
q=$(printf '+title:%s or +keywords:%s' 京都 京都 | iconv -f UTF-8 -t EUC-JP)
nq=$(LANG=ja_JP.eucJP seconds namazu -a -l "$q" "$out/idx-namazu")
LANG=ja_JP.eucJP namazu -a -l "$q" "$out/idx-namazu" 2>/dev/null | relpaths > "$out/namazu.hits" || true
echo "| Namazu | $ni s | $nq s | $(score namazu "$out/namazu.hits") |" >> "$report"

# Recoll: its own configuration folder; title and keywords are fields.
mkdir -p "$out/idx-recoll"
printf 'topdirs = %s\n' "$corpus" > "$out/idx-recoll/recoll.conf"
ri=$(seconds recollindex -c "$out/idx-recoll")
rq=$(seconds recollq -c "$out/idx-recoll" -b -n 0-100000 "title:京都 OR keywords:京都")
recollq -c "$out/idx-recoll" -b -n 0-100000 "title:京都 OR keywords:京都" 2>/dev/null |
    relpaths > "$out/recoll.hits" || true
echo "| Recoll | $ri s | $rq s | $(score recoll "$out/recoll.hits") |" >> "$report"

# Xapian Omega: omindex with CJK n-grams; titles are prefix S, keywords K.
export XAPIAN_CJK_NGRAM=1
oi=$(seconds omindex --db "$out/idx-omega" --url / "$corpus")
oq=$(seconds quest -d "$out/idx-omega" -m 100000 --prefix=title:S --prefix=keywords:K \
    "title:京都 OR keywords:京都")
quest -d "$out/idx-omega" -m 100000 --prefix=title:S --prefix=keywords:K \
    "title:京都 OR keywords:京都" 2>/dev/null | sed -n 's/.*url=\([^[:space:]]*\).*/\1/p' |
    sed "s|^/|$corpus/|" | relpaths > "$out/omega.hits" || true
echo "| Xapian Omega | $oi s | $oq s | $(score omega "$out/omega.hits") |" >> "$report"

cat "$report"
