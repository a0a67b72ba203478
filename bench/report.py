#!/usr/bin/env python3
"""Writes results.md from the hyperfine exports, memory.txt and the result
pages of a bench run.  report.py OUT DATA LARGE RUNS [before]"""
import json
import os
import re
import sys

out, data, large, runs = sys.argv[1], sys.argv[2], sys.argv[3] == "1", sys.argv[4]
with_before = len(sys.argv) > 5 and bool(sys.argv[5])
tags = (["before"] if with_before else []) + ["after"]


def results(name):
    """The rounds of a row (NAME.1.json, NAME.2.json, ...) taken together:
    for each command, its wall time and CPU time (user + system) in each
    round (the median and the mean of the round's runs)."""
    found = {}
    i = 1
    while os.path.exists(os.path.join(out, "%s.%d.json" % (name, i))):
        with open(os.path.join(out, "%s.%d.json" % (name, i))) as f:
            for r in json.load(f)["results"]:
                mine = found.setdefault(r["command"], {"wall": [], "cpu": []})
                mine["wall"].append(median(r["times"]))
                mine["cpu"].append(r["user"] + r["system"])
        i += 1
    return found or None


def median(xs):
    xs = sorted(xs)
    half = len(xs) // 2
    return xs[half] if len(xs) % 2 else (xs[half - 1] + xs[half]) / 2


def med(r):
    return median(r["wall"])


def cpu(r):
    return median(r["cpu"])


def secs(x):
    return "%.3f s" % x


def mb(name):
    return os.path.getsize(os.path.join(data, name)) / 1e6


def count(listing):
    with open(listing, encoding="utf-8") as f:
        return sum(1 for line in f if line.strip())


def paired(r, ref, kind):
    """The median of the ratios within each round: commands run side by side
    in a round share its load, so a drift of load between rounds (other work
    on a shared machine, a disk slower for a while) drops out."""
    return median([a / b for a, b in zip(r[kind], ref[kind])])


def ratio(r, ref):
    return "%.2f× (%.2f×)" % (paired(r, ref, "wall"), paired(r, ref, "cpu"))


# The rows: (json name, work, reference name, reference label).
db100k, db1m, dbhit = "db100k.kwf", "db1m.kwf", "dbhit200k.kwf"
ROWS = [
    ("build20k", "build 20k pages, warm", "floor", "floor"),
    ("build200k", "build 200k pages, warm", "floor", "floor"),
    ("cold20k", "build 20k pages, cold", "floor", "floor"),
    ("cold200k", "build 200k pages, cold", "floor", "floor"),
    ("search100k", "search 100k pages (%.1f MB), %s hits" % (
        mb(db100k), format(count(os.path.join(data, db100k + ".kyoto.txt")), ",")), "grep", "grep"),
    ("search1m", "search 1M pages (%.1f MB), %s hits" % (
        mb(db1m), format(count(os.path.join(data, db1m + ".kyoto.txt")), ",")), "grep", "grep"),
    ("searchhit200k", "search 200k pages (%.1f MB), %s hits" % (
        mb(dbhit), format(count(os.path.join(data, dbhit + ".kyoto.txt")), ",")), "grep", "grep"),
    ("info1m", "`info` on 1M pages", None, None),
]

lines = ["# Tessaly! benchmarks", "",
         "Medians of %s rounds (hyperfine): a round runs the commands of a row in turn, a build "
         "once, a search or info 5 times (their median), the order turned every round. Warm rows read everything once first; cold rows "
         "drop the page cache before every run. Searches are for "
         "京都 and write the result page and the listing to files; the reference is the floor of a "
         "build (walk, open, read 4 KiB, close) or `LC_ALL=C grep -F -i` writing its lines to a file. "
         "Ratios are to the reference, the median of the ratios within each round: wall time, and CPU time (user + system) in brackets." % runs,
         ""]
if with_before:
    lines += ["| work | before | after | reference | ratio, before | ratio, after |",
              "|---|---|---|---|---|---|"]
else:
    lines += ["| work | Tessaly! | reference | ratio |", "|---|---|---|---|"]
measured = {}
for name, work, refname, reflabel in ROWS:
    r = results(name)
    if not r:
        continue
    measured[name] = r
    ref = r.get(refname) if refname else None
    cells = [work] + [secs(med(r[t])) for t in tags]
    cells.append("%s %s" % (reflabel, secs(med(ref))) if ref else "")
    cells += [ratio(r[t], ref) if ref else "" for t in tags]
    lines.append("| " + " | ".join(cells) + " |")
lines.append("")
cold_note = os.path.join(out, "cold.txt")
if os.path.exists(cold_note):
    with open(cold_note) as f:
        lines += ["Cold rows left out: %s." % f.read().strip(), ""]

memory = {}
with open(os.path.join(out, "memory.txt")) as f:
    for row in f:
        name, tag, kb = row.split()
        memory[(name, tag)] = int(kb) / 1024
lines += ["Peak resident memory:", "",
          "| work | " + " | ".join(tags) + " |", "|---|" + "---|" * len(tags)]
