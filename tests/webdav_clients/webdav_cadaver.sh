#!/usr/bin/env bash
# A round trip with cadaver, the PIN as its Basic password: folders and files with CJK,
# blank and "&" names put on the share, listed, fetched back and compared byte for byte,
# then the whole tree removed.
#   webdav_cadaver.sh STORAGE_TEST_SERVER
set -euo pipefail
source "$(dirname "$0")/start_server.sh" "$1" 4321
src="$WORK/src"
back="$WORK/back"
mkdir -p "$src" "$back"
printf '中文内容\n' >"$src/报告 第一版.txt"
printf 'ampersand' >"$src/x & y.txt"
head -c 3000000 /dev/urandom >"$src/big blob.bin"

export HOME="$WORK"
printf 'machine 127.0.0.1\nlogin anyone\npassword 4321\n' >"$HOME/.netrc"
chmod 600 "$HOME/.netrc"
cadaver "$DAV/" >"$WORK/session.log" 2>&1 <<COMMANDS
mkcol tree
mkcol "tree/资料 夹"
mkcol "tree/资料 夹/a&b"
put "$src/报告 第一版.txt" "tree/资料 夹/报告 第一版.txt"
put "$src/x & y.txt" "tree/资料 夹/a&b/x & y.txt"
put "$src/big blob.bin" "tree/big blob.bin"
ls "tree/资料 夹"
get "tree/资料 夹/报告 第一版.txt" "$back/报告 第一版.txt"
get "tree/资料 夹/a&b/x & y.txt" "$back/x & y.txt"
get "tree/big blob.bin" "$back/big blob.bin"
COMMANDS
fail() {
  echo "$1"
  cat "$WORK/session.log"
  exit 1
}
for name in "报告 第一版.txt" "x & y.txt" "big blob.bin"; do
  cmp -s "$src/$name" "$back/$name" || fail "fetched copy of $name differs"
done
cmp -s "$src/x & y.txt" "$WORK/recv/tree/资料 夹/a&b/x & y.txt" || fail "stored copy differs"
grep -q "报告 第一版.txt" "$WORK/session.log" || fail "listing misses the file"
grep -q "a&b" "$WORK/session.log" || fail "listing misses the folder"

printf 'rmcol tree\n' | cadaver "$DAV/" >>"$WORK/session.log" 2>&1
[ ! -e "$WORK/recv/tree" ] || fail "the tree was not removed"
echo "cadaver round trip passed"
