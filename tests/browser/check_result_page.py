#!/usr/bin/env python3
"""The result page as a person sees it: built, searched and opened in Chromium.

Builds a database from the sample pages with tessaly-cli, searches it, puts
the result page beside the display page (outframe.htm) and opens the display
page in headless Chromium. Everything is checked in the documents the browser
built, read over the DevTools protocol (a pipe, standard library only): the
encoding the browser decided on, the texts it shows, the addresses its links
resolve to, the frame a link opens in and the window the back link replaces.
Then a folder of pages named with é, 〜 (U+301C), # and ? is built and
searched, and each link of its result page must show that page in the frame
main.

Exit status: 0 all checks pass, 1 a check failed (each failure is listed),
77 Chromium is not installed (the check is skipped, and says so).
"""

import argparse
import fcntl
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PAGES = ROOT / "examples" / "pages"
DISPLAY_PAGE = ROOT / "resources" / "outframe.htm"
SKIPPED = 77

QUERY = "アニメ"
# Every page the query finds, in database order: the page (below the sample
# folder), the keyword entry holding the query ("" when only the title
# matched) and the title as the page itself shows it.
EXPECTED_HITS = [
    ("blog/anime.htm", "", "好きなアニメの話"),
    ("アニメ/トムとジェリー.htm", "アニメ", "Tom & Jerry"),
    ("アニメ/番組表.htm", "アニメ番組", "今週の<b>番組表</b>"),
]
BACK_PAGE = PAGES / "index.htm"
BACK_TITLE = "わたしのホームページ"

# The flags every Chromium run gets: no sandbox in a container, and nothing
# that reaches for the network, which this machine does not have.
CHROMIUM_FLAGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
]
DEADLINE = 20.0  # seconds for any one wait on the browser


class CheckFailed(Exception):
    pass


class Browser:
    """Headless Chromium driven over --remote-debugging-pipe (fd 3 in, fd 4 out)."""

    def __init__(self, chromium, url, log_path):
        self.profile = tempfile.mkdtemp(prefix="tessaly-chromium-")
        to_child_r, self.to_child = os.pipe()
        self.from_child, from_child_w = os.pipe()

        def wire_pipes():
            # Move both ends clear of 3 and 4 first: either may be one of them.
            r = fcntl.fcntl(to_child_r, fcntl.F_DUPFD, 10)
            w = fcntl.fcntl(from_child_w, fcntl.F_DUPFD, 10)
            os.dup2(r, 3)
            os.dup2(w, 4)

        self.log = open(log_path, "wb")
        self.proc = subprocess.Popen(
            [chromium, *CHROMIUM_FLAGS, f"--user-data-dir={self.profile}",
             "--remote-debugging-pipe", url],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
            pass_fds=(3, 4), preexec_fn=wire_pipes)
        os.close(to_child_r)
        os.close(from_child_w)
        self.buffer = b""
        self.next_id = 0
        self.session = None

    def close(self):
        try:
            self.send("Browser.close", session=False)
        except Exception:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self.to_child)
        os.close(self.from_child)
        self.log.close()
        shutil.rmtree(self.profile, ignore_errors=True)

    def _read_message(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise CheckFailed("Chromium did not answer in time")
            ready, _, _ = select.select([self.from_child], [], [], left)
            if ready:
                chunk = os.read(self.from_child, 65536)
                if not chunk:
                    raise CheckFailed("Chromium closed its DevTools pipe")
                self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, session=True, **params):
        """Sends one DevTools command and returns its result; an error is a CheckFailed."""
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self.to_child, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + DEADLINE
        while True:
            reply = self._read_message(deadline)
            if reply.get("id") != self.next_id:
                continue  # an event, or the answer to nothing we wait for
            if "error" in reply:
                raise CheckFailed(f"{method}: {reply['error'].get('message')}")
            return reply["result"]

    def attach_to_page(self):
        deadline = time.monotonic() + DEADLINE
        while time.monotonic() < deadline:
            targets = self.send("Target.getTargets", session=False)["targetInfos"]
            pages = [t for t in targets if t["type"] == "page"]
            if pages:
                self.session = self.send("Target.attachToTarget", session=False,
                                         targetId=pages[0]["targetId"],
                                         flatten=True)["sessionId"]
                return
            time.sleep(0.05)
        raise CheckFailed("Chromium opened no page")

    def frames(self):
        """The frame tree as a list of (frame id, name, url, parent id)."""
        out = []

        def walk(node, parent):
            f = node["frame"]
            out.append((f["id"], f.get("name", ""), f.get("unreachableUrl") or f["url"], parent))
            for child in node.get("childFrames", []):
                walk(child, f["id"])

        walk(self.send("Page.getFrameTree")["frameTree"], None)
        return out

    def evaluate(self, frame_id, expression):
        """Evaluates expression in the document the frame shows now; returns its value."""
        context = self.send("Page.createIsolatedWorld", frameId=frame_id,
                            worldName="check")["executionContextId"]
        result = self.send("Runtime.evaluate", expression=expression, contextId=context,
                           returnByValue=True)
        if "exceptionDetails" in result:
            raise CheckFailed(f"script failed in frame: {result['exceptionDetails']['text']}")
        return result["result"].get("value")

    def wait_for(self, what, probe):
        """Calls probe until it returns a value other than None; that value is returned."""
        deadline = time.monotonic() + DEADLINE
        last_error = None
        while time.monotonic() < deadline:
            try:
                value = probe()
                if value is not None:
                    return value
            except CheckFailed as e:
                last_error = e  # a document between two loads
            time.sleep(0.05)
        raise CheckFailed(f"timed out waiting for {what}" + (f" ({last_error})" if last_error else ""))


