#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each for SECONDS (default 10: a smoke test of every target; 0: each
# target only runs its seeds and what earlier runs found, once); --build-only builds them
# and runs nothing (scripts/test.sh builds them so, before the timed test run).
#   scripts/fuzz.sh [SECONDS | --build-only]
# Environment:
#   FUZZ_TARGETS   targets to run (default: all of TARGETS below)
#   FUZZ_PARALLEL  targets run at once (default 1)
#   FUZZ_BUILD     build directory (default build/fuzz)
#   FUZZ_RSS_MB    memory limit per run in MB (default 2048), FUZZ_TIMEOUT seconds per
#                  input (default 10)
# Each target starts from its seeds in tests/fuzz/corpus/<target> (with the dictionary
# tests/fuzz/dict/<target>.dict where there is one) and from what earlier
# runs found (<build>/corpus/<target>; new inputs go there, never into the repository).
# Crashes, leaks, timeouts and out-of-memory inputs land in <build>/findings/<target>;
# reproduce one with <build>/<target>_fuzz <file>. The exit code is 1 when any target
# has a finding.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

SECONDS_EACH=${1:-10}
BUILD_ONLY=0
if [[ $SECONDS_EACH == --build-only ]]; then
  BUILD_ONLY=1
  SECONDS_EACH=0
fi
if [[ ! $SECONDS_EACH =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS | --build-only]" >&2
  exit 2
fi
BUILD=${FUZZ_BUILD:-build/fuzz}
PARALLEL=${FUZZ_PARALLEL:-1}
RSS_MB=${FUZZ_RSS_MB:-2048}
TIMEOUT=${FUZZ_TIMEOUT:-10}

# target:max_len. One target per reader of outside data.
TARGETS=(
  inflate:65536   # Deflate and Deflate64 streams
  legacy:8192     # unshrink, unreduce, explode (old zip methods)
  zip:16384       # zip archives through the zip kit
  tar:16384       # tar archives through the zip kit
  gzip:16384      # gzip files and gzipped tars through the zip kit
  cab:16384       # cabinets through the cabinet archive
  rtf:16384       # the RTF reader
  rtf_import:16384  # RTF imported into a document, written and read back
  rvf:16384       # the native document format read, written and read back
  sql:4096        # the SQL scanners, clause search and parameter parser
  filter:4096     # the filter-expression parser
  ini:8192        # the INI reader
  registry:8192   # the registry-file reader
)

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is needed (apt-get install clang)" >&2
  exit 2
fi

want=${FUZZ_TARGETS:-}
selected=()
for entry in "${TARGETS[@]}"; do
  name=${entry%%:*}
  if [[ -z $want || " $want " == *" $name "* ]]; then selected+=("$entry"); fi
done
if [[ ${#selected[@]} -eq 0 ]]; then
  echo "fuzz.sh: no target matches FUZZ_TARGETS=$want" >&2
  exit 2
fi

export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1
cmake -S tests/fuzz -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 2
build_targets=()
for entry in "${selected[@]}"; do build_targets+=("${entry%%:*}_fuzz"); done
cmake --build "$BUILD" -j"${FUZZ_BUILD_JOBS:-3}" --target "${build_targets[@]}" >"$BUILD/build.log" 2>&1 || {
  tail -50 "$BUILD/build.log"
  exit 2
}
if ((BUILD_ONLY)); then exit 0; fi

run_one() {
  local name=$1 max_len=$2
  local work="$BUILD/corpus/$name" findings="$BUILD/findings/$name" seeds="tests/fuzz/corpus/$name"
  local dict=()
  if [[ -f tests/fuzz/dict/$name.dict ]]; then dict=(-dict="tests/fuzz/dict/$name.dict"); fi
  mkdir -p "$work" "$findings" "$seeds"
  local limit=(-max_total_time="$SECONDS_EACH")
  if ((SECONDS_EACH == 0)); then limit=(-runs=0); fi
  "$BUILD/${name}_fuzz" "${dict[@]}" "${limit[@]}" -rss_limit_mb="$RSS_MB" -malloc_limit_mb="$RSS_MB" \
    -timeout="$TIMEOUT" -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$findings/" \
    "$work" "$seeds" >"$BUILD/$name.log" 2>&1
}

running=0
for entry in "${selected[@]}"; do
  run_one "${entry%%:*}" "${entry##*:}" &
  running=$((running + 1))
  if ((running >= PARALLEL)); then
    wait -n
    running=$((running - 1))
  fi
done
wait

status=0
printf '%-10s %12s %8s %8s %8s  %s\n' target executions exec/s cov ft findings
for entry in "${selected[@]}"; do
  name=${entry%%:*}
  log="$BUILD/$name.log"
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  found=$(find "$BUILD/findings/$name" -type f | wc -l)
  note=$found
  if ((found > 0)); then
    note="$found in $BUILD/findings/$name"
    status=1
  elif ! grep -q 'stat::number_of_executed_units' "$log"; then
    note="run failed, see $log"
    status=1
  fi
  printf '%-10s %12s %8s %8s %8s  %s\n' "$name" "${execs:--}" "${rate:--}" "${cov:--}" "${ft:--}" "$note"
done
exit $status
