#!/usr/bin/env bash
# State in Redis when Redis goes away or stops answering: an upload in flight still succeeds
# while its progress reports "unavailable" and pages using Session fail with a
# clear error; once Redis is back (same port, empty), the same torvane process
# serves sessions and progress again, and the upload's final record lands.
source "$(dirname "$0")/lib.sh"

site=$(tv_site)
mkdir -p "$site/up"
cat > "$site/reserve.asp" <<'ASP'
<% var bar = Server.CreateObject("Torvane.ProgressBar"); Response.Write(bar.GetID()); %>
ASP
cat > "$site/upload.asp" <<'ASP'
<% var post = Server.CreateObject("Torvane.Post");
   post.Upload(Server.MapPath("up"), TV_UPLOAD_OVERWRITE, undefined, String(Request.QueryString("id")));
   var f = post.FormInputs("file").File; %>stored <%= post.FormInputs("file").Value %> <%= f.Size %>
ASP
# The progress page as the demo's: 503 with "unavailable" when the state store cannot be reached.
cat > "$site/progress.asp" <<'ASP'
<% var bar = Server.CreateObject("Torvane.ProgressBar");
   bar.ProgressBarID = String(Request.QueryString("id"));
   try {
     Response.Write(bar.CurrentBytes + "/" + bar.TotalBytes);
   } catch (e) {
     if (e.number != -2147023665) throw e;
     Response.Status = "503 Service Unavailable";
     Response.Write("unavailable: " + e.description);
   } %>
ASP
cat > "$site/count.asp" <<'ASP'
<% var n = (Session("n") || 0) + 1; Session.SetValue("n", n); %><%= n %>
ASP

tv_redis_start || exit 1
printf 'state_store = %s\nstate_store_timeout = 500\n' "$TV_REDIS_URL" > "$TV_TMP/torvane.conf"
tv_serve --root "$site" --config "$TV_TMP/torvane.conf" || exit 1

jar="$TV_TMP/jar"
expect_eq "a session counts with Redis up" "1 2" \
  "$(tv_curl -b "$jar" -c "$jar" "$TV_URL/count.asp") $(tv_curl -b "$jar" -c "$jar" "$TV_URL/count.asp")"
id=$(tv_curl "$TV_URL/reserve.asp")
expect_eq "a slot is reserved in Redis" "TVPROGRESSBAR1" "$id"

# About 10 s of upload at 300 KB/s.
head -c 3000000 /dev/urandom > "$TV_TMP/big.bin"
total=$(stat -c %s "$TV_TMP/big.bin")
curl -sS --max-time 60 --limit-rate 300K -F "file=@$TV_TMP/big.bin" "$TV_URL/upload.asp?id=$id" \
  > "$TV_TMP/upload.out" 2>&1 &
upload=$!

progress() { tv_curl -w ' %{http_code}' "$TV_URL/progress.asp?id=$id" | tr -d '\r\n'; }
moving=""
for _ in $(seq 1 50); do
  p=$(progress)
  if [[ "$p" =~ ^([0-9]+)/[0-9]+\ 200$ ]] && [ "${BASH_REMATCH[1]}" -gt 0 ]; then moving="$p"; break; fi
  sleep 0.1
done
expect_match "progress moves while Redis is up" "$moving" '^[0-9]+/[0-9]+ 200$'

tv_redis_stop
p=$(progress)
expect_match "progress says it is unavailable while Redis is down" "$p" '^unavailable: .*cannot be reached.* 503$'
session_page=$(tv_curl -w ' %{http_code}' -b "$jar" "$TV_URL/count.asp")
expect_match "a page using Session fails with a clear error" "$session_page" 'State store.*cannot be reached.* 500$'
start=$SECONDS
reserve_down=$(tv_curl -w ' %{http_code}' "$TV_URL/reserve.asp")
expect_match "GetID fails clearly while Redis is down" "$reserve_down" 'cannot be reached.* 500$'
[ $((SECONDS - start)) -le 3 ] && pass "a page does not hang on a store that is down" \
  || fail "a page does not hang on a store that is down" "took $((SECONDS - start)) s"
kill -0 "$upload" 2>/dev/null && pass "the upload is still running" || fail "the upload is still running" "it ended early"

sleep 2
tv_redis_start || exit 1  # the same port, empty: nothing survived
sleep 1  # past the host's fail-fast window (500 ms after the last failure)
expect_eq "a new session works again without restarting torvane" "1 2" \
  "$(tv_curl -b "$TV_TMP/jar2" -c "$TV_TMP/jar2" "$TV_URL/count.asp") $(tv_curl -b "$TV_TMP/jar2" -c "$TV_TMP/jar2" "$TV_URL/count.asp")"

wait "$upload"
expect_eq "the upload succeeded" "stored big.bin $total" "$(tr -d '\r\n' < "$TV_TMP/upload.out")"
expect_eq "the stored file is whole" "$(sha256sum < "$TV_TMP/big.bin")" "$(sha256sum < "$site/up/big.bin")"
expect_match "the upload's final record landed in the restarted Redis" "$(progress)" '^([0-9]+)/\1 200$'

id2=$(tv_curl "$TV_URL/reserve.asp")
expect_eq "GetID works again (a fresh counter)" "TVPROGRESSBAR1" "$id2"
head -c 100000 /dev/urandom > "$TV_TMP/small.bin"
out=$(tv_curl -F "file=@$TV_TMP/small.bin" "$TV_URL/upload.asp?id=$id2")
expect_eq "a later upload succeeds" "stored small.bin 100000" "$(echo "$out" | tr -d '\r\n')"
body_total=$(tv_curl "$TV_URL/progress.asp?id=$id2" | tr -d '\r\n')
expect_match "and its progress record is complete" "$body_total" '^([0-9]+)/\1$'

# A Redis that stops answering (paused, not gone): a page waits one
# state_store_timeout (500 ms here), not for ever, then works again.
kill -STOP "$TV_REDIS_PID"
start=$SECONDS
paused=$(tv_curl -w ' %{http_code}' -b "$TV_TMP/jar2" "$TV_URL/count.asp")
kill -CONT "$TV_REDIS_PID"
expect_match "a silent Redis gives a clear error" "$paused" 'no answer within 500 ms.* 500$'
[ $((SECONDS - start)) -le 3 ] && pass "a page does not hang on a silent store" \
  || fail "a page does not hang on a silent store" "took $((SECONDS - start)) s"
sleep 1
expect_eq "the session is there once Redis answers again" "3" "$(tv_curl -b "$TV_TMP/jar2" "$TV_URL/count.asp" | tr -d '\r\n')"
expect_contains "torvane stayed up" "$(tv_status "$TV_URL/reserve.asp")" "200"
tv_finish
