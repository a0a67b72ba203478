#!/usr/bin/env bash
# Makes docs/first-start.png, docs/update-dialog.png, docs/progress-dialog.png,
# docs/main-window.png and docs/keyword-refused.png from the running dialogs
# (offscreen, no display needed): the main window at its first start (vark.ini
# names vark.kwf, not built yet), the update dialog building a database of
# examples/pages there, the progress dialog caught in the middle of that
# build, the main window on the new database, and the box that refuses a
# keyword with no Shift_JIS form.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j2 --target screenshots
mkdir -p docs
QT_QPA_PLATFORM=offscreen build/bin/screenshots docs examples/pages
