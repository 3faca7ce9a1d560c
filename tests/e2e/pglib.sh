# A throwaway PostgreSQL server for the tests and benchmarks. Source it after
# lib.sh (or alone, from a benchmark):
#
#   source "$(dirname "$0")/pglib.sh"
#   pg_start            # initdb into a fresh folder, postgres on a free loopback port
#   psql "$PG_URL" -c 'select 1'
#   pg_stop             # also run on exit
#
# Debian's server binaries live in the versioned folder pg_config names
# (/usr/lib/postgresql/N/bin). Running as root, the cluster belongs to the
# unprivileged "postgres" account the package creates (or "nobody"), as the
# server refuses to run as root. Authentication is "trust" on loopback and the
# socket folder only; the superuser is "tvtest".
#
# Sets PG_PID, PG_PORT, PG_URL (postgresql://tvtest@127.0.0.1:PORT/postgres),
# PG_DIR and PG_BIN.

PG_PID=""
PG_DIR=""

pg__bindir() {
  local dir=""
  if command -v pg_config >/dev/null 2>&1; then dir="$(pg_config --bindir 2>/dev/null)"; fi
  if [ -z "$dir" ] || [ ! -x "$dir/initdb" ]; then
    dir="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)"
  fi
  [ -x "$dir/initdb" ] || return 1
  echo "$dir"
}

pg__free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# The command prefix that runs a program as the cluster's owner (setpriv execs
# it in place, so $! of a background start is the server's own pid).
pg__owner_prefix() {
  PG_AS=()
  if [ "$(id -u)" -eq 0 ]; then
    PG_AS=(setpriv --reuid="$PG_OWNER" --regid="$(id -g "$PG_OWNER")" --init-groups)
  fi
}

pg_start() {
  PG_BIN="$(pg__bindir)" || { echo "pglib: PostgreSQL server binaries not found (make deps installs postgresql)" >&2; return 1; }
  PG_OWNER="$(id -un)"
  if [ "$(id -u)" -eq 0 ]; then
    if id postgres >/dev/null 2>&1; then PG_OWNER=postgres; else PG_OWNER=nobody; fi
  fi
  PG_DIR="$(mktemp -d "${TMPDIR:-/tmp}/torvane-pg.XXXXXX")"
  chmod 755 "$PG_DIR"
  [ "$(id -u)" -eq 0 ] && chown "$PG_OWNER" "$PG_DIR"
  pg__owner_prefix
  "${PG_AS[@]}" "$PG_BIN/initdb" -D "$PG_DIR/data" -U tvtest --auth=trust -E UTF8 --locale=C.UTF-8 >"$PG_DIR/initdb.log" 2>&1 ||
    "${PG_AS[@]}" "$PG_BIN/initdb" -D "$PG_DIR/data" -U tvtest --auth=trust -E UTF8 --locale=C >"$PG_DIR/initdb.log" 2>&1 ||
    { echo "pglib: initdb failed:" >&2; cat "$PG_DIR/initdb.log" >&2; return 1; }
  local attempt
  for attempt in 1 2 3; do
    PG_PORT="$(pg__free_port)"
    "${PG_AS[@]}" "$PG_BIN/postgres" -D "$PG_DIR/data" -p "$PG_PORT" -h 127.0.0.1 -k "$PG_DIR" \
      -c fsync=off -c synchronous_commit=off -c full_page_writes=off >"$PG_DIR/server.log" 2>&1 &
    PG_PID=$!
    local deadline=$((SECONDS + 30))
    while [ $SECONDS -lt $deadline ]; do
      if "$PG_BIN/pg_isready" -q -h 127.0.0.1 -p "$PG_PORT"; then
        PG_URL="postgresql://tvtest@127.0.0.1:$PG_PORT/postgres"
        return 0
      fi
      kill -0 "$PG_PID" 2>/dev/null || break
      sleep 0.1
    done
    pg_stop_server
  done
  echo "pglib: the server did not start:" >&2
  cat "$PG_DIR/server.log" >&2
  return 1
}

# Stops the server (fast shutdown by signal, then KILL after 10 s) and waits for it.
pg_stop_server() {
  [ -n "$PG_PID" ] || return 0
  if kill -0 "$PG_PID" 2>/dev/null; then
    kill -INT "$PG_PID" 2>/dev/null
    local i
    for i in $(seq 1 100); do kill -0 "$PG_PID" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$PG_PID" 2>/dev/null && kill -KILL "$PG_PID" 2>/dev/null
  fi
  wait "$PG_PID" 2>/dev/null
  PG_PID=""
}

pg_stop() {
  pg_stop_server
  [ -n "$PG_DIR" ] && rm -rf "$PG_DIR"
  PG_DIR=""
}
