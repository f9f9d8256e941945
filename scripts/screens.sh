#!/usr/bin/env bash
# Remakes every picture under docs/screens/: the windows from the built program on a
# virtual display inside a fresh network namespace, the sheets in their main states
# from fixture states in-process on the offscreen platform, and the team web page in
# headless Chromium. They are made into a fresh folder that then replaces the old
# pictures whole, so a picture no longer made does not stay behind, and a failed run
# leaves the old ones as they were.
#   screens.sh               every picture
#   screens.sh PICTURE...    only the window pictures named (file names in docs/screens/),
#                            each replacing its old one; the others stay as they are
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh tests
# Always built: a stale program would picture views that are gone.
./scripts/build.sh corvane views_tests team_page_server
fresh="$(mktemp -d)"
trap 'rm -rf "$fresh"' EXIT
./scripts/netns-run /usr/bin/python3 scripts/screens.py build/corvane "$fresh" "$@"
if [ $# -gt 0 ]; then
  for picture in "$@"; do
    [ -f "$fresh/$picture" ] || { echo "screens: $picture was not made" >&2; exit 1; }
  done
  cp "$fresh"/*.png docs/screens/
  echo "screens: $(ls "$fresh" | wc -l) pictures in docs/screens"
  exit 0
fi
QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 CORVANE_SCREENS="$fresh" \
  ./scripts/netns-run build/views_tests --gtest_filter='SheetScreens.*:TeamPanelScreens.*:QueueScreens.*' 2>/dev/null | grep '^screens:'
# The team web page against a storage-only test server.
(cd tests/web && ../../scripts/netns-run node team_page_screens.mjs "$PWD/../../build/team_page_server" "$fresh")
mkdir -p docs/screens
rm -f docs/screens/*.png
cp "$fresh"/*.png docs/screens/
echo "screens: $(ls "$fresh" | wc -l) pictures in docs/screens"
