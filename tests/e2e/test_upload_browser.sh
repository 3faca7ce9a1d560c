#!/usr/bin/env bash
# A headless Chromium posts a form with a file (built by the page as a Blob and
# sent with FormData, the browser's own multipart encoder) while it polls the
# progress page of the slot the form page reserved; the stored file matches.
source "$(dirname "$0")/lib.sh"

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  fail "chromium is installed" "neither chromium nor chromium-browser was found"
  tv_finish
fi

site=$(tv_site)
mkdir -p "$site/uploads"
cat > "$site/form.asp" <<'PAGE'
<%
var bar = Server.CreateObject("Torvane.ProgressBar");
var id = bar.GetID();
%><!DOCTYPE html>
<html><body><div id="out">running</div>
<script>
var id = "<%= id %>";
// 900000 bytes from a small generator the test repeats in Python.
var size = 900000, bytes = new Uint8Array(size), x = 12345;
for (var i = 0; i < size; i++) { x = (x * 48271) % 2147483647; bytes[i] = x & 255; }
var form = new FormData();
form.append("title", "chromium upload");
form.append("file", new Blob([bytes], {type: "application/octet-stream"}), "browser.bin");
var polls = 0, seen = [], finished = false;
// Polls until the upload has answered; then one more poll, begun after the
// answer, gives the final record.
function poll() {
  var afterAnswer = finished;
  fetch("progress.asp?id=" + id, {cache: "no-store"}).then(function (r) { return r.json(); }).then(function (p) {
    polls++;
    seen.push(p.current);
    if (afterAnswer) report(p); else setTimeout(poll, 5);
  });
}
var answer = "";
function report(last) {
  var during = seen.filter(function (v) { return v > 0 && v < last.total; }).length;
  document.getElementById("out").textContent = "done|" + answer + "|polls=" + polls + "|during=" + during +
      "|last=" + JSON.stringify(last);
}
var xhr = new XMLHttpRequest();
xhr.open("POST", "up.asp?id=" + id);
xhr.onload = function () { answer = xhr.responseText.trim(); finished = true; };
xhr.send(form);
poll();
</script></body></html>
PAGE
cat > "$site/up.asp" <<'PAGE'
<%
var post = Server.CreateObject("Torvane.Post");
post.Upload(Server.MapPath("uploads"), TV_UPLOAD_OVERWRITE, undefined, Request.QueryString("id"));
var f = post.FormInputs("file").File;
Response.Write(post.FormInputs("title").Value + ";" + f.FileName + ";" + f.Size);
%>
PAGE
cat > "$site/progress.asp" <<'PAGE'
<%
Response.ContentType = "application/json";
var bar = Server.CreateObject("Torvane.ProgressBar");
bar.ProgressBarID = Request.QueryString("id");
Response.Write('{"total":' + bar.TotalBytes + ',"current":' + bar.CurrentBytes + ',"file":"' + bar.CurrentFile +
               '","fileBytes":' + bar.CurrentFileBytes + ',"fileSize":' + bar.TotalFileBytes + '}');
%>
PAGE
tv_serve --root "$site"

profile="$TV_TMP/profile"
dom=$(timeout 90 "$browser" --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --user-data-dir="$profile" \
      --virtual-time-budget=30000 --dump-dom "$TV_URL/form.asp" 2>/dev/null)
out=$(sed -n 's#.*<div id="out">\(.*\)</div>.*#\1#p' <<<"$dom")
echo "# browser reported: $out"
expect_contains "the browser's post was answered" "$out" "done|chromium upload;browser.bin;900000|"
expect_match "the progress page was polled" "$out" 'polls=[1-9][0-9]*'
expect_match "progress: all body bytes counted" "$out" '"total":([0-9]+),"current":\1,'
expect_contains "progress: the current file" "$out" '"file":"browser.bin","fileBytes":900000,"fileSize":900000'

want=$(python3 -c '
import hashlib
x, out = 12345, bytearray()
for i in range(900000):
    x = (x * 48271) % 2147483647
    out.append(x & 255)
print(hashlib.md5(out).hexdigest())')
expect_eq "the stored file matches" "$want" "$(md5sum "$site/uploads/browser.bin" 2>/dev/null | cut -d' ' -f1)"
tv_finish
