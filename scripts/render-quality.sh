#!/usr/bin/env bash
# Novel-view quality of `strata render`: PSNR against `strata trace` of the demo scene for
# sideways turns of the camera, for an 8-layer LDI and a 1-layer LDI of the same camera.
# Usage: scripts/render-quality.sh [BUILD_DIR]   (default build)
set -euo pipefail
BUILD_DIR=${1:-${BUILD_DIR:-build}}
STRATA="$BUILD_DIR/src/tools/strata"
OUT="$BUILD_DIR/demo-quality"
SIZE=350
mkdir -p "$OUT"

for layers in 8 1; do
  if [ ! -f "$OUT/demo_l$layers.ldibrtqp" ]; then
    "$STRATA" make demo --kind rt-qp --size $SIZE --layers $layers -o "$OUT/demo_l$layers.ldibrtqp" >/dev/null
  fi
done

printf "%-6s %-14s %12s %12s %12s\n" "yaw" "settings" "8 layers" "1 layer" "gain dB"
for yaw in 5 10 20 -20; do
  for setting in default no-splat; do
    extra=()
    [ "$setting" = no-splat ] && extra=(--no-splat)
    # The camera of the turned view, passed on to the ray tracer.
    camera=$("$STRATA" render "$OUT/demo_l8.ldibrtqp" -o "$OUT/tmp.png" --fov 45 --yaw "$yaw" --print-camera | head -1)
    truth="$OUT/truth_yaw$yaw.png"
    # shellcheck disable=SC2086
    [ -f "$truth" ] || "$STRATA" trace demo --size ${SIZE}x${SIZE} $camera -o "$truth" >/dev/null
    results=()
    for layers in 8 1; do
      line=$("$STRATA" render "$OUT/demo_l$layers.ldibrtqp" -o "$OUT/render_l${layers}_yaw${yaw}_$setting.png" \
        --fov 45 --yaw "$yaw" "${extra[@]}" --compare "$truth")
      results+=("$(echo "$line" | sed -n 's/.*psnr=\([^ ]*\).*/\1/p')")
    done
    gain=$(awk -v a="${results[0]}" -v b="${results[1]}" 'BEGIN { printf "%.2f", a - b }')
    printf "%-6s %-14s %12s %12s %12s\n" "$yaw" "$setting" "${results[0]}" "${results[1]}" "$gain"
  done
done
rm -f "$OUT/tmp.png"
echo "pictures in $OUT"
