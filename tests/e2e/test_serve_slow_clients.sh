#!/usr/bin/env bash
# Slow, stalled and lying clients never hold up other visitors' pages: 64
# clients dripping a body nobody reads, 64 clients that never take a
# download, and clients announcing huge bodies they never send leave a probe
# page answering within a second and memory near its baseline. A client below
# the minimum rate is cut, logged, and its upload cleaned up.
source "$(dirname "$0")/lib.sh"
RAW="$(dirname "$0")/rawclient.py"

site=$(tv_site)
printf 'fine\n' > "$site/ok.txt"
printf '<%%= "probe" %%>' > "$site/probe.asp"
printf 'ignored' > "$site/noread.asp"
head -c 8000000 /dev/urandom > "$site/big.bin"
cat > "$site/download.asp" <<'ASP'
<% var f = Server.CreateObject("Torvane.File"); f.Name = Server.MapPath("big.bin"); f.Download(); %>
ASP
cat > "$site/readall.asp" <<'ASP'
<% try { var b = Request.BinaryRead(Request.TotalBytes); Response.Write("got=" + b.length); }
   catch (e) { Response.Write("failed " + e.number + " " + e.description); } %>
ASP
mkdir "$site/up"
cat > "$site/upload.asp" <<'ASP'
<% var post = Server.CreateObject("Torvane.Post");
   try { post.Upload(Server.MapPath("up")); Response.Write("stored"); }
   catch (e) { Response.Status = "400 Bad Request"; Response.Write("failed " + e.number + " " + e.description); } %>
ASP

# The default configuration: these are the numbers a site gets.
tv_serve --root "$site"

# Starts COUNT clients of KIND against the server (in the background, for at
# most SECONDS), then measures the probe page ten times while they hold on;
# prints the slowest probe in milliseconds and the number of probe failures.
storm() {
  python3 - "$TV_PORT" "$RAW" "$@" <<'PY'
import importlib.util, socket, sys, threading, time
spec = importlib.util.spec_from_file_location("rawclient", sys.argv[2]); rc = importlib.util.module_from_spec(spec); spec.loader.exec_module(rc)
port, kind, count, seconds = sys.argv[1], sys.argv[3], int(sys.argv[4]), float(sys.argv[5])
stop = time.time() + seconds
socks = []
def drip(s):
    s.sendall(rc.post_head("/noread.asp", 100))
    while time.time() < stop:
        try:
            s.sendall(b"x")
        except OSError:
            return
        time.sleep(1.0)
def noread(s):
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.sendall(b"GET /download.asp HTTP/1.1\r\nHost: x\r\n\r\n")
    while time.time() < stop:
        time.sleep(0.2)
threads = []
for i in range(count):
    s = rc.connect(port)
    if kind == "noread":
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    socks.append(s)
    t = threading.Thread(target=drip if kind == "drip" else noread, args=(s,), daemon=True)
    t.start(); threads.append(t)
time.sleep(1.5)  # every client has started its request
worst, failures = 0.0, 0
for i in range(10):
    t0 = time.time()
    try:
        out, reset, _ = rc.exchange(port, b"GET /probe.asp HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", timeout=5)
        if b"probe" not in out:
            failures += 1
    except OSError:
        failures += 1
    worst = max(worst, time.time() - t0)
    time.sleep(0.2)
print(int(worst * 1000), failures)
for s in socks:
    try: s.close()
    except OSError: pass
PY
}

read -r worst failures <<<"$(storm drip 64 8)"
expect_eq "64 clients dripping unread bodies: every probe answered" "0" "$failures"
expect_match "64 clients dripping unread bodies: the probe answers within 1 s (slowest ${worst} ms)" "$worst" '^[0-9]{1,3}$'
read -r worst failures <<<"$(storm noread 64 8)"
expect_eq "64 clients not taking a download: every probe answered" "0" "$failures"
expect_match "64 clients not taking a download: the probe answers within 1 s (slowest ${worst} ms)" "$worst" '^[0-9]{1,3}$'
expect_eq "still serving after the storms" "fine" "$(tv_curl "$TV_URL/ok.txt" | tr -d '\n')"

# A page that waited for its client (an upload sent in two halves, a download
# taken slowly) leaves its connection able to carry the next requests. (The
# download page writes nothing after the file: output past the announced
# length would close the connection.)
printf '<%% var f = Server.CreateObject("Torvane.File"); f.Name = Server.MapPath("big.bin"); f.Download(); %%>' \
  > "$site/download-only.asp"
out=$(python3 - "$TV_PORT" "$RAW" <<'PY'
import importlib.util, sys, time
spec = importlib.util.spec_from_file_location("rawclient", sys.argv[2]); rc = importlib.util.module_from_spec(spec); spec.loader.exec_module(rc)
s = rc.connect(sys.argv[1])
body = rc.multipart("WaitB", [("a", "1")], [("f", "wait.bin", b"w" * 300000)])
s.sendall(rc.post_head("/upload.asp", len(body), "multipart/form-data; boundary=WaitB") + body[:150000])
time.sleep(0.5)  # the page has read what came and waits for the rest
s.sendall(body[150000:])
head, answer = rc.read_response(s)
print("upload:", answer.decode("latin-1"))
s.sendall(b"GET /download-only.asp HTTP/1.1\r\nHost: x\r\n\r\n")
time.sleep(0.5)  # the page fills the socket and waits for the client to take it
head, answer = rc.read_response(s)
print("download:", len(answer))
s.sendall(b"GET /ok.txt HTTP/1.1\r\nHost: x\r\n\r\n")
head, answer = rc.read_response(s)
print("then:", answer.decode("latin-1").strip() if head else "no answer")
PY
)
expect_contains "an upload the page waited for is stored" "$out" "upload: stored"
expect_contains "a download the page waited to send arrives whole" "$out" "download: 8000000"
expect_contains "the same connection then answers the next request" "$out" "then: fine"
expect_eq "the waited-for upload is whole" "300000" "$(stat -c %s "$site/up/wait.bin")"
rm -f "$site/up/wait.bin"

