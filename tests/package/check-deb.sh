#!/usr/bin/env bash
# Builds the Debian package of a Linux build tree, unpacks it into a scratch root (dpkg -x) and
# checks what a user gets: the tool (and that it runs), the udev rule with its match keys, the
# file that loads i2c-dev, the documents and the control fields.
#   check-deb.sh <build dir> <expected version> <scratch dir>
set -euo pipefail
build=$1 version=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}

[ "$(dpkg-deb -f "$deb" Package)" = brumelisp ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version)"
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "no run-time dependency recorded"

root=$work/root
dpkg -x "$deb" "$root"
expected=(
  usr/bin/BrumelISP
  usr/lib/udev/rules.d/70-brumelisp.rules
  usr/lib/modules-load.d/brumelisp.conf
  usr/share/doc/brumelisp/README.md
  usr/share/doc/brumelisp/LICENSE.txt
)
for f in "${expected[@]}"; do [ -f "$root/$f" ] || fail "missing /$f"; done
extra=$(cd "$root" && find . -type f | sed 's|^\./||' | sort | grep -vxF -f <(printf '%s\n' "${expected[@]}") || true)
[ -z "$extra" ] || fail "unexpected files: $extra"
[ -x "$root/usr/bin/BrumelISP" ] || fail "the tool is not executable"

# The installed tool runs: without arguments it prints its usage and ends with 1.
set +e
out=$(cd "$work" && timeout 20 "$root/usr/bin/BrumelISP" </dev/null 2>&1)
rc=$?
set -e
[ $rc -eq 1 ] || fail "installed tool ended with $rc: $out"
grep -q "Usage:" <<<"$out" || fail "installed tool printed no usage: $out"
[ ! -e "$root/usr/bin/BrumelISP.ini" ] || fail "the run left its configuration file behind"

# The rule: the controller's hidraw node (vendor 0416, product A316 as udev spells them) gets
# the uaccess tag, which hands the node to the user at the seat; so do the i2c-dev nodes of the
# AMD cards' OEM buses, matched on the four names amdgpu gives that bus, and no other bus.
rule=$root/usr/lib/udev/rules.d/70-brumelisp.rules
lines=$(grep -v '^[[:space:]]*\(#\|$\)' "$rule")
has_keys() {  # line key...
  local line=$1 key
  shift
  for key in "$@"; do
    tr ',' '\n' <<<"$line" | sed 's/^[[:space:]]*//;s/[[:space:]]*$//' | grep -qxF "$key" ||
      fail "rule line lacks $key: $line"
  done
}
hidraw=$(grep -F 'SUBSYSTEM=="hidraw"' <<<"$lines" || true)
[ "$(grep -c . <<<"$hidraw")" -eq 1 ] || fail "expected one hidraw line: $lines"
has_keys "$hidraw" 'SUBSYSTEM=="hidraw"' 'ATTRS{idVendor}=="0416"' 'ATTRS{idProduct}=="a316"' 'TAG+="uaccess"'
i2c=$(grep -F 'SUBSYSTEM=="i2c-dev"' <<<"$lines" || true)
[ "$(grep -c . <<<"$i2c")" -eq 4 ] || fail "expected four i2c-dev lines: $i2c"
[ "$(wc -l <<<"$lines")" -eq 5 ] || fail "unexpected rule lines: $lines"
for name in "AMDGPU DM i2c OEM bus" "AMDGPU i2c bit bus OEM 0x97" "AMDGPU i2c bit bus 0x97" \
    "AMDGPU i2c hw bus 0x97"; do
  line=$(grep -F "ATTR{name}==\"$name\"," <<<"$i2c" || true)
  [ -n "$line" ] || fail "no i2c-dev line for \"$name\""
  has_keys "$line" 'SUBSYSTEM=="i2c-dev"' "ATTR{name}==\"$name\"" 'ATTRS{vendor}=="0x1002"' 'TAG+="uaccess"'
done
# The modules-load.d file loads i2c-dev, nothing else.
modules=$(grep -v '^[[:space:]]*\(#\|$\)' "$root/usr/lib/modules-load.d/brumelisp.conf")
[ "$modules" = "i2c-dev" ] || fail "modules-load.d file loads: $modules"
if command -v udevadm >/dev/null 2>&1 && udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$rule" || fail "udevadm verify"
else
  echo "udevadm verify is not available here; the rule's keys were checked by text"
fi
echo "Package $(basename "$deb"): contents, rule and installed tool are as expected"
