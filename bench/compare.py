#!/usr/bin/env python3
"""Byte-for-byte comparison of two tessaly-cli programs.

  compare.py OLD_CLI NEW_CLI WORKDIR [FOLDER...] [--manuals DIR] [--no-generated]

For each folder (by default build/bench/data/corpus20k when it exists and the
folders of DIR, default /work/data/manuals, made by bench/manuals.py) both
programs run, in turn, the same commands with the same arguments:

  build FOLDER DB, and build FOLDER DB --verbose   the databases (their
      Update line, the time of the build, set aside), standard output and
      error, exit status
  info DB, info DB --json
  search DB QUERY --out PAGE for queries that hit many pages, few and none
      (京都, の, a, e, HTML, 旅, ZZZ-none, &, <, %, #, debian, パッケージ in
      full and half width, ＨＴＭＬ, a query of 200 characters): the listing
      on standard output and the result page; search DB QUERY --json for some of them;
      one search with --target and --back; one without --out (the result
      page then goes to the program folder's out.htm)

Info and the searches read one database, the one OLD_CLI built, so that a
difference in the build shows once, in the database, and not again in every
search. Each program is first copied to WORKDIR/bin/tessaly-cli and every
file is written below WORKDIR/run, then moved aside: the two runs see the
same paths and program folder, so the paths they print are the same.

Besides the folders, the same searches and info run on two keyword databases
written by bench/gen_corpus.py (kept in WORKDIR/data): 100,000 pages of which
5% hold 京都, and 20,000 pages of which a third do (--no-generated leaves them
out).

Prints a table, one line per corpus: files compared, files differing and the
first few of those. The outputs stay in WORKDIR/CORPUS/{old,new} for diff.
Exit status: 0 no file differs, 1 some file differs, 2 a usage mistake.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

QUERIES = ["京都", "の", "a", "e", "HTML", "旅", "ZZZ-none", "&", "<", "%", "#", "debian", "パッケージ",
           "ﾊﾟｯｹｰｼﾞ", "ＨＴＭＬ", "あ" * 200]
JSON_QUERIES = ["京都", "の", "a", "ZZZ-none", "&"]
GENERATED = [("db100k-share0.05", 100000, "0.05"), ("db20k-share0.3333", 20000, "0.3333")]
TIMEOUT = 300  # seconds a command may take before it counts as hung
UPDATE_LINE = re.compile(rb"^Update = [^\r\n]*", re.M)


class Side:
    """One program's run of one corpus: commands and where their output goes."""

    def __init__(self, cli, work):
        self.work = work
        self.bin = os.path.join(work, "bin", "tessaly-cli")
        self.run_dir = os.path.join(work, "run")
        self.status = []
        os.makedirs(os.path.dirname(self.bin), exist_ok=True)
        if os.path.exists(self.bin):
            os.remove(self.bin)
        shutil.copy2(cli, self.bin)
        default_out = os.path.join(work, "bin", "out.htm")
        if os.path.exists(default_out):
            os.remove(default_out)
        if os.path.exists(self.run_dir):
            shutil.rmtree(self.run_dir)
        os.makedirs(self.run_dir)

    def path(self, name):
        return os.path.join(self.run_dir, name)

    def run(self, name, *args):
        """Runs the program; its standard output and error go to NAME.out and
        NAME.err, its exit status to the side's status list."""
        with open(self.path(name + ".out"), "wb") as out, open(self.path(name + ".err"), "wb") as err:
            try:
                status = subprocess.run([self.bin] + list(args), stdout=out, stderr=err,
                                        stdin=subprocess.DEVNULL, cwd=self.run_dir,
                                        timeout=TIMEOUT).returncode
            except subprocess.TimeoutExpired:
                status = "timed out"
        self.status.append("%s %s\n" % (name, status))

    def finish(self, dest):
        """Moves the run's files to dest (made anew)."""
        with open(self.path("status.txt"), "w") as f:
            f.writelines(self.status)
        default_out = os.path.join(self.work, "bin", "out.htm")
        if os.path.exists(default_out):
            shutil.move(default_out, self.path("default-out.htm"))
        if os.path.exists(dest):
            shutil.rmtree(dest)
        shutil.move(self.run_dir, dest)


def searches(side, db):
    side.run("info", "info", db)
    side.run("info-json", "info", db, "--json")
    for n, q in enumerate(QUERIES):
        side.run("search%02d" % n, "search", "--out", side.path("search%02d.htm" % n), "--", db, q)
    for n, q in enumerate(JSON_QUERIES):
        side.run("json%02d" % n, "search", "--json", "--", db, q)
    side.run("target-back", "search", "--out", side.path("target-back.htm"), "--target",
             "右&<frame>", "--back", "http://example.com/?a=1&b=\"2\"", "--", db, "の")
    side.run("default-out", "search", "--", db, "a")


