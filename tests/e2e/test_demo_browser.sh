#!/usr/bin/env bash
# The demo site in a headless Chromium (playwright-core), used as a visitor
# uses it: several files dropped on the upload page and sent with a progress
# bar (human sizes, rate, time left), an upload cancelled half way (nothing
# kept), a file over the page's limit refused before sending and a server
# refusal shown in a red bar, files deleted from the browse page after a
# confirmation. Every page is photographed at desktop width and at 375 px
# (screenshots in the build folder's demo-screenshots/), and no page may
# scroll sideways on the phone.
source "$(dirname "$0")/lib.sh"

tv_need_browser

# A site of its own whose page limit is 6 MiB per file, so that a file over
# it is small enough to make in the browser.
site="$TV_TMP/site"
cp -r "$TV_ROOT_DIR/examples/site" "$site"
rm -rf "$site/.uploads" "$site/.data"
sed -i 's/^var MAX_FILE_BYTES = .*/var MAX_FILE_BYTES = 6 * 1024 * 1024;/' "$site/uploads.inc"
grep -q '^var MAX_FILE_BYTES = 6 \* 1024 \* 1024;' "$site/uploads.inc" || fail "the page limit was lowered" "uploads.inc changed shape"
tv_serve --root "$site"
shots="${TORVANE_BUILD_DIR:-$TV_TMP}/demo-screenshots"
rm -rf "$shots"
mkdir -p "$shots"

cat > "$TV_TMP/drive.js" <<'JS'
// Drives the demo as a visitor; prints one JSON object with what it saw.
const { chromium } = require(process.env.PW);
const [base, shots] = process.argv.slice(2);

// Files made in the page: byte i of a file is (i * 31 + seed) & 255.
async function drop(page, files) {
  await page.evaluate((files) => {
    const dt = new DataTransfer();
    for (const f of files) {
      const bytes = new Uint8Array(f.size);
      for (let i = 0; i < f.size; i++) bytes[i] = (i * 31 + f.seed) & 255;
      dt.items.add(new File([bytes], f.name, { type: "application/octet-stream" }));
    }
    const zone = document.getElementById("drop-zone");
    for (const type of ["dragenter", "dragover", "drop"])
      zone.dispatchEvent(new DragEvent(type, { dataTransfer: dt, bubbles: true, cancelable: true }));
  }, files);
}