for name, work in (("build20k", "build 20k pages"), ("build200k", "build 200k pages"),
                   ("search100k", "search 100k pages"), ("search1m", "search 1M pages"),
                   ("searchhit200k", "search 200k pages, a third hit")):
    if (name, "after") in memory:
        lines.append("| %s | %s |" % (work, " | ".join(
            "%.1f MB" % memory[(name, t)] for t in tags)))
lines.append("")


def hits(page, folder):
    with open(os.path.join(out, page), "rb") as f:
        text = f.read().decode("cp932")
    prefix = "file://" + os.path.abspath(folder) + "/"
    found = set()
    for href in re.findall(r'<LI><A href="([^"]*)"', text):
        if href.startswith(prefix):
            href = href[len(prefix):]
        found.add(href.replace("/", "\\"))
    return found


def expected(listing):
    with open(listing, encoding="utf-8") as f:
        return set(l.strip() for l in f if l.strip())


goals = []
lines += ["Hit sets of 京都 (this tree) against the generator's lists:", "",
          "| data | expected | found | missing | extra |", "|---|---|---|---|---|"]
for label, page, folder, listing in (
        ("20k pages, built", "hits20k.htm", os.path.join(data, "corpus20k"),
         os.path.join(data, "corpus20k.kyoto.txt")),
        ("100k database", "s-search100k-after.htm", data, os.path.join(data, db100k + ".kyoto.txt")),
        ("1M database", "s-search1m-after.htm", data, os.path.join(data, db1m + ".kyoto.txt")),
        ("200k database, a third hit", "s-searchhit200k-after.htm", data,
         os.path.join(data, dbhit + ".kyoto.txt"))):
    want, got = expected(listing), hits(page, folder)
    lines.append("| %s | {:,} | {:,} | {:,} | {:,} |".format(
        len(want), len(got), len(want - got), len(got - want)) % label)
    goals.append(("hit set, %s" % label, want == got,
                  "{:,} of {:,}".format(len(want & got), len(want))))
lines.append("")


def same(a, b):
    """Whether two outputs are byte for byte the same, a database's Update
    line (the time of its build) set aside."""
    texts = []
    for name in (a, b):
        with open(os.path.join(out, name), "rb") as f:
            texts.append(re.sub(rb"^Update = [^\r\n]*", b"", f.read(), flags=re.M))
    return texts[0] == texts[1]


if with_before:
    pairs = [("b%s-after.kwf" % s, "b%s-before.kwf" % s) for s in ("20k", "200k")
             if os.path.exists(os.path.join(out, "b%s-after.kwf" % s))]
    for name in ("search100k", "search1m", "searchhit200k"):
        pairs += [("%s-%s-after.%s" % (k, name, e), "%s-%s-before.%s" % (k, name, e))
                  for k, e in (("s", "htm"), ("l", "txt"))]
    differ = [a for a, b in pairs if not same(a, b)]
    lines += ["Outputs of after and before (%d: the databases built, the result pages and "
              "listings): %s." % (len(pairs), "the same, byte for byte" if not differ else
                                  "**%d differ**: %s" % (len(differ), ", ".join(differ))), ""]


def ratio_goal(goal, name, refname, limit, prefix=""):
    r = measured.get(name)
    if not r:
        return goals.append((goal, None, "not measured"))
    a, ref = r["after"], r[refname]
    goals.append((goal, paired(a, ref, "wall") <= limit, "%s%.2f× (CPU %.2f×)" % (
        prefix, paired(a, ref, "wall"), paired(a, ref, "cpu"))))


size = "200k" if large else "20k"
note = "" if large else "on 20k pages (BENCH_LARGE=0): "
ratio_goal("search, a third of pages hit ≤ 2× grep", "searchhit200k", "grep", 2)
ratio_goal("search 1M pages, 5% hit ≤ 1.5× grep", "search1m", "grep", 1.5)
ratio_goal("build 200k pages ≤ 1.5× the floor, warm", "build" + size, "floor", 1.5, note)
if os.path.exists(cold_note):
    goals.append(("build 200k pages ≤ 1.15× the floor, cold", None,
                  "not measured: the page cache cannot be dropped here"))
else:
    ratio_goal("build 200k pages ≤ 1.15× the floor, cold", "cold" + size, "floor", 1.15, note)
for name, work, prefix in (("build" + size, "build of 200k pages", note),
                           ("searchhit200k", "search with a third of 200k pages hit", "")):
    kb = memory.get((name, "after"))
    goals.append(("peak memory < 8 MB, %s" % work, kb is not None and kb < 8,
                  "%s%.1f MB" % (prefix, kb) if kb is not None else "not measured"))
goals = goals[4:] + goals[:4]  # the hit sets last

lines += ["Goals (this tree, each a ratio within this run):", "",
          "| goal | met | figure |", "|---|---|---|"]
lines += ["| %s | %s | %s |" % (g, {True: "yes", False: "**no**", None: "–"}[ok], fig)
          for g, ok, fig in goals]
lines.append("")
with open(os.path.join(out, "results.md"), "w", encoding="utf-8") as f:
    f.write("\n".join(lines))
print("\n".join(lines))
