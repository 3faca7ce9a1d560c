#!/usr/bin/env bash
# Sessions through torvane serve and curl cookie jars: the cookie's
# attributes, values kept between requests, two clients isolated, Abandon,
# a forged identifier, Secure behind a trusted proxy, the cookie's name.
source "$(dirname "$0")/lib.sh"

site=$(tv_site)
cat > "$site/count.asp" <<'ASP'
<% var n = (Session("n") || 0) + 1; Session.SetValue("n", n);
   if (Request.QueryString("who") != undefined) Session.SetValue("who", String(Request.QueryString("who"))); %>n=<%= n %>;who=<%= Session("who") %>;count=<%= Session.Contents.Count %>
ASP
cat > "$site/none.asp" <<'ASP'
no session here
ASP
cat > "$site/abandon.asp" <<'ASP'
<% var before = Session("n"); Session.Abandon(); %>before=<%= before %>
ASP
cat > "$site/info.asp" <<'ASP'
<%= Session.SessionID %>|<%= Session.Timeout %>|<%= Request.ServerVariables("REMOTE_ADDR") %>|<%= Request.ServerVariables("HTTPS") %>
ASP
cat > "$site/object.asp" <<'ASP'
<% try { Session.SetValue("o", Server.CreateObject("Torvane.File")); Response.Write("stored"); } catch (e) { Response.Write(e.number); } %>
ASP
printf 'session_cookie = SID\ntrusted_proxies = 127.0.0.1\n' > "$TV_TMP/serve.conf"
tv_serve --root "$site" --config "$TV_TMP/serve.conf"

# The cookie and its attributes, set once on first use only.
headers=$(tv_curl -D - -o /dev/null "$TV_URL/count.asp" | tr -d '\r')
cookie=$(grep -i '^Set-Cookie: SID=' <<<"$headers")
expect_match "session cookie: 160-bit identifier, HttpOnly, SameSite=Lax, Path=/" "$cookie" \
  '^Set-Cookie: SID=[0-9a-f]{40}; Path=/; HttpOnly; SameSite=Lax$'
expect_not_contains "no Secure over plain HTTP" "$cookie" "Secure"
expect_not_contains "a page without Session sets no cookie" "$(tv_curl -D - -o /dev/null "$TV_URL/none.asp")" "Set-Cookie"

# Two clients: values follow each client's cookie and never cross.
jar_a="$TV_TMP/a.jar" jar_b="$TV_TMP/b.jar"
tv_curl -c "$jar_a" -b "$jar_a" "$TV_URL/count.asp?who=alice" >/dev/null
tv_curl -c "$jar_b" -b "$jar_b" "$TV_URL/count.asp?who=bob" >/dev/null
expect_eq "client A keeps its values" "n=2;who=alice;count=2" "$(tv_curl -c "$jar_a" -b "$jar_a" "$TV_URL/count.asp")"
expect_eq "client B keeps its own" "n=2;who=bob;count=2" "$(tv_curl -c "$jar_b" -b "$jar_b" "$TV_URL/count.asp")"
again=$(tv_curl -D - -c "$jar_a" -b "$jar_a" "$TV_URL/count.asp" | tr -d '\r')
expect_not_contains "a known session sets no new cookie" "$again" "Set-Cookie"

# Abandon: the values stay readable in the page, then they are gone.
expect_eq "abandon reads the values first" "before=3" "$(tv_curl -c "$jar_a" -b "$jar_a" "$TV_URL/abandon.asp")"
expect_eq "after Abandon the session starts afresh" "n=1;who=;count=1" "$(tv_curl -c "$jar_a" -b "$jar_a" "$TV_URL/count.asp")"

# A forged or unknown identifier never becomes a session: a new one is made.
forged=0123456789abcdef0123456789abcdef01234567
out=$(tv_curl -D - -H "Cookie: SID=$forged" "$TV_URL/info.asp" | tr -d '\r')
expect_not_contains "a forged identifier is not taken" "$(tail -n1 <<<"$out")" "$forged"
expect_match "a fresh identifier replaces it" "$out" "Set-Cookie: SID=[0-9a-f]{40}"
expect_contains "timeout default 20 minutes" "$(tail -n1 <<<"$out")" "|20|"

# Behind a trusted proxy: client address and scheme from X-Forwarded-*; Secure cookie.
out=$(tv_curl -D - -H "X-Forwarded-For: 203.0.113.9, 127.0.0.1" -H "X-Forwarded-Proto: https" "$TV_URL/info.asp" | tr -d '\r')
expect_contains "REMOTE_ADDR and HTTPS from the trusted proxy" "$(tail -n1 <<<"$out")" "|203.0.113.9|on"
expect_match "Secure cookie over HTTPS" "$out" "Set-Cookie: SID=[0-9a-f]{40}; Path=/; HttpOnly; SameSite=Lax; Secure"
out=$(tv_curl -H "X-Forwarded-For: 198.51.100.7, <script>" "$TV_URL/info.asp")
expect_contains "a forwarded entry that is no address is not taken" "$out" "|127.0.0.1|off"
expect_eq "objects are refused" "-2147467259" "$(tv_curl "$TV_URL/object.asp")"
tv_stop

# An untrusted peer's X-Forwarded-* headers are ignored.
tv_serve --root "$site"
out=$(tv_curl -D - -H "X-Forwarded-For: 203.0.113.9" -H "X-Forwarded-Proto: https" "$TV_URL/info.asp" | tr -d '\r')
expect_contains "untrusted forwarding headers are ignored" "$(tail -n1 <<<"$out")" "|127.0.0.1|off"
expect_match "default cookie name, not Secure" "$(grep '^Set-Cookie' <<<"$out")" '^Set-Cookie: TVSESSIONID=[0-9a-f]{40}; Path=/; HttpOnly; SameSite=Lax$'
tv_stop

# A bounded store: past session_max a new visitor's page fails; the live
# session keeps its values.
printf 'session_max = 1\n' > "$TV_TMP/max.conf"
tv_serve --root "$site" --config "$TV_TMP/max.conf"
jar="$TV_TMP/max.jar"
tv_curl -c "$jar" -b "$jar" "$TV_URL/count.asp" >/dev/null
out=$(tv_curl -w '\n%{http_code}' "$TV_URL/count.asp")
expect_match "a session past session_max is refused" "$out" $'\n''500$'
expect_contains "the refusal names the setting" "$out" "sessions (session_max)"
expect_eq "the live session keeps its values" "n=2;who=;count=1" "$(tv_curl -b "$jar" "$TV_URL/count.asp" | tr -d '\n')"
tv_stop

tv_finish
