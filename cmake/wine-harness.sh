#!/usr/bin/env bash
# The Wine harness: a virtual X display, a private Wine prefix and a persistent
# wineserver for one build folder.
#
#   wine-harness.sh start BUILD_DIR         start Xvfb + wineserver (+ create the prefix)
#   wine-harness.sh stop BUILD_DIR          stop everything started by "start"
#   wine-harness.sh run BUILD_DIR EXE ARGS  run a Windows program inside the harness
#   wine-harness.sh screenshot BUILD_DIR OUT.png
#   wine-harness.sh env BUILD_DIR           print the environment (for eval)
#
# Every prefix is a WoW64 one, so programs of either architecture run in it:
# 64-bit ones as with the host's wine64, 32-bit ones (the shipped build)
# through Debian's 32-bit Wine under QEMU's user-mode emulator, unpacked into
# a sysroot by scripts/setup-wine32.sh. "start" registers the binfmt_misc entry
# "qz-i386" that hands 32-bit ELF programs to that emulator when it is missing.
# The build folder's architecture (QZ_ARCH in its CMake cache) is only reported.
#
# With QZ_DISPLAY set (for example ":0"), "start" uses that display instead of
# starting Xvfb, and "stop" leaves it alone.
#
# Background processes never keep the caller's output pipes: ctest waits for
# those to close, so a wineserver started inside a test would hold it for minutes.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/fail-trap.sh"

cmd=${1:?command}
BUILD=$(cd "${2:?build folder}" && pwd)
shift 2

STATE="$BUILD/harness"
PREFIX="$BUILD/wineprefix"
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
DEPS_DIR="${QZ_DEPS_DIR:-$HOME/.cache/qzdeps}"
SYSROOT="$DEPS_DIR/wine32/sysroot"
BINFMT=/proc/sys/fs/binfmt_misc
# One lock for every harness on the machine (any clone, either architecture):
# the binfmt entry and the choice of a display number are shared by all.
LOCK=/tmp/qz-wine-harness.lock
ARCH=win64
grep -qx 'QZ_ARCH:INTERNAL=win32' "$BUILD/CMakeCache.txt" 2>/dev/null && ARCH=win32
# The copy of wine64 in the sysroot starts 32-bit programs with the 32-bit
# loader beside it, and 64-bit ones as the host's does.
WINE="$SYSROOT/usr/lib/wine/wine64"

wine_env() {
  # QZ_WINEDEBUG opens channels for a run, for example "-all,warn+seh", which
  # shows what programs write with OutputDebugString.
  export WINEPREFIX="$PREFIX" WINEDEBUG="${QZ_WINEDEBUG:--all}" WINEARCH=win64
  # The emulator finds the 32-bit loader and libraries in the sysroot.
  export QEMU_LD_PREFIX="$SYSROOT"
  # No Mono/Gecko install prompts in a fresh prefix. Without d3d9 DirectShow
  # draws video with GDI (with it a stale first frame stays in Wine's media
  # control).
  export WINEDLLOVERRIDES="mscoree,mshtml=;d3d9=d"
  # An ALSA device that takes any sound: without one Wine's media control
  # plays nothing at all.
  export ALSA_CONFIG_PATH="$STATE/alsa-null.conf"
  # Under the emulator GStreamer finds no plugins in its built-in folder: the
  # sysroot's are named. Only the 32-bit build's programs play media here
  # (a 64-bit GStreamer would pass over these plugins, and lose its own).
  if [ "$ARCH" = win32 ]; then
    export GST_PLUGIN_SYSTEM_PATH="$SYSROOT/usr/lib/i386-linux-gnu/gstreamer-1.0"
    export GST_PLUGIN_SCANNER="$SYSROOT/usr/lib/i386-linux-gnu/gstreamer1.0/gstreamer-1.0/gst-plugin-scanner"
  fi
  export DISPLAY=":$(cat "$STATE/display")"
  export QZ_SCREENSHOT_DIR="$BUILD/screenshots"
  export QZ_WWW_DIR="$BUILD/www"   # the test server's folder
}

