# Shared by the benchmark scripts (sourced, after `set -u` or not): the checks
# before a run, a scratch folder whose servers are stopped by pid on exit, free
# loopback ports and medians.

# bench_need SCRIPT TOOL...: exits 1 naming the first tool that is not installed.
bench_need() {
  local who=$1 tool
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$who: $tool is missing (make deps installs it)" >&2; exit 1; }
  done
}

# bench_built SCRIPT PATH: exits 1 when the torvane binary at PATH is not built.
bench_built() { [ -x "$2" ] || { echo "$1: $2 not built" >&2; exit 1; }; }

# bench_scratch NAME [BASE]: makes $tmp (under BASE, default $TMPDIR or /tmp;
# readable by servers running as other users) and an empty pids array. On exit
# every pid in pids is sent TERM and waited for, then $tmp is removed. A script
# with more to stop sets its own EXIT trap and calls bench_cleanup last.
bench_scratch() {
  tmp=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/torvane-$1.XXXXXX")
  chmod 755 "$tmp"
  pids=()
  trap bench_cleanup EXIT
}

bench_cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$tmp"
}

# A TCP port free on the loopback interface now.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# The median of the numbers on standard input, one per line (0 for none).
median() {
  sort -g | awk '{ a[NR] = $1 } END { if (NR == 0) print 0; else print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}
