#!/usr/bin/env bash
# The demo: the player driven by its client, then a real update, end to end.
#
#   scripts/demo.sh [--arch win64|win32] [player|update]     (both when none is named)
#
# --arch win32 runs the shipped 32-bit build (under emulation, see the README);
# the default is the 64-bit build.
#
# Player: a program folder with QZPlayer.exe, the substitute client and the
# simulated player controls (registered in the demo's prefix for the time of
# the demo). Through the client the player starts with a first item, gets two
# more from second starts, plays them through one after another, is
# recoloured, lends its video pane to the client and gets it back, and quits.
# Prints the saved playlist and history and the order of the engines driven.
# Then, with Wine's own media control, a clip made by ffmpeg plays in the
# player's pane: a screenshot, the engine's states and the clip's length.
#
# Update: an installation of release 1.0.0.1 (a few files, the substitute
# client and update.exe) is brought to release 1.0.0.2, which the local update
# server serves on 127.0.0.1:8085. The publisher's key pair is made for the
# demo, the installation's update.exe stamped with its public half and the
# release signed with it. The running client holds one of the files open the
# way a running program holds its image, starts update.exe visibly with
# itself as reply target and waits for the reply; the updater's own
# diagnostics (Wine's debug channel) show the signature it verified. The
# release is signed with 1.0.0.1 as --previous: the player library, changed in
# a few bytes, arrives as a patch from the installed one (the bytes saved are
# printed).
#
# Runs on $DISPLAY when there is a usable one, otherwise on a virtual display,
# and saves screenshots under build/<arch>/screenshots/.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../cmake/fail-trap.sh"
cd "$(dirname "${BASH_SOURCE[0]}")/.."

usage() { echo "usage: scripts/demo.sh [--arch win64|win32] [player|update]" >&2; exit 2; }
arch=win64
what=all
while [ $# -gt 0 ]; do
  case $1 in
    --arch) arch=${2:-}; shift 2 || usage ;;
    --arch=*) arch=${1#--arch=}; shift ;;
    all | player | update) what=$1; shift ;;
    *) usage ;;
  esac
done
case $arch in win64 | win32) ;; *) usage ;; esac

