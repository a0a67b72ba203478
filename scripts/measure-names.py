#!/usr/bin/env python3
"""Measures, on real folders, that every page is indexed and that its link opens it.

For each folder given: counts the page-named files on disk (the builder's
rule: the name's first ".htm", without case, begins at its last '.'), builds
the folder with tessaly-cli into a database outside it, reads the pages
indexed (the build's summary) and counted (`info`), then searches each page
line of the database by its own title (or its keywords) and reads every link
of the result pages with node's WHATWG URL parser: a link opens its file when
it is a plain file: URL whose percent-decoded path is a page file on disk.
Prints one table row per folder and a total.

    scripts/measure-names.py --cli build/bin/tessaly-cli FOLDER...
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
import urllib.parse

NODE_SCRIPT = r"""
const hrefs = JSON.parse(require('fs').readFileSync(0, 'utf8'));
console.log(JSON.stringify(hrefs.map(h => {
  try { const u = new URL(h); return [u.protocol, u.host, u.pathname, u.search + u.hash]; }
  catch (e) { return null; }
})));
"""


def is_page_name(name):
    """The builder's page-name rule, on the bytes of a native name."""
    first = name.upper().find(b".HTM")
    return first >= 0 and first == name.rfind(b".")


def page_files(folder):
    pages = set()
    for d, _, files in os.walk(folder):
        for f in files:
            path = os.path.join(d, f)
            if is_page_name(f) and os.path.isfile(path):
                pages.add(path)
    return pages


def values(line):
    """The three values of a page line "A = title, keywords, path" (CP932 bytes)."""
    text = line[4:]
    out = []
    while len(out) < 3:
        if text.startswith(b'"'):
            i, value = 1, b""
            while i < len(text):
                if text[i:i + 2] == b'""':
                    value += b'"'
                    i += 2
                elif text[i:i + 1] == b'"':
                    i += 1
                    break
                else:
                    value += text[i:i + 1]
                    i += 1
            out.append(value)
            text = text[i:]
            text = text[2:] if text.startswith(b", ") else text[1:]
        else:
            cut = text.find(b", ") if len(out) < 2 else -1
            out.append(text if cut < 0 else text[:cut])
            text = b"" if cut < 0 else text[cut + 2:]
    return out


def measure(cli, folder, work):
    folder = os.fsencode(os.path.abspath(folder))
    on_disk = page_files(folder)
    database = os.path.join(work, b"m.kwf")
    built = subprocess.run([cli, "build", folder, database], capture_output=True)
    indexed = re.search(rb"(\d+) pages indexed", built.stderr)
    info = subprocess.run([cli, "info", database], capture_output=True)
    counted = re.search(rb"^Pages: (\d+)$", info.stdout, re.M)
    lines = open(database, "rb").read().split(b"\r\n") if os.path.exists(database) else []
    page_lines = [line for line in lines if line.startswith(b"A = ")]
    hrefs = set()
    out = os.path.join(work, b"out.htm")
    for line in page_lines:
        title, keywords, _ = values(line)
        query = title if title and title != b"(no title)" else keywords.split(b";")[0].strip()
        try:
            query_text = query.decode("cp932")
        except UnicodeDecodeError:
            continue
        if not query_text:
            continue
        subprocess.run([cli, "search", "--out", out, "--", database, query_text],
                       capture_output=True)
        page = open(out, "rb").read().decode("cp932", "replace")
        hrefs.update(m for m in re.findall(r'<LI><A href="([^"]*)"', page))
    hrefs = sorted(h.replace("&quot;", '"').replace("&amp;", "&").replace("&lt;", "<")
                   .replace("&gt;", ">") for h in hrefs)
    done = subprocess.run(["node", "-e", NODE_SCRIPT], input=json.dumps(hrefs).encode(),
                          capture_output=True, check=True)
    opened = set()
    for url in json.loads(done.stdout):
        if url and url[0] == "file:" and url[1] == "" and not url[3]:
            opened.add(urllib.parse.unquote_to_bytes(url[2]))
    return {
        "on disk": len(on_disk),
        "indexed": int(indexed.group(1)) if indexed else -1,
        "counted": int(counted.group(1)) if counted else -1,
        "links open their file": len(opened & on_disk),
        "non-ASCII names": sum(1 for p in on_disk if any(b >= 0x80 for b in p)),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("folders", nargs="+")
    args = parser.parse_args()
    keys = ["on disk", "non-ASCII names", "indexed", "counted", "links open their file"]
    print("| folder | page files on disk | of them non-ASCII names | pages indexed (build) "
          "| pages counted (info) | links that open their file |")
    print("|---|---|---|---|---|---|")
    total = dict.fromkeys(keys, 0)
    for folder in args.folders:
        with tempfile.TemporaryDirectory() as work:
            row = measure(args.cli, folder, os.fsencode(work))
        for k in keys:
            total[k] += row[k]
        print(f"| {os.path.basename(folder.rstrip('/'))} | " + " | ".join(
            str(row[k]) for k in keys) + " |")
    print("| total | " + " | ".join(str(total[k]) for k in keys) + " |")
    whole = total["on disk"]
    ok = all(total[k] == whole for k in ["indexed", "counted", "links open their file"])
    print(f"every page indexed, counted and opened by its link: {'yes' if ok else 'NO'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
