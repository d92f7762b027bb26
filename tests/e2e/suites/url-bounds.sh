#!/usr/bin/env bash
# The bounds of a url: fetch, in every mode (-dumpurl, a build, a CGI record query): an
# endless answer, and one that announces more than the cap, end with error 2 once the cap is
# passed; a server that accepts the connection and never answers ends the fetch with error 2
# after the stall timeout (2 s here) (that run goes on in the background while the others are checked).
# The servers are bounded in time and stopped by pid however the suite ends.
set -u
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../../.." && pwd)
varkel="$build/varkel/varkel"
work=$(mktemp -d "${TMPDIR:-/tmp}/url-bounds.XXXXXX")
server_pid= silent_run=
cleanup() {
  [ -n "$silent_run" ] && kill "$silent_run" 2>/dev/null && wait "$silent_run" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

# /endless: lines without end; /announced: a length above the cap; any other path: never
# answered. The first line of server.log names the port.
cat > server.py <<'PY'
import socket, threading
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", 0))
srv.listen(16)
print(srv.getsockname()[1], flush=True)
held = []
def serve(c):
    try:
        request = c.recv(4096).decode("latin-1")
        if request.startswith("GET /endless"):
            c.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n")
            chunk = b"a\tb\tc\n" * 20000
            while True:
                c.sendall(chunk)
        elif request.startswith("GET /announced"):
            c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 300000000000\r\n\r\na\tb\n")
            c.close()
        else:
            held.append(c)  # accepted, never answered
    except OSError:
        pass
while True:
    c, _ = srv.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
PY
. "$src/tests/e2e/lib/httpserver.sh"
start_script_server server.py 200 || exit 1
server_pid=$script_pid port=$script_port
base=http://127.0.0.1:$port

cp "$src/examples/sales.qv" .
"$build/profile/tarnwick" sales.qv p.qv4 > /dev/null || { echo "cannot compile"; exit 1; }
# The silent server: a build that would otherwise wait for ever; VARKEL_URL_STALL_TIME
# shortens the stall bound from its 60 seconds.
env -i PATH=/usr/bin:/bin LC_ALL=C VARKEL_URL_STALL_TIME=2 timeout 150 "$varkel" -datasource "url:$base/silent" \
  -o silent.html p.qv4 > silent.out 2> silent.err &
silent_run=$!

fail=0
# check NAME STATUS STDERR-LINE COMMAND...: the status and the last line of standard error.
check() {
  local name=$1 want_status=$2 want_err=$3
  shift 3
  # A builder without the cap would take the machine's memory: bound it, unless the
  # sanitizers' own address space forbids.
  (grep -q __asan_init "$varkel" || ulimit -v 4000000
   env -i PATH=/usr/bin:/bin LC_ALL=C timeout 120 "$@" > out 2> err)
  local status=$?
  if [ "$status" != "$want_status" ]; then echo "FAIL: $name: status $status, want $want_status"; fail=1
  elif [ "$(tail -n 1 err)" != "$want_err" ]; then
    echo "FAIL: $name: standard error:"; cat err; fail=1
  else echo "ok: $name"; fi
}
cap=268435456
check "endless, -dumpurl" 2 "Error 002: The document at url '$base/endless' is larger than the limit of $cap bytes." \
  "$varkel" -dumpurl "$base/endless"
check "announced, -dumpurl" 2 "Error 002: The document at url '$base/announced' is larger than the limit of $cap bytes." \
  "$varkel" -dumpurl "$base/announced"
check "endless, build" 2 "Error 002: The document at url '$base/endless' is larger than the limit of $cap bytes." \
  "$varkel" -datasource "url:$base/endless" -o p.html p.qv4
check "endless, record query" 2 "Error 002: The document at url '$base/endless' is larger than the limit of $cap bytes." \
  env VARKEL_CGI_ALLOW_URL=1 REQUEST_METHOD=GET QUERY_STRING="dataSource=url:$base/endless&emitAcceptedData=1&datasourceformat=tsv" "$varkel"
[ "$(<out)" = "Content-type: text/plain" ] || { echo "FAIL: record query: answer $(<out)"; fail=1; }

wait "$silent_run"
status=$?
silent_run=
if [ "$status" = 2 ] && grep -q "^Error 002: Unable to fetch url '$base/silent': " silent.err; then
  echo "ok: silent server, build"
else
  echo "FAIL: silent server: status $status"; cat silent.err; fail=1
fi
leftovers=$(ls | grep -v -x -e server.py -e server.log -e sales.qv -e p.qv4 -e out -e err -e 'silent\..*')
[ -z "$leftovers" ] || { echo "FAIL: files left behind: $leftovers"; fail=1; }
exit $fail
