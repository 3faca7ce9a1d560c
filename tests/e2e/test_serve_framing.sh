#!/usr/bin/env bash
# torvane serve frames requests and answers soundly: a Transfer-Encoding that
# leaves a body's length unknown is refused (no smuggled request is answered);
# static files are checked by the file a name leads to; a page that fails after
# its output began ends its answer unfinished; every error answer reaches a
# client that still reads (with Connection: close), also after its FIN, a read
# timeout or an unread body; a client that only ended its sending side after
# its whole body still gets the page's answer.
source "$(dirname "$0")/lib.sh"
RAW="$(dirname "$0")/rawclient.py"

site=$(tv_site)
printf 'fine\n' > "$site/ok.txt"
printf 'SECRET-INCLUDE\n' > "$site/secret.inc"
mkdir "$site/.private" && printf 'SECRET-DOT\n' > "$site/.private/data.txt"
printf 'SECRET-DOTFILE\n' > "$site/.env"
cat > "$site/page.asp" <<'ASP'
<% var secret = "SECRET-SOURCE"; %>page ran
ASP
ln -s secret.inc "$site/x.txt"
ln -s .private/data.txt "$site/y.txt"
ln -s .env "$site/e.txt"
ln -s page.asp "$site/z.txt"
ln -s ok.txt "$site/fine-link.txt"
cat > "$site/smuggled.asp" <<'ASP'
SMUGGLED-ANSWER
ASP
cat > "$site/echo.asp" <<'ASP'
<% var b = Request.BinaryRead(Request.TotalBytes); %>got=<%= b.length %>
ASP
cat > "$site/late.asp" <<'ASP'
<% Response.Write("begun;"); Response.Flush(); throw new Error("late failure"); %>
ASP
mkdir "$site/up"
cat > "$site/upload.asp" <<'ASP'
<% var post = Server.CreateObject("Torvane.Post");
   try {
     post.Upload(Server.MapPath("up"));
     Response.Write("stored " + post.FormInputs.Count + " connected=" + Response.IsClientConnected);
   } catch (e) {
     Response.Status = "400 Bad Request";
     Response.Write("failed " + e.number + " " + e.description);
   } %>
ASP
cat > "$TV_TMP/host.conf" <<'CONF'
read_timeout = 2
max_request_bytes = 100000
workers = 4
CONF
tv_serve --root "$site" --config "$TV_TMP/host.conf"

raw() { python3 "$RAW" exchange "$TV_PORT" "$@"; }
status_line() { head -n1 | tr -d '\r'; }

# ---- Transfer-Encoding that is not exactly a final "chunked".
for case in "gzip|400" "chunked, gzip|400" "xchunked|501" "gzip, xchunked, chunked|501"; do
  te="${case%|*}" want="${case#*|}"
  for target in /echo.asp /ok.txt; do
    out=$(printf 'POST %s HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: %s\r\n\r\nGET /smuggled.asp HTTP/1.1\r\nHost: x\r\n\r\n' "$target" "$te" | raw --timeout 5)
    expect_match "Transfer-Encoding [$te] to $target is answered $want" "$(status_line <<<"$out")" "^HTTP/1\.1 $want "
    expect_contains "Transfer-Encoding [$te] to $target closes the connection" "$out" "Connection: close"
    expect_not_contains "the body after Transfer-Encoding [$te] is not run as a request" "$out" "SMUGGLED-ANSWER"
    expect_eq "one answer only for [$te] to $target" "1" "$(grep -c '^HTTP/1' <<<"$out")"
  done
done
out=$(printf 'POST /echo.asp HTTP/1.0\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n' | raw --timeout 5)
expect_match "HTTP/1.0 with a Transfer-Encoding is refused" "$(status_line <<<"$out")" '^HTTP/1\.[01] 400 '
out=$(printf 'POST /echo.asp HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n' | raw --timeout 5)
expect_match "a chunked body to a page still gets 411" "$(status_line <<<"$out")" '^HTTP/1\.1 411 '
expect_eq "a sound request still works" "got=3" "$(tv_curl --data-binary abc "$TV_URL/echo.asp" | tr -d '\n')"

# ---- Static files are checked by their target.
for name in x.txt y.txt e.txt z.txt; do
  expect_eq "a link $name to a never-served file is not served" "404" "$(tv_status "$TV_URL/$name")"
done
all=$(for name in x.txt y.txt e.txt z.txt; do tv_curl "$TV_URL/$name"; done)
expect_not_contains "no secret leaks through a link" "$all" "SECRET"
expect_eq "a link to an ordinary file is served" "fine" "$(tv_curl "$TV_URL/fine-link.txt" | tr -d '\n')"
expect_eq "the include by its own name stays hidden" "404" "$(tv_status "$TV_URL/secret.inc")"

# ---- A failure after Response.Flush() ends the answer unfinished.
out=$(printf 'GET /late.asp HTTP/1.1\r\nHost: x\r\n\r\n' | raw --timeout 5)
expect_contains "the output before the failure arrived" "$out" "begun;"
expect_not_contains "no closing chunk after a late failure" "$out" $'\r\n0\r\n\r\n'
expect_match "the late failure closed the connection (no wait for a timeout)" "$(sed -n 's/^ELAPSED //p' <<<"$out")" '^[0-2]\.'
tv_curl -o /dev/null "$TV_URL/late.asp" 2>/dev/null
expect_eq "curl sees the late failure as a failed transfer" "18" "$?"
expect_contains "the late failure is logged" "$(cat "$TV_LOG")" "late failure"

