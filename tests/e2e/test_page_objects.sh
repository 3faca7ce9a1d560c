#!/usr/bin/env bash
# The page objects as classic pages use them, through torvane run: Request's
# collections, items with several values and cookies; Response's cookies,
# headers and output control; Server.Execute / Transfer / ScriptTimeout /
# GetLastError; Application.Contents. Each case: a page, the request, and
# what its answer must hold.
source "$(dirname "$0")/lib.sh"

site=$(tv_site)
mkdir -p "$site/sub" "$site/errors"

page() { cat > "$site/$1"; }

page multi.asp <<'ASP'
<% var v = Request.QueryString("a"); %><%= v %>|<%= v.Count %>|<%= v(1) %>|<%= v.Item(2) %>|<%= v.Item %>|<%= v.Item() %>|<%= Request.QueryString.Count %>|<%= Request.QueryString.Key(2) %>|<%= Request.QueryString(2) %>|<%= String(Request.QueryString("b")) === "y" %>|<%= Request.QueryString("none") === undefined %>
ASP
page enum.asp <<'ASP'
<% var names = [];
   for (var e = new Enumerator(Request.QueryString); !e.atEnd(); e.moveNext()) names.push(e.item() + "=" + Request.QueryString(e.item()));
   var vals = [];
   for (var e = new Enumerator(Request.QueryString("a")); !e.atEnd(); e.moveNext()) vals.push(e.item()); %><%= names.join(";") %>|<%= vals.join("+") %>
ASP
page form.asp <<'ASP'
<% var f = Request.Form("n"); %><%= f %>|<%= f.Count %>|<%= f(2) %>|<%= Request.Form.Count %>|<%= Request.Form.Key(1) %>|<%= Request.Form("other").Item(1) %>
ASP
page search.asp <<'ASP'
<%= Request("k") %>|<%= Request("REQUEST_METHOD") %>|<%= Request("nothing") === undefined %>
ASP
page cookies.asp <<'ASP'
<% var c = Request.Cookies("c"), s = Request.Cookies("s"); %><%= c("k2") %>|<%= c.Item("k1") %>|<%= c.HasKeys %>|<%= c.Count %>|<%= c.Key(2) %>|<%= s %>|<%= s.HasKeys %>|<%= Request.Cookies.Count %>|<%= Request.Cookies.Key(2) %>|<%= Request.Cookies("missing") === undefined %>|<%= Request.Cookies("c")("k2") %>
ASP
page setcookie.asp <<'ASP'
<% Response.Cookies("a").Value = "x y;z";
   var c = Response.Cookies("b");
   c.SetValue("k1", "v1"); c.SetValue("k2", "v 2");
   c.Path = "/app"; c.Domain = "example.com"; c.Secure = true; c.HttpOnly = true; c.SameSite = "strict";
   c.Expires = new Date(Date.UTC(2030, 0, 2, 3, 4, 5));
   Response.Cookies("a").Value = "again"; %><%= Response.Cookies.Count %>|<%= c.HasKeys %>|<%= c.Item("k2") %>|<%= c.Path %>
ASP
page badcookie.asp <<'ASP'
<% var out = [];
   var tries = [function () { Response.Cookies("a").SameSite = "sometimes"; },
                function () { Response.Cookies("a").Path = "/x; Secure"; },
                function () { Response.Cookies("bad name").Value = "1"; }];
   for (var i = 0; i < tries.length; i++) { try { tries[i](); out.push("none"); } catch (e) { out.push(e.number); } } %><%= out.join(",") %>
ASP
page headers.asp <<'ASP'
<% Response.ContentType = "text/plain"; Response.Charset = "utf-8"; Response.CacheControl = "no-store";
   Response.AddHeader("X-Extra", "1");
   Response.ExpiresAbsolute = new Date(Date.UTC(2031, 4, 1, 0, 0, 0));
   Response.Status = "201 Created"; %><%= Response.Charset %>|<%= Response.Status %>|<%= Response.IsClientConnected %>|<%= Response.Buffer %>
