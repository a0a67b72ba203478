#!/usr/bin/env python3
"""Pages named in any characters: built, counted, found and linked to the file.

A folder (itself named with a newline and an accented letter) holds one page
of every kind of name: characters with no exact Shift_JIS form, a name that is
not UTF-8, control characters, a backslash, '%', '#', '?', names that read as a
drive or a web address, and names that Shift_JIS holds exactly. tessaly-cli
builds it into a database whose own name has a newline, then:

- the build's "pages indexed", `info`'s page count and the database's page
  lines all equal the number of pages on disk, every record is one line and
  the Base line reads back (info would fail otherwise);
- a search for each page's own keyword finds that page alone, and the link of
  the result page (Shift_JIS, decoded as a browser decodes it) is read by the
  WHATWG URL parser (node's URL) against the result page's address: it is a
  file: URL of no host whose path, percent-decoded to bytes, is exactly the
  page's native path.

Exit status: 0 every check passes, 1 a check failed (each is listed), 77 node
is not installed (the check is skipped, and says so).
"""

import argparse
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import urllib.parse
from pathlib import Path

SKIPPED = 77

# Every kind of name: (name as native bytes, what it is).
NAMES = [
    (b"a\nb.htm", "a newline"),
    (b"t\tab.htm", "a tab"),
    (b"c\rr.htm", "a carriage return"),
    ("café.html".encode(), "a Latin letter with no Shift_JIS form"),
    ("旅の記録〜秋〜.htm".encode(), "WAVE DASH U+301C (Shift_JIS has it only as U+FF5E)"),
    ("～tilde.htm".encode(), "FULLWIDTH TILDE U+FF5E (exact)"),
    ("Übersetzung.htm".encode(), "a capital with no Shift_JIS form"),
    ("絵文字😀.htm".encode(), "an emoji"),
    ("한국어.htm".encode(), "Hangul"),
    (b"Latin1-caf\xe9.htm", "a name that is not UTF-8"),
    ("¥yen.htm".encode(), "YEN SIGN (Shift_JIS gives it the backslash byte)"),
    (b"%41.htm", "a percent sign and two hex digits"),
    (b"100%.htm", "a percent sign alone"),
    (b"#frag.htm", "a number sign"),
    (b"?q.htm", "a question mark"),
    (b"a\\b.htm", "a backslash"),
    (b"http:evil.example.htm", "a web address"),
    (b"file:y.htm", "a file: address"),
    (b"c:x.htm", "a drive path"),
    (b"a b.htm", "a blank"),
    ("表.htm".encode(), "a 0x5C trail byte"),
    ("ｶﾅ.htm".encode(), "half-width kana"),
    (b"plain.htm", "plain ASCII"),
    (b"sub#?%/in.htm", "a page in a folder named with # ? %"),
    (b"a\nb/in.htm", "a page in a folder named with a newline"),
    ("été/http:z.htm".encode(), "a web-address name below the top"),
]
FOLDER = b"pages\n\xc3\xa9"  # the folder built: a newline and é
DATABASE = b"db\n.kwf"

# Reads a WHATWG URL against a base for each pair on standard input.
NODE_SCRIPT = r"""
const pairs = JSON.parse(require('fs').readFileSync(0, 'utf8'));
console.log(JSON.stringify(pairs.map(([href, base]) => {
  try {
    const u = new URL(href, base);
    return {protocol: u.protocol, host: u.host, pathname: u.pathname,
            search: u.search, hash: u.hash};
  } catch (e) { return {error: String(e)}; }
})));
"""


class Links(html.parser.HTMLParser):
    """The href of every <A> inside an <LI>, entities decoded as a browser does."""

    def __init__(self):
        super().__init__()
        self.hrefs = []
        self.in_item = False

    def handle_starttag(self, tag, attrs):
        if tag == "li":
            self.in_item = True
        elif tag == "a" and self.in_item:
            self.hrefs.append(dict(attrs).get("href"))


