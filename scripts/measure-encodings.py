#!/usr/bin/env python3
"""Measures how well the builder tells a page's encoding from its bytes alone.

Takes the titles and headings of real HTML pages (written by others), writes
each as an undeclared page -- title, and the headings as a keywords meta -- in
Shift_JIS, EUC-JP, ISO-2022-JP and UTF-8 (converted with nkf, half-width kana
kept), builds a database of each set with every tessaly-cli given, and counts
the pages whose stored title and keywords are the Shift_JIS text byte for byte.

  measure-encodings.py WORKDIR SOURCE_FOLDER... --cli NAME=PATH [--cli ...]
                       [--variant plain|short|halfkana]

Variants: plain, a page per source page (its title; its first four headings
as keywords); short, a page per heading (the heading alone as the title: short
texts read both ways more often); halfkana, as plain with every katakana
written half-width, as many hand-made pages of the Shift_JIS years have it.

Prints a Markdown table. A text is "decidable" when its Shift_JIS or EUC-JP
bytes hold a sequence the other encoding cannot form; the rest can be read
both ways and are decided by the tie rule.
"""
import argparse
import html
import html.parser
import os
import re
import shutil
import subprocess
import sys

ENCODINGS = [("sjis", None), ("euc", "EUC-JP"), ("jis", "ISO-2022-JP"), ("utf8", "UTF-8")]


