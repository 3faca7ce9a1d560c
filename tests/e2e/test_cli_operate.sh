#!/usr/bin/env bash
# Operating the server: the command line (help, version, both option forms,
# one wording for mistakes, a site root that must be a folder), configuration
# files (paths relative to the file, size suffixes, a key given twice), the
# access log in the combined format with each request's duration, the error
# lines of the server's log, and the host's own error pages.
source "$(dirname "$0")/lib.sh"

# cli NAME WANT_STATUS WANT_TEXT ARGS...: runs torvane ARGS, checks its exit
# status and that its output (stdout and stderr) holds WANT_TEXT.
cli() {
  local name="$1" want_rc="$2" want_text="$3"
  shift 3
  local out rc
  out="$(timeout 10 "$TORVANE" "$@" 2>&1)"
  rc=$?
  expect_eq "$name: exit status" "$want_rc" "$rc"
  expect_contains "$name: text" "$out" "$want_text"
}

site="$(tv_site)"
printf '<%% Response.Write("hello " + Request.QueryString("who")); %%>' > "$site/hello.asp"
printf '<%% null.x; %%>' > "$site/fail.asp"
printf '<%% Response.AppendToLog("user=ann"); Response.AppendToLog("step \\"two\\""); %%>ok' > "$site/note.asp"
printf 'plain' > "$site/file.txt"

cli "--version" 0 "torvane 0.9.0" --version
cli "--help" 0 "torvane serve [OPTIONS]" --help
cli "serve --help" 0 "--listen HOST:PORT" serve --help
cli "serve --help names --access-log" 0 "--access-log PATH" serve --help
cli "run --help" 0 "usage: torvane run [OPTIONS] PATH[?QUERY]" run --help
cli "run --help names --header" 0 '--header "NAME: VALUE"' run --help
cli "serve: an unknown option" 2 $'torvane serve: unknown option --bogus\nTry "torvane serve --help".' serve --bogus
cli "run: an unknown option, the same words" 2 $'torvane run: unknown option --bogus\nTry "torvane run --help".' run --bogus=1 /x
cli "an unknown command" 2 $'torvane: unknown command bogus\nTry "torvane --help".' bogus
cli "an unknown top-level option" 2 "torvane: unknown option --bogus" --bogus
cli "serve: a missing value" 2 "torvane serve: option --listen needs a value (HOST:PORT)" serve --listen
cli "serve: a value for an option without one" 2 "unknown option --nope" serve --nope=1
cli "serve: a stray argument" 2 "torvane serve: unexpected argument extra" serve extra
cli "serve: a missing root" 1 "torvane serve: $TV_TMP/none: the site root does not exist" serve --root "$TV_TMP/none" --listen 127.0.0.1:0
cli "serve: a root that is a file" 1 "torvane serve: $site/file.txt: the site root is not a folder" serve --root="$site/file.txt" --listen=127.0.0.1:0
cli "run: a missing site" 1 "torvane run: $TV_TMP/none: the site root does not exist" run --root "$TV_TMP/none" /hello.asp
cli "run: --name=value" 0 "hello ann" run --root="$site" "/hello.asp?who=ann"
cli "run: --header=value" 0 "hello bob" run --root "$site" --header="X-A: 1" --method=GET "/hello.asp?who=bob"

# Configuration files: a relative root is the file's neighbour; a key given
# twice, a bad listen value and sizes are reported with file and line.
mkdir -p "$TV_TMP/etc"
printf 'root = ../site-rel\nmax_request_bytes = 1K\n' > "$TV_TMP/etc/rel.conf"
cp -r "$site" "$TV_TMP/site-rel"
cli "a relative root is taken from the configuration file's folder" 0 "hello cy" \
  run --config "$TV_TMP/etc/rel.conf" "/hello.asp?who=cy"
printf 'workers = 2\nworkers = 3\n' > "$TV_TMP/etc/twice.conf"
cli "a key given twice" 1 "twice.conf:2: \"workers\" is set twice (first on line 1)" serve --config "$TV_TMP/etc/twice.conf"
printf '\n\nlisten = nowhere\n' > "$TV_TMP/etc/listen.conf"
cli "a bad listen names file and line" 1 "listen.conf:3: listen: expected HOST:PORT" serve --config "$TV_TMP/etc/listen.conf"
printf 'max_request_bytes = 2T\n' > "$TV_TMP/etc/size.conf"
cli "a bad size" 1 "size.conf:1: max_request_bytes: expected a size" run --config "$TV_TMP/etc/size.conf" --root "$site" /hello.asp

