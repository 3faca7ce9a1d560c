#!/usr/bin/env bash
# A 1 GiB file downloaded with curl on loopback: from `torvane serve` through the
# demo site's download.asp (File.Download, 15000-byte chunks), and from nginx
# serving the same file, in the same run, alternating, several rounds each.
# For reference, the same file sent by torvane serve as a static file (no page).
# Reports each rate, the ratio of the medians (target: Torvane >= 0.7 of
# nginx), and the torvane server's resident memory before, at its peak during
# and after the downloads (flat: the file is streamed, never held).
# Usage: download.sh BUILD_DIR [MiB]   Environment: DOWNLOAD_ROUNDS (default 5).
set -uo pipefail
build=$(cd "${1:-build-bench}" && pwd)
mib=${2:-1024}
rounds=${DOWNLOAD_ROUNDS:-5}
here=$(cd "$(dirname "$0")" && pwd)
torvane="$build/torvane"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bench_need download.sh nginx curl md5sum python3
bench_built download.sh "$torvane"

# The file lives in memory (tmpfs) so that both servers read it from the page
# cache and the disk takes no part.
base=/dev/shm
[ -d "$base" ] || base=${TMPDIR:-/tmp}
bench_scratch download "$base"
sampler=""
cleanup() {
  [ -n "$sampler" ] && kill "$sampler" 2>/dev/null && wait "$sampler" 2>/dev/null
  bench_cleanup
}
trap cleanup EXIT

site="$tmp/site"
cp -r "$here/../examples/site" "$site"
rm -rf "$site/.uploads"
mkdir -p "$site/.uploads"
chmod -R a+rX "$site"
file="$site/.uploads/big.bin"
head -c $((mib * 1024 * 1024)) /dev/urandom > "$file"
chmod 644 "$file"
bytes=$(stat -c %s "$file")
ln "$file" "$site/big.bin" 2>/dev/null || cp "$file" "$site/big.bin"


"$torvane" serve --root "$site" --listen 127.0.0.1:0 > "$tmp/torvane.log" 2>&1 &
tpid=$!
pids+=("$tpid")
tport=""
for _ in $(seq 1 100); do
  tport=$(sed -n 's#^torvane: serving .* on http://127\.0\.0\.1:\([0-9]*\)/$#\1#p' "$tmp/torvane.log")
  [ -n "$tport" ] && break
  sleep 0.1
done
[ -n "$tport" ] || { echo "torvane serve did not start" >&2; cat "$tmp/torvane.log" >&2; exit 1; }

# nginx as it is usually set up for files: one worker, sendfile on, no access log.
nport=$(free_port)
mkdir -p "$tmp/nginx"
cat > "$tmp/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $tmp/nginx/body;
  proxy_temp_path $tmp/nginx/proxy;
  fastcgi_temp_path $tmp/nginx/fastcgi;
  uwsgi_temp_path $tmp/nginx/uwsgi;
  scgi_temp_path $tmp/nginx/scgi;
  types { application/octet-stream bin; }
  server { listen 127.0.0.1:$nport; root $site/.uploads; }
}
CONF
nginx -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" > "$tmp/nginx/out.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do curl -s -o /dev/null -r 0-0 "http://127.0.0.1:$nport/big.bin" && break; sleep 0.1; done

turl="http://127.0.0.1:$tport/download.asp?name=big.bin"
nurl="http://127.0.0.1:$nport/big.bin"
surl="http://127.0.0.1:$tport/big.bin"

# Both answer with the whole file, byte for byte (checked once, not timed).
want=$(md5sum "$file" | cut -d' ' -f1)
for url in "$turl" "$nurl" "$surl"; do
  got=$(curl -s "$url" | md5sum | cut -d' ' -f1)
  [ "$got" = "$want" ] || { echo "download.sh: $url did not send the file" >&2; exit 1; }
done

rss() { awk '/^VmRSS:/ {print $2}' "/proc/$tpid/status"; }
rss_before=$(rss)
echo 0 > "$tmp/peak"
( peak=0
  while kill -0 "$tpid" 2>/dev/null; do
    r=$(rss); [ -n "$r" ] && [ "$r" -gt "$peak" ] && { peak=$r; echo "$peak" > "$tmp/peak"; }
    sleep 0.05
  done ) &
sampler=$!

rate() {  # rate URL -> bytes per second of one download to /dev/null
  curl -s -o /dev/null -w '%{speed_download}' "$1"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; file $bytes bytes on $(df --output=fstype "$file" | tail -n1); $rounds rounds"
trates=(); nrates=(); srates=()
for round in $(seq 1 "$rounds"); do
  t=$(rate "$turl"); n=$(rate "$nurl"); st=$(rate "$surl")
  trates+=("$t"); nrates+=("$n"); srates+=("$st")
  awk -v r="$round" -v t="$t" -v n="$n" -v s="$st" \
    'BEGIN { printf "round %d: torvane File.Download %.0f MB/s, nginx %.0f MB/s, torvane static %.0f MB/s\n", r, t / 1e6, n / 1e6, s / 1e6 }'
done
kill "$sampler" 2>/dev/null; wait "$sampler" 2>/dev/null; sampler=""
rss_peak=$(cat "$tmp/peak")
sleep 0.5
rss_after=$(rss)

tmed=$(printf '%s\n' "${trates[@]}" | median)
nmed=$(printf '%s\n' "${nrates[@]}" | median)
smed=$(printf '%s\n' "${srates[@]}" | median)
nginx_version=$(nginx -v 2>&1 | sed 's#.*/##')
printf '| server | median MB/s | runs MB/s |\n|---|---|---|\n'
printf '| torvane serve, download.asp (File.Download) | %s | %s |\n' "$(awk -v x="$tmed" 'BEGIN { printf "%.0f", x / 1e6 }')" \
  "$(printf '%s\n' "${trates[@]}" | awk '{ printf "%s%.0f", (NR > 1 ? ", " : ""), $1 / 1e6 }')"
printf '| nginx %s, static file (sendfile) | %s | %s |\n' "$nginx_version" "$(awk -v x="$nmed" 'BEGIN { printf "%.0f", x / 1e6 }')" \
  "$(printf '%s\n' "${nrates[@]}" | awk '{ printf "%s%.0f", (NR > 1 ? ", " : ""), $1 / 1e6 }')"
printf '| torvane serve, static file (reference) | %s | %s |\n' "$(awk -v x="$smed" 'BEGIN { printf "%.0f", x / 1e6 }')" \
  "$(printf '%s\n' "${srates[@]}" | awk '{ printf "%s%.0f", (NR > 1 ? ", " : ""), $1 / 1e6 }')"
awk -v t="$tmed" -v n="$nmed" 'BEGIN { printf "ratio torvane / nginx: %.2f (target >= 0.70)\n", t / n }'
echo "torvane RSS: before $((rss_before / 1024)) MiB, peak during $((rss_peak / 1024)) MiB, after $((rss_after / 1024)) MiB (growth $(((rss_peak - rss_before) / 1024)) MiB)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
