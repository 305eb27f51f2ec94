#!/usr/bin/env bash
# The collector behind a proxy on its own host, with a client from beyond loopback, inside a
# network namespace of the test's own (10.200.0.1 exists only there): the page needs the token
# from the outside address and from the proxy's loopback address alike, the log names the
# client the proxy forwarded (and not one an outside client claims), and /_collector/ is not
# served on the public port. Exits 77 (skipped) where no network namespace can be made.
#   collector-netns.sh QUILLON_COLLECTOR
set -euo pipefail
COLLECTOR=$1

if [ -z "${QUILLON_NETNS_INSIDE:-}" ]; then
  if ! unshare -rn true 2>/dev/null; then
    echo "SKIP: no network namespace can be made here (unshare -rn failed)"
    exit 77
  fi
  exec env QUILLON_NETNS_INSIDE=1 unshare -rn bash "$0" "$@"
fi

fail() { echo "FAIL: $*" >&2; [ -f "${DIR:-}/err" ] && cat "$DIR/err" >&2; exit 1; }
ip link set lo up
ip addr add 10.200.0.1/32 dev lo

DIR=$(mktemp -d /tmp/quillon-netns-XXXXXX)
cleanup() {
  [ -f "$DIR/pid" ] && kill "$(cat "$DIR/pid")" 2>/dev/null || true
  rm -rf "$DIR"
}
trap cleanup EXIT
echo s3cret >"$DIR/token"
"$COLLECTOR" --host 0.0.0.0 --port 0 --db :memory: --admin-token-file "$DIR/token" --trusted-proxy 127.0.0.1 \
  --verbose >"$DIR/out" 2>"$DIR/err" </dev/null &
echo $! >"$DIR/pid"
for _ in $(seq 100); do
  grep -q "listening on" "$DIR/out" 2>/dev/null && break
  sleep 0.1
done
PORT=$(grep -o '[0-9]*$' "$DIR/out") || fail "collector did not start"

status() {  # $1: source address, $2: path, then curl options
  local from=$1 path=$2
  shift 2
  local to=$from
  curl -s -o /dev/null -w '%{http_code}' --interface "$from" "$@" "http://$to:$PORT$path"
}
# The outside client: refused without the token, answered with it.
[ "$(status 10.200.0.1 /)" = 401 ] || fail "page answered 10.200.0.1 without the token"
[ "$(status 10.200.0.1 / -H 'Authorization: Bearer s3cret')" = 200 ] || fail "page refused 10.200.0.1 with the token"
# The proxy forwards every client from loopback: that is no reason to serve the page either.
[ "$(status 127.0.0.1 / -H 'X-Forwarded-For: 203.0.113.7')" = 401 ] || fail "page answered the proxy without the token"
[ "$(status 127.0.0.1 /)" = 401 ] || fail "page answered loopback without the token"
[ "$(status 127.0.0.1 / -H 'X-Forwarded-For: 203.0.113.7' -H 'Authorization: Bearer s3cret')" = 200 ] ||
  fail "page refused the proxy with the token"
# The log names the client the proxy saw, and ignores what a client beyond it claims.
[ "$(status 10.200.0.1 / -H 'X-Forwarded-For: 198.51.100.9')" = 401 ] || fail "forged X-Forwarded-For"
for _ in $(seq 50); do grep -q "GET / from 10.200.0.1 -> 401" "$DIR/err" && break; sleep 0.1; done
grep -q "GET / from 203.0.113.7 -> 401" "$DIR/err" || fail "log does not name the forwarded client"
grep -q "GET / from 203.0.113.7 -> 200" "$DIR/err" || fail "log does not name the forwarded client"
grep -q "GET / from 10.200.0.1 -> 401" "$DIR/err" || fail "log does not name the outside client"
! grep -q "198.51.100.9" "$DIR/err" || fail "log believed an X-Forwarded-For from beyond the proxy"
# Inspection and control are not on the public port, for anyone, token or not.
for from in 10.200.0.1 127.0.0.1; do
  for path in /_collector/records /_collector/policy; do
    [ "$(status "$from" "$path" -H 'Authorization: Bearer s3cret')" = 404 ] || fail "$path served to $from"
  done
  [ "$(status "$from" /_collector/reset -X POST -H 'Content-Type: application/json' -d '{}' \
    -H 'Authorization: Bearer s3cret')" = 404 ] || fail "/_collector/reset served to $from"
done
kill -0 "$(cat "$DIR/pid")" || fail "collector died"
echo "collector-netns: outside client 10.200.0.1 and proxy 127.0.0.1 on port $PORT: ok"
