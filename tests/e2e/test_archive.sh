#!/usr/bin/env bash
# End to end: pages drive Torvane.Archive through `torvane run`; the archives
# they write pass the real tools, and a hostile archive extracts nothing
# outside its destination.
set -euo pipefail
TORVANE=${TORVANE:-build/torvane}
for tool in unzip 7z tar; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 0; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
site="$work/site"
mkdir -p "$site/in/sub" "$site/out" "$site/evil/inner"
printf 'hello\n' > "$site/in/a.txt"
head -c 100000 /dev/urandom > "$site/in/sub/b.bin"

fail() { echo "FAIL: $*"; exit 1; }
body() { sed '1,/^\r\{0,1\}$/d'; }  # the response body after the blank line

cat > "$site/make.asp" <<'ASP'
<%
var a = Server.CreateObject("Torvane.Archive");
a.Password = "e2e-pass";
a.NewArchive("out/made.ZIP");
a.Add("in/*", true);
a.SaveArchive();
for (var en = new Enumerator(a.Entries); !en.atEnd(); en.moveNext())
  Response.Write(en.item().Path + "|" + en.item().IsDirectory + "|" + en.item().UnCompressedSize + "\n");
a.Password = "";
a.NewArchive("out/made.tar", TV_ARCHIVE_TAR);
a.Add("in/*", true);
a.SaveArchive();
%>
ASP
out=$("$TORVANE" run --root "$site" /make.asp | body)
expected=$'a.txt|false|6\nsub|true|0\nsub\\b.bin|false|100000'
[ "$out" = "$expected" ] || fail "listing was: $out"
7z t -pe2e-pass "$site/out/made.ZIP" >/dev/null || fail "7z t with the password"
7z l -slt -pe2e-pass "$site/out/made.ZIP" | grep -q 'Method = AES-256' || fail "not AES-256"
if 7z t -pwrong "$site/out/made.ZIP" >/dev/null 2>&1; then fail "wrong password accepted"; fi
tar -tvf "$site/out/made.tar" | grep -q 'sub/b.bin' || fail "tar -tvf"
mkdir -p "$work/t" && tar -xf "$site/out/made.tar" -C "$work/t"
cmp "$work/t/sub/b.bin" "$site/in/sub/b.bin" || fail "tar content"

# A TAR whose member climbs out of the destination.
printf 'outside\n' > "$site/evil/escape.txt"
(cd "$site/evil/inner" && tar -cPf "$site/evil.tar" ../escape.txt)
rm "$site/evil/escape.txt"
cat > "$site/extract.asp" <<'ASP'
<%
var a = Server.CreateObject("Torvane.Archive");
try { var n = a.Entries.Count; } catch (e) { Response.Write(e.number + " " + e.description + "\n"); }
a.OpenArchive("evil.tar");
try {
  a.Extract("*", "evil/inner/dest");
  Response.Write("extracted\n");
} catch (e) {
  Response.Write(e.number + " " + e.description + "\n");
}
%>
ASP
out=$("$TORVANE" run --root "$site" /extract.asp | body)
echo "$out" | grep -q '^9032 Archive must be created or opened before being used.$' || fail "9032: $out"
echo "$out" | grep -q '^2564 Refused to extract ..\\escape.txt' || fail "traversal: $out"
[ ! -e "$site/evil/escape.txt" ] || fail "wrote outside the destination"
echo "PASS"
