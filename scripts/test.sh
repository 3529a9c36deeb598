#!/usr/bin/env bash
# The one test command: installs what is missing, builds both architectures
# (warnings are errors) and runs every test under Wine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/setup.sh
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# ctest stops the harness itself; this covers an interrupted run.
trap 'cmake/wine-harness.sh stop build/win64 >/dev/null 2>&1 || true' EXIT
ctest --preset win64 "$@"
