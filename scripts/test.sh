#!/usr/bin/env bash
# Builds both targets and runs every test:
#   - the Windows executable (mingw-w64 cross build): its unit tests under Wine;
#   - the 32-bit Windows executable (i686 cross build): its unit tests and the end-to-end suite
#     under 32-bit Wine (WOW64). Where the machine runs no 32-bit program natively, qemu-user
#     stands in; a Windows process then takes about a minute to start, the unit run does not
#     survive the emulator, and only the checks of the 32-bit images, the driver trial and the
#     e2e cases that exercise the display library's calling conventions and records and the
#     wide paths run (the output says which). BRUMEL_WINE32_E2E=all runs every e2e case;
#   - the Linux executable: unit tests and the end-to-end cases, which also run the Windows
#     executable under Wine; the cases against Debian's hidapi on an emulated hidraw node
#     (umockdev), some of them as the unprivileged user TEST_USER (made when missing);
#   - the sanitizer build (address, undefined behaviour): unit tests and end-to-end cases;
#   - a plain Release build of the tool, which must be free of warnings;
#   - the packages: a Debian package of the Linux tool (checked with lintian) and a zip of each
#     Windows one (win64, win32);
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
ensure_i386
ensure_packages "${LINUX_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" \
  "${WINDOWS32_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
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

step "Windows 32-bit build"
cmake --preset windows32 >/dev/null
cmake --build --preset windows32 -j "$JOBS"

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
(cd build/windows32 && cpack >/dev/null)
zips=(build/windows/packages/brumelisp-*-win64.zip build/windows32/packages/brumelisp-*-win32.zip)
for zip in "${zips[@]}"; do
  listing=$(cmake -E tar tf "$zip" | sed 's|^[^/]*/||' | sort | tr '\n' ' ')
  if [ "$listing" != "BrumelISP.exe LICENSE.txt README.md " ]; then
    echo "$zip holds: $listing" >&2
    exit 1
  fi
done
ls build/linux/packages/*.deb "${zips[@]}"

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

# How 32-bit programs run here, found out before the Wine prefix is made: the prefix's 32-bit
# half (syswow64) is installed by a 32-bit program, which under emulation needs the reserved
# address space QEMU_RESERVED_VA gives it (without it qemu-i386 cannot give Wine the shared user
# data, "c0000018"). 64-bit programs do not look at it.
step "32-bit programs"
I386_RUNS=
if ensure_i386_runs; then
  echo "32-bit programs run $I386_RUNS"
  [ "$I386_RUNS" = emulated ] && export QEMU_RESERVED_VA=${QEMU_RESERVED_VA:-0xf7000000}
else
  echo "This machine cannot run 32-bit programs (no 32-bit emulation in the kernel, no qemu-i386)" >&2
fi

# One persistent Wine server for all Windows runs, warmed up before the tests (a cold start
# inside a test can leave a process holding the test's output pipe). Stopped however we end.
step "Wine server"
stop_wine() { "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true; }
trap stop_wine EXIT
mkdir -p "$WINEPREFIX"
# A server left on this prefix by an earlier run would refuse a second one: end it first.
"$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
"$WINESERVER" -p </dev/null >/dev/null 2>&1
timeout 1200 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || {
  echo "Wine does not start" >&2
  exit 1
}
# A prefix made while no 32-bit program could run lacks its 32-bit half, and "wineboot -u" does
# not install it: such a prefix (build output, nothing else lives in it) is made anew.
if [ -n "$I386_RUNS" ] && [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
  echo "The Wine prefix has no 32-bit half: making it anew"
  stop_wine
  "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$WINESERVER" -p </dev/null >/dev/null 2>&1
  timeout 1800 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || {
    echo "Wine does not start" >&2
    exit 1
  }
fi

failed=()
run_tests() {
  local preset=$1
  shift
  step "Tests: $preset $*"
  ctest --preset "$preset" -j "$JOBS" "$@" </dev/null || failed+=("$preset")
}
run_tests windows
# The 32-bit Windows cases have a stage of their own (below).
run_tests linux -LE wine32
((sanitizers)) && run_tests linux-asan

# The 32-bit Windows build: its unit tests and the end-to-end suite under the 32-bit loader, in
# the same prefix (WOW64). Under emulation each Windows process takes a minute or more to start
# (Wine reserves its address space in tens of thousands of calls that qemu-i386 handles
# slowly), and every run of the tool starts two ("cls" runs the command interpreter, a 32-bit
# one under WOW64), so there only the cases that show a wrong calling convention or record size
# run: the information display on a card of generation 8 (the I2C request, and the lists the
# library makes through the standard-call callback), a newer driver's longer tables (the record
# forms) and a folder named in any language (the wide calls).
# Under emulation the 32-bit unit run (unit.windows) does not survive: the emulated Wine's own
# client code dies part-way ("wine client error: read: Bad address", "stack smashing detected",
# "qemu: uncaught target signal 11"), at a different case from run to run, while those cases
# pass on their own and on x64. There it is left out; the checks of the 32-bit images, the
# driver trial and the e2e cases below (short processes, which get through) still run, and a
# test that fails is run once more.
WINE32_CASES='GpuLinkRun\.(CardOfGeneration8|CardOfANewerDriver)$|ToolRun\.AFolderNamedInAnyLanguage$|InstanceLockIsFree$'
step "32-bit Windows"
if [ -n "$I386_RUNS" ]; then
  stage32=$SECONDS
  if [ "$I386_RUNS" = native ]; then
    echo "32-bit programs run natively: every 32-bit unit test and end-to-end case runs."
    run_tests windows32
    run_tests linux -L wine32
  else
    export BRUMEL_E2E_START_SECONDS=${BRUMEL_E2E_START_SECONDS:-300}
    echo "This machine runs no 32-bit program natively: qemu-i386 emulates them, and a Windows"
    echo "process takes one to several minutes to start. The 32-bit unit run is left out (the"
    echo "emulated Wine dies part-way through it); running the export, import and manifest checks"
    echo "of the 32-bit images, the driver trial under WOW64 and, of the end-to-end suite, only:"
    echo "$WINE32_CASES"
    run_tests windows32 -E '^unit\.windows$' --repeat until-pass:2
    if [ "${BRUMEL_WINE32_E2E:-}" = all ]; then
      run_tests linux -L wine32
    else
      run_tests linux -L wine32 -R "^e2e\.wine32\..*($WINE32_CASES)" --repeat until-pass:2
    fi
    unset BRUMEL_E2E_START_SECONDS
  fi
  echo "32-bit stage ($I386_RUNS): $((SECONDS - stage32)) s"
else
  echo "No 32-bit Windows tests: this machine cannot run 32-bit programs" >&2
  failed+=(windows32)
fi

stop_wine

step "Fuzzing (${BRUMEL_FUZZ_SECONDS:-20} s per target)"
bash tests/fuzz/run-fuzzers.sh build/fuzz/fuzz "${BRUMEL_FUZZ_SECONDS:-20}" || failed+=(fuzz)

step "Done"
if ((${#failed[@]})); then
  echo "FAILED: tests of ${failed[*]}"
  exit 1
fi
echo "All tests passed."