# The access log: one combined-format line per request, with its duration,
# in the order the requests ended; host answers and page errors also go to
# the server's log with time, client, method, path and status.
# (tv_serve's own probe of "/" is the first line of each log; lines after it count.)
tv_serve --root "$site" --config "$TV_TMP/etc/rel.conf" --access-log "$TV_TMP/access.log"
sleep 0.3
skip=$(wc -l < "$TV_TMP/access.log")
skip_errors=$(grep -cE '^\[[^]]*\] error ' "$TV_LOG")
tv_curl -o /dev/null -A 'Tester/1.0' -e 'http://ref.example/' "$TV_URL/hello.asp?who=dee"
tv_curl -o /dev/null "$TV_URL/file.txt"
tv_curl -o /dev/null -A 'quote"agent' "$TV_URL/missing.asp"
tv_curl -o /dev/null --data-binary @/dev/null -H 'Content-Length: 5000' "$TV_URL/hello.asp"
tv_curl -o /dev/null "$TV_URL/fail.asp"
tv_curl -o /dev/null "$TV_URL/note.asp"
sleep 0.3
log="$(tail -n +"$((skip + 1))" "$TV_TMP/access.log")"
expect_eq "six requests, six lines" "6" "$(wc -l <<<"$log")"
when='\[[0-9]{2}/[A-Z][a-z]{2}/[0-9]{4}:[0-9]{2}:[0-9]{2}:[0-9]{2} \+0000\]'
expect_match "a page: combined format and duration" "$(sed -n 1p <<<"$log")" \
  "^127\.0\.0\.1 - - $when \"GET /hello\.asp\?who=dee HTTP/1\.1\" 200 9 \"http://ref\.example/\" \"Tester/1\.0\" [0-9]+\.[0-9]{3}$"
expect_match "a static file with its length" "$(sed -n 2p <<<"$log")" "\"GET /file\.txt HTTP/1\.1\" 200 5 \"-\" \"curl/[^\"]*\" [0-9]+\.[0-9]{3}$"
expect_match "a 404 with a quote in the agent escaped" "$(sed -n 3p <<<"$log")" "\"GET /missing\.asp HTTP/1\.1\" 404 [0-9]+ \"-\" \"quote\\\\x22agent\" "
expect_match "a body over max_request_bytes (1K) is a 413" "$(sed -n 4p <<<"$log")" "\"POST /hello\.asp HTTP/1\.1\" 413 [0-9]+ "
expect_match "a failing page is a 500" "$(sed -n 5p <<<"$log")" "\"GET /fail\.asp HTTP/1\.1\" 500 [0-9]+ "
expect_match "Response.AppendToLog text ends the line, quoted" "$(sed -n 6p <<<"$log")" \
  "\"GET /note\.asp HTTP/1\.1\" 200 2 \"-\" \"curl/[^\"]*\" [0-9]+\.[0-9]{3} \"user=ann, step \\\\x22two\\\\x22\"$"
stamp='^\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\]'
errors="$(grep -E '^\[[^]]*\] error ' "$TV_LOG" | tail -n +"$((skip_errors + 1))")"
expect_match "error log: the 404" "$(grep ' 404 ' <<<"$errors")" "$stamp error 404 client 127\.0\.0\.1 GET /missing\.asp: There is no page or file at this address\.$"
expect_match "error log: the 413" "$(grep ' 413 ' <<<"$errors")" "$stamp error 413 client 127\.0\.0\.1 POST /hello\.asp: The request body is larger than 1024 bytes\.$"
expect_match "error log: the page error" "$(grep ' 500 ' <<<"$errors")" "$stamp error 500 client 127\.0\.0\.1 GET /fail\.asp: the page failed$"
expect_eq "error log: nothing for the answered pages" "3" "$(grep -c . <<<"$errors")"

# The host's own answers are styled pages; a template replaces them.
page="$(tv_curl "$TV_URL/missing.asp")"
expect_contains "the 404 page is HTML" "$page" "<title>404 Not Found</title>"
expect_contains "the 404 page fits a phone" "$page" 'name="viewport"'
printf '<p id="mine">{{status}}|{{reason}}|{{message}}</p>\n' > "$TV_TMP/etc/error.html"
printf 'error_template = error.html\naccess_log = -\n' > "$TV_TMP/etc/pages.conf"
tv_serve --root "$site" --config "$TV_TMP/etc/pages.conf"
expect_eq "error_template: the operator's template, relative to its file" '<p id="mine">404|Not Found|There is no page or file at this address.</p>' \
  "$(tv_curl "$TV_URL/nothing.txt")"
tv_curl -o /dev/null "$TV_URL/file.txt"
sleep 0.3
expect_match "access_log = -: lines on standard output" "$(cat "$TV_LOG")" "\"GET /file\.txt HTTP/1\.1\" 200 5 "
printf 'error_template = missing.html\n' > "$TV_TMP/etc/nopage.conf"
cli "a template that cannot be read" 1 "missing.html: cannot read the error page template" \
  serve --root "$site" --config "$TV_TMP/etc/nopage.conf" --listen 127.0.0.1:0

# SIGHUP reopens the access log after it was moved away (log rotation).
tv_serve --root "$site" --access-log "$TV_TMP/rot.log"
tv_curl -o /dev/null "$TV_URL/file.txt"
sleep 0.3
mv "$TV_TMP/rot.log" "$TV_TMP/rot.log.1"
kill -HUP "$TV_PID"
for _ in $(seq 50); do grep -q "configuration reloaded" "$TV_LOG" && break; sleep 0.1; done
tv_curl -o /dev/null "$TV_URL/hello.asp"
sleep 0.3
expect_contains "before the rotation: the old file" "$(cat "$TV_TMP/rot.log.1")" '"GET /file.txt HTTP/1.1" 200 5'
expect_not_contains "before the rotation: nothing later" "$(cat "$TV_TMP/rot.log.1")" '/hello.asp' 
expect_contains "after SIGHUP: a new file" "$(cat "$TV_TMP/rot.log" 2>/dev/null)" '"GET /hello.asp HTTP/1.1" 200'
tv_finish
