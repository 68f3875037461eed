#!/bin/sh
# Runs a Windows program under Debian's wine64 (the package's program is not
# on PATH): the emulator through which CTest runs the cross build's tests and
# lists their cases. Wine keeps quiet: WINEDEBUG=-all, and a prefix of its
# own, made silently and once, under a lock, before any program starts in
# it; the first start in a new prefix prints messages that a test would
# take for the program's own output.
# Usage: wine64.sh PROGRAM.exe [ARGUMENT...]
set -eu
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEPREFIX="${EDGESEG_WINEPREFIX:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/edgeseg/wine64}"
if [ ! -f "$WINEPREFIX/.edgeseg-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.edgeseg-ready" ]; then
      "$wine" wineboot --init >/dev/null 2>&1
      # Until every program of the prefix's first start has ended.
      /usr/lib/wine/wineserver -w
      touch "$WINEPREFIX/.edgeseg-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"