(async () => {
  const out = { overflow: {}, shots: [] };
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM, headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
  });
  let page = null;
  try {
    const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
    page = await context.newPage();
    page.setDefaultTimeout(60000);
    const cdp = await context.newCDPSession(page);
    await cdp.send("Network.enable");
    const throttle = (bytesPerSecond) => cdp.send("Network.emulateNetworkConditions",
      { offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: bytesPerSecond });
    const posts = [];
    page.on("request", (r) => { if (r.method() === "POST" && r.url().includes("/received.asp")) posts.push(r.url()); });

    // 1. Three files dropped at once, sent with progress.
    await throttle(3 * 1024 * 1024);
    await page.goto(base + "/upload.asp");
    await page.waitForSelector('#upload-form[data-ready="1"]');
    await drop(page, [{ name: "alpha.bin", size: 4 * 1048576, seed: 1 }, { name: "beta notes.txt", size: 3000, seed: 2 },
                      { name: "gamma.bin", size: 3 * 1048576 + 5, seed: 3 }]);
    out.listed = await page.$$eval("#file-list li", (lis) => lis.map((li) => li.textContent));
    out.summary = await page.textContent("#chosen-summary");
    await page.click("#send");
    // While it runs the bar shows a rate and the time left.
    await page.waitForFunction(() => /\/s · about .* left/.test(document.getElementById("progress-text").textContent),
                               null, { timeout: 60000 });
    out.midText = await page.textContent("#progress-text");
    out.midWidth = await page.$eval("#progress-fill", (e) => parseFloat(e.style.width));
    out.cancelVisible = await page.isVisible("#cancel");
    await page.screenshot({ path: shots + "/upload-progress-desktop.png", fullPage: true });
    await page.waitForSelector('#upload-form[data-done="1"]', { timeout: 120000 });
    out.doneState = await page.getAttribute("#progress", "data-state");
    out.doneText = await page.textContent("#progress-text");
    out.rows = await page.$$eval("#stored-files tbody tr", (trs) => trs.map((tr) => ({
      name: tr.querySelector(".stored a") ? tr.querySelector(".stored a").textContent : "",
      bytes: tr.querySelector(".size").getAttribute("data-bytes"), size: tr.querySelector(".size").textContent.trim(),
      type: tr.querySelector(".type").textContent, md5: tr.querySelector(".md5").textContent.trim() })));
    out.xmlHidden = !(await page.isVisible("#forminputs-xml"));
    await page.click("#details summary");
    out.xmlShown = await page.isVisible("#forminputs-xml");
    await page.screenshot({ path: shots + "/upload-result-desktop.png", fullPage: true });

    // 2. Cancelled half way: the bar says so and the server keeps nothing.
    await throttle(512 * 1024);
    await page.goto(base + "/upload.asp");
    await page.waitForSelector('#upload-form[data-ready="1"]');
    await drop(page, [{ name: "cancelled.bin", size: 5 * 1048576, seed: 4 }]);
    await page.click("#send");
    await page.waitForFunction(() => Number(document.getElementById("progress").getAttribute("data-current")) > 0,
                               null, { timeout: 60000 });
    await page.click("#cancel");
    await page.waitForSelector('#upload-form[data-done="1"]');
    out.cancelState = await page.getAttribute("#progress", "data-state");
    out.cancelText = await page.textContent("#progress-text");
    await throttle(-1);

    // 3. Over the page's limit: refused in the browser, nothing sent.
    const before = posts.length;
    await page.goto(base + "/upload.asp");
    await page.waitForSelector('#upload-form[data-ready="1"]');
    await drop(page, [{ name: "huge.bin", size: 6 * 1048576 + 1, seed: 5 }]);
    out.tooBigMarked = await page.$eval("#file-list li", (li) => li.classList.contains("too-big"));
    await page.click("#send");
    await page.waitForSelector('#upload-form[data-done="1"]');
    out.limitState = await page.getAttribute("#progress", "data-state");
    out.limitText = await page.textContent("#progress-text");
    out.limitPosts = posts.length - before;

    // 4. Refused by the server (a smaller MaxFileSize): a red bar with the error.
    await page.goto(base + "/upload.asp");
    await page.waitForSelector('#upload-form[data-ready="1"]');
    await drop(page, [{ name: "refused.bin", size: 5000, seed: 6 }]);
    await page.click("#options summary");
    await page.fill("#MaxFileSize", "1000");
    await page.click("#send");
    await page.waitForSelector('#upload-form[data-done="1"]');
    out.refusedState = await page.getAttribute("#progress", "data-state");
    out.refusedClass = await page.getAttribute("#progress", "class");
    out.refusedText = await page.textContent("#progress-text");
    out.refusedColor = await page.$eval("#progress-fill", (e) => getComputedStyle(e).backgroundColor);
    await page.screenshot({ path: shots + "/upload-error-desktop.png", fullPage: true });

    // 5. Browse: sorted by size both ways, a delete dismissed, one confirmed.
    await page.goto(base + "/browse.asp?sort=1");
    out.bySize = await page.$$eval("#listing tbody tr", (trs) => trs.map((tr) => tr.getAttribute("data-name")));
    await page.click("#listing thead th[aria-sort] a");
    out.bySizeDesc = await page.$$eval("#listing tbody tr", (trs) => trs.map((tr) => tr.getAttribute("data-name")));
    out.sizeCell = await page.textContent('#listing tr[data-name="alpha.bin"] td.size');
    let answer = false;
    page.on("dialog", (d) => { out.dialog = d.message(); answer ? d.accept() : d.dismiss(); });
    await page.click('#listing tr[data-name="beta notes.txt"] button.danger');
    await page.waitForTimeout(500);
    out.afterDismiss = await page.$$eval("#listing tbody tr", (trs) => trs.map((tr) => tr.getAttribute("data-name")));
    answer = true;
    await Promise.all([page.waitForNavigation(), page.click('#listing tr[data-name="beta notes.txt"] button.danger')]);
    out.notice = await page.textContent("#browse-notice");
    out.afterDelete = await page.$$eval("#listing tbody tr", (trs) => trs.map((tr) => tr.getAttribute("data-name")));

    // 6. Every page at desktop width and at 375 px: photographed, no sideways scroll.
    const pages = [["start", "/default.asp"], ["upload", "/upload.asp"], ["browse", "/browse.asp"],
                   ["documents", "/documents.asp"], ["post", "/post.asp"], ["request", "/request.asp?greeting=hello"],
                   ["visits", "/visits.asp"], ["received", "/received.asp"], ["not-found", "/no-such-page.asp"],
                   ["reference", "/reference/"]];
    for (const [width, label] of [[1280, "desktop"], [375, "phone"]]) {
      await page.setViewportSize({ width, height: 800 });
      for (const [name, path] of pages) {
        await page.goto(base + path);
        const file = shots + "/" + name + "-" + label + ".png";
        await page.screenshot({ path: file, fullPage: true });
        out.shots.push(file);
        if (label === "phone")
          out.overflow[name] = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
      }
    }
    // The result page with its table, as a visitor sees it after an upload.
    await page.goto(base + "/upload.asp");
    await page.waitForSelector('#upload-form[data-ready="1"]');
    await drop(page, [{ name: "a file with a rather long name for a phone screen.bin", size: 70000, seed: 7 }]);
    await page.click("#send");
    await page.waitForSelector('#upload-form[data-done="1"]');
    await page.screenshot({ path: shots + "/upload-result-phone.png", fullPage: true });
    out.overflow["upload-result"] = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    await page.goto(base + "/browse.asp");
    out.overflow["browse-with-files"] = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
  } catch (e) {
    if (page) console.error("page " + page.url() + ":\n" + (await page.content().catch(() => "")).slice(0, 4000));
    throw e;
  } finally {
    await browser.close();
  }
  console.log(JSON.stringify(out));
})().catch((e) => { console.error(e && e.stack ? e.stack : String(e)); process.exit(1); });
JS

