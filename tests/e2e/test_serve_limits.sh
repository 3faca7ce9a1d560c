#!/usr/bin/env bash
# Runaway pages: a page past its script memory limit fails with a clear error
# while the server goes on, and memory goes back near its baseline after
# large pages; a page past its wall-clock deadline is stopped, in script code
# and inside a long component call (an upload of thousands of parts), with
# the usual cleanup.
source "$(dirname "$0")/lib.sh"
RAW="$(dirname "$0")/rawclient.py"

site=$(tv_site)
printf 'fine\n' > "$site/ok.txt"
cat > "$site/hog.asp" <<'ASP'
<% var parts = []; try { for (;;) parts.push(new Uint8Array(1 << 20)); } catch (e) { Response.Write("caught"); } %>after
ASP
cat > "$site/big.asp" <<'ASP'
<% var parts = []; for (var i = 0; i < 48; ++i) parts.push(new Uint8Array(1 << 20)); %>used <%= parts.length %> MiB
ASP
cat > "$site/spin.asp" <<'ASP'
<% var t0 = new Date().getTime(); try { while (new Date().getTime() - t0 < 20000) {} } catch (e) {} %>never
ASP
mkdir "$site/up"
cat > "$site/upload.asp" <<'ASP'
<% var post = Server.CreateObject("Torvane.Post");
   post.Upload(Server.MapPath("up")); %>stored <%= post.FormInputs.Count %>
ASP
cat > "$TV_TMP/limits.conf" <<'CONF'
page_memory_limit = 67108864
page_deadline = 2
workers = 4
CONF
tv_serve --root "$site" --config "$TV_TMP/limits.conf"
rss() { awk '/^VmRSS/ {print $2}' "/proc/$TV_PID/status"; }

# ---- Memory.
tv_curl -o /dev/null "$TV_URL/ok.txt"
base=$(rss)
out=$(tv_curl -w '\n%{http_code}' "$TV_URL/hog.asp")
expect_match "a page past its memory limit fails" "$out" $'\n''500$'
expect_contains "its error names the limit" "$out" "page_memory_limit"
expect_not_contains "the page could not go on after catching it" "$out" "after"
expect_contains "the failure is logged" "$(cat "$TV_LOG")" "page_memory_limit"
expect_eq "the server goes on" "fine" "$(tv_curl "$TV_URL/ok.txt" | tr -d '\n')"
expect_eq "a page under the limit runs" "used 48 MiB" "$(tv_curl "$TV_URL/big.asp" | tr -d '\n')"
# Large pages on every worker at once, twice: memory returns afterwards.
for round in 1 2; do
  pids=()
  for i in 1 2 3 4; do tv_curl -o /dev/null "$TV_URL/hog.asp" & pids+=($!); done
  for i in 1 2 3 4; do tv_curl -o /dev/null "$TV_URL/big.asp" & pids+=($!); done
  wait "${pids[@]}"
done
sleep 0.5
after=$(rss)
expect_match "resident memory is back near its baseline (before ${base} KiB, after ${after} KiB)" \
  "$(( (after - base) / 1024 ))" '^-?[0-9]{1,2}$'

# ---- Wall-clock deadline.
start=$SECONDS
out=$(tv_curl -w '\n%{http_code}' "$TV_URL/spin.asp")
expect_match "a page past its deadline is stopped" "$out" $'\n''500$'
expect_contains "its error names the deadline" "$out" "page_deadline"
expect_match "it was stopped at its deadline" "$((SECONDS - start))" '^[2-4]$'
# An upload of thousands of small parts, sent steadily for longer than the
# deadline: the page stops inside the component at its next read.
out=$(python3 - "$TV_PORT" "$RAW" <<'PY'
import importlib.util, sys, time
spec = importlib.util.spec_from_file_location("rawclient", sys.argv[2]); rc = importlib.util.module_from_spec(spec); spec.loader.exec_module(rc)
# 3200 parts: 800 files, then 2400 fields (within the default per-upload
# limits); files are stored by the time the deadline comes.
files = [("f%d" % i, "part%d.txt" % i, b"p" * 200) for i in range(800)]
fields = [("v%d" % i, "q" * 200) for i in range(2400)]
body = rc.multipart("ManyParts", fields, files, files_first=True)
s = rc.connect(sys.argv[1])
t0 = time.time()
s.sendall(rc.post_head("/upload.asp", len(body), "multipart/form-data; boundary=ManyParts"))
step = len(body) // 120
s.setblocking(False)
answer = b""
early = False
for i in range(0, len(body), step):  # the whole body over about 12 s
    try:
        s.sendall(body[i:i + step])
    except (BlockingIOError, OSError):
        early = True  # the server stopped taking the body
        break
    try:
        b = s.recv(65536)
        if b: answer += b
    except (BlockingIOError, OSError):
        pass
    if answer:
        early = True
        break
    time.sleep(0.1)
s.setblocking(True)
answer += rc.read_all(s, 5)[0]
print(answer.decode("latin-1")); print("ELAPSED %.1f" % (time.time() - t0)); print("EARLY %s" % early)
PY
)
expect_match "the long upload is stopped" "$(head -n1 <<<"$out" | tr -d '\r')" '^HTTP/1\.1 500 '
expect_contains "its error names the deadline" "$out" "page_deadline"
# Not before the deadline, and answered while the client was still sending
# (the removal of the stored files takes its time on a loaded machine).
expect_match "it did not stop before the deadline" "$(sed -n 's/^ELAPSED //p' <<<"$out")" '^([2-9]|1[0-9])\.'
expect_eq "it stopped at the deadline, not at the body's end" "True" "$(sed -n 's/^EARLY //p' <<<"$out")"
sleep 0.5
expect_eq "the stopped upload left no file" "0" "$(ls "$site/up" | wc -l)"
expect_eq "the server goes on" "fine" "$(tv_curl "$TV_URL/ok.txt" | tr -d '\n')"

tv_finish
