#!/usr/bin/env bash
# One run of the benchmarks on the simulated bench, printed as one table (Markdown) under a line
# that names the machine:
#   scripts/benchmark.sh
# It builds the Linux tool and the benchmark programs of tests/bench (on Debian 12 as root it
# first installs what is missing), builds a bare C++ program for the start-up comparison, runs
# brumel_link_bench, brumel_operator_bench, brumel_seal_bench and brumel_i2cdev_bench (the
# information display over i2c-dev, the kernel's devices emulated by umockdev), and gathers
# their figures.
# Each program's own, longer report is kept in build/benchmark/. Figures are medians over
# repeated runs; nothing passes or fails on a figure. The tool takes the machine-wide lock when
# it starts: no other copy of BrumelISP may run meanwhile.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
source scripts/common.sh

ensure_packages "${LINUX_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
OUT=$ROOT/build/benchmark
mkdir -p "$OUT"

echo "Building the tool and the benchmark programs ..." >&2
if ! { cmake --preset linux &&
    cmake --build --preset linux -j "$JOBS" --target BrumelISP brumel_link_bench \
      brumel_operator_bench brumel_seal_bench brumel_i2cdev_bench; } >"$OUT/build.log" 2>&1; then
  tail -n 60 "$OUT/build.log" >&2
  echo "Build failed (log: $OUT/build.log)" >&2
  exit 1
fi

# The bare program: the same compiler and optimisation, the C++ run-time, one line of text.
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build/linux/CMakeCache.txt)
cat >"$OUT/bare.cpp" <<'EOF'
#include <iostream>

int main() {
  std::cout << "Usage:\n";
  return 1;
}
EOF
"${cxx:-c++}" -std=c++20 -O2 -o "$OUT/bare" "$OUT/bare.cpp"

# The simulator's defaults: the healthy controller, and no log (it would weigh on the figures).
unset BRUMEL_SIM_SCENARIO BRUMEL_SIM_LOG
BENCH=build/linux/tests/bench
run() {
  local name=$1
  shift
  echo "Running $name ..." >&2
  local program=$BENCH/$name
  [ -x "$program" ] || program=build/linux/tests/umockdev/i2c/$name
  # Bounded: a program that hangs ends the script with its reports so far.
  if ! timeout 1200 "$program" --rows "$@" >"$OUT/$name.txt" 2>"$OUT/$name.err"; then
    tail -n 20 "$OUT/$name.txt" "$OUT/$name.err" >&2
    echo "$name failed (reports in $OUT)" >&2
    exit 1
  fi
}
run brumel_link_bench 2000 50
run brumel_operator_bench --bare "$OUT/bare" --starts 50 500 3
run brumel_seal_bench 2000
run brumel_i2cdev_bench 5

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo
echo "Machine: $(nproc) cores, ${cpu:-unknown CPU}, Linux $(uname -r), $(date -u +%Y-%m-%d)"
echo
echo "| Measure | Link | Figure | Against |"
echo "|---|---|---|---|"
# The rows in the order of the table, whatever program gave them.
cat "$OUT"/brumel_{link,operator,seal,i2cdev}_bench.txt | awk -F'|' '
  $1 != "ROW" { next }
  {
    rank = 99
    n = split("Start-up|Information display (|Information display,|Raw LED|ISP query|" \
              "Music loop|CPU while|Music mode stop|Peak memory|PCI", order, "|")
    for (i = 1; i <= n; ++i) if (index($2, order[i]) == 1) { rank = i; break }
    printf "%02d %04d | %s | %s | %s | %s |\n", rank, NR, $2, $3, $4, $5
  }' | sort | cut -d' ' -f3-
