#!/usr/bin/env bash
# Owners, access-control entries and impersonation end to end, through pages:
#  - `torvane run`: a page grants a throwaway user read-only access to a file;
#    that user (via setpriv) can read it and cannot write it, and getfacl shows
#    the entry; a page changes the file's owner.
#  - `torvane serve` with one worker: a page impersonates the user (PAM with
#    pam_unix and the user's real password) and creates a folder, which the user
#    owns; it ends without EndImpersonate, and the next page on the same worker
#    runs as the server again. A wrong password fails with its clear error.
# Needs root (throwaway account, a PAM service file); prints a skip otherwise.
set -u

ROOT_DIR="${TORVANE_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}"
TORVANE="${TORVANE:-$ROOT_DIR/build/torvane}"
if [ ! -x "$TORVANE" ]; then
  echo "test_security: the torvane binary was not found (set TORVANE)" >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "skip - needs root for a throwaway account and a PAM service"
  echo "0 passed, 0 failed"
  exit 0
fi

PASSED=0
FAILED=0
ok() { PASSED=$((PASSED + 1)); echo "ok - $1"; }
bad() { FAILED=$((FAILED + 1)); echo "FAIL - $1: $2"; }
expect_eq() { if [ "$2" = "$3" ]; then ok "$1"; else bad "$1" "expected [$2], got [$3]"; fi; }
expect_contains() { case "$2" in *"$3"*) ok "$1" ;; *) bad "$1" "[$3] not in [$2]" ;; esac; }

