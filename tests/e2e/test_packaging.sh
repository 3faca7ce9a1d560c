#!/usr/bin/env bash
# What `make install` puts in place: the command, the demo site, the systemd
# unit (checked by systemd-analyze verify), its user and the sample
# configuration, which the command accepts; a second install keeps an
# operator's edited configuration.
source "$(dirname "$0")/lib.sh"

build="${TORVANE_BUILD_DIR:-$TV_ROOT_DIR/build}"
prefix="$TV_TMP/prefix"
if ! cmake --install "$build" --prefix "$prefix" >"$TV_TMP/install.log" 2>&1; then
  fail "cmake --install" "$(tail -n 20 "$TV_TMP/install.log")"
  tv_finish
fi
pass "cmake --install"
unit="$prefix/lib/systemd/system/torvane.service"
for f in bin/torvane share/torvane/site/upload.asp lib/sysusers.d/torvane.conf etc/torvane/torvane.conf \
         etc/torvane/torvane.conf.sample; do
  if [ -e "$prefix/$f" ]; then pass "installed: $f"; else fail "installed: $f" "missing"; fi
done
expect_eq "the installed command runs" "$("$TORVANE" --version)" "$("$prefix/bin/torvane" --version)"

u="$(cat "$unit")"
expect_contains "unit: starts the installed command with the installed configuration" "$u" \
  "ExecStart=$prefix/bin/torvane serve --config $prefix/etc/torvane/torvane.conf"
for line in "User=torvane" "ProtectSystem=strict" "ReadWritePaths=/var/lib/torvane /var/log/torvane" \
            "Restart=on-failure" 'ExecReload=/bin/kill -HUP $MAINPID' "NoNewPrivileges=yes"; do
  expect_contains "unit: $line" "$u" "$line"
done
expect_contains "sysusers: the dedicated user" "$(cat "$prefix/lib/sysusers.d/torvane.conf")" 'u torvane - "Torvane web host" /var/lib/torvane'

if command -v systemd-analyze >/dev/null 2>&1; then
  out="$(systemd-analyze verify --man=no "$unit" 2>&1)"
  expect_eq "systemd-analyze verify passes ($out)" "0" "$?"
  # The check has teeth: a wrong value in a copy of the unit is reported.
  sed 's/^ProtectSystem=strict/ProtectSystem=sideways/' "$unit" > "$TV_TMP/broken.service"
  systemd-analyze verify --man=no "$TV_TMP/broken.service" >"$TV_TMP/broken.log" 2>&1
  expect_contains "systemd-analyze verify reports a wrong value" "$(cat "$TV_TMP/broken.log")" "protect system value"
else
  echo "skip - systemd-analyze is not installed (scripts/install-deps.sh installs systemd)"
fi

# The sample configuration is one the command accepts (its root is the
# service's folder, so a site of this test stands in for it).
site="$(tv_site)"
printf '<%%= "sample ok" %%>' > "$site/ok.asp"
out="$("$prefix/bin/torvane" run --config "$prefix/etc/torvane/torvane.conf" --root "$site" /ok.asp 2>&1)"
expect_contains "the sample configuration is accepted" "$out" "sample ok"

# A second install keeps the operator's configuration, refreshes the sample.
echo "# edited by the operator" >> "$prefix/etc/torvane/torvane.conf"
cmake --install "$build" --prefix "$prefix" >/dev/null 2>&1
expect_contains "a reinstall keeps an edited configuration" "$(cat "$prefix/etc/torvane/torvane.conf")" "edited by the operator"
expect_not_contains "the sample stays pristine" "$(cat "$prefix/etc/torvane/torvane.conf.sample")" "edited by the operator"
tv_finish
