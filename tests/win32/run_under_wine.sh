#!/usr/bin/env bash
# Runs a Windows test program in a private, throwaway Wine prefix, under a timeout.
# usage: run_under_wine.sh PROGRAM.exe
set -euo pipefail
prefix=$(mktemp -d "${TMPDIR:-/tmp}/korimath-win32-XXXXXX")
mkdir "$prefix/tmp"  # wineserver's socket folder goes under TMPDIR: keep it inside the prefix
export WINEPREFIX=$prefix TMPDIR=$prefix/tmp WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
trap 'timeout 60 wineserver -k || true; rm -rf "$prefix"' EXIT
timeout 180 wine "$1" </dev/null 2>/dev/null | tr -d '\r'
