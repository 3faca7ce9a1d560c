#!/usr/bin/env bash
# Uploads that fail in the middle through `torvane serve` leave nothing behind:
# clients that reset the connection (RST) part-way through the second file,
# and clients that stop sending until the server's read_timeout ends the read,
# under every disk storage method. A file they would have overwritten keeps
# its old content. A complete upload of the same body stores everything (so
# the empty folder afterwards means something).
source "$(dirname "$0")/lib.sh"

site=$(tv_site)
mkdir -p "$site/uploads"
# The upload page counts every post it has finished, however it ended.
cat > "$site/up.asp" <<'PAGE'
<%
var post = Server.CreateObject("Torvane.Post");
try {
  post.Upload(Server.MapPath("uploads"), Number(Request.QueryString("m")));
  Response.Write("stored " + post.FormInputs.Count);
} catch (e) {
  Response.Write("failed " + e.number);
}
Application.Lock();
Application.SetValue("done", Number(Application("done") || 0) + 1);
Application.UnLock();
%>
PAGE
printf '<%%= Number(Application("done") || 0) %%>' > "$site/done.asp"
printf 'read_timeout = 1\n' > "$TV_TMP/site.conf"
tv_serve --root "$site" --config "$TV_TMP/site.conf"

# One multipart request: a small file, then a 300000-byte file named old.txt.
python3 - "$TV_TMP/body" <<'PY'
import os, sys
b = b"----TorvaneAbort"
body = (b"--" + b + b"\r\nContent-Disposition: form-data; name=\"a\"; filename=\"a.txt\"\r\n"
        b"Content-Type: text/plain\r\n\r\n" + b"a" * 10000 + b"\r\n"
        b"--" + b + b"\r\nContent-Disposition: form-data; name=\"b\"; filename=\"old.txt\"\r\n"
        b"Content-Type: application/octet-stream\r\n\r\n" + os.urandom(300000) + b"\r\n"
        b"--" + b + b"--\r\n")
open(sys.argv[1], "wb").write(body)
PY

# post.py PORT BODY MODE COUNT: COUNT requests with methods 0..3 in turn, each
# cut at a different place in the second file; MODE "rst" resets the
# connection, "stall" keeps it open without sending until the server gives up.
cat > "$TV_TMP/post.py" <<'PY'
import socket, struct, sys, threading, time
port, path, mode, count = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
body = open(path, "rb").read()
def one(i):
    method = i % 4
    cut = 10200 + (i * 7919) % 290000  # inside the second file
    s = socket.create_connection(("127.0.0.1", port))
    head = ("POST /up.asp?m=%d HTTP/1.1\r\nHost: 127.0.0.1\r\n"
            "Content-Type: multipart/form-data; boundary=----TorvaneAbort\r\n"
            "Content-Length: %d\r\n\r\n" % (method, len(body))).encode()
    s.sendall(head + body[:cut])
    if mode == "rst":
        time.sleep(0.2)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        s.close()
    else:
        s.settimeout(10)
        try:
            while s.recv(65536):
                pass
        except OSError:
            pass
        s.close()
threads = [threading.Thread(target=one, args=(i,)) for i in range(count)]
for t in threads:
    t.start()
    time.sleep(0.02)
for t in threads:
    t.join()
PY

done_count() { tv_curl "$TV_URL/done.asp"; }
wait_done() {
  local want="$1"
  for _ in $(seq 1 300); do [ "$(done_count)" -ge "$want" ] && return 0; sleep 0.1; done
  return 1
}
old() { printf 'the old content' > "$site/uploads/old.txt"; }

# The control: the whole body is stored.
old
out=$(curl -s --max-time 30 -H 'Content-Type: multipart/form-data; boundary=----TorvaneAbort' \
      --data-binary @"$TV_TMP/body" "$TV_URL/up.asp?m=1")
expect_eq "a complete upload stores both files" "stored 2" "$out"
expect_eq "the complete upload replaced old.txt" "300000" "$(stat -c %s "$site/uploads/old.txt")"
expect_eq "the complete upload left nothing hidden" "a.txt old.txt" "$(ls -A "$site/uploads" | tr '\n' ' ' | sed 's/ $//')"
rm -f "$site/uploads/"*
expected=1

# Clients that reset the connection mid-upload.
old
python3 "$TV_TMP/post.py" "$TV_PORT" "$TV_TMP/body" rst 40
expected=$((expected + 40))
if wait_done "$expected"; then pass "every reset upload finished its page"; else fail "reset uploads" "only $(done_count) of $expected pages finished"; fi
expect_eq "reset uploads leave nothing but the old file" "old.txt" "$(ls -A "$site/uploads" | tr '\n' ' ' | sed 's/ $//')"
expect_eq "reset uploads never touch the old file" "the old content" "$(cat "$site/uploads/old.txt")"

# Clients that stop sending: read_timeout (1 s) ends the read.
python3 "$TV_TMP/post.py" "$TV_PORT" "$TV_TMP/body" stall 8
expected=$((expected + 8))
if wait_done "$expected"; then pass "every stalled upload finished its page"; else fail "stalled uploads" "only $(done_count) of $expected pages finished"; fi
expect_eq "timed-out uploads leave nothing but the old file" "old.txt" "$(ls -A "$site/uploads" | tr '\n' ' ' | sed 's/ $//')"
expect_eq "timed-out uploads never touch the old file" "the old content" "$(cat "$site/uploads/old.txt")"

tv_finish
