#!/usr/bin/env bash
# torvane serve driven by curl: static files, pages, query strings, forms,
# component objects, errors, the application store and unbuffered output.
source "$(dirname "$0")/lib.sh"

site=$(tv_site)
mkdir -p "$site/sub" "$site/files"
printf 'hello static\n' > "$site/files/hello.txt"
printf '<html><body>index</body></html>' > "$site/files/page.html"
printf '\x89PNG\r\n\x1a\n0000' > "$site/files/pic.png"

cat > "$site/expr.asp" <<'ASP'
<%@ Language="JScript" %>
<% var x = 6 * 7; %>answer=<%= x %>;
ASP
cat > "$site/query.asp" <<'ASP'
<% Response.ContentType = "text/plain"; %>a=<%= Request.QueryString("a") %>;b=<%= Request.QueryString("b") %>;raw=<%= Request.QueryString %>;missing=<%= Request.QueryString("zz") === undefined %>;count=<%= Request.QueryString.Count %>
ASP
cat > "$site/form.asp" <<'ASP'
<% Response.ContentType = "text/plain"; %>name=<%= Request.Form("name") %>;city=<%= Request.Form("city") %>;method=<%= Request.ServerVariables("REQUEST_METHOD") %>;ct=<%= Request.ServerVariables("CONTENT_TYPE") %>;agent=<%= Request.ServerVariables("HTTP_X_TEST_HEADER") %>
ASP
cat > "$site/post.asp" <<'ASP'
<% var post = Server.CreateObject("Torvane.Post");
   post.MaxFileSize = 1000;
   Response.ContentType = "text/xml"; %><%= post.ToXML() %>
ASP
cat > "$site/upload.asp" <<'ASP'
<% var post = Server.CreateObject("Torvane.Post");
   post.Upload(undefined, TV_UPLOAD_INMEMORY);
   Response.ContentType = "text/plain"; %>name=<%= post.FormInputs("name") %>;file=<%= post.FormInputs("doc").Value %>;inputs=<%= post.FormInputs.Count %>
ASP
printf '%s' '<% var n = 0, b; while ((b = Request.BinaryRead(65536)).length) n += b.length; %>n=<%= n %>' > "$site/count.asp"
cat > "$site/catch.asp" <<'ASP'
<% var post = Server.CreateObject("Torvane.Post");
   try {
     post.FormInputs = Server.CreateObject("Torvane.File");
     Response.Write("no error");
   } catch (e) {
     Response.Write("number=" + e.number + ";description=" + e.description + ";message=" + e.message + ";source=" + e.source);
   } %>
ASP
cat > "$site/uncaught.asp" <<'ASP'
before
<% var post = Server.CreateObject("Torvane.Post");
   var n = 1;
   post.FormInputs = Server.CreateObject("Torvane.File"); %>
