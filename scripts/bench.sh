#!/usr/bin/env bash
# Builds the Linux tool with the simulated bench beside it (build/bench/) and runs it there:
#   scripts/bench.sh [tool arguments]
# Without arguments it runs the default job below.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

# The job to run without arguments: the tool's default lighting mode, over USB, on the
# simulated controller (it shows its LEDs on stderr; a key ends the run).
DEFAULT_JOB=(/I 0 /ID 0416A316 /MODE 1E)

ensure_packages "${LINUX_PACKAGES[@]}"
log=$(mktemp /tmp/brumel-bench-build.XXXXXX)
if ! { cmake --preset linux &&
    cmake --build --preset linux --target bench -j "${JOBS:-$(nproc 2>/dev/null || echo 2)}"; } >"$log" 2>&1; then
  tail -n 60 "$log" >&2
  echo "Build failed (log: $log)" >&2
  exit 1
fi
rm -f "$log"

if (($#)); then
  args=("$@")
else
  args=("${DEFAULT_JOB[@]}")
fi
cd build/bench
exec ./BrumelISP "${args[@]}"