class Head(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.title, self.headings, self._in, self._buf = "", [], None, []

    def handle_starttag(self, tag, attrs):
        if tag in ("title", "h1", "h2", "h3", "h4"):
            self._in, self._buf = tag, []

    def handle_endtag(self, tag):
        if tag == self._in:
            text = " ".join("".join(self._buf).split())
            if tag == "title":
                self.title = text
            elif text:
                self.headings.append(text)
            self._in = None

    def handle_data(self, data):
        if self._in:
            self._buf.append(data)


def usable(text):
    """A text the pages can carry plainly: Shift_JIS-encodable, no markup or
    reference characters (those are another test's business), not cut by the
    builder's 400-byte title record."""
    if re.search(r'[&<>"\u00a0]', text):
        return False
    try:
        return len(text.encode("cp932")) < 300
    except UnicodeEncodeError:
        return False


def half_kana(text):
    """Full-width katakana as half-width (nkf -Z4)."""
    if not text:
        return text
    return subprocess.run(["nkf", "-Z4", "-w", "-x"], input=text.encode(), capture_output=True,
                          check=True).stdout.decode()


def valid_sjis(b):
    i = 0
    while i < len(b):
        c = b[i]
        if c < 0x80 or 0xA1 <= c <= 0xDF:
            i += 1
        elif 0x81 <= c <= 0x9F or 0xE0 <= c <= 0xFC:
            if i + 1 >= len(b) or not (0x40 <= b[i + 1] <= 0xFC and b[i + 1] != 0x7F):
                return False
            i += 2
        else:
            return False
    return True


def valid_euc(b):
    i = 0
    while i < len(b):
        c = b[i]
        if c < 0x80:
            i += 1
        elif c == 0x8E:
            if i + 1 >= len(b) or not 0xA1 <= b[i + 1] <= 0xDF:
                return False
            i += 2
        elif c == 0x8F:
            if i + 2 >= len(b) or not all(0xA1 <= x <= 0xFE for x in b[i + 1:i + 3]):
                return False
            i += 3
        elif 0xA1 <= c <= 0xFE:
            if i + 1 >= len(b) or not 0xA1 <= b[i + 1] <= 0xFE:
                return False
            i += 2
        else:
            return False
    return True


def quote(value):
    if "," in value or '"' in value or value.startswith(" ") or value.endswith(" "):
        return '"' + value.replace('"', '""') + '"'
    return value


def nkf(data, enc):
    out = subprocess.run(["nkf", "-x", "--ic=CP932", "--oc=" + enc], input=data,
                         capture_output=True, check=True).stdout
    back = subprocess.run(["nkf", "-x", "--ic=" + enc, "--oc=CP932"], input=out,
                          capture_output=True, check=True).stdout
    return out if back == data else None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("workdir")
    ap.add_argument("sources", nargs="+")
    ap.add_argument("--cli", action="append", required=True, help="NAME=PATH")
    ap.add_argument("--variant", default="plain", choices=["plain", "short", "halfkana"])
    args = ap.parse_args()

    texts = []  # (title, keywords) as str
    seen = set()
    for src in args.sources:
        for root, _, files in os.walk(src):
            for f in sorted(files):
                if not re.search(r"\.html?$", f):
                    continue
                p = Head()
                with open(os.path.join(root, f), encoding="utf-8", errors="replace") as fh:
                    p.feed(fh.read())
                if args.variant == "short":
                    pairs = [(h, "") for h in [p.title] + p.headings if usable(h)]
                else:
                    title = p.title if usable(p.title) else ""
                    keywords = "; ".join(h for h in p.headings[:4] if usable(h))
                    pairs = [(title, keywords if usable(keywords) else "")]
                for title, keywords in pairs:
                    if args.variant == "halfkana":
                        title, keywords = half_kana(title), half_kana(keywords)
                        title = title if usable(title) else ""
                        keywords = keywords if usable(keywords) else ""
                    if (title, keywords) in seen or not (title or keywords):
                        continue
                    seen.add((title, keywords))
                    texts.append((title, keywords))

    results = {}
    for enc, nkf_name in ENCODINGS:
        folder = os.path.join(args.workdir, enc)
        os.makedirs(folder, exist_ok=True)
        shutil.rmtree(folder, ignore_errors=True)
        expected = {}
        stats = {"pages": 0, "nonascii": 0, "ambiguous": 0}
        for n, (title, keywords) in enumerate(texts):
            head = ("<title>%s</title>" % title if title else "") + \
                ("<meta name=\"keywords\" content=\"%s\">" % keywords if keywords else "")
            page = ("<html><head>%s</head><body></body></html>\n" % head).encode("cp932")
            if nkf_name:
                page = nkf(page, nkf_name)
                if page is None:
                    continue
            name = "p%05d.htm" % n
            sub = "d%03d" % (n // 1000)  # the walk holds at most 3000 entries at once
            os.makedirs(os.path.join(folder, sub), exist_ok=True)
            with open(os.path.join(folder, sub, name), "wb") as fh:
                fh.write(page)
            line = "A = %s, %s, %s\\%s" % (quote(title or "(no title)"), quote(keywords), sub, name)
            expected[name] = line.encode("cp932")
            stats["pages"] += 1
            raw = (title + keywords).encode("cp932")
            if any(c >= 0x80 for c in raw):
                stats["nonascii"] += 1
                texts_bytes = None
                if enc == "sjis":
                    texts_bytes = raw
                elif enc == "euc":
                    texts_bytes = nkf(raw, "EUC-JP")
                if (texts_bytes is not None and valid_sjis(texts_bytes) and
                        valid_euc(texts_bytes)):
                    stats["ambiguous"] += 1
        for named in args.cli:
            label, cli = named.split("=", 1)
            db = os.path.join(args.workdir, "%s-%s.kwf" % (enc, label))
            subprocess.run([cli, "build", folder, db], check=True, capture_output=True)
            with open(db, "rb") as fh:
                lines = fh.read().split(b"\r\n")
            got = {}
            for ln in lines:
                if ln.startswith(b"A = "):
                    got[ln.rsplit(b"\\", 1)[-1].decode()] = ln
            right = [k for k, v in expected.items() if got.get(k) == v]
            wrong = [k for k in expected if got.get(k) != expected[k]]
            stats[label] = len(right)
            stats[label + "-wrong"] = wrong[:5]
        results[enc] = stats

    labels = [c.split("=", 1)[0] for c in args.cli]
    print("| encoding | pages | with non-ASCII text | readable both ways | " +
          " | ".join("stored right, %s" % l for l in labels) + " |")
    print("|---|---|---|---|" + "---|" * len(labels))
    for enc, _ in ENCODINGS:
        s = results[enc]
        cells = ["%d (%.2f%%)" % (s[l], 100.0 * s[l] / max(s["pages"], 1)) for l in labels]
        print("| %s | %d | %d | %d | %s |" % (enc, s["pages"], s["nonascii"], s["ambiguous"],
                                             " | ".join(cells)))
    for enc, _ in ENCODINGS:
        for l in labels:
            if results[enc][l + "-wrong"]:
                print("%s %s wrong (first few): %s" % (enc, l, " ".join(results[enc][l + "-wrong"])),
                      file=sys.stderr)


if __name__ == "__main__":
    main()
