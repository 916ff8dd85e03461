#!/bin/sh
# Builds the SQL toolkit fuzzer with clang and runs it for a while:
#   sh tests/dbengine/fuzz/build_fuzzer.sh [seconds]
set -e
root=$(cd "$(dirname "$0")/../../.." && pwd)
out=${TMPDIR:-/tmp}/ib_parse_fuzzer
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I"$root" -I"$root/tests" \
  "$root/tests/dbengine/fuzz/ib_parse_fuzzer.cpp" "$root"/dbengine/IB_Parse*.cpp \
  $(for f in exceptions codepage streams sysutils classes currency checked dateutils variant; do echo "$root/platform/$f.cpp"; done) -o "$out" -lpthread -ldl
mkdir -p "$out.corpus"
"$out" -max_total_time="${1:-60}" -max_len=512 "$out.corpus"