ASP
page expires.asp <<'ASP'
<% Response.Expires = 5; %><%= Response.Expires %>
ASP
page redirect.asp <<'ASP'
before<% Response.Redirect("/elsewhere?a=1"); Response.Write("after"); %>
ASP
page clear.asp <<'ASP'
dropped<% Response.Clear(); %>kept<% Response.End(); %>never
ASP
page flush.asp <<'ASP'
a<% Response.Flush(); Response.Status = "404 Not Found"; %>b
ASP
page log.asp <<'ASP'
<% Response.AppendToLog("hello log\r\nforged line"); %>ok
ASP
page execute.asp <<'ASP'
1<% Server.Execute("sub/part.asp"); %>3<% try { Server.Execute("nope.asp"); } catch (e) { Response.Write("|" + e.number); } %>
ASP
page sub/part.asp <<'ASP'
<% Server.Execute("deeper.asp"); %>2
ASP
page sub/deeper.asp <<'ASP'
<%= Request.QueryString("q") %>
ASP
page transfer.asp <<'ASP'
1<% Server.Transfer("/sub/part.asp"); %>3
ASP
page timeout.asp <<'ASP'
<% var before = Server.ScriptTimeout; Server.ScriptTimeout = 1; var after = Server.ScriptTimeout;
   if (Request.QueryString("spin") == "1") { while (true) {} } %><%= before %>|<%= after %>
ASP
page fails.asp <<'ASP'
partial<% var post = Server.CreateObject("Torvane.Post");
   post.FormInputs = Server.CreateObject("Torvane.File"); %>
ASP
page errors/500.asp <<'ASP'
<% var e = Server.GetLastError(); %>custom|<%= e.Number %>|<%= e.File %>|<%= e.Line %>|<%= e.Category %>|<%= e.Description !== "" %>
ASP
page contents.asp <<'ASP'
<% Application.SetValue("a", 1); Application.SetValue("b", "two"); Application.SetValue("c", 3);
   var c = Application.Contents, names = [];
   for (var e = new Enumerator(c); !e.atEnd(); e.moveNext()) names.push(e.item());
   var first = c.Count + ":" + c("b") + ":" + c.Item(1) + ":" + c.Key(3);
   c.Remove("b"); var second = c.Count + ":" + (Application("b") === undefined);
   c.Remove(1); var third = c.Count + ":" + c.Key(1);
   c.RemoveAll(); %><%= names.join(",") %>|<%= first %>|<%= second %>|<%= third %>|<%= Application.Contents.Count %>
ASP
page formvalue.asp <<'ASP'
<% var v = Server.CreateObject("Torvane.cFormValue"); v.Add("a"); v.Add("b"); %><%= v.Item(2) %>|<%= v(1) %>|<%= encodeURIComponent(v.Item) %>|<%= v.Item == v.Item() %>|<%= v.Item.length %>
ASP
printf 'error_page = /errors/500.asp\n' > "$TV_TMP/errors.conf"

printf 'n=1&n=two+2&other=o' > "$TV_TMP/form.txt"
printf 'k=form' > "$TV_TMP/k.txt"
urlenc="Content-Type: application/x-www-form-urlencoded"

# name | run arguments (the page is last) | what the answer must hold
while IFS='|' read -r name args want; do
  [ -z "$name" ] && continue
  # shellcheck disable=SC2086
  out=$(eval "tv_run --root \"\$site\" $args" 2>"$TV_TMP/stderr" | tr -d '\r')
  expect_contains "$name" "$out" "$want"
