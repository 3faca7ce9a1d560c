#!/usr/bin/env bash
# A large file into a database field and back out, through a page's
# File.Import / File.Export (torvane run, the page engine of torvane serve),
# beside each database's own client doing the same:
#   SQLite      sqlite3 with readfile() / writefile() on a BLOB column
#   PostgreSQL  psql with \lo_import / \lo_export (a large object), and
#               Torvane into a large-object (oid) column and a bytea column
# Each run is timed (wall clock) with the peak resident memory of the process
# that moved the bytes, and every copy is checked with md5sum.
# Sizes: 1 GiB for PostgreSQL large objects; SQLite and bytea stop at their own
# limits (SQLITE_MAX_LENGTH of Debian's libsqlite3 is 1,000,000,000 bytes for a
# whole row; a bytea value is at most 1 GB less its header), so those runs use
# 999,000,000 bytes.
# Usage: ado.sh BUILD_DIR   Environment: ADO_BYTES (overrides both sizes),
# ADO_ROUNDS (default 2). Files live in /dev/shm so the disk takes no part.
set -uo pipefail
build=$(cd "${1:-build-bench}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
torvane="$build/torvane"
rounds=${ADO_ROUNDS:-2}
for tool in sqlite3 psql md5sum python3; do
  command -v "$tool" >/dev/null || { echo "ado.sh: $tool is missing (make deps installs it)" >&2; exit 1; }
done
[ -x "$torvane" ] || { echo "ado.sh: $torvane not built" >&2; exit 1; }

base=/dev/shm
[ -d "$base" ] || base=${TMPDIR:-/tmp}
export TMPDIR="$base"
tmp=$(mktemp -d "$base/torvane-ado.XXXXXX")
chmod 755 "$tmp"
source "$here/../tests/e2e/pglib.sh"
trap 'pg_stop; rm -rf "$tmp"' EXIT
pg_start || exit 1

site="$tmp/site"
mkdir -p "$site/data"
gib=$((1024 * 1024 * 1024))
big_lo=${ADO_BYTES:-$gib}
big_limited=${ADO_BYTES:-999000000}
head -c "$big_lo" /dev/urandom > "$site/data/lo.bin"
head -c "$big_limited" "$site/data/lo.bin" > "$site/data/limited.bin"

cat > "$site/import.asp" <<'EOF'
<% var c = Server.CreateObject("ADODB.Connection"); c.Open(String(Request.QueryString("cs")));
   c.Execute("DROP TABLE IF EXISTS bench_t");
   c.Execute("CREATE TABLE bench_t (id " + Request.QueryString("key") + ", data " + Request.QueryString("type") + ")");
   var rs = Server.CreateObject("ADODB.Recordset");
   rs.Open("SELECT id, data FROM bench_t", c, adOpenKeyset, adLockOptimistic);
   var f = Server.CreateObject("Torvane.File"); f.Name = "data/" + Request.QueryString("file");
   rs.AddNew(); f.Import(rs("data")); rs.Update();
   Response.Write(rs("data").ActualSize); %>
EOF
cat > "$site/export.asp" <<'EOF'
<% var c = Server.CreateObject("ADODB.Connection"); c.Open(String(Request.QueryString("cs")));
   var rs = Server.CreateObject("ADODB.Recordset");
   rs.Open("SELECT id, data FROM bench_t", c);
   var f = Server.CreateObject("Torvane.File"); f.Name = "data/out.bin";
   f.Export(rs("data"), false);
   Response.Write(f.Size); %>
EOF

# measure CMD... -> "SECONDS PEAK_MIB" of the command (its own process tree's
# peak); stops the benchmark when the command fails, or when a page does not
# answer 200 with the number of bytes it moved.
measure() {
  python3 - "$@" <<'PY'
import resource, subprocess, sys, time
t = time.monotonic()
r = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
dt = time.monotonic() - t
out = r.stdout.decode("utf-8", "replace")
page = sys.argv[2:3] == ["run"]
if r.returncode != 0 or (page and not (out.startswith("HTTP/1.1 200") and out.rstrip().split("\n")[-1].strip().isdigit())):
    sys.stderr.write("ado.sh: %s failed:\n%s%s\n" % (" ".join(sys.argv[1:]), out[-600:], r.stderr.decode("utf-8", "replace")))
    sys.exit(1)
print("%.2f %.0f" % (dt, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0))
PY
}
urlencode() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$1"; }
md5() { md5sum "$1" | cut -d' ' -f1; }
check_same() {  # check_same WHAT FILE ORIGINAL
  [ "$(md5 "$2")" = "$(md5 "$3")" ] || { echo "ado.sh: $1 did not give the original bytes back" >&2; exit 1; }
}
# timed WHO DIRECTION BYTES CMD...: measures CMD and prints its row; a failure ends the run.
timed() {
  local who="$1" dir="$2" bytes="$3" r
  shift 3
  r="$(measure "$@")" || exit 1
  row "$who" "$dir" "$bytes" "$r"
}
row() {  # row WHO DIRECTION BYTES "SECONDS PEAK"
  awk -v who="$1" -v dir="$2" -v b="$3" -v r="$4" 'BEGIN { split(r, m, " ");
    printf "%-34s %-6s %11d bytes %7.2f s %8.0f MB/s  peak %5.0f MiB\n", who, dir, b, m[1], b / m[1] / 1e6, m[2] }'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; files on $(df --output=fstype "$site/data" | tail -n1)"
sqlite_cs="sqlite:$(printf 'C:%s' "$tmp/t.db" | tr '/' '\\')"
for round in $(seq 1 "$rounds"); do
  echo "round $round"
  # SQLite: Torvane, then the sqlite3 shell.
  rm -f "$tmp/t.db" "$site/data/out.bin"
  q="cs=$(urlencode "$sqlite_cs")&key=$(urlencode 'INTEGER PRIMARY KEY')&type=BLOB&file=limited.bin"
  timed "torvane File.Import, SQLite BLOB" in "$big_limited" "$torvane" run --root "$site" "/import.asp?$q"
  timed "torvane File.Export, SQLite BLOB" out "$big_limited" "$torvane" run --root "$site" "/export.asp?$q"
  check_same "SQLite through Torvane" "$site/data/out.bin" "$site/data/limited.bin"
  rm -f "$tmp/t.db" "$site/data/out.bin"
  sqlite3 "$tmp/t.db" "CREATE TABLE bench_t (id INTEGER PRIMARY KEY, data BLOB)"
  timed "sqlite3 readfile()" in "$big_limited" sqlite3 "$tmp/t.db" "INSERT INTO bench_t (data) VALUES (readfile('$site/data/limited.bin'))"
  timed "sqlite3 writefile()" out "$big_limited" sqlite3 "$tmp/t.db" "SELECT writefile('$site/data/out.bin', data) FROM bench_t"
  check_same "sqlite3" "$site/data/out.bin" "$site/data/limited.bin"

  # PostgreSQL: Torvane with a large object and with bytea, then psql's large objects.
  rm -f "$site/data/out.bin"
  q="cs=$(urlencode "$PG_URL")&key=$(urlencode 'SERIAL PRIMARY KEY')&type=OID&file=lo.bin"
  psql -q "$PG_URL" -c "SELECT lo_unlink(oid) FROM pg_largeobject_metadata" >/dev/null
  timed "torvane File.Import, PG large object" in "$big_lo" "$torvane" run --root "$site" "/import.asp?$q"
  timed "torvane File.Export, PG large object" out "$big_lo" "$torvane" run --root "$site" "/export.asp?$q"
  check_same "PostgreSQL large object through Torvane" "$site/data/out.bin" "$site/data/lo.bin"
  rm -f "$site/data/out.bin"
  q="cs=$(urlencode "$PG_URL")&key=$(urlencode 'SERIAL PRIMARY KEY')&type=BYTEA&file=limited.bin"
  timed "torvane File.Import, PG bytea" in "$big_limited" "$torvane" run --root "$site" "/import.asp?$q"
  timed "torvane File.Export, PG bytea" out "$big_limited" "$torvane" run --root "$site" "/export.asp?$q"
  check_same "PostgreSQL bytea through Torvane" "$site/data/out.bin" "$site/data/limited.bin"
  rm -f "$site/data/out.bin"
  psql -q "$PG_URL" -c "SELECT lo_unlink(oid) FROM pg_largeobject_metadata" >/dev/null
  timed "psql \\lo_import" in "$big_lo" psql -q "$PG_URL" -c "\\lo_import '$site/data/lo.bin'"
  oid=$(psql -qtA "$PG_URL" -c "SELECT max(oid) FROM pg_largeobject_metadata")
  timed "psql \\lo_export" out "$big_lo" psql -q "$PG_URL" -c "\\lo_export $oid '$site/data/out.bin'"
  check_same "psql" "$site/data/out.bin" "$site/data/lo.bin"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
