#!/usr/bin/env bash
# The main job of `make run`: until the viewer exists, show what the command line offers.
set -euo pipefail
BUILD_DIR=${BUILD_DIR:-build}
"$BUILD_DIR/src/tools/strata"
