# The checks of the ODBC suites against a client/server database, shared by one suite per
# database. The suite sources the database's library first (postgresql.sh or mariadb.sh: db_start,
# db_stop, db_setup, db_sql, db_load, db_list, db_counter, db_sleep, db_odbcinst, db_dsn),
# then this file with the build directory as $1. A private server is started for the run;
# one that cannot start fails the suite. The server and lighttpd are bounded in time and
# stopped by their pids in every outcome.
set -u
export LC_ALL=C
build=$(cd "$1" && pwd)
lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
examples=$(cd "$lib/../../../examples" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/odbc-$db_label.XXXXXX")
db_server=
server=
cleanup() {
  db_stop
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
. "$lib/lighttpd.sh"

fail=0
pass() { echo "ok: $1"; }
flunk() { echo "FAIL: $1"; fail=1; }
# same LABEL WANT-FILE GOT-FILE (either may be a pipe: both are read once)
same() {
  cat "$2" >"$work/want"; cat "$3" >"$work/got"
  if cmp -s "$work/want" "$work/got"; then pass "$1"; else
    flunk "$1"; diff -a "$work/want" "$work/got" | head -30
  fi
}

db_start || { echo "FAIL: the $db_label server did not start"; exit 1; }
echo "$db_label on 127.0.0.1:$db_port"
reader_password='r3ad&r pass=%+!'
db_setup "$reader_password" || { echo "FAIL: setting up the $db_label database"; exit 1; }
down_port=$(free_port)  # nothing listens there
db_odbcinst >"$work/odbcinst.ini"
{ db_dsn shop "$db_port"; db_dsn cursor "$db_port"; db_dsn down "$down_port"; } >"$work/odbc.ini"
export ODBCSYSINI=$work ODBCINI=$work/odbc.ini

# varkel DIR ARGS...: the builder in DIR with a bare environment; its output in DIR/out and
# DIR/err, its status in $status.
varkel() {
  local dir=$1; shift
  (cd "$dir" && env -i PATH=/usr/bin:/bin LC_ALL=C ODBCSYSINI="$ODBCSYSINI" ODBCINI="$ODBCINI" \
     ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} \
     timeout 60 "$build/varkel/varkel" "$@" </dev/null >out 2>err)
  status=$?
}
reader="username=reader;password=$reader_password"

# --- The data: the shipped example, and a table of the kinds of values a driver converts.
db_sql <<'SQL' || { echo "FAIL: creating the tables"; exit 1; }
create table sales(orderdate date, country varchar(40), city varchar(40), category varchar(40),
  article varchar(40), units integer, revenue decimal(10,2));
create table mixed(id integer, day date, place varchar(60), note text, amount decimal(12,3),
  share double precision, kind varchar(10));
create table scratch(id integer);
create sequence readcount;
SQL
tail -n +2 "$examples/sales.txt" >"$work/sales.rows"
db_load sales "$work/sales.rows" || { echo "FAIL: loading sales"; exit 1; }

# 40 rows: dates and missing dates, ISO 8859-1 places, NULLs and empty strings, notes past
# 255 characters, decimals, negative numbers. mixed.rows is the database's load file (\N a
# NULL); mixed.txt the same data as a text source, where a NULL is an empty field.
awk 'BEGIN {
  OFS = "\t"
  split("Z\374rich|Gen\350ve|M\341laga|\\N||K\370benhavn  harbour", places, "|")
  long = sprintf("%280s", ""); gsub(/ /, "x", long)
  print "id", "day", "place", "note", "amount", "share", "kind" > "mixed.txt"
  for (i = 1; i <= 40; i++) {
    day = i % 9 == 0 ? "\\N" : sprintf("2024-%02d-%02d", i % 12 + 1, (i * 7) % 28 + 1)
    place = places[i % 6 + 1]
    n = i % 4
    note = n == 0 ? "Long note " i % 3 " " long : n == 1 ? "short <b>" : n == 2 ? "\\N" : "says \"hi\""
    amount = i % 5 == 0 ? "\\N" : sprintf("%.3f", (i * 37 % 1000) / 8 - 20)
    share = i % 7 == 0 ? "\\N" : i / 4
    kind = i % 3 == 0 ? "A" : i % 3 == 1 ? "" : "\\N"
    row = i OFS day OFS place OFS note OFS amount OFS share OFS kind
    print row > "mixed.rows"
    gsub(/\\N/, "", row)
    print row > "mixed.txt"
  }
}' /dev/null
db_load mixed "$work/mixed.rows" || { echo "FAIL: loading mixed"; exit 1; }

