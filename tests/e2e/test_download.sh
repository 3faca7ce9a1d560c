#!/usr/bin/env bash
# Downloads through the demo site's download.asp (File.Download) served by
# `torvane serve`: a 50 MiB file read whole, resumed after a real interruption
# by `curl -C -` and by `wget -c`, a resume after the file changed (If-Range
# with the old entity tag or date gets the whole new file), `curl -z` (304),
# ranges clamped or refused (416), a client that goes away mid-transfer, and
# names that try to leave the uploads folder.
source "$(dirname "$0")/lib.sh"

for tool in curl wget md5sum; do
  command -v "$tool" >/dev/null || { fail "$tool is installed" "scripts/install-deps.sh installs it"; tv_finish; }
done

site="$TV_TMP/site"
cp -r "$TV_ROOT_DIR/examples/site" "$site"
rm -rf "$site/.uploads"
mkdir -p "$site/.uploads"
big="$site/.uploads/big.bin"
head -c $((50 * 1024 * 1024)) /dev/urandom > "$big"
size=$(stat -c %s "$big")
tv_serve --root "$site"
url="$TV_URL/download.asp?name=big.bin"
md5() { md5sum "$1" | cut -d' ' -f1; }
want=$(md5 "$big")
dl="$TV_TMP/dl"
mkdir -p "$dl"

# header NAME FILE: the value of one response header in a dump (no CR).
header() { grep -i "^$1:" "$2" | head -n1 | cut -d' ' -f2- | tr -d '\r'; }

