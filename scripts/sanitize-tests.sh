#!/usr/bin/env bash
# Builds base, engine and storage with their tests and the fuzz targets under
# AddressSanitizer and UndefinedBehaviorSanitizer (clang, build-sanitize/), then runs
# the three test programs, each in a network namespace of its own. Any memory error or
# undefined behaviour fails the run.
#   scripts/sanitize-tests.sh [SOURCE_DIR]
set -euo pipefail
source_dir="$(cd "${1:-$(dirname "$0")/..}" && pwd)"
build="$source_dir/build-sanitize"
export CCACHE_BASEDIR="$source_dir" CCACHE_NOHASHDIR=1
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$source_dir" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$flags -O1" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCORVANE_CORE_ONLY=ON -DCORVANE_FUZZ=ON >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for program in base_tests engine_tests storage_tests; do
  echo "== $program (ASan, UBSan)"
  "$source_dir/scripts/fresh-netns" "$build/$program" --gtest_brief=1 || status=1
done
exit $status