def run_folder(tag, cli, folder, work, shared_db):
    """Builds folder with cli and searches shared_db (made from the first
    side's build when it does not exist yet)."""
    side = Side(cli, work)
    db = side.path("db.kwf")
    side.run("build", "build", folder, db)
    side.run("build-v", "build", folder, side.path("db-v.kwf"), "--verbose")
    if not os.path.exists(shared_db) and os.path.exists(db):
        shutil.copyfile(db, shared_db)
    searches(side, shared_db)
    side.finish(os.path.join(os.path.dirname(shared_db), tag))


def run_database(tag, cli, db, work, out_dir):
    side = Side(cli, work)
    searches(side, db)
    side.finish(os.path.join(out_dir, tag))


def masked(path):
    with open(path, "rb") as f:
        data = f.read()
    if path.endswith(".kwf"):
        data = UPDATE_LINE.sub(b"Update = (the time of the build)", data)
    return data


def differences(old, new):
    """(files compared, names of the files that differ or are on one side only)."""
    names = set()
    for side in (old, new):
        for d, _, files in os.walk(side):
            names.update(os.path.relpath(os.path.join(d, f), side) for f in files)
    differ = []
    for name in sorted(names):
        a, b = os.path.join(old, name), os.path.join(new, name)
        if not (os.path.exists(a) and os.path.exists(b)) or masked(a) != masked(b):
            differ.append(name)
    return len(names), differ


def pages_of(corpus_dir):
    try:
        with open(os.path.join(corpus_dir, "old", "build.err"), "rb") as f:
            m = re.search(rb"(\d+) pages indexed", f.read())
        return m.group(1).decode() if m else "?"
    except OSError:
        return "?"


def default_folders(manuals):
    folders = []
    corpus = os.path.join(os.environ.get("BUILD", os.path.join(ROOT, "build")), "bench", "data",
                          "corpus20k")
    if os.path.exists(corpus + ".done"):
        folders.append(corpus)
    if os.path.isdir(manuals):
        folders += [os.path.join(manuals, d) for d in sorted(os.listdir(manuals))
                    if os.path.isdir(os.path.join(manuals, d))]
    return folders


def generated(data):
    """The generated databases, made once in data: (tag, path, pages)."""
    os.makedirs(data, exist_ok=True)
    made = []
    for name, pages, share in GENERATED:
        path = os.path.join(data, name + ".kwf")
        if not os.path.exists(path + ".done"):
            subprocess.run([sys.executable, os.path.join(HERE, "gen_corpus.py"), "database", path,
                            "--pages", str(pages), "--share", share], check=True,
                           stdout=subprocess.DEVNULL)
            open(path + ".done", "w").close()
        made.append((name, path, pages))
    return made


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("old")
    ap.add_argument("new")
    ap.add_argument("workdir")
    ap.add_argument("folders", nargs="*")
    ap.add_argument("--manuals", default="/work/data/manuals")
    ap.add_argument("--no-generated", action="store_true")
    a = ap.parse_args()
    for cli in (a.old, a.new):
        if not os.access(cli, os.X_OK):
            ap.error("not a program: %s" % cli)
    work = os.path.abspath(a.workdir)
    folders = [os.path.abspath(f) for f in a.folders] or default_folders(a.manuals)
    rows = []
    print("| corpus | pages | files compared | differing | first differing |")
    print("|---|---|---|---|---|")
    used = {"bin", "run", "data"}

    def row(tag, pages, corpus_dir):
        compared, differ = differences(os.path.join(corpus_dir, "old"),
                                       os.path.join(corpus_dir, "new"))
        rows.append(len(differ))
        print("| %s | %s | %d | %d | %s |" % (tag, pages, compared, len(differ),
                                             " ".join(differ[:4])), flush=True)

    for folder in folders:
        tag = os.path.basename(folder.rstrip("/"))
        while tag in used:
            tag += "_"
        used.add(tag)
        corpus_dir = os.path.join(work, tag)
        if os.path.exists(corpus_dir):
            shutil.rmtree(corpus_dir)
        os.makedirs(corpus_dir)
        shared_db = os.path.join(corpus_dir, "search.kwf")
        run_folder("old", a.old, folder, work, shared_db)
        run_folder("new", a.new, folder, work, shared_db)
        row(tag, pages_of(corpus_dir), corpus_dir)
    if not a.no_generated:
        for tag, db, pages in generated(os.path.join(work, "data")):
            corpus_dir = os.path.join(work, tag)
            if os.path.exists(corpus_dir):
                shutil.rmtree(corpus_dir)
            os.makedirs(corpus_dir)
            run_database("old", a.old, db, work, corpus_dir)
            run_database("new", a.new, db, work, corpus_dir)
            row(tag, pages, corpus_dir)
    if not rows:
        print("compare.py: nothing to compare", file=sys.stderr)
        return 2
    print("%s: %d of %d corpora differ (outputs in %s/CORPUS/{old,new})" % (
        "DIFFERENT" if any(rows) else "same", sum(1 for r in rows if r), len(rows), work))
    return 1 if any(rows) else 0


if __name__ == "__main__":
    sys.exit(main())
