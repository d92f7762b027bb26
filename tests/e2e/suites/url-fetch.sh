#!/usr/bin/env bash
# Fetches documents from a loopback HTTP server with "varkel -dumpurl": plain and CRLF lines,
# an empty document, a missing one, a redirect, and a document line too long for the reader;
# then builds a cube from a url: source.
# The server is bounded in time and stopped by its pid however the suite ends.
set -u
build=$(cd "$1" && pwd)
varkel="$build/varkel/varkel"
work=$(mktemp -d "${TMPDIR:-/tmp}/url-fetch.XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

docs="$work/docs"
mkdir -p "$docs/dir"
printf 'a\tb\nc\n' >"$docs/lines.txt"
printf 'a\r\nb\r\n' >"$docs/crlf.txt"
printf 'x\n\ny' >"$docs/gap.txt"
printf 'x\n\n' >"$docs/trailing.txt"
: >"$docs/empty.txt"
printf 'inside\n' >"$docs/dir/index.html"
head -c 70000 /dev/zero | tr '\0' 'q' >"$docs/long.txt"

. "$(dirname "$0")/../lib/httpserver.sh"
start_http_server "$docs" || exit 1
base="http://127.0.0.1:$port"

fail=0
# check NAME URL STATUS STDOUT STDERR
check() {
  local name=$1 url=$2 want_status=$3 want_out=$4 want_err=$5
  (cd "$work" && env -i PATH=/usr/bin:/bin LC_ALL=C timeout 60 "$varkel" -dumpurl "$url" \
     >"$work/out" 2>"$work/err")
  local status=$?
  # The banner is the builder's own business, not the fetch's.
  sed -i '/^varkel .*(build /d' "$work/err"
  if [ "$status" != "$want_status" ]; then
    echo "$name: exit status $status, want $want_status"; fail=1
  fi
  if ! diff -u --label "want stdout" --label "got stdout" <(printf '%b' "$want_out") "$work/out"
  then echo "$name: stdout differs"; fail=1; fi
  if ! diff -u --label "want stderr" --label "got stderr" <(printf '%b' "$want_err") "$work/err"
  then echo "$name: stderr differs"; fail=1; fi
}

check lines "$base/lines.txt" 0 'a\tb\nc\n' ''
check crlf "$base/crlf.txt" 0 'a\r\nb\r\n' ''
check gap "$base/gap.txt" 0 'x\n\ny\n' ''
check trailing-empty-line "$base/trailing.txt" 0 'x\n' ''
check redirect "$base/dir" 0 'inside\n' ''
check empty "$base/empty.txt" 2 '' "Error 002: Unable to open url '$base/empty.txt'\n"
check missing "$base/none.txt" 224 '' "URL not found. Check the data source \"$base/none.txt\".\n"
check refused "http://127.0.0.1:1/x" 224 '' \
  "URL not found. Check the data source \"http://127.0.0.1:1/x\".\n"
check too-long "$base/long.txt" 6 '' \
  'Error 006: Input line too long! (More than 65536 characters!)\n'
check file-url "file://$docs/lines.txt" 0 'a\tb\nc\n' ''

# libcurl is opened on the first fetch: a library of that name without its calls (another
# library the builder uses, copied under that name) stops the fetch with the builder's own
# message, not a crash.
mkdir "$work/fakelib"
cp "$(ldd "$varkel" | awk '$1 == "libodbc.so.2" { print $3 }')" "$work/fakelib/libcurl.so.4"
(cd "$work" && env -i PATH=/usr/bin:/bin LC_ALL=C LD_LIBRARY_PATH="$work/fakelib" timeout 60 \
   "$varkel" -dumpurl "$base/lines.txt" >"$work/out" 2>"$work/err")
status=$?
sed -i '/^varkel .*(build /d' "$work/err"
if [ "$status" != 2 ] || [ -s "$work/out" ] ||
   [ "$(<"$work/err")" != "Error 002: Unable to open url '$base/lines.txt'" ]; then
  echo "unusable libcurl: status $status, stderr: $(<"$work/err")"; fail=1
fi
rm -r "$work/fakelib"

# A cube built from a url: source equals the one built from the same file; a missing
# document ends the build and leaves the earlier page and cube file as they were.
examples=$(cd "$(dirname "$0")/../../../examples" && pwd)
cp "$examples/sales.qv" "$examples/sales.txt" "$work/"
cp "$examples/sales.txt" "$docs/"
build_cube() {  # NAME SOURCE: builds NAME.html and NAME.cb4; the status goes to "status"
  (cd "$work" && env -i PATH=/usr/bin:/bin LC_ALL=C timeout 60 "$varkel" -datasource "$2" \
     -o "$1.html" sales.qv4 >/dev/null 2>"$work/err"; echo $? >"$work/status")
}
if ! (cd "$work" && "$build/profile/tarnwick" sales.qv >/dev/null 2>&1); then
  echo "tarnwick could not compile the example profile"; fail=1
fi
build_cube text "text:sales.txt"
build_cube url "url:$base/sales.txt"
if [ "$(<"$work/status")" != 0 ]; then echo "url build: status $(<"$work/status")"; fail=1; fi
if ! diff <(grep -v -e '^builddate=' -e '^rawdata=' "$work/text.cb4") \
          <(grep -v -e '^builddate=' -e '^rawdata=' "$work/url.cb4"); then
  echo "the cube from the url: source differs from the one from the file"; fail=1
fi
grep -q "^rawdata=$base/sales.txt\$" "$work/url.cb4" || { echo "url build: no rawdata"; fail=1; }
cp "$work/url.html" "$work/before.html"
cp "$work/url.cb4" "$work/before.cb4"
build_cube url "url:$base/gone.txt"
if [ "$(<"$work/status")" != 224 ]; then echo "gone: status $(<"$work/status")"; fail=1; fi
if ! grep -qxF "URL not found. Check the data source \"$base/gone.txt\"." \
       <(sed 's/^Expanding profile: //' "$work/err"); then
  echo "gone: no 'URL not found' message:"; cat "$work/err"; fail=1
fi
cmp -s "$work/url.html" "$work/before.html" && cmp -s "$work/url.cb4" "$work/before.cb4" ||
  { echo "gone: the earlier page or cube file changed"; fail=1; }
rm -f "$work"/sales.* "$work"/text.* "$work"/url.* "$work"/before.* "$work/status"

# Nothing the fetches did may stay behind in the working directory.
leftovers=$(ls "$work" | grep -v -x -e docs -e server.log -e out -e err)
if [ -n "$leftovers" ]; then echo "files left behind: $leftovers"; fail=1; fi
exit $fail
