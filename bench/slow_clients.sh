#!/usr/bin/env bash
# Load test: 64 slow clients beside normal traffic on torvane serve with its
# default configuration. Normal traffic is wrk on a probe page (8 keep-alive
# connections); the slow clients are 32 that drip a multipart upload to a page
# that reads it (1 byte a second) and 32 that request an 8 MB download and
# never read it. Reports the probe's latency percentiles with and without the
# slow clients, and the server's resident memory before, at peak and after.
# Usage: slow_clients.sh BUILD_DIR. Environment: BENCH_SECONDS (default 10).
set -uo pipefail
build=$(cd "${1:-build-bench}" && pwd)
torvane="$build/torvane"
seconds="${BENCH_SECONDS:-10}"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bench_need slow_clients.sh wrk python3 curl
bench_built slow_clients.sh "$torvane"

bench_scratch slow

site="$tmp/site"
mkdir -p "$site/up"
printf '<%%@ Language="JScript" %%>\n<html><body>probe <%%= 6 * 7 %%></body></html>\n' > "$site/probe.asp"
head -c 8000000 /dev/urandom > "$site/big.bin"
printf '%s' '<% var f = Server.CreateObject("Torvane.File"); f.Name = Server.MapPath("big.bin"); f.Download(); %>' > "$site/download.asp"
printf '%s' '<% var p = Server.CreateObject("Torvane.Post"); try { p.Upload(Server.MapPath("up")); } catch (e) { Response.Write(e.description); } %>' > "$site/upload.asp"

"$torvane" serve --root "$site" --listen 127.0.0.1:0 > "$tmp/serve.log" 2>&1 &
tpid=$!
pids+=("$tpid")
for _ in $(seq 1 100); do
  port=$(sed -n 's#^torvane: serving .* on http://127\.0\.0\.1:\([0-9]*\)/$#\1#p' "$tmp/serve.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "${port:-}" ] || { echo "torvane serve did not start" >&2; cat "$tmp/serve.log" >&2; exit 1; }
url="http://127.0.0.1:$port/probe.asp"
curl -sf -o /dev/null "$url" || { echo "slow_clients.sh: the probe does not answer" >&2; exit 1; }

rss() { awk '/^VmRSS/ {print $2}' "/proc/$tpid/status"; }
latency() {  # wrk's latency percentiles: "p50 p75 p90 p99 requests/s"
  wrk -t2 -c8 -d"${seconds}s" --latency "$url" 2>/dev/null | awk '
    /^ +50%/ {p50=$2} /^ +75%/ {p75=$2} /^ +90%/ {p90=$2} /^ +99%/ {p99=$2}
    /^Requests\/sec/ {rps=$2} END {print p50, p75, p90, p99, rps}'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; $seconds s per run; default configuration"
rss_before=$(rss)
read -r a50 a75 a90 a99 arps <<<"$(latency)"

# The slow clients, for the length of the second run and a little more.
python3 - "$port" $((seconds + 4)) > "$tmp/slow.out" 2>&1 <<'PY' &
import socket, sys, threading, time
port, seconds = int(sys.argv[1]), float(sys.argv[2])
stop = time.time() + seconds
B = b"SlowBench"
body = b"--" + B + b"\r\nContent-Disposition: form-data; name=\"f\"; filename=\"slow.bin\"\r\n\r\n" + b"s" * 100000
head = b"POST /upload.asp HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=SlowBench\r\nContent-Length: %d\r\n\r\n"
socks = []
def drip(s):
    s.sendall(head % (len(body) + 100))
    i = 0
    while time.time() < stop and i < len(body):
        try: s.sendall(body[i:i + 1])
        except OSError: return
        i += 1
        time.sleep(1.0)
def noread(s):
    s.sendall(b"GET /download.asp HTTP/1.1\r\nHost: x\r\n\r\n")
    while time.time() < stop: time.sleep(0.2)
for i in range(64):
    s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", port)); socks.append(s)
    threading.Thread(target=drip if i % 2 == 0 else noread, args=(s,), daemon=True).start()
time.sleep(seconds)
for s in socks: s.close()
PY
slow=$!
sleep 2
( while kill -0 "$slow" 2>/dev/null; do rss; sleep 0.2; done > "$tmp/rss.samples" ) &
sampler=$!
read -r b50 b75 b90 b99 brps <<<"$(latency)"
wait "$slow"
kill "$sampler" 2>/dev/null; wait "$sampler" 2>/dev/null
rss_peak=$(sort -n "$tmp/rss.samples" | tail -n1)
sleep 3
rss_after=$(rss)
threads=$(awk '/^Threads/ {print $2}' "/proc/$tpid/status")
sleep 32  # the extra page threads end after 30 s without work
rss_later=$(rss)
threads_later=$(awk '/^Threads/ {print $2}' "/proc/$tpid/status")

printf '| run | p50 | p75 | p90 | p99 | probe req/s |\n|---|---|---|---|---|---|\n'
printf '| probe alone | %s | %s | %s | %s | %s |\n' "$a50" "$a75" "$a90" "$a99" "$arps"
printf '| probe with 64 slow clients | %s | %s | %s | %s | %s |\n' "$b50" "$b75" "$b90" "$b99" "$brps"
echo
printf '| server RSS before | at peak (slow clients on) | 3 s after they left (threads) | 35 s after (threads) |\n|---|---|---|---|\n'
printf '| %s KiB | %s KiB | %s KiB (%s) | %s KiB (%s) |\n' "$rss_before" "${rss_peak:-?}" "$rss_after" "$threads" "$rss_later" "$threads_later"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
