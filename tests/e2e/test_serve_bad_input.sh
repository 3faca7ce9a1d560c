#!/usr/bin/env bash
# torvane serve against bad input: malformed requests, oversized headers and
# bodies, slow clients, paths leaving the root, failing pages. Each gets a clear
# answer and the server keeps serving.
source "$(dirname "$0")/lib.sh"

site=$(tv_site)
printf 'fine\n' > "$site/ok.txt"
cat > "$site/read.asp" <<'ASP'
<% var b = Request.BinaryRead(Request.TotalBytes); %>got=<%= b.length %>
ASP
cat > "$site/form.asp" <<'ASP'
<%= Request.Form("a") %>
ASP
cat > "$site/header.asp" <<'ASP'
<% try { Response.AddHeader("X-Bad", "a\r\nSet-Cookie: evil=1"); } catch (e) { Response.Write("refused " + e.number); } %>
ASP
cat > "$site/loop.asp" <<'ASP'
<% Application.Lock(); throw new Error("failed while holding the lock"); %>
ASP
cat > "$site/forever.asp" <<'ASP'
<% Application.Lock(); for (;;) { try { while (true) {} } catch (e) {} } %>
ASP
cat > "$site/take.asp" <<'ASP'
<% Application.Lock(); Application.UnLock(); %>took
ASP
cat > "$site/mappath.asp" <<'ASP'
<%= Server.MapPath("\\..\\..\\etc") %>
ASP
cat > "$TV_TMP/host.conf" <<'CONF'
# Short limits so the tests run quickly.
header_timeout = 2
read_timeout = 2
keepalive_timeout = 5
max_request_bytes = 1000
max_header_bytes = 4096
workers = 4
script_timeout = 1
CONF

tv_serve --root "$site" --config "$TV_TMP/host.conf"

alive() { expect_eq "still serving after: $1" "fine" "$(tv_curl --max-time 5 "$TV_URL/ok.txt")"; }

# Raw exchanges over bash's /dev/tcp; prints the status line of the answer.
raw_status() {
  local request="$1" wait="${2:-5}"
  exec 5<>"/dev/tcp/127.0.0.1/$TV_PORT"
  printf '%b' "$request" >&5
  local line=""
  IFS= read -r -t "$wait" line <&5
  exec 5<&-
  printf '%s' "${line%$'\r'}"
}

expect_match "malformed request line" "$(raw_status 'GARBAGE\r\n\r\n')" '^HTTP/1\.[01] 400 '
alive "a malformed request"
expect_match "malformed header" "$(raw_status 'GET / HTTP/1.1\r\nNo colon here\r\n\r\n')" '^HTTP/1\.[01] 400 '
expect_match "unsupported HTTP version" "$(raw_status 'GET /ok.txt HTTP/3.7\r\nHost: x\r\n\r\n')" '^HTTP/1\.[01] (400|505) '
expect_match "bad percent escape" "$(raw_status 'GET /ok%zz.txt HTTP/1.1\r\nHost: x\r\n\r\n')" '^HTTP/1\.1 400 '
expect_match "NUL in the path" "$(raw_status 'GET /ok.txt%00.asp HTTP/1.1\r\nHost: x\r\n\r\n')" '^HTTP/1\.1 400 '
big=$(head -c 6000 /dev/zero | tr '\0' 'a')
expect_eq "oversized headers" "431" "$(tv_status "$TV_URL/ok.txt" -H "X-Big: $big")"
alive "oversized headers"
head -c 5000 /dev/zero > "$TV_TMP/big.bin"
expect_eq "body over the limit (file)" "413" "$(tv_status "$TV_URL/read.asp" --data-binary "@$TV_TMP/big.bin")"
expect_eq "body at the limit" "got=1000" "$(head -c 1000 /dev/zero | tv_curl --data-binary @- "$TV_URL/read.asp" | tr -d '\n')"
expect_eq "chunked body to a page" "411" "$(tv_status "$TV_URL/read.asp" -H 'Transfer-Encoding: chunked' --data-binary 'abc')"
alive "rejected bodies"

