#!/usr/bin/env bash
# Installs what the application needs and is missing, builds the application, installs
# its desktop entry and icons for the user (so launchers list Corvane and start the
# built program), and starts it. Once set up, it needs no network.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh app
./scripts/build.sh corvane
build/share/corvane/desktop-entry.sh "$PWD/build/corvane"
exec build/corvane "$@"
