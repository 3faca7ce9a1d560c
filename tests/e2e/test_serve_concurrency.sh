#!/usr/bin/env bash
# torvane serve with pages running at the same time: the application lock
# across threads, a page that never unlocks, and a page blocked on a slow body
# while other requests are served.
source "$(dirname "$0")/lib.sh"

site=$(tv_site)
printf 'static\n' > "$site/static.txt"
# Holds the lock while it waits for its 4-byte body, and never unlocks.
cat > "$site/hold.asp" <<'ASP'
<% Application.Lock();
   Application.SetValue("who", "holder started");
   var b = Request.BinaryRead(4);
   Application.SetValue("who", "holder done " + b.length); %>held
ASP
# Takes the lock (waiting for the holder's page to end), reads, unlocks.
cat > "$site/take.asp" <<'ASP'
<% Application.Lock(); var v = Application("who"); Application.UnLock(); %><%= v %>
ASP
# Reads without the lock: never waits.
cat > "$site/peek.asp" <<'ASP'
<%= Application("who") %>
ASP
cat > "$site/quick.asp" <<'ASP'
quick <%= 1 + 1 %>
ASP
# Reads a slow body piece by piece.
cat > "$site/slowbody.asp" <<'ASP'
<% var total = 0, b;
   while (total < Request.TotalBytes) { b = Request.BinaryRead(3); if (b.length == 0) break; total += b.length; } %>read=<%= total %>
ASP

tv_serve --root "$site"

# 1. A page holds the lock while it is blocked reading a slow body.
exec 3<>"/dev/tcp/127.0.0.1/$TV_PORT"
printf 'POST /hold.asp HTTP/1.1\r\nHost: localhost\r\nContent-Length: 4\r\nConnection: close\r\n\r\n' >&3
for _ in $(seq 1 50); do
  [ "$(tv_curl "$TV_URL/peek.asp" | tr -d '\n')" == "holder started" ] && break
  sleep 0.1
done
expect_eq "reading the application without the lock does not wait" "holder started" "$(tv_curl "$TV_URL/peek.asp" | tr -d '\n')"

# 2. Meanwhile another page waits for the lock.
tv_curl "$TV_URL/take.asp" > "$TV_TMP/take.out" &
taker=$!
start=$SECONDS
# 3. ...and other requests are served at once.
expect_eq "a page is served while another waits for its body" "quick 2" "$(tv_curl --max-time 5 "$TV_URL/quick.asp" | tr -d '\n')"
expect_eq "a static file is served while another page waits" "static" "$(tv_curl --max-time 5 "$TV_URL/static.txt")"
sleep 1
if kill -0 "$taker" 2>/dev/null; then pass "the second page waits for the lock"; else fail "the second page waits for the lock" "it finished: $(cat "$TV_TMP/take.out")"; fi

# 4. The holder gets its body and ends without UnLock: the lock is released.
printf 'DATA' >&3
holder=$(timeout 10 cat <&3 | tr -d '\r')
exec 3<&-
expect_contains "the holder finishes" "$holder" "held"
wait "$taker"
expect_eq "the waiting page ran after the holder ended (lock released at page end)" "holder done 4" "$(tr -d '\n' < "$TV_TMP/take.out")"
expect_eq "the lock is free again" "holder done 4" "$(tv_curl --max-time 5 "$TV_URL/take.asp" | tr -d '\n')"

# 5. A body that trickles in, 2 bytes at a time, is read whole.
exec 4<>"/dev/tcp/127.0.0.1/$TV_PORT"
printf 'POST /slowbody.asp HTTP/1.1\r\nHost: localhost\r\nContent-Length: 10\r\nConnection: close\r\n\r\n' >&4
for piece in ab cd ef gh ij; do
  sleep 0.2
  expect_eq "served while a slow body arrives ($piece)" "quick 2" "$(tv_curl --max-time 5 "$TV_URL/quick.asp" | tr -d '\n')"
  printf '%s' "$piece" >&4
done
slow=$(timeout 10 cat <&4 | tr -d '\r')
exec 4<&-
expect_contains "the slow body was read whole" "$slow" "read=10"

# 6. Sixteen requests at once.
pids=()
for i in $(seq 1 16); do tv_curl "$TV_URL/quick.asp" > "$TV_TMP/par.$i" & pids+=($!); done
wait "${pids[@]}"
ok=0
for i in $(seq 1 16); do [ "$(tr -d '\n' < "$TV_TMP/par.$i")" == "quick 2" ] && ok=$((ok + 1)); done
expect_eq "sixteen concurrent page requests" "16" "$ok"

tv_finish
