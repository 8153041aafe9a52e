#!/usr/bin/env bash
# MPEG-4 decode rate of the engine against ffmpeg with one thread, on the same 704 x 576 streams
# (ffmpeg's mpeg4 encoder and xvid, 2 Mbit/s, a key frame a second, no B-frames).
#   bench/engine_mpeg4_vs_ffmpeg.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frames=750
for enc in mpeg4 libxvid; do
  src="$work/$enc.m4v"
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=704x576:rate=25" -frames:v $frames \
    -c:v $enc -b:v 2M -g 25 -bf 0 -f m4v "$src"
  echo "== $enc, $frames pictures 704x576, $(stat -c %s "$src") bytes"
  KESTREL_BENCH_MPEG4="$src" "$build/bench/bench_engine_mpeg4" --benchmark_min_time=2 2>/dev/null | grep BM_
  # ffmpeg's own account: bench: utime=1.234s stime=... rtime=...
  times=$(ffmpeg -hide_banner -nostats -benchmark -threads 1 -i "$src" -f null - 2>&1 | grep -o 'utime=[0-9.]*s.*rtime=[0-9.]*s')
  utime=$(echo "$times" | sed 's/utime=\([0-9.]*\)s.*/\1/')
  rtime=$(echo "$times" | sed 's/.*rtime=\([0-9.]*\)s/\1/')
  printf 'ffmpeg -threads 1: %.0f fps of user time, %.0f fps of wall time\n' \
    "$(echo "$frames / $utime" | bc -l)" "$(echo "$frames / $rtime" | bc -l)"
done
