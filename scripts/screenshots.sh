#!/usr/bin/env bash
# Makes docs/main-window.png, docs/update-dialog.png and docs/progress-dialog.png
# from the running dialogs (offscreen, no display needed): the update dialog
# builds a database of examples/pages, the progress dialog is caught in the
# middle of that build, and the main window then shows the new database.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j2 --target screenshots
mkdir -p docs
QT_QPA_PLATFORM=offscreen build/bin/screenshots docs examples/pages