def run(cmd, failures, what):
    done = subprocess.run(cmd, capture_output=True)
    if done.returncode != 0:
        failures.append(f"{what}: exit {done.returncode}: {done.stderr.decode(errors='replace')}")
    return done


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True, help="the tessaly-cli to run")
    parser.add_argument("--work", required=True, help="a folder for the pages and the database")
    args = parser.parse_args()

    node = shutil.which("node")
    if not node:
        print("names check SKIPPED: node is not installed")
        return SKIPPED

    work = Path(args.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    root = os.fsencode(work) + b"/" + FOLDER
    pages = []  # (native path, keyword, title, what)
    for i, (name, what) in enumerate(NAMES):
        path = root + b"/" + name
        os.makedirs(os.path.dirname(path), exist_ok=True)
        keyword, title = f"kw{i:02d}x", f"T{i:02d}"
        with open(path, "wb") as f:
            f.write(f"<title>{title}</title><meta name=keywords content=\"{keyword}\">".encode())
        pages.append((path, keyword, title, what))
    with open(root + b"/notes.txt", "wb") as f:
        f.write(b"not a page")
    database = os.fsencode(work) + b"/" + DATABASE
    failures = []

    built = run([args.cli, "build", root, database], failures, "build")
    indexed = re.search(rb"(\d+) pages indexed", built.stderr)
    if not indexed or int(indexed.group(1)) != len(pages):
        failures.append(f"build: want {len(pages)} pages indexed: {built.stderr!r}")
    info = run([args.cli, "info", database], failures, "info")
    counted = re.search(rb"^Pages: (\d+)$", info.stdout, re.M)
    if not counted or int(counted.group(1)) != len(pages):
        failures.append(f"info: want Pages: {len(pages)}: {info.stdout!r}")
    if b"\nBase: " + root + b"/\n" not in info.stdout:  # native, not escaped off a terminal
        failures.append(f"info: want Base: {root!r}/: {info.stdout!r}")
    try:
        with open(database, "rb") as f:
            lines = f.read().split(b"\r\n")
    except OSError as e:
        failures.append(f"database: {e}")
        lines = []
    page_lines = [line for line in lines if line.startswith(b"A = ")]
    if len(page_lines) != len(pages) or any(b"\n" in line or b"\r" in line for line in lines):
        failures.append(f"database: want {len(pages)} page lines of one line each: {lines!r}")

    # One search per page: it alone is found, and its link goes to the resolver.
    out = work / "out.htm"
    resolve = []  # (page, href, base)
    for path, keyword, title, what in pages:
        found = run([args.cli, "search", database, keyword, "--out", out], failures, what)
        page_text = out.read_bytes().decode("cp932") if out.exists() else ""
        links = Links()
        links.feed(page_text)
        if len(links.hrefs) != 1 or f"[{title}]" not in page_text:
            failures.append(f"{what}: want one hit {title}, got {links.hrefs!r}")
            continue
        listed = found.stdout.decode(errors="replace").split("\t")[-1].strip().split("\n")[0]
        resolve.append(((path, what), links.hrefs[0], out.as_uri(), listed))

    done = subprocess.run([node, "-e", NODE_SCRIPT], capture_output=True,
                          input=json.dumps([[href, base] for _, href, base, _ in resolve]).encode())
    if done.returncode != 0:
        failures.append(f"node: {done.stderr.decode(errors='replace')}")
        urls = []
    else:
        urls = json.loads(done.stdout)
    for ((path, what), href, _, listed), url in zip(resolve, urls):
        case = f"{what}: link {href!r}"
        if "error" in url:
            failures.append(f"{case}: {url['error']}")
            continue
        if url["protocol"] != "file:" or url["host"] != "" or url["search"] or url["hash"]:
            failures.append(f"{case}: not a plain file: URL ({url})")
        opened = urllib.parse.unquote_to_bytes(url["pathname"])
        if opened != path:
            failures.append(f"{case}: opens {opened!r}, want {path!r}")
        if listed != href:
            failures.append(f"{case}: tessaly-cli lists {listed!r}")

    if failures:
        print(f"names check FAILED ({len(failures)}):")
        for f in failures:
            print(f"  {f}")
        return 1
    print(f"names check passed: {len(pages)} pages indexed, counted, found, and each link "
          "opens its file")
    return 0


if __name__ == "__main__":
    sys.exit(main())
