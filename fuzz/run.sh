#!/usr/bin/env bash
# Builds one fuzz target with clang and runs it:
#   fuzz/run.sh NAME [SECONDS]   (default 60; NAME as fuzz/fuzz_NAME.cpp)
# New inputs go to BUILD/fuzz-work/NAME/corpus, crashes to .../artifacts; the
# committed seeds in fuzz/corpus/NAME are only read. HU_FUZZ_BUILD_DIR picks
# the build folder (default build-fuzz).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
name=${1:?usage: fuzz/run.sh NAME [SECONDS]}
seconds=${2:-60}
build=${HU_FUZZ_BUILD_DIR:-$root/build-fuzz}
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DHU_FUZZ=ON -DHU_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target "fuzz_$name" -j2
work=$build/fuzz-work/$name
mkdir -p "$work/corpus" "$work/artifacts"
"$build/bin/fuzz_$name" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" "$root/fuzz/corpus/$name"
