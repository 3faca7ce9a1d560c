#!/usr/bin/env bash
# Requests per second of a trivial page with and without Session (memory
# store), in one run of torvane serve: the page alone; the page reading and
# writing one session value for a client that keeps its cookie (one session);
# the same page for clients that send no cookie (a new session per request).
# wrk, keep-alive, 1 and 16 connections. Usage: session.sh BUILD_DIR
# Environment: BENCH_SECONDS (default 5) per measurement.
set -uo pipefail
build=$(cd "${1:-build-bench}" && pwd)
torvane="$build/torvane"
seconds="${BENCH_SECONDS:-5}"
for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "session.sh: $tool is missing (make deps installs it)" >&2; exit 1; }
done
[ -x "$torvane" ] || { echo "session.sh: $torvane not built" >&2; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/torvane-bench.XXXXXX")
pid=""
cleanup() {
  [ -n "$pid" ] && { kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
  rm -rf "$tmp"
}
trap cleanup EXIT

site="$tmp/site"
mkdir -p "$site"
printf '<html><body>Hello <%%= 6 * 7 %%></body></html>\n' > "$site/plain.asp"
printf '<%% var n = (Session("n") || 0) + 1; Session.SetValue("n", n); %%><html><body>Hello <%%= n %%></body></html>\n' \
  > "$site/session.asp"

"$torvane" serve --root "$site" --listen 127.0.0.1:0 > "$tmp/torvane.log" 2>&1 &
pid=$!
for _ in $(seq 1 100); do
  port=$(sed -n 's#^torvane: serving .* on http://127\.0\.0\.1:\([0-9]*\)/$#\1#p' "$tmp/torvane.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "${port:-}" ] || { echo "torvane serve did not start" >&2; cat "$tmp/torvane.log" >&2; exit 1; }
url="http://127.0.0.1:$port"
cookie=$(curl -s -D - -o /dev/null "$url/session.asp" | tr -d '\r' | sed -n 's/^Set-Cookie: \([^;]*\);.*/\1/p')
[ -n "$cookie" ] || { echo "session.sh: no session cookie" >&2; exit 1; }

rate() {  # rate CONNECTIONS URL [wrk options] -> requests per second
  local c="$1" u="$2"
  shift 2
  local threads=$((c < 2 ? 1 : 2))
  wrk -t"$threads" -c"$c" -d"${seconds}s" "$@" "$u" 2>/dev/null | sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '| page | 1 connection | 16 connections |\n|---|---|---|\n'
printf '| no session | %s | %s |\n' "$(rate 1 "$url/plain.asp")" "$(rate 16 "$url/plain.asp")"
printf '| Session, one session (cookie kept) | %s | %s |\n' \
  "$(rate 1 "$url/session.asp" -H "Cookie: $cookie")" "$(rate 16 "$url/session.asp" -H "Cookie: $cookie")"
printf '| Session, a new session per request | %s | %s |\n' "$(rate 1 "$url/session.asp")" "$(rate 16 "$url/session.asp")"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "value after the cookie runs: $(curl -s -H "Cookie: $cookie" "$url/session.asp")"
