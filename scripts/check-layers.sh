#!/usr/bin/env bash
# Fails when a file under src/ includes a header of a layer above its own.
#
# Layers, lowest first: basics, automation, platform, host, the components
# (upload form files dirs security archive machine progress ado, classes.cpp),
# server, cli. A file may include its own layer and any layer below it; the
# public headers under include/torvane/ may include the component's layers only.
# Usage: scripts/check-layers.sh [SOURCE_DIR]   (default: the repository root)
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root/src"

rank() {
  case "$1" in
    basics) echo 0 ;;
    automation) echo 1 ;;
    platform) echo 2 ;;
    host) echo 3 ;;
    upload|form|files|dirs|security|archive|machine|progress|ado|classes.cpp) echo 4 ;;
    server) echo 5 ;;
    cli) echo 6 ;;
    *) echo -1 ;;
  esac
}

bad=0
while IFS= read -r file; do
  own=$(rank "${file%%/*}")
  if [ "$own" -lt 0 ]; then
    echo "check-layers: $file is in no known layer (add its folder to scripts/check-layers.sh)"
    bad=1
    continue
  fi
  while IFS= read -r inc; do
    target=$(rank "${inc%%/*}")
    if [ "$target" -gt "$own" ]; then
      echo "check-layers: $file includes \"$inc\", a layer above its own"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\/[^"]*\)".*/\1/p' "$file")
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) | sed 's|^\./||' | sort)

# The public headers (include/torvane/, installed as Torvane::core) forward to
# the component and the layers below it, never to the web host or the command.
while IFS= read -r file; do
  while IFS= read -r inc; do
    case "$inc" in torvane/*) continue ;; esac
    target=$(rank "${inc%%/*}")
    if [ "$target" -lt 0 ] || [ "$target" -gt 4 ]; then
      echo "check-layers: include/$file includes \"$inc\", which is not part of Torvane::core"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$root/include/$file")
done < <(cd "$root/include" 2>/dev/null && find torvane -type f -name '*.h' | sort)
exit $bad
