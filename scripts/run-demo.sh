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

# A demo made by an older build at a coarser grid than the maker's default is made again.
demo_grid() {
  "$STRATA" info "$DEMO_DIR/demo.ldibrtqp" 2>/dev/null | sed -n 's/^grid: \([0-9]*\) x .*/\1/p'
}
default_grid=$("$STRATA" make --help | sed -n 's/.*--size INT=\([0-9]*\).*/\1/p')
if [ -f "$DEMO_DIR/demo.ldiset" ] && [ "$(demo_grid)" != "$default_grid" ]; then
  echo "run-demo: the demo in $DEMO_DIR was made at another grid; making it again"
  rm -f "$DEMO_DIR/demo.ldiset" "$DEMO_DIR/truth.png"
fi
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

# The two drawing modes side by side, as pairs of pictures from the same cameras next to the
# ray-traced truth: NAME_high.png (the default, high-quality splats: each surface hides what lies
# behind it), NAME_basic.png (the blended splats of --quality basic, which show hidden surfaces
# through nearer ones) and NAME_trace.png.
RENDER_DIR="$DEMO_DIR/renders"
mkdir -p "$RENDER_DIR"
compare_modes() {
  local file=$1 name=$2
  shift 2
  local camera
  camera=$("$STRATA" render "$file" --size 350x350 -o "$RENDER_DIR/${name}_high.png" \
    --print-camera "$@" | head -n 1)
  "$STRATA" render "$file" --size 350x350 --quality basic -o "$RENDER_DIR/${name}_basic.png" "$@"
  # shellcheck disable=SC2086 # the printed camera is a list of flags
  "$STRATA" trace demo --size 350x350 $camera -o "$RENDER_DIR/${name}_trace.png" >/dev/null
}
compare_modes "$DEMO_DIR/demo.ldibrtqp" reference
compare_modes "$DEMO_DIR/demo.ldibrtqp" yaw_left --yaw 15
compare_modes "$DEMO_DIR/demo.ldibrtqp" yaw_right --yaw -15
compare_modes "$DEMO_DIR/demo.ldibrtqp" above --offset 0,1.5,0 --pitch -12
compare_modes "$DEMO_DIR/demo.ldibrtqp" closer --offset 0,0,3
compare_modes "$DEMO_DIR/demo.ldiquad" quad_yaw --yaw 10
echo "run-demo: both drawing modes of the demo side by side in $RENDER_DIR" \
  "(NAME_high.png: the default; NAME_basic.png: --quality basic; NAME_trace.png: the truth)"

reason=$(why_no_viewer)
if [ -z "$reason" ]; then
  echo "run-demo: starting strata-viewer on $DEMO_DIR/demo.ldibrtqp (File > Open for the others;" \
    "LDIs > High Quality Splats switches the drawing mode)"
  exec "$VIEWER" "$DEMO_DIR/demo.ldibrtqp"
fi
echo "run-demo: not starting the viewer: $reason; rendering the demo to image files instead"

# More renders of the quantised-pixel demo LDI, headless (the viewer's default settings unless
# named).
render() {
  local name=$1
  shift
  "$STRATA" render "$DEMO_DIR/demo.ldibrtqp" --size 350x350 -o "$RENDER_DIR/$name.png" "$@"
}
render reference_single_pixels --no-splat --fov 45 --quality basic
render false_colour_normals --yaw 15 --false-color 4
echo "run-demo: renders of the demo LDI in $RENDER_DIR:"
ls "$RENDER_DIR"
echo "run-demo: open the PNG files above in any image viewer"
