#!/usr/bin/env bash
# Configures build/ and builds the targets named, or everything (application, libraries,
# tests, benchmarks) when none is named.
#   build.sh [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
# Compiler results are reused across checkouts in other folders (a fresh clone included).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
if [ -f build/CMakeCache.txt ]; then
  # Again, so that the tests join a tree first configured before GoogleTest was installed.
  cmake -S . -B build >/dev/null
else
  generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build build --parallel "$(nproc)" "${targets[@]}"
