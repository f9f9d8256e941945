#!/usr/bin/env bash
# Installs what the build and the tests need and is missing, builds everything, and
# runs every test inside a fresh network namespace with only loopback up. Once set
# up, it needs no network.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh tests
./scripts/build.sh
./scripts/netns-run ctest --test-dir build --output-on-failure --parallel "$(nproc)" --timeout 300
