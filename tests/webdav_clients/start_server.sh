# Sourced by the client tests: starts the storage test server ($1) on a fresh folder
# and sets WORK, PORT and DAV; the server and the folder go when the script ends.
WORK=$(mktemp -d)
mkfifo "$WORK/in"
"$1" "$WORK/recv" ${2:+"$2"} <"$WORK/in" >"$WORK/out" &
SERVER=$!
exec 9>"$WORK/in"   # the server serves while this end stays open
cleanup() {
  exec 9>&-
  wait "$SERVER" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
for _ in $(seq 100); do
  grep -q '^port ' "$WORK/out" 2>/dev/null && break
  sleep 0.05
done
PORT=$(sed -n 's/^port //p' "$WORK/out")
[ -n "$PORT" ] || { echo "the storage test server did not start"; exit 1; }
DAV="http://127.0.0.1:$PORT/dav"
