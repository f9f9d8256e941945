#!/bin/sh
# Installs Corvane's desktop entry and icons for the user, the entry starting PROGRAM:
#   desktop-entry.sh PROGRAM
# The files come from the share folder this script lies in (a bundle's or the build's);
# they go to the user's applications folder and hicolor icon theme.
set -eu
program="$1"
share=$(cd "$(dirname "$0")/.." && pwd)
data="${XDG_DATA_HOME:-$HOME/.local/share}"

for icon in "$share"/icons/hicolor/*/apps/corvane.png; do
  size=$(basename "$(dirname "$(dirname "$icon")")")
  mkdir -p "$data/icons/hicolor/$size/apps"
  cp "$icon" "$data/icons/hicolor/$size/apps/.corvane.png.new"
  mv "$data/icons/hicolor/$size/apps/.corvane.png.new" "$data/icons/hicolor/$size/apps/corvane.png"
done

# Exec holds the path quoted: \ " ` $ escaped inside the quotes, then every backslash doubled
# as the entry's strings escape it, and % doubled; TryExec holds it as a plain string.
quoted=$(printf '%s' "$program" | sed -e 's/[\\"`$]/\\&/g' -e 's/\\/\\\\/g' -e 's/%/%%/g')
plain=$(printf '%s' "$program" | sed -e 's/\\/\\\\/g')
mkdir -p "$data/applications"
EXEC_LINE="Exec=\"$quoted\"" TRY_LINE="TryExec=$plain" awk '
  /^Exec=/ { print ENVIRON["EXEC_LINE"]; next }
  /^TryExec=/ { print ENVIRON["TRY_LINE"]; next }
  { print }' "$share/applications/corvane.desktop" >"$data/applications/.corvane.desktop.new"
mv "$data/applications/.corvane.desktop.new" "$data/applications/corvane.desktop"

# Launchers that keep caches of entries and icons read them again (an icon cache only where
# one is kept already: a cache made here would hide icons installed later without one).
if command -v update-desktop-database >/dev/null 2>&1; then update-desktop-database -q "$data/applications" || true; fi
touch "$data/icons/hicolor"
if [ -f "$data/icons/hicolor/icon-theme.cache" ] && command -v gtk-update-icon-cache >/dev/null 2>&1; then
  gtk-update-icon-cache -q -t "$data/icons/hicolor" || true
fi
