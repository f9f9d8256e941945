#!/usr/bin/env bash
# scripts/build.sh on a checkout copied with its build folder (cp -a): the copy's build
# folder still names the first source folder, and the script configures it afresh
# instead of stopping on CMake's refusal. Runs on a tiny project beside the script.
#   build_script_test.sh PATH/TO/scripts/build.sh
set -euo pipefail
script="$(realpath "$1")"
box="$(mktemp -d)"
trap 'rm -rf "$box"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }
cached_source() { sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$1/build/CMakeCache.txt"; }

mkdir -p "$box/first/scripts"
cp "$script" "$box/first/scripts/build.sh"
cat >"$box/first/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(copied_checkout NONE)
add_custom_target(stamp ALL COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/stamp)
CMAKE
"$box/first/scripts/build.sh" >/dev/null || fail "the first build failed"
[ "$(cached_source "$box/first")" = "$(realpath "$box/first")" ] || fail "the first cache names $(cached_source "$box/first")"

cp -a "$box/first" "$box/copy"
rm "$box/copy/build/stamp"
"$box/copy/scripts/build.sh" >/dev/null || fail "the copy's build stopped"
[ "$(cached_source "$box/copy")" = "$(realpath "$box/copy")" ] || fail "the copy's cache names $(cached_source "$box/copy")"
[ -f "$box/copy/build/stamp" ] || fail "the copy's build built nothing"
# The copy's build folder is its own now: the next run keeps it as it is.
"$box/copy/scripts/build.sh" >/dev/null || fail "the copy's second build failed"
echo "passed"
