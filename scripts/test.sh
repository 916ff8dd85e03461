#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test, after installing what the machine lacks and starting the Firebird
# server. Extra arguments go to ctest (for example: -L unit).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

bash scripts/deps.sh

# A clone in another folder reuses the compile cache of an earlier build.
export CCACHE_BASEDIR="$ROOT"
export CCACHE_NOHASHDIR=1
export CCACHE_SLOPPINESS=time_macros,include_file_mtime,include_file_ctime

BUILD=${PELVAR_BUILD_DIR:-build/asan}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELVAR_SANITIZE=ON >/dev/null
cmake --build "$BUILD"

bash scripts/fbserver.sh start
trap 'bash scripts/fbserver.sh stop' EXIT

export CI=${CI:-}
ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)" "$@"