# --- Cubes: the example and the mixed data built from the database are the cubes built from
# their text files; only the settings that name the source differ, and odbccolumns lists the
# text file's header.
mkdir text odbc
cp "$examples/sales.qv" "$examples/sales.txt" mixed.txt text/
cat >text/mixed.qv <<'QV'
<!--varkel
setup {
  data = "text:mixed.txt"
  firstFieldNames = true
}
axis "Place" { autobuild = place sorta-z }
axis "Note" { autobuild = note }
axis "Day" { autobuild = date(day, "YYYY-MM-DD", "Y+MMM") }
axis "Kind" {
  "A" match(kind = "A")
  "None" match(kind = "")
}
measure {
  "Amount" extract = amount format = "D3N5"
  "Share" extract = share format = "D2N5"
}
varkel-->
QV
(cd text && "$build/profile/tarnwick" sales.qv && "$build/profile/tarnwick" mixed.qv) >/dev/null ||
  { echo "FAIL: compiling the profiles"; exit 1; }
cp text/sales.qv4 text/mixed.qv4 odbc/

# without-source FILE: the file less the settings that name the source or the time.
without_source() {
  grep -a -v -e '^builddate=' -e '^rawdata=' -e '^odbccolumns=' -e 'name="builddate"' \
    -e 'name="rawdata"' -e 'name="odbccolumns"' -e 'name="cb4file"' "$1"
}
# same_cube NAME STATEMENT OPTIONS...
same_cube() {
  local name=$1 statement=$2 label="$1 cube${3:+ $3}"; shift 2
  varkel text "$name.qv4" "$@" -o "$name.html"
  [ "$status" = 0 ] || { flunk "$label from the text file: status $status"; cat text/err; }
  varkel odbc "$name.qv4" -datasource "odbc:shop;$reader;$statement" "$@" -o "$name.html"
  [ "$status" = 0 ] || { flunk "$label from $db_label: status $status"; cat odbc/err; return; }
  same "$label: messages" text/err odbc/err
  same "$label: page" <(without_source "text/$name.html") <(without_source "odbc/$name.html")
  if [ -f "text/$name.cb4" ]; then
    same "$label: cube file" <(without_source "text/$name.cb4") <(without_source "odbc/$name.cb4")
    same "$label: odbccolumns" <(head -n 1 "text/$name.txt" | tr '\t' ';') \
      <(sed -n 's/^odbccolumns=//p' "odbc/$name.cb4")
  fi
}
same_cube sales 'select * from sales'
same_cube sales 'select * from sales' -ecube
same_cube mixed 'select * from mixed order by id'
same_cube mixed 'select * from mixed order by id' -ecube

# --- Listings: -dumpodbc and -dumpodbcall list what the database's own client lists, each
# field cut to the 255 characters of a record's field.
db_list 'select * from mixed order by id' |
  awk 'BEGIN { FS = OFS = "\t" } { for (i = 1; i <= NF; i++) $i = substr($i, 1, 255); print }' \
  >mixed.listing
db_list 'select * from sales' >sales.listing
: >odbc/p.qv4
varkel odbc -datasource "odbc:shop;$reader;select * from mixed order by id" -dumpodbc \
  -o dump.html p.qv4
same "-dumpodbc: status" <(echo 0) <(echo "$status")
same "-dumpodbc: the first 15 rows" <(head -n 16 mixed.listing) odbc/dump.html
varkel odbc -datasource "odbc:shop;$reader;select * from mixed order by id" -dumpodbcall \
  -o dump.html p.qv4
same "-dumpodbcall: every row" mixed.listing odbc/dump.html
varkel odbc -datasource "odbc:shop;$reader;select * from sales" -dumpodbcall
same "-dumpodbcall to standard output" sales.listing odbc/out
exit $fail
