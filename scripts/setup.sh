#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: a second run only checks and returns within a second or two.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../cmake/fail-trap.sh"

DEPS_DIR="${QZ_DEPS_DIR:-$HOME/.cache/qzdeps}"
# libgnutls30 is only a recommendation of Wine's, but without it Wine's
# bcrypt.dll has no ECDSA: the updater's signature checks need it.
PACKAGES=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  cmake ninja-build dpkg-dev
  wine wine64 fonts-wine xvfb xauth x11-utils imagemagick fonts-wqy-microhei
  libgnutls30
  googletest python3 python3-pyftpdlib curl procps haxe nginx-light
  chromium ffmpeg
  # Wine's own media control plays through GStreamer: base (nothing plays
  # without it), good (MP4 and FLV demuxers, WAV, MP3), ugly (WMV/ASF),
  # libav (H.264, AAC, WMV and FLV video). The real-media tests need them.
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav
)

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

mkdir -p "$DEPS_DIR"
LOG="$DEPS_DIR/setup.log"
# Runs a step quietly; on failure shows what it printed.
quiet() {
  if ! "$@" >>"$LOG" 2>&1; then
    echo "setup: failed: $*" >&2
    tail -n 40 "$LOG" >&2
    exit 1
  fi
}

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm fetches the Flash runtime of the movie tests; any Node.js with npm will do.
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)

# apt-get source needs deb-src entries for the same suites as the binaries.
SRC_LIST=/etc/apt/sources.list.d/qz-deb-src.sources
need_update=0
if [ ! -f "$SRC_LIST" ]; then
  as_root tee "$SRC_LIST" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  echo "setup: installing ${missing[*]:-(source lists only)}"
  quiet as_root apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    quiet as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi

