#!/usr/bin/env bash
# The README's test command, several times in a row, on a fresh clone of this
# repository's committed HEAD, while a busy loop keeps one core working: the
# races that an idle machine hides show up here. Every run's log is kept, and
# every failure is reported with its test and the output ctest kept of it.
#
#   scripts/stress-test.sh [RUNS] [ctest arguments...]   (RUNS: 3)
#
# QZ_STRESS_DIR names the folder for the clone and the logs (a new folder
# under /tmp otherwise). Exits non-zero when any run failed.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../cmake/fail-trap.sh"

runs=${1:-3}
[ $# -gt 0 ] && shift
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WORK=${QZ_STRESS_DIR:-$(mktemp -d /tmp/qz-stress.XXXXXX)}
mkdir -p "$WORK"
rm -rf "$WORK/src"
git clone -q "$HERE" "$WORK/src"
echo "stress: $runs runs of scripts/test.sh in $WORK/src ($(git -C "$WORK/src" log -1 --format='%h %s'))"

# The hog: one shell spinning at normal priority, wherever the scheduler puts it.
bash -c 'while :; do :; done' &
hog=$!
trap 'kill $hog 2>/dev/null || true' EXIT

failed=0
for i in $(seq "$runs"); do
  log="$WORK/run$i.log"
  start=$SECONDS
  rc=0
  (cd "$WORK/src" && scripts/test.sh "$@") >"$log" 2>&1 || rc=$?
  echo "stress: run $i: exit $rc in $((SECONDS - start)) s (log $log)"
  grep -E '^== tests: |tests passed, ' "$log" | sed 's/^/  /' || true
  for arch in win64 win32; do
    cp "$WORK/src/build/$arch/Testing/Temporary/LastTest.log" "$WORK/run$i-$arch-LastTest.log" 2>/dev/null || true
  done
  if [ $rc -ne 0 ]; then
    failed=$((failed + 1))
    # Each failed test: its name from ctest's summary, then what ctest printed
    # of it (its output, with --output-on-failure) up to the next test.
    sed -n '/The following tests FAILED:/,/^Errors while running/p' "$log" | sed 's/^/  /'
    for t in $(sed -n '/The following tests FAILED:/,/^Errors while running/s/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' "$log"); do
      echo "  --- $t"
      awk -v t="$t" '$0 ~ "Test +#[0-9]+: " t " " { on = 1 } on && /Start +[0-9]+: / && $0 !~ t { on = 0 } on' "$log" |
        tail -n 60 | sed 's/^/    /'
    done
    # A failure outside ctest (set-up, build): the end of the log says where.
    grep -q 'The following tests FAILED:' "$log" || tail -n 30 "$log" | sed 's/^/    /'
  fi
done
echo "stress: $((runs - failed)) of $runs runs green"
[ $failed -eq 0 ]
