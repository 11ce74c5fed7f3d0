#!/usr/bin/env bash
# The main job of `make run`: prepares the demo data (one LDI of every kind, a pyramid and a set,
# ray-cast from the built-in demo scene) in $BUILD_DIR/demo when it is missing, then starts the
# viewer on it when a display is available, or renders it headless to image files otherwise.
set -euo pipefail
BUILD_DIR=${BUILD_DIR:-build}
STRATA="$BUILD_DIR/src/tools/strata"
VIEWER="$BUILD_DIR/src/viewer/strata-viewer"
DEMO_DIR="$BUILD_DIR/demo"

# Empty when the viewer can open a window here, else why not.
why_no_viewer() {
  if [ ! -x "$VIEWER" ]; then
    echo "strata-viewer is not built (Qt 6 Widgets was not found)"
  elif [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)"
  elif ! (ulimit -c 0; timeout 20 "$VIEWER" --probe-display) >/dev/null 2>&1; then
    echo "the display ${DISPLAY:-${WAYLAND_DISPLAY:-}} cannot be opened"
  fi
}

if [ ! -f "$DEMO_DIR/demo.ldiset" ]; then
  echo "run-demo: making the demo LDIs in $DEMO_DIR"
  rm -rf "$DEMO_DIR.partial"
  "$STRATA" make demo -o "$DEMO_DIR.partial"
  rm -rf "$DEMO_DIR"
  mv "$DEMO_DIR.partial" "$DEMO_DIR"
fi
if [ ! -f "$DEMO_DIR/truth.png" ]; then
  "$STRATA" trace demo -o "$DEMO_DIR/truth.png"
fi

echo "run-demo: demo data in $DEMO_DIR:"
ls -l "$DEMO_DIR"

reason=$(why_no_viewer)
if [ -z "$reason" ]; then
  echo "run-demo: starting strata-viewer on $DEMO_DIR/demo.ldibrtqp (File > Open for the others)"
  exec "$VIEWER" "$DEMO_DIR/demo.ldibrtqp"
fi
echo "run-demo: not starting the viewer: $reason; rendering the demo to image files instead"

# Rendering: the quantised-pixel demo LDI drawn headless by `strata render` from its reference
# camera and from a few moved cameras (the viewer's default settings unless named).
RENDER_DIR="$DEMO_DIR/renders"
mkdir -p "$RENDER_DIR"
render() {
  local name=$1
  shift
  "$STRATA" render "$DEMO_DIR/demo.ldibrtqp" --size 350x350 -o "$RENDER_DIR/$name.png" "$@"
}
render reference
render reference_single_pixels --no-splat --fov 45
render yaw_left --yaw 15
render yaw_right --yaw -15
render above --offset 0,1.5,0 --pitch -12
render closer --offset 0,0,3
render false_colour_normals --yaw 15 --false-color 4
"$STRATA" render "$DEMO_DIR/demo.ldiquad" --size 350x350 --yaw 10 -o "$RENDER_DIR/quad_yaw.png"
echo "run-demo: renders of the demo LDI in $RENDER_DIR:"
ls "$RENDER_DIR"
echo "run-demo: open the PNG files above in any image viewer"
