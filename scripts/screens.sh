#!/usr/bin/env bash
# Makes the screenshots under docs/screens/ from the built program, on a
# virtual display inside a fresh network namespace, and the sheets in their
# main states from fixture states, in-process on the offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/corvane ] && [ -x build/views_tests ] || ./scripts/build.sh
./scripts/netns-run /usr/bin/python3 scripts/screens.py build/corvane docs/screens
QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 CORVANE_SCREENS="$PWD/docs/screens" \
  ./scripts/netns-run build/views_tests --gtest_filter='SheetScreens.*:TeamPanelScreens.*' 2>/dev/null | grep '^screens:'
