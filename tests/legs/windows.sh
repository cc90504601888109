#!/usr/bin/env bash
# The Windows leg: cross-build with MinGW-w64 and run the whole suite under
# Wine, with a Wine prefix of the build's own (build/windows/wineprefix).
set -u
cd "$(dirname "$0")/../.."

build=build/windows
prefix=$PWD/$build/wineprefix
wineserver=/usr/lib/wine/wineserver

cmake --preset windows || exit 1
cmake --build --preset windows || exit 1

# Start Wine once before ctest: the first start creates the prefix (several
# seconds), which would otherwise eat into the discovery time of the first
# test program. The wrapper creates it under a lock either way.
cmake/wine-run.sh "$prefix" cmd /c exit 0 >/dev/null 2>&1 || true

ctest --preset windows
status=$?

# Let the prefix's server go, so that nothing of this leg outlives it.
WINEPREFIX=$prefix "$wineserver" -k >/dev/null 2>&1 || true
exit $status
