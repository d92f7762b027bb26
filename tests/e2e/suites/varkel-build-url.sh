#!/usr/bin/env bash
# Builds a cube from a document on a loopback HTTP server: each pass fetches the document
# anew, and the cube equals the one built from the same records in a file. The server is
# bounded in time and stopped by its pid however the suite ends.
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/varkel-build-url.XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/docs" "$work/run"
printf 'N\ta\t10\nS\tb\t2.5\r\nN\tc\t7\n\nS\ta\t-3\nE\ta\t1\n' >"$work/docs/data.txt"
cp "$work/docs/data.txt" "$work/run/data.txt"
cat >"$work/run/p.qv" <<'PROFILE'
<!--varkel
setup { data = "text:data.txt" }
axis "Region" { autobuild = f0 sorta-z }
axis "Kind" {
  "A" match(f1 = "a")
  "B" match(f1 = "b")
}
measure { "Amount" extract = f2 }
varkel-->
PROFILE

. "$(dirname "$0")/../lib/httpserver.sh"
start_http_server "$work/docs" || exit 1
url="http://127.0.0.1:$port/data.txt"

fail=0
# Sanitizer settings pass through the bare environment so a finding fails the suite.
extra=()
for v in ASAN_OPTIONS UBSAN_OPTIONS; do
  [ -n "${!v:-}" ] && extra+=("$v=${!v}")
done
run() {
  (cd "$work/run" && env -i PATH="$build/varkel:$build/profile:/usr/bin:/bin" LC_ALL=C \
     "${extra[@]}" timeout 60 "$@")
}
run tarnwick p.qv >/dev/null || { echo "tarnwick failed"; exit 1; }
run varkel p.qv4 -o file.html 2>/dev/null || { echo "file build failed"; fail=1; }
run varkel p.qv4 -o url.html -datasource "$url" 2>"$work/err"
status=$?
[ "$status" = 0 ] || { echo "url build: exit status $status"; cat "$work/err"; fail=1; }

want_err=$(printf 'varkel 2.1 (build 101 Dec 10 2026)\nExpanding profile: \nProcessing: \nInput 5 records, matched 4, stored 4.\n')
if [ "$(<"$work/err")" != "$want_err" ]; then
  echo "url build messages differ:"; diff <(echo "$want_err") "$work/err"; fail=1
fi
gets=$(grep -c '"GET /data.txt' "$work/server.log")
[ "$gets" = 2 ] || { echo "document fetched $gets times, want 2 (one per pass)"; fail=1; }

# Everything but the source's own setting and the build date is the same.
strip() { grep -v -e '^builddate=' -e '^rawdata=' "$1"; }
if ! diff <(strip "$work/run/file.cb4") <(strip "$work/run/url.cb4"); then
  echo "cube from the URL differs from the cube from the file"; fail=1
fi
grep -q -x "rawdata=$url" "$work/run/url.cb4" || { echo "rawdata does not name the URL"; fail=1; }
grep -q -x 'codeddata=2+1+A-3\*3w' "$work/run/url.cb4" || {
  echo "unexpected coded data:"; grep codeddata "$work/run/url.cb4"; fail=1; }
exit $fail
