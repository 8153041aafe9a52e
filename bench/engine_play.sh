#!/usr/bin/env bash
# Ports playing a 704 x 576 MPEG-4 recording in real time (2 Mbit/s, a key frame a second, no
# B-frames, as the recorders write), for both of ffmpeg's MPEG-4 encoders.
#   bench/engine_play.sh [BUILD_DIR] [MAX_PORTS]
# Each stream runs twice: drawn into headless windows (presentation included), and not drawn.
set -euo pipefail
build=${1:-build}
max=${2:-32}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for enc in libxvid mpeg4; do
  src="$work/$enc.m4v"
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=704x576:rate=25" -frames:v 500 \
    -c:v $enc -b:v 2M -g 25 -bf 0 -f m4v "$src"
  echo "== $enc"
  KESTREL_BENCH_MPEG4="$src" "$build/bench/bench_engine_play" "$max"
  KESTREL_BENCH_MPEG4="$src" "$build/bench/bench_engine_play" "$max" --no-window
done
