#!/usr/bin/env bash
# Archive pages through `torvane run`: what they write passes the real tools
# (7z with the password for AES-256, tar), a served page lists an archive that
# Info-ZIP wrote, and a hostile archive extracts nothing outside its destination.
source "$(dirname "$0")/lib.sh"

for tool in 7z tar zip; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 0; }
done
site=$(tv_site)
mkdir -p "$site/in/sub" "$site/out" "$site/evil/inner"
printf 'hello\n' > "$site/in/a.txt"
head -c 100000 /dev/urandom > "$site/in/sub/b.bin"
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
out=$(tv_run --root "$site" /make.asp | body)
expect_eq "a page lists what it added" $'a.txt|false|6\nsub|true|0\nsub\\b.bin|false|100000' "$out"
if 7z t -pe2e-pass "$site/out/made.ZIP" >/dev/null 2>&1; then pass "7z t with the password"; else fail "7z t with the password" "failed"; fi
expect_contains "the ZIP is AES-256" "$(7z l -slt -pe2e-pass "$site/out/made.ZIP")" "Method = AES-256"
if 7z t -pwrong "$site/out/made.ZIP" >/dev/null 2>&1; then fail "a wrong password" "accepted"; else pass "a wrong password is refused"; fi
expect_contains "tar -tvf lists the TAR" "$(tar -tvf "$site/out/made.tar")" "sub/b.bin"
mkdir -p "$TV_TMP/t" && tar -xf "$site/out/made.tar" -C "$TV_TMP/t"
if cmp -s "$TV_TMP/t/sub/b.bin" "$site/in/sub/b.bin"; then pass "tar unpacks the same bytes"; else fail "tar unpacks the same bytes" "differ"; fi

# A served page lists a ZIP that Info-ZIP wrote.
(cd "$site/in" && zip -qr ../info.zip .)
cat > "$site/list.asp" <<'ASP'
<% var a = Server.CreateObject("Torvane.Archive"); a.OpenArchive(Request.QueryString("f"));
   Response.ContentType = "text/plain"; Response.Write(a.Entries.ToXML()); %>
ASP
tv_serve --root "$site"
xml=$(tv_curl "$TV_URL/list.asp?f=info.zip")
expect_contains "the served listing has the file" "$xml" "<path>sub\\b.bin</path>"
expect_match "the listing is one entries element" "$xml" '^<entries>(<archiveentry>.*</archiveentry>)+</entries>$'

# A TAR whose member climbs out of the destination.
printf 'outside\n' > "$site/evil/escape.txt"
(cd "$site/evil/inner" && tar -cPf "$site/evil.tar" ../escape.txt)
rm "$site/evil/escape.txt"
cat > "$site/extract.asp" <<'ASP'
<%
var a = Server.CreateObject("Torvane.Archive");
try { var n = a.Entries.Count; } catch (e) { Response.Write(e.number + " " + e.description + "\n"); }
a.OpenArchive("evil.tar");
try { a.Extract("*", "evil/inner/dest"); Response.Write("extracted\n"); }
catch (e) { Response.Write(e.number + " " + e.description + "\n"); }
%>
ASP
out=$(tv_run --root "$site" /extract.asp | body)
expect_contains "9032 before opening" "$out" "9032 Archive must be created or opened before being used."
expect_contains "the climbing member is refused" "$out" "2564 Refused to extract ..\\escape.txt"
if [ -e "$site/evil/escape.txt" ]; then fail "nothing outside" "escape.txt was written"; else pass "nothing is written outside the destination"; fi
tv_finish
