#!/usr/bin/env bash
# A headless Chromium, driven by playwright-core, fills the demo site's upload
# form (upload.asp): a real file set into its <input type=file>, text fields,
# a naming method; it submits while the page polls progress.asp. Checked: the
# stored file matches byte for byte, the progress page was polled during the
# post and reported the bytes read, the result page shows the file and
# FormInputs.ToXML(), the browse page lists it and its download link hands the
# browser the same bytes under the same name; a limit that is exceeded shows
# the error number and description and keeps nothing.
source "$(dirname "$0")/lib.sh"

tv_need_browser

site="$TV_TMP/site"
cp -r "$TV_ROOT_DIR/examples/site" "$site"
rm -rf "$site/.uploads"
tv_serve --root "$site"

data="$TV_TMP/data"
mkdir -p "$data"
big="$data/holiday ü.bin"
head -c $((8 * 1024 * 1024)) /dev/urandom > "$big"
small="$data/small.txt"
head -c 5000 /dev/urandom | base64 > "$small"
md5() { md5sum "$1" | cut -d' ' -f1; }

cat > "$TV_TMP/drive.js" <<'JS'
// Drives the demo form; prints one JSON object with what it saw.
const { chromium } = require(process.env.PW);
const [base, bigFile, smallFile, saveTo] = process.argv.slice(2);
const path = require("path");

(async () => {
  const out = {};
  let page = null;
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM,
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  try {
    const context = await browser.newContext({ acceptDownloads: true });
    page = await context.newPage();
    page.setDefaultTimeout(60000);
    let postRunning = false;
    const polls = [];
    page.on("response", async (r) => {
      if (!r.url().includes("/progress.asp?id=")) return;
      const during = postRunning;
      try { polls.push({ during, record: await r.json() }); } catch (e) {}
    });
    // The upload is throttled to 4 MiB/s so that it lasts about two seconds.
    const cdp = await context.newCDPSession(page);
    await cdp.send("Network.enable");
    await cdp.send("Network.emulateNetworkConditions",
                   { offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: 4 * 1024 * 1024 });

    // 1. A real file through the form, stored under its own name.
    await page.goto(base + "/upload.asp");
    out.formId = await page.getAttribute("#upload-form", "data-progress-id");
    await page.waitForSelector('#upload-form[data-ready="1"]');
    await page.setInputFiles("#files", bigFile);
    await page.fill("#title", "holiday <pictures> & more");
    await page.fill("#description", "line one\nline two");
    await page.check("#public");
    await page.click("#options summary");     // the storage options fold out
    await page.selectOption("#method", "1");  // TV_UPLOAD_OVERWRITE
    const answer = page.waitForResponse((r) => r.url().includes("/received.asp") && r.request().method() === "POST",
                                        { timeout: 120000 });
    postRunning = true;
    await page.click("#send");
    out.postUrl = (await answer).url();
    out.postStatus = (await answer).status();
    postRunning = false;
    await page.waitForSelector('#upload-form[data-done="1"]', { timeout: 120000 });
    out.result = await page.innerHTML("#result");
    await page.waitForTimeout(1000);  // the form page's last poll
    out.progressText = await page.textContent("#progress-text");
    out.progressCurrent = await page.getAttribute("#progress", "data-current");
    out.progressTotal = await page.getAttribute("#progress", "data-total");
    out.polls = polls.slice();

    // 2. The browse page lists it; its link downloads it.
    await page.goto(base + "/browse.asp?sort=1");
    out.listing = await page.innerHTML("#listing");
    const name = path.basename(bigFile);
    const [download] = await Promise.all([
      page.waitForEvent("download", { timeout: 120000 }),
      page.getByRole("link", { name, exact: true }).click(),
    ]);
    out.downloadName = download.suggestedFilename();
    await download.saveAs(saveTo);

    // 3. A file larger than MaxFileSize: the visitor reads the error.
    await page.goto(base + "/upload.asp");
    await page.waitForSelector('#upload-form[data-ready="1"]');
    await page.setInputFiles("#files", smallFile);
    await page.click("#options summary");
    await page.selectOption("#method", "3");  // TV_UPLOAD_ERRORIFEXISTS
    await page.fill("#MaxFileSize", "1000");
    await page.click("#send");
    await page.waitForSelector('#upload-form[data-done="1"]', { timeout: 120000 });
    out.limitResult = await page.innerHTML("#result");
  } catch (e) {
    // What the browser showed when it failed, for the test's log.
    if (page) console.error("page " + page.url() + ":\n" + (await page.content().catch(() => "")).slice(0, 4000));
    throw e;
  } finally {
    await browser.close();
  }
  console.log(JSON.stringify(out));
})().catch((e) => { console.error(e && e.stack ? e.stack : String(e)); process.exit(1); });
JS

