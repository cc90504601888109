#!/usr/bin/env bash
# Runs a cross-built program under Wine: wine-run.sh PREFIX PROGRAM [ARGS...].
# The prefix lives in the build folder, so a fresh checkout starts clean; the
# first use creates it under a lock, since ctest may start many programs at
# once and concurrent first starts of one prefix race each other.
set -u
prefix=$1
shift
loader=${ZARN_WINE_LOADER:-/usr/lib/wine/wine64}
export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko installers: console programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      "$loader" wineboot --init >"$prefix.log" 2>&1
      wineserver_bin=$(dirname "$loader")/wineserver
      "$wineserver_bin" -w
    fi
  ) 9>"$prefix.lock"
fi

exec "$loader" "$@"
