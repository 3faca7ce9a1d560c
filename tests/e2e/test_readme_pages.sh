#!/usr/bin/env bash
# Every page the README offers for copying works when copied: the pages of
# "Pages for common tasks" (each marked <!-- page: NAME --> before its code
# block) and the "first page" are taken from README.md into a site and used
# as a visitor would, with torvane serve and curl.
source "$(dirname "$0")/lib.sh"

site="$(tv_site)"
python3 - "$TV_ROOT_DIR/README.md" "$site" <<'PY'
import re, sys, os
text = open(sys.argv[1], encoding="utf-8").read()
pages = re.findall(r"<!-- page: ([\w.-]+) -->\n```asp\n(.*?)\n```", text, re.S)
for name, body in pages:
    open(os.path.join(sys.argv[2], name), "w", encoding="utf-8").write(body + "\n")
hello = re.search(r"cat > ~/site/hello.asp <<'ASP'\n(.*?)\n    ASP\n", text, re.S)
if hello:
    open(os.path.join(sys.argv[2], "hello.asp"), "w").write("\n".join(l[4:] for l in hello.group(1).split("\n")) + "\n")
PY
expect_eq "the README's pages" "acl.asp impersonate.asp list.asp progress.asp send.asp upload-safely.asp zip.asp" \
  "$(cd "$site" && ls *.asp | grep -v hello.asp | tr '\n' ' ' | sed 's/ $//')"
expect_contains "first page: torvane run" "$(tv_run --root "$site" "/hello.asp?name=Ann")" "Hello Ann,"

tv_serve --root "$site"
u="$TV_URL"
printf 'hello' > "$TV_TMP/a.txt"
head -c 3000 /dev/urandom > "$TV_TMP/b.bin"
head -c $((21 * 1024 * 1024)) /dev/zero > "$TV_TMP/big.bin"

# Receive an upload safely.
expect_contains "upload: the form" "$(tv_curl "$u/upload-safely.asp")" 'enctype="multipart/form-data"'
expect_eq "upload: stored with size and MD5" "<p>Stored a.txt: 5 bytes, MD5 5D41402ABC4B2A76B9719D911017C592</p>" \
  "$(tv_curl -F "file1=@$TV_TMP/a.txt" "$u/upload-safely.asp" | tr -d '\n' | sed 's/md5 \([0-9a-f]*\)/MD5 \U\1/I')"
expect_contains "upload: a second a.txt is kept beside the first" "$(tv_curl -F "file1=@$TV_TMP/a.txt" "$u/upload-safely.asp")" "Stored a(1).txt"
out="$(tv_curl -w '|%{http_code}' -F "file1=@$TV_TMP/big.bin" "$u/upload-safely.asp")"
expect_contains "upload: over MaxFileSize is refused with 413" "$out" "|413"
expect_contains "upload: the refusal says why" "$out" "Upload refused: "
expect_eq "upload: nothing of a refused upload kept" "a(1).txt a.txt" "$(ls "$site/.uploads" | tr '\n' ' ' | sed 's/ $//')"
expect_eq "upload: the folder is never served" "404" "$(tv_status "$u/.uploads/a.txt")"

# Show upload progress.
form="$(tv_curl "$u/progress.asp")"
id="$(sed -n 's/.*action="progress.asp?id=\([A-Z0-9]*\)".*/\1/p' <<<"$form")"
expect_match "progress: the form names a slot" "$id" '^TVPROGRESSBAR[0-9]+$'
expect_eq "progress: the upload" "Done." "$(tv_curl -F "file1=@$TV_TMP/b.bin" "$u/progress.asp?id=$id" | tr -d '\n')"
expect_match "progress: the slot's record, whole" "$(tv_curl "$u/progress.asp?id=$id" | tr -d '\n')" '^\{"done":([0-9]+),"total":\1,"file":"b.bin"\}$'
expect_eq "progress: an unknown slot" "404" "$(tv_status "$u/progress.asp?id=TVPROGRESSBAR999999")"

# List and sort a folder.
names() { tv_curl "$u/list.asp?$1" | sed -n 's#^<tr><td>\([^<]*\)</td>.*#\1#p' | tr '\n' ' ' | sed 's/ $//'; }
expect_eq "list: by name" "a(1).txt a.txt b.bin" "$(names sort=name)"
expect_eq "list: by size, largest last" "b.bin" "$(names sort=size | cut -d' ' -f3)"
expect_eq "list: by size, largest first" "b.bin" "$(names 'sort=size&desc=1' | cut -d' ' -f1)"
expect_eq "list: an unknown order falls back to names" "a(1).txt a.txt b.bin" "$(names sort=evil)"

# Send a file with resume.
expect_eq "send: the file" "hello" "$(tv_curl "$u/send.asp?name=a.txt")"
expect_eq "send: a range of it" "el|206" "$(tv_curl -w '|%{http_code}' -r 1-2 "$u/send.asp?name=a.txt")"
expect_eq "send: a name that leaves the folder" "400" "$(tv_status "$u/send.asp?name=../upload-safely.asp")"
expect_eq "send: a hidden name" "400" "$(tv_status "$u/send.asp?name=.htaccess")"
expect_eq "send: a missing file" "404" "$(tv_status "$u/send.asp?name=none.txt")"

# Zip a folder for download.
tv_curl -o "$TV_TMP/got.zip" "$u/zip.asp"
listing="$(unzip -Z1 "$TV_TMP/got.zip" 2>&1 | sort | tr '\n' ' ' | sed 's/ $//')"
expect_eq "zip: the folder's files" "a(1).txt a.txt b.bin" "$listing"
expect_eq "zip: the same bytes" "$(md5sum < "$TV_TMP/b.bin")" "$(unzip -p "$TV_TMP/got.zip" b.bin | md5sum)"
expect_eq "zip: the archive is deleted once sent" "" "$(ls -A "$site/.work")"

# ACLs.
out="$(tv_curl -d user=nobody "$u/acl.asp?name=a.txt")"
expect_contains "acl: granted" "$out" "Granted read access."
expect_contains "acl: the new entry listed" "$out" "<tr><td>nobody</td><td>read</td></tr>"
expect_contains "acl: the kernel has it" "$(getfacl -c "$site/.uploads/a.txt" 2>/dev/null)" "user:nobody:r--"
expect_contains "acl: an unknown user is refused with the reason" "$(tv_curl -d user=no-such-user-xyz "$u/acl.asp?name=a.txt")" "Not granted: "
expect_eq "acl: a name that leaves the folder" "400" "$(tv_status "$u/acl.asp?name=../x")"

# Impersonation: a wrong password is refused and nothing is created.
out="$(tv_curl -w '|%{http_code}' -d user=nobody -d password=wrong "$u/impersonate.asp")"
expect_contains "impersonate: a wrong password is refused" "$out" "Not done: "
expect_contains "impersonate: with 403" "$out" "|403"
expect_contains "impersonate: the form" "$(tv_curl "$u/impersonate.asp")" 'type="password"'
tv_finish
