#!/usr/bin/env bash
# Frames per second of a 48-frame 1920 x 1080 shot rendered with the
# defaults (one worker process a core, OpenEXR threads a core) against the
# same shot held to one core (--jobs 1 --threads 1), and their ratio.
#
#   bench/shot_bench.sh [KESTRION]       default: build/bin/kestrion
#
# Environment: FRAMES (default 48), WIDTH/HEIGHT (default 1920 x 1080),
# TARGET (default 1.7): the ratio below which the script exits 1.
# Run it on an otherwise idle machine; it is not part of CI.
set -euo pipefail
shopt -s inherit_errexit # a failed render fails the run inside $(...) too
root=$(cd "$(dirname "$0")/.." && pwd)
kestrion=${1:-$root/build/bin/kestrion}
frames=${FRAMES:-48}
width=${WIDTH:-1920}
height=${HEIGHT:-1080}
target=${TARGET:-1.7}
[[ -x $kestrion ]] || {
  echo "shot_bench: $kestrion is not an executable" >&2
  exit 2
}

tmp=$(mktemp -d /tmp/kestrion-shot-bench.XXXXXX)
trap 'rm -rf "$tmp"' EXIT

# One frame of the demo scene, copied: every frame costs the same, so the
# two runs differ only in how the work is spread.
"$kestrion" demo -q --original "$tmp/in.0001.exr" -o "$tmp/demo.png" \
  --width "$width" --height "$height" >/dev/null
for f in $(seq 2 "$frames"); do
  cp "$tmp/in.0001.exr" "$(printf '%s/in.%04d.exr' "$tmp" "$f")"
done
shot=(--frames "1-$frames" --focus-depth 12 --range "1:8,$frames:16" --size "1:6,$frames:14" -q)

# Prints the seconds a render of the whole shot takes with the given options.
run() {
  local out=$tmp/out-$1
  shift
  mkdir "$out"
  local t0 t1
  t0=$(date +%s.%N)
  "$kestrion" render "$tmp/in.####.exr" -o "$out/out.####.exr" "${shot[@]}" "$@" >/dev/null
  t1=$(date +%s.%N)
  rm -rf "$out"
  awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'
}

echo "shot_bench: $frames frames of $width x $height on $(nproc) cores"
one=$(run one --jobs 1 --threads 1)
all=$(run all)
fps_one=$(awk -v n="$frames" -v t="$one" 'BEGIN { print n / t }')
fps_all=$(awk -v n="$frames" -v t="$all" 'BEGIN { print n / t }')
ratio=$(awk -v a="$fps_all" -v b="$fps_one" 'BEGIN { print a / b }')
printf 'one core  (--jobs 1 --threads 1): %6.2f s  %5.2f frames/s\n' "$one" "$fps_one"
printf 'defaults                        : %6.2f s  %5.2f frames/s\n' "$all" "$fps_all"
printf 'ratio: %.2f x (target %s x)\n' "$ratio" "$target"
awk -v r="$ratio" -v t="$target" 'BEGIN { exit !(r >= t) }'