json="$TV_TMP/seen.json"
if ! PW="$TV_PW" CHROMIUM="$TV_CHROMIUM" timeout 240 node "$TV_TMP/drive.js" "$TV_URL" "$big" "$small" "$TV_TMP/downloaded" \
     >"$json" 2>"$TV_TMP/drive.err"; then
  fail "the browser drove the form" "$(tail -n 60 "$TV_TMP/drive.err")"
  tv_finish
fi
pass "the browser drove the form"
# get EXPR: one value of what the browser saw (Python expression over `s`).
get() { python3 -c "import json,sys; s=json.load(open(sys.argv[1])); print($1)" "$json"; }

want=$(md5 "$big")
id=$(get 's["formId"]')
expect_match "the form page reserved a progress slot" "$id" '^TVPROGRESSBAR[0-9]+$'
expect_contains "the post went to received.asp with the slot and the method" "$(get 's["postUrl"]')" "received.asp?id=$id&method=1&"
expect_eq "the post was answered 200" "200" "$(get 's["postStatus"]')"
expect_eq "the stored file matches byte for byte" "$want" "$(md5 "$site/.uploads/holiday ü.bin" 2>/dev/null)"
result=$(get 's["result"]')
expect_contains "result: the stored file's MD5" "$result" "<code>$want</code>"
expect_contains "result: the stored file's size" "$result" 'data-bytes="8388608"'
expect_contains "result: a download link" "$result" 'href="download.asp?name=holiday%20%C3%BC.bin"'
expect_contains "result: ToXML shown HTML-escaped" "$result" "&lt;name&gt;title&lt;/name&gt;&lt;value&gt;holiday &amp;lt;pictures&amp;gt; &amp;amp; more&lt;/value&gt;"
expect_contains "result: the checkbox field" "$result" "<tr><th>public</th><td>yes</td></tr>"

# The progress page: polled while the post ran, with bytes read part way, and
# at the end every byte of the body counted under the file's name.
polls_during=$(get 'sum(1 for p in s["polls"] if p["during"])')
if [ "$polls_during" -ge 1 ]; then pass "progress polled during the post ($polls_during times)"; else fail "progress polled during the post" "no poll while the post ran"; fi
# (A poll counts as part way when it saw some but not all of the body, while
# the current file was the one being sent and had bytes.)
partway=$(get 'sum(1 for p in s["polls"] if p["during"] and 0 < p["record"]["CurrentBytes"] < p["record"]["TotalBytes"]
                 and p["record"]["CurrentFile"] == "holiday ü.bin" and 0 < p["record"]["CurrentFileBytes"] < 8388608)')
if [ "$partway" -ge 1 ]; then pass "progress reported bytes part way ($partway polls)"; else fail "progress reported bytes part way" "$(get 's["polls"]')"; fi
expect_eq "progress: the last record counts the whole body" "True" \
  "$(get 's["polls"][-1]["record"]["CurrentBytes"] == s["polls"][-1]["record"]["TotalBytes"] > 8388608')"
expect_eq "progress: every record is the form's slot" "True" "$(get 'all(p["record"]["ID"] == s["formId"] for p in s["polls"])')"
expect_match "progress bar text at the end" "$(get 's["progressText"]')" '^100% . 8\.[0-9] MiB of 8\.[0-9] MiB'
expect_eq "progress bar at the end: every byte of the body" "True" \
  "$(get 'int(s["progressCurrent"]) == int(s["progressTotal"]) > 8388608')"

expect_contains "browse lists the file with its size" "$(get 's["listing"]')" 'data-bytes="8388608"'
expect_eq "the browser saved the download under the file's name" "holiday ü.bin" "$(get 's["downloadName"]')"
expect_eq "the downloaded file matches" "$want" "$(md5 "$TV_TMP/downloaded" 2>/dev/null)"