# ---- Short windows: cuts happen within seconds.
cat > "$TV_TMP/slow.conf" <<'CONF'
min_read_rate = 1024
min_write_rate = 1024
rate_window = 2
read_timeout = 10
write_timeout = 10
CONF
tv_serve --root "$site" --config "$TV_TMP/slow.conf"
# An upload at 200 bytes/s: cut after one window, logged, nothing left behind.
out=$(python3 - "$TV_PORT" "$RAW" <<'PY'
import importlib.util, sys, time
spec = importlib.util.spec_from_file_location("rawclient", sys.argv[2]); rc = importlib.util.module_from_spec(spec); spec.loader.exec_module(rc)
body = rc.multipart("SlowB", [("a", "1")], [("f", "slow.bin", b"s" * 20000)])
s = rc.connect(sys.argv[1])
t0 = time.time()
s.sendall(rc.post_head("/upload.asp", len(body), "multipart/form-data; boundary=SlowB") + body[:3000])
sent = 3000
s.setblocking(False)
answer = b""
while time.time() - t0 < 12 and sent < len(body):
    try:
        s.send(body[sent:sent + 20]); sent += 20
    except BlockingIOError:
        pass
    except OSError:
        break
    try:
        b = s.recv(65536)
        if not b: break
        answer += b
        if b"\r\n\r\n" in answer and b"failed" in answer: break
    except BlockingIOError:
        pass
    except OSError:
        break
    time.sleep(0.1)
s.setblocking(True)
answer += rc.read_all(s, 3)[0]
print(answer.decode("latin-1")); print("ELAPSED %.1f" % (time.time() - t0))
PY
)
expect_contains "a slow upload is cut with a clear error" "$out" "below the minimum of 1024 bytes per second (min_read_rate)"
expect_match "the slow upload is cut within a few seconds" "$(sed -n 's/^ELAPSED //p' <<<"$out")" '^[1-6]\.'
expect_contains "the cut is logged" "$(cat "$TV_LOG")" "cut: the client sent"
sleep 0.5
expect_eq "the slow upload left no file" "" "$(ls -A "$site/up")"

# A client that takes a download at a trickle is cut too, and logged.
python3 - "$TV_PORT" "$RAW" <<'PY'
import importlib.util, socket, sys, time
spec = importlib.util.spec_from_file_location("rawclient", sys.argv[2]); rc = importlib.util.module_from_spec(spec); spec.loader.exec_module(rc)
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
s.connect(("127.0.0.1", int(sys.argv[1])))
s.sendall(b"GET /download.asp HTTP/1.1\r\nHost: x\r\n\r\n")
t0 = time.time()
s.settimeout(1)
while time.time() - t0 < 10:
    try:
        if not s.recv(100): break
    except socket.timeout:
        pass
    except OSError:
        break
    time.sleep(0.5)
PY
expect_contains "a client taking a download too slowly is cut and logged" "$(cat "$TV_LOG")" "cut: the client took"

# ---- Clients announcing 1.5 GiB and sending 10 bytes: memory follows the bytes.
cat > "$TV_TMP/lying.conf" <<'CONF'
page_memory_limit = 0
min_read_rate = 0
read_timeout = 20
CONF
tv_serve --root "$site" --config "$TV_TMP/lying.conf"
rss() { awk '/^VmRSS/ {print $2}' "/proc/$TV_PID/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$TV_PID/stat"; }
base=$(rss)
ticks0=$(cpu_ticks)
peak=$(python3 - "$TV_PORT" "$RAW" "$TV_PID" <<'PY'
import importlib.util, sys, time
spec = importlib.util.spec_from_file_location("rawclient", sys.argv[2]); rc = importlib.util.module_from_spec(spec); spec.loader.exec_module(rc)
socks = [rc.connect(sys.argv[1]) for _ in range(4)]
for s in socks:
    s.sendall(rc.post_head("/readall.asp", 1610612736) + b"0123456789")
peak = 0
for i in range(600):  # 600 small packets of 10 bytes each, per client
    for s in socks:
        s.sendall(b"abcdefghij")
    if i % 20 == 0:
        time.sleep(0.01)
        rss = int([l.split()[1] for l in open("/proc/%s/status" % sys.argv[3]) if l.startswith("VmRSS")][0])
        peak = max(peak, rss)
for s in socks: s.close()
print(peak)
PY
)
ticks1=$(cpu_ticks)
hz=$(getconf CLK_TCK)
expect_match "4 clients announcing 1.5 GiB: resident memory stays near its baseline (base ${base} KiB, peak ${peak} KiB)" \
  "$(( (peak - base) / 1024 ))" '^-?[0-9]{1,2}$'
expect_match "the small packets cost little processor time ($((ticks1 - ticks0)) ticks at $hz/s)" "$(( (ticks1 - ticks0) * 1000 / hz ))" '^[0-9]{1,3}$'
expect_eq "still serving after the lying clients" "fine" "$(tv_curl "$TV_URL/ok.txt" | tr -d '\n')"
# With the default page memory limit, such a read fails at once with a clear error.
tv_serve --root "$site"
out=$( { printf 'POST /readall.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 1610612736\r\n\r\n0123456789'; } | python3 "$RAW" exchange "$TV_PORT" --timeout 5)
expect_contains "an announced body beyond the page's memory limit fails the read" "$out" "page_memory_limit"

tv_finish
