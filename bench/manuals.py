#!/usr/bin/env python3
"""Real pages for bench/compare.py: Debian's HTML manuals, written by others.

  manuals.py DEST

Downloads a few documentation packages with `apt-get download`, unpacks them
(`dpkg -x`; what is below usr/share, .html.gz unzipped) and lays out below DEST, once (DEST/.done
marks a finished set; a half-made DEST is made anew):

  utf8/       the manuals as shipped (UTF-8, declared), images left out
  sjis/       the Japanese pages in Shift_JIS (CP932), declarations changed
  eucjp/      the same in EUC-JP
  iso2022jp/  the same in ISO-2022-JP
  titles/     Japanese and Python pages renamed after their own titles: the
              title's source text as it stands (so '&', '#', ';' of its
              references), every third one percent-encoded as a browser saves
              a page ('%'), '/' as '_'

Every fifth converted page has its charset declaration taken out, so the
builder must tell the encoding from the bytes. Conversions are by nkf (half-
width kana kept); a character the target cannot hold is left as nkf leaves it.
DEST is made read-only when done.
"""
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

PACKAGES = ["debian-reference-ja", "developers-reference-ja", "maint-guide-ja", "apt-doc",
            "debian-faq", "aptitude-doc-ja", "debian-policy-ja", "gimp-help-ja",
            "debian-handbook", "python3.11-doc"]
# debian-handbook ships 26 languages: only these two are kept.
HANDBOOK_KEPT = ("ja-JP", "en-US")
IMAGES = (".png", ".jpg", ".jpeg", ".gif", ".svg", ".ico", ".webp")
TARGETS = [("sjis", "CP932", "Shift_JIS"), ("eucjp", "EUC-JP", "EUC-JP"),
           ("iso2022jp", "ISO-2022-JP", "ISO-2022-JP")]
PAGE = re.compile(r"\.html?$", re.I)


def japanese(rel):
    return bool(re.search(r"(-ja/|ja-JP|\.ja\.|/ja/)", rel))


def unpack(work, dest):
    """Unpacks the packages into dest/utf8/PACKAGE/..., without images."""
    subprocess.run(["apt-get", "download"] + PACKAGES, cwd=work, check=True,
                   stdout=subprocess.DEVNULL)
    for pkg in PACKAGES:
        debs = [f for f in os.listdir(work) if f.startswith(pkg + "_") and f.endswith(".deb")]
        if len(debs) != 1:
            sys.exit("manuals.py: no single download of %s" % pkg)
        tree = os.path.join(work, pkg)
        subprocess.run(["dpkg", "-x", os.path.join(work, debs[0]), tree], check=True)
        doc = os.path.join(tree, "usr", "share")
        for d, dirs, files in os.walk(doc):
            rel_dir = os.path.relpath(d, doc)
            if pkg == "debian-handbook":
                parts = rel_dir.split(os.sep)
                if len(parts) >= 4 and parts[2] == "html" and parts[3] not in HANDBOOK_KEPT:
                    dirs[:] = []
                    continue
            for f in files:
                src = os.path.join(d, f)
                if os.path.islink(src) or f.lower().endswith(IMAGES):
                    continue
                name = f[:-3] if re.search(r"\.html?\.gz$", f, re.I) else f
                out = os.path.join(dest, "utf8", pkg, rel_dir, name)
                os.makedirs(os.path.dirname(out), exist_ok=True)
                if name != f:
                    with gzip.open(src, "rb") as fin, open(out, "wb") as fout:
                        shutil.copyfileobj(fin, fout)
                else:
                    shutil.copyfile(src, out)


def pages(root):
    """Relative paths of the pages below root, sorted."""
    found = []
    for d, dirs, files in os.walk(root):
        dirs.sort()
        for f in sorted(files):
            if PAGE.search(f):
                found.append(os.path.relpath(os.path.join(d, f), root))
    return found


def declare(text, charset, keep):
    """The page with its UTF-8 declarations naming charset, or taken out."""
    if keep:
        text = re.sub(r'(<\?xml[^>]*encoding=")utf-8(")', r"\g<1>%s\2" % charset, text, flags=re.I)
        text = re.sub(r"(<meta[^>]*charset=\"?)utf-8", r"\g<1>%s" % charset, text, flags=re.I)
        return text
    text = re.sub(r'(<\?xml[^>]*?) encoding="utf-8"', r"\1", text, flags=re.I)
    return re.sub(r"<meta[^>]*charset=[^>]*>", "", text, flags=re.I)


def convert(dest):
    src = os.path.join(dest, "utf8")
    todo = [p for p in pages(src) if japanese(p)]
    for folder, nkf_name, charset in TARGETS:
        for n, rel in enumerate(todo):
            with open(os.path.join(src, rel), encoding="utf-8", errors="replace") as f:
                text = declare(f.read(), charset, n % 5 != 4)
            done = subprocess.run(["nkf", "-x", "--ic=UTF-8", "--oc=" + nkf_name],
                                  input=text.encode(), capture_output=True, check=True).stdout
            out = os.path.join(dest, folder, rel)
            os.makedirs(os.path.dirname(out), exist_ok=True)
            with open(out, "wb") as f:
                f.write(done)


def title_name(title, n, taken):
    name = " ".join(title.split()).replace("/", "_") or "(no title)"
    if n % 3 == 2:
        name = urllib.parse.quote(name, safe=" ")
    raw = name.encode()[:200].decode("utf-8", "ignore")
    name, k = raw + ".html", 2
    while name in taken:
        name, k = "%s (%d).html" % (raw, k), k + 1
    taken.add(name)
    return name


def rename(dest):
    src = os.path.join(dest, "utf8")
    chosen = [p for p in pages(src)
              if (japanese(p) and not p.startswith("gimp-help-ja")) or p.startswith("python3")]
    taken = {}
    for n, rel in enumerate(chosen):
        with open(os.path.join(src, rel), "rb") as f:
            data = f.read()
        m = re.search(rb"<title[^>]*>(.*?)</title>", data, re.S | re.I)
        title = m.group(1).decode("utf-8", "replace") if m else ""
        folder = os.path.dirname(rel)
        name = title_name(title, n, taken.setdefault(folder, set()))
        out = os.path.join(dest, "titles", folder, name)
        os.makedirs(os.path.dirname(out), exist_ok=True)
        with open(out, "wb") as f:
            f.write(data)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: manuals.py DEST")
    dest = os.path.abspath(sys.argv[1])
    missing = [tool for tool in ("apt-get", "dpkg", "nkf") if not shutil.which(tool)]
    if missing:
        sys.exit("manuals.py: needs %s (apt-get install nkf)" % ", ".join(missing))
    if os.path.exists(os.path.join(dest, ".done")):
        return
    if os.path.exists(dest):
        subprocess.run(["chmod", "-R", "u+w", dest], check=True)
        shutil.rmtree(dest)
    with tempfile.TemporaryDirectory() as work:
        unpack(work, dest)
    convert(dest)
    rename(dest)
    for folder in ("utf8", "sjis", "eucjp", "iso2022jp", "titles"):
        print("%s: %d pages" % (folder, len(pages(os.path.join(dest, folder)))))
    open(os.path.join(dest, ".done"), "w").close()
    subprocess.run(["chmod", "-R", "a-w", dest], check=True)


if __name__ == "__main__":
    main()
