#!/usr/bin/env bash
# Lists ODBC results with "varkel -dumpodbc" and "-dumpodbcall" through the real driver
# manager and the SQLite driver: a private driver and DSN configuration and a database made
# here; the listing through a temporary file over -o, to standard output, from a statement
# file; the driver's own errors; and the build without ODBC, where the options do nothing.
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/odbc-dump.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

driver=$(ls /usr/lib/*/odbc/libsqlite3odbc.so 2>/dev/null | head -n 1)
[ -n "$driver" ] || { echo "the SQLite ODBC driver is not installed"; exit 1; }
printf '[SQLite3]\nDriver=%s\n' "$driver" >odbcinst.ini
printf '[testdb]\nDriver=SQLite3\nDatabase=%s/t.db\n' "$work" >odbc.ini
{
  echo "create table sales(region text, amount integer);"
  for i in $(seq 20); do
    if [ "$i" = 2 ]; then echo "insert into sales values('R$i', NULL);"
    else echo "insert into sales values('R$i', $((i * 10)));"; fi
  done
} | sqlite3 t.db || exit 1
printf 'select region, amount\nfrom "sales"\nwhere amount is null or amount = 30\n' >query.sql
: >p.qv4

fail=0
# run NAME WANT_STATUS WANT_STDERR PROGRAM ARGS...: the program's stdout goes to "out".
run() {
  local name=$1 want_status=$2 want_err=$3 program=$4
  shift 4
  env -i PATH=/usr/bin:/bin LC_ALL=C ODBCSYSINI="$work" ODBCINI="$work/odbc.ini" \
    timeout 60 "$build/varkel/$program" "$@" </dev/null >out 2>err
  local status=$?
  # The banner is not the listing's business; a handle's value changes from run to run.
  sed -i -e '/^varkel .*(build /d' -e 's/SQLExecDirect([0-9a-f]*,/SQLExecDirect(H,/' err
  if [ "$status" != "$want_status" ]; then
    echo "$name: exit status $status, want $want_status"; fail=1
  fi
  if ! diff -u --label "want stderr" --label "got stderr" <(printf '%b' "$want_err") err; then
    echo "$name: stderr differs"; fail=1
  fi
}
# same NAME FILE WANT_TEXT
same() {
  if ! diff -u --label "want $2" --label "got $2" <(printf '%b' "$3") "$2"; then
    echo "$1: $2 differs"; fail=1
  fi
}

rows() {  # the listing's lines for rows $1 to $2
  for i in $(seq "$1" "$2"); do
    if [ "$i" = 2 ]; then printf 'R2\t\\n'; else printf 'R%s\t%s\\n' "$i" $((i * 10)); fi
  done
}
sales='odbc:testdb;select region, amount from sales'

run first-rows 0 '' varkel -datasource "$sales" -dumpodbc -o dump.html p.qv4
same first-rows dump.html "region\tamount\n$(rows 1 15)"
same first-rows out ''

run all-rows 0 '' varkel -datasource "$sales" -dumpodbcall -o dump.html p.qv4
same all-rows dump.html "region\tamount\n$(rows 1 20)"

# Without a profile name the page, and so the listing, goes to standard output.
run standard-output 0 'Reading standard input.\nUse "varkel -help" for usage information.\n\n' \
  varkel -datasource "$sales where amount > 150" -dumpodbc
same standard-output out "region\tamount\n$(rows 16 20)"

run statement-file 0 '' varkel -datasource 'odbc:testdb;+query.sql' -dumpodbcall -o q.html p.qv4
same statement-file q.html "region\tamount\n$(rows 2 3)"

# A failing statement leaves the previous listing as it was.
run missing-table 108 "ODBC Error -1: SQLSTATE = S1000, [SQLite]no such table: nope (1)\nError 108: SQLExecDirect(H, \"select * from nope\", SQL_NTS) failed with -1\n" \
  varkel -datasource 'odbc:testdb;select * from nope' -dumpodbc -o dump.html p.qv4
same all-rows-kept dump.html "region\tamount\n$(rows 1 20)"

run missing-dsn 108 "ODBC Error -1: SQLSTATE = IM002, [unixODBC][Driver Manager]Data source name not found and no default driver specified\nError 108: SQLConnect failed with dsn='nodsn' username='u' password='' command='select 1'\n" \
  varkel -datasource 'odbc:nodsn;username=u;select 1' -dumpodbc -o dump.html p.qv4

run noodbc-ignores-dump 2 "Error 002: Couldn't open nofile.qv4 as input file.\n" \
  varkel-noodbc -datasource 'text:data.txt' -dumpodbc -dumpodbcall nofile.qv4

# The dump runs before the profile is read: without -datasource it has no source, and a
# source of another kind is no ODBC source. Neither leaves a listing or a temporary file.
run no-source 106 "Error 106: No data source specified.\n" varkel p.qv4 -dumpodbc -o none.html
run no-source-all 106 "Error 106: No data source specified.\n" varkel -dumpodbcall p.qv4
run text-source 102 "Error 102: No ODBC/SQL data source specified.\n" \
  varkel -datasource text:data.txt -dumpodbcall -o none.html p.qv4
[ -e none.html ] && { echo "a failed dump wrote none.html"; fail=1; }

leftovers=$(ls | grep -v -x -e odbcinst.ini -e odbc.ini -e t.db -e query.sql -e p.qv4 \
  -e out -e err -e dump.html -e q.html)
if [ -n "$leftovers" ]; then echo "files left behind: $leftovers"; fail=1; fi
exit $fail
