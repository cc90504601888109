#!/usr/bin/env bash
# What the launcher costs: a trivial child started through the launcher
# against the same child started directly, and against a minimal program
# that only starts it and waits (the floor of any launcher), in a kit made in
# a temp folder, with a short PATH and with one of 100 entries that the
# launcher walks to find itself. Prints mean times, their ratios and the
# peak resident memory. A benchmark, not a test: it fails only when it cannot
# run.
#
# Needs the default build's tools; hyperfine (Debian package "hyperfine")
# gives the best figures and GNU time (package "time") the memory, each with
# a fall-back when missing. ZARN_BENCH_RUNS sets the number of runs.
set -eu
cd "$(dirname "$0")/.."
runs=${ZARN_BENCH_RUNS:-1000}

cmake --preset default >/dev/null
cmake --build --preset default --target launcher >/dev/null
launcher=$PWD/build/default/launcher

work=$(mktemp -d "${TMPDIR:-/tmp}/zarn-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

kit=$work/kit
perl_dir=$kit/host/windows64/bin/perl/bin
mkdir -p "$kit/bin" "$kit/windows64/bin" "$perl_dir" \
  "$kit/host/windows64/bin/perl/lib" "$kit/share/lib/perl/zarn"
cp "$(type -P true)" "$perl_dir/perl.exe"
: >"$kit/share/lib/perl/zarn/tool.pl"
cp "$launcher" "$kit/bin/tool"
child=("$perl_dir/perl.exe" "$kit/share/lib/perl/zarn/tool.pl")

# The floor: starts its arguments as a command and waits, nothing else;
# linked as the launcher is.
cat >"$work/floor.cpp" <<'CPP'
#include <spawn.h>
#include <sys/wait.h>
extern char **environ;
int main(int, char **argv) {
  pid_t pid;
  if (posix_spawn(&pid, argv[1], nullptr, nullptr, argv + 1, environ) != 0) return 127;
  int status;
  if (waitpid(pid, &status, 0) != pid) return 127;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
CPP
g++ -O2 -static-libstdc++ -static-libgcc -o "$work/floor" "$work/floor.cpp"

# The launcher splits PATH at ';', the system at ':'. To the system this
# PATH is the kit's bin first; to the launcher it is "$kit/bin:" (no such
# directory), 98 real directories without the tool, then the kit's bin.
for i in $(seq -w 1 98); do mkdir -p "$work/path/d$i"; done
long_path="$kit/bin:"
for i in $(seq -w 1 98); do long_path+=";$work/path/d$i"; done
long_path+=";$kit/bin"
short_path=$kit/bin

# Mean wall time of one run, in microseconds: PATH, then the command.
mean_us() {
  local path=$1
  shift
  if command -v hyperfine >/dev/null; then
    env PATH="$path" "$(command -v hyperfine)" -N --style none --warmup 50 \
      --runs "$runs" --export-csv "$work/h.csv" -- "$*" >/dev/null 2>&1 ||
      { echo "bench: '$*' failed" >&2; exit 1; }
    awk -F, 'NR == 2 { printf "%.0f\n", $2 * 1e6 }' "$work/h.csv"
  else
    local start end i
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do
      PATH=$path "$@" >/dev/null || { echo "bench: '$*' failed" >&2; exit 1; }
    done
    end=$(date +%s%N)
    echo $(((end - start) / runs / 1000))
  fi
}

# Peak resident memory in KiB: PATH, then the command.
peak_kib() {
  local path=$1
  shift
  if [ -x /usr/bin/time ]; then
    env PATH="$path" /usr/bin/time -v "$@" 2>&1 >/dev/null |
      awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
  else
    [ -x "$work/peak" ] || {
      cat >"$work/peak.cpp" <<'CPP'
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
int main(int, char **argv) {
  pid_t pid = fork();
  if (pid == 0) { execvp(argv[1], argv + 1); _exit(127); }
  int status; struct rusage ru;
  wait4(pid, &status, 0, &ru);
  std::printf("%ld\n", ru.ru_maxrss);
}
CPP
      g++ -O1 -o "$work/peak" "$work/peak.cpp"
    }
    env PATH="$path" "$work/peak" "$@"
  fi
}

echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"
echo "timer: $(command -v hyperfine >/dev/null && echo hyperfine || echo shell loop), $runs runs each"
direct=$(mean_us "$short_path" "${child[@]}")
direct_kib=$(peak_kib "$short_path" "${child[@]}")
floor=$(mean_us "$short_path" "$work/floor" "${child[@]}")
floor_kib=$(peak_kib "$short_path" "$work/floor" "${child[@]}")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '%-30s %10s %8s %10s %12s\n' "" "mean us" "ratio" "vs floor" "peak KiB"
printf '%-30s %10s %8s %10s %12s\n' "child started directly" "$direct" "1.00" "" "$direct_kib"
printf '%-30s %10s %8s %10s %12s\n' "floor: start and wait only" "$floor" \
  "$(ratio "$floor" "$direct")" "1.00" "$floor_kib"
for row in short long; do
  if [ $row = short ]; then path=$short_path label="launcher, PATH of 1 entry"
  else path=$long_path label="launcher, PATH of 100 entries"; fi
  t=$(mean_us "$path" tool)
  kib=$(peak_kib "$path" tool)
  printf '%-30s %10s %8s %10s %12s\n' "$label" "$t" "$(ratio "$t" "$direct")" \
    "$(ratio "$t" "$floor")" "$kib"
done
