#!/usr/bin/env bash
# Installs what is missing, builds marubo and runs it.
#
#   ./run.sh            builds, writes sample recordings under build/demo and
#                       runs marubo on them (then marubo -i on them), with the
#                       sample settings tools/samples/marubo.json
#   ./run.sh ARGS...    builds and runs build/normal/marubo ARGS... (your own
#                       files; the settings are build/normal/marubo.json)
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
marubo_install_deps

cmake -S . -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

# Quiet build: the compiler's output is shown only when something fails.
build() {
  if ! cmake --build build/normal --target "$@" >build/normal/run-build.log 2>&1; then
    cat build/normal/run-build.log
    echo "run.sh: the build failed" >&2
    exit 1
  fi
}

if [ $# -gt 0 ]; then
  build marubo
  status=0
  ./build/normal/marubo "$@" || status=$?
  exit "$status"
fi

build marubo marubo_samples

# A folder of its own: the program with its settings beside it, the
# recordings, and the folder the tasks copy into. Rebuilt on every run.
demo="$PWD/build/demo"
rm -rf "$demo"
mkdir -p "$demo/bin" "$demo/recordings" "$demo/output"
./build/normal/tools/samples/marubo_samples "$demo/recordings" >/dev/null
cp build/normal/marubo "$demo/bin/marubo"

# The sample settings name the output folder through the macro #{OUTDIR};
# the path goes in as a JSON string.
outdir="$demo/output"
outdir="${outdir//\\/\\\\}"
outdir="${outdir//\"/\\\"}"
settings="$(<tools/samples/marubo.json)"
printf '%s\n' "${settings//@OUTDIR@/"$outdir"}" >"$demo/bin/marubo.json"

cd "$demo"
echo "=== marubo recordings/* ==="
status=0
./bin/marubo recordings/* || status=$?
echo "=== exit code $status ==="
echo
echo "=== marubo -i recordings/* ==="
info=0
./bin/marubo -i recordings/* || info=$?
echo "=== exit code $info ==="
echo
echo "=== files in build/demo/output ==="
find output -type f | LC_ALL=C sort
exit "$status"
