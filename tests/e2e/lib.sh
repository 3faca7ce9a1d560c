# Shared helpers for the end-to-end tests. Source it from a test script:
#
#   source "$(dirname "$0")/lib.sh"
#   site=$(tv_site)                       # an empty site folder under the test's temp dir
#   printf '<%%= 1+1 %%>' > "$site/two.asp"
#   tv_serve --root "$site"               # torvane serve on a free loopback port
#   expect_eq "a page runs" "2" "$(tv_curl "$TV_URL/two.asp")"
#   tv_finish                             # prints "N passed, N failed"; exits 1 on a failure
#
# Environment (set by CTest): TORVANE (the binary), TORVANE_SOURCE_DIR,
# TORVANE_BUILD_DIR. Without them the script finds build/torvane in the tree.
#
# tv_serve ARGS...   starts `torvane serve --listen 127.0.0.1:0 ARGS...` (ARGS:
#                    --root, --registry, --config; a later --listen wins), waits
#                    (at most 20 s) until it answers, and sets TV_PID, TV_PORT,
#                    TV_URL (http://127.0.0.1:PORT) and TV_LOG (its output file).
#                    Several servers may run at once; each call sets the
#                    variables to the newest. Every server started here is
#                    stopped when the script exits (trap on EXIT).
# tv_stop [PID]      stops one server now (default: the newest).
#                    (So never call a bare `wait` in a test: it would wait for
#                    the servers too; wait for the PIDs you started.)
# tv_run ARGS...     runs `torvane run ARGS...` (output on stdout).
# tv_curl ARGS...    curl, silent, with a 30 s cap on the whole transfer.
# tv_status URL [CURL ARGS...]  prints the HTTP status code of one request.
# tv_site            makes and prints a fresh site folder.
# TV_TMP             a temporary folder removed on exit.
#
# tv_free_port       prints a free TCP port on 127.0.0.1.
# tv_redis_start     starts redis-server (no persistence) on a free loopback
#                    port, or on TV_REDIS_PORT again after tv_redis_stop; waits
#                    until it answers; sets TV_REDIS_PID, TV_REDIS_PORT and
#                    TV_REDIS_URL (redis://127.0.0.1:PORT/0). Stopped on exit.
# tv_redis_stop      stops it now (by its pid).
# tv_redis CMD...    runs redis-cli against it.
# tv_nginx_start CONF  runs Debian's nginx in the foreground with the given
#                    configuration file (its prefix: the file's folder), waits
#                    for the pid file and sets TV_NGINX_PID. Stopped on exit.
#
# Checks (each prints "ok - NAME" or "FAIL - NAME: why" and counts):
#   pass NAME | fail NAME WHY
#   expect_eq NAME EXPECTED ACTUAL
#   expect_contains NAME HAYSTACK NEEDLE
#   expect_not_contains NAME HAYSTACK NEEDLE
#   expect_match NAME HAYSTACK EXTENDED-REGEX

set -u

TV_ROOT_DIR="${TORVANE_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
if [ -z "${TORVANE:-}" ]; then
  for candidate in "${TORVANE_BUILD_DIR:-}/torvane" "$TV_ROOT_DIR/build/torvane"; do
    if [ -x "$candidate" ]; then TORVANE="$candidate"; break; fi
  done
fi
if [ -z "${TORVANE:-}" ] || [ ! -x "$TORVANE" ]; then
  echo "lib.sh: the torvane binary was not found (set TORVANE)" >&2
  exit 2
fi

TV_TMP="$(mktemp -d "${TMPDIR:-/tmp}/torvane-e2e.XXXXXX")"
TV_PASSED=0
TV_FAILED=0
TV_PIDS=()
TV_PID=""
TV_PORT=""
TV_URL=""
TV_LOG=""

# True while the process runs (an exited child not yet reaped does not count).
tv__alive() {
  local state
  state="$(ps -o stat= -p "$1" 2>/dev/null)"
  [ -n "$state" ] && [[ "$state" != Z* ]]
}

# Stops one server: TERM, up to 5 s to exit, then KILL; reaps it.
tv__stop_pid() {
  local pid="$1"
  if tv__alive "$pid"; then
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 1 50); do tv__alive "$pid" || break; sleep 0.1; done
    tv__alive "$pid" && kill -KILL "$pid" 2>/dev/null
  fi
  wait "$pid" 2>/dev/null
  return 0
}

tv_cleanup() {
  local pid
  for pid in "${TV_PIDS[@]}"; do tv__stop_pid "$pid"; done
  rm -rf "$TV_TMP"
}
trap tv_cleanup EXIT
trap 'exit 130' INT TERM

tv_site() {
  local dir
  dir="$(mktemp -d "$TV_TMP/site.XXXXXX")"
  echo "$dir"
}

tv_serve() {
  local log
  log="$(mktemp "$TV_TMP/serve.XXXXXX")"
  "$TORVANE" serve --listen 127.0.0.1:0 "$@" >"$log" 2>&1 &
  local pid=$!
  TV_PIDS+=("$pid")
  local port="" deadline=$((SECONDS + 20))
  while [ $SECONDS -lt $deadline ]; do
    port="$(sed -n 's#^torvane: serving .* on http://127\.0\.0\.1:\([0-9][0-9]*\)/$#\1#p' "$log" | head -n1)"
    [ -n "$port" ] && break
    if ! kill -0 "$pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if [ -z "$port" ]; then
    echo "tv_serve: the server did not start:" >&2
    cat "$log" >&2
    return 1
  fi
  while [ $SECONDS -lt $deadline ]; do
    curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$port/" && break
    sleep 0.1
  done
  TV_PID="$pid"
  TV_PORT="$port"
  TV_URL="http://127.0.0.1:$port"
  TV_LOG="$log"
}

