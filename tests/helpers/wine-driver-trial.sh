#!/usr/bin/env bash
# Runs the driver loader trial under Wine in a prefix of its own, made for this run and deleted
# after it together with its server, so that no service it creates reaches another prefix.
# Usage: wine-driver-trial.sh WINE WINESERVER TRIAL_EXE
set -u
wine=$1 wineserver=$2 trial=$3
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
timeout 240 "$wine" "$trial" </dev/null