json="$TV_TMP/seen.json"
if ! PW="$TV_PW" CHROMIUM="$TV_CHROMIUM" timeout 420 node "$TV_TMP/drive.js" "$TV_URL" "$shots" >"$json" 2>"$TV_TMP/drive.err"; then
  fail "the browser used the demo" "$(tail -n 60 "$TV_TMP/drive.err")"
  tv_finish
fi
pass "the browser used the demo"
get() { python3 -c "import json,sys; s=json.load(open(sys.argv[1])); print($1)" "$json"; }
# pattern_md5 NAME SIZE SEED: the MD5 of the file the page made.
pattern_md5() { python3 -c "import hashlib,sys; n,s=int(sys.argv[1]),int(sys.argv[2]); print(hashlib.md5(bytes((i*31+s)&255 for i in range(n))).hexdigest())" "$1" "$2"; }
md5() { md5sum "$1" | cut -d' ' -f1; }

# 1. Several files dropped at once.
expect_eq "dropped files listed with human sizes" "['alpha.bin4.0 MiBRemove', 'beta notes.txt2.9 KiBRemove', 'gamma.bin3.0 MiBRemove']" "$(get 's["listed"]')"
expect_eq "the summary of the choice" "3 files, 7.0 MiB" "$(get 's["summary"]')"
expect_match "mid-upload: percent, human sizes, rate, time left" "$(get 's["midText"]')" '^[0-9]{1,2}% · [0-9.]+ [KM]iB of 7\.0 MiB · [0-9.]+ [KM]iB/s · about [0-9]+ (s|min)'
expect_eq "mid-upload: the bar part way" "True" "$(get '0 < s["midWidth"] < 100')"
expect_eq "mid-upload: cancel offered" "True" "$(get 's["cancelVisible"]')"
expect_eq "the upload ends done" "done" "$(get 's["doneState"]')"
expect_match "the final line: whole size, time and rate" "$(get 's["doneText"]')" '^100% · 7\.0 MiB of 7\.0 MiB · uploaded in [0-9]+ s'
# (beta notes.txt is deleted from the browse page below; its MD5 in the
# result row is the server's reading of what it stored.)
for spec in "alpha.bin|4194304|1|disk" "beta notes.txt|3000|2|" "gamma.bin|3145733|3|disk"; do
  IFS='|' read -r name size seed disk <<<"$spec"
  want="$(pattern_md5 "$size" "$seed")"
  [ -n "$disk" ] && expect_eq "$name: stored byte for byte" "$want" "$(md5 "$site/.uploads/$name" 2>/dev/null)"
  expect_eq "$name: the result row (size in bytes, MD5)" "True" \
    "$(get "any(r['name'] == '$name' and r['bytes'] == '$size' and r['md5'] == '$want' for r in s['rows'])")"
