#!/usr/bin/env bash
# Installs what is missing, builds marubo and runs it.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
marubo_install_deps

cmake -S . -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal --target marubo
status=0
./build/normal/marubo "$@" || status=$?
exit "$status"