limit=$(get 's["limitResult"]')
expect_contains "a file over MaxFileSize: the error number and description" "$limit" "Error 9012: Post.GetFormInputs - MaxFileSize exceeded"
expect_eq "a file over MaxFileSize: nothing kept" "" "$(ls "$site/.uploads" | grep -v '^holiday ü.bin$')"

# ---- the same pages posted by curl -------------------------------------------
# A body over 1 MiB (the host once refused every such request as malformed).
head -c 3000000 /dev/urandom > "$data/three.bin"
out=$(tv_curl -w '|%{http_code}' -F "file1=@$data/three.bin" -F "file2=@$small" -F "title=by curl" \
      "$TV_URL/received.asp?method=0")
expect_eq "curl: a 3 MB post is answered 200" "200" "${out##*|}"
stored=""
for f in "$site/.uploads/"~LK*; do [ -e "$f" ] && stored="$stored $(md5 "$f")"; done
expect_contains "curl: the temporary file holds the first file" "$stored" "$(md5 "$data/three.bin")"
expect_contains "curl: the temporary file holds the second file" "$stored" "$(md5 "$small")"
expect_contains "curl: the result names the temporary file" "$out" 'href="download.asp?name=~LK'

count() { ls -A "$site/.uploads" | wc -l; }
before=$(count)
out=$(tv_curl -w '|%{http_code}' -F "file1=@$small" "$TV_URL/received.asp?method=4")
expect_contains "in memory: the MD5 shown" "$out" "<code>$(md5 "$small")</code>"
expect_contains "in memory: no link" "$out" "<em>in memory only</em>"
expect_eq "in memory: nothing written" "$before" "$(count)"

out=$(tv_curl -w '|%{http_code}' -F "file1=@$small" -F "file2=@$data/three.bin" \
      "$TV_URL/received.asp?method=1&MaxTotalFileSize=3001000")
expect_contains "MaxTotalFileSize exceeded: number and description" "$out" "Error 9011: Post.GetFormInputs - MaxTotalFileSize exceeded"
expect_eq "MaxTotalFileSize exceeded: 413" "413" "${out##*|}"
expect_eq "MaxTotalFileSize exceeded: nothing kept" "$before" "$(count)"

out=$(tv_curl -w '|%{http_code}' -F "file1=@$big" "$TV_URL/received.asp?method=3")
expect_contains "ERRORIFEXISTS on a taken name: number and description" "$out" "Error 9029: Post.GetFormInputs - File file1 exists."
expect_eq "ERRORIFEXISTS on a taken name: the old file stays" "$want" "$(md5 "$site/.uploads/holiday ü.bin")"

out=$(tv_curl -w '|%{http_code}' -F "file1=@$small" "$TV_URL/received.asp?method=9")
expect_contains "an unknown naming method is refused" "$out" "Unknown naming method 9"
expect_eq "an unknown naming method: 400" "400" "${out##*|}"
out=$(tv_curl -w '|%{http_code}' -F "file1=@$small" "$TV_URL/received.asp?MaxFileSize=lots")
expect_contains "a MaxFileSize that is no number is refused" "$out" "MaxFileSize must be a whole number"
out=$(tv_curl -w '|%{http_code}' -F "file1=@$small" "$TV_URL/received.asp?method=2&id=TVPROGRESSBAR424242")
expect_eq "a progress slot that does not exist is ignored" "200" "${out##*|}"
out=$(tv_curl -w '|%{http_code}' "$TV_URL/received.asp")
expect_contains "a GET of the result page: 9002 shown" "$out" "Error 9002: Post.GetFormInputs - Content type of request is"
expect_contains "progress.asp: an unknown slot is 404" "$(tv_curl -w '|%{http_code}' "$TV_URL/progress.asp?id=nothing")" '|404'
progress_headers=$(tv_curl -D - -o /dev/null "$TV_URL/progress.asp?reserve=1")
expect_contains "progress.asp: JSON" "$progress_headers" "Content-Type: application/json"
expect_contains "progress.asp: never cached" "$progress_headers" "Cache-Control: no-store"
# A slot belongs to the session that reserved it: another visitor gets 404.
slot=$(tv_curl -c "$TV_TMP/owner.jar" -b "$TV_TMP/owner.jar" "$TV_URL/progress.asp?reserve=1" | sed 's/.*"ID":"\([^"]*\)".*/\1/')
expect_match "progress.asp: a reserved slot" "$slot" '^TVPROGRESSBAR[0-9]+$'
expect_contains "progress.asp: the owner's session reads its slot" \
  "$(tv_curl -w '|%{http_code}' -c "$TV_TMP/owner.jar" -b "$TV_TMP/owner.jar" "$TV_URL/progress.asp?id=$slot")" '|200'
