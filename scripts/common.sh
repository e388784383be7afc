# Shared by the scripts in this folder: source it, don't run it.

# Installs with apt-get those of the given Debian packages that are missing; one
# "apt-get update" first, and only when something is missing.
ensure_packages() {
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "Not a Debian system: make sure these are installed: $*" >&2
    return 0
  fi
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]} (run as root to install them)" >&2
    return 1
  fi
  echo "Installing: ${missing[*]}"
  local log
  log=$(mktemp /tmp/brumel-apt.XXXXXX)
  if ! { DEBIAN_FRONTEND=noninteractive apt-get update -q &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"; } >"$log" 2>&1 </dev/null; then
    tail -n 40 "$log" >&2
    echo "apt-get failed (log: $log)" >&2
    return 1
  fi
  rm -f "$log"
}

# Packages of the Linux build (its preset builds the tests too) and of the bench's music mode.
LINUX_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libmpg123-0)
# What the tests and benchmarks need besides: libssl3 (libcrypto.so.3 seals hardware-access
# requests; those tests run on Linux too), a private sound server for the music mode's cases,
# dpkg-dev for the Debian package, and umockdev with its development files (and pkg-config to
# find them) for the cases that emulate the kernel's devices.
TEST_PACKAGES=(libssl3 pulseaudio pulseaudio-utils dpkg-dev umockdev libumockdev-dev pkg-config)
# Packages of the fuzz build (clang with libFuzzer and the sanitizer run-times).
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# Packages of the Windows cross build and of running it under Wine.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine64)
