#!/usr/bin/env bash
# Benchmarks, each figure next to a baseline measured in the same run: the
# download engine against a bare WinINet loop and curl, a whole update
# against the sum of its parts and by an updater stamped with a publisher key
# against a plain one on the same signed release, the checksum against
# a plain read, the player's Open against bare COM creation of the control,
# Wine's own media control on a real clip (open to Playing, the clock, and
# what ten open/stop cycles leave against one),
# the playlist's section save and load against one profile call per key, the
# player program's start, forward, long list and memory against a minimal one,
# for the 64-bit build and for the shipped 32-bit one under emulation, on one
# CPU and on both.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../cmake/fail-trap.sh"
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 >/dev/null
B=build/win64
WORK=$B/bench
mkdir -p "$WORK" "$B/www/bench"

cleanup() {
  cmake/test-servers.sh stop "$B" >/dev/null 2>&1 || true
  cmake/wine-harness.sh stop "$B" >/dev/null 2>&1 || true
  rm -rf "$WORK" "$B/www/bench" "$B/www/9.0.0.1"
}
trap cleanup EXIT
cmake/wine-harness.sh start "$B" >/dev/null
cmake/test-servers.sh start "$B" >/dev/null

DL_SIZE=$((200 * 1000 * 1000))
head -c "$DL_SIZE" /dev/urandom >"$B/www/bench/big.bin"
head -c $((256 * 1024 * 1024)) /dev/urandom >"$WORK/sum.bin"
winpath() { printf 'Z:%s' "$(realpath "$1" | tr '/' '\\')"; }