# interrupted PART CMD...: runs a throttled download CMD in the background and
# stops it once PART holds some of the file (or after 10 seconds), so a real
# interruption leaves part of the file on disk without waiting out a timeout.
interrupted() {
  local part=$1 pid
  shift
  "$@" &
  pid=$!
  for _ in $(seq 100); do
    [ "$(stat -c %s "$part" 2>/dev/null || echo 0)" -gt 0 ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
}

# ---- a whole download -----------------------------------------------------
code=$(tv_curl -D "$dl/h0" -o "$dl/whole" -w '%{http_code}' "$url")
expect_eq "whole file: status" "200" "$code"
expect_eq "whole file: bytes" "$want" "$(md5 "$dl/whole")"
expect_eq "whole file: Content-Length" "$size" "$(header Content-Length "$dl/h0")"
expect_eq "whole file: Accept-Ranges" "bytes" "$(header Accept-Ranges "$dl/h0")"
expect_contains "whole file: attachment with the file name" "$(header Content-Disposition "$dl/h0")" 'attachment; filename="big.bin"'
etag=$(header Etag "$dl/h0")
lastmod=$(header Last-Modified "$dl/h0")
# The entity tag names this version: hexadecimal modification time and size.
expect_eq "entity tag: mtime-size in hex" "$(printf '"%x-%x"' "$(stat -c %Y "$big")" "$size")" "$etag"
expect_eq "Last-Modified is the file's date" "$(TZ=GMT date -r "$big" '+%a, %d %b %Y %H:%M:%S GMT')" "$lastmod"

# ---- curl -C - after a real interruption ------------------------------------
# The first transfer is throttled and stopped part way, so part of the file is
# on disk; the resume must ask for the rest only and end with the same bytes.
interrupted "$dl/curl.part" curl -s --limit-rate 4M -o "$dl/curl.part" "$url"
got=$(stat -c %s "$dl/curl.part" 2>/dev/null || echo 0)
if [ "$got" -gt 0 ] && [ "$got" -lt "$size" ]; then pass "curl: interrupted part way ($got bytes)"; else fail "curl: interrupted part way" "got $got of $size bytes"; fi
res=$(tv_curl -C - -o "$dl/curl.part" -w '%{http_code} %{size_download}' "$url")
expect_eq "curl -C -: 206 with the missing bytes only" "206 $((size - got))" "$res"
expect_eq "curl -C -: the resumed file matches" "$want" "$(md5 "$dl/curl.part")"

# ---- wget -c after a real interruption ---------------------------------------
interrupted "$dl/wget.part" wget -q --limit-rate=4m -O "$dl/wget.part" "$url"
got=$(stat -c %s "$dl/wget.part" 2>/dev/null || echo 0)
if [ "$got" -gt 0 ] && [ "$got" -lt "$size" ]; then pass "wget: interrupted part way ($got bytes)"; else fail "wget: interrupted part way" "got $got of $size bytes"; fi
log=$(timeout 60 wget -c -S -O "$dl/wget.part" "$url" 2>&1)
expect_contains "wget -c: 206" "$log" "HTTP/1.1 206 Partial Content"
expect_contains "wget -c: asked from where it stopped" "$log" "Content-Range: bytes $got-$((size - 1))/$size"
expect_eq "wget -c: the resumed file matches" "$want" "$(md5 "$dl/wget.part")"

# ---- curl -z: conditional GET ------------------------------------------------
# curl -R gives the local copy the server's date; -z with that copy sends it
# back as If-Modified-Since.
tv_curl -R -o "$dl/dated" "$url"
res=$(tv_curl -z "$dl/dated" -o "$dl/z.body" -w '%{http_code}' "$url")
expect_eq "curl -z with the file's date: 304" "304" "$res"
expect_eq "304: no body" "0" "$(stat -c %s "$dl/z.body" 2>/dev/null || echo 0)"
expect_eq "curl -z with the Last-Modified text: 304" "304" "$(tv_status "$url" -z "$lastmod")"
older=$(TZ=GMT date -d "@$(($(stat -c %Y "$big") - 1))" '+%a, %d %b %Y %H:%M:%S GMT')
expect_eq "If-Modified-Since one second off: 200" "200" "$(tv_status "$url" -H "If-Modified-Since: $older")"
expect_eq "If-Modified-Since that does not parse: 200" "200" "$(tv_status "$url" -H "If-Modified-Since: yesterday")"
# If-None-Match with the entity tag: 304; another tag sends the file even
# when If-Modified-Since matches (If-None-Match decides alone).
for c in "$etag|304" "W/$etag|304" "\"a-1\", $etag|304" "*|304" "\"a-1\"|200"; do
  code=$(tv_curl -o "$dl/inm.body" -w '%{http_code}' -H "If-None-Match: ${c%|*}" "$url")
  expect_eq "If-None-Match ${c%|*}: ${c#*|}" "${c#*|}" "$code"
done
rm -f "$dl/inm.body"
code=$(tv_curl -o "$dl/inm.body" -w '%{http_code}' -H 'If-None-Match: "a-1"' -H "If-Modified-Since: $lastmod" "$url")
expect_eq "If-None-Match another tag beats an equal If-Modified-Since: 200 and the file" "200 $want" "$code $(md5 "$dl/inm.body")"

# ---- ranges -----------------------------------------------------------------
res=$(tv_curl -D "$dl/hr" -o "$dl/r1" -w '%{http_code}' -r 100-199 "$url")
expect_eq "range 100-199: 206" "206" "$res"
expect_eq "range 100-199: Content-Range" "bytes 100-199/$size" "$(header Content-Range "$dl/hr")"
expect_eq "range 100-199: the bytes" "$(tail -c +101 "$big" | head -c 100 | md5sum | cut -d' ' -f1)" "$(md5 "$dl/r1")"
res=$(tv_curl -D "$dl/hr" -o "$dl/r2" -w '%{http_code}' -r -1000 "$url")
expect_eq "suffix range -1000: the last 1000 bytes" "206 bytes $((size - 1000))-$((size - 1))/$size $(tail -c 1000 "$big" | md5sum | cut -d' ' -f1)" \
  "$res $(header Content-Range "$dl/hr") $(md5 "$dl/r2")"
res=$(tv_curl -D "$dl/hr" -o "$dl/r3" -w '%{http_code}' -r "$((size - 10))-$((size + 5000))" "$url")
expect_eq "an end past the file is clamped" "206 bytes $((size - 10))-$((size - 1))/$size 10" \
  "$res $(header Content-Range "$dl/hr") $(stat -c %s "$dl/r3")"
res=$(tv_curl -D "$dl/hr" -o "$dl/r4" -w '%{http_code}' -r "-$((size + 10))" "$url")
expect_eq "a suffix longer than the file is the whole file" "206 bytes 0-$((size - 1))/$size $want" \
  "$res $(header Content-Range "$dl/hr") $(md5 "$dl/r4")"
res=$(tv_curl -D "$dl/hr" -o "$dl/r5" -w '%{http_code}' -r "$size-" "$url")
expect_eq "a range from the end: 416, bytes */size, no body" "416 bytes */$size 0" \
  "$res $(header Content-Range "$dl/hr") $(stat -c %s "$dl/r5")"
expect_eq "a reversed range: 416" "416" "$(tv_status "$url" -r 500-100)"
expect_eq "a range list: the whole file" "200" "$(tv_status "$url" -r 0-1,5-6)"
# Range and a still valid entity tag or date in If-Range: 206.
expect_eq "If-Range with the current entity tag: 206" "206" "$(tv_status "$url" -r 0-9 -H "If-Range: $etag")"
expect_eq "If-Range with the current date: 206" "206" "$(tv_status "$url" -r 0-9 -H "If-Range: $lastmod")"

# ---- a client that goes away ---------------------------------------------------
# Ten transfers at once, each cut short after a few bytes; the server goes on
# serving.
gone=()
for i in 1 2 3 4 5 6 7 8 9 10; do
  curl -s --max-time 0.5 --limit-rate 100K -o "$dl/gone.$i" "$url" &
  gone+=($!)
done
for pid in "${gone[@]}"; do wait "$pid" || true; done
partial=0
for i in 1 2 3 4 5 6 7 8 9 10; do
  n=$(stat -c %s "$dl/gone.$i" 2>/dev/null || echo 0)
  if [ "$n" -gt 0 ] && [ "$n" -lt "$size" ]; then partial=$((partial + 1)); fi
done
if [ "$partial" -gt 0 ]; then pass "abandoned downloads went away mid-transfer ($partial of 10)"; else fail "abandoned downloads went away mid-transfer" "none received part of the file"; fi
expect_eq "after abandoned downloads the file still comes whole" "$want" "$(tv_curl "$url" | md5sum | cut -d' ' -f1)"

# ---- the file changes under a partial copy --------------------------------------
# Keep the first 20 MiB of the old version, then replace the file by a new one
# (another size and date). A resume that names the old version in If-Range gets
# the whole new file with 200 and never a splice of both versions.
head -c $((20 * 1024 * 1024)) "$dl/whole" > "$dl/old.part"
head -c $((30 * 1024 * 1024 + 7)) /dev/urandom > "$big.new"
touch -d "@$(($(stat -c %Y "$big") + 3600))" "$big.new"
mv "$big.new" "$big"
wantnew=$(md5 "$big")
newsize=$(stat -c %s "$big")
partsize=$(stat -c %s "$dl/old.part")
res=$(tv_curl -D "$dl/hc" -o "$dl/changed" -w '%{http_code}' -H "Range: bytes=$partsize-" -H "If-Range: $etag" "$url")
expect_eq "resume with the old entity tag: 200" "200" "$res"
expect_eq "resume with the old entity tag: the whole new file" "$wantnew" "$(md5 "$dl/changed")"
expect_eq "resume with the old entity tag: no Content-Range" "" "$(header Content-Range "$dl/hc")"
newetag=$(header Etag "$dl/hc")
expect_eq "the new version has its own entity tag" "$(printf '"%x-%x"' "$(stat -c %Y "$big")" "$newsize")" "$newetag"
res=$(tv_curl -o "$dl/changed2" -w '%{http_code}' -H "Range: bytes=$partsize-" -H "If-Range: $lastmod" "$url")
expect_eq "resume with the old date in If-Range: 200 and the whole new file" "200 $wantnew" "$res $(md5 "$dl/changed2")"
res=$(tv_curl -o "$dl/changed3" -w '%{http_code}' -H "Range: bytes=$partsize-" -H "Unless-Modified-Since: $lastmod" "$url")
expect_eq "resume with the old date in Unless-Modified-Since: 200 and the whole new file" "200 $wantnew" "$res $(md5 "$dl/changed3")"
# A client that knows the new version resumes it.
cp "$dl/changed" "$dl/new.part"
truncate -s 12345678 "$dl/new.part"
res=$(tv_curl -C - -o "$dl/new.part" -w '%{http_code}' -H "If-Range: $newetag" "$url")
expect_eq "resume of the new version with its entity tag: 206 and the same bytes" "206 $wantnew" "$res $(md5 "$dl/new.part")"
expect_eq "curl -z with the old copy's date after the change: 200" "200" "$(tv_status "$url" -z "$dl/dated")"
expect_eq "If-None-Match with the old entity tag after the change: 200" "200" "$(tv_status "$url" -H "If-None-Match: $etag")"

# ---- names that try to leave the uploads folder ---------------------------------
for name in "../default.asp" "..%2fdefault.asp" "%2e%2e%5cdefault.asp" "sub%2fbig.bin" ".." "" ".hidden" "C:%5cetc%5cpasswd" "%2fetc%2fpasswd"; do
  body=$(tv_curl -o - -w '|%{http_code}' "$TV_URL/download.asp?name=$name")
  expect_eq "name \"$name\" refused with 400" "400" "${body##*|}"
  expect_not_contains "name \"$name\" sends no page source" "$body" "Language="
done
expect_eq "a missing name: 404" "404" "$(tv_status "$TV_URL/download.asp?name=missing.bin")"
expect_eq "the uploads folder is never served directly" "404" "$(tv_status "$TV_URL/.uploads/big.bin")"

# A file name with spaces, parentheses, an apostrophe and UTF-8 letters gets a
# safe header: an ASCII fallback and the exact name in RFC 5987 form.
printf 'hello' > "$site/.uploads/grüße (x) 'y'.txt"
tv_curl -D "$dl/hn" -o "$dl/named" "$TV_URL/download.asp?name=gr%C3%BC%C3%9Fe%20(x)%20'y'.txt"
expect_eq "an unusual name downloads" "hello" "$(cat "$dl/named")"
expect_eq "Content-Disposition of an unusual name" \
  "attachment; filename=\"gr__e (x) 'y'.txt\"; filename*=UTF-8''gr%C3%BC%C3%9Fe%20%28x%29%20%27y%27.txt" \
  "$(header Content-Disposition "$dl/hn")"
tv_finish
