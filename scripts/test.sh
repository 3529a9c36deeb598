#!/usr/bin/env bash
# The one test command: installs what is missing, builds both architectures
# (warnings are errors) and runs every test under Wine, the 64-bit build first,
# then the shipped 32-bit build under emulation. Arguments go to both ctest runs.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../cmake/fail-trap.sh"
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/setup.sh
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# ctest stops the harness itself; this covers an interrupted run.
trap 'for b in build/win64 build/win32; do cmake/wine-harness.sh stop $b >/dev/null 2>&1 || true; done' EXIT
# One after the other: both use the local servers' fixed ports. Both run even
# when the first fails; the command fails when either did.
status=0
for preset in win64 win32; do
  echo "== tests: $preset"
  start=$SECONDS
  ctest --preset "$preset" "$@" || status=1
  echo "== tests: $preset took $((SECONDS - start)) s"
done
exit $status
