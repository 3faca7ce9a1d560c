#!/usr/bin/env bash
# Containment end to end: no path, link or upload reaches where a page did not
# choose.
#  - Archives: a chain of links that each stay inside on paper ("a/up -> .."
#    and "pw -> a/up/.../../etc/passwd") and a "root -> /" link, extracted by a
#    page into the demo's upload folder, are refused with 2564 and leave
#    nothing behind: the demo's own download page cannot reach /etc/passwd.
#  - AllowPaths=VirtualOnly: a virtual path through a link out of the site is
#    refused with 9030 by File, Directory, a download, Post and Archive; a link
#    that stays inside still works.
#  - Uploads: evil.asp is refused (9042) in a folder where pages run, and
#    nothing of the request is kept; stored in a dot folder, in a `no_pages`
#    folder or with Post.AllowPageFiles it is never run from a no-pages folder.
source "$(dirname "$0")/lib.sh"

for tool in tar zip curl; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 0; }
done
body() { sed '1,/^\r\{0,1\}$/d'; }  # the response body after the blank line

# ---- archives through the demo site -------------------------------------------------
site=$(tv_site)
cp -R "$TV_ROOT_DIR/examples/site/." "$site/"
mkdir -p "$site/.uploads"
cat > "$site/extract.asp" <<'ASP'
<%@ Language="JScript" %><!-- #include file="uploads.inc" --><%
var a = Server.CreateObject("Torvane.Archive");
a.OpenArchive(uploadFolderPath() + "\\" + queryText("name"));
try { a.Extract("*", uploadFolderPath()); Response.Write("extracted"); }
catch (e) { Response.Write(e.number + " " + e.description); }
%>
ASP

# pw climbs 30 folders from a place that is 20 pairs "a/up" deep on paper but
# the destination itself on disk: textually inside, physically at "/".
work="$TV_TMP/chain"
mkdir -p "$work/a"
ln -s .. "$work/a/up"
target=""
for _ in $(seq 1 20); do target+="a/up/"; done
for _ in $(seq 1 30); do target+="../"; done
ln -s "${target}etc/passwd" "$work/pw"
printf 'harmless\n' > "$work/fine.txt"
(cd "$work" && tar -cf "$site/.uploads/chain.tar" fine.txt a pw && zip -qry "$site/.uploads/chain.zip" fine.txt a pw)
root="$TV_TMP/root"
mkdir -p "$root"
ln -s / "$root/root"
printf 'harmless\n' > "$root/fine.txt"
(cd "$root" && tar -cf "$site/.uploads/root.tar" fine.txt root)

tv_serve --root "$site"
for name in chain.tar chain.zip; do
  out=$(tv_curl "$TV_URL/extract.asp?name=$name")
  expect_eq "$name: the chain is refused" "2564 Refused to extract pw: its link target ${target}etc/passwd leaves the destination folder." "$out"
  expect_eq "$name: the download page finds no pw" "404" "$(tv_status "$TV_URL/download.asp?name=pw")"
  expect_not_contains "$name: /etc/passwd is not served" "$(tv_curl "$TV_URL/download.asp?name=pw")" "root:"
  expect_eq "$name: what came before the refusal is gone" "404" "$(tv_status "$TV_URL/download.asp?name=fine.txt")"
  expect_eq "$name: nothing is left in the upload folder" "chain.tar chain.zip root.tar" "$(ls -A "$site/.uploads" | xargs)"
done
out=$(tv_curl "$TV_URL/extract.asp?name=root.tar")
expect_eq "root -> / is refused" "2564 Refused to extract root: its link target / leaves the destination folder." "$out"
expect_eq "root.tar leaves nothing" "chain.tar chain.zip root.tar" "$(ls -A "$site/.uploads" | xargs)"
tv_stop

# ---- AllowPaths=VirtualOnly ---------------------------------------------------------------
vsite=$(tv_site)
registry="$TV_TMP/virtual.reg"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brightmoor\\Torvane]\r\n"AllowPaths"="VirtualOnly"\r\n' > "$registry"
mkdir -p "$vsite/x" "$vsite/data"
printf 'inside\n' > "$vsite/data/a.txt"
ln -s / "$vsite/x/root"          # a link out of the site, planted by some other road
ln -s ../data "$vsite/x/in"      # a link that stays inside
ln -s /tmp "$vsite/x/tmp"        # a link out whose target does not exist below it yet
cat > "$vsite/vo.asp" <<'ASP'
<%
function t(label, f) {
  try { f(); Response.Write(label + " ok\n"); }
  catch (e) { Response.Write(label + " " + e.number + "\n"); }
}
t("file", function () { var f = Server.CreateObject("Torvane.File"); f.Name = "/x/root/etc/passwd"; });
t("directory", function () { var d = Server.CreateObject("Torvane.Directory"); d.Path = "/x/root/etc/"; });
t("download", function () { var f = Server.CreateObject("Torvane.File"); f.Name = "x/root/etc/passwd"; f.Download(); });
t("new file", function () { var f = Server.CreateObject("Torvane.File"); f.Name = "/x/tmp/created-by-page.txt"; });
t("post", function () { var p = Server.CreateObject("Torvane.Post"); p.Upload("/x/root/tmp/"); });
t("archive", function () { var a = Server.CreateObject("Torvane.Archive"); a.NewArchive("/x/root/tmp/a.zip"); });
t("trace", function () { var f = Server.CreateObject("Torvane.File"); f.Name = "/x/root/tmp/trace.log"; var d = Server.CreateObject("Torvane.Directory"); d.TraceFile = f; });
t("inside", function () {
  var f = Server.CreateObject("Torvane.File"); f.Name = "/x/in/a.txt";
  if (!f.Exists()) throw new Error("not found");
});
%>
ASP
expected=$'file 9030\ndirectory 9030\ndownload 9030\nnew file 9030\npost 9030\narchive 9030\ntrace 9030\ninside ok'
expect_eq "VirtualOnly: links out refused, links inside kept" "$expected" "$(tv_run --root "$vsite" --registry "$registry" /vo.asp | body)"
out=$(tv_run --root "$vsite" --registry "$TV_TMP/none.reg" /vo.asp | body)
# (File.Download drops the page's unsent output, so the file's own bytes show it.)
expect_contains "physical paths allowed: the link is the site's own business" "$out" "root:x:0:0:"
tv_serve --root "$vsite" --registry "$registry"
expect_eq "the served tree refuses the link out" "404" "$(tv_status "$TV_URL/x/root/etc/passwd")"
expect_eq "the served tree follows the link inside" "inside" "$(tv_curl "$TV_URL/x/in/a.txt")"
tv_stop

