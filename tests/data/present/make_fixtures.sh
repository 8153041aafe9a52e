#!/usr/bin/env bash
# Makes the committed picture fixtures of the presentation and snapshot tests (needs ffmpeg):
# one frame of ffmpeg's testsrc2 pattern, 176x144, stored as a port's picture buffer holds it
# (planar YUV 4:2:0 in the plane order Y, V, U).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
w=176 h=144
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
ffmpeg -v error -f lavfi -i "testsrc2=size=${w}x${h}:rate=25" -ss 1.2 -frames:v 1 \
  -pix_fmt yuv420p -f rawvideo -y "$tmp"
luma=$((w * h)) chroma=$((w * h / 4))
{
  head -c "$luma" "$tmp"
  tail -c "$chroma" "$tmp"                                 # V (Cr)
  head -c $((luma + chroma)) "$tmp" | tail -c "$chroma"    # U (Cb)
} > testsrc2_176x144.yv12
