#!/usr/bin/env bash
# The demo's documents page: a file uploaded with curl is stored in a SQLite
# table through File.Import, listed from a Recordset, downloaded back through
# File.Export into memory and File.Download with the same MD5, and deleted;
# bad requests get plain answers and leave no upload behind.
source "$(dirname "$0")/lib.sh"

site="$(tv_site)"
cp -r "$TV_ROOT_DIR/examples/site/." "$site/"
rm -rf "$site/.uploads" "$site/.data"
tv_serve --root "$site"
url="$TV_URL/documents.asp"

expect_eq "the empty list" "0 documents" "$(tv_curl "$url" | sed -n 's#.*<h2>\(.*\)</h2>.*#\1#p')"

head -c $((5 * 1024 * 1024 + 17)) /dev/urandom > "$TV_TMP/doc.bin"
want="$(md5sum < "$TV_TMP/doc.bin" | cut -d' ' -f1)"
location="$(tv_curl -o /dev/null -w '%{http_code} %{redirect_url}' \
  -F "document=@$TV_TMP/doc.bin;filename=report é.bin;type=application/x-report" "$url?action=upload")"
expect_eq "the upload is stored and redirects to the list" "302 $url?stored=1" "$location"

list="$(tv_curl "$url")"
expect_contains "the list names it" "$list" 'report é.bin</a>'
expect_contains "the list shows its size" "$list" "(5242897 bytes)"
expect_contains "the list shows the MD5 taken at upload" "$list" "<code>$want</code>"
expect_eq "no upload file is left behind" "" "$(ls -A "$site/.uploads")"
expect_eq "the database is not served" "404" "$(tv_status "$TV_URL/.data/documents.db")"

got="$(tv_curl -D "$TV_TMP/headers" "$url?id=1" | md5sum | cut -d' ' -f1)"
expect_eq "the download has the original's MD5" "$want" "$got"
headers="$(tr -d '\r' < "$TV_TMP/headers")"
expect_contains "the download keeps the content type" "$headers" "Content-Type: application/x-report"
expect_contains "the download names the file" "$headers" "filename*=UTF-8''report%20%C3%A9.bin"
expect_eq "a range of the document" "$(head -c 100 "$TV_TMP/doc.bin" | tail -c 10 | md5sum | cut -d' ' -f1)" \
  "$(tv_curl -r 90-99 "$url?id=1" | md5sum | cut -d' ' -f1)"

expect_eq "an unknown document" "404" "$(tv_status "$url?id=99")"
expect_eq "a document number that is no number" "400" "$(tv_status "$url?id=1%20OR%201=1")"
expect_eq "an upload without a file" "400" "$(tv_status "$url?action=upload" -F "other=x")"
expect_eq "a truncated upload" "400" "$(tv_status "$url?action=upload" -H 'Content-Type: multipart/form-data; boundary=XX' \
  --data-binary $'--XX\r\nContent-Disposition: form-data; name="document"; filename="a.bin"\r\n\r\nabc')"
expect_eq "failed uploads leave nothing behind" "" "$(ls -A "$site/.uploads")"
expect_eq "failed uploads store nothing" "1 document" "$(tv_curl "$url" | sed -n 's#.*<h2>\(.*\)</h2>.*#\1#p')"

expect_eq "delete answers with the list" "302" "$(tv_status "$url?delete=1" -X POST)"
expect_eq "the document is gone" "0 documents" "$(tv_curl "$url" | sed -n 's#.*<h2>\(.*\)</h2>.*#\1#p')"
expect_eq "its download is gone" "404" "$(tv_status "$url?id=1")"

tv_finish
