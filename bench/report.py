#!/usr/bin/env python3
"""Writes results.md from the hyperfine exports, memory.txt and the result
pages of a bench run.  report.py OUT DATA LARGE [before]"""
import json
import os
import re
import sys

out, data, large = sys.argv[1], sys.argv[2], sys.argv[3] == "1"
tags = ["after"] + (["before"] if len(sys.argv) > 4 and sys.argv[4] else [])


def runs(name):
    path = os.path.join(out, name + ".json")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return {r["command"]: r for r in json.load(f)["results"]}


def med(r):
    return r["median"]


def cpu(r):
    return r["user"] + r["system"]


def secs(x):
    return "%.3f s" % x


def mb(name):
    return os.path.getsize(os.path.join(data, name)) / 1e6


lines = ["# Tessaly! benchmarks", "",
         "Medians of %s, warm cache, each command run in turn (hyperfine). "
         "CPU is user + system time (mean); on a shared machine it is the steadier figure." %
         "the runs", ""]
goals = []
for tag in tags:
    lines += ["## %s" % ("Before" if tag == "before" else "This tree"), "",
              "| work | Tessaly! | CPU | reference | CPU | ratio (wall) | ratio (CPU) | rate |",
              "|---|---|---|---|---|---|---|---|"]
    for size, pages in (("20k", 20000), ("200k", 200000)):
        r = runs("build%s-%s" % (size, tag))
        if not r:
            continue
        b, f = r["build"], r["floor"]
        lines.append("| build %s pages | %s | %s | floor %s | %s | %.1f× | %.1f× | %d pages/s |" % (
            size, secs(med(b)), secs(cpu(b)), secs(med(f)), secs(cpu(f)), med(b) / med(f),
            cpu(b) / cpu(f), pages / med(b)))
        if tag == "after":
            goals.append(("build %s ≤ 2.5× floor" % size, med(b) / med(f) <= 2.5,
                          "%.1f× (CPU %.1f×)" % (med(b) / med(f), cpu(b) / cpu(f))))
    for size, db in (("100k", "db100k.kwf"), ("1M", "db1m.kwf")):
        r = runs("search%s-%s" % (size.lower(), tag))
        if not r:
            continue
        s, g = r["search"], r["grep"]
        lines.append("| search %s pages (%.1f MB) for 京都 | %s | %s | grep -F -i %s | %s | %.1f× | %.1f× | %.0f MB/s |" % (
            size, mb(db), secs(med(s)), secs(cpu(s)), secs(med(g)), secs(cpu(g)),
            med(s) / med(g), cpu(s) / cpu(g), mb(db) / med(s)))
        if tag == "after":
            goals.append(("search %s ≤ 3× grep" % size, med(s) / med(g) <= 3,
                          "%.1f× (CPU %.1f×)" % (med(s) / med(g), cpu(s) / cpu(g))))
            if size == "1M":
                goals.append(("search 1M < 0.2 s", med(s) < 0.2, secs(med(s))))
    r = runs("info1m-%s" % tag)
    if r:
        i = r["info"]
        lines.append("| info on 1M pages | %s | %s | | | | | |" % (secs(med(i)), secs(cpu(i))))
        if tag == "after":
            goals.append(("info 1M < 0.2 s", med(i) < 0.2, secs(med(i))))
    lines.append("")

lines += ["## Peak resident memory (this tree)", "", "| work | peak RSS |", "|---|---|"]
with open(os.path.join(out, "memory.txt")) as f:
    for row in f:
        name, kb = row.split()
        lines.append("| %s | %.1f MB |" % (name, int(kb) / 1024))
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


lines += ["## Hit sets of 京都 against the generator's lists", "",
          "| data | expected | found | missing | extra |", "|---|---|---|---|---|"]
for label, page, folder, listing in (
        ("20k pages, built", "hits20k.htm", os.path.join(data, "corpus20k"),
         os.path.join(data, "corpus20k.kyoto.txt")),
        ("100k database", "s100k-after.htm", data, os.path.join(data, "db100k.kwf.kyoto.txt")),
        ("1M database", "s1m-after.htm", data, os.path.join(data, "db1m.kwf.kyoto.txt"))):
    want, got = expected(listing), hits(page, folder)
    lines.append("| %s | %d | %d | %d | %d |" % (label, len(want), len(got), len(want - got),
                                                   len(got - want)))
    goals.append(("hit set, %s" % label, want == got, "%d of %d" % (len(want & got), len(want))))
lines.append("")

lines += ["## Goals", "", "| goal | met | figure |", "|---|---|---|"]
lines += ["| %s | %s | %s |" % (g, "yes" if ok else "**no**", fig) for g, ok, fig in goals]
lines.append("")
with open(os.path.join(out, "results.md"), "w", encoding="utf-8") as f:
    f.write("\n".join(lines))
print("\n".join(lines))