TMP="$(mktemp -d /tmp/torvane-sec-e2e.XXXXXX)"
USER_NAME="tve2e$$"
PASSWORD="E2e-pass-$$"
SERVICE="torvane-e2e-$$"
SERVER_PID=""
cleanup() {
  if [ -n "$SERVER_PID" ]; then
    kill -TERM "$SERVER_PID" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$SERVER_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$SERVER_PID" 2>/dev/null
    wait "$SERVER_PID" 2>/dev/null
  fi
  userdel -f "$USER_NAME" >/dev/null 2>&1
  rm -f "/etc/pam.d/$SERVICE"
  rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

useradd -M -U -s /usr/sbin/nologin "$USER_NAME" || { echo "useradd failed"; exit 1; }
echo "$USER_NAME:$PASSWORD" | chpasswd
# nodelay: a refused password answers at once, not after the two-second failure delay.
printf 'auth required pam_unix.so nodelay\naccount required pam_unix.so\n' > "/etc/pam.d/$SERVICE"

chmod 755 "$TMP"
site="$TMP/site"
data="$TMP/data"
mkdir -p "$site" "$data"
chmod 777 "$data"
printf 'quarterly figures' > "$data/report.txt"
chmod 600 "$data/report.txt"
printf 'pam_service = %s\nworkers = 1\n' "$SERVICE" > "$TMP/torvane.conf"

# Physical paths in DOS form: drive C: is /, and C:/x/y is the Linux /x/y.
cat > "$site/grant.asp" <<'ASP'
<% var f = new ActiveXObject("Torvane.File");
   f.Name = "" + Request.QueryString("path");
   var user = "" + Request.QueryString("user");
   var aces = f.ACEs;
   aces.Add(user, TV_PERMIT_READ);
   var countAfterAdd = aces.Count;
   var listed = f.ACEs(user);
   Response.Write(countAfterAdd + "|" + listed.Permissions + "|" + listed.TrusteeType + "|" + f.Owner); %>
ASP
cat > "$site/owner.asp" <<'ASP'
<% var f = new ActiveXObject("Torvane.File");
   f.Name = "" + Request.QueryString("path");
   f.Owner = "" + Request.QueryString("user");
   Response.Write(f.Owner + "|" + (f.ToXML("owner"))); %>
ASP
cat > "$site/impersonate.asp" <<'ASP'
<% var c = new ActiveXObject("Torvane.Computer");
   c.Impersonate("" + Request.QueryString("user"), "" + Request.QueryString("pw"), "");
   var d = new ActiveXObject("Torvane.Directory");
   d.Create("" + Request.QueryString("path"));
   Response.Write(c.UserName); %>
ASP
cat > "$site/plain.asp" <<'ASP'
<% var c = new ActiveXObject("Torvane.Computer");
   var d = new ActiveXObject("Torvane.Directory");
   d.Create("" + Request.QueryString("path"));
   Response.Write(c.UserName); %>
ASP

body() { sed '1,/^\r$/d' "$1"; }

# ---- a page grants read-only access --------------------------------------------------------
"$TORVANE" run --root "$site" "/grant.asp?path=C:$data/report.txt&user=$USER_NAME" > "$TMP/grant.raw"
expect_eq "run exits 0" "0" "$?"
expect_eq "grant page: empty after Add, Permissions 1, a user, owner root" "0|1|1|root" "$(body "$TMP/grant.raw")"
expect_contains "getfacl shows the entry" "$(getfacl -cp "$data/report.txt" 2>/dev/null)" "user:$USER_NAME:r--"
as_user=(setpriv --reuid="$USER_NAME" --regid="$USER_NAME" --clear-groups)
expect_eq "the user reads the file" "quarterly figures" "$("${as_user[@]}" cat "$data/report.txt" 2>/dev/null)"
if "${as_user[@]}" sh -c "printf x >> '$data/report.txt'" 2>/dev/null; then
  bad "the user cannot write the file" "the write succeeded"
else
  ok "the user cannot write the file"
fi
expect_eq "the file is unchanged" "quarterly figures" "$(cat "$data/report.txt")"

# ---- a page changes the owner ----------------------------------------------------------------
"$TORVANE" run --root "$site" "/owner.asp?path=C:$data/report.txt&user=$USER_NAME" > "$TMP/owner.raw"
expect_eq "owner page" "$USER_NAME|<file><owner>$USER_NAME</owner></file>" "$(body "$TMP/owner.raw")"
expect_eq "stat shows the new owner" "$USER_NAME" "$(stat -c %U "$data/report.txt")"

# ---- impersonation on a worker, and the page after it ------------------------------------
"$TORVANE" serve --listen 127.0.0.1:0 --root "$site" --config "$TMP/torvane.conf" > "$TMP/serve.log" 2>&1 &
SERVER_PID=$!
port=""
for _ in $(seq 1 200); do
  port="$(sed -n 's#^torvane: serving .* on http://127\.0\.0\.1:\([0-9][0-9]*\)/$#\1#p' "$TMP/serve.log" | head -n1)"
  [ -n "$port" ] && break
  kill -0 "$SERVER_PID" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  bad "server starts" "$(cat "$TMP/serve.log")"
else
  url="http://127.0.0.1:$port"
  got="$(curl -sS --max-time 30 "$url/impersonate.asp?user=$USER_NAME&pw=$PASSWORD&path=C:$data/by-page-one")"
  expect_eq "impersonating page reports the user" "$USER_NAME" "$got"
  expect_eq "its folder belongs to the user" "$USER_NAME" "$(stat -c %U "$data/by-page-one" 2>/dev/null)"
  got="$(curl -sS --max-time 30 "$url/plain.asp?path=C:$data/by-page-two")"
  expect_eq "the next page on the worker runs as the server" "root" "$got"
  expect_eq "its folder belongs to root" "root" "$(stat -c %U "$data/by-page-two" 2>/dev/null)"
  status="$(curl -s -o "$TMP/wrong.html" -w '%{http_code}' --max-time 30 \
    "$url/impersonate.asp?user=$USER_NAME&pw=wrong&path=C:$data/never")"
  expect_eq "a wrong password fails the page" "500" "$status"
  expect_contains "with the logon failure" "$(cat "$TMP/wrong.html")" "Logon failure: unknown user name or bad password."
  if [ -e "$data/never" ]; then bad "nothing is created after the failure" "folder exists"; else ok "nothing is created after the failure"; fi
fi

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