done
expect_eq "result: human sizes" "['4.0 MiB', '2.9 KiB', '3.0 MiB']" "$(get '[r["size"] for r in s["rows"]]')"
expect_eq "result: types as the browse page names them" "['application/unknown', 'text/plain', 'application/unknown']" "$(get '[r["type"].split("sent as")[0] for r in s["rows"]]')"
expect_eq "result: ToXML folded away until asked for" "True True" "$(get 's["xmlHidden"]') $(get 's["xmlShown"]')"

# 2. Cancelled.
expect_eq "cancel: the bar says cancelled" "cancelled" "$(get 's["cancelState"]')"
expect_contains "cancel: the visitor is told" "$(get 's["cancelText"]')" "Cancelled. The server keeps nothing"
sleep 1
expect_eq "cancel: nothing of it on the server" "" \
  "$(ls -A "$site/.uploads" | grep -v -e '^alpha.bin$' -e '^gamma.bin$' -e '^a file with a rather long name for a phone screen.bin$')"

# 3. and 4. Errors shown in a red bar.
expect_eq "over the page limit: marked in the list" "True" "$(get 's["tooBigMarked"]')"
expect_eq "over the page limit: failed" "failed" "$(get 's["limitState"]')"
expect_eq "over the page limit: the reason in human sizes" \
  "Not sent: “huge.bin” is 6.0 MiB, more than the limit of 6.0 MiB per file." "$(get 's["limitText"]')"
expect_eq "over the page limit: nothing posted" "0" "$(get 's["limitPosts"]')"
expect_eq "server refusal: failed" "failed" "$(get 's["refusedState"]')"
expect_eq "server refusal: the bar's class" "progress failed" "$(get 's["refusedClass"]')"
expect_eq "server refusal: the error number and text" "Upload failed: Error 9012: Post.GetFormInputs - MaxFileSize exceeded" "$(get 's["refusedText"]')"
expect_eq "server refusal: the bar is red" "rgb(179, 38, 30)" "$(get 's["refusedColor"]')"

# 5. Browse and delete.
expect_eq "browse: by size" "['beta notes.txt', 'gamma.bin', 'alpha.bin']" "$(get 's["bySize"]')"
expect_eq "browse: by size, reversed from its heading" "['alpha.bin', 'gamma.bin', 'beta notes.txt']" "$(get 's["bySizeDesc"]')"
expect_eq "browse: human size" "4.0 MiB" "$(get 's["sizeCell"].strip()')"
expect_eq "delete: the browser asks first" "Delete “beta notes.txt”? This cannot be undone." "$(get 's["dialog"]')"
expect_eq "delete dismissed: the file stays" "['alpha.bin', 'gamma.bin', 'beta notes.txt']" "$(get 's["afterDismiss"]')"
expect_eq "delete confirmed: the notice" "Deleted “beta notes.txt”." "$(get 's["notice"]')"
expect_eq "delete confirmed: gone from the list, order kept" "['alpha.bin', 'gamma.bin']" "$(get 's["afterDelete"]')"
expect_eq "delete confirmed: gone from the disk" "no" "$([ -e "$site/.uploads/beta notes.txt" ] && echo yes || echo no)"

# 6. Screenshots and the phone width.
expect_eq "20 page screenshots taken" "20" "$(get 'len([f for f in s["shots"] if __import__("os").path.getsize(f) > 2000])')"
for name in start upload browse documents post request visits received not-found reference upload-result browse-with-files; do
  expect_eq "375 px: $name does not scroll sideways" "0" "$(get "max(0, s['overflow']['$name'])")"
done
tv_finish
