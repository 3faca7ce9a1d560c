#!/usr/bin/env bash
# Progress records reaching Redis during one 1 GiB upload with a progress
# slot (state_store = redis://...): the store's command count (INFO
# commandstats: every record write is one EVAL) before and after, over the
# upload's wall-clock time. Usage: progress_redis.sh BUILD_DIR.
# Environment: BENCH_UPLOAD_MB (default 1024).
set -uo pipefail
build=$(cd "${1:-build-bench}" && pwd)
torvane="$build/torvane"
mb="${BENCH_UPLOAD_MB:-1024}"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bench_need progress_redis.sh curl python3 redis-server redis-cli
bench_built progress_redis.sh "$torvane"

bench_scratch bench

site="$tmp/site"
mkdir -p "$site/up"
cat > "$site/reserve.asp" <<'ASP'
<% var bar = Server.CreateObject("Torvane.ProgressBar"); Response.Write(bar.GetID()); %>
ASP
cat > "$site/upload.asp" <<'ASP'
<% var post = Server.CreateObject("Torvane.Post");
   post.Upload(Server.MapPath("up"), TV_UPLOAD_OVERWRITE, undefined, String(Request.QueryString("id")));
   Response.Write(post.FormInputs("file").File.Size); %>
ASP
rport=$(free_port)
redis-server --port "$rport" --bind 127.0.0.1 --save "" --appendonly no --dir "$tmp" > "$tmp/redis.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do [ "$(redis-cli -p "$rport" ping 2>/dev/null)" = PONG ] && break; sleep 0.1; done
printf 'state_store = redis://127.0.0.1:%s/0\nmax_request_bytes = 4G\n' "$rport" > "$tmp/torvane.conf"
"$torvane" serve --root "$site" --config "$tmp/torvane.conf" --listen 127.0.0.1:0 > "$tmp/torvane.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
  port=$(sed -n 's#^torvane: serving .* on http://127\.0\.0\.1:\([0-9]*\)/$#\1#p' "$tmp/torvane.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "${port:-}" ] || { echo "torvane serve did not start" >&2; cat "$tmp/torvane.log" >&2; exit 1; }
url="http://127.0.0.1:$port"
truncate -s "${mb}M" "$tmp/big.bin"

evals() { redis-cli -p "$rport" info commandstats | tr -d '\r' | sed -n 's/^cmdstat_eval:calls=\([0-9]*\),.*/\1/p'; }
commands() { redis-cli -p "$rport" info stats | tr -d '\r' | sed -n 's/^total_commands_processed:\([0-9]*\)/\1/p'; }
id=$(curl -s "$url/reserve.asp")
e0=$(evals); c0=$(commands)
t0=$(date +%s.%N)
size=$(curl -s -F "file=@$tmp/big.bin" "$url/upload.asp?id=$id")
t1=$(date +%s.%N)
e1=$(evals); c1=$(commands)
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$mb" "$size" "$t0" "$t1" "${e0:-0}" "$e1" "$c0" "$c1" <<'PY'
import sys
mb, size, t0, t1, e0, e1, c0, c1 = sys.argv[1:]
secs = float(t1) - float(t0)
writes = int(e1) - int(e0)
cmds = int(c1) - int(c0) - 2  # less the two INFO calls
print(f"| upload | stored bytes | seconds | MB/s | record writes (EVAL) | writes/s | Redis commands |")
print(f"|---|---|---|---|---|---|---|")
print(f"| {mb} MiB | {size} | {secs:.1f} | {int(size) / secs / 1e6:.0f} | {writes} | {writes / secs:.1f} | {cmds} |")
PY
echo "final record: $(redis-cli -p "$rport" hget torvane:app "$(echo "$id" | tr 'A-Z' 'a-z')" | head -c 120)"
