#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test inside a fresh network
# namespace with only loopback up.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
./scripts/netns-run ctest --test-dir build --output-on-failure --parallel "$(nproc)" --timeout 300
