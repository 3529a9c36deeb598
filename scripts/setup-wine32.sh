# Sourced by scripts/setup.sh, in a subshell, with its DEPS_DIR and quiet().
#
# The 32-bit side of Wine, for running the shipped i686 build on a kernel that
# runs no 32-bit code: Debian's own 32-bit Wine, run by QEMU's user-mode
# emulator (10.x from bookworm-backports; bookworm's 7.2 is ~300x slower).
#
# Nothing is installed system-wide: the packages are fetched with a private apt
# configuration (its own sources, state and cache; i386 known to it alone) and
# unpacked into DEPS_DIR/wine32/sysroot. The one system-wide change, the
# binfmt_misc entry, is made by cmake/wine-harness.sh when it is missing.
# Idempotent: a finished sysroot is only checked.
W32="$DEPS_DIR/wine32"
SYSROOT="$W32/sysroot"
# Bumped whenever the recipe below changes, so that old sysroots are rebuilt.
RECIPE=4
WINE_VERSION=$(dpkg-query -W -f='${Version}' wine64)
STAMP="recipe $RECIPE, wine $WINE_VERSION"
[ "$(cat "$W32/.qz-ready" 2>/dev/null)" = "$STAMP" ] && exit 0

echo "setup: fetching Debian's 32-bit Wine and QEMU's user-mode emulator"
APT="$W32/apt"
rm -rf "$W32"
mkdir -p "$APT/state/lists/partial" "$APT/cache/archives/partial" "$APT/parts" "$APT/prefs" "$SYSROOT"

# The machine's own Debian sources (whatever mirror it is configured with),
# plus bookworm-backports from the same mirror for QEMU 10.
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg
: >"$APT/sources.list"
main_uri=
while read -r uri suite comp; do
  case $suite in bookworm|bookworm-*) ;; *) continue ;; esac
  echo "deb [arch=amd64,i386 signed-by=$KEYRING] $uri $suite $comp" >>"$APT/sources.list"
  [ "$suite" = bookworm ] && main_uri=$uri
done < <(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' | sort -u)
if [ -z "$main_uri" ]; then
  # apt has no lists yet: read the configured sources instead.
  main_uri=$(grep -rhoE 'https?://[^ ]+/debian/?' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null \
    | grep -v security | head -n 1)
  [ -n "$main_uri" ] || { echo "setup-wine32: no Debian source configured on this machine" >&2; exit 1; }
  for s in bookworm bookworm-updates; do
    echo "deb [arch=amd64,i386 signed-by=$KEYRING] $main_uri $s main" >>"$APT/sources.list"
  done
fi
echo "deb [arch=amd64 signed-by=$KEYRING] $main_uri bookworm-backports main" >>"$APT/sources.list"

# Nothing counts as installed: the sysroot's packages need not match the
# versions of the host's 64-bit ones (a mirror that lags with one list, as
# bookworm-security's i386 one once did, would otherwise leave no solution).
# The 64-bit packages this fetches as dependencies are not unpacked. Only
# this configuration knows the i386 architecture.
: >"$APT/status"
cat >"$APT/apt.conf" <<CONF
Dir::Etc::SourceList "$APT/sources.list";
Dir::Etc::SourceParts "$APT/parts";
Dir::Etc::Preferences "$APT/prefs/none";
Dir::Etc::PreferencesParts "$APT/prefs";
Dir::State "$APT/state";
Dir::State::status "$APT/status";
Dir::Cache "$APT/cache";
APT::Architecture "amd64";
APT::Architectures { "amd64"; "i386"; };
APT::Install-Recommends "false";
Debug::NoLocking "true";
CONF
export APT_CONFIG="$APT/apt.conf"
# A mirror caught mid-sync can fail one list (a Packages file older than its
# Release): apt goes on without it, and the install below says whether what
# it needs is still there.
apt-get update >>"$LOG" 2>&1 || echo "setup: a package list failed to download; going on without it" >&2
# wine32 brings libwine:i386 and its libraries; GnuTLS carries Wine's ECDSA
# (bcrypt), and libz-mingw-w64 the zlib1.dll that Wine's PE modules import.
# GStreamer's plugins decode for Wine's own media control, as on the 64-bit
# side (~130 more packages, ~65 MB of i386 ones).
quiet apt-get install -y --download-only wine32:i386 "libwine:i386=$WINE_VERSION" libgnutls30:i386 \
  gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386 gstreamer1.0-plugins-ugly:i386 \
  gstreamer1.0-libav:i386
(cd "$APT/cache/archives" && quiet apt-get download qemu-user/bookworm-backports)

n=0
for deb in "$APT"/cache/archives/*.deb; do
  case $deb in *_i386.deb|*_all.deb|*/qemu-user_*) ;; *) continue ;; esac
  dpkg-deb -x "$deb" "$SYSROOT"
  n=$((n + 1))
done
echo "setup: unpacked $n packages into $SYSROOT"

QEMU="$SYSROOT/usr/bin/qemu-i386"
[ -x "$QEMU" ] || { echo "setup-wine32: qemu-i386 missing from qemu-user" >&2; exit 1; }
# libav's plugin needs BLAS and LAPACK by their sonames, which only the
# packages' alternatives (maintainer scripts, never run here) would link.
I386="$SYSROOT/usr/lib/i386-linux-gnu"
ln -sf blas/libblas.so.3 "$I386/libblas.so.3"
ln -sf lapack/liblapack.so.3 "$I386/liblapack.so.3"
# The 32-bit loader finds its libraries through the sysroot's own cache.
quiet ldconfig -r "$SYSROOT"
# Wine's PE modules import zlib1.dll: the 32-bit packages do not ship it, the
# host's MinGW zlib (a dependency of wine64) has it.
cp /usr/i686-w64-mingw32/lib/zlib1.dll "$SYSROOT/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll"
# The 64-bit loader starts 32-bit programs with the "wine" beside it, so a
# copy of the host's wine64 goes into the sysroot. Its module folder holds
# the host's 64-bit modules and the sysroot's 32-bit ones, so a new prefix gets
# a complete syswow64.
cp /usr/lib/wine/wine64 "$SYSROOT/usr/lib/wine/wine64"
ln -sf /usr/lib/wine/wineserver64 "$SYSROOT/usr/lib/wine/wineserver64"
ln -sf /usr/lib/wine/wineserver "$SYSROOT/usr/lib/wine/wineserver"
MODS="$SYSROOT/usr/lib/x86_64-linux-gnu/wine"
mkdir -p "$MODS"
ln -sfn /usr/lib/x86_64-linux-gnu/wine/x86_64-unix "$MODS/x86_64-unix"
ln -sfn /usr/lib/x86_64-linux-gnu/wine/x86_64-windows "$MODS/x86_64-windows"
ln -sfn ../../i386-linux-gnu/wine/i386-windows "$MODS/i386-windows"

rm -rf "$APT/cache/archives"
echo "$STAMP" >"$W32/.qz-ready"
