#!/usr/bin/env bash
# Two `torvane serve` instances behind Debian's nginx (round robin, request
# buffering off so uploads stream), sharing one Redis and one upload folder:
# a session follows its client from instance to instance; ProgressBar.GetID
# never hands out one number twice across instances; an upload through nginx
# reports progress to polls that land on the other instance; the client's
# address and scheme come from nginx's forwarded headers (trusted_proxies).
source "$(dirname "$0")/lib.sh"

site=$(tv_site)
mkdir -p "$site/up"
cat > "$site/count.asp" <<'ASP'
<% var n = (Session("n") || 0) + 1; Session.SetValue("n", n); %><%= n %> <%= Request.ServerVariables("SERVER_PORT") %>
ASP
cat > "$site/reserve.asp" <<'ASP'
<% var bar = Server.CreateObject("Torvane.ProgressBar"); %><%= bar.GetID() %> <%= Request.ServerVariables("SERVER_PORT") %>
ASP
cat > "$site/upload.asp" <<'ASP'
<% var post = Server.CreateObject("Torvane.Post");
   post.Upload(Server.MapPath("up"), TV_UPLOAD_OVERWRITE, undefined, String(Request.QueryString("id")));
   var f = post.FormInputs("file").File; %>stored <%= post.FormInputs("file").Value %> <%= f.Size %> <%= Request.ServerVariables("SERVER_PORT") %>
ASP
cat > "$site/progress.asp" <<'ASP'
<% var bar = Server.CreateObject("Torvane.ProgressBar"); bar.ProgressBarID = String(Request.QueryString("id")); %><%= bar.CurrentBytes %>/<%= bar.TotalBytes %> <%= Request.ServerVariables("SERVER_PORT") %>
ASP
cat > "$site/who.asp" <<'ASP'
<%= Request.ServerVariables("REMOTE_ADDR") %> <%= Request.ServerVariables("HTTPS") %> <% Session.SetValue("seen", 1); %>
ASP

tv_redis_start || exit 1
printf 'state_store = %s\ntrusted_proxies = 127.0.0.1\n' "$TV_REDIS_URL" > "$TV_TMP/torvane.conf"
tv_serve --root "$site" --config "$TV_TMP/torvane.conf" || exit 1
port_a=$TV_PORT
tv_serve --root "$site" --config "$TV_TMP/torvane.conf" || exit 1
port_b=$TV_PORT

# nginx: plain HTTP, and HTTPS with a throwaway certificate (TLS ends at nginx).
ng="$TV_TMP/nginx"
mkdir -p "$ng/tmp"
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=localhost -days 1 \
  -keyout "$ng/key.pem" -out "$ng/cert.pem" >/dev/null 2>&1