after
ASP
cat > "$site/syntax.asp" <<'ASP'
line one
line two
<% var broken = ( ; %>
ASP
cat > "$site/counter.asp" <<'ASP'
<% Application.Lock();
   var n = (Application("hits") || 0) + 1;
   Application.SetValue("hits", n);
   Application.UnLock(); %>hits=<%= n %>
ASP
cat > "$site/stream.asp" <<'ASP'
<% Response.Buffer = false; Response.ContentType = "text/plain"; %>part1
<% var b = Request.BinaryRead(1); %>part2:<%= b.length %>
ASP
cat > "$site/length.asp" <<'ASP'
<% Response.Buffer = false; Response.AddHeader("Content-Length", "5"); Response.Write("hello"); %>
ASP
cat > "$site/end.asp" <<'ASP'
shown<% Response.End(); %>never
<% Response.Write("never either"); %>
ASP
cat > "$site/redirect.asp" <<'ASP'
<% Response.Redirect("/expr.asp"); Response.Write("not sent"); %>
ASP
cat > "$site/status.asp" <<'ASP'
<% Response.Status = "404 Nothing Here"; Response.AddHeader("X-Extra", "yes"); Response.CacheControl = "no-cache"; %>custom
ASP
cat > "$site/mappath.asp" <<'ASP'
<% Response.ContentType = "text/plain";
   Response.Write(Server.MapPath("files/hello.txt") + "\n");
   try { Server.MapPath("../../etc/passwd"); Response.Write("mapped outside"); }
   catch (e) { Response.Write("refused " + e.number); } %>
ASP
cat > "$site/sub/inc.inc" <<'ASP'
<% function twice(s) { return s + s; } %>included
ASP
cat > "$site/sub/include.asp" <<'ASP'
<!-- #include file="inc.inc" -->
<!-- #include virtual="/sub/inc.inc" -->
<%= twice("ab") %>
ASP
cat > "$site/ctype.asp" <<'ASP'
<% Response.Buffer = false; Response.ContentType = "text/plain"; Response.Write("x");
   Response.ContentType = "image/png"; %>type=<%= Response.ContentType %>
ASP
cat > "$site/enum.asp" <<'ASP'
<% Response.ContentType = "text/plain";
   var e = new Enumerator(Request.QueryString), names = [];
   for (; !e.atEnd(); e.moveNext()) names.push(e.item());
   Response.Write(names.join(",")); %>
ASP

tv_serve --root "$site"

# Static files, with their MIME types.
expect_eq "static file body" "hello static" "$(tv_curl "$TV_URL/files/hello.txt")"
headers=$(tv_curl -D - -o /dev/null "$TV_URL/files/hello.txt")
expect_contains "static text type" "$headers" "Content-Type: text/plain"
expect_contains "static length" "$headers" "Content-Length: 13"
expect_contains "static png type" "$(tv_curl -D - -o /dev/null "$TV_URL/files/pic.png")" "Content-Type: image/png"
expect_contains "static html type" "$(tv_curl -D - -o /dev/null "$TV_URL/files/page.html")" "Content-Type: text/html"
exec 3<>"/dev/tcp/127.0.0.1/$TV_PORT"
printf 'HEAD /files/hello.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n' >&3
head_answer=$(timeout 10 cat <&3 | tr -d '\r')
exec 3<&-
expect_contains "HEAD of a static file has its length" "$head_answer" "Content-Length: 13"
expect_not_contains "HEAD of a static file has no body" "$head_answer" "hello static"
expect_eq "missing file is 404" "404" "$(tv_status "$TV_URL/files/none.txt")"
expect_eq "include files are not served" "404" "$(tv_status "$TV_URL/sub/inc.inc")"
expect_eq "dot-dot path is 404" "404" "$(tv_status "$TV_URL/../etc/passwd" --path-as-is)"
expect_eq "encoded dot-dot path is 404" "404" "$(tv_status "$TV_URL/files/%2e%2e/%2e%2e/%2e%2e/etc/passwd" --path-as-is)"
expect_eq "backslash dot-dot path is 404" "404" "$(tv_status "$TV_URL/files/..%5c..%5c..%5cetc/passwd" --path-as-is)"
expect_eq "folder without slash redirects" "301" "$(tv_status "$TV_URL/sub")"
expect_eq "POST to a static file" "405" "$(tv_status "$TV_URL/files/hello.txt" -X POST -d x=1)"

# Pages.
expect_eq "<%= %> output" "answer=42;" "$(tv_curl "$TV_URL/expr.asp" | tr -d '\n')"
expect_eq "query string" "a=1 2;b=x&y;raw=a=1+2&b=x%26y;missing=True;count=2" \
  "$(tv_curl "$TV_URL/query.asp?a=1+2&b=x%26y" | tr -d '\n')"
expect_eq "url-encoded form" \
  "name=Ann Lee;city=Zürich;method=POST;ct=application/x-www-form-urlencoded;agent=probe" \
  "$(tv_curl -H 'X-Test-Header: probe' --data-urlencode 'name=Ann Lee' --data-urlencode 'city=Zürich' "$TV_URL/form.asp" | tr -d '\n')"
xml=$(tv_curl "$TV_URL/post.asp")
expect_contains "Post.ToXML through Server.CreateObject" "$xml" "<post>"
expect_contains "Post setting shown in ToXML" "$xml" "<maxfilesize>1000</maxfilesize>"
printf 'uploaded bytes' > "$TV_TMP/up.txt"
expect_eq "multipart post read by Torvane.Post" "name=Ann;file=up.txt;inputs=2" \
  "$(tv_curl -F name=Ann -F "doc=@$TV_TMP/up.txt" "$TV_URL/upload.asp" | tr -d '\n')"
# A 3 MB body: curl asks for "100 Continue" first; the page reads it all.
head -c 3000000 /dev/urandom > "$TV_TMP/big.bin"
out=$(tv_curl -v --data-binary "@$TV_TMP/big.bin" "$TV_URL/count.asp" 2>&1)
expect_contains "large body announced with Expect" "$out" "HTTP/1.1 100 Continue"
expect_contains "large body read whole by the page" "$out" "n=3000000"
expect_contains "large body not read by the page" "$(tv_curl --data-binary "@$TV_TMP/big.bin" "$TV_URL/expr.asp")" "answer=42"
expect_contains "caught 9010" "$(tv_curl "$TV_URL/catch.asp")" \
  "number=9010;description=Post.SetFormInputs - FormInputs is readonly for Post Objects.;message=Post.SetFormInputs - FormInputs is readonly for Post Objects.;source=Torvane.Post"
expect_eq "enumerating a request collection" "x,y" "$(tv_curl "$TV_URL/enum.asp?x=1&y=2" | tr -d '\n')"
expect_eq "includes (file and virtual)" "includedincludedabab" "$(tv_curl "$TV_URL/sub/include.asp" | tr -d '\n')"

# Errors.
body=$(tv_curl -w '\n%{http_code}' "$TV_URL/uncaught.asp")
expect_match "uncaught error is 500" "$body" $'\n''500$'
expect_contains "500 names the number" "$body" "Error 9010"
expect_contains "500 names the description" "$body" "FormInputs is readonly for Post Objects."
expect_contains "500 names page and line" "$body" "/uncaught.asp, line 4"
expect_not_contains "500 drops the buffered output" "$body" "before"
body=$(tv_curl -w '\n%{http_code}' "$TV_URL/syntax.asp")
expect_match "syntax error is 500" "$body" $'\n''500$'
expect_contains "syntax error names the line" "$body" "/syntax.asp, line 3"
expect_contains "server still serves after errors" "$(tv_curl "$TV_URL/expr.asp")" "answer=42"

# Application values shared between requests.
expect_eq "application first request" "hits=1" "$(tv_curl "$TV_URL/counter.asp" | tr -d '\n')"
expect_eq "application second request" "hits=2" "$(tv_curl "$TV_URL/counter.asp" | tr -d '\n')"

# Response behaviours.
expect_eq "Response.End stops the page" "shown" "$(tv_curl "$TV_URL/end.asp" | tr -d '\n')"
headers=$(tv_curl -D - -o /dev/null "$TV_URL/redirect.asp")
expect_contains "redirect status" "$headers" "302 Object moved"
expect_contains "redirect location" "$headers" "Location: /expr.asp"
headers=$(tv_curl -D - -o /dev/null "$TV_URL/status.asp")
expect_contains "custom status" "$headers" "HTTP/1.1 404 Nothing Here"
expect_contains "added header" "$headers" "X-Extra: yes"
expect_contains "cache control" "$headers" "Cache-Control: no-cache"
headers=$(tv_curl -D - "$TV_URL/length.asp")
expect_contains "unbuffered with the page's Content-Length" "$headers" "Content-Length: 5"
expect_not_contains "no chunking with a Content-Length" "$headers" "chunked"
expect_eq "content type frozen once output began" "xtype=text/plain" "$(tv_curl "$TV_URL/ctype.asp" | tr -d '\n')"
mapped=$(tv_curl "$TV_URL/mappath.asp")
expect_contains "MapPath in DOS form" "$mapped" "C:$(echo "$site" | tr / '\\')\\files\\hello.txt"
expect_contains "MapPath refuses leaving the root" "$mapped" "refused -2147467259"

# Buffer = false: the first part arrives while the page still waits for the body.
exec 3<>"/dev/tcp/127.0.0.1/$TV_PORT"
printf 'POST /stream.asp HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1\r\n\r\n' >&3
seen=""
deadline=$((SECONDS + 10))
while [ $SECONDS -lt $deadline ] && IFS= read -r -t 10 line <&3; do
  case "$line" in part1*) seen=yes; break ;; esac
done
expect_eq "unbuffered output arrives before the page ends" "yes" "$seen"
printf 'Z' >&3
rest=$(timeout 10 cat <&3 | tr -d '\r')
exec 3<&-
expect_match "unbuffered output then finishes, in chunks" "$rest" $'\r?\n6\npart2:\n1\n1\n'
expect_eq "unbuffered output ends with the last chunk" "0" "$(printf '%s\n' "$rest" | grep -v '^$' | tail -n1)"

# Keep-alive: two requests on one connection.
out=$(tv_curl -v "$TV_URL/expr.asp" "$TV_URL/files/hello.txt" 2>&1)
expect_contains "keep-alive reuses the connection" "$out" "Re-using existing connection"

tv_finish
