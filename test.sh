#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice:
# a normal build and an address/undefined-behaviour sanitizer build.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
marubo_install_deps

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

run_suite build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DMARUBO_SANITIZE=ON -DMARUBO_BUILD_BENCHMARKS=OFF
echo "All tests passed in both builds."