# Slow clients.
# Headers that never end: the connection is closed once the header timeout passes.
start=$SECONDS
expect_eq "headers that never end are dropped" "" "$(raw_status 'GET /ok.txt HTTP/1.1\r\nHost: x\r\n' 8)"
expect_match "the header timeout is the configured one" "$((SECONDS - start))" '^[1-5]$'
start=$SECONDS
expect_eq "an idle connection is dropped" "" "$(raw_status '' 8)"
expect_match "the idle connection met the header timeout" "$((SECONDS - start))" '^[1-5]$'
exec 6<>"/dev/tcp/127.0.0.1/$TV_PORT"
printf 'POST /read.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\nab' >&6
start=$SECONDS
answer=$(timeout 10 cat <&6 | tr -d '\r')
exec 6<&-
expect_match "a body that stops arriving ends the page within the read timeout" "$((SECONDS - start))" '^[1-6]$'
expect_contains "the stalled page reports the timeout" "$answer" "the client sent no data for 2 seconds"
alive "slow clients"

# A client that goes away in the middle of its body.
exec 7<>"/dev/tcp/127.0.0.1/$TV_PORT"
printf 'POST /read.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nabc' >&7
exec 7<&-
alive "a client that left mid-body"

# Paths and pages.
expect_eq "path leaving the root" "404" "$(tv_status "$TV_URL/../../etc/passwd" --path-as-is)"
expect_eq "encoded path leaving the root" "404" "$(tv_status "$TV_URL/%2e%2e/%2e%2e/etc/passwd" --path-as-is)"
out=$(tv_curl -w '\n%{http_code}' "$TV_URL/mappath.asp")
expect_match "MapPath leaving the root fails the page" "$out" $'\n''500$'
expect_contains "MapPath's error is named" "$out" "Error -2147467259"
expect_eq "header injection refused" "refused 5" "$(tv_curl "$TV_URL/header.asp" | tr -d '\n')"
expect_eq "a page failing while it holds the lock" "500" "$(tv_status "$TV_URL/loop.asp")"
expect_eq "the lock was released at the failed page's end" "took" "$(tv_curl --max-time 5 "$TV_URL/take.asp" | tr -d '\n')"
expect_eq "form on a non-form body" "" "$(tv_curl --max-time 5 -H 'Content-Type: text/plain' --data-binary 'a=1' "$TV_URL/form.asp" | tr -d '\n')"
out=$(tv_curl -w '\n%{http_code}' "$TV_URL/forever.asp")
expect_match "a page that never ends is stopped" "$out" $'\n''500$'
expect_contains "the stopped page says why" "$out" "more than 1 seconds of processor time"
expect_eq "its lock was released" "took" "$(tv_curl --max-time 5 "$TV_URL/take.asp" | tr -d '\n')"
alive "everything above"

# A full queue: the one worker busy computing, one page queued, the next
# refused. (A page waiting for a slow client gives up its worker: it would
# not fill the pool; see test_serve_slow_clients.sh.)
cat > "$site/spin.asp" <<'ASP'
<% var t0 = new Date().getTime(); while (new Date().getTime() - t0 < 2500) {} %>spun
ASP
printf 'workers = 1\nqueue_limit = 1\nread_timeout = 3\n' > "$TV_TMP/busy.conf"
tv_serve --root "$site" --config "$TV_TMP/busy.conf"
tv_curl --max-time 10 "$TV_URL/spin.asp" > "$TV_TMP/spin.out" &
spinning=$!
sleep 0.5
tv_curl --max-time 10 "$TV_URL/take.asp" > "$TV_TMP/queued.out" &
queued=$!
sleep 0.5
expect_eq "a page beyond the queue limit" "503" "$(tv_status "$TV_URL/take.asp" --max-time 5)"
expect_eq "static files are served while the workers are busy" "fine" "$(tv_curl --max-time 5 "$TV_URL/ok.txt")"
wait "$spinning" "$queued"
expect_eq "the busy page ended" "spun" "$(tr -d '\n' < "$TV_TMP/spin.out")"
expect_eq "the queued page ran once the worker was free" "took" "$(tr -d '\n' < "$TV_TMP/queued.out")"

tv_finish