expect_contains "progress.asp: another session's slot is 404" \
  "$(tv_curl -w '|%{http_code}' -c "$TV_TMP/other.jar" -b "$TV_TMP/other.jar" "$TV_URL/progress.asp?id=$slot")" '|404'
expect_not_contains "progress.asp: another session learns nothing of the slot" \
  "$(tv_curl -b "$TV_TMP/other.jar" "$TV_URL/progress.asp?id=$slot")" 'TotalBytes'

# ---- the browse page in every sort order ----------------------------------------
# A site of its own with four files whose names, sizes, dates and extensions
# all order differently, and a sub-folder that is never listed.
site2="$TV_TMP/site2"
cp -r "$TV_ROOT_DIR/examples/site" "$site2"
rm -rf "$site2/.uploads"
mkdir -p "$site2/.uploads/sub"
u="$site2/.uploads"
head -c 30 /dev/zero > "$u/a.txt";  touch -d '2021-03-01 10:00:00' "$u/a.txt"
head -c 10 /dev/zero > "$u/B.html"; touch -d '2021-04-01 10:00:00' "$u/B.html"
head -c 20 /dev/zero > "$u/c.bin";  touch -d '2021-02-01 10:00:00' "$u/c.bin"
head -c 40 /dev/zero > "$u/d";      touch -d '2021-01-01 10:00:00' "$u/d"
tv_serve --root "$site2"
# rows SORT: "name|size|modified|extension|type|mime" per listed file, in page order.
rows() {
  tv_curl "$TV_URL/browse.asp?sort=$1" | python3 -c '
import re, sys, html
page = sys.stdin.read()
for r in re.findall(r"<tr data-name=\"([^\"]*)\" data-bytes=\"(\d+)\" data-modified=\"([^\"]*)\"\s*"
                   r"data-extension=\"([^\"]*)\" data-type=\"([^\"]*)\" data-mime=\"([^\"]*)\">", page):
    print("|".join(html.unescape(x) for x in r))'
}
names() { rows "$1" | cut -d'|' -f1 | tr '\n' ' ' | sed 's/ $//'; }
expect_eq "browse by name (case ignored), no sub-folder" "a.txt B.html c.bin d" "$(names 0)"
expect_eq "browse by size" "B.html c.bin a.txt d" "$(names 1)"
expect_eq "browse by last modified" "d c.bin a.txt B.html" "$(names 2)"
expect_eq "browse by extension" "d c.bin B.html a.txt" "$(names 3)"
for order in 4:5 5:6; do
  sort=${order%%:*}; col=${order##*:}
  keys=$(rows "$sort" | cut -d'|' -f"$col" | tr '[:lower:]' '[:upper:]')
  expect_eq "browse by sort $sort: rows in order of column $col" "$(LC_ALL=C sort <<<"$keys")" "$keys"
  expect_eq "browse by sort $sort: every file" "B.html a.txt c.bin d" "$(rows "$sort" | cut -d'|' -f1 | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
done
expect_eq "browse unsorted: every file" "B.html a.txt c.bin d" "$(names 6 | tr ' ' '\n' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
browse=$(tv_curl "$TV_URL/browse.asp?sort=1")
for s in 0 2 3 4 5 6; do expect_contains "browse links sort order $s" "$browse" "href=\"browse.asp?sort=$s\""; done
expect_contains "browse links each file to the download page" "$browse" 'href="download.asp?name=B.html"'
expect_contains "browse: a bad sort order is shown, not a failure" "$(tv_curl -w '|%{http_code}' "$TV_URL/browse.asp?sort=x")" "The sort order must be a whole number"
tv_finish
