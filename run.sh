#!/usr/bin/env bash
# Installs what is missing, builds marubo and runs it.
#
#   ./run.sh            builds, writes sample recordings under build/demo and
#                       runs marubo on them (then marubo -i on them), with the
#                       sample settings tools/samples/marubo.json
#   ./run.sh ARGS...    builds and runs build/run/marubo ARGS... from the
#                       folder you call it in (your own files; the settings
#                       are build/run/marubo.json)
set -euo pipefail
caller="$PWD"
cd "$(dirname "$0")"
root="$PWD"
. scripts/deps.sh
marubo_install_deps

# The program as a user runs it: no tests, so none of the tests' seams.
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMARUBO_BUILD_TESTS=OFF -DMARUBO_BUILD_BENCHMARKS=OFF >/dev/null

# Quiet build: the compiler's output is shown only when something fails.
build() {
  if ! cmake --build build/run --target "$@" >build/run/run-build.log 2>&1; then
    cat build/run/run-build.log
    echo "run.sh: the build failed" >&2
    exit 1
  fi
}

if [ $# -gt 0 ]; then
  build marubo
  # Relative paths are the caller's: run from where run.sh was called.
  cd "$caller"
  status=0
  "$root/build/run/marubo" "$@" || status=$?
  exit "$status"
fi

build marubo marubo_samples

# A folder of its own: the program with its settings beside it, the
# recordings, and the folder the tasks copy into. Rebuilt on every run.
demo="$PWD/build/demo"
rm -rf "$demo"
mkdir -p "$demo/bin" "$demo/recordings" "$demo/output"
./build/run/tools/samples/marubo_samples "$demo/recordings" >/dev/null
cp build/run/marubo "$demo/bin/marubo"

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