tv_stop() {
  local pid="${1:-$TV_PID}"
  [ -n "$pid" ] || return 0
  tv__stop_pid "$pid"
}

tv_run() { "$TORVANE" run "$@"; }

tv_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

TV_REDIS_PID=""
TV_REDIS_PORT=""
TV_REDIS_URL=""
tv_redis_start() {
  if ! command -v redis-server >/dev/null || ! command -v redis-cli >/dev/null; then
    fail "redis-server is installed" "scripts/install-deps.sh installs Debian's redis-server and redis-tools"
    tv_finish
  fi
  [ -n "$TV_REDIS_PORT" ] || TV_REDIS_PORT="$(tv_free_port)"
  mkdir -p "$TV_TMP/redis"
  redis-server --port "$TV_REDIS_PORT" --bind 127.0.0.1 --save "" --appendonly no --dir "$TV_TMP/redis" \
    >>"$TV_TMP/redis/log" 2>&1 &
  TV_REDIS_PID=$!
  TV_PIDS+=("$TV_REDIS_PID")
  TV_REDIS_URL="redis://127.0.0.1:$TV_REDIS_PORT/0"
  local deadline=$((SECONDS + 10))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(redis-cli -p "$TV_REDIS_PORT" ping 2>/dev/null)" = "PONG" ] && return 0
    sleep 0.1
  done
  echo "tv_redis_start: redis-server did not answer:" >&2
  cat "$TV_TMP/redis/log" >&2
  return 1
}

tv_redis_stop() { tv__stop_pid "$TV_REDIS_PID"; }

tv_redis() { redis-cli -p "$TV_REDIS_PORT" "$@"; }

TV_NGINX_PID=""
tv_nginx_start() {
  local conf="$1" prefix
  prefix="$(dirname "$conf")"
  if [ ! -x /usr/sbin/nginx ]; then
    fail "nginx is installed" "scripts/install-deps.sh installs Debian's nginx"
    tv_finish
  fi
  mkdir -p "$prefix/logs"
  /usr/sbin/nginx -p "$prefix" -c "$conf" -g "daemon off; pid $prefix/nginx.pid;" >"$prefix/logs/stdout" 2>&1 &
  TV_NGINX_PID=$!
  TV_PIDS+=("$TV_NGINX_PID")
  local deadline=$((SECONDS + 10))
  while [ $SECONDS -lt $deadline ]; do
    [ -s "$prefix/nginx.pid" ] && return 0
    kill -0 "$TV_NGINX_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "tv_nginx_start: nginx did not start:" >&2
  cat "$prefix/logs/stdout" "$prefix/logs/error.log" >&2 2>/dev/null
  return 1
}

tv_curl() { curl -sS --max-time 30 "$@"; }

tv_status() {
  local url="$1"
  shift
  curl -s -o /dev/null --max-time 30 -w '%{http_code}' "$@" "$url"
}

pass() {
  TV_PASSED=$((TV_PASSED + 1))
  echo "ok - $1"
}

fail() {
  TV_FAILED=$((TV_FAILED + 1))
  echo "FAIL - $1: $2"
}

expect_eq() {
  if [ "$2" == "$3" ]; then pass "$1"; else fail "$1" "expected [$2], got [$3]"; fi
}

expect_contains() {
  case "$2" in
    *"$3"*) pass "$1" ;;
    *) fail "$1" "[$3] not found in [$2]" ;;
  esac
}

expect_not_contains() {
  case "$2" in
    *"$3"*) fail "$1" "[$3] found in [$2]" ;;
    *) pass "$1" ;;
  esac
}

expect_match() {
  if [[ "$2" =~ $3 ]]; then pass "$1"; else fail "$1" "[$2] does not match /$3/"; fi
}

tv_finish() {
  echo "$TV_PASSED passed, $TV_FAILED failed"
  [ "$TV_FAILED" -eq 0 ]
  exit $?
}

# Headless Chromium driven by playwright-core: checks Debian's chromium and
# node, installs playwright-core once into the build folder (or this test's
# temp folder; a lock keeps parallel tests from installing it twice), and sets
# TV_CHROMIUM and TV_PW (the module path for require). A missing piece fails
# the test with what is missing and ends it.
TV_PLAYWRIGHT_VERSION=1.65.2
tv_need_browser() {
  TV_CHROMIUM=/usr/bin/chromium
  if [ ! -x "$TV_CHROMIUM" ]; then
    fail "chromium is installed" "$TV_CHROMIUM is missing (scripts/install-deps.sh installs Debian's chromium)"
    tv_finish
  fi
  if ! command -v npm >/dev/null || ! command -v node >/dev/null; then
    fail "node and npm are installed" "this test drives Chromium with playwright-core from npm (scripts/install-deps.sh installs nodejs and npm)"
    tv_finish
  fi
  local cache="${TORVANE_BUILD_DIR:-$TV_TMP}/e2e-node"
  TV_PW="$cache/node_modules/playwright-core"
  mkdir -p "$cache"
  (
    flock 9
    if [ "$(node -p "try { require('$TV_PW/package.json').version } catch (e) { '' }" 2>/dev/null)" != "$TV_PLAYWRIGHT_VERSION" ]; then
      timeout 300 npm install --prefix "$cache" --no-audit --no-fund --no-save --loglevel=error \
        "playwright-core@$TV_PLAYWRIGHT_VERSION" >"$TV_TMP/npm.log" 2>&1
    fi
  ) 9>"$cache/.lock"
  if [ ! -f "$TV_PW/package.json" ]; then
    fail "npm install playwright-core@$TV_PLAYWRIGHT_VERSION" "$(tail -n 5 "$TV_TMP/npm.log" 2>/dev/null)"
    tv_finish
  fi
}
