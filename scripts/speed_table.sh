#!/usr/bin/env bash
# The speed table: frame times through `strata render --frames` (the frame function the viewer
# uses: clear, margin, draw, resolve, inspection) on one thread and left to the program
# (Automatic), for every kind at 350 x 350 and 1920 x 1080, in the basic and the high-quality
# mode; Automatic again with a busy-loop process holding one core; the kernels with the scalar
# and the vector placement (and an older binary beside them); and the scale table (load time, resident memory per
# sample, frame times) of demo LDIs of about 1, 10 and 50 million samples.
#
# Run it on an otherwise idle machine, after `make build`:
#   scripts/speed_table.sh            # everything; prints Markdown tables to stdout
# Settings (environment): BUILD_DIR (build), OUT (BUILD_DIR/speed: data and pictures), RUNS (5:
# each figure is the best of RUNS runs), FRAMES (100 frames per run), SCALE_SIZES ("1344 4096
# 9216": demo sides, 8 layers at most, about 0.59 samples a pixel: 1, 10 and 50 M samples; 9216
# needs several GB and a long ray cast), PARTS ("kinds busy vector scale": which tables), BASE_STRATA (an older
# strata binary: its figures are added beside, for before/after).
set -euo pipefail
BUILD_DIR=${BUILD_DIR:-build}
OUT=${OUT:-$BUILD_DIR/speed}
RUNS=${RUNS:-5}
FRAMES=${FRAMES:-100}
SCALE_SIZES=${SCALE_SIZES:-1344 4096 9216}
PARTS=${PARTS:-kinds busy vector scale}
BASE_STRATA=${BASE_STRATA:-}
STRATA="$BUILD_DIR/src/tools/strata"
DATA="$BUILD_DIR/bench/bench_data"
TOP_CAMERA=(--pos 0.05,2.2,0.1 --dir 0,-1,0 --up 0,0,-1 --fov 45)
mkdir -p "$OUT"

want() { [[ " $PARTS " == *" $1 "* ]]; }

# The data: the scanned-looking mesh as a 320 x 320 QP LDI seen from above (about 170 k samples)
# and the demo's kinds at 512 x 512.
if [ ! -f "$OUT/scan.ldibrtqp" ]; then
  "$DATA" scan "$OUT/scan.ply"
  "$STRATA" make "$OUT/scan.ply" --kind rt-qp --size 320 "${TOP_CAMERA[@]}" \
    -o "$OUT/scan.ldibrtqp" >/dev/null
fi
if [ ! -f "$OUT/demo/demo.ldiset" ]; then
  "$STRATA" make demo --size 512 -o "$OUT/demo" >/dev/null
fi

