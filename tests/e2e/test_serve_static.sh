#!/usr/bin/env bash
# Static files through `torvane serve` answer like a web server, checked with
# curl: ETag, Last-Modified, Date and Accept-Ranges; 304 for If-None-Match
# (lists, "*", weak comparison) and If-Modified-Since (If-None-Match wins);
# 206 for one range (-r a-b, a-, -n; in the head's buffer and by sendfile);
# 416 outside the file; If-Range by tag and by date; several ranges give the
# whole file; HEAD gives the same head without a body; charset on text types
# (the static_charset setting changes or removes it).
source "$(dirname "$0")/lib.sh"

site=$(tv_site)
# 1000 bytes of text, 200000 bytes of binary (past the size sent inside the
# head, so its ranges go out by sendfile), an empty file, and one file per type.
for i in $(seq 0 99); do printf 'line %03d.\n' "$i"; done > "$site/text.txt"
head -c 200000 /dev/urandom > "$site/data.bin"
: > "$site/empty.txt"
for ext in css js json xml svg html png; do echo "x" > "$site/f.$ext"; done
touch -d '2024-03-05 06:07:08 UTC' "$site/text.txt" "$site/data.bin" "$site/empty.txt"
tv_serve --root "$site"

out="$TV_TMP/out"
mkdir -p "$out"
header() { grep -i "^$1:" "$2" | head -n1 | cut -d' ' -f2- | tr -d '\r'; }
tag_of() { printf '"%x-%x"' "$(stat -c %Y "$1")" "$(stat -c %s "$1")"; }
date_of() { TZ=GMT date -d "@$1" '+%a, %d %b %Y %H:%M:%S GMT'; }
mtime=$(stat -c %Y "$site/text.txt")
etag=$(tag_of "$site/text.txt")
lastmod=$(date_of "$mtime")
later=$(date_of $((mtime + 1)))
earlier=$(date_of $((mtime - 100)))

# check NAME FILE STATUS BODY CURL-ARGS...: one request for /FILE; BODY is
# "whole", "none" or "FIRST-LAST" (the bytes expected, offsets from 0).
check() {
  local name=$1 file=$2 status=$3 body=$4
  shift 4
  local path="$site/$file" size code
  size=$(stat -c %s "$path")
  rm -f "$out/b"
  : > "$out/b"
  code=$(tv_curl -D "$out/h" -o "$out/b" -w '%{http_code}' "$@" "$TV_URL/$file")
  expect_eq "$name: status" "$status" "$code"
  expect_eq "$name: ETag" "$(tag_of "$path")" "$(header ETag "$out/h")"
  expect_eq "$name: Last-Modified" "$(date_of "$(stat -c %Y "$path")")" "$(header Last-Modified "$out/h")"
  expect_match "$name: Date" "$(header Date "$out/h")" '^[A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9:]{8} GMT$'
  case "$status" in
    304) expect_eq "$name: no Content-Length" "" "$(header Content-Length "$out/h")" ;;
    *) expect_eq "$name: Accept-Ranges" "bytes" "$(header Accept-Ranges "$out/h")" ;;
  esac
  case "$body" in
    whole)
      expect_eq "$name: Content-Length" "$size" "$(header Content-Length "$out/h")"
      cmp -s "$out/b" "$path" && pass "$name: the whole file" || fail "$name: the whole file" "body differs"
      expect_eq "$name: no Content-Range" "" "$(header Content-Range "$out/h")" ;;
    none)
      # (curl -I writes the head where the body would go)
      [ "$1" = -I ] || expect_eq "$name: no body" "0" "$(stat -c %s "$out/b")"
      [ "$status" = 416 ] && expect_eq "$name: Content-Range" "bytes */$size" "$(header Content-Range "$out/h")" ;;
    *)
      local first=${body%-*} last=${body#*-}
      expect_eq "$name: Content-Range" "bytes $first-$last/$size" "$(header Content-Range "$out/h")"
      expect_eq "$name: Content-Length" "$((last - first + 1))" "$(header Content-Length "$out/h")"
      tail -c +"$((first + 1))" "$path" | head -c "$((last - first + 1))" > "$out/want"
      cmp -s "$out/b" "$out/want" && pass "$name: the range's bytes" || fail "$name: the range's bytes" "body differs" ;;
  esac
}

