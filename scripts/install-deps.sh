#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and the machine lacks.
set -euo pipefail
# An argument adds a group: "bench" (make bench), "peers" (make bench-peers).
packages=(g++ make cmake pkg-config libgtest-dev libgmock-dev)
case "${1:-}" in
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
