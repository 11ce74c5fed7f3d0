#!/usr/bin/env bash
# `make gui-smoke`: starts strata-viewer on a small demo LDI under a virtual X server, takes a
# screenshot once the first frame is on screen, and checks that the view shows the frame that
# `strata render` draws from the same (reference) camera, not just background. A second run
# resizes the window after its first frame and checks the screen against `strata render` at
# the new size, and a third does so on a screen of twice the pixel density.
set -euo pipefail
BUILD_DIR=${BUILD_DIR:-build}
STRATA="$BUILD_DIR/src/tools/strata"
VIEWER="$BUILD_DIR/src/viewer/strata-viewer"
OUT="$BUILD_DIR/gui-smoke"

if [ ! -x "$VIEWER" ]; then
  echo "gui-smoke: $VIEWER is not built (Qt 6 Widgets not found at configure time)" >&2
  exit 1
fi
if ! command -v xvfb-run >/dev/null; then
  echo "gui-smoke: xvfb-run is missing (scripts/install-deps.sh installs xvfb and xauth)" >&2
  exit 1
fi

rm -rf "$OUT"
mkdir -p "$OUT"
LDI="$OUT/demo.ldibrtqp"
"$STRATA" make demo --kind rt-qp --size 128 -o "$LDI" >/dev/null
"$STRATA" render "$LDI" --size 350x350 -o "$OUT/reference.png" >/dev/null

# No window manager: the window sits where the toolkit puts it; the viewer reports where its
# view landed and writes that part of the screen beside the full screenshot.
timeout 60 xvfb-run -a -s "-screen 0 800x600x24" \
  "$VIEWER" --screenshot "$OUT/screen.png" "$LDI" 2>"$OUT/viewer.log" || {
  echo "gui-smoke: the viewer failed; its messages:" >&2
  cat "$OUT/viewer.log" >&2
  exit 1
}

# The screen against `strata render` at SIZE: passes when the view is that frame.
compare() {
  local size=$1 view=$2 name=$3 result psnr
  result=$("$STRATA" render "$LDI" --size "$size" -o "$OUT/check-$name.png" --compare "$view")
  psnr=$(sed -n 's/.*psnr=\([^ ]*\).*/\1/p' <<<"$result")
  echo "gui-smoke: $name screen against strata render --size $size: $result"
  # A background-only view scores far below 30 dB; the same frame shown exactly is infinite.
  if [ "$psnr" != "inf" ] && ! awk -v p="$psnr" 'BEGIN { exit !(p >= 40) }'; then
    echo "gui-smoke: FAILED: the $name view on screen is not the frame (psnr $psnr); see $OUT" >&2
    exit 1
  fi
}
compare 350x350 "$OUT/screen-view.png" start

timeout 60 xvfb-run -a -s "-screen 0 800x600x24" \
  "$VIEWER" --resize 560x330 --screenshot "$OUT/resized.png" "$LDI" 2>"$OUT/viewer-resized.log" || {
  echo "gui-smoke: the resized viewer failed; its messages:" >&2
  cat "$OUT/viewer-resized.log" >&2
  exit 1
}
compare 560x330 "$OUT/resized-view.png" resized

# A screen of twice the pixel density: the 280x165 view gets a frame of twice the sides.
QT_SCALE_FACTOR=2 timeout 60 xvfb-run -a -s "-screen 0 800x600x24" \
  "$VIEWER" --resize 280x165 --screenshot "$OUT/hidpi.png" "$LDI" 2>"$OUT/viewer-hidpi.log" || {
  echo "gui-smoke: the viewer on a 2x screen failed; its messages:" >&2
  cat "$OUT/viewer-hidpi.log" >&2
  exit 1
}
compare 560x330 "$OUT/hidpi-view.png" hidpi
echo "gui-smoke: passed (screenshots in $OUT)"