# name | file | status | body | curl arguments
check "plain GET" text.txt 200 whole
check "range a-b" text.txt 206 0-99 -r 0-99
check "range a-" text.txt 206 100-999 -r 100-
check "range -n" text.txt 206 900-999 -r -100
check "range end past the file is cut" text.txt 206 900-999 -r 900-5000
check "suffix longer than the file" text.txt 206 0-999 -r -5000
check "range start at the end" text.txt 416 none -r 1000-
check "range end before start" text.txt 416 none -r 500-100
check "several ranges: whole file" text.txt 200 whole -r 0-1,5-6
check "malformed range: whole file" text.txt 200 whole -H 'Range: bytes=x-1'
check "another unit: whole file" text.txt 200 whole -H 'Range: items=0-1'
check "range of the empty file" empty.txt 416 none -r 0-
check "empty file" empty.txt 200 whole
check "binary range by sendfile" data.bin 206 50000-149999 -r 50000-149999
check "binary whole by sendfile" data.bin 200 whole
check "binary suffix" data.bin 206 199990-199999 -r -10
check "If-Modified-Since equal (-z)" text.txt 304 none -z "$lastmod"
# (-H: curl -z would itself turn a 200 older than its date into 304)
check "If-Modified-Since one second later" text.txt 200 whole -H "If-Modified-Since: $later"
check "If-Modified-Since unreadable" text.txt 200 whole -H 'If-Modified-Since: soon'
check "If-None-Match the tag" text.txt 304 none -H "If-None-Match: $etag"
check "If-None-Match weak" text.txt 304 none -H "If-None-Match: W/$etag"
check "If-None-Match list" text.txt 304 none -H "If-None-Match: \"a-1\", $etag"
check "If-None-Match star" text.txt 304 none -H 'If-None-Match: *'
check "If-None-Match other" text.txt 200 whole -H 'If-None-Match: "a-1"'
check "If-None-Match other beats a date match" text.txt 200 whole -H 'If-None-Match: "a-1"' -H "If-Modified-Since: $lastmod"
check "If-None-Match hit beats a date miss" text.txt 304 none -H "If-None-Match: $etag" -H "If-Modified-Since: $earlier"
check "If-None-Match wins over a range" text.txt 304 none -H "If-None-Match: $etag" -r 0-9
check "If-Range the tag" text.txt 206 10-19 -r 10-19 -H "If-Range: $etag"
check "If-Range the date" text.txt 206 10-19 -r 10-19 -H "If-Range: $lastmod"
check "If-Range another tag" text.txt 200 whole -r 10-19 -H 'If-Range: "a-1"'
check "If-Range a weak tag" text.txt 200 whole -r 10-19 -H "If-Range: W/$etag"
check "If-Range another date" text.txt 200 whole -r 10-19 -H "If-Range: $later"
check "If-Range changed, range outside" text.txt 200 whole -r 5000- -H 'If-Range: "a-1"'
check "HEAD" text.txt 200 none -I
expect_eq "HEAD: Content-Length of the whole file" "1000" "$(header Content-Length "$out/h")"
check "HEAD of a range" text.txt 206 none -I -r 10-19
expect_eq "HEAD of a range: Content-Range" "bytes 10-19/1000" "$(header Content-Range "$out/h")"
expect_eq "HEAD of a range: Content-Length" "10" "$(header Content-Length "$out/h")"

# HEAD on the wire: the head ends the answer, no byte follows it.
raw_head() {
  exec 3<>"/dev/tcp/127.0.0.1/$TV_PORT"
  printf 'HEAD /%s HTTP/1.1\r\nHost: t\r\n%sConnection: close\r\n\r\n' "$1" "$2" >&3
  timeout 10 cat <&3 > "$out/raw"
  exec 3<&-
}
for what in "data.bin|" "text.txt|Range: bytes=0-9\r\n" "text.txt|If-None-Match: $etag\r\n"; do
  raw_head "${what%%|*}" "${what#*|}"
  expect_eq "HEAD ${what}: the answer ends with its head" "$(grep -c $'^\r$' "$out/raw") $(tail -c 2 "$out/raw" | od -An -c | tr -d ' ')" "1 \r\n"
done

# A resumed download of a changed file: the old tag no longer holds.
old=$etag
head -c 1000 /dev/urandom > "$site/text.txt"
touch -d '2024-03-05 06:07:09 UTC' "$site/text.txt"
check "changed file, old If-None-Match" text.txt 200 whole -H "If-None-Match: $old"
check "changed file, old If-Range" text.txt 200 whole -r 0-9 -H "If-Range: $old"
expect_eq "changed file: a new tag" "$(tag_of "$site/text.txt")" "$(header ETag "$out/h")"

# Keep-alive across answers of every kind on one connection (curl reuses it).
codes=$(tv_curl -o /dev/null -o /dev/null -o /dev/null -o /dev/null -w '%{http_code} %{num_connects}\n' \
  "$TV_URL/data.bin" -r 0-9 "$TV_URL/text.txt" "$TV_URL/empty.txt" "$TV_URL/data.bin" | tr '\n' ' ')
expect_eq "four answers on one connection" "206 1 206 0 416 0 206 0 " "$codes"

# Content types: charset=utf-8 on text types only.
ctype() { header Content-Type <(tv_curl -sI "$TV_URL/$1"); }
for pair in "f.css|text/css; charset=utf-8" "f.js|application/javascript; charset=utf-8" \
            "f.json|application/json; charset=utf-8" "f.xml|application/xml; charset=utf-8" \
            "f.svg|image/svg+xml; charset=utf-8" "f.html|text/html; charset=utf-8" "f.png|image/png" \
            "data.bin|application/octet-stream"; do
  expect_eq "Content-Type of ${pair%%|*}" "${pair#*|}" "$(ctype "${pair%%|*}")"
done
tv_stop
printf 'static_charset = iso-8859-1\n' > "$TV_TMP/latin.conf"
tv_serve --root "$site" --config "$TV_TMP/latin.conf"
expect_eq "static_charset names another charset" "text/css; charset=iso-8859-1" "$(ctype f.css)"
tv_stop
printf 'static_charset =\n' > "$TV_TMP/none.conf"
tv_serve --root "$site" --config "$TV_TMP/none.conf"
expect_eq "static_charset empty: no charset" "text/css" "$(ctype f.css)"
tv_stop
printf 'static_charset = utf-8"; x\n' > "$TV_TMP/bad.conf"
if "$TORVANE" serve --root "$site" --listen 127.0.0.1:0 --config "$TV_TMP/bad.conf" > "$TV_TMP/bad.log" 2>&1; then
  fail "a bad static_charset is refused" "the server started"
else
  expect_contains "a bad static_charset is refused" "$(cat "$TV_TMP/bad.log")" "static_charset"
fi

tv_finish
