#!/usr/bin/env bash
# Third-codec decode speed against xvidcore at 704x576: makes the pictures with ffmpeg's testsrc2,
# encodes them with the test encoder, makes an MPEG-4 stream of the same pictures at the same
# bitrate with ffmpeg, then runs bench_vdec3.
#   bench/vdec3_bench.sh [BUILD_DIR] [benchmark args...]
set -euo pipefail
build=${1:-build}
[ $# -gt 0 ] && shift
work=${KESTREL_BENCH_TMP:-/tmp/kestrel-vdec3-bench}
frames=${FRAMES:-50}
q=${Q:-5}
mkdir -p "$work"
yuv=$work/testsrc2_704x576_${frames}f.yuv
stream=$work/vdec3_q${q}_${frames}f.bin
m4v=$work/mpeg4_${frames}f.m4v
[ -s "$yuv" ] || ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=704x576:rate=25 \
    -frames:v "$frames" -pix_fmt yuv420p -f rawvideo "$yuv"
export KESTREL_VDEC3_BENCH_YUV=$yuv KESTREL_VDEC3_BENCH_STREAM=$stream KESTREL_VDEC3_BENCH_Q=$q
# First run writes the third-codec stream; its size sets the MPEG-4 bitrate.
[ -s "$stream" ] || "$build/bench/bench_vdec3" --benchmark_filter=none >/dev/null
bytes=$(stat -c %s "$stream")
kbps=$(( bytes * 8 * 25 / frames / 1000 ))
echo "third codec: q $q, $bytes bytes for $frames frames = $kbps kbit/s at 25 fps"
ffmpeg -loglevel error -y -f rawvideo -pix_fmt yuv420p -s 704x576 -r 25 -i "$yuv" -c:v mpeg4 \
    -bf 0 -g 25 -b:v "${kbps}k" -maxrate "${kbps}k" -bufsize "$(( kbps * 2 ))k" -f m4v "$m4v"
echo "mpeg-4: $(stat -c %s "$m4v") bytes"
KESTREL_VDEC3_BENCH_M4V=$m4v "$build/bench/bench_vdec3" "$@"
