#!/usr/bin/env bash
# Installs what is missing, builds, and starts the application.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
if [ -x build/corvane ]; then
  exec build/corvane "$@"
fi
echo "start: the libraries and tests are built; the application itself is not part of this build yet"
