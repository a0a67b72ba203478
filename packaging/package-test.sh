#!/usr/bin/env bash
# Checks the Debian package on this machine: lintian (no errors), then
# apt-get install of the file, the installed programs run as a user would run
# them (versions, manual pages, a build and a search, the window offscreen on
# the database), then apt-get purge, and a check that nothing of the package
# is left but the user's own files. Whatever fails, the package is purged and
# the scratch folder removed on the way out.
#
#   bash packaging/package-test.sh build-package/tessaly_<version>_<arch>.deb
set -euo pipefail

[ $# -eq 1 ] && [ -f "$1" ] || { echo "usage: $0 PACKAGE.deb" >&2; exit 2; }
deb=$(realpath "$1")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
apt_get() {
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get -y -q -o DPkg::Lock::Timeout=300 "$@"
}
is_installed() {
    dpkg-query -W -f='${Status}' tessaly 2>/dev/null | grep -q "ok installed"
}
if is_installed; then
    echo "package-test: a tessaly package is installed already; remove it first" \
         "(apt-get purge tessaly)" >&2
    exit 1
fi

work=$(mktemp -d /tmp/tessaly-package-test.XXXXXX)
installed=0
cleanup() {
    local status=$?
    if [ "$installed" = 1 ] && is_installed; then
        echo "package-test: purging the package after a failure" >&2
        apt_get purge tessaly > "$work/cleanup.log" 2>&1 || cat "$work/cleanup.log" >&2
    fi
    rm -rf "$work"
    if [ "$status" -eq 0 ]; then echo "package-test: PASSED (${SECONDS}s)"; else
        echo "package-test: FAILED" >&2; fi
    exit "$status"
}
trap cleanup EXIT
fail() { echo "package-test: $*" >&2; exit 1; }
step() { echo "== $* (${SECONDS}s)"; }

version=$(dpkg-deb -f "$deb" Version)
step "the package $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Architecture Depends Recommends Installed-Size
dpkg-deb -c "$deb" | awk '{ print $1, $3, $6 }'

step "lintian"
# Warnings are shown and kept (the note of the package lists them); an error fails.
lintian --fail-on error --display-info "$deb" | tee "$work/lintian.txt"

step "apt-get install"
installed=1
apt_get install "$deb" > "$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "install failed"; }
is_installed || fail "not installed after apt-get install"
dpkg-query -L tessaly | sort > "$work/files.txt"
while read -r f; do [ -d "$f" ] || echo "$f"; done < "$work/files.txt" > "$work/plain-files.txt"
[ -s "$work/plain-files.txt" ] || fail "dpkg lists no files"

step "the installed files"
for f in /usr/bin/tessaly /usr/bin/tessaly-cli /usr/share/tessaly/tessaly.rc \
         /usr/share/man/man1/tessaly.1.gz /usr/share/man/man1/tessaly-cli.1.gz \
         /usr/share/applications/tessaly.desktop /usr/share/icons/hicolor/128x128/apps/tessaly.png \
         /usr/share/mime/packages/tessaly-kwf.xml /usr/share/metainfo/org.tessaly.Tessaly.metainfo.xml \
         /usr/share/doc/tessaly/copyright; do
    [ -f "$f" ] || fail "missing: $f"
done
appstreamcli validate --no-net /usr/share/metainfo/org.tessaly.Tessaly.metainfo.xml
desktop-file-validate /usr/share/applications/tessaly.desktop
if command -v update-mime-database > /dev/null; then
    # The trigger of shared-mime-info has taken the type in.
    [ -f /usr/share/mime/application/x-tessaly-kwf.xml ] || fail "MIME type not registered"
fi

# A user of our own: a home, data and runtime folders, a registry file, and a
# stand-in xdg-open that records what it was asked to open.
home="$work/home"
mkdir -p "$home" "$work/bin" "$work/run"
chmod 700 "$work/run"
cat > "$work/bin/xdg-open" <<EOS
#!/bin/sh
echo "\$1" >> "$work/xdg-open.rec"
EOS
chmod +x "$work/bin/xdg-open"
as_user() {
    env HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
        XDG_RUNTIME_DIR="$work/run" TESSALY_REGISTRY="$home/.config/tessaly.reg" \
        PATH="$work/bin:/usr/bin:/bin" LC_ALL=C.UTF-8 "$@"
}

step "the installed programs"
[ "$(as_user sh -c 'command -v tessaly-cli')" = /usr/bin/tessaly-cli ] || fail "tessaly-cli is not /usr/bin's"
as_user tessaly-cli --version | tee "$work/version.txt"
head -1 "$work/version.txt" | grep -qx "tessaly-cli (Tessaly!) $version" || fail "tessaly-cli --version"
as_user tessaly --version | head -1 | grep -qx "tessaly (Tessaly!) $version" || fail "tessaly --version"
for page in tessaly-cli tessaly; do
    [ "$(as_user man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page"
    as_user man --warnings "$page" > /dev/null 2> "$work/man.err"
    [ ! -s "$work/man.err" ] || { cat "$work/man.err" >&2; fail "man $page warns"; }
done

db="$home/pages.kwf"
as_user tessaly-cli build "$source_dir/examples/pages" "$db"
as_user tessaly-cli info "$db"
# No --out: the result page goes to the per-user program folder.
as_user tessaly-cli search "$db" 京都
user_folder="$home/.local/share/tessaly"
grep -q "件みつかりました" <(iconv -f CP932 -t UTF-8 "$user_folder/out.htm") || fail "no result page"
as_user tessaly-cli search "$db" 京都 --json --out "$work/json.htm" > "$work/hits.json"
python3 - "$work/hits.json" <<'EOS'
import json, sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
hits = [json.loads(line) for line in lines]
assert hits[-1]["count"] == len(hits) - 1 > 0, hits[-1]
assert all(h["path"] and h["href"].startswith("file://") for h in hits[:-1])
print(len(hits) - 1, "hits parsed")
EOS

step "the window, offscreen"
as_user env QT_QPA_PLATFORM=offscreen TESSALY_TEST_SEARCH=京都 timeout 120 tessaly "$db" \
    > "$work/window.log" 2>&1 || { cat "$work/window.log" >&2; fail "tessaly did not end cleanly"; }
grep -qx "$user_folder/outframe.htm" "$work/xdg-open.rec" || fail "the browser was not handed the page"
[ -f "$user_folder/outframe.htm" ] || fail "no outframe.htm in the user's folder"
find "$home" -type f | sort > "$work/user-files.txt"

step "apt-get purge"
apt_get purge tessaly > "$work/purge.log" 2>&1 || { cat "$work/purge.log" >&2; fail "purge failed"; }
installed=0
! is_installed || fail "still installed"
left=$(while read -r f; do [ -e "$f" ] && echo "$f"; done < "$work/plain-files.txt" || true)
[ -z "$left" ] || fail "left behind: $left"
for d in /usr/share/tessaly /usr/share/doc/tessaly; do
    [ ! -e "$d" ] || fail "left behind: $d"
done
[ ! -e /usr/share/mime/application/x-tessaly-kwf.xml ] || fail "MIME type still registered"
# The user's own files stay as they were.
while read -r f; do [ -f "$f" ] || fail "the user's file $f is gone"; done < "$work/user-files.txt"
echo "$(wc -l < "$work/plain-files.txt") files installed and removed;" \
     "$(wc -l < "$work/user-files.txt") user files kept"
