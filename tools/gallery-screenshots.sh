#!/usr/bin/env bash
# Screenshots of the controls gallery under a virtual X server (Xvfb):
#   gallery.png         the window, as the gallery grabs it
#   gallery-dpr2.png    the same at device pixel ratio 2 (QT_SCALE_FACTOR=2)
#   gallery-screen.png  the whole virtual screen, as the X server shows it
#
# Usage: tools/gallery-screenshots.sh [OUTPUT_FOLDER]     (default /tmp/gallery-shots)
# Builds controls-gallery in $QUORLINK_BUILD_DIR (default build/) unless
# QUORLINK_GALLERY names a gallery program that is already built.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-/tmp/gallery-shots}
mkdir -p "$out"

gallery=${QUORLINK_GALLERY:-}
if [ -z "$gallery" ]; then
  build=${QUORLINK_BUILD_DIR:-$here/build}
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target controls-gallery -j2
  gallery="$build/tools/gallery/controls-gallery"
fi

xvfb-run -a -s "-screen 0 1280x800x24" "$gallery" --screenshot "$out/gallery.png"
xvfb-run -a -s "-screen 0 1600x1200x24" "$gallery" --dpr 2 --screenshot "$out/gallery-dpr2.png"

# The real screen: start the gallery, wait until it says it is up, then take
# the root window until two shots in a row agree (the last paint has landed).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  gallery=$1 work=$2 shot=$3
  "$gallery" --ready-file "$work/ready" --quit-after 120000 &
  pid=$!
  for _ in $(seq 600); do [ -e "$work/ready" ] && break; sleep 0.1; done
  if [ ! -e "$work/ready" ]; then echo "The gallery did not come up." >&2; kill "$pid"; exit 1; fi
  import -window root "$work/a.png"
  for _ in $(seq 50); do
    sleep 0.2
    import -window root "$work/b.png"
    cmp -s "$work/a.png" "$work/b.png" && break
    mv "$work/b.png" "$work/a.png"
  done
  cp "$work/a.png" "$shot"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
' _ "$gallery" "$work" "$out/gallery-screen.png"

echo "Screenshots in $out:"
ls -l "$out"
