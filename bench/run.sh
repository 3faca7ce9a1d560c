#!/usr/bin/env bash
# Runs every benchmark: each bench/*.cpp was built into an executable of the same
# name in the build folder ($1); each other bench/*.sh script is run with the
# build folder as its argument. Results go to bench/results/ and the console.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build-bench}" && pwd)
mkdir -p "$here/results"
status=0
for src in "$here"/*.cpp; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .cpp)
  echo "== $name"
  "$build/$name" --benchmark_counters_tabular=true | tee "$here/results/$name.txt" || status=1
done
for script in "$here"/*.sh; do
  [ "$(basename "$script")" = run.sh ] && continue
  name=$(basename "$script" .sh)
  echo "== $name"
  bash "$script" "$build" | tee "$here/results/$name.txt" || status=1
done
exit $status
