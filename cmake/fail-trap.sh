# Sourced by every build, test and set-up script right after its `set -e`:
# a failing command names itself, its script and its line instead of ending
# the script silently. A script may define qz_on_error to show, after that
# line, the logs and state it knows about.
set -E
qz_fail_trap() {
  echo "${4##*/}: failed (exit $1) at line $2: $3" >&2
  if declare -F qz_on_error >/dev/null; then qz_on_error >&2 || true; fi
}
trap 'qz_fail_trap $? $LINENO "$BASH_COMMAND" "${BASH_SOURCE[0]:-$0}"' ERR
