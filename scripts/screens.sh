#!/usr/bin/env bash
# Makes the screenshots under docs/screens/ from the built program, on a
# virtual display inside a fresh network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/corvane ] || ./scripts/build.sh
./scripts/netns-run /usr/bin/python3 scripts/screens.py build/corvane docs/screens
