#!/usr/bin/env bash
# Configures and builds everything (application, libraries, tests, benchmarks) in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
# Compiler results are reused across checkouts in other folders (a fresh clone included).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build --parallel "$(nproc)"