done <<CASES
multi-valued query item|"/multi.asp?a=x&b=y&a=z"|x, z|2|x|z|x, z|x, z|2|b|y|True|True
collection and item enumeration|"/enum.asp?a=1&b=2&a=3"|a=1, 3;b=2|1+3
url-encoded form items|--method POST --header "$urlenc" --body "$TV_TMP/form.txt" /form.asp|1, two 2|2|two 2|2|n|o
Request(name) takes the query string first|--method POST --header "$urlenc" --header "Cookie: k=cookie" --body "$TV_TMP/k.txt" "/search.asp?k=query"|query|POST|True
Request(name) takes the form second|--method POST --header "$urlenc" --header "Cookie: k=cookie" --body "$TV_TMP/k.txt" /search.asp|form|POST|True
Request(name) takes cookies third|--header "Cookie: k=cookie" /search.asp|cookie|GET|True
request cookies and subkeys|--header "Cookie: c=k1=v1&k2=v%20two; s=plain%21" /cookies.asp|v two|v1|True|2|k2|plain!|False|2|s|True|v two
response cookie with subkeys and attributes|/setcookie.asp|Set-Cookie: b=k1=v1&k2=v%202; Expires=Wed, 02 Jan 2030 03:04:05 GMT; Domain=example.com; Path=/app; Secure; HttpOnly; SameSite=Strict
response cookie set twice gives one header|/setcookie.asp|Set-Cookie: a=again; Path=/
response cookie members read back|/setcookie.asp|2|True|v 2|/app
bad cookie attributes fail with 5|/badcookie.asp|5,5,5
charset joins the content type|/headers.asp|Content-Type: text/plain; charset=utf-8
cache control, added header and status|/headers.asp|HTTP/1.1 201 Created
ExpiresAbsolute writes Expires|/headers.asp|Expires: Thu, 01 May 2031 00:00:00 GMT
response members read back|/headers.asp|utf-8|201 Created|True|True
Expires in minutes reads back|/expires.asp|5
redirect answers 302 with Location|/redirect.asp|Location: /elsewhere?a=1
clear drops the buffer, end stops the page|/clear.asp|kept
execute runs pages inline and continues|"/execute.asp?q=Q"|1Q
execute of a missing page is an error|/execute.asp|3|-2147467259
transfer hands over and the caller stops|"/transfer.asp?q=T"|1T
script timeout reads and writes|/timeout.asp|90|1
custom error page reads the last error|--config "$TV_TMP/errors.conf" /fails.asp|custom|9010|/fails.asp|2|Runtime|True
Application.Contents|/contents.asp|a,b,c|3:two:1:c|2:true|1:c|0
an optional-parameter property read and called|/formvalue.asp|b|a|a%0D%0Ab|True|4
CASES

# Answers whose absence matters.
out=$(tv_run --root "$site" /redirect.asp | tr -d '\r')
expect_contains "redirect status" "$(head -n1 <<<"$out")" "302"
expect_not_contains "code after Redirect does not run" "$out" "after"
out=$(tv_run --root "$site" /clear.asp | tr -d '\r')
expect_not_contains "cleared output is gone" "$out" "dropped"
expect_not_contains "output after End is not written" "$out" "never"
out=$(tv_run --root "$site" /flush.asp | tr -d '\r')
expect_eq "status after Flush does not change" "HTTP/1.1 200 OK" "$(head -n1 <<<"$out")"
out=$(tv_run --root "$site" "/transfer.asp?q=T" | tr -d '\r')
expect_not_contains "code after Transfer does not run" "$(tail -n1 <<<"$out")" "3"
out=$(tv_run --root "$site" /headers.asp | tr -d '\r')
expect_contains "cache control" "$out" "Cache-Control: no-store"
expect_contains "added header" "$out" "X-Extra: 1"
out=$(tv_run --root "$site" /expires.asp | tr -d '\r')
expect_match "Expires header from minutes" "$out" "Expires: [A-Z][a-z][a-z], [0-9]{2} [A-Z][a-z][a-z] [0-9]{4} [0-9:]{8} GMT"
tv_run --root "$site" /log.asp >/dev/null 2>"$TV_TMP/log.err"
expect_contains "AppendToLog reaches the log on one line" "$(cat "$TV_TMP/log.err")" "page log /log.asp: \"hello log\\x0D\\x0Aforged line\""
out=$(tv_run --root "$site" "/timeout.asp?spin=1" 2>/dev/null | tr -d '\r')
expect_contains "a lowered ScriptTimeout stops the page" "$out" "more than 1 seconds of processor time"
out=$(tv_run --root "$site" /fails.asp | tr -d '\r')
expect_contains "without error_page the built-in error answer" "$out" "Torvane page error"
out=$(tv_run --root "$site" --config "$TV_TMP/errors.conf" /fails.asp | tr -d '\r')
expect_eq "custom error page status" "HTTP/1.1 500 Internal Server Error" "$(head -n1 <<<"$out")"
expect_not_contains "custom error page drops the failed page's output" "$out" "partial"

tv_finish