# ---- Error answers reach the client.
# A truncated body and the client's FIN: the page's answer still arrives.
out=$( { printf 'POST /echo.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\n'; head -c 100 /dev/zero; } | raw --shutdown --timeout 5)
expect_match "a truncated body with FIN is answered" "$(status_line <<<"$out")" '^HTTP/1\.1 200 '
expect_contains "the answer says what arrived" "$out" "got=100"
expect_contains "the answer to a truncated body closes the connection" "$out" "Connection: close"
out=$(python3 - "$TV_PORT" "$RAW" <<'PY'
import importlib.util, sys
spec = importlib.util.spec_from_file_location("rawclient", sys.argv[2]); rc = importlib.util.module_from_spec(spec); spec.loader.exec_module(rc)
body = rc.multipart("XyZ", [("a", "1")], [("f", "big.bin", b"q" * 5000)])
data = rc.post_head("/upload.asp", len(body), "multipart/form-data; boundary=XyZ") + body[: len(body) // 2]
out, reset, elapsed = rc.exchange(sys.argv[1], data, shutdown=True, timeout=8)
print(out.decode("latin-1")); print("RESET" if reset else "", "ELAPSED %.2f" % elapsed)
PY
)
expect_match "a truncated upload with FIN is answered" "$(status_line <<<"$out")" '^HTTP/1\.1 400 '
expect_contains "the truncated upload fails with the component's error" "$out" "failed 9037"
expect_eq "the truncated upload left no file" "" "$(ls -A "$site/up")"

# A body that stops arriving: the answer says Connection: close and arrives
# after one read_timeout (2 s), not two.
for page in echo.asp upload.asp; do
  out=$( { printf 'POST /%s HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: 500\r\n\r\n--XyZ\r\n' "$page"; } | raw --timeout 8)
  expect_contains "a stalled body to $page is answered with Connection: close" "$out" "Connection: close"
  if [ "$page" = echo.asp ]; then
    expect_contains "the stalled $page reports the timeout" "$out" "the client sent no data for 2 seconds"
  else
    expect_match "the stalled upload fails in the page" "$(status_line <<<"$out")" '^HTTP/1\.1 400 '
  fi
  expect_match "the stalled $page answer arrives after one read timeout" "$(sed -n 's/^ELAPSED //p' <<<"$out")" '^(1\.[5-9]|2\.|3\.[0-4])'
done
expect_eq "the stalled upload left no file" "" "$(ls -A "$site/up")"

# An answer the server gives before reading the body (413) arrives although
# the client keeps sending: the connection closes lingering, not with a reset.
out=$(python3 - "$TV_PORT" "$RAW" <<'PY'
import importlib.util, socket, sys, time
spec = importlib.util.spec_from_file_location("rawclient", sys.argv[2]); rc = importlib.util.module_from_spec(spec); spec.loader.exec_module(rc)
s = rc.connect(sys.argv[1])
s.sendall(rc.post_head("/echo.asp", 3000000))
sent = 0
try:
    while sent < 3000000:
        s.sendall(b"z" * 65536); sent += 65536
except (BrokenPipeError, ConnectionResetError):
    pass
out, reset = rc.read_all(s, 8)
print(out.decode("latin-1")); print("RESET" if reset else "")
PY
)
expect_match "a body over the limit gets its 413 while the client sends" "$(status_line <<<"$out")" '^HTTP/1\.1 413 '
expect_contains "the 413 says Connection: close" "$out" "Connection: close"
expect_not_contains "the 413 was not lost to a reset" "$out" "RESET"

# ---- A client that ends its sending side after its whole body gets the answer.
answers=$(python3 - "$TV_PORT" "$RAW" <<'PY'
import importlib.util, sys
spec = importlib.util.spec_from_file_location("rawclient", sys.argv[2]); rc = importlib.util.module_from_spec(spec); spec.loader.exec_module(rc)
good = 0
for i in range(20):
    body = rc.multipart("B0und", [("n", str(i))], [("f", "half%d.bin" % i, bytes(range(256)) * 40)])
    out, reset, _ = rc.exchange(sys.argv[1], rc.post_head("/upload.asp", len(body), "multipart/form-data; boundary=B0und") + body,
                                shutdown=True, timeout=8)
    text = out.decode("latin-1")
    if " 200 " in text.split("\r\n", 1)[0] and "stored 2 connected=true" in text:
        good += 1
    else:
        sys.stderr.write("try %d answered: %r\n" % (i, text[:300]))
print(good)
PY
)
expect_eq "20 of 20 half-closed uploads get their whole answer" "20" "$answers"
expect_eq "the half-closed uploads were all stored" "20" "$(ls "$site/up" | grep -c '^half')"

expect_eq "still serving" "fine" "$(tv_curl "$TV_URL/ok.txt" | tr -d '\n')"
tv_finish
