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
# dpkg-dev for the Debian package and lintian, man-db and mandoc to check it, and Debian's own
# hidapi with umockdev (and pkgconf to find it) for the cases that emulate the kernel's devices
# (hidraw and i2c-dev nodes).
TEST_PACKAGES=(libssl3 pulseaudio pulseaudio-utils dpkg-dev lintian man-db mandoc
  libhidapi-hidraw0 umockdev libumockdev-dev pkgconf)

# The unprivileged user the normal-user cases run the tool as.
TEST_USER=brumel-e2e

# Makes TEST_USER when it is missing (as root): a system user without a home or a login shell.
ensure_test_user() {
  id -u "$TEST_USER" >/dev/null 2>&1 && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "No user $TEST_USER (run as root to make it): the normal-user cases are skipped" >&2
    return 0
  fi
  echo "Making the user $TEST_USER"
  useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$TEST_USER"
}
# Packages of the fuzz build (clang with libFuzzer and the sanitizer run-times).
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# Packages of the Windows cross build and of running it under Wine.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine64)
# The 32-bit Windows build and the 32-bit Wine loader (an i386 package: see ensure_i386). Where
# the kernel runs no 32-bit program, qemu-user stands in (see ensure_i386_runs).
WINDOWS32_PACKAGES=(g++-mingw-w64-i686-posix wine32:i386 qemu-user)

# Lets apt install i386 packages (wine32). A no-op where it already can.
ensure_i386() {
  command -v dpkg >/dev/null 2>&1 || return 0
  dpkg --print-foreign-architectures | grep -qx i386 && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "i386 packages are not enabled (as root: dpkg --add-architecture i386)" >&2
    return 1
  fi
  dpkg --add-architecture i386
}

# A static 32-bit (i386) Linux program of 96 bytes that exits with code 42: whether the machine
# runs 32-bit programs at all.
write_i386_probe() {
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$1"
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$1"
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$1"
  printf '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$1"
  printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$1"
  # mov eax, 1 (exit); mov ebx, 42; int 0x80
  printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >>"$1"
  chmod +x "$1"
}

# How this machine runs 32-bit programs; sets I386_RUNS to "native" or "emulated" and returns
# 0, or returns 1 when it cannot run them. Where the kernel has no 32-bit emulation, qemu-i386 is
# registered with binfmt_misc (as root) so that it runs them, slowly.
QEMU_I386_ENTRY=/proc/sys/fs/binfmt_misc/qemu-i386
ensure_i386_runs() {
  local probe rc
  probe=$(mktemp /tmp/brumel-i386.XXXXXX)
  write_i386_probe "$probe"
  I386_RUNS=
  if [ -r "$QEMU_I386_ENTRY" ] && head -n 1 "$QEMU_I386_ENTRY" | grep -qx enabled; then
    # The emulator's entry comes before the kernel's own loader: 32-bit programs run under it.
    "$probe" && rc=0 || rc=$?
    [ "$rc" = 42 ] && I386_RUNS=emulated
  else
    "$probe" 2>/dev/null && rc=0 || rc=$?
    if [ "$rc" = 42 ]; then
      I386_RUNS=native
    elif [ "$(id -u)" -eq 0 ] && [ -x /usr/bin/qemu-i386 ]; then
      [ -e /proc/sys/fs/binfmt_misc/register ] ||
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
      if [ ! -e "$QEMU_I386_ENTRY" ] && [ -w /proc/sys/fs/binfmt_misc/register ]; then
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
          >/proc/sys/fs/binfmt_misc/register 2>/dev/null || true
      fi
      [ -e "$QEMU_I386_ENTRY" ] && echo 1 >"$QEMU_I386_ENTRY" 2>/dev/null || true
      "$probe" 2>/dev/null && rc=0 || rc=$?
      [ "$rc" = 42 ] && I386_RUNS=emulated
    fi
  fi
  rm -f "$probe"
  [ -n "$I386_RUNS" ]
}
