#!/usr/bin/env bash
# Runs one fuzz target of the sanitizer build for a while over its committed seeds;
# new inputs go to a temporary folder, so the seeds stay as committed.
#   scripts/fuzz-run.sh NAME SECONDS
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
name="$1"
seconds="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$source_dir/build-sanitize/fuzz_$name" -max_total_time="$seconds" -rss_limit_mb=1024 -print_final_stats=1 \
  "$work" "$source_dir/tests/fuzz/corpus/$name"
