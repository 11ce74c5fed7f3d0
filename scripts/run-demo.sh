#!/usr/bin/env bash
# The main job of `make run`: prepares the demo data (one LDI of every kind, a pyramid and a set,
# ray-cast from the built-in demo scene) in $BUILD_DIR/demo when it is missing, then shows what
# is there.
set -euo pipefail
# There is no interactive viewer in this build yet, whether or not a display exists: the demo is
# rendered headless to image files instead.
echo "run-demo: the interactive viewer is not part of this build yet; rendering the demo to image files"
BUILD_DIR=${BUILD_DIR:-build}
STRATA="$BUILD_DIR/src/tools/strata"
DEMO_DIR="$BUILD_DIR/demo"

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