# best BINARY ARGS...: the best of RUNS timed runs as "ms samples_per_s threads".
best() {
  local bin=$1
  shift
  local result="" line ms
  for _ in $(seq "$RUNS"); do
    line=$("$bin" render "$@" --frames "$FRAMES" -o "$OUT/frame.png" | grep '^frames=')
    ms=$(sed -n 's/.*ms_per_frame=\([0-9.]*\).*/\1/p' <<<"$line")
    if [ -z "$result" ] || awk -v a="$ms" -v b="${result%% *}" 'BEGIN { exit !(a < b) }'; then
      result="$ms $(sed -n 's/.*samples_per_s=\([0-9]*\).*/\1/p' <<<"$line") \
$(sed -n 's/.*threads=\([0-9]*\).*/\1/p' <<<"$line")"
    fi
  done
  echo "$result"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
msps() { awk -v s="$1" 'BEGIN { printf "%.1f", s / 1e6 }'; }

KINDS=("scan QP 170k:$OUT/scan.ldibrtqp" "demo QP:$OUT/demo/demo.ldibrtqp"
  "demo CP:$OUT/demo/demo.ldibrtcp" "demo MRQP:$OUT/demo/demo.ldibrtmrqp"
  "demo RTFF QP:$OUT/demo/demo.ldirtffqp" "demo quad:$OUT/demo/demo.ldiquad"
  "demo pyramid:$OUT/demo/demo.ldipyr" "demo set:$OUT/demo/demo.ldiset"
  "demo voxel:$OUT/demo/demo.vox")

if want kinds; then
  echo "## Frames through strata render --frames (best of $RUNS x $FRAMES frames; ms per frame)"
  echo
  echo "| file | size | mode | 1 thread | Automatic (threads) | gain | Msamples/s Automatic | high/basic (Automatic) |"
  echo "|---|---|---|---|---|---|---|---|"
  for entry in "${KINDS[@]}"; do
    name=${entry%%:*}
    file=${entry#*:}
    for size in 350x350 1920x1080; do
      basic_auto=""
      for mode in basic high; do
        one=$(best "$STRATA" "$file" --size "$size" --quality "$mode" --threads 1)
        auto=$(best "$STRATA" "$file" --size "$size" --quality "$mode")
        read -r one_ms _ _ <<<"$one"
        read -r auto_ms auto_sps auto_threads <<<"$auto"
        hq=""
        if [ "$mode" = basic ]; then basic_auto=$auto_ms; else hq=$(ratio "$basic_auto" "$auto_ms"); fi
        echo "| $name | $size | $mode | $one_ms | $auto_ms ($auto_threads) | $(ratio "$one_ms" "$auto_ms")x | $(msps "$auto_sps") | $hq |"
      done
    done
  done
  echo
fi

if want busy; then
  echo "## With a busy-loop process holding one core (ms per frame, the high-quality mode, the default)"
  echo
  echo "| file | size | 1 thread | Automatic (threads) | gain |"
  echo "|---|---|---|---|---|"
  bash -c 'while :; do :; done' &
  busy=$!
  trap 'kill "$busy" 2>/dev/null || true' EXIT
  for entry in "${KINDS[0]}" "${KINDS[1]}"; do
    name=${entry%%:*}
    file=${entry#*:}
    for size in 350x350 1920x1080; do
      read -r one_ms _ _ <<<"$(best "$STRATA" "$file" --size "$size" --threads 1)"
      read -r auto_ms _ auto_threads <<<"$(best "$STRATA" "$file" --size "$size")"
      echo "| $name | $size | $one_ms | $auto_ms ($auto_threads) | $(ratio "$one_ms" "$auto_ms")x |"
    done
  done
  kill "$busy" 2>/dev/null || true
  wait "$busy" 2>/dev/null || true
  trap - EXIT
  echo
fi

if want vector; then
  echo "## Scalar placement (STRATA_SCALAR=1) against the vector path (one thread, ms per frame; MRQP and voxel files place per sample either way)"
  echo
  echo "| file | size | scalar | vector | gain |${BASE_STRATA:+ base binary |}"
  echo "|---|---|---|---|---|${BASE_STRATA:+---|}"
  for entry in "${KINDS[1]}" "${KINDS[2]}" "${KINDS[3]}" "${KINDS[8]}"; do
    name=${entry%%:*}
    file=${entry#*:}
    for size in 350x350 1920x1080; do
      read -r scalar_ms _ _ <<<"$(STRATA_SCALAR=1 best "$STRATA" "$file" --size "$size" --threads 1)"
      read -r vector_ms _ _ <<<"$(best "$STRATA" "$file" --size "$size" --threads 1)"
      base=""
      if [ -n "$BASE_STRATA" ]; then
        read -r base_ms _ _ <<<"$(best "$BASE_STRATA" "$file" --size "$size" --threads 1)"
        base=" $base_ms |"
      fi
      echo "| $name | $size | $scalar_ms | $vector_ms | $(ratio "$scalar_ms" "$vector_ms")x |$base"
    done
  done
  echo
fi

if want scale; then
  echo "## Scale: demo QP LDIs of growing size (load: strata info, best of $RUNS; 1920 x 1080 frames)"
  echo
  echo "| side | samples | file MB | load s | resident MB | bytes/sample resident (file) | basic 1 thread | basic Automatic | high 1 thread | high Automatic |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  # The resident memory of the program with a tiny LDI, taken off the big ones.
  "$STRATA" make demo --kind rt-qp --size 16 -o "$OUT/tiny.ldibrtqp" >/dev/null
  base_kb=$(/usr/bin/time -f "%M" "$STRATA" info "$OUT/tiny.ldibrtqp" 2>&1 >/dev/null | tail -1)
  for side in $SCALE_SIZES; do
    file="$OUT/scale$side.ldibrtqp"
    [ -f "$file" ] || "$STRATA" make demo --kind rt-qp --size "$side" --layers 8 -o "$file" >/dev/null
    samples=$("$STRATA" info "$file" | sed -n 's/^depth pixels: \([0-9]*\).*/\1/p')
    bytes=$(stat -c %s "$file")
    load=""
    kb=0
    for _ in $(seq "$RUNS"); do
      read -r s k < <(/usr/bin/time -f "%e %M" "$STRATA" info "$file" 2>&1 >/dev/null | tail -1)
      if [ -z "$load" ] || awk -v a="$s" -v b="$load" 'BEGIN { exit !(a < b) }'; then load=$s; fi
      kb=$k
    done
    per=$(awk -v k="$kb" -v b="$base_kb" -v n="$samples" 'BEGIN { printf "%.1f", (k - b) * 1024 / n }')
    filePer=$(awk -v f="$bytes" -v n="$samples" 'BEGIN { printf "%.1f", f / n }')
    row="| $side | $samples | $((bytes / 1048576)) | $load | $((kb / 1024)) | $per ($filePer) |"
    for mode in basic high; do
      for threads in 1 auto; do
        flag=()
        [ "$threads" = 1 ] && flag=(--threads 1)
        read -r ms _ t <<<"$(FRAMES=$(( FRAMES / 10 > 3 ? FRAMES / 10 : 3 )) best "$STRATA" "$file" --size 1920x1080 --quality "$mode" "${flag[@]}")"
        row="$row $ms ($t) |"
      done
    done
    echo "$row"
  done
  echo
fi
