#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and the machine lacks.
# With the argument "fuzz": what the fuzz targets need (clang and its libFuzzer).
# With the argument "browser": what the browser check needs (Chromium, Python,
# and a Japanese font so the screenshot shows the Japanese text).
# With "bench" or "peers": what make bench or make bench-peers needs.
# With "package": what make package and make package-test need (dpkg-shlibdeps,
# file, lintian, the validators).
# The tests themselves render the manual pages (man-db, groff-base), parse the
# JSON output (python3) and validate the metainfo and the desktop entry
# (appstream, desktop-file-utils).
set -euo pipefail
packages=(g++ make cmake pkg-config libgtest-dev libgmock-dev qt6-base-dev fonts-ipafont-gothic
          man-db groff-base python3 appstream desktop-file-utils nodejs)
for extra in "$@"; do
    case "$extra" in
        fuzz) packages+=(clang libclang-rt-dev) ;;
        browser) packages+=(chromium python3 fonts-ipafont-gothic) ;;
        bench) packages+=(hyperfine python3 time) ;;
        peers) packages+=(hyperfine python3 time bc namazu2 namazu2-index-tools libnkf-perl
                          libtext-kakasi-perl kakasi recollcmd xapian-tools
                          xapian-omega locales) ;;
        package) packages+=(dpkg-dev file lintian appstream desktop-file-utils gzip) ;;
        *) echo "install-deps.sh: unknown argument $extra" >&2; exit 2 ;;
    esac
done
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q "${missing[@]}"
fi
