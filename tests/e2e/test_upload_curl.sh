#!/usr/bin/env bash
# Uploads through `torvane serve` posted by curl: text fields, several and
# binary files, a UTF-8 file name, every storage method, checked byte for byte;
# the naming rules against files already present; a truncated body.
source "$(dirname "$0")/lib.sh"

site=$(tv_site)
mkdir -p "$site/uploads"
# The upload page: Upload(path, method) with the method from the query string,
# then one line per input: "field|name|value" or
# "file|name|client name|stored name|size|md5|content type".
cat > "$site/up.asp" <<'PAGE'
<%
var post = Server.CreateObject("Torvane.Post");
var m = Request.QueryString("m");
post.Upload(Server.MapPath("uploads"), Number(m));
var e = new Enumerator(post.FormInputs);
for (; !e.atEnd(); e.moveNext()) {
  var input = e.item();
  if (input.File) {
    var f = input.File;
    Response.Write("file|" + input.Name + "|" + input.Value + "|" + f.FileName + "|" + f.Size + "|" + f.MD5 + "|" +
                   input.ContentType + "\n");
  } else {
    Response.Write("field|" + input.Name + "|" + input.Value + "\n");
  }
}
%>
PAGE
tv_serve --root "$site"

data="$TV_TMP/data"
mkdir -p "$data"
head -c 700000 /dev/urandom > "$data/one.bin"
head -c 333333 /dev/urandom > "$data/two.bin"
printf 'line one\r\n------not a boundary\r\nlast line without end' > "$data/text.txt"
printf 'tiny' > "$data/tiny.txt"
md5() { md5sum "$1" | cut -d' ' -f1; }

clean() { rm -f "$site/uploads/"*; }

# Text fields, repeated fields and several files under every storage method.
for m in 0 1 2 3 4; do
  clean
  out=$(tv_curl -F "note=hello world" -F "tag=a" -F "tag=b" -F "one=@$data/one.bin" \
        -F "two=@$data/two.bin;type=application/x-thing" -F "text=@$data/text.txt;type=text/plain" \
        "$TV_URL/up.asp?m=$m")
  expect_contains "method $m: field" "$out" "field|note|hello world"
  expect_contains "method $m: repeated field joined with a comma" "$out" "field|tag|a, b"
  for f in one two text; do
    src="$data/$f.bin"; [ -e "$src" ] || src="$data/$f.txt"
    line=$(grep "^file|$f|" <<<"$out")
    expect_eq "method $m: $f md5 reported by the page" "$(md5 "$src")" "$(cut -d'|' -f6 <<<"$line" | tr A-F a-f)"
    if [ "$m" != 4 ]; then
      # (an in-memory File reports the size last found on disk, so only disk files are checked)
      expect_eq "method $m: $f size" "$(stat -c %s "$src")" "$(cut -d'|' -f5 <<<"$line")"
      stored="$site/uploads/$(cut -d'|' -f4 <<<"$line")"
      expect_eq "method $m: $f stored byte for byte" "$(md5 "$src")" "$(md5 "$stored" 2>/dev/null)"
    fi
  done
  expect_contains "method $m: declared content type" "$out" "|application/x-thing"
  if [ "$m" = 4 ]; then
    expect_eq "in memory: nothing on disk" "" "$(ls "$site/uploads")"
  elif [ "$m" = 0 ]; then
    expect_eq "temporary names" "3" "$(ls "$site/uploads" | grep -c '^~LK')"
  else
    expect_eq "method $m: client names" "one.bin text.txt two.bin" "$(ls "$site/uploads" | tr '\n' ' ' | sed 's/ $//')"
  fi
done

# A UTF-8 file name is stored under that name.
clean
cp "$data/tiny.txt" "$data/grüße.txt"
out=$(tv_curl -F "f=@$data/grüße.txt" "$TV_URL/up.asp?m=1")
expect_contains "UTF-8 client name" "$out" "file|f|grüße.txt|grüße.txt|4|"
expect_eq "UTF-8 name on disk" "tiny" "$(cat "$site/uploads/grüße.txt" 2>/dev/null)"

# Versions beside existing files, and error-if-exists removing this post's files.
clean
printf 'old' > "$site/uploads/tiny.txt"
printf 'old1' > "$site/uploads/tiny(1).txt"
out=$(tv_curl -F "f=@$data/tiny.txt" "$TV_URL/up.asp?m=2")
expect_contains "make versions" "$out" "|tiny(2).txt|4|"
expect_eq "the older file is kept" "old" "$(cat "$site/uploads/tiny.txt")"
clean
printf 'old' > "$site/uploads/tiny.txt"
code=$(tv_status "$TV_URL/up.asp?m=3" -F "first=@$data/one.bin" -F "f=@$data/tiny.txt")
expect_eq "error if exists fails the page" "500" "$code"
expect_eq "error if exists leaves only the older file" "tiny.txt" "$(ls "$site/uploads")"
out=$(tv_curl "$TV_URL/up.asp?m=3" -F "first=@$data/one.bin" -F "f=@$data/tiny.txt")
expect_contains "error if exists names the field" "$out" "File f exists."

# A body that ends before its closing boundary stores nothing.
clean
boundary="----TorvaneE2E"
part=$(printf -- '--%s\r\nContent-Disposition: form-data; name="f"; filename="cut.bin"\r\nContent-Type: application/octet-stream\r\n\r\n' "$boundary")
{
  printf 'POST /up.asp?m=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=%s\r\nContent-Length: 900000\r\nConnection: close\r\n\r\n' "$boundary"
  printf '%s' "$part"
  head -c 200000 "$data/one.bin"
} > "$data/cut.req"
python3 - "$TV_PORT" "$data/cut.req" <<'PY'
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.sendall(open(sys.argv[2], "rb").read())
time.sleep(0.5)
s.close()
PY
for _ in $(seq 1 50); do [ -z "$(ls "$site/uploads")" ] && break; sleep 0.1; done
sleep 0.5
expect_eq "truncated body: no partial file" "" "$(ls "$site/uploads")"

# A file field without a file chosen: absent under the client-name methods.
clean
: > "$data/empty"
out=$(tv_curl -F "f=@$data/empty;filename=" -F "n=v" "$TV_URL/up.asp?m=1")
expect_contains "no file under overwrite: only the field" "$out" "field|n|v"
expect_not_contains "no file under overwrite: no input" "$out" "file|f|"

tv_finish
