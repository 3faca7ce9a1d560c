#!/usr/bin/env bash
# Runs one fuzz target: replays its committed seed corpus, then fuzzes for
# SECONDS. New inputs go to WORKDIR (never into the repository); a crash
# leaves its input in WORKDIR/crash-* and fails the run.
# Usage: run.sh TARGET SECONDS SEED_CORPUS WORKDIR [more libFuzzer flags]
set -uo pipefail
target="$1" seconds="$2" seeds="$3" work="$4"
shift 4
mkdir -p "$work/corpus"
[ -d "$seeds" ] || { echo "run.sh: no seed corpus at $seeds" >&2; exit 2; }
cd "$work" || exit 2
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
"$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -max_len=65536 -print_final_stats=1 \
  -artifact_prefix="$work/" "$@" "$work/corpus" "$seeds"
