#!/usr/bin/env bash
# Makes samples/sample.h64: 15 s of 704x576 H.264 (baseline: CAVLC, I and P slices, parameter sets
# before every key frame, one key frame a second) with 8 kHz ADPCM sound. Needs x264 and a build
# with the tests (for kestrel-make-sample); the result is committed, so nobody else needs x264.
#   samples/make_sample.sh [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build}
tool=$build/tests/app/kestrel-make-sample
[ -x "$tool" ] || cmake --build "$build" --target kestrel-make-sample
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

frames=375
"$tool" pattern $frames |
  x264 --quiet --demuxer raw --input-csp i420 --input-res 704x576 --fps 25 \
       --profile baseline --preset medium --keyint 25 --min-keyint 25 --no-scenecut \
       --bitrate 500 --vbv-maxrate 800 --vbv-bufsize 800 \
       -o "$work/sample.264" -
"$tool" pack "$work/sample.264" "$top/samples/sample.h64"
ls -l "$top/samples/sample.h64"
