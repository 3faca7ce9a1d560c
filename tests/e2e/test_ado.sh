#!/usr/bin/env bash
# The data-access objects (ADODB.Connection, Recordset, Command, Field) on both
# back ends: every case page in tests/e2e/ado runs once against a SQLite
# database in the site and once against a real PostgreSQL server started here
# (initdb into a temporary folder, a free loopback port, stopped by pid). Then
# a 100 MiB file goes into each kind of binary field and back through
# File.Import/Export with its MD5 equal, while the runner's peak memory stays
# far below the file's size.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pglib.sh"
trap 'pg_stop; tv_cleanup' EXIT

pg_start || { fail "PostgreSQL starts" "see above"; tv_finish; }
pass "PostgreSQL starts on port $PG_PORT"

site="$(tv_site)"
mkdir -p "$site/ado/data"
cp "$TV_ROOT_DIR"/tests/e2e/ado/*.asp "$TV_ROOT_DIR"/tests/e2e/ado/*.inc "$site/ado/"
python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7919) % 251 for i in range(700001)))' > "$site/ado/data/src.bin"
printf 'hi\000\n' > "$site/ado/data/small.bin"
: > "$site/ado/data/empty.bin"

urlencode() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$1"; }
declare -A CONN=([sqlite]="sqlite:data/test.db" [pg]="$PG_URL")

# Runs one case page; its "ok -"/"FAIL -" lines count, prefixed by the back end.
run_case() {
  local db="$1" page="$2" query="$3" out body
  out="$(tv_run --root "$site" "/ado/$page?db=$db&cs=$(urlencode "${CONN[$db]}")$query" 2>&1)"
  body="$(printf '%s\n' "$out" | sed '1,/^\r\{0,1\}$/d')"
  local line seen=0
  while IFS= read -r line; do
    case "$line" in
      "ok - "*) pass "$db: ${line#ok - }"; seen=1 ;;
      "FAIL - "*) fail "$db: ${line#FAIL - }" "see the line"; seen=1 ;;
    esac
  done <<<"$body"
  case "$body" in
    *END) ;;
    *) fail "$db: $page ran to its end" "$(printf '%s' "$out" | tail -n 12)" ;;
  esac
  [ $seen -eq 1 ] || fail "$db: $page checked something" "no check ran"
}

for db in sqlite pg; do
  for page in connection recordset field command transaction files; do
    run_case "$db" "$page.asp" ""
  done
done

# The database file of sqlite:data/test.db is where the page's folder maps it.
[ -s "$site/ado/data/test.db" ] && pass "sqlite: a virtual database path lands in the page's folder" ||
  fail "sqlite: a virtual database path lands in the page's folder" "no $site/ado/data/test.db"

# The path policy applies to a database's path like to a File's Name.
reg="$TV_TMP/virtualonly.reg"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brightmoor\\Torvane]\n"AllowPaths"="VirtualOnly"\n' > "$reg"
cat > "$site/ado/policy.asp" <<'EOF'
<% try { var c = Server.CreateObject("ADODB.Connection"); c.Open("sqlite:C:\\tmp\\x.db"); Response.Write("opened"); }
   catch (e) { Response.Write(e.number + " " + e.description); } %>
EOF
expect_contains "sqlite: a physical database path under VirtualOnly" \
  "$(tv_run --root "$site" --registry "$reg" /ado/policy.asp)" "9030 Only virtual directories may be used."

# 100 MiB into each kind of binary field and back, with the runner's peak memory.
head -c $((100 * 1024 * 1024)) /dev/urandom > "$site/ado/data/big.bin"
peak_run() {  # peak_run ARGS... -> prints "PEAK_KIB" then the output of torvane run
  python3 - "$TORVANE" "$@" <<'PY'
import resource, subprocess, sys
out = subprocess.run([sys.argv[1], "run"] + sys.argv[2:], capture_output=True).stdout.decode("utf-8", "replace")
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
print(out)
PY
}
for spec in "sqlite BLOB" "pg BYTEA" "pg OID"; do
  set -- $spec
  db="$1" type="$2"
  result="$(peak_run --root "$site" "/ado/blob.asp?db=$db&type=$type&cs=$(urlencode "${CONN[$db]}")")"
  peak_kib="$(printf '%s\n' "$result" | head -n1)"
  body="$(printf '%s\n' "$result" | tail -n +2)"
  expect_contains "$db $type: 100 MiB stored with its size" "$body" "ok - the size in the database"
  expect_contains "$db $type: 100 MiB back out with the same MD5" "$body" "ok - the MD5 of the file exported back"
  if [ "$peak_kib" -lt $((48 * 1024)) ]; then
    pass "$db $type: peak memory $((peak_kib / 1024)) MiB for a 100 MiB value"
  else
    fail "$db $type: memory stays bounded" "peak $((peak_kib / 1024)) MiB"
  fi
done

tv_finish
