#!/usr/bin/env bash
# Runs the driver loader trial under Wine in a prefix of its own, made for this run and deleted
# after it together with its server, so that no service it creates reaches another prefix.
# Usage: wine-driver-trial.sh WINE WINESERVER TRIAL_EXE [PREFIX_WINE]
# PREFIX_WINE (wine64) makes the prefix first, so that a 32-bit trial run by WINE (the 32-bit
# loader) finds a 64-bit prefix and runs under WOW64.
set -u
wine=$1 wineserver=$2 trial=$3 prefixWine=${4:-}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/brumel-driver-prefix.XXXXXX") || exit 1
cleanup() {
  WINEPREFIX=$prefix "$wineserver" -k </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix "$wineserver" -w </dev/null >/dev/null 2>&1
  rm -rf "$prefix"
}
trap cleanup EXIT
# Headless: the failure message box returns at once.
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d;mscoree=;mshtml="
if [ -n "$prefixWine" ] && [ "$prefixWine" != "$wine" ]; then
  timeout 1200 "$prefixWine" cmd /c exit </dev/null >/dev/null 2>&1
fi
timeout 1200 "$wine" "$trial" </dev/null
