#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and the machine lacks.
# With the argument "fuzz": what the fuzz targets need (clang and its libFuzzer);
# with "bench" or "peers": what make bench or make bench-peers needs.
set -euo pipefail
packages=(g++ make cmake pkg-config libgtest-dev libgmock-dev)
case "${1:-}" in
    fuzz) packages+=(clang libclang-rt-dev) ;;
    bench) packages=(hyperfine python3 time) ;;
    peers) packages=(hyperfine python3 time bc namazu2 namazu2-index-tools recollcmd xapian-omega
                     locales) ;;
esac
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
