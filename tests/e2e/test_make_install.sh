#!/usr/bin/env bash
# `DESTDIR=... make install` with the default prefix: the command, the demo site
# and a sample registry land where the server looks for them when nothing is
# configured (/usr/local/share/torvane/site, /etc/torvane/registry.reg), all
# under DESTDIR; the sample registry names the real policy key; a reinstall
# keeps an operator's registry.
source "$(dirname "$0")/lib.sh"

build="${TORVANE_BUILD_DIR:-$TV_ROOT_DIR/build}"
dest="$TV_TMP/dest"
install_now() { DESTDIR="$dest" make -C "$TV_ROOT_DIR" install BUILD="$build" NOBUILD=1 >"$TV_TMP/install.log" 2>&1; }
if ! install_now; then
  fail "DESTDIR=... make install" "$(tail -n 20 "$TV_TMP/install.log")"
  tv_finish
fi
pass "DESTDIR=... make install"
bin="$dest/usr/local/bin/torvane"
for f in usr/local/bin/torvane usr/local/share/torvane/site/default.asp usr/local/share/torvane/site/upload.asp \
         etc/torvane/registry.reg etc/torvane/registry.reg.sample etc/torvane/torvane.conf \
         etc/torvane/torvane.conf.sample usr/local/lib/systemd/system/torvane.service \
         usr/local/include/torvane/torvane.h; do
  if [ -e "$dest/$f" ]; then pass "installed: /$f"; else fail "installed: /$f" "missing"; fi
done
expect_eq "the installed command runs" "$("$TORVANE" --version)" "$("$bin" --version)"

# The server's own defaults are the folders the install filled.
for p in /usr/local/share/torvane/site /etc/torvane/registry.reg; do
  if grep -qaF "$p" "$bin"; then pass "the command looks in $p"; else fail "the command looks in $p" "no such default"; fi
done
expect_contains "the unit runs the installed command with /etc/torvane/torvane.conf" \
  "$(cat "$dest/usr/local/lib/systemd/system/torvane.service")" \
  "ExecStart=/usr/local/bin/torvane serve --config /etc/torvane/torvane.conf"
expect_contains "the configuration names the installed registry" "$(cat "$dest/etc/torvane/torvane.conf")" \
  "registry = /etc/torvane/registry.reg"

# The installed site runs with the installed registry.
out="$("$bin" run --root "$dest/usr/local/share/torvane/site" --registry "$dest/etc/torvane/registry.reg" /default.asp 2>&1)"
expect_contains "the installed demo site runs" "$out" "200 OK"

# The sample registry sets nothing; its policy line, once uncommented, holds.
site="$(tv_site)"
cat > "$site/policy.asp" <<'ASP'
<% try { var f = Server.CreateObject("Torvane.File"); f.Name = "C:\\tmp\\x.txt"; Response.Write("physical allowed"); }
   catch (e) { Response.Write("refused " + e.number); } %>
ASP
out="$("$bin" run --root "$site" --registry "$dest/etc/torvane/registry.reg" /policy.asp 2>&1)"
expect_contains "as installed, physical paths are allowed" "$out" "physical allowed"
sed 's/^;"AllowPaths"="VirtualOnly"/"AllowPaths"="VirtualOnly"/' "$dest/etc/torvane/registry.reg" > "$TV_TMP/virtual.reg"
out="$("$bin" run --root "$site" --registry "$TV_TMP/virtual.reg" /policy.asp 2>&1)"
expect_contains "the sample's VirtualOnly line refuses physical paths" "$out" "refused 9030"

# A reinstall keeps the operator's registry and refreshes the sample.
echo '; edited by the operator' >> "$dest/etc/torvane/registry.reg"
install_now || fail "a second make install" "$(tail -n 20 "$TV_TMP/install.log")"
expect_contains "a reinstall keeps an edited registry" "$(cat "$dest/etc/torvane/registry.reg")" "edited by the operator"
expect_not_contains "the registry sample stays pristine" "$(cat "$dest/etc/torvane/registry.reg.sample")" "edited by the operator"
tv_finish
