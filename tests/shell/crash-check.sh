#!/usr/bin/env bash
# crash-check.sh COLLECTOR EXECUTABLE PATTERN... -- [ARGS...]
# Starts COLLECTOR on a free loopback port, copies EXECUTABLE into a bundle of its own whose
# Info.plist points every server host there, runs it with ARGS in a fresh home (through
# $CHECK_WRAP, e.g. "xvfb-run -a", when set), expects the crash status 246 and then each PATTERN
# (an extended regular expression) in what the collector received. Leaves nothing behind.
set -euo pipefail
COLLECTOR=$1 EXE=$2
shift 2
PATTERNS=()
while [[ $# -gt 0 && $1 != -- ]]; do PATTERNS+=("$1"); shift; done
[[ $# -gt 0 ]] && shift
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillon-check-XXXXXX")
PID=
cleanup() {
  if [[ -n $PID ]]; then kill "$PID" 2>/dev/null || true; wait "$PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
# shellcheck source=collector-bundle.sh
source "$(dirname "$0")/collector-bundle.sh"
collector_and_bundle "$COLLECTOR" "$EXE" "$WORK"
NAME=$(basename "$EXE")
set +e
# shellcheck disable=SC2086
env -u XDG_DATA_HOME HOME="$WORK/home" XDG_RUNTIME_DIR="$WORK/run" ${CHECK_WRAP:-} "$WORK/bundle/$NAME" "$@" >"$WORK/run.out" 2>&1
STATUS=$?
set -e
DUMP=$("$COLLECTOR" dump --db "$WORK/db" --lines 12)
MISSING=
for p in "${PATTERNS[@]}"; do grep -Eq -- "$p" <<<"$DUMP" || MISSING+=" '$p'"; done
if [[ $STATUS -ne 246 || -n $MISSING ]]; then
  echo "exit status $STATUS (expected 246); output:"; cat "$WORK/run.out"
  echo "collector:"; printf '%s\n' "$DUMP"
  echo "not found:$MISSING"
  exit 1
fi
printf '%s\n' "$DUMP" | head -8
