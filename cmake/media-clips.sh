#!/usr/bin/env bash
# Makes the real-media tests' clips with ffmpeg, once: three seconds each of
# solid red, green and blue (320x240, 25 frames per second) with a 440 Hz
# tone, as WMV (wmv2/wmav2), MP4 (H.264/AAC: Wine plays MP4 only with sound)
# and FLV (Sorenson/MP3), the formats Wine's media control plays.
#
#   media-clips.sh OUT_DIR
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/fail-trap.sh"

out=${1:?output folder}
mkdir -p "$out"
graph="color=c=red:s=320x240:r=25:d=1[r];color=c=lime:s=320x240:r=25:d=1[g];"
graph+="color=c=blue:s=320x240:r=25:d=1[b];[r][g][b]concat=n=3:v=1:a=0,format=yuv420p[v];"
# Each audio encoder takes frames of its own size.
make() {
  local name=$1 samples=$2
  shift 2
  [ -s "$out/$name" ] && [ -s "$out/$name.duration" ] && return 0
  ffmpeg -nostdin -y -v error \
    -filter_complex "${graph}sine=frequency=440:duration=3:sample_rate=44100,asetnsamples=n=$samples:p=0[s]" \
    -map '[v]' -map '[s]' "$@" "$out/$name.part.${name##*.}"
  mv "$out/$name.part.${name##*.}" "$out/$name"
  # Its length as ffprobe reads it, which the tests compare with the control's.
  ffprobe -v error -show_entries format=duration -of csv=p=0 "$out/$name" >"$out/$name.duration"
}
make rgb-3s.wmv 2048 -c:v wmv2 -b:v 1M -c:a wmav2 -f asf
make rgb-3s.mp4 1024 -c:v libx264 -pix_fmt yuv420p -c:a aac -f mp4
make rgb-3s.flv 1152 -c:v flv -b:v 1M -c:a libmp3lame -ar 44100 -f flv
echo "media-clips: $(ls "$out" | tr '\n' ' ')"