echo "== download engine (127.0.0.1:8085, 20,480-byte reads)"
out=$(cmake/wine-harness.sh run "$B" "$B/bin/update_bench.exe" download /bench/big.bin "$DL_SIZE" "$(winpath "$WORK")" | tr -d '\r')
echo "$out" | grep -v '^ENGINE_MBPS='
engine=$(echo "$out" | sed -n 's/^ENGINE_MBPS=//p')
best=0
for _ in 1 2 3; do
  bps=$(curl -s -o /dev/null -w '%{speed_download}' http://127.0.0.1:8085/bench/big.bin)
  best=$(awk -v a="$best" -v b="$bps" 'BEGIN { print (b > a ? b : a) }')
done
awk -v c="$best" -v e="$engine" 'BEGIN { printf "curl (native, best of 3) %.1f MB/s; engine / curl %.2f\n", c / 1e6, e / (c / 1e6) }'

echo "== update procedure (the largest 10:1 release one manifest of 10,240 bytes can list)"
UNCHANGED=80
CHANGED=8
REL=$B/www/bench/rel
TEMPLATE=$WORK/template
mkdir -p "$REL/u" "$REL/c" "$TEMPLATE/u" "$TEMPLATE/c"
for i in $(seq 1 $UNCHANGED); do
  head -c 65536 /dev/urandom >"$REL/u/$i.bin"
  cp "$REL/u/$i.bin" "$TEMPLATE/u/$i.bin"
done
for i in $(seq 1 $CHANGED); do
  head -c 1048576 /dev/urandom >"$REL/c/$i.bin"
  head -c 1048576 /dev/urandom >"$TEMPLATE/c/$i.bin"
done
# Signed with a key made for the run; an unstamped updater reads the same manifest as ever.
KEYS=$WORK/keys
cmake/wine-harness.sh run "$B" "$B/bin/makemanifest.exe" --new-key "$(winpath "$WORK")\\keys" >/dev/null
cmake/wine-harness.sh run "$B" "$B/bin/makemanifest.exe" --key "$(winpath "$KEYS")\\publisher.key" \
  "$(winpath "$REL")" 9.0.0.2 /bench/rel >/dev/null
mkdir -p "$B/www/9.0.0.1"
mv "$REL/update.xml" "$REL/update.sig" "$B/www/9.0.0.1/"
cp "$B/bin/update.exe" "$TEMPLATE/"
printf '[UpdateSrv]\r\nFtpAddr=127.0.0.1\r\nVersion=%d\r\n' $(( (9 << 24) + 1 )) >"$TEMPLATE/Update.ini"
cmake/wine-harness.sh run "$B" "$B/bin/update_bench.exe" procedure "$(winpath "$TEMPLATE")" "$(winpath "$WORK")" | tr -d '\r'

echo "== signed update (the same release and installation, an updater stamped with the key against a plain one)"
KEYED=$WORK/template-keyed
cp -r "$TEMPLATE" "$KEYED"
cmake/wine-harness.sh run "$B" "$B/bin/makemanifest.exe" --stamp "$(winpath "$KEYS")\\publisher.pub" \
  "$(winpath "$KEYED")\\update.exe" >/dev/null
cmake/wine-harness.sh run "$B" "$B/bin/update_bench.exe" keyed "$(winpath "$TEMPLATE")" "$(winpath "$KEYED")" \
  "$(winpath "$WORK")" | tr -d '\r'

echo "== checksum"
cat "$WORK/sum.bin" >/dev/null  # cached before either side reads it
cmake/wine-harness.sh run "$B" "$B/bin/update_bench.exe" checksum "$(winpath "$WORK/sum.bin")" | tr -d '\r'

echo "== playback (simulated controls)"
cmake/wine-harness.sh run "$B" "$B/bin/playback_bench.exe" | tr -d '\r'

echo "== playback through Wine's own media control (a 3 s WMV made by ffmpeg; ten open/stop cycles against one)"
cmake/media-clips.sh "$WORK/media" >/dev/null
cmake/wine-harness.sh run "$B" "$B/bin/real_media_bench.exe" "$(winpath "$WORK/media/rgb-3s.wmv")" | tr -d '\r'

echo "== playlist (10,000 entries as one section, next to one profile call per key on shorter lists)"
cmake/wine-harness.sh run "$B" "$B/bin/playlist_bench.exe" 10000 250 500 1000 | tr -d '\r'

# The player program in a build folder, each figure against a minimal window
# program of the same build; arguments after the folder run the bench (e.g.
# under taskset).
player_bench() {
  local b=$1 player=$1/bench/player
  shift
  mkdir -p "$player/Config"
  cp "$b/bin/QZPlayer.exe" "$player/"
  "$@" cmake/wine-harness.sh run "$b" "$b/bin/player_bench.exe" "$(winpath "$player")" "$(winpath "$b/bin")" | tr -d '\r'
}
# The same on one CPU: Wine's server, the X server and the programs together.
# Every window call of a Wine program is a request to Wine's server; on this
# virtual machine a request that wakes the server on the other CPU costs tens
# of microseconds, and where the scheduler puts the two decides start times
# more than the programs' own work does (see docs/platform-notes.md).
player_bench_one_cpu() {
  local b=$1
  cmake/wine-harness.sh stop "$b" >/dev/null
  taskset -c 0 cmake/wine-harness.sh start "$b" >/dev/null
  player_bench "$b" taskset -c 0
  cmake/wine-harness.sh stop "$b" >/dev/null
  cmake/wine-harness.sh start "$b" >/dev/null
}
echo "== player program, 64-bit, on one CPU (each figure against a minimal window program)"
player_bench_one_cpu "$B"
echo "== player program, 64-bit, on both CPUs as the tests run (the same figures)"
player_bench "$B"

# The shipped build, under emulation: its own harness and prefix.
B32=build/win32
cmake --preset win32 >/dev/null
cmake --build --preset win32 >/dev/null
trap 'cleanup; cmake/wine-harness.sh stop "$B32" >/dev/null 2>&1 || true; rm -rf "$B32/bench"' EXIT
cmake/wine-harness.sh start "$B32" >/dev/null
echo "== player program, 32-bit under emulation, on one CPU (the same figures)"
player_bench_one_cpu "$B32"
echo "== player program, 32-bit under emulation, on both CPUs"
player_bench "$B32"
