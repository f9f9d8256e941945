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
# The team web page in headless Chromium against a storage-only test server.
[ -x build/team_page_server ] || ./scripts/build.sh
(cd tests/web && ../../scripts/netns-run node team_page_screens.mjs "$PWD/../../build/team_page_server" "$PWD/../../docs/screens")
