#!/usr/bin/env bash
# Embedding: the development package installed to a temporary prefix
# (cmake --install --component Development) gives find_package(Torvane) and
# Torvane::core; examples/embed is configured and built against it alone and
# run: its own host, objects created by ProgID, members called late-bound.
source "$(dirname "$0")/lib.sh"

build="${TORVANE_BUILD_DIR:-$TV_ROOT_DIR/build}"
prefix="$TV_TMP/prefix"
if ! cmake --install "$build" --prefix "$prefix" --component Development >"$TV_TMP/install.log" 2>&1; then
  fail "cmake --install --component Development" "$(tail -n 20 "$TV_TMP/install.log")"
  tv_finish
fi
pass "cmake --install --component Development"
for f in include/torvane/torvane.h include/torvane/value.h include/torvane/error.h include/torvane/object.h \
         include/torvane/progid.h include/torvane/host.h include/torvane/detail/host/host.h \
         lib/cmake/Torvane/TorvaneConfig.cmake lib/cmake/Torvane/TorvaneConfigVersion.cmake; do
  if [ -e "$prefix/$f" ]; then pass "installed: $f"; else fail "installed: $f" "missing"; fi
done
# The package is the component without the web host.
expect_eq "no web host headers in the package" "" "$(ls "$prefix/include/torvane/detail" | grep -x -e server -e cli)"
expect_eq "no web host library in the package" "" "$(find "$prefix" -name 'libtorvane_server*')"

# The example, built against the prefix alone, with the compiler of this build.
cxx="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")"
if ! cmake -S "$TV_ROOT_DIR/examples/embed" -B "$TV_TMP/embed" -DCMAKE_PREFIX_PATH="$prefix" \
       ${cxx:+-DCMAKE_CXX_COMPILER="$cxx"} >"$TV_TMP/configure.log" 2>&1 ||
   ! cmake --build "$TV_TMP/embed" >"$TV_TMP/build.log" 2>&1; then
  fail "examples/embed builds against the installed package" "$(tail -n 30 "$TV_TMP/configure.log" "$TV_TMP/build.log")"
  tv_finish
fi
pass "examples/embed builds against the installed package"
grep -q "$prefix/lib/cmake/Torvane" "$TV_TMP/embed/CMakeCache.txt" &&
  pass "the example found the staged package" || fail "the example found the staged package" "Torvane_DIR elsewhere"

embed="$TV_TMP/embed/torvane-embed"
data="$TV_TMP/data"
mkdir -p "$data"
printf 'hello, embedded world\n' > "$data/greeting.txt"

out="$("$embed" "$data/greeting.txt" 2>&1)"
expect_eq "exit status" "0" "$?"
host="$(hostname)"
host="${host%%.*}"
expect_contains "Torvane.Computer by ProgID: ComputerName" "$out" "ComputerName: $(printf '%s' "${host:0:15}" | tr a-z A-Z)"
expect_contains "Torvane.File: Size, late-bound" "$out" "Size: 22"
expect_contains "Download through the host's Response: status" "$out" "Status: 200 OK"
expect_contains "Download: the file's type" "$out" "Content-Type: text/plain"
expect_contains "Download: the whole file" "$out" "Body: hello, embedded world"
expect_contains "an unknown member comes back as error 438" "$out" "Error 438: Object doesn't support this property or method"

# The host's request reaches the component: a range asks for 5 bytes.
out="$("$embed" "$data/greeting.txt" "bytes=0-4" 2>&1)"
expect_contains "a range from the host's request: 206" "$out" "Status: 206"
expect_contains "a range from the host's request: five bytes" "$out" $'Body: hello\nError 438'

# A component error reaches the embedding program as torvane::Error.
out="$("$embed" "$data/missing.txt" 2>&1)"
expect_eq "a missing file: exit status 1" "1" "$?"
expect_contains "a missing file: the component's error" "$out" "torvane-embed: error"
tv_finish
