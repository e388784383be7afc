#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time, each from its seed corpus in the
# tree (copied, so the tree is never changed). Fails when any target finds a crash, a leak, a
# sanitizer report or a hang; the input that did it is kept under <fuzz dir>/findings/.
#   run-fuzzers.sh <fuzz dir> [seconds per target, default 20]
set -euo pipefail
bindir=$(cd "$1" && pwd)
seconds=${2:-20}
seeds=$(cd "$(dirname "$0")" && pwd)/corpus
work=$(mktemp -d "${TMPDIR:-/tmp}/brumel-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
findings=$bindir/findings
mkdir -p "$findings"

failed=()
printf '%-18s %12s %10s\n' target executions "exec/s"
for exe in "$bindir"/fuzz_*; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe")
  corpus=$work/$name
  mkdir -p "$corpus"
  [ -d "$seeds/${name#fuzz_}" ] && cp -r "$seeds/${name#fuzz_}/." "$corpus/"
  log=$work/$name.log
  if (cd "$work" && timeout $((seconds * 3 + 60)) "$exe" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/$name-" \
      "$corpus" >"$log" 2>&1); then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    printf '%-18s %12s %10s\n' "$name" "${runs:-?}" "${rate:-?}"
  else
    printf '%-18s FINDING (log follows)\n' "$name"
    grep -v '^#' "$log" | tail -n 40
    failed+=("$name")
  fi
done
if ((${#failed[@]})); then
  echo "Fuzzing found faults in: ${failed[*]} (inputs in $findings)"
  exit 1
fi
