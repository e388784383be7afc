#!/usr/bin/env bash
# Builds the Debian package of a Linux build tree, unpacks it into a scratch root (dpkg -x) and
# checks what a user gets: the tool (and that the installed tool writes nothing under its
# prefix), the manual page (it renders without a warning and names every option), the udev rule
# with its match keys and the maintainer scripts that apply it, the file that loads i2c-dev, the
# documents, the control fields, and lintian's verdict (no error; only the warnings listed below).
#   check-deb.sh <build dir> <expected version> <scratch dir>
# The unpacked root stays in <scratch dir>/root: the normal-user case runs the tool from there.
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
  usr/share/doc/brumelisp/changelog.gz
  usr/share/doc/brumelisp/copyright
  usr/share/man/man1/BrumelISP.1.gz
)
for f in "${expected[@]}"; do [ -f "$root/$f" ] || fail "missing /$f"; done
extra=$(cd "$root" && find . -type f | sed 's|^\./||' | sort | grep -vxF -f <(printf '%s\n' "${expected[@]}") || true)
[ -z "$extra" ] || fail "unexpected files: $extra"
[ -x "$root/usr/bin/BrumelISP" ] || fail "the tool is not executable"
zcat "$root/usr/share/doc/brumelisp/changelog.gz" | head -1 | grep -qF "brumelisp ($version)" ||
  fail "the changelog's first entry is not $version"

# The installed tool runs, as root here: without arguments it prints its usage and ends with 1,
# and writes nothing under its prefix. Its run's file goes to a private folder of the runtime
# folder given to it, which is gone again afterwards.
runtime=$work/runtime
mkdir -m 0700 "$runtime"
before=$(cd "$root" && find . -printf '%p %s %T@ %m\n' | sort)
set +e
out=$(cd "$work" && XDG_RUNTIME_DIR=$runtime timeout 20 "$root/usr/bin/BrumelISP" </dev/null 2>&1)
rc=$?
set -e
[ $rc -eq 1 ] || fail "installed tool ended with $rc: $out"
grep -q "Usage:" <<<"$out" || fail "installed tool printed no usage: $out"
after=$(cd "$root" && find . -printf '%p %s %T@ %m\n' | sort)
[ "$before" = "$after" ] || fail "the run wrote under its prefix: $(diff <(echo "$before") <(echo "$after"))"
[ -z "$(ls -A "$runtime")" ] || fail "the run left in its private folder: $(ls -A "$runtime")"

# The manual page: it renders without a warning, by man and by mandoc, and names every option.
page=$root/usr/share/man/man1/BrumelISP.1.gz
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >"$work/man.txt") ||
  fail "man cannot render the page: $warnings"
[ -z "$warnings" ] || fail "man warns: $warnings"
if command -v mandoc >/dev/null 2>&1; then
  lint=$(zcat "$page" | mandoc -T lint 2>&1) || true
  [ -z "$lint" ] || fail "mandoc -T lint: $lint"
fi
for option in /I /ID /MODE /TEST:COLOR /TEST:BUTTON /INFO /AUTO /UA /UL /UD /UC /E /BS /CMD /? \
  NO_COLOR TERM XDG_RUNTIME_DIR XDG_CONFIG_HOME 70-brumelisp.rules "EXIT STATUS"; do
  grep -qF -- "$option" "$work/man.txt" || fail "the manual page does not mention $option"
done

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

# The maintainer scripts: where udev runs (/run/udev exists) installing and removing the package
# reloads the rules and replays the hidraw nodes' events, so the rule applies to a controller
# already plugged in; where it does not, they do nothing. udevadm is a stand-in that notes its
# arguments; /run/udev is made in a mount namespace of the check's own.
control=$work/control
dpkg-deb -e "$deb" "$control"
for script in postinst postrm; do
  [ -x "$control/$script" ] || fail "no executable $script"
done
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null 2>&1; then
  stub=$work/stub
  mkdir -p "$stub"
  printf '#!/bin/sh\necho "$*" >>"$UDEVADM_LOG"\n' >"$stub/udevadm"
  chmod 755 "$stub/udevadm"
  replay=$'control --reload-rules\ntrigger --subsystem-match=hidraw --subsystem-match=i2c-dev --action=change'
  for call in "postinst configure" "postrm remove"; do
    for udev in with without; do
      log=$work/udevadm-${call// /-}-$udev.log
      : >"$log"
      UDEVADM_LOG=$log PATH=$stub:$PATH unshare -m sh -c '
        mount -t tmpfs tmpfs /run && { [ "$1" = without ] || mkdir /run/udev; } &&
        sh "$2" "$3"' sh "$udev" "$control/${call% *}" "${call#* }" ||
        fail "$call ($udev udev) failed"
      want=$([ $udev = with ] && echo "$replay" || true)
      [ "$(cat "$log")" = "$want" ] || fail "$call ($udev udev) ran udevadm: $(cat "$log")"
    done
  done
else
  echo "not root: the maintainer scripts are not tried"
fi

# lintian: no error. The warnings kept, and why (see the closing note of the packaging work):
kept_warnings=(
)
if command -v lintian >/dev/null 2>&1; then
  lintian_out=$(lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1) ||
    fail "lintian reports errors: $lintian_out"
  while IFS= read -r line; do
    case $line in
      W:*)
        tag=$(awk '{print $3}' <<<"$line")
        printf '%s\n' "${kept_warnings[@]}" | grep -qxF "$tag" || fail "lintian warns: $line"
        ;;
      E:*) fail "lintian: $line" ;;
    esac
  done <<<"$lintian_out"
  echo "lintian: no errors${lintian_out:+; it says:
$lintian_out}"
else
  echo "lintian is not installed here: the package was not checked by it"
fi
echo "Package $(basename "$deb"): contents, manual page, rule, scripts and installed tool are as expected"
