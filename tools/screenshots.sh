#!/usr/bin/env bash
# Regenerates docs/screenshots/: every window of the program in both modes,
# grabbed under a virtual X server with the desktop's default fonts.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORLINK_BUILD_DIR:-$here/build}
out=${1:-$here/docs/screenshots}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2 --target quorlink-screenshots
mkdir -p "$out"
rm -f "$out"/*.png
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$build/src/app/quorlink-screenshots" "$out"
