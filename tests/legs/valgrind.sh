#!/usr/bin/env bash
# Memcheck of real launches of the Linux build in a small kit made in a temp
# folder: a run with a child, the same traced, one through --perl with this
# machine's Perl, a fatal report and a missing --perl value. Any invalid
# access or definitely lost block fails, as does an unexpected exit status.
set -u
cd "$(dirname "$0")/../.."

cmake --preset default >/dev/null &&
  cmake --build --preset default --target launcher >/dev/null ||
  { echo "valgrind: build failed"; exit 1; }
launcher=$PWD/build/default/launcher

work=$(mktemp -d "${TMPDIR:-/tmp}/zarn-valgrind.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A complete kit whose interpreter is a trivial program, and one that lacks
# its executables directory.
kit=$work/kit
mkdir -p "$kit/bin" "$kit/windows64/bin" "$kit/host/windows64/bin/perl/bin" \
  "$kit/host/windows64/bin/perl/lib" "$kit/share/lib/perl/zarn"
printf '#!/bin/sh\nexit 7\n' >"$kit/host/windows64/bin/perl/bin/perl.exe"
chmod +x "$kit/host/windows64/bin/perl/bin/perl.exe"
printf 'exit 5;\n' >"$kit/share/lib/perl/zarn/tool.pl"
cp "$launcher" "$kit/bin/tool"
broken=$work/broken
mkdir -p "$broken/bin" "$broken/share"
cp "$launcher" "$broken/bin/tool"

# The launcher's own errors and leaks get a status no launch returns.
vg_status=86
vg=("$(command -v valgrind)" --quiet --tool=memcheck --error-exitcode=$vg_status
  --leak-check=full --errors-for-leak-kinds=definite
  --show-leak-kinds=definite --track-origins=yes)

passed=0
failed=0
# launch NAME EXPECTED-STATUS [ENV=VALUE ...] -- COMMAND...
launch() {
  local name=$1 want=$2
  shift 2
  local envs=()
  while [ "$1" != -- ]; do
    envs+=("$1")
    shift
  done
  shift
  env -i HOME="$HOME" PATH="$kit/bin" "${envs[@]}" "${vg[@]}" \
    --log-file="$work/$name.vg" "$@" >"$work/$name.out" 2>&1
  local got=$?
  if [ "$got" -eq "$want" ] && [ ! -s "$work/$name.vg" ]; then
    passed=$((passed + 1))
    echo "ok   $name (status $got)"
  else
    failed=$((failed + 1))
    echo "FAIL $name: status $got, expected $want"
    cat "$work/$name.vg" "$work/$name.out"
  fi
}

launch child 7 -- "$kit/bin/tool" 'a b' 'x\"y' 'D:\tools\' ''
launch traced 7 KELMO_ENTRY_DEBUG=1 -- "$kit/bin/tool" -v --source ocl
launch by_name 7 -- tool -sycl
launch perl_override 5 -- "$kit/bin/tool" --perl "$(command -v perl)" x
launch fatal 1 -- "$broken/bin/tool" x
launch missing_perl_value 3 -- "$kit/bin/tool" --perl

echo "valgrind: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
