#!/usr/bin/env bash
# Configures build/ and builds the targets named, or everything (application, libraries,
# tests, benchmarks) when none is named.
#   build.sh [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
# Compiler results are reused across checkouts in other folders (a fresh clone included).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

configure() {
  local generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

if [ -f build/CMakeCache.txt ]; then
  cached_source="$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' build/CMakeCache.txt)"
  if [ "$cached_source" = "$(pwd -P)" ]; then
    # Again, so that the tests join a tree first configured before GoogleTest was installed.
    cmake -S . -B build >/dev/null
  else
    # A checkout copied with its build folder: CMake refuses a cache made for another
    # source folder, so the folder is configured afresh (ccache keeps the rebuild short).
    echo "build.sh: build/ was configured for ${cached_source:-another folder}; configuring it afresh"
    configure --fresh
  fi
else
  configure
fi
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build build --parallel "$(nproc)" "${targets[@]}"