# Expat, zlib and zstd are not packaged for MinGW: build Debian's sources (with
# their patches) as static libraries for each architecture.
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Unpacks Debian's source of package $1 into $DEPS_DIR/$1-src, once.
debian_source() {
  local pkg=$1 src="$DEPS_DIR/$1-src" dl="$DEPS_DIR/$1-dl" got=0 v dsc
  [ -f "$src/.qz-ready" ] && return 0
  echo "setup: fetching Debian's $pkg source"
  rm -rf "$src" "$dl"
  mkdir -p "$dl"
  # Newest version first; the security mirror does not always carry the source,
  # so fall back to the newest version that downloads.
  for v in $(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p' | sort -Vr); do
    if (cd "$dl" && apt-get source --download-only "$pkg=$v" >/dev/null 2>&1); then
      got=1; break
    fi
    rm -f "$dl"/*
  done
  [ $got -eq 1 ] || { echo "setup: could not download $pkg's source" >&2; exit 1; }
  dsc=$(ls "$dl"/"$pkg"_*.dsc | sort -V | tail -n 1)
  quiet dpkg-source --no-check -x "$dsc" "$src"
  rm -rf "$dl" "$DEPS_DIR/$pkg"_*
  touch "$src/.qz-ready"
}

debian_source expat
# Debian's tree lacks this line that the CMake build expects.
sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$DEPS_DIR/expat-src/expat/expat_config.h.cmake"
debian_source zlib
debian_source libzstd

for arch in win64 win32; do
  case $arch in
    win64) tc="$HERE/cmake/toolchain-x86_64-w64-mingw32.cmake" triple=x86_64-w64-mingw32 ;;
    win32) tc="$HERE/cmake/toolchain-i686-w64-mingw32.cmake" triple=i686-w64-mingw32 ;;
  esac
  prefix="$DEPS_DIR/expat-$arch"
  if [ ! -f "$prefix/.qz-ready" ]; then
    echo "setup: building expat for $arch"
    bdir="$DEPS_DIR/expat-build-$arch"
    rm -rf "$bdir" "$prefix"
    quiet cmake -S "$DEPS_DIR/expat-src/expat" -B "$bdir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
      -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF -DEXPAT_SHARED_LIBS=OFF \
      -DEXPAT_BUILD_FUZZERS=OFF
    quiet cmake --build "$bdir"
    quiet cmake --install "$bdir"
    rm -rf "$bdir"
    touch "$prefix/.qz-ready"
  fi
  # zlib's own build scripts for Windows are not in Debian's tree: its library
  # sources are compiled directly (zconf.h as shipped suits MinGW).
  prefix="$DEPS_DIR/zlib-$arch"
  if [ ! -f "$prefix/.qz-ready" ]; then
    echo "setup: building zlib for $arch"
    bdir="$DEPS_DIR/zlib-build-$arch"
    rm -rf "$bdir" "$prefix"
    mkdir -p "$bdir" "$prefix/lib" "$prefix/include"
    for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees trees \
             uncompr zutil; do
      quiet "$triple-gcc" -O2 -c "$DEPS_DIR/zlib-src/$f.c" -o "$bdir/$f.o"
    done
    quiet "$triple-ar" rcs "$prefix/lib/libz.a" "$bdir"/*.o
    cp "$DEPS_DIR/zlib-src/zlib.h" "$DEPS_DIR/zlib-src/zconf.h" "$prefix/include/"
    rm -rf "$bdir"
    touch "$prefix/.qz-ready"
  fi
  # zstd, compiled directly as well, into two libraries: libzstd_dec.a (the
  # decoder and what it shares with the encoder: all update.exe links) and
  # libzstd_enc.a (the encoder alone; makemanifest links both, so that no
  # object is in two archives). No assembly (MinGW), no threads, no legacy
  # formats: nothing a patch needs.
  prefix="$DEPS_DIR/zstd-$arch"
  if [ ! -f "$prefix/.qz-ready" ]; then
    echo "setup: building zstd for $arch"
    bdir="$DEPS_DIR/zstd-build-$arch" zsrc="$DEPS_DIR/libzstd-src/lib"
    rm -rf "$bdir" "$prefix"
    mkdir -p "$bdir/common" "$bdir/decompress" "$bdir/compress" "$prefix/lib" "$prefix/include"
    for part in common decompress compress; do
      for c in "$zsrc/$part"/*.c; do
        quiet "$triple-gcc" -O2 -DZSTD_DISABLE_ASM=1 -DZSTD_LEGACY_SUPPORT=0 -DZSTD_NO_TRACE=1 \
          -DDEBUGLEVEL=0 -I"$zsrc" -I"$zsrc/common" -c "$c" -o "$bdir/$part/$(basename "$c" .c).o"
      done
    done
    quiet "$triple-ar" rcs "$prefix/lib/libzstd_dec.a" "$bdir"/common/*.o "$bdir"/decompress/*.o
    quiet "$triple-ar" rcs "$prefix/lib/libzstd_enc.a" "$bdir"/compress/*.o
    cp "$zsrc/zstd.h" "$zsrc/zstd_errors.h" "$prefix/include/"
    rm -rf "$bdir"
    touch "$prefix/.qz-ready"
  fi
done
# The shell movie's tests play it in Ruffle inside headless chromium, driven by
# puppeteer-core: pinned versions, kept out of the repository.
WEB_DIR="$DEPS_DIR/web"
WEB_PACKAGES="@ruffle-rs/ruffle@0.6.0 puppeteer-core@25.19.0"
if [ "$(cat "$WEB_DIR/.qz-ready" 2>/dev/null)" != "$WEB_PACKAGES" ]; then
  echo "setup: installing $WEB_PACKAGES from npm"
  mkdir -p "$WEB_DIR"
  # shellcheck disable=SC2086
  quiet npm install --prefix "$WEB_DIR" --save-exact --no-audit --no-fund $WEB_PACKAGES
  echo "$WEB_PACKAGES" >"$WEB_DIR/.qz-ready"
fi

# The shipped 32-bit build runs under Debian's 32-bit Wine and QEMU's user-mode
# emulator, unpacked into a sysroot (nothing installed system-wide).
( . "$HERE/scripts/setup-wine32.sh" )

echo "setup: ready (dependencies in $DEPS_DIR)"
