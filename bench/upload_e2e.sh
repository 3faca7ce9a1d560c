#!/usr/bin/env bash
# End to end: one 1 GiB file posted with curl to `torvane serve` on loopback,
# stored by a page with Post.Upload. Reports the upload rate and how much the
# server's resident memory grew during the upload (the body is streamed, so it
# must stay far below the file size). Usage: upload_e2e.sh BUILD_DIR [MiB]
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
mib=${2:-1024}
torvane="$build/torvane"
[ -x "$torvane" ] || { echo "upload_e2e: $torvane not found" >&2; exit 1; }
base=/dev/shm
[ -d "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/torvane-upload-e2e.XXXXXX")
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/site/uploads"
cat > "$work/site/up.asp" <<'PAGE'
<%
var post = Server.CreateObject("Torvane.Post");
post.Upload(Server.MapPath("uploads"), TV_UPLOAD_OVERWRITE);
Response.Write(post.FormInputs("f").File.Size);
%>
PAGE
bytes=${UPLOAD_BYTES:-$((mib * 1024 * 1024))}
head -c "$bytes" /dev/urandom > "$work/big.bin"

"$torvane" serve --root "$work/site" --listen 127.0.0.1:0 > "$work/serve.log" 2>&1 &
server=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's#^torvane: serving .* on http://127\.0\.0\.1:\([0-9][0-9]*\)/$#\1#p' "$work/serve.log" | head -n1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { cat "$work/serve.log" >&2; exit 1; }
curl -s -o /dev/null "http://127.0.0.1:$port/up.asp" || true  # warm the page once

rss() { awk '/^VmRSS:/ {print $2}' "/proc/$server/status"; }
before=$(rss)
peak=$before
( while kill -0 "$server" 2>/dev/null; do r=$(rss); [ "$r" -gt "$(cat "$work/peak" 2>/dev/null || echo 0)" ] && echo "$r" > "$work/peak"; sleep 0.05; done ) &
sampler=$!
result=$(curl -s -H "Expect:" -F "f=@$work/big.bin" -w ' %{time_total} %{speed_upload}' "http://127.0.0.1:$port/up.asp")
kill "$sampler" 2>/dev/null; wait "$sampler" 2>/dev/null || true
[ -f "$work/peak" ] && peak=$(cat "$work/peak")
read -r size seconds speed <<<"$(tr -s "\r\n" "  " <<<"$result")"
stored=$(md5sum "$work/site/uploads/big.bin" | cut -d' ' -f1)
sent=$(md5sum "$work/big.bin" | cut -d' ' -f1)
echo "file:         $bytes bytes (stored size $size, md5 $([ "$stored" = "$sent" ] && echo matches || echo DIFFERS))"
echo "time:         $seconds s"
awk -v b="$speed" 'BEGIN { printf "rate:         %.1f MB/s\n", b / 1e6 }'
echo "server RSS:   before $((before / 1024)) MiB, peak $((peak / 1024)) MiB, growth $(((peak - before) / 1024)) MiB"
[ "$stored" = "$sent" ]
