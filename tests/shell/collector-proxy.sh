#!/usr/bin/env bash
# Two collectors on one PostgreSQL database behind nginx with the shipped configuration
# (tools/collector/deploy/nginx.conf, its addresses moved to loopback and a throw-away
# certificate), all in a temporary directory: a crash and a screenshot sent through the proxy
# are seen by both collectors, /_collector/ stays closed, and with one collector killed the
# proxy still gets reports stored.
#   collector-proxy.sh QUILLON_COLLECTOR NGINX_CONF
set -euo pipefail
COLLECTOR=$1
SITE=$2

fail() { echo "FAIL: $*" >&2; exit 1; }
PGBIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$PGBIN" ] && [ -x "$PGBIN/initdb" ] || fail "PostgreSQL is not installed (Debian's postgresql; scripts/setup-deps)"
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$NGINX" ] || fail "nginx is not installed (Debian's nginx; scripts/setup-deps)"

DIR=$(mktemp -d /tmp/quillon-proxy-XXXXXX)
AS=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody:nogroup "$DIR"
  AS=(runuser -u nobody --)
fi
cleanup() {
  for f in "$DIR"/collector*.pid; do [ -f "$f" ] && kill -9 "$(cat "$f")" 2>/dev/null || true; done
  [ -f "$DIR/nginx.pid" ] && kill "$(cat "$DIR/nginx.pid")" 2>/dev/null || true
  "${AS[@]}" "$PGBIN/pg_ctl" -D "$DIR/data" -m immediate -w stop >/dev/null 2>&1 </dev/null || true
  rm -rf "$DIR"
}
trap cleanup EXIT

"${AS[@]}" "$PGBIN/initdb" -D "$DIR/data" -U postgres --auth=trust -E UTF8 --locale=C --no-sync >"$DIR/initdb.log" 2>&1 </dev/null ||
  { cat "$DIR/initdb.log"; fail "initdb"; }
"${AS[@]}" "$PGBIN/pg_ctl" -D "$DIR/data" -l "$DIR/pg.log" -w -o "-k $DIR -c listen_addresses='' -c fsync=off" start \
  >/dev/null 2>&1 </dev/null || { cat "$DIR/pg.log"; fail "PostgreSQL did not start"; }
DB="host=$DIR user=postgres dbname=postgres"

start_collector() {  # prints the port
  local out=$DIR/collector$1.out
  # Runs in a command substitution: the pid files are how cleanup finds the collectors.
  "$COLLECTOR" --port 0 --test-mode --db "$DB" >"$out" 2>"$DIR/collector$1.err" </dev/null &
  echo $! >"$DIR/collector$1.pid"
  for _ in $(seq 100); do
    grep -q "listening on" "$out" 2>/dev/null && break
    sleep 0.1
  done
  grep -o '[0-9]*$' "$out" || { cat "$DIR/collector$1.err" >&2; fail "collector $1 did not start"; }
}
P1=$(start_collector 1)
P2=$(start_collector 2)

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout "$DIR/key.pem" -out "$DIR/cert.pem" \
  >/dev/null 2>&1 || fail "openssl"
# The shipped site with loopback addresses and the test's certificate; the port-80 redirect
# server and the IPv6 listeners left out.
started=
for _ in 1 2 3 4 5; do
  PORT=$((20000 + RANDOM % 30000))
  sed -e "s#server 127.0.0.1:8481#server 127.0.0.1:$P1#; s#server 127.0.0.1:8482#server 127.0.0.1:$P2#" \
      -e "s#listen 443 ssl http2;#listen 127.0.0.1:$PORT ssl http2;#" -e '/listen \[::\]/d' \
      -e "s#/etc/ssl/certs/collector.example.org.pem#$DIR/cert.pem#; s#/etc/ssl/private/collector.example.org.key#$DIR/key.pem#" \
      "$SITE" | awk 'BEGIN { RS = ""; ORS = "\n\n" } !/return 308/' >"$DIR/site.conf"
  USER_LINE=""
  [ "$(id -u)" -eq 0 ] && USER_LINE="user nobody nogroup;"
  cat >"$DIR/nginx.conf" <<EOF
$USER_LINE
pid $DIR/nginx.pid;
error_log $DIR/nginx-error.log;
events {}
http {
  access_log off;
  client_body_temp_path $DIR/body; proxy_temp_path $DIR/proxy; fastcgi_temp_path $DIR/fcgi;
  uwsgi_temp_path $DIR/uwsgi; scgi_temp_path $DIR/scgi;
  include $DIR/site.conf;
}
EOF
  if "$NGINX" -c "$DIR/nginx.conf" -p "$DIR" 2>"$DIR/nginx-start.log"; then started=1; break; fi
done
[ -n "$started" ] || { cat "$DIR/nginx-start.log" "$DIR/site.conf"; fail "nginx did not start"; }
for _ in $(seq 50); do [ -s "$DIR/nginx.pid" ] && break; sleep 0.1; done

PROXY="https://127.0.0.1:$PORT"
ENVELOPE='{"ak":"app","tm":"1796700000","ac":"submit","pro":"5.2.0","ty":"1"}'
crash() {  # $1: reason
  curl -sk -o "$DIR/answer" -w '%{http_code}' -X POST "$PROXY/cpi/crash" -H "UPLOAD-JSON: $ENVELOPE" \
    -d '{"dei":{"und":"d1","av":"1.0","ov":"12"},"data":{"name":"std::out_of_range","et":"'"$1"'\n0   demo                                0x0000000000001234 0x0000000000001234 main + 4","tm":"1796700000"}}'
}
[ "$(crash "index 5 beyond")" = 200 ] || fail "crash through the proxy: $(cat "$DIR/answer")"
for p in "$P1" "$P2"; do
  curl -s "http://127.0.0.1:$p/_collector/records" | grep -q 'index 5 beyond' || fail "collector on $p lacks the crash"
done

# A screenshot uploaded through the proxy comes back, through it and from either collector.
printf '\377\330\377\340 jpeg \000\001' >"$DIR/shot.jpg"
AK=7d2f19ebquake35porchd461a08c27f5
SIG=$(printf '%s' "apikey=${AK}op=Ctfile.uploadsuffix=jpgtag=sdk_iostimestamp=1700000000uid=60K3TRVQW9PLMZ2XH7" | md5sum | cut -d' ' -f1)
UP=$(curl -sk -X POST "$PROXY/fs.action" --data-binary "@$DIR/shot.jpg" \
  -H "UPLOAD-JSON: {\"apikey\":$AK,\"op\":Ctfile.upload,\"suffix\":jpg,\"tag\":sdk_ios,\"timestamp\":1700000000,\"uid\":60,\"sig\":$SIG}")
ID=$(printf '%s' "$UP" | grep -o '"fileid":[0-9]*' | cut -d: -f2)
[ -n "$ID" ] || fail "screenshot upload: $UP"
for url in "$PROXY" "http://127.0.0.1:$P1" "http://127.0.0.1:$P2"; do
  curl -sk "$url/_collector/files/$ID.jpg" -o "$DIR/back.jpg"
  cmp -s "$DIR/shot.jpg" "$DIR/back.jpg" || { cat "$DIR/back.jpg"; fail "screenshot $ID from $url differs"; }
done

# Inspection and control stay closed to what comes through the proxy.
[ "$(curl -sk -o /dev/null -w '%{http_code}' "$PROXY/_collector/records")" = 403 ] || fail "/_collector/ open through the proxy"

# One collector gone: the proxy sends to the other.
kill -9 "$(cat "$DIR/collector1.pid")"
for i in 1 2 3 4; do
  [ "$(crash "after kill $i")" = 200 ] || fail "crash $i with one collector killed: $(cat "$DIR/answer")"
done
N=$(curl -s "http://127.0.0.1:$P2/_collector/records" | grep -o '"reason":"after kill' | wc -l)
[ "$N" = 4 ] || fail "expected 4 reports after the kill, found $N"
echo "collector-proxy: two collectors behind nginx on port $PORT: ok"