http_port=$(tv_free_port)
https_port=$(tv_free_port)
user_line=""
[ "$(id -u)" = 0 ] && user_line="user root;"
cat > "$ng/nginx.conf" <<CONF
$user_line
worker_processes 1;
error_log $ng/error.log;
events { worker_connections 256; }
http {
  access_log $ng/access.log;
  client_body_temp_path $ng/tmp/body;
  proxy_temp_path $ng/tmp/proxy;
  fastcgi_temp_path $ng/tmp/fastcgi;
  uwsgi_temp_path $ng/tmp/uwsgi;
  scgi_temp_path $ng/tmp/scgi;
  upstream torvane {
    server 127.0.0.1:$port_a;
    server 127.0.0.1:$port_b;
  }
  server {
    listen 127.0.0.1:$http_port;
    listen 127.0.0.1:$https_port ssl;
    ssl_certificate $ng/cert.pem;
    ssl_certificate_key $ng/key.pem;
    client_max_body_size 4g;
    client_body_timeout 60s;
    proxy_request_buffering off;
    proxy_http_version 1.1;
    proxy_set_header Connection "";
    proxy_set_header Host \$host;
    proxy_set_header X-Forwarded-For \$proxy_add_x_forwarded_for;
    proxy_set_header X-Forwarded-Proto \$scheme;
    proxy_connect_timeout 5s;
    proxy_send_timeout 300s;
    proxy_read_timeout 300s;
    location / { proxy_pass http://torvane; }
  }
}
CONF
tv_nginx_start "$ng/nginx.conf" || exit 1
url="http://127.0.0.1:$http_port"

# A session follows its client across the two instances.
jar="$TV_TMP/jar"
counts="" ports=""
for _ in 1 2 3 4 5 6; do
  read -r n p < <(tv_curl -b "$jar" -c "$jar" "$url/count.asp")
  counts="$counts$n "
  ports="$ports$p"$'\n'
done
expect_eq "the session's value counts on across instances" "1 2 3 4 5 6 " "$counts"
expect_eq "the requests landed on both instances" "$(printf '%s\n%s' "$port_a" "$port_b" | sort)" \
  "$(printf '%s' "$ports" | sort -u)"

# GetID through nginx, four clients at once: no number twice.
seq 1 40 | xargs -P 4 -I{} curl -sS --max-time 30 "$url/reserve.asp" > "$TV_TMP/ids"
expect_eq "40 slots reserved" "40" "$(wc -l < "$TV_TMP/ids")"
expect_eq "every slot number is unique across instances" "40" "$(cut -d' ' -f1 "$TV_TMP/ids" | sort -u | wc -l)"
expect_eq "and they run 1 to 40" "TVPROGRESSBAR1 TVPROGRESSBAR40" \
  "$(cut -d' ' -f1 "$TV_TMP/ids" | sed 's/TVPROGRESSBAR//' | sort -n | sed -n '1s/^/TVPROGRESSBAR/p;$s/^/TVPROGRESSBAR/p' | tr '\n' ' ' | sed 's/ $//')"
expect_eq "both instances handed out slots" "2" "$(cut -d' ' -f2 "$TV_TMP/ids" | sort -u | wc -l)"

# An upload through nginx, its progress polled through nginx.
read -r id _ < <(tv_curl "$url/reserve.asp")
head -c 4000000 /dev/urandom > "$TV_TMP/big.bin"
total=$(stat -c %s "$TV_TMP/big.bin")
curl -sS --max-time 120 --limit-rate 400K -F "file=@$TV_TMP/big.bin" "$url/upload.asp?id=$id" \
  > "$TV_TMP/upload.out" 2>&1 &
upload=$!
: > "$TV_TMP/polls"
while kill -0 "$upload" 2>/dev/null; do
  tv_curl "$url/progress.asp?id=$id" | tr -d '\r\n' >> "$TV_TMP/polls"
  echo >> "$TV_TMP/polls"
  sleep 0.2
done
wait "$upload"
read -r word name size upload_port < "$TV_TMP/upload.out"
expect_eq "the upload through nginx succeeded" "stored big.bin $total" "$word $name $size"
expect_eq "it landed in the shared folder whole" "$(sha256sum < "$TV_TMP/big.bin")" "$(sha256sum < "$site/up/big.bin")"
other=$port_a
[ "$upload_port" = "$port_a" ] && other=$port_b
midway=$(awk -v other="$other" -v total="$total" '{ split($1, a, "/"); if ($2 == other && a[1] > 0 && a[1] < total) n++ } END { print n + 0 }' "$TV_TMP/polls")
[ "$midway" -ge 3 ] && pass "the other instance reported the upload's progress while it ran ($midway polls)" \
  || fail "the other instance reported the upload's progress while it ran" "$(head -c 2000 "$TV_TMP/polls")"
expect_eq "progress never went backwards" "0" \
  "$(awk '{ split($1, a, "/"); if (a[1] + 0 < last) bad++; last = a[1] + 0 } END { print bad + 0 }' "$TV_TMP/polls")"
final=$(tv_curl "$url/progress.asp?id=$id")
expect_match "the final record is complete (every body byte)" "${final%% *}" '^([0-9]+)/\1$'
[ "${final%%/*}" -gt "$total" ] && pass "the body count includes the multipart framing" \
  || fail "the body count includes the multipart framing" "$final"

# The client's address and scheme come from nginx (a trusted proxy) only.
read -r addr https < <(curl -sS --interface 127.0.0.3 "$url/who.asp")
expect_eq "REMOTE_ADDR is the client behind nginx" "127.0.0.3 off" "$addr $https"
read -r addr _ < <(curl -sS --interface 127.0.0.3 -H "X-Forwarded-For: 203.0.113.9" "$url/who.asp")
expect_eq "a client's own X-Forwarded-For is not believed" "127.0.0.3" "$addr"
read -r addr _ < <(curl -sS --interface 127.0.0.3 -H "X-Forwarded-For: 203.0.113.9" -H "X-Forwarded-Proto: https" \
  "http://127.0.0.1:$port_a/who.asp")
expect_eq "forwarded headers from an untrusted peer are ignored" "127.0.0.3" "$addr"
headers=$(curl -sS -k -D - -o "$TV_TMP/who.https" "https://127.0.0.1:$https_port/who.asp" | tr -d '\r')
expect_eq "HTTPS at nginx is HTTPS for the page" "on" "$(cut -d' ' -f2 "$TV_TMP/who.https")"
expect_match "the session cookie is Secure over HTTPS" "$headers" 'Set-Cookie: TVSESSIONID=[0-9a-f]{40}; Path=/; HttpOnly; SameSite=Lax; Secure'
headers=$(curl -sS -D - -o /dev/null "$url/who.asp" | tr -d '\r')
expect_match "and not Secure over plain HTTP" "$headers" 'Set-Cookie: TVSESSIONID=[0-9a-f]{40}; Path=/; HttpOnly; SameSite=Lax$'
tv_finish
