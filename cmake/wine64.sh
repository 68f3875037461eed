#!/bin/sh
# Runs a Windows program under Debian's wine64 (the package's program is not
# on PATH): the emulator through which CTest runs the cross build's tests and
# lists their cases. Wine keeps quiet: WINEDEBUG=-all, and a prefix of its
# own that is made (or brought up to a new wine) silently and under a lock
# before any program starts in it, since that first start prints messages a
# test would take for the program's own output.
# Usage: wine64.sh PROGRAM.exe [ARGUMENT...]
set -eu
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEPREFIX="${EDGESEG_WINEPREFIX:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/edgeseg/wine64}"
version=$("$wine" --version)
ready="$WINEPREFIX/.edgeseg-ready"
if [ "$(cat "$ready" 2>/dev/null)" != "$version" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ "$(cat "$ready" 2>/dev/null)" != "$version" ]; then
      "$wine" wineboot --init >/dev/null 2>&1
      # Until every program of that first start has ended.
      /usr/lib/wine/wineserver -w
      echo "$version" >"$ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"