def loaded_frame(browser, match):
    """The id of the frame that match(name, url) picks, once its document is complete."""
    def probe():
        for frame_id, name, url, _ in browser.frames():
            if match(name, url) and browser.evaluate(frame_id, "document.readyState") == "complete":
                return frame_id
        return None
    return probe


def file_of(url):
    """The path on disk a file: URL names, or None for another scheme."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme != "file":
        return None
    return Path(urllib.parse.unquote(parts.path))


def run(cmd):
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        raise CheckFailed(f"{' '.join(map(str, cmd))} exited with {done.returncode}:\n"
                          f"{done.stdout}{done.stderr}")
    return done.stdout


# The result page, read in one go from the document the browser built.
READ_RESULT_PAGE = """(() => {
  const meta = document.querySelector('meta[http-equiv="Content-Type" i]');
  const back = Array.from(document.links).filter(a => a.textContent === '戻る');
  return {
    charset: document.characterSet,
    declared: meta ? meta.content : null,
    title: document.title,
    headings: Array.from(document.querySelectorAll('b')).map(b => b.textContent),
    counts: Array.from(document.querySelectorAll('p')).map(p => p.textContent),
    items: Array.from(document.querySelectorAll('li')).map(li => {
      const a = li.querySelector('a');
      return a ? {text: a.textContent.trim(), href: a.href, target: a.getAttribute('target'),
                  elements: a.children.length}
               : {text: li.textContent.trim(), href: null, target: null, elements: 0};
    }),
    back: back.map(a => ({href: a.href, target: a.getAttribute('target')})),
  };
})()"""


def check(browser, display_page, failures):
    def expect(case, got, want):
        if got != want:
            failures.append(f"{case}: got {got!r}, want {want!r}")

    result_frame = browser.wait_for("the result page in its frame", loaded_frame(
        browser, lambda name, url: url.endswith("/out.htm")))
    browser.wait_for("the frame named main", loaded_frame(
        browser, lambda name, url: name == "main"))
    page = browser.evaluate(result_frame, READ_RESULT_PAGE)

    expect("encoding the browser used", page["charset"], "Shift_JIS")
    expect("declared content type", page["declared"], "text/html; charset=Shift_JIS")
    expect("window title", page["title"], f"Tessaly! 検索結果 ～ {QUERY}")
    expect("bold elements (only the heading)", page["headings"],
           [f'Tessaly! 検索結果 ～ "{QUERY}"'])
    expect("count line", page["counts"], [f"{len(EXPECTED_HITS)} 件みつかりました"])
    expect("number of list items", len(page["items"]), len(EXPECTED_HITS))

    for item, (rel, entry, title) in zip(page["items"], EXPECTED_HITS):
        case = f"hit {rel}"
        expect(f"{case}: link text", item["text"], f"{entry}[{title}]")
        expect(f"{case}: elements inside the link (title markup must stay text)",
               item["elements"], 0)
        expect(f"{case}: target frame", item["target"], "main")
        path = file_of(item["href"] or "")
        expect(f"{case}: page on disk the link names", path, PAGES / rel)
        if path is not None and not path.is_file():
            failures.append(f"{case}: the link {item['href']!r} names no file on disk")

    expect("back links", [b["target"] for b in page["back"]], ["_top"])
    if page["back"]:
        expect("back link address", file_of(page["back"][0]["href"]), BACK_PAGE)

    # Each link opens its page in the frame named main; the display page stays.
    for index, (rel, _, title) in enumerate(EXPECTED_HITS[:len(page["items"])]):
        case = f"clicking hit {rel}"
        browser.evaluate(result_frame, f"document.querySelectorAll('li a')[{index}].click()")
        try:
            main = browser.wait_for(f"{rel} in the frame named main", loaded_frame(
                browser, lambda name, url: name == "main" and file_of(url) == PAGES / rel))
            expect(f"{case}: title of the page shown in main", browser.evaluate(
                main, "document.title"), title)
        except CheckFailed as e:
            shown = [(n, u) for _, n, u, _ in browser.frames()]
            failures.append(f"{case}: {e}; frames now {shown}")
        top = [file_of(u) for _, _, u, parent in browser.frames() if parent is None]
        expect(f"{case}: page in the top window", top, [display_page])

    # The back link replaces the whole display page.
    if page["back"]:
        browser.evaluate(result_frame, """Array.from(document.links)
            .filter(a => a.textContent === '戻る')[0].click()""")
        try:
            top = browser.wait_for("the back page in the top window", loaded_frame(
                browser, lambda name, url: file_of(url) == BACK_PAGE))
            expect("back page title", browser.evaluate(top, "document.title"), BACK_TITLE)
            expect("frames left after going back", len(browser.frames()), 1)
        except CheckFailed as e:
            failures.append(f"following the back link: {e}")


# Pages named with characters that have no exact Shift_JIS form or that a URL
# reader would misread: file name, title. Their links must open them.
NAMED_QUERY = "名前"
NAMED_PAGES = [
    ("café.htm", "Café"),
    ("旅の記録〜秋〜.htm", "秋の旅"),  # WAVE DASH U+301C
    ("#frag.htm", "番号記号"),
    ("?q.htm", "疑問符"),
]


def write_named_pages(root):
    """Writes the named pages (UTF-8, declared) below root."""
    root.mkdir(parents=True, exist_ok=True)
    for name, title in NAMED_PAGES:
        (root / name).write_text(
            f'<html><head><meta charset="utf-8"><title>{title}</title>'
            f'<meta name="keywords" content="{NAMED_QUERY}"></head><body>{title}</body></html>',
            encoding="utf-8")


def check_named(browser, root, failures):
    """Clicks each hit of the result page; the frame main must show that page."""
    result_frame = browser.wait_for("the result page in its frame", loaded_frame(
        browser, lambda name, url: url.endswith("/out.htm")))
    hrefs = browser.evaluate(result_frame,
                             "Array.from(document.querySelectorAll('li a')).map(a => a.href)")
    if len(hrefs) != len(NAMED_PAGES):
        failures.append(f"named pages: {len(hrefs)} links, want {len(NAMED_PAGES)}: {hrefs}")
    titles = {root / name: title for name, title in NAMED_PAGES}
    for index, href in enumerate(hrefs):
        path = file_of(href)
        case = f"named page link {href!r}"
        if path not in titles:
            failures.append(f"{case}: names {path}, no page of the folder")
            continue
        browser.evaluate(result_frame, f"document.querySelectorAll('li a')[{index}].click()")
        try:
            main = browser.wait_for(f"{path.name} in the frame named main", loaded_frame(
                browser, lambda name, url: name == "main" and file_of(url) == path))
            shown = browser.evaluate(main, "document.title")
            if shown != titles[path]:
                failures.append(f"{case}: the frame main shows {shown!r}, want {titles[path]!r}")
        except CheckFailed as e:
            shown = [(n, u) for _, n, u, _ in browser.frames()]
            failures.append(f"{case}: {e}; frames now {shown}")


def screenshot(chromium, page_url, png, log_path):
    png.parent.mkdir(parents=True, exist_ok=True)
    png.unlink(missing_ok=True)
    profile = tempfile.mkdtemp(prefix="tessaly-chromium-")
    try:
        with open(log_path, "ab") as log:
            subprocess.run([chromium, *CHROMIUM_FLAGS, f"--user-data-dir={profile}",
                            f"--screenshot={png}", "--window-size=760,180", page_url],
                           stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                           timeout=60, check=True)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    if not png.is_file():
        raise CheckFailed(f"Chromium wrote no screenshot {png}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True, help="the tessaly-cli to run")
    parser.add_argument("--work", required=True, help="a folder for the database and pages")
    parser.add_argument("--screenshot", help="also write a PNG of the result page here")
    args = parser.parse_args()

    chromium = shutil.which("chromium")
    if not chromium:
        print("browser check SKIPPED: chromium is not installed "
              "(make browser-test installs it)")
        return SKIPPED

    # The work folder keeps whatever else it holds: only the check's own files
    # are written (and replaced) there.
    work = Path(args.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    shutil.copy(DISPLAY_PAGE, work / "outframe.htm")
    database = work / "vark.kwf"
    database.unlink(missing_ok=True)
    (work / "out.htm").unlink(missing_ok=True)
    failures = []
    try:
        run([args.cli, "build", PAGES, database])
        run([args.cli, "search", database, QUERY, "--out", work / "out.htm", "--back", BACK_PAGE.as_uri()])
        browser = Browser(chromium, (work / "outframe.htm").as_uri(), work / "chromium.log")
        try:
            browser.attach_to_page()
            browser.send("Page.enable")
            check(browser, work / "outframe.htm", failures)
        finally:
            browser.close()
        if args.screenshot:
            screenshot(chromium, (work / "out.htm").as_uri(), Path(args.screenshot).resolve(),
                       work / "chromium.log")
        # Pages named in characters a Linux user types, through their links.
        named = work / "named"
        shutil.rmtree(named, ignore_errors=True)
        write_named_pages(named)
        named_db = work / "named.kwf"
        named_db.unlink(missing_ok=True)
        run([args.cli, "build", named, named_db])
        run([args.cli, "search", named_db, NAMED_QUERY, "--out", work / "out.htm"])
        browser = Browser(chromium, (work / "outframe.htm").as_uri(),
                          work / "chromium-named.log")
        try:
            browser.attach_to_page()
            browser.send("Page.enable")
            check_named(browser, named, failures)
        finally:
            browser.close()
    except CheckFailed as e:
        failures.append(str(e))

    if failures:
        print(f"browser check FAILED ({len(failures)}):")
        for f in failures:
            print(f"  {f}")
        print(f"(Chromium's output: {work / 'chromium.log'})")
        return 1
    print(f"browser check passed: {len(EXPECTED_HITS)} hits, their pages, frames and back link; "
          f"{len(NAMED_PAGES)} pages named with é, 〜, # and ? opened through their links")
    return 0


if __name__ == "__main__":
    sys.exit(main())
