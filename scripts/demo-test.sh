#!/usr/bin/env bash
# Checks what the README tells a newcomer: `make demo` builds both programs
# and prints the command that opens the search window; that command starts
# the window on the demo database (offscreen here), whose page count is the
# demo's; and `make run` without a display fails with one line.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
JOBS=${JOBS:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "demo-test: FAILED: $*" >&2; exit 1; }

make --no-print-directory demo BUILD="$BUILD" JOBS="$JOBS" > "$work/demo.out" 2>&1 ||
    { cat "$work/demo.out" >&2; fail "make demo"; }
command=$(grep -A1 '^The search window on this database' "$work/demo.out" | tail -n 1 | sed 's/^ *//')
[ -n "$command" ] || fail "make demo printed no command for the window"
echo "printed: $command"
read -r program database <<< "$command"
[ -x "$program" ] || fail "$program was not built"
status=$(QT_QPA_PLATFORM=offscreen TESSALY_TEST_STATUS=1 $command 2> "$work/window.err") ||
    { cat "$work/window.err" >&2; fail "the window did not start"; }
echo "window: $status"
count=$("$BUILD/bin/tessaly-cli" info "$database" | sed -n 's/^Pages: *\([0-9][0-9]*\).*/\1/p' | head -n 1)
[ -n "$count" ] || fail "tessaly-cli info shows no page count"
case "$status" in
    "STATUS "*"登録ページ数：$count | search") ;;
    *) fail "the window shows '$status', not $count pages ready to search" ;;
esac

# make's own "make: *** ... Error 1" notice aside, one line.
set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    make --no-print-directory run BUILD="$BUILD" > "$work/run.out" 2> "$work/run.err"
code=$?
set -e
[ "$code" -ne 0 ] || fail "make run without a display succeeded"
said=$(cat "$work/run.err" "$work/run.out" | grep -Ev '^make(\[[0-9]+\])?: \*\*\*' || true)
[ "$(printf '%s\n' "$said" | wc -l)" -eq 1 ] && [ -n "$said" ] ||
    fail "make run without a display said: $(cat "$work/run.err" "$work/run.out")"
echo "make run without a display: $said (status $code)"
echo "demo-test: passed"
