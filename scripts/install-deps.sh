#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Torvane need,
# skipping those already installed. Runs apt-get only when something is missing.
set -euo pipefail
# scripts/install-deps.sh demo   what building and running the demo needs
# scripts/install-deps.sh        that and everything the tests and benchmarks use
# scripts/install-deps.sh bench  that and the peers bench/peers.sh runs beside
#                                torvane (PHP-FPM, Go, Werkzeug, Node; busboy
#                                comes from npm when the benchmark runs)
DEMO_PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  libboost-dev duktape-dev libacl1-dev libarchive-dev libssl-dev libpam0g-dev
  shared-mime-info libsqlite3-dev libpq-dev libhiredis-dev
)
TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  curl wget acl attr p7zip-full unzip zip libpam-wrapper passwd util-linux
  chromium nginx wrk procps python3
  clang libclang-rt-dev
  sqlite3 postgresql redis-server redis-tools openssl
  systemd
)
BENCH_PACKAGES=(
  php8.2-fpm nginx golang-go python3-werkzeug wrk
)
PACKAGES=("${DEMO_PACKAGES[@]}")
if [ "${1:-all}" = "bench" ]; then
  PACKAGES+=("${BENCH_PACKAGES[@]}")
  command -v npm >/dev/null 2>&1 || PACKAGES+=(nodejs npm)
fi
if [ "${1:-all}" != "demo" ]; then
  PACKAGES+=("${TEST_PACKAGES[@]}")
  # The browser end-to-end test drives Chromium with playwright-core from npm.
  # (A node from elsewhere that brings its own npm is kept.)
  command -v npm >/dev/null 2>&1 || PACKAGES+=(nodejs npm)
fi
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
