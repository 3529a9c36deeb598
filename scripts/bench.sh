#!/usr/bin/env bash
# Benchmarks, each figure next to a baseline measured in the same run: the
# download engine against a bare WinINet loop and curl, a whole update
# against the sum of its parts and by an updater stamped with a publisher key
# against a plain one on the same signed release, the bytes a release of
# rebuilt programs costs with patches against without them (and their apply
# time against plain downloads, and a transfer cut at 60 % against its
# size), the checksum against
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
  rm -rf "$WORK" "$B/www/bench" "$B/www/9.0.0.1" "$B/www/9.0.1.1"
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

echo "== deltas (QZPlayer.exe and update.exe rebuilt after a one-line change, beside unchanged files: a keyed update with the delta index against one without)"
# This tree with one line of the framework both programs link changed (a
# module name in capitals: the same behaviour, other code), built for those
# two programs only. The copy keeps the files' times and its build
# folder stays between runs, so that a later run compiles little more than
# that one file.
CHANGED_SRC=$WORK/changed-src
CHANGED_B=$(pwd)/$B/bench-changed
mkdir -p "$CHANGED_SRC"
tar -C . --exclude=./build --exclude=./.git -cf - . | tar -C "$CHANGED_SRC" -xf -
sed -i 's/GetModuleHandleW(L"kernel32.dll")/GetModuleHandleW(L"KERNEL32.DLL")/' "$CHANGED_SRC/framework/App.cpp"
grep -q 'L"KERNEL32.DLL"' "$CHANGED_SRC/framework/App.cpp"
(cd "$CHANGED_SRC" && cmake --preset win64 -B "$CHANGED_B" >/dev/null && cmake --build "$CHANGED_B" --target QZPlayer update >/dev/null)
OLD=$WORK/delta-old NEW=$B/www/bench/drel INSTALL=$WORK/delta-install
mkdir -p "$OLD" "$NEW" "$INSTALL"
cp "$B/bin/QZPlayer.exe" "$B/bin/update.exe" "$OLD/"
cp "$CHANGED_B/bin/QZPlayer.exe" "$CHANGED_B/bin/update.exe" "$NEW/"
for i in 1 2 3; do
  head -c 200000 /dev/urandom >"$OLD/data$i.bin"
  cp "$OLD/data$i.bin" "$NEW/"
done
# Both updaters stamped with the run's key, as a release that ships one has it.
mm() { cmake/wine-harness.sh run "$B" "$B/bin/makemanifest.exe" "$@" >/dev/null; }
mm --stamp "$(winpath "$KEYS")\\publisher.pub" "$(winpath "$OLD")\\update.exe"
mm --stamp "$(winpath "$KEYS")\\publisher.pub" "$(winpath "$NEW")\\update.exe"
for f in QZPlayer.exe update.exe; do
  ! cmp -s "$OLD/$f" "$NEW/$f" || { echo "bench: the change left $f as it was" >&2; exit 1; }
done
cp "$OLD"/* "$INSTALL/"
printf '[UpdateSrv]\r\nFtpAddr=127.0.0.1\r\nVersion=%d\r\n' $(( (9 << 24) + (1 << 8) + 1 )) >"$INSTALL/Update.ini"
# The release before as it was published (the patches' sources), then this
# one signed with it as --previous; the patches land in /bench/patches.
mm "$(winpath "$OLD")" 9.0.1.1 /bench/dold
mm --key "$(winpath "$KEYS")\\publisher.key" --previous "$(winpath "$OLD")" "$(winpath "$NEW")" 9.0.1.2 /bench/drel
mkdir -p "$B/www/9.0.1.1"
mv "$NEW/update.xml" "$NEW/update.sig" "$B/www/9.0.1.1/"
mv "$NEW/update.dlt" "$WORK/update.dlt"
# One whole update by the stamped updater: its time, and in SENT the body
# bytes the test server sent for it (all requests, or those for one path).
update_run() {
  curl -s http://127.0.0.1:8085/__qz/reset >/dev/null
  cmake/wine-harness.sh run "$B" "$B/bin/update_bench.exe" run "$(winpath "$INSTALL")" "$(winpath "$WORK/$1")" |
    tr -d '\r' | sed "s/^/  $1: /"
  SENT=$(curl -s http://127.0.0.1:8085/__qz/stats |
    awk -v p="${2:-}" 'NR > 1 && (p == "" || $2 == p) { s += $4 } END { print s + 0 }')
}
cp "$WORK/update.dlt" "$B/www/9.0.1.1/"
update_run with-deltas
with=$SENT
rm "$B/www/9.0.1.1/update.dlt"
update_run without-deltas
awk -v w="$with" -v o="$SENT" 'BEGIN { printf "bytes sent: with the delta index %d, without %d: %.1f %% of the full bytes (goal: at most 15 %%)\n", w, o, 100 * w / o }'
# The same patches, fetched and applied, against the same files downloaded whole.
args=()
for f in QZPlayer.exe update.exe; do
  patch=$(awk -v h="$(sha256sum "$NEW/$f" | cut -c1-64)" '$1 == "patch" && $2 == "zstd-pf1" && $5 == h { print $8 }' \
    "$WORK/update.dlt")
  [ -n "$patch" ] || { echo "bench: no patch for $f in the delta index" >&2; exit 1; }
  echo "  $f: $(stat -c %s "$NEW/$f") bytes, its patch $(awk -v p="$patch" '$8 == p { print $6 }' "$WORK/update.dlt") bytes"
  args+=("$(winpath "$OLD/$f")" "$patch" "/bench/drel/$f" "$(stat -c %s "$NEW/$f")")
done
cmake/wine-harness.sh run "$B" "$B/bin/update_bench.exe" patch "$(winpath "$WORK")" "${args[@]}" | tr -d '\r'
# A transfer cut at 60 % (the connection reset) continues in the next attempt.
size=$(stat -c %s "$NEW/QZPlayer.exe")
curl -s "http://127.0.0.1:8085/__qz/fault?path=/bench/drel/QZPlayer.exe&mode=drop&times=1&after=$((size * 6 / 10))" >/dev/null
update_run cut-at-60 /bench/drel/QZPlayer.exe
awk -v c="$SENT" -v s="$size" 'BEGIN { printf "QZPlayer.exe (%d bytes) cut at 60 %% and resumed: %d bytes sent, %.2f x its size (goal: at most 1.1 x)\n", s, c, c / s }'

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
