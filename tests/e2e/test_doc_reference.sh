#!/usr/bin/env bash
# The reference: `torvane doc` renders it from the member tables; the
# committed docs/reference.md and the demo's /reference page must be the
# current rendering; the command's options and mistakes; the page served by
# the demo inside its frame.
source "$(dirname "$0")/lib.sh"

regen='run "make reference" and commit docs/reference.md and examples/site/reference/reference.inc'

# fresh FORMAT COMMITTED NAME: the committed file equals a fresh rendering.
fresh() {
  local format="$1" committed="$2" name="$3"
  "$TORVANE" doc --format="$format" > "$TV_TMP/fresh.$format" 2> "$TV_TMP/err"
  expect_eq "$name: doc exits 0" 0 $?
  if cmp -s "$TV_TMP/fresh.$format" "$committed"; then
    pass "$name is the current rendering"
  else
    fail "$name is the current rendering" \
      "$committed differs from \"torvane doc --format=$format\"; $regen. Difference:
$(diff -u "$committed" "$TV_TMP/fresh.$format" | head -n 40)"
  fi
}
fresh md "$TV_ROOT_DIR/docs/reference.md" "docs/reference.md"
fresh html-fragment "$TV_ROOT_DIR/examples/site/reference/reference.inc" "the demo's reference page"

# The default format is Markdown; --out writes the same text, and replaces a file whole.
md="$("$TORVANE" doc)"
expect_contains "Markdown by default" "$md" "# Torvane reference"
printf 'old text that is longer than nothing\n%.0s' {1..5000} > "$TV_TMP/out.md"
"$TORVANE" doc --out "$TV_TMP/out.md"
expect_eq "--out exits 0" 0 $?
expect_eq "--out writes what standard output gets" "$("$TORVANE" doc --format md)" "$(cat "$TV_TMP/out.md")"
expect_eq "--out leaves no temporary file" "out.md" "$(cd "$TV_TMP" && ls out.md* )"
html="$("$TORVANE" doc --format=html)"
expect_contains "html is a whole page" "$html" "<!DOCTYPE html>"
expect_contains "html escapes quotes" "$html" "&quot;multipart/form-data&quot;"

# Help and mistakes.
out="$("$TORVANE" doc --help 2>&1)"; rc=$?
expect_eq "doc --help exits 0" 0 "$rc"
expect_contains "doc --help names --format" "$out" "--format md|html|html-fragment"
expect_contains "torvane --help lists doc" "$("$TORVANE" --help)" "torvane doc [OPTIONS]"
out="$("$TORVANE" doc --format=pdf 2>&1)"; rc=$?
expect_eq "an unknown format: exit 2" 2 "$rc"
expect_contains "an unknown format: said" "$out" 'torvane doc: --format must be md, html or html-fragment, not "pdf"'
out="$("$TORVANE" doc --bogus 2>&1)"; rc=$?
expect_eq "an unknown option: exit 2" 2 "$rc"
expect_contains "an unknown option: the same words" "$out" $'torvane doc: unknown option --bogus\nTry "torvane doc --help".'
out="$("$TORVANE" doc extra 2>&1)"; rc=$?
expect_eq "a stray argument: exit 2" 2 "$rc"
out="$("$TORVANE" doc --out "$TV_TMP/no/such/dir/ref.md" 2>&1)"; rc=$?
expect_eq "an unwritable --out: exit 1" 1 "$rc"
expect_contains "an unwritable --out: names the file" "$out" "$TV_TMP/no/such/dir/ref.md"
expect_eq "an unwritable --out: nothing left behind" "" "$(ls "$TV_TMP/no" 2>/dev/null)"

# The demo serves the page at /reference inside its own frame.
# (A copy: the demo's pages may write into their site.)
cp -r "$TV_ROOT_DIR/examples/site" "$TV_TMP/demo"
tv_serve --root "$TV_TMP/demo"
expect_eq "/reference redirects to the folder" 301 "$(tv_status "$TV_URL/reference")"
page="$(tv_curl "$TV_URL/reference/")"
expect_contains "the page has the reference" "$page" "<h1>Torvane reference</h1>"
expect_contains "the page lists Torvane.Post" "$page" 'id="torvanepost"'
expect_contains "the page uses the demo's stylesheet" "$page" 'href="../style.css"'
expect_contains "the page marks its nav entry" "$page" '<a href="../reference/" aria-current="page">Reference</a>'
expect_contains "the page has the demo's footer" "$page" 'id="site-footer"'
start="$(tv_curl "$TV_URL/default.asp")"
expect_contains "every demo page links the reference" "$start" '<a href="reference/">Reference</a>'

tv_finish
