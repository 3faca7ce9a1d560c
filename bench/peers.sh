#!/usr/bin/env bash
# Torvane beside its peers, each pair measured in the same run on this machine,
# every ratio printed (torvane / peer; above 1 is faster):
#   page      trivial page: torvane vs PHP-FPM behind nginx (as many static PHP
#             children as torvane has workers), wrk 2 threads 16 connections,
#             median of PEERS_RUNS runs
#   include   a page that includes a 200-line file of helpers and creates one
#             object: torvane (bench/peers/helpers.inc, Server.CreateObject of
#             Torvane.File) vs PHP-FPM (bench/peers/helpers.php through
#             require, one SplFileInfo), wrk as for the trivial page
#   static    6-byte file (wrk, as above) and 1 GiB file (curl) vs nginx
#   download  1 GiB through File.Download vs the same file from nginx (curl)
#   upload    curl -F of PEERS_UPLOAD_MIB MiB: torvane Post.Upload vs nginx
#             receive-and-discard, and vs busboy, Go net/http and Werkzeug
#             upload servers (all writing the file to the same folder)
#   parser    the record parser in-process (parser_bench, 256 MiB random file
#             part) vs busboy fed the same kind of body in 64 KiB chunks
#   curves    requests per second at 1, 4, 16, 64 clients: trivial page
#             (torvane, PHP-FPM) and 64 KiB uploads (torvane, Go net/http),
#             with the CPU time per upload of each server and of wrk
# Every server is started here on a free loopback port and stopped by its pid.
# Usage: peers.sh BUILD_DIR
# Environment: PEERS_SECTIONS (comma list, default all), PEERS_SECONDS (5),
# PEERS_RUNS (3), PEERS_UPLOAD_MIB (512), PEERS_BIG_MIB (1024), PEERS_WORKERS (16).
set -uo pipefail
build=$(cd "${1:-build-bench}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
torvane="$build/torvane"
seconds=${PEERS_SECONDS:-5}
runs=${PEERS_RUNS:-3}
upload_mib=${PEERS_UPLOAD_MIB:-512}
big_mib=${PEERS_BIG_MIB:-1024}
workers=${PEERS_WORKERS:-16}
sections=",${PEERS_SECTIONS:-page,include,static,download,upload,parser,curves},"
want() { [[ "$sections" == *",$1,"* ]]; }

source "$here/lib.sh"
php_fpm=$(command -v php-fpm8.2 || command -v php-fpm || true)
missing=()
for tool in wrk nginx curl go node npm; do command -v "$tool" >/dev/null || missing+=("$tool"); done
[ -n "$php_fpm" ] || missing+=(php-fpm)
/usr/bin/python3 -c 'import werkzeug' 2>/dev/null || missing+=(python3-werkzeug)
[ -x "$torvane" ] || missing+=("$torvane")
if [ ${#missing[@]} -gt 0 ]; then
  echo "peers.sh: missing ${missing[*]} (scripts/install-deps.sh bench installs them)" >&2
  exit 1
fi

# Everything lives in memory (tmpfs): the peers read and write the page cache,
# the disk takes no part.
base=/dev/shm
[ -d "$base" ] || base=${TMPDIR:-/tmp}
bench_scratch peers "$base"

# wait_http URL: until it answers (at most 20 s).
wait_http() {
  for _ in $(seq 1 200); do curl -s -o /dev/null --max-time 1 "$1" && return 0; sleep 0.1; done
  echo "peers.sh: $1 does not answer" >&2
  return 1
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
mb() { awk -v r="$1" 'BEGIN { printf "%.0f", r / 1e6 }'; }

# ---- the site and the servers -----------------------------------------------
site="$tmp/site"
mkdir -p "$site" "$tmp/up"
for peer in torvane busboy go werkzeug; do mkdir -p "$tmp/up/$peer"; done
printf '<%% Response.Write("hello " + Request.QueryString("n")) %%>' > "$site/trivial.asp"
printf '<?php echo "hello " . ($_GET["n"] ?? "");\n' > "$site/trivial.php"
printf 'hello\n' > "$site/tiny.txt"
# The same page with a 200-line include of helpers and one object: Torvane's
# file object beside PHP's own (SplFileInfo), each made and left unused.
cp "$here/peers/helpers.inc" "$here/peers/helpers.php" "$site/"
printf '<!-- #include file="helpers.inc" --><%% var file = Server.CreateObject("Torvane.File");\nResponse.Write(Greeting(Request.QueryString("n"))); %%>' > "$site/include.asp"
printf '<?php require __DIR__ . "/helpers.php";\n$file = new SplFileInfo(__FILE__);\necho greeting($_GET["n"] ?? "");\n' > "$site/include.php"
cat > "$site/download.asp" <<'PAGE'
<% var f = Server.CreateObject("Torvane.File"); f.Name = Server.MapPath("big.bin"); f.Download("application/octet-stream"); %>
PAGE
cat > "$site/up.asp" <<PAGE
<% var post = Server.CreateObject("Torvane.Post");
post.Upload("C:" + "$tmp/up/torvane".replace(/\//g, "\\\\"), TV_UPLOAD_OVERWRITE);
Response.Write(post.FormInputs("f").File.Size); %>
PAGE
# 64 KiB uploads at any concurrency: each stored under a name of its own, then deleted.
cat > "$site/up64.asp" <<PAGE
<% var post = Server.CreateObject("Torvane.Post");
post.Upload("C:" + "$tmp/up/torvane".replace(/\//g, "\\\\"));
var f = post.FormInputs("f").File; Response.Write(f.Size); f.Delete(); %>
PAGE
chmod -R a+rX "$site"
if want static || want download; then head -c $((big_mib * 1024 * 1024)) /dev/urandom > "$site/big.bin"; fi
if want upload; then head -c $((upload_mib * 1024 * 1024)) /dev/urandom > "$tmp/upload.bin"; fi

tport=$(free_port)
cat > "$tmp/torvane.conf" <<CONF
listen = 127.0.0.1:$tport
workers = $workers
io_threads = 2
max_request_bytes = 4G
CONF
"$torvane" serve --root "$site" --config "$tmp/torvane.conf" > "$tmp/torvane.log" 2>&1 &
tpid=$!
pids+=("$tpid")
T="http://127.0.0.1:$tport"
wait_http "$T/tiny.txt" || exit 1

# PHP-FPM: static pool of $workers children on a Unix socket.
mkdir -p "$tmp/php"
cat > "$tmp/php/fpm.conf" <<CONF
[global]
error_log = $tmp/php/error.log
daemonize = no
[www]
user = $(id -un)
group = $(id -gn)
listen = $tmp/php/fpm.sock
listen.mode = 0666
pm = static
pm.max_children = $workers
CONF
"$php_fpm" -R -F -y "$tmp/php/fpm.conf" -p "$tmp/php" > "$tmp/php/out.log" 2>&1 &
pids+=($!)

# nginx: 2 workers (one per core), sendfile, no access log; PHP through
# FastCGI; /discard reads a request body and drops it.
nport=$(free_port)
mkdir -p "$tmp/nginx"
cat > "$tmp/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $tmp/nginx/body;
  proxy_temp_path $tmp/nginx/proxy;
  fastcgi_temp_path $tmp/nginx/fastcgi;
  uwsgi_temp_path $tmp/nginx/uwsgi;
  scgi_temp_path $tmp/nginx/scgi;
  types { text/plain txt; application/octet-stream bin; }
  server {
    listen 127.0.0.1:$nport;
    root $site;
    client_max_body_size 0;
    location ~ \.php\$ {
      fastcgi_pass unix:$tmp/php/fpm.sock;
      fastcgi_param SCRIPT_FILENAME \$document_root\$fastcgi_script_name;
      fastcgi_param QUERY_STRING \$query_string;
      fastcgi_param REQUEST_METHOD \$request_method;
    }
    location = /discard { return 200 "ok\n"; }
  }
}
CONF
nginx -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" > "$tmp/nginx/out.log" 2>&1 &
pids+=($!)
N="http://127.0.0.1:$nport"
wait_http "$N/tiny.txt" || exit 1
for url in "$T/trivial.asp?n=1" "$N/trivial.php?n=1" "$T/include.asp?n=1" "$N/include.php?n=1"; do
  # (the line end after the include's closing %> is page output)
  got=$(curl -s "$url"); got=${got#$'\n'}; [ "$got" = "hello 1" ] || { echo "peers.sh: $url answered [$got], not hello 1" >&2; cat "$tmp/php/"*.log "$tmp/nginx/error.log" >&2; exit 1; }
done

# The upload libraries.
node_modules="$build/bench-peers/node_modules"
if want upload || want parser; then
  if [ ! -d "$node_modules/busboy" ]; then
    mkdir -p "$build/bench-peers"
    cp "$here/peers/package.json" "$build/bench-peers/"
    (cd "$build/bench-peers" && npm install --no-audit --no-fund --silent) || { echo "peers.sh: npm install busboy failed" >&2; exit 1; }
  fi
fi
gport=""
if want upload || want curves; then
  (cd "$here/peers" && GOCACHE="$build/bench-peers/gocache" GOFLAGS=-mod=mod go build -o "$build/bench-peers/go_upload" go_upload.go) ||
    { echo "peers.sh: go build failed" >&2; exit 1; }
  gport=$(free_port)
  "$build/bench-peers/go_upload" "$gport" "$tmp/up/go" > "$tmp/go.log" 2>&1 &
  gpid=$!
  pids+=("$gpid")
  wait_http "http://127.0.0.1:$gport/" || exit 1
fi

echo "peers.sh $(date -u '+%Y-%m-%d %H:%M UTC'); load average $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores"
echo "torvane: workers $workers, io_threads 2; $(nginx -v 2>&1 | sed 's#.*: ##'), 2 workers; $("$php_fpm" -v | head -n1 | cut -d' ' -f1-2), $workers static children"
echo "wrk: $seconds s per measurement, median of $runs runs taken in turns with the peers"

# interleaved COMMAND... -> the median of each command's runs, one line each,
# in order. The commands take turns (one run of each per round), so a change
# in the machine's load while a table is measured falls on every column alike
# instead of on whichever ran in that minute. Each round starts one command
# further on, so no command always runs right after the same neighbour, and
# the disk is settled (sync) between runs, so the writes one upload server
# leaves in flight are not paid by the next run. A COMMAND is one run's
# command line; it prints one figure.
interleaved() {
  local r i k n=$#
  local -a cmds=("$@")
  local dir
  dir=$(mktemp -d "$tmp/runs.XXXXXX")
  for r in $(seq 1 "$runs"); do
    for ((k = 0; k < n; k++)); do
      i=$(((k + r - 1) % n))
      sync
      eval "${cmds[$i]}" >> "$dir/$i"
    done
  done
  for ((i = 0; i < n; i++)); do median < "$dir/$i"; done
}
# rps CONNECTIONS URL [LUA] -> requests per second of one wrk run.
rps() {
  local c=$1 url=$2 lua=${3:-} threads=2
  [ "$c" -lt 2 ] && threads=1
  wrk -t"$threads" -c"$c" -d"${seconds}s" ${lua:+-s "$lua"} "$url" 2>/dev/null | sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p'
}
# rps_cost TAG PID CONNECTIONS URL LUA -> requests per second of one wrk run,
# as rps; also appends to $tmp/cost.TAG the CPU microseconds per request that
# the server (PID) and wrk spent in the run. On two cores shared with the load
# generator, a fall in requests per second can be the server's cost growing
# or wrk's: these two figures tell which.
rps_cost() {
  local tag=$1 pid=$2 before after out
  before=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
  # `times` in the substitution's own shell: its last line is the CPU time of
  # that shell's children, wrk's ("0m1.230s 0m2.340s", user and system).
  out=$(rps "$3" "$4" "$5"; times)
  after=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
  tail -n1 <<<"$out" | awk -v rps="$(head -n1 <<<"$out")" -v ticks=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$seconds" '{
    split($1, u, /[ms]/); split($2, y, /[ms]/)
    n = rps * s
    if (n > 0) printf "%.0f %.0f\n", ticks / hz * 1e6 / n, (u[1] * 60 + u[2] + y[1] * 60 + y[2]) * 1e6 / n
  }' >> "$tmp/cost.$tag"
  head -n1 <<<"$out"
}
# download URL -> bytes per second of one curl download.
download() { curl -s -o /dev/null -w '%{speed_download}\n' "$1"; }
# cmd WORD... -> the words as one command line for interleaved.
cmd() { printf '%q ' "$@"; }

# page_road TITLE ROW NAME: torvane's NAME.asp beside PHP's NAME.php, 16 connections.
page_road() {
  local t p
  echo
  echo "## $1, 16 connections"
  { read -r t; read -r p; } < <(interleaved "$(cmd rps 16 "$T/$3.asp?n=1")" "$(cmd rps 16 "$N/$3.php?n=1")")
  printf '| road | torvane req/s | PHP-FPM behind nginx req/s | ratio |\n|---|---|---|---|\n'
  printf '| %s | %.0f | %.0f | %s |\n' "$2" "$t" "$p" "$(ratio "$t" "$p")"
}
if want page; then page_road "trivial page" "trivial page" trivial; fi
if want include; then page_road "page with a 200-line include and one object" "include + one object" include; fi

if want static; then
  echo
  echo "## static files"
  { read -r t; read -r n; } < <(interleaved "$(cmd rps 16 "$T/tiny.txt")" "$(cmd rps 16 "$N/tiny.txt")")
  printf '| road | torvane | nginx | ratio |\n|---|---|---|---|\n'
  printf '| 6-byte file, 16 connections | %.0f req/s | %.0f req/s | %s |\n' "$t" "$n" "$(ratio "$t" "$n")"
  { read -r t; read -r n; } < <(interleaved "$(cmd download "$T/big.bin")" "$(cmd download "$N/big.bin")")
  printf '| %d MiB file, 1 client | %s MB/s | %s MB/s | %s |\n' "$big_mib" "$(mb "$t")" "$(mb "$n")" "$(ratio "$t" "$n")"
fi

if want download; then
  echo
  echo "## download"
  [ "$(curl -s "$T/download.asp" | md5sum)" = "$(md5sum < "$site/big.bin")" ] || echo "peers.sh: download.asp did not send the file" >&2
  { read -r t; read -r n; } < <(interleaved "$(cmd download "$T/download.asp")" "$(cmd download "$N/big.bin")")
  printf '| road | torvane File.Download | nginx | ratio |\n|---|---|---|---|\n'
  printf '| %d MiB file | %s MB/s | %s MB/s | %s |\n' "$big_mib" "$(mb "$t")" "$(mb "$n")" "$(ratio "$t" "$n")"
fi

if want upload; then
  echo
  echo "## upload, curl -F of $upload_mib MiB"
  wport=$(free_port)
  /usr/bin/python3 "$here/peers/werkzeug_upload.py" "$wport" "$tmp/up/werkzeug" > "$tmp/werkzeug.log" 2>&1 &
  pids+=($!)
  bport=$(free_port)
  NODE_PATH="$node_modules" node "$here/peers/busboy_upload.js" "$bport" "$tmp/up/busboy" > "$tmp/busboy.log" 2>&1 &
  pids+=($!)
  wait_http "http://127.0.0.1:$wport/" && wait_http "http://127.0.0.1:$bport/" 2>/dev/null
  bytes=$(stat -c %s "$tmp/upload.bin")
  # upload NAME URL -> bytes per second of one upload; checks what the
  # server says it stored.
  upload() {
    local name=$1 url=$2 out
    out=$(curl -s -H 'Expect:' -F "f=@$tmp/upload.bin;filename=upload.bin" -w ' %{size_upload} %{speed_upload}' "$url" | tr -d '\r\n')
    # The whole body must have gone out (a server answering early could cut it).
    [ "$(cut -d' ' -f2 <<<"$out")" -gt "$bytes" ] || echo "peers.sh: curl sent only $(cut -d' ' -f2 <<<"$out") bytes to $name" >&2
    case "$name" in nginx) ;; *) [ "${out%% *}" = "$bytes" ] || echo "peers.sh: $name stored [${out%% *}] of $bytes bytes" >&2 ;; esac
    echo "${out##* }"
    rm -f "$tmp/up/$name/upload.bin"
  }
  { read -r t; read -r n; read -r g; read -r b; read -r w; } < <(interleaved "$(cmd upload torvane "$T/up.asp")" \
    "$(cmd upload nginx "$N/discard")" "$(cmd upload go "http://127.0.0.1:$gport/")" \
    "$(cmd upload busboy "http://127.0.0.1:$bport/")" "$(cmd upload werkzeug "http://127.0.0.1:$wport/")")
  best=$(printf '%s\n' "$g" "$b" "$w" | sort -g | tail -n1)
  printf '| peer | MB/s | torvane (%s MB/s) / peer |\n|---|---|---|\n' "$(mb "$t")"
  printf '| nginx receive-and-discard | %s | %s |\n' "$(mb "$n")" "$(ratio "$t" "$n")"
  printf '| Go %s net/http | %s | %s |\n' "$(go version | cut -d' ' -f3 | sed 's/^go//')" "$(mb "$g")" "$(ratio "$t" "$g")"
  printf '| busboy 1.6 (Node %s) | %s | %s |\n' "$(node -v)" "$(mb "$b")" "$(ratio "$t" "$b")"
  printf '| Werkzeug %s | %s | %s |\n' "$(/usr/bin/python3 -c 'import importlib.metadata as m; print(m.version("werkzeug"))')" "$(mb "$w")" "$(ratio "$t" "$w")"
  printf '| best upload library | %s | %s |\n' "$(mb "$best")" "$(ratio "$t" "$best")"
fi

if want parser; then
  echo
  echo "## record parser in-process, 256 MiB random file part"
  # parser_gbps NAME -> the median GB/s of parser_bench's case NAME.
  parser_gbps() {
    "$build/parser_bench" --benchmark_filter="$1/268435456" --benchmark_repetitions="$runs" --benchmark_format=json 2>/dev/null |
      /usr/bin/python3 -c 'import json,sys; r=[b["bytes_per_second"] for b in json.load(sys.stdin)["benchmarks"] if b.get("run_type")=="iteration"]; r.sort(); print(r[len(r)//2] / 1e9)'
  }
  # busboy is fed 64 KiB chunks, so the parser is fed 64 KiB host reads (as
  # the web server hands the body over); the 1 KiB host is shown beside.
  tp=$(parser_gbps 'BM_RandomFileServerReads')
  tc=$(parser_gbps 'BM_RandomFile')
  bb=$(NODE_PATH="$node_modules" node "$here/peers/busboy_parse.js" 256 "$runs")
  bm=$(sed -n 's/.*median \([0-9.]*\) GB\/s.*/\1/p' <<<"$bb")
  printf '| parser | GB/s |\n|---|---|\n'
  printf '| torvane RecordParser, 64 KiB host reads (median) | %.2f |\n' "$tp"
  printf '| torvane RecordParser, 1 KiB host reads (median) | %.2f |\n' "$tc"
  printf '| %s |\n' "$bb"
  printf 'ratio (64 KiB reads / busboy median): %s\n' "$(ratio "$tp" "$bm")"
fi

if want curves; then
  echo
  echo "## concurrency curves (req/s)"
  boundary=TorvaneBenchBoundary64k
  cat > "$tmp/up64.lua" <<LUA
wrk.method = "POST"
wrk.headers["Content-Type"] = "multipart/form-data; boundary=$boundary"
wrk.body = "--$boundary\r\nContent-Disposition: form-data; name=\"f\"; filename=\"u.bin\"\r\n" ..
  "Content-Type: application/octet-stream\r\n\r\n" .. string.rep("x", 65536) .. "\r\n--$boundary--\r\n"
LUA
  [ "$(wrk -t1 -c1 -d1s -s "$tmp/up64.lua" "$T/up64.asp" 2>/dev/null | grep -c 'Non-2xx')" = 0 ] || echo "peers.sh: up64.asp failed" >&2
  printf '| clients | torvane page | PHP-FPM page | ratio | torvane 64 KiB upload | Go 64 KiB upload | ratio |\n|---|---|---|---|---|---|---|\n'
  # Every point of both curves is measured in each round, so the curves'
  # shapes do not follow the machine's load from one minute to the next.
  levels=(1 4 16 64)
  points=()
  for c in "${levels[@]}"; do
    points+=("$(cmd rps "$c" "$T/trivial.asp?n=1")" "$(cmd rps "$c" "$N/trivial.php?n=1")"
             "$(cmd rps_cost "t$c" "$tpid" "$c" "$T/up64.asp" "$tmp/up64.lua")"
             "$(cmd rps_cost "g$c" "$gpid" "$c" "http://127.0.0.1:$gport/" "$tmp/up64.lua")")
  done
  mapfile -t figures < <(interleaved "${points[@]}")
  for i in "${!levels[@]}"; do
    tp=${figures[$((4 * i))]} pp=${figures[$((4 * i + 1))]} tu=${figures[$((4 * i + 2))]} gu=${figures[$((4 * i + 3))]}
    printf '| %d | %.0f | %.0f | %s | %.0f | %.0f | %s |\n' "${levels[$i]}" "$tp" "$pp" "$(ratio "$tp" "$pp")" "$tu" "$gu" "$(ratio "$tu" "$gu")"
  done
  echo
  echo "CPU microseconds per 64 KiB upload (medians of the same runs): the server's own, and the load generator's (wrk) beside it"
  printf '| clients | torvane | wrk against torvane | Go | wrk against Go |\n|---|---|---|---|---|\n'
  cost() { cut -d' ' -f"$2" "$tmp/cost.$1" | median; }
  for c in "${levels[@]}"; do
    printf '| %d | %.0f | %.0f | %.0f | %.0f |\n' "$c" "$(cost "t$c" 1)" "$(cost "t$c" 2)" "$(cost "g$c" 1)" "$(cost "g$c" 2)"
  done
fi
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
