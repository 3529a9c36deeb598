#!/usr/bin/env bash
# The demo: a real update, end to end.
#
# An installation of release 1.0.0.1 (a few files, the substitute client and
# update.exe) is brought to release 1.0.0.2, which the local update server
# serves on 127.0.0.1:8085. The running client holds one of the files open the
# way a running program holds its image, starts update.exe visibly with itself
# as reply target and waits for the reply. Runs on $DISPLAY when there is a
# usable one, otherwise on a virtual display; saves a screenshot of the
# progress dialog and prints what changed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 >/dev/null
B=build/win64
BIN=$B/bin
DEMO=$B/demo
INSTALL=$DEMO/install
RELEASE=$DEMO/release
SHOT=$B/screenshots/demo_progress.png
winpath() { printf 'Z:%s' "$(realpath "$1" | tr '/' '\\')"; }

cleanup() {
  [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null || true
  cmake/wine-harness.sh stop "$B" >/dev/null 2>&1 || true
}
trap cleanup EXIT

# --- the installed release 1.0.0.1 and the new release 1.0.0.2
rm -rf "$DEMO"
mkdir -p "$INSTALL/skin" "$RELEASE/skin" "$RELEASE/data" "$B/screenshots"
cp "$BIN/update.exe" "$BIN/ZorvClient.exe" "$INSTALL/"
printf '[UpdateSrv]\r\nFtpAddr=127.0.0.1\r\nAppName=ZorvClient.exe\r\nVersion=16777217\r\n' >"$INSTALL/Update.ini"
printf 'player library, release 1.0.0.1\n' >"$INSTALL/ZorvPlayer.dll"
printf 'QZ client 1.0.0.1\n' >"$INSTALL/readme.txt"
head -c 20000 /dev/urandom >"$INSTALL/skin/main.bmp"

printf 'player library, release 1.0.0.2\n' >"$RELEASE/ZorvPlayer.dll"
printf 'QZ client 1.0.0.2: faster start, new skin\n' >"$RELEASE/readme.txt"
cp "$INSTALL/skin/main.bmp" "$RELEASE/skin/main.bmp"
head -c 30000 /dev/urandom >"$RELEASE/skin/new.bmp"
head -c 3000000 /dev/urandom >"$RELEASE/data/intro.dat"

# --- display: the user's, or a virtual one
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  export QZ_DISPLAY="$DISPLAY"
  where="your display $DISPLAY"
else
  unset QZ_DISPLAY
  where="a virtual display (no usable \$DISPLAY)"
fi
cmake/wine-harness.sh start "$B" >/dev/null

cmake/wine-harness.sh run "$B" "$BIN/makemanifest.exe" "$(winpath "$RELEASE")" 1.0.0.2 /1.0.0.2 "第二版" \
  | tr -d '\r' | tail -n 1

# --- the update server, serving the release as the updater asks for it
if curl -s -o /dev/null http://127.0.0.1:8085/; then
  echo "demo: port 8085 is taken; stop whatever serves it first" >&2
  exit 1
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
cmake/wine-harness.sh run "$B" "$INSTALL/ZorvClient.exe" --hold-mutexes \
  --hold-file "$(winpath "$INSTALL/ZorvPlayer.dll")" --exit-after-reply --run-updater \
  </dev/null >/dev/null 2>&1 &
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
case "$reply" in
  1) echo "reply received:    lParam 1 (update completed)" ;;
  0) echo "reply received:    lParam 0 (update not completed)" ;;
  *) echo "reply received:    none" ;;
esac
echo "requests served:   $(curl -s http://127.0.0.1:8085/__qz/stats | tail -n +2 | cut -d' ' -f2 | paste -sd, - | sed 's/,/, /g')"
echo "screenshot:        $SHOT"
[ "$reply" = 1 ]