# ---- uploads never run as pages ------------------------------------------------------------
usite=$(tv_site)
mkdir -p "$usite/files" "$usite/.store" "$usite/nopages/sub"
printf '<%% Response.Write("RAN " + (6 * 7)); %%>' > "$TV_TMP/evil.asp"
printf 'plain\n' > "$TV_TMP/a.txt"
cat > "$usite/up.asp" <<'ASP'
<%
var post = Server.CreateObject("Torvane.Post");
if (Request.QueryString("allow") == "1") post.AllowPageFiles = true;
try {
  post.Upload(Server.MapPath(String(Request.QueryString("to"))), TV_UPLOAD_OVERWRITE);
  Response.Write("stored");
} catch (e) {
  Response.Write(e.number + " " + e.description);
}
%>
ASP
printf 'no_pages = /nopages/\n' > "$TV_TMP/site.conf"
tv_serve --root "$usite" --config "$TV_TMP/site.conf"
post() { tv_curl -F "a=@$TV_TMP/a.txt" -F "f=@$TV_TMP/evil.asp;filename=$2" "$TV_URL/up.asp?to=$1${3:-}"; }
out=$(post files evil.asp)
expect_eq "evil.asp is refused where pages run" "9042 Post.GetFormInputs - File evil.asp would be stored where the host runs pages; set Post.AllowPageFiles to store it there." "$out"
expect_eq "nothing of that request is kept" "" "$(ls -A "$usite/files")"
expect_eq "it cannot be requested" "404" "$(tv_status "$TV_URL/files/evil.asp")"
expect_contains "EVIL.ASP too" "$(post files EVIL.ASP)" "9042 "
expect_contains "an include file too" "$(post files lib.inc)" "9042 "
expect_eq "a text file is stored as before" "stored" "$(post files notes.txt)"
expect_eq "in a dot folder it is stored" "stored" "$(post .store evil.asp)"
expect_eq "and never served" "404" "$(tv_status "$TV_URL/.store/evil.asp")"
expect_eq "in a no_pages folder it is stored" "stored" "$(post nopages/sub evil.asp)"
status=$(tv_status "$TV_URL/nopages/sub/evil.asp")
expect_eq "and not run when requested" "404" "$status"
expect_not_contains "its code never ran" "$(tv_curl "$TV_URL/nopages/sub/evil.asp")" "RAN 42"
expect_eq "a page may allow it where pages run" "stored" "$(post files evil.asp '&allow=1')"
expect_eq "then it is the page's choice" "RAN 42" "$(tv_curl "$TV_URL/files/evil.asp")"
tv_stop
# The runner answers the same question from the same settings.
rm -f "$usite/files/evil.asp"
printf -- '--B\r\nContent-Disposition: form-data; name="f"; filename="evil.asp"\r\n\r\n<%% Response.Write(1) %%>\r\n--B--\r\n' > "$TV_TMP/body"
out=$(tv_run --root "$usite" --config "$TV_TMP/site.conf" --method POST --header "Content-Type: multipart/form-data; boundary=B" --body "$TV_TMP/body" "/up.asp?to=files" | body)
expect_contains "torvane run refuses it too" "$out" "9042 "
out=$(tv_run --root "$usite" --config "$TV_TMP/site.conf" --method POST --header "Content-Type: multipart/form-data; boundary=B" --body "$TV_TMP/body" "/up.asp?to=nopages" | body)
expect_eq "torvane run stores it in a no_pages folder" "stored" "$out"
expect_match "and does not run it there" "$(tv_run --root "$usite" --config "$TV_TMP/site.conf" /nopages/evil.asp | head -n1)" "^HTTP/1.1 404"

# The README's upload example, copied as it stands, keeps evil.asp out of reach.
awk '/^    <%@ Language="JScript" %>$/ { on = 1 } on { if ($0 != "" && $0 !~ /^    /) exit; print substr($0, 5) }' \
  "$TV_ROOT_DIR/README.md" > "$usite/readme.asp"
expect_contains "the README example was found" "$(cat "$usite/readme.asp")" "post.Upload("
tv_serve --root "$usite"
out=$(tv_curl -F "title=hello" -F "f=@$TV_TMP/evil.asp" "$TV_URL/readme.asp")
expect_contains "the README example stores the upload" "$out" "title = hello"
expect_eq "in its dot folder" "evil.asp" "$(ls -A "$usite/.uploads" | xargs)"
expect_eq "where it is never served" "404" "$(tv_status "$TV_URL/.uploads/evil.asp")"
tv_stop

tv_finish
