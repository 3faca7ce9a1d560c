#!/usr/bin/env bash
# torvane run: one page, one request from the command line (body from a file or
# standard input), the raw HTTP response on standard output.
source "$(dirname "$0")/lib.sh"

site=$(tv_site)
mkdir -p "$site/data"
# (No newline after the last block: it would be part of the output.)
printf '%s' '<% Response.ContentType = "application/octet-stream";
   var n = Request.TotalBytes, got = 0, chunk;
   while (got < n) { chunk = Request.BinaryRead(1024); if (chunk.length == 0) break; Response.BinaryWrite(chunk); got += chunk.length; } %>' > "$site/echo.asp"
cat > "$site/info.asp" <<'ASP'
<% Response.ContentType = "text/plain"; %>method=<%= Request.ServerVariables("REQUEST_METHOD") %>
length=<%= Request.ServerVariables("CONTENT_LENGTH") %>
type=<%= Request.ServerVariables("CONTENT_TYPE") %>
custom=<%= Request.ServerVariables("HTTP_X_CUSTOM") %>
q=<%= Request.QueryString("q") %>
path=<%= Request.ServerVariables("PATH_INFO") %>
ASP
cat > "$site/form.asp" <<'ASP'
<% Response.ContentType = "text/plain"; %>a=<%= Request.Form("a") %>;b=<%= Request.Form("b") %><%
   try { Request.BinaryRead(1); } catch (e) { Response.Write(";binaryread after form: " + e.number); } %>
ASP
cat > "$site/fail.asp" <<'ASP'
<% null.x; %>
ASP
cat > "$site/mappath.asp" <<'ASP'
<%= Server.MapPath("data") %>
ASP
printf 'plain' > "$site/data/file.xyz"

# A binary body from a file comes back byte for byte.
head -c 100000 /dev/urandom > "$TV_TMP/body.bin"
printf '\0\r\n\r\n--tail' >> "$TV_TMP/body.bin"
tv_run --root "$site" --method POST --body "$TV_TMP/body.bin" /echo.asp > "$TV_TMP/resp.raw"
expect_eq "run exits 0" "0" "$?"
expect_eq "status line" "HTTP/1.1 200 OK" "$(head -n1 "$TV_TMP/resp.raw" | tr -d '\r')"
size=$(stat -c %s "$TV_TMP/body.bin")
headers=$(sed -n '1,/^\r$/p' "$TV_TMP/resp.raw" | tr -d '\r')
expect_contains "Content-Length of the echoed body" "$headers" "Content-Length: $size"
expect_contains "content type" "$headers" "Content-Type: application/octet-stream"
header_bytes=$(sed -n '1,/^\r$/p' "$TV_TMP/resp.raw" | wc -c)
tail -c +"$((header_bytes + 1))" "$TV_TMP/resp.raw" > "$TV_TMP/echoed.bin"
expect_eq "body from a file read whole, byte for byte" "$(md5sum < "$TV_TMP/body.bin")" "$(md5sum < "$TV_TMP/echoed.bin")"

# Standard input as the body.
out=$(printf 'from stdin' | tv_run --root "$site" --method POST --body - --header "Content-Type: text/plain" --header "X-Custom: yes" "/info.asp?q=a%20b")
expect_contains "stdin body length" "$out" "length=10"
expect_contains "content type from --header" "$out" "type=text/plain"
expect_contains "other headers as HTTP_*" "$out" "custom=yes"
expect_contains "method" "$out" "method=POST"
expect_contains "query string" "$out" "q=a b"
expect_contains "path" "$out" "path=/info.asp"

# A url-encoded form from a file.
printf 'a=1%%202&b=%%C3%%A9t%%C3%%A9' > "$TV_TMP/form.txt"
out=$(tv_run --root "$site" --method POST --header "Content-Type: application/x-www-form-urlencoded" --body "$TV_TMP/form.txt" /form.asp)
expect_contains "form fields" "$out" "a=1 2;b=été"
expect_contains "BinaryRead fails after Form" "$out" "binaryread after form: -2147467259"

# Errors are HTTP answers; the command still succeeds.
out=$(tv_run --root "$site" /fail.asp)
expect_eq "page error exits 0" "0" "$?"
expect_contains "page error is a 500" "$out" "HTTP/1.1 500 Internal Server Error"
expect_contains "page error names the line" "$out" "/fail.asp, line 1"
out=$(tv_run --root "$site" /missing.asp)
expect_contains "missing page is a 404" "$out" "HTTP/1.1 404 Not Found"
out=$(tv_run --root "$site" --method HEAD /info.asp)
expect_contains "HEAD keeps the length" "$out" "Content-Length: "
expect_not_contains "HEAD sends no body" "$out" "method=HEAD"
tv_run --root "$site" > /dev/null 2>&1
expect_eq "no path is a usage error" "2" "$?"
tv_run --root "$site" --body "$TV_TMP/none.bin" /info.asp > /dev/null 2>&1
expect_eq "a missing body file fails" "1" "$?"

# Configuration: drive table and registry.
printf 'drives = C=/,T=%s\n' "$site" > "$TV_TMP/run.conf"
expect_eq "drive table from --config" 'T:\data' "$(tv_run --root "$site" --config "$TV_TMP/run.conf" /mappath.asp | tail -n1 | tr -d '\r\n')"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.xyz]\r\n"Content Type"="application/x-torvane-test"\r\n' > "$TV_TMP/reg.reg"
expect_contains "--registry file types" "$(tv_run --root "$site" --registry "$TV_TMP/reg.reg" /data/file.xyz)" "Content-Type: application/x-torvane-test"
expect_contains "TORVANE_REGISTRY file types" "$(TORVANE_REGISTRY="$TV_TMP/reg.reg" tv_run --root "$site" /data/file.xyz)" "Content-Type: application/x-torvane-test"
printf 'workers = lots\n' > "$TV_TMP/bad.conf"
err=$(tv_run --root "$site" --config "$TV_TMP/bad.conf" /info.asp 2>&1 >/dev/null)
expect_contains "a bad configuration line is named" "$err" "bad.conf:1: workers"

tv_finish
