#!/usr/bin/env bash
# Requests per second of a trivial page with and without Session, with the
# memory state store and with Redis (state_store = redis://...): the page
# alone; the page reading and writing one session value for a client that
# keeps its cookie (one session); the same page for clients that send no
# cookie (a new session per request). wrk, keep-alive, 1 and 16 connections.
# Usage: session.sh BUILD_DIR. Environment: BENCH_SECONDS (default 5) per
# measurement. Redis rows need redis-server (scripts/install-deps.sh).
set -uo pipefail
build=$(cd "${1:-build-bench}" && pwd)
torvane="$build/torvane"
seconds="${BENCH_SECONDS:-5}"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bench_need session.sh wrk curl python3
bench_built session.sh "$torvane"

bench_scratch bench

site="$tmp/site"
mkdir -p "$site"
printf '<html><body>Hello <%%= 6 * 7 %%></body></html>\n' > "$site/plain.asp"
printf '<%% var n = (Session("n") || 0) + 1; Session.SetValue("n", n); %%><html><body>Hello <%%= n %%></body></html>\n' \
  > "$site/session.asp"


# serve CONFIG_TEXT -> sets url
serve() {
  local log="$tmp/torvane.${#pids[@]}.log" conf="$tmp/torvane.${#pids[@]}.conf" port=""
  printf '%s\n' "$1" > "$conf"
  "$torvane" serve --root "$site" --config "$conf" --listen 127.0.0.1:0 > "$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do
    port=$(sed -n 's#^torvane: serving .* on http://127\.0\.0\.1:\([0-9]*\)/$#\1#p' "$log")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "torvane serve did not start" >&2; cat "$log" >&2; exit 1; }
  url="http://127.0.0.1:$port"
}

rate() {  # rate CONNECTIONS URL [wrk options] -> requests per second
  local c="$1" u="$2"
  shift 2
  local threads=$((c < 2 ? 1 : 2))
  wrk -t"$threads" -c"$c" -d"${seconds}s" "$@" "$u" 2>/dev/null | sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p'
}

rows() {  # rows STORE-LABEL
  local cookie
  cookie=$(curl -s -D - -o /dev/null "$url/session.asp" | tr -d '\r' | sed -n 's/^Set-Cookie: \([^;]*\);.*/\1/p')
  [ -n "$cookie" ] || { echo "session.sh: no session cookie ($1)" >&2; exit 1; }
  printf '| %s | no session | %s | %s |\n' "$1" "$(rate 1 "$url/plain.asp")" "$(rate 16 "$url/plain.asp")"
  printf '| %s | Session, one session (cookie kept) | %s | %s |\n' "$1" \
    "$(rate 1 "$url/session.asp" -H "Cookie: $cookie")" "$(rate 16 "$url/session.asp" -H "Cookie: $cookie")"
  printf '| %s | Session, a new session per request | %s | %s |\n' "$1" \
    "$(rate 1 "$url/session.asp")" "$(rate 16 "$url/session.asp")"
  echo "value after the cookie runs ($1): $(curl -s -H "Cookie: $cookie" "$url/session.asp")" >&2
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '| store | page | 1 connection | 16 connections |\n|---|---|---|---|\n'
serve ""
rows memory
if command -v redis-server >/dev/null; then
  rport=$(free_port)
  redis-server --port "$rport" --bind 127.0.0.1 --save "" --appendonly no --dir "$tmp" > "$tmp/redis.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 50); do [ "$(redis-cli -p "$rport" ping 2>/dev/null)" = PONG ] && break; sleep 0.1; done
  serve "state_store = redis://127.0.0.1:$rport/0"
  rows redis
  echo "sessions in Redis afterwards: $(redis-cli -p "$rport" dbsize)" >&2
else
  echo "session.sh: redis-server is missing: no Redis rows" >&2
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
