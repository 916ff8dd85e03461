#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test, after installing what the machine lacks and starting the Firebird
# server. Extra arguments go to ctest (for example: -L unit). At the end it prints the
# wall time and the CPU time (user and system, of everything each phase started) of
# each phase.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

# Phase times: the wall clock and this shell's children's CPU times (bash's "times"
# counts every process a phase ran, once it has been waited for; it runs in this shell,
# never in a subshell, whose counts start from nothing).
phases=()
run_wall=$(date +%s.%N)
times_file=$(mktemp)
children_cpu() {  # sets cpu_user and cpu_sys, in seconds
  times >"$times_file"
  read -r cpu_user cpu_sys < <(tail -1 "$times_file" | awk '
    function sec(t,  m) { m = t; sub(/m.*/, "", m); sub(/^[0-9]+m/, "", t); sub(/s$/, "", t); return m * 60 + t }
    { printf "%.1f %.1f\n", sec($1), sec($2) }')
}
phase_name=""
phase_begin() {
  phase_name=$1
  phase_wall=$(date +%s.%N)
  children_cpu
  phase_user=$cpu_user phase_sys=$cpu_sys
}
phase_end() {
  [[ -n $phase_name ]] || return 0
  local now user sys
  now=$(date +%s.%N)
  children_cpu
  user=$cpu_user sys=$cpu_sys
  phases+=("$(awk -v n="$phase_name" -v w0="$phase_wall" -v w1="$now" -v u0="$phase_user" -v u1="$user" \
                   -v s0="$phase_sys" -v s1="$sys" \
                   'BEGIN { printf "%-16s %9.0f %9.0f %9.0f", n, w1 - w0, u1 - u0, s1 - s0 }')")
  phase_name=""
}
report_phases() {
  phase_end
  ((${#phases[@]})) || return 0
  echo
  printf '%-16s %9s %9s %9s   (seconds; load average now: %s)\n' phase wall user system \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
  printf '%s\n' "${phases[@]}"
  children_cpu
  awk -v w0="$run_wall" -v w1="$(date +%s.%N)" -v u="$cpu_user" -v s="$cpu_sys" \
    'BEGIN { printf "%-16s %9.0f %9.0f %9.0f\n", "total", w1 - w0, u, s }'
}

fbserver_started=0
finish() {
  local status=$?
  if ((fbserver_started)); then bash scripts/fbserver.sh stop || true; fi
  report_phases
  rm -f "$times_file"
  exit $status
}
trap finish EXIT

phase_begin install
bash scripts/deps.sh
phase_end

# A clone in another folder reuses the compile cache of an earlier build.
export CCACHE_BASEDIR="$ROOT"
export CCACHE_NOHASHDIR=1
export CCACHE_SLOPPINESS=time_macros,include_file_mtime,include_file_ctime

phase_begin build
BUILD=${PELVAR_BUILD_DIR:-build/asan}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELVAR_SANITIZE=ON >/dev/null
cmake --build "$BUILD"
# The fuzz targets that the test fuzz_smoke runs (clang, a build of their own).
if command -v clang++ >/dev/null; then
  FUZZ_BUILD="$BUILD/fuzz" FUZZ_BUILD_JOBS=$(nproc) bash scripts/fuzz.sh --build-only
fi
phase_end

phase_begin tests
bash scripts/fbserver.sh start
fbserver_started=1

export CI=${CI:-}
# A test that fails is run once more: its failure stays in the output, and a test that
# fails twice fails the run. (The editor's live-spelling worker test has an intermittent
# missed mark under heavy parallel load that is not yet explained.) A ctest test is one
# test suite run in one process; its output names each test that failed.
ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)" --repeat until-pass:2 "$@"
phase_end

# The code that runs on threads of its own once more under ThreadSanitizer.
phase_begin tsan
TSAN_BUILD=${PELVAR_TSAN_BUILD_DIR:-build/tsan}
cmake -S . -B "$TSAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELVAR_TSAN=ON -DPELVAR_BENCH=OFF >/dev/null
cmake --build "$TSAN_BUILD" --target test_richtext_view_unit
TSAN_OPTIONS=halt_on_error=1 "$TSAN_BUILD/tests/test_richtext_view_unit" --gtest_filter='LiveSpelling*'
cmake --build "$TSAN_BUILD" --target test_richtext_edit_gui
QT_QPA_PLATFORM=offscreen TSAN_OPTIONS=halt_on_error=1 "$TSAN_BUILD/tests/test_richtext_edit_gui" --gtest_filter='EditorSpelling*'
phase_end
