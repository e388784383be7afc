#!/usr/bin/env bash
# Builds both targets and runs every test:
#   - the Windows executable (mingw-w64 cross build): its unit tests under Wine;
#   - the Linux executable: unit tests and the end-to-end cases, which also run the Windows
#     executable under Wine; the cases against Debian's hidapi on an emulated hidraw node
#     (umockdev), some of them as the unprivileged user TEST_USER (made when missing);
#   - the sanitizer build (address, undefined behaviour): unit tests and end-to-end cases;
#   - a plain Release build of the tool, which must be free of warnings;
#   - the packages: a Debian package of the Linux tool (checked with lintian) and a zip of the
#     Windows one;
#   - the fuzz targets (clang, libFuzzer), each for BRUMEL_FUZZ_SECONDS (default 20).
# On Debian 12 as root it first installs what is missing. Exits non-zero on any failure.
# BRUMEL_SKIP_SANITIZERS=1 leaves the sanitizer build out.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
source scripts/common.sh

JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
START=$SECONDS
step() { echo; echo "=== $* ($((SECONDS - START)) s)"; }

step "Packages"
ensure_packages "${LINUX_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
ensure_test_user

# Headless: with a display a Windows message box would wait for a click.
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=$ROOT/build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES=winedbg.exe=d
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINE" ] || WINE=$(command -v wine64)
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)

step "Windows build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$JOBS"

step "Linux build"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$JOBS"

# A packager's plain Release build (no preset, -O3) must build, and without a warning: it is
# built here with warnings as errors.
step "Release build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRUMEL_TESTS=OFF \
  -DBRUMEL_WERROR=ON >/dev/null
cmake --build build/release -j "$JOBS"

step "Package files"
# The Debian package and the Windows zip (the executable, the README and the licence text). The
# package.deb case of the Linux tests builds a package of its own and checks that one.
(cd build/linux && cpack >/dev/null)
(cd build/windows && cpack >/dev/null)
zips=(build/windows/packages/brumelisp-*-win64.zip)
listing=$(cmake -E tar tf "${zips[0]}" | sed 's|^[^/]*/||' | sort | tr '\n' ' ')
if [ "$listing" != "BrumelISP.exe LICENSE.txt README.md " ]; then
  echo "The Windows zip holds: $listing" >&2
  exit 1
fi
ls build/linux/packages/*.deb "${zips[0]}"

sanitizers=1
[ "${BRUMEL_SKIP_SANITIZERS:-0}" = 1 ] && sanitizers=0
if ((sanitizers)); then
  step "Sanitizer build"
  cmake --preset linux-asan >/dev/null
  cmake --build --preset linux-asan -j "$JOBS"
fi

step "Fuzz build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$JOBS"

# One persistent Wine server for all Windows runs, warmed up before the tests (a cold start
# inside a test can leave a process holding the test's output pipe). Stopped however we end.
step "Wine server"
stop_wine() { "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true; }
trap stop_wine EXIT
mkdir -p "$WINEPREFIX"
# A server left on this prefix by an earlier run would refuse a second one: end it first.
"$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
"$WINESERVER" -p </dev/null >/dev/null 2>&1
timeout 600 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || {
  echo "Wine does not start" >&2
  exit 1
}

failed=()
run_tests() {
  local preset=$1
  step "Tests: $preset"
  ctest --preset "$preset" -j "$JOBS" </dev/null || failed+=("$preset")
}
run_tests windows
run_tests linux
((sanitizers)) && run_tests linux-asan

stop_wine

step "Fuzzing (${BRUMEL_FUZZ_SECONDS:-20} s per target)"
bash tests/fuzz/run-fuzzers.sh build/fuzz/fuzz "${BRUMEL_FUZZ_SECONDS:-20}" || failed+=(fuzz)

step "Done"
if ((${#failed[@]})); then
  echo "FAILED: tests of ${failed[*]}"
  exit 1
fi
echo "All tests passed."
