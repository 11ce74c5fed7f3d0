#!/usr/bin/env bash
# The main job of `make run`: prepares the demo data (one LDI of every kind, a pyramid and a set,
# ray-cast from the built-in demo scene) in $BUILD_DIR/demo when it is missing, then shows what
# is there.
set -euo pipefail
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
