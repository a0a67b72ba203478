#!/usr/bin/env bash
# make run: the search window on the demo database. Without a display it
# says so in one line and fails before building anything; otherwise it makes
# the demo database and the window when they are missing, then opens it.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
JOBS=${JOBS:-2}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "make run: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)" >&2
    exit 1
fi
if [ ! -x "$BUILD/bin/tessaly" ] || [ ! -f "$BUILD/demo/vark.kwf" ]; then
    make --no-print-directory demo BUILD="$BUILD" JOBS="$JOBS" > "${TMPDIR:-/tmp}/tessaly-demo.log" 2>&1 || {
        cat "${TMPDIR:-/tmp}/tessaly-demo.log" >&2
        exit 1
    }
fi
# Up to date unless a source changed since.
cmake --build "$BUILD" -j"$JOBS" --target tessaly > /dev/null
exec "$BUILD/bin/tessaly" "$BUILD/demo/vark.kwf"
