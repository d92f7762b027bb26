#!/usr/bin/env bash
# The bounds of a web request through lighttpd's mod_cgi on 127.0.0.1, with a SQLite database
# through unixODBC: a statement that runs for ever ends at the time limit (3 s here) with
# its message, a URL that drips a byte every half second ends there too, a result past the
# memory limit ends with error 100; pellack's capture file, its copies and its log are never
# data, even in a directory open to requests; a SQLite DSN takes no user from a request and
# refuses comments and the functions that read or write files. The servers run in a
# temporary directory, are bounded in time and are stopped by their pids in every outcome.
set -u
build=$(cd "$1" && pwd)
lib=$(cd "$(dirname "$0")/../lib" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/cgi-request-limits.XXXXXX")
work=$(cd "$work" && pwd -P)
server= drip=
cleanup() {
  [ -n "$drip" ] && kill "$drip" 2>/dev/null && wait "$drip" 2>/dev/null
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

driver=$(ls /usr/lib/*/odbc/libsqlite3odbc.so 2>/dev/null | head -n 1)
[ -n "$driver" ] || { echo "the SQLite ODBC driver is not installed"; exit 1; }
# A builder under the sanitizers has no memory limit (its own shadow memory is terabytes).
sanitized=
grep -q '^VARKEL_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null && sanitized=1

www=$work/www
cgi=$www/cgi-bin
mkdir -p "$cgi/open" "$cgi/mem"
cp "$build/varkel/varkel" "$cgi/mem/"
for dir in "$cgi" "$cgi/open"; do
  cp "$build/varkel/varkel" "$build/services/mapgate" "$build/services/pellack" "$dir/"
  printf 'Europe\tFrance\t10\n' > "$dir/sales.txt"
  # What pellack keeps: a visitor's document, a copy being written, the log.
  printf '\nEurope\tplanted\t99\n' > "$dir/pellack.f"
  printf 'Europe\tcopied\t99\n' > "$dir/pellack.f.tmp"
  printf 'MESSAGE: other visitor\n' > "$dir/ErrorLog.txt"
  printf 'http://example.com\n_no_extension_\nYear\n' > "$dir/pellack.f.map"
  ln -s pellack.f "$dir/linked.txt"
done

printf '[SQLite3]\nDriver=%s\n' "$driver" > odbcinst.ini
printf '[shop]\nDriver=SQLite3\nDatabase=%s/t.db\n' "$work" > odbc.ini
echo "create table sales(region text, units integer); insert into sales values('Europe', 10);" |
  sqlite3 t.db || exit 1
dbsum=$(md5sum < t.db)

# A server that answers with a byte every half second, for ever; its port on its first line.
cat > drip.py <<'PY'
import socket, threading, time
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", 0))
srv.listen(8)
print(srv.getsockname()[1], flush=True)
def serve(c):
    try:
        c.recv(4096)
        c.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n")
        while True:
            c.sendall(b"a")
            time.sleep(0.5)
    except OSError:
        pass
while True:
    c, _ = srv.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
PY
. "$lib/httpserver.sh"
start_script_server drip.py 120 || exit 1
drip=$script_pid drip_port=$script_port

. "$lib/lighttpd.sh"
write_config() {
  lighttpd_base_config > lighttpd.conf
  cat >> lighttpd.conf <<CONF
server.modules = ( "mod_cgi", "mod_setenv" )
cgi.assign = ( "/varkel" => "", "/mapgate" => "", "/pellack" => "" )
setenv.add-environment = ( "ODBCSYSINI" => "$work", "ODBCINI" => "$work/odbc.ini",
  "VARKEL_CGI_DSNS" => "shop", "VARKEL_CGI_ALLOW_URL" => "1", "VARKEL_CGI_TIME_LIMIT" => "3",
  "ASAN_OPTIONS" => "${ASAN_OPTIONS:-}" )
\$HTTP["url"] =~ "^/cgi-bin/open/" {
  setenv.add-environment = ( "VARKEL_CGI_DATA_DIRS" => "$cgi/open:$work",
    "VARKEL_CGI_TIME_LIMIT" => "3", "ASAN_OPTIONS" => "${ASAN_OPTIONS:-}" )
}
# Under /mem/ the memory limit ends a request long before the time limit.
\$HTTP["url"] =~ "^/cgi-bin/mem/" {
  setenv.add-environment = ( "ODBCSYSINI" => "$work", "ODBCINI" => "$work/odbc.ini",
    "VARKEL_CGI_DSNS" => "shop", "VARKEL_CGI_TIME_LIMIT" => "60",
    "VARKEL_CGI_MEMORY_LIMIT" => "100", "ASAN_OPTIONS" => "${ASAN_OPTIONS:-}" )
}
CONF
}
start_lighttpd write_config || exit 1
base=http://127.0.0.1:$port/cgi-bin

fail=0
# ask NAME PATH FIELD...: a POST of the fields (each NAME=VALUE, URL-encoded here), its time
# in milliseconds in $took.
ask() {
  local name=$1 path=$2 args=() f start; shift 2
  for f in "$@"; do args+=(--data-urlencode "$f"); done
  start=$(date +%s%N)
  curl -s --max-time 60 -o "$work/$name.body" "${args[@]}" "$base/$path"
  took=$(( ($(date +%s%N) - start) / 1000000 ))
}
tsv=(emitAcceptedData=1 datasourceformat=tsv)
refusal() { printf '<p><b>%s</b></p>\n</body>\n' "$1" > "$work/want"; }
over_time='This request took longer than the 3 seconds the server allows and was stopped.'
# within LABEL: the last request ended between 3 and 5 seconds (3 s and the watchdog's
# second of grace at most; up to 8 s leaves room for a loaded machine).
within() {
  if [ "$took" -ge 2900 ] && [ "$took" -lt 8000 ]; then echo "ok: $1: after $took ms"; else
    echo "FAIL: $1: after $took ms, want 3000 to 8000"; fail=1; fi
}

echo "== time: a statement that never ends, a URL that never ends"
endless='with recursive c(x) as (select 1 union all select x+1 from c) select x from c where x < 0'
ask endless varkel "dataSource=odbc:shop;$endless" "${tsv[@]}"
refusal "$over_time"
check "endless statement: the time-limit message" "$work/want" "$work/endless.body"
within "endless statement"
ask drip varkel "dataSource=url:http://127.0.0.1:$drip_port/x" "${tsv[@]}"
check "dripping URL: the time-limit message" "$work/want" "$work/drip.body"
within "dripping URL"

echo "== memory: a result past the limit"
if [ -n "$sanitized" ]; then
  echo "skipped: the memory limit under the sanitizers"
else
  ask recursive mem/varkel \
    "dataSource=odbc:shop;with recursive c(x) as (select 1 union all select x+1 from c) select x, x, x from c" \
    query=a=02f0=L02zz "${tsv[@]}"
  for i in $(seq 20); do grep -aq 'Error 100: Out of memory.' error.log && break; sleep 0.1; done
  if grep -aq 'Error 100: Out of memory.' error.log; then
    echo "ok: recursive statement: error 100 below 100 MiB after $took ms"
  else
    echo "FAIL: recursive statement: no error 100 after $took ms"; tail -5 error.log; fail=1
  fi
  ask small mem/varkel "dataSource=odbc:shop;select * from sales" "${tsv[@]}"
  printf 'region\tunits\t\nEurope\t10\t\n\n' > want
  check "a small result below the limit" want small.body
fi

echo "== pellack's files are never data"
file_refused='This data file is not in a directory open to web requests.'
for p in varkel open/varkel; do
  for name in pellack.f ./pellack.f.tmp linked.txt ErrorLog.txt "$cgi/${p%varkel}pellack.f" \
      "$cgi/open/../${p%varkel}pellack.f"; do
    ask pf "$p" "dataSource=text:$name" "${tsv[@]}"
    refusal "$file_refused"
    check "$p: text:$name refused" want pf.body
  done
done
ask own open/varkel "dataSource=text:sales.txt" "${tsv[@]}"
printf 'f0\tf1\tf2\t\nEurope\tFrance\t10\t\n\n' > want
check "open/varkel: its own data file" want own.body
for p in mapgate open/mapgate; do
  curl -s --max-time 10 -o mg.body "$base/$p?debugfile=pellack.f.map"
  grep -q "^<p>Invalid map file name '.*'\.$" mg.body &&
    echo "ok: $p: pellack.f.map refused" || { echo "FAIL: $p: pellack.f.map"; cat mg.body; fail=1; }
done
# A document posted to pellack itself.
curl -s --max-time 10 -o /dev/null --data 'server=x&filename=p.txt&data=%0AEurope%09posted%0942' \
  "$base/open/pellack"
ask posted open/varkel "dataSource=text:pellack.f" "${tsv[@]}"
refusal "$file_refused"
check "a posted document is no data" want posted.body
cat ./*.body | grep -aq -e planted -e copied -e posted -e 'other visitor' &&
  { echo "FAIL: a document of pellack's in an answer"; fail=1; }

echo "== SQLite: no user from the request, no comments, no file functions"
ask user varkel "dataSource=odbc:shop;username=admin;password=x;select * from sales" "${tsv[@]}"
refusal 'This ODBC data source takes no user name or password from web requests.'
check "a user in the request refused" want user.body
for sql in "select * from sales /* x */" "select * from sales -- x" \
    "select readfile('/etc/passwd')" "select writefile('$work/w1', 'x')" \
    "select load_extension('$work/x')" "select * from sales where 1 = 1 # x"; do
  ask sql varkel "dataSource=odbc:shop;$sql" "${tsv[@]}"
  refusal 'Only a single SELECT statement is allowed in web requests.'
  check "refused: $sql" want sql.body
done
if [ "$(md5sum < t.db)" = "$dbsum" ] && [ ! -e w1 ]; then
  echo "ok: the database is unchanged and no file was written"
else
  echo "FAIL: the database changed or a file was written"; fail=1
fi
exit $fail
