#!/usr/bin/env bash
# The bundled demo site, served as `make demo` serves it (no --root).
source "$(dirname "$0")/lib.sh"

tv_serve
expect_contains "serve names the demo site on its first line" "$(head -n1 "$TV_LOG")" "examples/site on http://127.0.0.1:$TV_PORT/"
home=$(tv_curl "$TV_URL/")
expect_contains "home page" "$home" "Torvane demo site"
expect_contains "home page links the Post page" "$home" 'href="post.asp"'
post=$(tv_curl "$TV_URL/post.asp?MaxFileSize=5000&CodePage=1252")
expect_contains "Post settings shown" "$post" "<tr><th>MaxFileSize</th><td>5000</td></tr>"
expect_contains "Post ToXML shown" "$post" "&lt;codepage&gt;1252&lt;/codepage&gt;"
expect_contains "request page" "$(tv_curl "$TV_URL/request.asp?greeting=hi")" "<tr><th>greeting</th><td>hi</td></tr>"
first=$(tv_curl "$TV_URL/visits.asp" | grep -o '<strong>[0-9]*</strong>')
second=$(tv_curl "$TV_URL/visits.asp" | grep -o '<strong>[0-9]*</strong>')
expect_eq "visits counted across requests" "<strong>1</strong> <strong>2</strong>" "$first $second"
expect_eq "stylesheet served" "200" "$(tv_status "$TV_URL/style.css")"
tv_finish
