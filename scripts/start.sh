#!/usr/bin/env bash
# Installs what the application needs and is missing, builds the application, and
# starts it. Once set up, it needs no network.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh app
./scripts/build.sh corvane
exec build/corvane "$@"
