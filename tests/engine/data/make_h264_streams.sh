#!/usr/bin/env bash
# Makes the H.264 streams of the recording tests as the recorders code them (x264 baseline:
# CAVLC, I and P slices only, SPS and PPS before every IDR picture, no SEI) and ffmpeg's decode
# of each as a framemd5. Needs ffmpeg and x264; the results are committed, so the tests do not.
#   tests/engine/data/make_h264_streams.sh
set -euo pipefail
data=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name size frames keyint slices
make_stream() {
  local name=$1 size=$2 frames=$3 keyint=$4 slices=$5
  ffmpeg -hide_banner -loglevel error -f lavfi -i "testsrc2=size=$size:rate=25" -frames:v "$frames" \
    -pix_fmt yuv420p -f rawvideo - |
    x264 --quiet --no-progress --demuxer raw --input-csp i420 --input-res "$size" --fps 25 \
      --profile baseline --preset medium --keyint "$keyint" --min-keyint "$keyint" --no-scenecut \
      --slices "$slices" --crf 30 -o "$work/$name.264" - 2>/dev/null
  # x264 writes its settings as an SEI message into the first picture; the recorders do not
  ffmpeg -hide_banner -loglevel error -y -i "$work/$name.264" -c copy -bsf:v filter_units=remove_types=6 \
    -f h264 "$data/$name.264"
  ffmpeg -hide_banner -loglevel error -y -threads 1 -i "$data/$name.264" -f framemd5 -pix_fmt yuv420p \
    "$data/$name.ffmpeg.framemd5"
  ls -l "$data/$name.264" "$data/$name.ffmpeg.framemd5"
}

make_stream h264_704x576 704x576 30 10 1
# half-height pictures (one field of the camera's frame), three slices per picture
make_stream h264_704x288 704x288 40 12 3
