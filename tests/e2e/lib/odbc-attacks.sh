# Hostile record queries against a client/server database through lighttpd, shared by one
# suite per database: the suite sources the database's library (postgresql.sh or
# mariadb.sh) and its db_attack_ functions, then this file, with the build directory as $1.
# Each attack is refused or harmless: the tables and the sequence stay as they were, no file
# is written, no server file shows in an answer, no session is killed; a request that names
# another database user is refused; a statement that waits on the server ends at the
# request's time limit (3 s here) and leaves nothing running there; one whose result passes
# the memory limit ends with error 100. The servers are bounded in time and stopped by
# their pids in every outcome. KEEP=1 keeps the temporary directory.
set -u
export LC_ALL=C
build=$(cd "$1" && pwd)
lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/odbc-attacks-$db_label.XXXXXX")
db_server= server= holder=
cleanup() {
  [ -n "$holder" ] && kill "$holder" 2>/dev/null && wait "$holder" 2>/dev/null
  db_stop
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
. "$lib/lighttpd.sh"

fail=0

db_start || { echo "FAIL: the $db_label server did not start"; exit 1; }
reader_password='reader pass'
db_setup "$reader_password" || { echo "FAIL: setting up the $db_label database"; exit 1; }
db_sql <<'SQL' || { echo "FAIL: creating the tables"; exit 1; }
create table sales(country varchar(40), units integer);
insert into sales values ('France', 10), ('Italy', 5);
create table hold(id integer);
create sequence sq;
SQL
db_attack_setup || { echo "FAIL: the database's own set-up"; exit 1; }
db_odbcinst >"$work/odbcinst.ini"
# own: the DSN names its user; pinned: the server pins reader; power: the server pins the
# administrator, as a careless site might; held: pinned, its driver holding a result whole.
{ db_dsn own "$db_port" reader "$reader_password"; db_dsn pinned "$db_port"
  db_dsn power "$db_port" "$db_admin" "admin secret"
  db_dsn held "$db_port" | sed '/^$/d'; printf '%s\n\n' "$db_holds"; } >"$work/odbc.ini"

# A builder under the sanitizers has no address-space limit (its own shadow memory is
# terabytes): the memory checks are skipped there.
sanitized=
grep -q '^VARKEL_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null && sanitized=1

cgi=$work/www/cgi-bin
mkdir -p "$cgi/mem"
cp "$build/varkel/varkel" "$cgi/varkel"
cp "$build/varkel/varkel" "$cgi/mem/varkel"
memory_limit=200
write_config() {
  lighttpd_base_config > "$work/lighttpd.conf"
  cat >> "$work/lighttpd.conf" <<CONF
server.modules = ( "mod_cgi", "mod_setenv" )
cgi.assign = ( "/varkel" => "" )
setenv.add-environment = ( "ODBCSYSINI" => "$work", "ODBCINI" => "$work/odbc.ini",
  "VARKEL_CGI_DSNS" => "own,pinned:reader,power:$db_admin", "VARKEL_CGI_TIME_LIMIT" => "3",
  "ASAN_OPTIONS" => "${ASAN_OPTIONS:-}" )
# Under /mem/ the memory limit ends a request long before the time limit.
\$HTTP["url"] =~ "^/cgi-bin/mem/" {
  setenv.add-environment = ( "ODBCSYSINI" => "$work", "ODBCINI" => "$work/odbc.ini",
    "VARKEL_CGI_DSNS" => "pinned:reader,held:reader", "VARKEL_CGI_TIME_LIMIT" => "60",
    "VARKEL_CGI_MEMORY_LIMIT" => "$memory_limit", "ASAN_OPTIONS" => "${ASAN_OPTIONS:-}" )
}
CONF
}
start_lighttpd write_config || { echo "FAIL: lighttpd did not start"; exit 1; }
base=http://127.0.0.1:$port/cgi-bin

# request NAME SOURCE [CURL-ARGS]: a record query for SOURCE as tab-separated text, bounded
# by curl; $cgi_path names the program.
cgi_path=varkel
request() {
  curl -s --max-time 60 -o "$work/$1.body" -G "$base/$cgi_path" --data-urlencode "dataSource=$2" \
    -d emitAcceptedData=1 -d datasourceformat=tsv "${@:3}"
}
refusal() { printf '<p><b>%s</b></p>\n</body>\n' "$1"; }
sql_refused=$(refusal 'Only a single SELECT statement is allowed in web requests.')
state_before=$(db_attack_state)

echo "== the request never chooses the database user"
request own "odbc:own;select country, units from sales order by country"
same "own: the DSN's user reads" <(printf 'country\tunits\t\nFrance\t10\t\nItaly\t5\t\n\n') own.body
request own-admin "odbc:own;username=$db_admin;password=admin secret;select 1 as x"
same "own: a user in the request is refused" \
  <(refusal 'This ODBC data source takes no user name or password from web requests.') own-admin.body
request own-password "odbc:own;password=x;select 1 as x"
same "own: a password in the request is refused" \
  <(refusal 'This ODBC data source takes no user name or password from web requests.') \
  own-password.body
request pinned-admin "odbc:pinned;username=$db_admin;password=admin secret;select 1 as x"
same "pinned: another user is refused" \
  <(refusal 'This ODBC data source connects web requests only as its own database user.') \
  pinned-admin.body
request pinned "odbc:pinned;username=reader;password=$reader_password;select units from sales where units < 6"
same "pinned: its user with the password" <(printf 'units\t\n5\t\n\n') pinned.body
request pinned-user "odbc:pinned;password=$reader_password;select units from sales where units > 6"
same "pinned: the password alone connects as the pinned user" <(printf 'units\t\n10\t\n\n') \
  pinned-user.body

echo "== every attack is refused, through the administrator's DSN (the first few through own too)"
n=0
while IFS= read -r statement; do
  [ -n "$statement" ] || continue
  n=$((n + 1))
  dsns=power
  [ "$n" -le 3 ] && dsns="power own"
  for dsn in $dsns; do
    request "attack$n-$dsn" "odbc:$dsn;$statement"
    if [ "$(<"attack$n-$dsn.body")" = "$sql_refused" ]; then pass "refused ($dsn): $statement"; else
      flunk "refused ($dsn): $statement"; head -c 300 "attack$n-$dsn.body"; echo
    fi
  done
done < <(db_attacks "$work")
cat ./*.body | grep -aq -e 'root:x:0' -e 'secret line' && flunk "a server file in an answer"
same "the tables and the sequence are unchanged" <(echo "$state_before") <(db_attack_state)
ls "$work"/w[0-9] 2>/dev/null && flunk "an attack wrote a file"

echo "== a statement waiting on the server ends at the time limit and leaves nothing there"
db_attack_hold 40 &
holder=$!
for i in $(seq 100); do db_attack_holding && break; sleep 0.1; done
db_attack_holding || flunk "the lock is not held"
start=$(date +%s%N)
request waits "odbc:pinned;password=$reader_password;select count(*) as n from hold"
took=$(( ($(date +%s%N) - start) / 1000000 ))
same "waits: the time-limit message" \
  <(refusal 'This request took longer than the 3 seconds the server allows and was stopped.') waits.body
# 3 s and the watchdog's second of grace at most; the rest is room for a loaded machine.
if [ "$took" -ge 2900 ] && [ "$took" -lt 8000 ]; then pass "waits: ended after $took ms"; else
  flunk "waits: ended after $took ms, want 3000 to 8000"; fi
# The connection ends with the process; the server forgets it a moment later.
for i in $(seq 30); do [ "$(db_attack_sessions reader)" = 0 ] && break; sleep 0.1; done
same "waits: no session of the request's user remains" <(echo 0) <(db_attack_sessions reader)
grep -aq "$db_says_cancelled" "$work/error.log" && pass "waits: cancelled by the builder" ||
  { flunk "waits: cancelled by the builder ('$db_says_cancelled')"; tail -5 "$work/error.log"; }
request sleeps "odbc:pinned;password=$reader_password;select $db_sleep_call(60) as s"
same "sleep(60): refused" <(echo "$sql_refused") sleeps.body
db_attack_holding && pass "the other client's session was not killed" ||
  flunk "the other client's session was killed"
kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null; holder=

echo "== a result past the memory limit ends with error 100"
recursive='with recursive c(x) as (select 1 union all select x+1 from c) select x, x, x from c'
if [ -n "$sanitized" ]; then
  echo "skipped: the memory limit under the sanitizers"
elif [ -n "$db_memory_bound" ]; then
  start=$(date +%s%N)
  cgi_path=mem/varkel request recursive "odbc:held;password=$reader_password;$recursive" \
    -d query=a=02f0=L02zz
  took=$(( ($(date +%s%N) - start) / 1000000 ))
  for i in $(seq 20); do grep -aq 'Error 100: Out of memory.' "$work/error.log" && break; sleep 0.1; done
  grep -aq 'Error 100: Out of memory.' "$work/error.log" && pass "recursive: error 100 below $memory_limit MiB, after $took ms" ||
    { flunk "recursive: error 100"; tail -5 "$work/error.log"; }
  for i in $(seq 50); do [ "$(db_attack_sessions reader)" = 0 ] && break; sleep 0.1; done
  same "recursive: no session of the request's user remains" <(echo 0) <(db_attack_sessions reader)
else
  # The server builds the whole recursion before it sends a row, up to its own bound of
  # iterations: the answer is no row, or the time limit ends it.
  start=$(date +%s%N)
  request recursive "odbc:pinned;password=$reader_password;$recursive" -d query=a=02f0=L02zz
  took=$(( ($(date +%s%N) - start) / 1000000 ))
  if { cmp -s recursive.body <(printf 'x\tx\tx\t\n\n') ||
       cmp -s recursive.body <(refusal 'This request took longer than the 3 seconds the server allows and was stopped.'); } &&
     [ "$took" -lt 5000 ]; then
    pass "recursive: no row, or the time limit, after $took ms"
  else
    flunk "recursive: after $took ms"; head -c 300 recursive.body
  fi
  for i in $(seq 50); do [ "$(db_attack_sessions reader)" = 0 ] && break; sleep 0.1; done
  same "recursive: no session of the request's user remains" <(echo 0) <(db_attack_sessions reader)
fi

echo "== a streamed result larger than the memory limit is read whole"
# Three million rows: past the limit where the driver holds them (error 100), read a block at
# a time where it streams them (no record matches the query, so the answer is the head).
if [ -n "$sanitized" ]; then
  echo "skipped: the memory limit under the sanitizers"
elif [ -n "$db_streams" ]; then
  many=$(db_rows 3000000)
  ends_out_of_memory() { grep -ac 'Error 100: Out of memory.' "$work/error.log"; }
  before=$(ends_out_of_memory)
  cgi_path=mem/varkel request many-held "odbc:held;password=$reader_password;$many" \
    -d query=a=02f0=L02zz
  for i in $(seq 20); do [ "$(ends_out_of_memory)" != "$before" ] && break; sleep 0.1; done
  [ "$(ends_out_of_memory)" != "$before" ] && pass "held: error 100 below $memory_limit MiB" ||
    { flunk "held: error 100 below $memory_limit MiB"; tail -5 "$work/error.log"; }
  before=$(ends_out_of_memory)
  cgi_path=mem/varkel request many "odbc:pinned;password=$reader_password;$many" \
    -d query=a=02f0=L02zz
  same "streamed: every row read below $memory_limit MiB" <(printf 'x\tx\tx\t\n\n') many.body
  same "streamed: no error 100" <(echo "$before") <(ends_out_of_memory)
else
  echo "skipped: $db_label's driver here holds every result whole"
fi
same "the tables and the sequence are still unchanged" <(echo "$state_before") <(db_attack_state)
exit $fail
