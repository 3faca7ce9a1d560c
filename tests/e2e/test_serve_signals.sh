#!/usr/bin/env bash
# Shutdown and restart without loss: SIGTERM closes the listener, lets the
# requests in flight finish within grace_period, stops what is left as a
# failed request (an upload leaves nothing behind) and exits 0; SIGHUP
# reopens the log file and rereads the configuration for new requests
# without dropping connections.
source "$(dirname "$0")/lib.sh"
RAW="$(dirname "$0")/rawclient.py"

site=$(tv_site)
printf 'fine\n' > "$site/ok.txt"
cat > "$site/echo.asp" <<'ASP'
<% var n = 0, b; while ((b = Request.BinaryRead(4096)).length) n += b.length; %>read=<%= n %>
ASP
mkdir "$site/up"
cat > "$site/upload.asp" <<'ASP'
<% var post = Server.CreateObject("Torvane.Post");
   post.Upload(Server.MapPath("up")); %>stored <%= post.FormInputs.Count %>
ASP
alive() { local s; s="$(ps -o stat= -p "$1" 2>/dev/null)"; [ -n "$s" ] && [[ "$s" != Z* ]]; }
exit_status() { wait "$1" 2>/dev/null; echo $?; }

# Sends a body of SIZE bytes to PAGE over SECONDS in the background; the
# answer lands in FILE. Returns once the request's headers are sent
# (FILE.sent appears); the client's pid is in $client.
slow_post() {
  local page="$1" size="$2" seconds="$3" file="$4" type="${5:-application/octet-stream}"
  python3 - "$TV_PORT" "$RAW" "$page" "$size" "$seconds" "$type" "$file.sent" > "$file" <<'PY' &
import importlib.util, sys, time
spec = importlib.util.spec_from_file_location("rawclient", sys.argv[2]); rc = importlib.util.module_from_spec(spec); spec.loader.exec_module(rc)
page, size, seconds, ctype = sys.argv[3], int(sys.argv[4]), float(sys.argv[5]), sys.argv[6]
if ctype.startswith("multipart"):
    body = rc.multipart("SigB", [("a", "1")], [("f", "drained.bin", b"d" * size)])
else:
    body = b"e" * size
s = rc.connect(sys.argv[1])
s.sendall(rc.post_head(page, len(body), ctype))
open(sys.argv[7], "w").close()
steps = 20
step = max(1, len(body) // steps)
try:
    for i in range(0, len(body), step):
        s.sendall(body[i:i + step])
        time.sleep(seconds / steps)
except OSError:
    pass
out, reset = rc.read_all(s, 20)
print(out.decode("latin-1"))
PY
  client=$!
  for _ in $(seq 1 100); do [ -e "$file.sent" ] && break; sleep 0.05; done
}

# ---- SIGTERM with a request in flight that finishes within the grace period.
printf 'grace_period = 10\n' > "$TV_TMP/drain.conf"
tv_serve --root "$site" --config "$TV_TMP/drain.conf"
slow_post /echo.asp 40000 2 "$TV_TMP/drain.out"
sleep 0.5
start=$SECONDS
kill -TERM "$TV_PID"
sleep 0.3
expect_eq "the listener is closed once draining" "000" "$(tv_status "$TV_URL/ok.txt" --max-time 2)"
wait "$client"
expect_contains "the request in flight finished with its answer" "$(cat "$TV_TMP/drain.out")" "read=40000"
expect_contains "its answer closes the connection" "$(cat "$TV_TMP/drain.out")" "Connection: close"
for _ in $(seq 1 50); do alive "$TV_PID" || break; sleep 0.1; done
expect_eq "the server exited once the request was done" "no" "$(alive "$TV_PID" && echo yes || echo no)"
expect_match "well before the grace period ended" "$((SECONDS - start))" '^[0-5]$'
expect_eq "it exited with status 0" "0" "$(exit_status "$TV_PID")"
expect_contains "the stop is logged" "$(cat "$TV_LOG")" "stopping (signal 15)"

# ---- SIGTERM with an upload that outlasts the grace period: stopped, cleaned up.
printf 'grace_period = 2\n' > "$TV_TMP/short.conf"
tv_serve --root "$site" --config "$TV_TMP/short.conf"
slow_post /upload.asp 400000 12 "$TV_TMP/cut.out" "multipart/form-data; boundary=SigB"
sleep 1
start=$SECONDS
kill -TERM "$TV_PID"
for _ in $(seq 1 150); do alive "$TV_PID" || break; sleep 0.1; done
expect_eq "the server exited after its grace period" "no" "$(alive "$TV_PID" && echo yes || echo no)"
expect_match "it stopped the upload at the end of the grace period" "$((SECONDS - start))" '^[2-5]$'
expect_eq "it exited with status 0" "0" "$(exit_status "$TV_PID")"
wait "$client"
expect_contains "the cut upload was answered as failed" "$(cat "$TV_TMP/cut.out")" "grace period of 2 seconds has passed"
expect_contains "the cut is logged" "$(cat "$TV_LOG")" "grace period of 2 seconds over"
expect_eq "nothing partial remains" "" "$(ls -A "$site/up")"

# ---- SIGHUP: log reopened, configuration reread, connections kept.
cat > "$TV_TMP/hup.conf" <<CONF
max_request_bytes = 1000
log_file = $TV_TMP/server.log
CONF
tv_serve --root "$site" --config "$TV_TMP/hup.conf"
head -c 2000 /dev/zero > "$TV_TMP/2k.bin"
expect_eq "before the reload a 2000-byte body is too large" "413" "$(tv_status "$TV_URL/echo.asp" --data-binary "@$TV_TMP/2k.bin")"
python3 - "$TV_PORT" "$RAW" "$TV_PID" "$TV_TMP" > "$TV_TMP/keep.out" <<'PY'
import importlib.util, os, signal, sys, time
spec = importlib.util.spec_from_file_location("rawclient", sys.argv[2]); rc = importlib.util.module_from_spec(spec); spec.loader.exec_module(rc)
tmp = sys.argv[4]
s = rc.connect(sys.argv[1])
def ask():
    s.sendall(b"GET /ok.txt HTTP/1.1\r\nHost: x\r\n\r\n")
    data = b""
    while b"fine" not in data:
        b = s.recv(4096)
        if not b: return "closed"
        data += b
    return "answered"
first = ask()
# Rotate the log, change the configuration, reload.
os.rename(tmp + "/server.log", tmp + "/server.log.1")
open(tmp + "/hup.conf", "w").write("max_request_bytes = 5000\nlog_file = %s/server.log\n" % tmp)
os.kill(int(sys.argv[3]), signal.SIGHUP)
time.sleep(0.5)
print(first, ask())
PY
expect_eq "a keep-alive connection outlives the reload" "answered answered" "$(cat "$TV_TMP/keep.out")"
expect_eq "the server still runs after SIGHUP" "yes" "$(alive "$TV_PID" && echo yes || echo no)"
expect_eq "after the reload the new limit holds" "read=2000" "$(tv_curl --data-binary "@$TV_TMP/2k.bin" "$TV_URL/echo.asp" | tr -d '\n')"
expect_contains "the reload is logged in the reopened log file" "$(cat "$TV_TMP/server.log" 2>/dev/null)" "configuration reloaded"
expect_not_contains "the rotated log got nothing after the reload" "$(cat "$TV_TMP/server.log.1")" "configuration reloaded"
# A configuration that does not parse keeps the one in force.
printf 'max_request_bytes = lots\n' > "$TV_TMP/hup.conf"
kill -HUP "$TV_PID"
sleep 0.5
expect_eq "a bad configuration on reload keeps the server running" "yes" "$(alive "$TV_PID" && echo yes || echo no)"
expect_contains "the refused reload is logged" "$(cat "$TV_TMP/server.log")" "reload refused"
expect_eq "the settings in force stay" "read=2000" "$(tv_curl --data-binary "@$TV_TMP/2k.bin" "$TV_URL/echo.asp" | tr -d '\n')"

tv_finish