scripts/setup.sh
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" >/dev/null
B=build/$arch
# The player reads its controls' registration in its own registry view.
REGVIEW=/reg:64
[ "$arch" = win32 ] && REGVIEW=/reg:32
BIN=$B/bin
DEMO=$B/demo
INSTALL=$DEMO/install
RELEASE=$DEMO/release
PLAYER=$DEMO/player
SHOT=$B/screenshots/demo_progress.png
winpath() { printf 'Z:%s' "$(realpath "$1" | tr '/' '\\')"; }
wine_run() { cmake/wine-harness.sh run "$B" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# The simulated controls' class ids; the saved registrations go back at the end.
SIM_CLSIDS="{D27CDB6E-AE6D-11CF-96B8-444553540000} {6BF52A52-394A-11D3-B153-00C04F79FAA6} {CFCDAA03-8BE4-11CF-B84B-0020AFBBCCFA}"
sim_registered=0
restore_controls() {
  [ "$sim_registered" = 1 ] || return 0
  local i=0 c
  for c in $SIM_CLSIDS; do
    i=$((i + 1))
    if [ -s "$PLAYER/saved$i.reg" ]; then
      wine_run reg delete "HKLM\\Software\\Classes\\CLSID\\$c\\InprocServer32" /f $REGVIEW >/dev/null || true
      wine_run reg import "$(winpath "$PLAYER/saved$i.reg")" $REGVIEW >/dev/null || true
    else
      wine_run reg delete "HKLM\\Software\\Classes\\CLSID\\$c" /f $REGVIEW >/dev/null || true
    fi
  done
  sim_registered=0
}

cleanup() {
  [ -n "${client_pid:-}" ] && kill "$client_pid" 2>/dev/null || true
  [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null || true
  restore_controls
  cmake/wine-harness.sh stop "$B" >/dev/null 2>&1 || true
}
trap cleanup EXIT
mkdir -p "$DEMO" "$B/screenshots"

# --- display: the user's, or a virtual one
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  export QZ_DISPLAY="$DISPLAY"
  where="your display $DISPLAY"
else
  unset QZ_DISPLAY
  where="a virtual display (no usable \$DISPLAY)"
fi
cmake/wine-harness.sh start "$B" >/dev/null

player_demo() {
  local started=$SECONDS
  rm -rf "$PLAYER"
  mkdir -p "$PLAYER/Config" "$PLAYER/Skins/ZorvyClient/Images"
  cp "$BIN/QZPlayer.exe" "$BIN/ZorvClient.exe" "$BIN/SimControls.dll" "$PLAYER/"
  cp "$B/QZPlayer/art/qzplayer.ico" "$PLAYER/Skins/ZorvyClient/Images/zorvy.ico"
  # A deep blue frame (0x00BBGGRR); the skin names the player and its icon.
  printf '[SETTING]\r\nFrameColor=%d\r\n' $((0x8A4A1E)) >"$PLAYER/Config/Config.ini"
  { printf '\xff\xfe'; printf '[PLAYER]\r\nNAME=Zorvy 播放器\r\n[FRAME]\r\nICON=zorvy.ico\r\nTEXT_COLOR=16777215\r\n' |
    iconv -f UTF-8 -t UTF-16LE; } >"$PLAYER/Skins/ZorvyClient/Skin.ini"

  # The simulated controls stand in for the three engines; what is there now is
  # saved first and put back by restore_controls.
  local i=0 c key dll
  dll=$(winpath "$PLAYER/SimControls.dll")
  sim_registered=1
  for c in $SIM_CLSIDS; do
    i=$((i + 1))
    key="HKLM\\Software\\Classes\\CLSID\\$c\\InprocServer32"
    wine_run reg export "$key" "$(winpath "$PLAYER")\\saved$i.reg" /y $REGVIEW >/dev/null || rm -f "$PLAYER/saved$i.reg"
    wine_run reg add "$key" /ve /d "$dll" /f $REGVIEW >/dev/null
    wine_run reg add "$key" /v ThreadingModel /d Apartment /f $REGVIEW >/dev/null
  done
  export QZ_SIM_LOG QZ_SIM_OPENING_MS=300
  QZ_SIM_LOG=$(winpath "$PLAYER")\\engines.log

  tell() {
    cmake/wine-harness.sh run "$B" "$PLAYER/ZorvClient.exe" --tell "$@" </dev/null >/dev/null 2>&1 ||
      { [ "${quiet_tell:-}" = 1 ] || echo "demo: the client could not carry out: $*" >&2; return 1; }
  }
  engines() { tr -d '\r' <"$PLAYER/engines.log" 2>/dev/null | grep -E '^(flash Movie=|media URL=|real SetSource )' || true; }

  echo "demo: the player and its client on $where"
  cmake/wine-harness.sh run "$B" "$PLAYER/ZorvClient.exe" --log "$(winpath "$PLAYER")\\client.log" \
    --player '-p http://video.zorvane.example/Intro-3s.flv?Token=aB' </dev/null >/dev/null 2>&1 &
  client_pid=$!
  # The client answers once the player's frame and panes are there.
  for _ in $(seq 100); do quiet_tell=1 tell repaint && break; sleep 0.2; done
  tell player '-a C:\Media\NEWS-3S.WMV|晚间新闻'
  tell player '-a C:\Media\FINALE-3S.RMVB'
  tell player '-a D:\Clips\Holiday-3s.mp4|本地影片'
  sleep 1.5
  cmake/wine-harness.sh screenshot "$B" "$B/screenshots/demo_player.png"
  # Each item plays to its end before the next opens; the last one ends too.
  for _ in $(seq 250); do [ "$(engines | wc -l)" -ge 4 ] && break; sleep 0.1; done
  sleep 1.5
  cmake/wine-harness.sh screenshot "$B" "$B/screenshots/demo_local.png" # the local file in Flash
  sleep 2
  tell colour 2E7D32
  tell change # the player's own button: it asks the client, which takes the pane
  sleep 1
  cmake/wine-harness.sh screenshot "$B" "$B/screenshots/demo_embedded.png"
  tell repaint
  tell change # and gives it back
  sleep 0.5
  cmake/wine-harness.sh screenshot "$B" "$B/screenshots/demo_returned.png"
  tell quit
  tell close
  for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
  client_pid=
  restore_controls

  echo
  echo "client log:"
  tr -d '\r' <"$PLAYER/client.log" | sed 's/^/  /'
  echo "saved playlist and history (Config\\QZPlayer.ini):"
  iconv -f UTF-16 -t UTF-8 "$PLAYER/Config/QZPlayer.ini" | tr -d '\r' |
    awk '/^\[/{s=$0} s=="[ProgList]"||s=="[FileName]"' | sed 's/^/  /'
  echo "engines driven, in order:"
  engines | sed -e 's/^flash Movie=.*\\\(QZFPlayer[A-Za-z]*\.swf\)?file=\([^&]*\).*/  flash   \2  (\1)/' \
    -e 's/^media URL=/  media   /' \
    -e 's/^real SetSource /  real    /'
  echo "screenshots:       $B/screenshots/demo_player.png, demo_local.png, demo_embedded.png, demo_returned.png"
  real_video
  echo "player demo took   $((SECONDS - started)) s"
}

# Real video to end with: a clip made now plays through Wine's own media
# control (the harness registered it; the simulated ones are gone again) in
# the player's pane. The engine writes each play state it hears, with its time
# since the open, and the length the control read, to the debugger (Wine's
# "seh" channel).
real_video() {
  echo
  if [ "$arch" = win32 ]; then
    echo "real video:        not in the 32-bit build (no i386 GStreamer plugins; docs/platform-notes.md)"
    return 0
  fi
  local clip=$PLAYER/media/testcard-5s.wmv log=$PLAYER/real.log shot=$B/screenshots/demo_real_video.png
  mkdir -p "$PLAYER/media"
  # A moving test card with a tone, as WMV (wmav2 takes 2,048 samples a frame).
  ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=s=480x360:r=25:d=5 \
    -f lavfi -i "sine=frequency=440:duration=5:sample_rate=44100,asetnsamples=n=2048:p=0" \
    -c:v wmv2 -b:v 2M -c:a wmav2 -f asf "$clip"
  # Each line shows twice in the channel; the OutputDebugStringA one is taken.
  said() { sed -n "s/.*OutputDebugStringA \"QZPlayer: media $1.*/\1/p" "$log"; }
  heard() { said "play state \\($1\\) at" | grep -c . || true; }
  echo "demo: real video through Wine's own media control: $clip"
  : >"$log"
  QZ_WINEDEBUG=-all,warn+seh cmake/wine-harness.sh run "$B" "$PLAYER/ZorvClient.exe" \
    --log "$(winpath "$PLAYER")\\client-real.log" --player "-p $(winpath "$clip")" </dev/null >/dev/null 2>"$log" &
  client_pid=$!
  for _ in $(seq 300); do [ "$(heard 3)" -ge 1 ] && break; sleep 0.1; done
  sleep 1.5 # well into the clip, the video window adopted into the pane
  cmake/wine-harness.sh screenshot "$B" "$shot"
  for _ in $(seq 200); do [ "$(heard 1)" -ge 1 ] && break; sleep 0.1; done
  tell quit || true
  tell close || true
  for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
  client_pid=
  local states times
  states=$(said 'play state \([0-9]*\) at' | paste -sd, - | sed 's/,/, /g')
  times=$(said 'play state \([0-9]* at [0-9]*\) ms' | sed 's/ at / /')
  echo "engine states:     ${states:-none heard} (9 transitioning, 10 ready, 3 playing, 8 ended, 1 stopped; a second 1 is the quit's stop)"
  echo "$times" | awk '$1 == 3 && !p { p = $2 } $1 == 8 && !e { e = $2 }
    END { if (p) printf "open to playing:   %d ms\n", p; if (p && e) printf "played:            %.2f s (first Playing to the end)\n", (e - p) / 1000 }'
  echo "clip's length:     $(said 'duration \([0-9.]*\) s' | tail -n 1) s as the control read it," \
    "$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$clip") s as ffprobe reads it"
  echo "screenshot:        $shot"
}

update_demo() {
# --- the installed release 1.0.0.1 and the new release 1.0.0.2
KEYS=$DEMO/keys PREVIOUS=$DEMO/previous
rm -rf "$INSTALL" "$RELEASE" "$KEYS" "$PREVIOUS" "$DEMO/patches"
mkdir -p "$INSTALL/skin" "$RELEASE/skin" "$RELEASE/data"
cp "$BIN/update.exe" "$BIN/ZorvClient.exe" "$INSTALL/"
printf '[UpdateSrv]\r\nFtpAddr=127.0.0.1\r\nAppName=ZorvClient.exe\r\nVersion=16777217\r\n' >"$INSTALL/Update.ini"
{ printf 'player library, release 1.0.0.1\n'; head -c 400000 /dev/urandom; } >"$INSTALL/ZorvPlayer.dll"
printf 'QZ client 1.0.0.1\n' >"$INSTALL/readme.txt"
head -c 20000 /dev/urandom >"$INSTALL/skin/main.bmp"

# The same library but for its first line and a few bytes in its middle.
{ printf 'player library, release 1.0.0.2\n'; tail -c +33 "$INSTALL/ZorvPlayer.dll"; } >"$RELEASE/ZorvPlayer.dll"
printf 'a fix' | dd of="$RELEASE/ZorvPlayer.dll" bs=1 seek=200000 conv=notrunc status=none
printf 'QZ client 1.0.0.2: faster start, new skin\n' >"$RELEASE/readme.txt"
cp "$INSTALL/skin/main.bmp" "$RELEASE/skin/main.bmp"
head -c 30000 /dev/urandom >"$RELEASE/skin/new.bmp"
head -c 3000000 /dev/urandom >"$RELEASE/data/intro.dat"

# --- the publisher: a key pair made for the demo (a real one lives off the
# build machine), the installation's updater stamped, the release signed (a
# release that ships an updater must have it stamped before it is signed)
mm() { cmake/wine-harness.sh run "$B" "$BIN/makemanifest.exe" "$@" </dev/null | tr -d '\r'; }
mm --new-key "$(winpath "$KEYS")"
mm --stamp "$(winpath "$KEYS")\\publisher.pub" "$(winpath "$INSTALL/update.exe")"
# Release 1.0.0.1 as it was published (its files and manifest): the patches' sources.
mkdir -p "$PREVIOUS/skin"
cp "$INSTALL/ZorvPlayer.dll" "$INSTALL/readme.txt" "$PREVIOUS/"
cp "$INSTALL/skin/main.bmp" "$PREVIOUS/skin/"
mm "$(winpath "$PREVIOUS")" 1.0.0.1 /1.0.0.1 >/dev/null
mm --key "$(winpath "$KEYS")\\publisher.key" --previous "$(winpath "$PREVIOUS")" "$(winpath "$RELEASE")" 1.0.0.2 /1.0.0.2 \
  "第二版" | tail -n 3

# --- the update server, serving the release as the updater asks for it
if curl -s -o /dev/null http://127.0.0.1:8085/; then
  echo "demo: port 8085 is taken; stop whatever serves it first" >&2
  return 1
fi
/usr/bin/python3 tools/update_server.py --release "$RELEASE" --port 8085 </dev/null >"$DEMO/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do curl -s -o /dev/null http://127.0.0.1:8085/__qz/stats && break; sleep 0.1; done
# The big file comes slowly, so that the dialog can be seen (and photographed).
curl -s -o /dev/null "http://127.0.0.1:8085/__qz/fault?path=/1.0.0.2/data/intro.dat&mode=slow&after=20480&delay=25"

snapshot() { (cd "$INSTALL" && find . -type f ! -name ZorvClient.log -printf '%P\n' | sort | while read -r f; do
  printf '%s %s\n' "$(sha256sum "$f" | cut -c1-16)" "$f"; done); }
before=$(snapshot)

# --- the client runs, holds its player library and starts the updater
echo "demo: updating $INSTALL from 1.0.0.1 to 1.0.0.2 on $where"
# Wine's "seh" channel carries OutputDebugString, where the updater's diagnostics go.
QZ_WINEDEBUG=-all,warn+seh cmake/wine-harness.sh run "$B" "$INSTALL/ZorvClient.exe" --hold-mutexes \
  --hold-file "$(winpath "$INSTALL/ZorvPlayer.dll")" --exit-after-reply --run-updater \
  </dev/null >/dev/null 2>"$DEMO/diagnostics.log" &
client_pid=$!

for _ in $(seq 300); do
  curl -s http://127.0.0.1:8085/__qz/stats | grep -q 'intro.dat' && break
  sleep 0.1
done
sleep 1 # let the dialog draw its progress
cmake/wine-harness.sh screenshot "$B" "$SHOT"

for _ in $(seq 600); do
  kill -0 "$client_pid" 2>/dev/null || break
  sleep 0.1
done
client_pid=
after=$(snapshot)

# --- what changed
reply=$(tr -d '\r' <"$INSTALL/ZorvClient.log" 2>/dev/null | sed -n 's/^reply //p' | tail -n 1)
echo
BEFORE="$before" AFTER="$after" /usr/bin/python3 - <<'PY'
import os
def table(text):
    return dict(reversed(line.split(" ", 1)) for line in text.splitlines() if line)
before, after = table(os.environ["BEFORE"]), table(os.environ["AFTER"])
def show(title, names, note=""):
    print("%-18s %s%s" % (title, ", ".join(sorted(names)) or "none", note))
show("files replaced:", [f for f in before if f in after and before[f] != after[f]])
show("files added:", [f for f in after if f not in before and not f.startswith("Temp/")])
show("files unchanged:", [f for f in before if after.get(f) == before[f]])
show("moved aside:", [f for f in after if f not in before and f.startswith("Temp/")],
     "  (the copy the running client held)")
PY
verified=$(sed -n 's/.*OutputDebugStringA ".*Signature verified: \(.*\)\\n"$/\1/p' "$DEMO/diagnostics.log" | tail -n 1)
if [ -n "$verified" ]; then
  echo "signature:         verified by update.exe: $verified"
else
  echo "signature:         not verified; the updater said:"
  sed -n 's/.*OutputDebugStringA "\(.*\)\\n"$/  \1/p' "$DEMO/diagnostics.log" | grep -v SendRequest | tail -n 5
fi
# "Patched <name> (<method>): <fetched> bytes fetched for <size>", one line per patched file.
patched=$(sed -n 's/.*OutputDebugStringA ".*Patched \(.*\) (\(.*\)): \([0-9]*\) bytes fetched for \([0-9]*\)\\n"$/\1 \2 \3 \4/p' \
  "$DEMO/diagnostics.log")
if [ -n "$patched" ]; then
  echo "$patched" | while read -r name method fetched size; do
    echo "patched:           $name ($method): $fetched bytes fetched for $size, $((size - fetched)) bytes saved"
  done
else
  echo "patched:           none"
fi
case "$reply" in
  1) echo "reply received:    lParam 1 (update completed)" ;;
  0) echo "reply received:    lParam 0 (update not completed)" ;;
  *) echo "reply received:    none" ;;
esac
echo "requests served:   $(curl -s http://127.0.0.1:8085/__qz/stats | tail -n +2 | cut -d' ' -f2 | paste -sd, - | sed 's/,/, /g')"
echo "screenshot:        $SHOT"
[ "$reply" = 1 ] && [ -n "$verified" ] && [ -n "$patched" ]
}

case $what in
  player) player_demo ;;
  update) update_demo ;;
  all) player_demo; echo; update_demo ;;
esac