# On a failure: what the harness found and the tail of every log it wrote.
qz_on_error() {
  echo "wine-harness: $cmd $BUILD ($ARCH); state in $STATE:"
  echo "  display: $(cat "$STATE/display" 2>/dev/null || echo none)," \
    "Xvfb: $(alive "$STATE/xvfb.pid" && echo "running (pid $(cat "$STATE/xvfb.pid"))" || echo "not running")," \
    "wineserver: $(server_pids | tr '\n' ' ')"
  echo "  binfmt qz-i386: $(tr '\n' ' ' <"$BINFMT/qz-i386" 2>/dev/null || echo missing)"
  local f
  for f in "$STATE"/*.log; do
    [ -s "$f" ] || continue
    echo "--- last lines of $f"
    tail -n 15 "$f"
  done
}

# The wineserver of this prefix, if any: it runs in its own folder, named
# after the prefix's device and inode.
server_pids() {
  [ -d "$PREFIX" ] || return 0
  local dir p
  dir=$(printf '/tmp/.wine-%s/server-%x-%x' "$(id -u)" "0x$(stat -c %D "$PREFIX")" "$(stat -c %i "$PREFIX")")
  for p in $(pgrep -x wineserver64 || true) $(pgrep -x wineserver || true); do
    [ "$(readlink "/proc/$p/cwd" 2>/dev/null)" = "$dir" ] && echo "$p"
  done
  return 0
}

alive() { [ -f "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }

# The kernel hands 32-bit x86 ELF programs (executables and the dynamic
# loader) to the sysroot's qemu-i386. Flag F opens the emulator now, so the
# entry works in any mount namespace; it is replaced when it names another one.
binfmt() {
  [ -x "$WINE" ] && [ -x "$SYSROOT/usr/bin/qemu-i386" ] || {
    echo "wine-harness: the 32-bit Wine sysroot is missing (run scripts/setup.sh)" >&2; return 1; }
  [ -e "$BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$BINFMT" || {
    echo "wine-harness: cannot mount binfmt_misc (needs root)" >&2; return 1; }
  local qemu="$SYSROOT/usr/bin/qemu-i386"
  if [ -e "$BINFMT/qz-i386" ]; then
    grep -qx "interpreter $qemu" "$BINFMT/qz-i386" && return 0
    echo -1 >"$BINFMT/qz-i386" 2>/dev/null || true # gone already: made again below
  fi
  printf '%s' ":qz-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F" \
    >"$BINFMT/register" 2>/dev/null || true
  grep -qx "interpreter $qemu" "$BINFMT/qz-i386" 2>/dev/null || {
    echo "wine-harness: the binfmt entry qz-i386 could not be made for $qemu" >&2; return 1; }
}

start() {
  mkdir -p "$STATE" "$BUILD/screenshots"
  # Whatever an interrupted earlier run left behind goes first.
  stop_all quiet
  (
    # The lock is released when this subshell ends; Xvfb must not inherit it.
    flock -w 300 9 || { echo "wine-harness: $LOCK stayed locked for 300 s" >&2; exit 1; }
    binfmt
  ) 9>"$LOCK"
  if [ -n "${QZ_DISPLAY:-}" ]; then
    echo "${QZ_DISPLAY#:}" >"$STATE/display"
  else
    start_xvfb
  fi
  wine_env
  local fresh=0
  # A prefix made by another Wine (the 64-bit one alone has no syswow64) is made again.
  [ "$(cat "$PREFIX/.qz-ready" 2>/dev/null)" = wow64 ] || { rm -rf "$PREFIX"; fresh=1; }
  setsid "$WINESERVER" -p </dev/null >"$STATE/wineserver.log" 2>&1 || true
  if [ $fresh -eq 1 ]; then
    "$WINE" wineboot -i </dev/null >"$STATE/wineboot.log" 2>&1
    # Chinese dialog fonts map to the installed CJK font; every program runs in
    # one virtual desktop, which draws title bars and destroys windows without
    # the ~2 s stall of bare Xvfb.
    # regedit wants version-5 files in UTF-16.
    { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$HERE/wine-prefix.reg"; } >"$STATE/prefix.reg"
    "$WINE" regedit /S "$(winepath_of "$STATE/prefix.reg")" </dev/null >>"$STATE/wineboot.log" 2>&1
    # Wine's own fonts (Marlett draws the caption buttons, Tahoma the system
    # font) are not found where this Wine build looks; the prefix's font folder
    # always is.
    for f in /usr/share/wine/fonts/*.ttf; do
      ln -sf "$f" "$PREFIX/drive_c/windows/Fonts/$(basename "$f")"
    done
    # wineboot puts the 64-bit zlib1.dll (which Wine's own modules import)
    # into system32 but no 32-bit one into syswow64.
    cp "$SYSROOT/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll" "$PREFIX/drive_c/windows/syswow64/"
    stop_server
    setsid "$WINESERVER" -p </dev/null >>"$STATE/wineserver.log" 2>&1 || true
    echo wow64 >"$PREFIX/.qz-ready"
  fi
  printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' >"$STATE/alsa-null.conf"
  # Wine's own media control is what the real-media tests play through: a
  # test that registered the simulated one in the prefix and was killed must
  # not leave it standing in. Without a window manager, Wine holds the first
  # SetParent of its video window ~2 s unless its windows are unmanaged.
  "$WINE" regsvr32 /s wmp.dll </dev/null >>"$STATE/wineboot.log" 2>&1
  if [ "$ARCH" = win32 ]; then
    "$WINE" 'C:\windows\syswow64\regsvr32.exe' /s wmp.dll </dev/null >>"$STATE/wineboot.log" 2>&1
  fi
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >>"$STATE/wineboot.log" 2>&1
  # Starts the desktop and the services now, outside any test. On a busy
  # machine a first try can fail while a server of the same prefix is still
  # going away: once more with a fresh server, then the failure is reported.
  if ! setsid "$WINE" wineboot </dev/null >>"$STATE/wineboot.log" 2>&1; then
    echo "wine-harness: wineboot failed; trying again with a fresh wineserver" >&2
    tail -n 5 "$STATE/wineboot.log" >&2
    stop_server
    setsid "$WINESERVER" -p </dev/null >>"$STATE/wineserver.log" 2>&1 || true
    setsid "$WINE" wineboot </dev/null >>"$STATE/wineboot.log" 2>&1
  fi
}

# Xvfb picks a free display itself (-displayfd), atomically through its lock
# file, and names it once it accepts connections: no other X server, ours or
# anyone's, can take the number between a check and the start.
start_xvfb() {
  rm -f "$STATE/display.new"
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -nolisten unix -listen unix \
    </dev/null >"$STATE/xvfb.log" 2>&1 3>"$STATE/display.new" &
  echo $! >"$STATE/xvfb.pid"
  local n=
  for _ in $(seq 300); do
    n=$(head -n 1 "$STATE/display.new" 2>/dev/null || true)
    [ -n "$n" ] && break
    alive "$STATE/xvfb.pid" || break
    sleep 0.1
  done
  if [ -z "$n" ] || ! alive "$STATE/xvfb.pid"; then
    echo "wine-harness: Xvfb did not start" >&2
    return 1
  fi
  echo "$n" >"$STATE/display"
}

winepath_of() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

# Ends this prefix's wineserver and every program in it, and waits until the
# server is gone (a new one for the same prefix cannot start before).
stop_server() {
  [ -d "$PREFIX" ] || return 0
  WINEPREFIX="$PREFIX" "$WINESERVER" -k >/dev/null 2>&1 || true
  WINEPREFIX="$PREFIX" timeout 20 "$WINESERVER" -w >/dev/null 2>&1 || true
  local pids
  pids=$(server_pids)
  if [ -n "$pids" ]; then
    echo "wine-harness: wineserver $pids did not end within 20 s; killed" >&2
    # shellcheck disable=SC2086
    kill -9 $pids 2>/dev/null || true
    sleep 0.5
  fi
}

stop_all() {
  stop_server
  if alive "$STATE/xvfb.pid"; then
    kill "$(cat "$STATE/xvfb.pid")" 2>/dev/null || true
    for _ in $(seq 50); do alive "$STATE/xvfb.pid" || break; sleep 0.1; done
    alive "$STATE/xvfb.pid" && kill -9 "$(cat "$STATE/xvfb.pid")" 2>/dev/null || true
  fi
  rm -f "$STATE/xvfb.pid" "$STATE/display"
  [ "${1:-}" = quiet ] || echo "wine-harness: stopped"
}

require_started() {
  if [ ! -f "$STATE/display" ] || { [ -f "$STATE/xvfb.pid" ] && ! alive "$STATE/xvfb.pid"; }; then
    echo "wine-harness: not started for $BUILD (run: $0 start $BUILD)" >&2
    exit 2
  fi
}

case $cmd in
  start) start; echo "wine-harness: $ARCH, display :$(cat "$STATE/display"), prefix $PREFIX" ;;
  stop) stop_all ;;
  run)
    require_started
    wine_env
    [ "$ARCH" = win32 ] || exec "$WINE" "$@"
    # Under emulation a 32-bit program needs 0.25 s at the least to start, yet
    # about one start in 500 on a busy machine ends within 0.1 s without a
    # word: it never ran, so it is started once more (said on stderr).
    t0=$(date +%s%N)
    rc=0
    "$WINE" "$@" || rc=$?
    ms=$(( ($(date +%s%N) - t0) / 1000000 ))
    if [ "$ms" -lt 150 ]; then
      echo "wine-harness: ${1##*/} ended after $ms ms (exit $rc) without running; starting it once more" >&2
      rc=0
      "$WINE" "$@" || rc=$?
    fi
    exit $rc
    ;;
  screenshot)
    require_started
    out=${1:?output png}
    /usr/bin/import -display ":$(cat "$STATE/display")" -window root "$out"
    ;;
  env)
    require_started
    wine_env
    # WINE runs a program of either architecture in this environment.
    echo "export WINE='$WINE' WINESERVER='$WINESERVER' WINEPREFIX='$WINEPREFIX' WINEDEBUG='$WINEDEBUG' WINEARCH=win64 WINEDLLOVERRIDES='$WINEDLLOVERRIDES' ALSA_CONFIG_PATH='$ALSA_CONFIG_PATH' DISPLAY='$DISPLAY' QEMU_LD_PREFIX='$QEMU_LD_PREFIX' QZ_SCREENSHOT_DIR='$QZ_SCREENSHOT_DIR' QZ_WWW_DIR='$QZ_WWW_DIR'"
    ;;
  *) echo "wine-harness: unknown command $cmd" >&2; exit 2 ;;
esac
