#!/usr/bin/env bash
# Requests per second of torvane serve beside nginx, in one run on this machine:
# a trivial page and a static file (Torvane), the same static file (nginx), each
# with 1 and 16 concurrent clients (wrk, keep-alive). Usage: server.sh BUILD_DIR
# Environment: BENCH_SECONDS (default 5) per measurement.
set -uo pipefail
build=$(cd "${1:-build-bench}" && pwd)
torvane="$build/torvane"
seconds="${BENCH_SECONDS:-5}"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bench_need server.sh wrk nginx curl
bench_built server.sh "$torvane"

bench_scratch bench

site="$tmp/site"
mkdir -p "$site"
chmod 755 "$site"
printf '<%%@ Language="JScript" %%>\n<html><body>Hello <%%= 6 * 7 %%></body></html>\n' > "$site/trivial.asp"
head -c 1024 /dev/zero | tr '\0' 'x' > "$site/static.html"
chmod 644 "$site"/*

# torvane serve, one I/O thread (as nginx's single worker below).
: > "$tmp/torvane.log"
"$torvane" serve --root "$site" --listen 127.0.0.1:0 > "$tmp/torvane.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
  tport=$(sed -n 's#^torvane: serving .* on http://127\.0\.0\.1:\([0-9]*\)/$#\1#p' "$tmp/torvane.log")
  [ -n "$tport" ] && break
  sleep 0.1
done
[ -n "${tport:-}" ] || { echo "torvane serve did not start" >&2; cat "$tmp/torvane.log" >&2; exit 1; }

# nginx with one worker process, no access log, same folder, on a free port
# (a random one; another is tried when it is taken).
start_nginx() {
  local port="$1"
  mkdir -p "$tmp/nginx"
  cat > "$tmp/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $tmp/nginx/body;
  proxy_temp_path $tmp/nginx/proxy;
  fastcgi_temp_path $tmp/nginx/fastcgi;
  uwsgi_temp_path $tmp/nginx/uwsgi;
  scgi_temp_path $tmp/nginx/scgi;
  types { text/html html; }
  server { listen 127.0.0.1:$port; root $site; }
}
CONF
  nginx -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" > "$tmp/nginx/out.log" 2>&1 &
  local pid=$!
  for _ in $(seq 1 50); do
    curl -s -o /dev/null "http://127.0.0.1:$port/static.html" && { pids+=("$pid"); return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  kill "$pid" 2>/dev/null
  return 1
}
nport=""
for _ in $(seq 1 10); do
  candidate=$((20000 + RANDOM % 40000))
  if start_nginx "$candidate"; then nport=$candidate; break; fi
done
[ -n "$nport" ] || { echo "server.sh: nginx did not start" >&2; cat "$tmp/nginx/out.log" "$tmp/nginx/error.log" >&2; exit 1; }

for url in "http://127.0.0.1:$tport/trivial.asp" "http://127.0.0.1:$tport/static.html" "http://127.0.0.1:$nport/static.html"; do
  curl -sf -o /dev/null "$url" || { echo "server.sh: $url does not answer" >&2; exit 1; }
done

rate() {  # rate CONNECTIONS URL -> requests per second
  local c="$1" url="$2" threads=1
  [ "$c" -gt 1 ] && threads=2
  wrk -t"$threads" -c"$c" -d"${seconds}s" "$url" 2>/dev/null | sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; $seconds s per measurement"
printf '| server | resource | 1 client req/s | 16 clients req/s |\n|---|---|---|---|\n'
printf '| torvane | trivial page (trivial.asp) | %s | %s |\n' "$(rate 1 "http://127.0.0.1:$tport/trivial.asp")" "$(rate 16 "http://127.0.0.1:$tport/trivial.asp")"
printf '| torvane | static file (1 KiB) | %s | %s |\n' "$(rate 1 "http://127.0.0.1:$tport/static.html")" "$(rate 16 "http://127.0.0.1:$tport/static.html")"
printf '| nginx %s | static file (1 KiB) | %s | %s |\n' "$(nginx -v 2>&1 | sed 's#.*/##')" "$(rate 1 "http://127.0.0.1:$nport/static.html")" "$(rate 16 "http://127.0.0.1:$nport/static.html")"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# Memory while a page reads a 1 GiB upload (BinaryRead in 64 KiB and in 1 KiB pieces).
printf '%s' '<% var n = 0, b; while ((b = Request.BinaryRead(65536)).length) n += b.length; %>n=<%= n %>' > "$site/read64k.asp"
printf '%s' '<% var n = 0, b; while ((b = Request.BinaryRead(1024)).length) n += b.length; %>n=<%= n %>' > "$site/read1k.asp"
head -c 1073741824 /dev/zero > "$tmp/upload.bin"
tpid=${pids[0]}
echo
printf '| 1 GiB upload read by a page | time | server RSS before | peak server RSS |\n|---|---|---|---|\n'
for page in read64k read1k; do
  before=$(ps -o rss= -p "$tpid" | tr -d ' ')
  ( while kill -0 "$tpid" 2>/dev/null; do ps -o rss= -p "$tpid"; sleep 0.1; done > "$tmp/rss.$page" ) &
  sampler=$!
  start=$(date +%s.%N)
  answer=$(curl -s -X POST -T "$tmp/upload.bin" "http://127.0.0.1:$tport/$page.asp")
  end=$(date +%s.%N)
  kill "$sampler" 2>/dev/null; wait "$sampler" 2>/dev/null
  [ "$answer" = "n=1073741824" ] || echo "server.sh: $page answered [$answer]" >&2
  peak=$(sort -n "$tmp/rss.$page" | tail -n1 | tr -d ' ')
  printf '| BinaryRead(%s) loop | %.2f s | %s KiB | %s KiB |\n' "${page#read}" "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" "$before" "$peak"
done
rm -f "$tmp/upload.bin"
