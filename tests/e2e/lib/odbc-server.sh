# The checks of the ODBC suites against a client/server database, shared by one suite per
# database. The suite sources the database's library first (postgresql.sh or mariadb.sh: the
# db_ functions and the texts of its driver's messages), then this file, with the build
# directory as $1. A private server is started for the run; one that cannot start fails the
# suite. The server and lighttpd are bounded in time and stopped by their pids in every
# outcome. KEEP=1 keeps the temporary directory for a look after a failure.
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

db_start || { echo "FAIL: the $db_label server did not start"; exit 1; }
echo "$db_label on 127.0.0.1:$db_port"
# Its first byte scrambles to NUL (it equals the key's first byte): a page must carry it all.
reader_password=$'\xb7r3ad&r pass=%+!'
db_setup "$reader_password" || { echo "FAIL: setting up the $db_label database"; exit 1; }
down_port=$(free_port)  # nothing listens there
db_odbcinst >"$work/odbcinst.ini"
{ db_dsn shop "$db_port"; db_dsn cursor "$db_port"; db_dsn power "$db_port" "$db_admin" "admin secret"
  db_dsn down "$down_port"; } >"$work/odbc.ini"
export ODBCSYSINI=$work ODBCINI=$work/odbc.ini

# varkel DIR ARGS...: the builder in DIR with a bare environment; its output in DIR/out and
# DIR/err, its status in $status.
varkel() {
  local dir=$1; shift
  (cd "$dir" && env -i PATH=/usr/bin:/bin LC_ALL=C ODBCSYSINI="$ODBCSYSINI" ODBCINI="$ODBCINI" \
     ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} \
     timeout 60 "$build/varkel/varkel" "$@" </dev/null >out 2>err)
  status=$?
  return $status
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
  rm -f "text/$name.html" "text/$name.cb4" "odbc/$name.html" "odbc/$name.cb4"
  varkel text "$name.qv4" "$@" -o "$name.html"
  [ "$status" = 0 ] || { flunk "$label from the text file: status $status"; cat text/err; }
  varkel odbc "$name.qv4" -datasource "odbc:shop;$reader;$statement" "$@" -o "$name.html"
  [ "$status" = 0 ] || { flunk "$label from $db_label: status $status"; cat odbc/err; return; }
  same "$label: messages" text/err odbc/err
  same "$label: page" <(without_source "text/$name.html") <(without_source "odbc/$name.html")
  head -n 1 "text/$name.txt" | tr '\t' ';' >columns
  same "$label: odbccolumns on the page" columns \
    <(sed -n 's/^<param name="odbccolumns" value="\(.*\)">$/\1/p' "odbc/$name.html")
  if [ -f "text/$name.cb4" ]; then
    same "$label: cube file" <(without_source "text/$name.cb4") <(without_source "odbc/$name.cb4")
    same "$label: odbccolumns in the cube file" columns \
      <(sed -n 's/^odbccolumns=//p' "odbc/$name.cb4")
  fi
}
same_cube sales 'select * from sales'
same_cube sales 'select * from sales' -ecube
same_cube mixed 'select * from mixed order by id'
same_cube mixed 'select * from mixed order by id' -ecube

# --- Listings: -dumpodbc and -dumpodbcall list what the database's own client lists, each
# field cut to the 255 characters of a record's field.
# listing STATEMENT: the client's listing so cut.
listing() {
  db_list "$1" |
    awk 'BEGIN { FS = OFS = "\t" } { for (i = 1; i <= NF; i++) $i = substr($i, 1, 255); print }'
}
# as_tsv FILE: a listing as a tab-separated record answer writes it.
as_tsv() { sed 's/$/\t/' "$1"; echo; }
listing 'select * from mixed order by id' >mixed.listing
listing 'select * from sales' >sales.listing
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

# --- Record queries through lighttpd, as the viewer asks for them.
cgi=$work/www/cgi-bin
mkdir -p "$cgi"
cp "$build/varkel/varkel" "$cgi/varkel"
write_config() {
  lighttpd_base_config > "$work/lighttpd.conf"
  cat >> "$work/lighttpd.conf" <<CONF
server.modules = ( "mod_cgi", "mod_setenv" )
cgi.assign = ( "/varkel" => "" )
setenv.add-environment = ( "ODBCSYSINI" => "$ODBCSYSINI", "ODBCINI" => "$ODBCINI",
  "VARKEL_CGI_DSNS" => "shop:reader,power:$db_admin", "ASAN_OPTIONS" => "${ASAN_OPTIONS:-}" )
CONF
}
start_lighttpd write_config || { echo "FAIL: lighttpd did not start"; exit 1; }
base=http://127.0.0.1:$port/cgi-bin

# table-rows FILE: the rows of a record table, without its head.
table_rows() { sed -n '/^<\/tr>$/,/<\/table>/p' "$1" | sed -e '1d' -e '/<\/table>/d'; }

# Seven records a page: every page's form asks for the next, until a page has none.
mixed_source="odbc:shop;$reader;select * from mixed order by id"
fetch page1 -G "$base/varkel" --data-urlencode "dataSource=$mixed_source" \
  -d emitAcceptedData=1 -d range=1-7
: >paged.rows
pages=1
while :; do
  table_rows "page$pages.body" >>paged.rows
  grep -q '^<form method=post' "page$pages.body" || break
  [ "$pages" -lt 10 ] || { flunk "paging: more than 10 pages"; break; }
  hidden_form_args "page$pages.body"
  pages=$((pages + 1))
  fetch "page$pages" "${form_args[@]}" "$base/varkel"
done
same "paging: six pages of seven rows at most" <(echo 6) <(echo "$pages")
same "paging: every id once, in order" <(seq 40) \
  <(sed -n '/^<tr>$/{n;s/^<td>\(.*\)<\/td>$/\1/p}' paged.rows)
fetch whole -G "$base/varkel" --data-urlencode "dataSource=$mixed_source" \
  -d emitAcceptedData=1 -d range=1-100
same "paging: the pages hold the rows of one whole page" <(table_rows whole.body) paged.rows

# The text form lists what the database's client lists (each field followed by a TAB).
fetch tsv -G "$base/varkel" --data-urlencode "dataSource=$mixed_source" \
  -d emitAcceptedData=1 -d datasourceformat=tsv
same "tsv: every row as the client lists it" <(as_tsv mixed.listing) tsv.body

# A query element on an ISO 8859-1 value selects the rows the database selects for it (in a
# posted form: lighttpd refuses a URL whose escapes are not UTF-8).
fetch zurich "$base/varkel" --data-urlencode "dataSource=$mixed_source" \
  --data-urlencode "query=r=02f2=L06"$'Z\xfcrich' -d emitAcceptedData=1 -d datasourceformat=tsv
same "tsv: the rows of one 8-bit place" \
  <(as_tsv <(listing $'select * from mixed where place = \'Z\xfcrich\' order by id')) zurich.body

# --- Scrambled credentials: the page of a cube carries the source with its user name and
# password scrambled, and that source connects again, on the command line and as a request.
varkel odbc sales.qv4 -ecube -datasource "odbc:shop;$reader;select * from sales" -o cred.html
rawdata=$(sed -n 's/^<param name="rawdata" value="\(.*\)">$/\1/p' odbc/cred.html)
case $rawdata in
  "odbc:shop;eusername="*";epassword=%00"*";select * from sales") pass "credentials scrambled" ;;
  *) flunk "credentials scrambled: rawdata '$rawdata'" ;;
esac
case $rawdata in *reader* | *r3ad*) flunk "credentials in plain text: '$rawdata'" ;; esac
varkel odbc -datasource "$rawdata" -dumpodbcall
same "scrambled credentials: -dumpodbcall connects" sales.listing odbc/out
fetch cred -G "$base/varkel" --data-urlencode "dataSource=$rawdata" \
  -d emitAcceptedData=1 -d datasourceformat=tsv
same "scrambled credentials: a record query connects" <(as_tsv sales.listing) \
  cred.body

# --- Credentials the connection string must quote: a password with ';', braces and '=', in
# the scrambled form (the only one that can carry a ';'); one with blanks at its ends, which
# connects without a connection string.
# scrambled TEXT: TEXT as a page carries it after "eusername=" or "epassword=": each byte
# XORed with the credential key, then %-escaped.
scrambled() {
  python3 -c 'import sys
key = bytes.fromhex("b7e391c48af29da6d883bee994cfa1fb88d39ac6b2ed85f7a9dc90c1bbe48ed5"
                    "a3f997ca81eeb4d08cfd9fc8a7e186dbb9f4")
text = sys.argv[1].encode("latin-1")
print("".join("%%%02X" % (b ^ key[i % len(key)]) for i, b in enumerate(text)))' "$1"
}
odd_password='a;b{c}}d=e}{'
blank_password=' a;b} '
{ db_add_user odd "$odd_password" && db_add_user blank "$blank_password"; } ||
  { echo "FAIL: adding the users odd and blank"; exit 1; }
# as USER PASSWORD: -dumpodbcall of sales as USER.
as() {
  varkel odbc -datasource \
    "odbc:shop;eusername=$(scrambled "$1");epassword=$(scrambled "$2");select * from sales" \
    -dumpodbcall
}
as odd "$odd_password"
same "a password with ';{}=' connects" sales.listing odbc/out
as odd "${odd_password%?}"
same "the same password less its last brace is refused" <(echo 108) <(echo "$status")
as blank "$blank_password"
same "a password with blanks at its ends connects" sales.listing odbc/out

# --- Streaming: through a DSN that says nothing of it, the driver reads the result through a
# cursor on the server, a block of rows at a time (the server is seen running one while the
# statement pauses), and the listing is the client's.
if [ -n "$db_streams" ]; then
  varkel odbc -datasource \
    "odbc:shop;$reader;select * from mixed where id <> 30 or $(db_sleep 2) order by id" \
    -dumpodbcall &
  builder=$!
  for i in $(seq 100); do
    db_sleeping && break
    kill -0 "$builder" 2>/dev/null || break
    sleep 0.1
  done
  if db_cursor_running reader; then pass "streaming: the server runs a cursor"; else
    flunk "streaming: the server runs a cursor"
    psql_admin -d postgres -A -t -c "select query from pg_stat_activity where usename = 'reader'"
  fi
  wait "$builder"
  same "streaming: status" <(echo 0) <(echo "$?")
  same "streaming: every row as the client lists it" mixed.listing odbc/out
fi

# --- A pass that reads some columns alone is handed only those, and one that comes to need the
# others in the middle of a block of rows reads them from the row (test_odbc's server case),
# through the driver's own cursor and through one that fetches five rows at a time.
for dsn in shop cursor; do
  if env -i PATH=/usr/bin:/bin LC_ALL=C ODBCSYSINI="$ODBCSYSINI" ODBCINI="$ODBCINI" \
      ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} \
      VARKEL_TEST_DSN=$dsn VARKEL_TEST_USER=reader VARKEL_TEST_PASSWORD="$reader_password" \
      VARKEL_TEST_STATEMENT="$(db_rows 3000)" \
      timeout 120 "$build/tests/test_odbc" --gtest_filter='OdbcServer.*' >columns.out 2>&1 &&
      grep -q '^\[  PASSED  \] 1 test' columns.out; then
    pass "$dsn: columns needed again in the middle of a block of rows"
  else
    flunk "$dsn: columns needed again in the middle of a block of rows"; cat columns.out
  fi
done

# --- A request's statement cannot change the database: anything but one SELECT is refused
# before a connection is made, so is a DSN the web server does not list and a user it does
# not pin, and a SELECT that calls a function that writes runs in a read-only transaction
# (DSN "power" pins the administrator, as a careless site might).
db_writers || { echo "FAIL: creating the functions that write"; exit 1; }
db_list 'select * from sales' >sales.before
admin="username=$db_admin;password=admin secret"
# request NAME SOURCE: a record query for SOURCE as tab-separated text.
request() {
  fetch "$1" -G "$base/varkel" --data-urlencode "dataSource=$2" -d emitAcceptedData=1 \
    -d datasourceformat=tsv
}
refused='<p><b>Only a single SELECT statement is allowed in web requests.</b></p>\n</body>\n'
n=0
for statement in 'delete from scratch' 'insert into scratch values (1)' \
    'update sales set units = 0' 'drop table scratch' 'create table made(x integer)' \
    'select * into made from sales' "select * from sales into outfile '$work/out.txt'" \
    "select $(db_counter tally)"; do
  n=$((n + 1))
  request "write$n" "odbc:shop;$reader;$statement"
  same "request policy: '$statement' refused" <(printf "$refused") "write$n.body"
done
request unlisted "odbc:cursor;$admin;select * from sales"
same "request policy: a DSN the server does not list" <(printf \
  '<p><b>This ODBC data source is not open to web requests.</b></p>\n</body>\n') unlisted.body
request other-user "odbc:shop;$admin;select * from sales"
same "request policy: a user the server does not pin" <(printf \
  '<p><b>This ODBC data source connects web requests only as its own database user.</b></p>\n</body>\n') \
  other-user.body
# A ';' ends the statement: what follows is a token of the source, not a statement.
request semicolon "odbc:shop;$reader;select count(*) as n from scratch; delete from scratch"
same "request policy: after a ';' no statement runs" <(printf 'n\t\n0\t\n\n') semicolon.body
# A function that writes, called by a SELECT, fails in the read-only transaction.
request calls "odbc:power;select bump() as b"
same "request policy: a SELECT calling a function that writes gets no row" <(printf '') \
  calls.body
same "request policy: scratch is empty" <(printf 'n\n0\n') \
  <(db_list 'select count(*) as n from scratch')
same "request policy: the sequence has not moved" <(printf 'n\n1\n') \
  <(db_list "select $(db_counter tally) as n")
same "request policy: sales unchanged" sales.before <(db_list 'select * from sales')
# The statement's own transaction is read-only, also where the driver runs it through a
# cursor of its own.
request read-only "odbc:shop;$reader;select $db_read_only as ro"
same "request policy: the statement runs read-only" \
  <(printf 'ro\t\n%s\t\n\n' "$db_read_only_value") read-only.body
[ -e made ] || [ -e "$work/out.txt" ] && flunk "request policy: a statement wrote a file"

# --- Failures: each ends with error 108 after the driver's message, and the page and cube
# file of the previous build stay as they were.
varkel odbc sales.qv4 -datasource "odbc:shop;$reader;select * from sales" -o kept.html
cp odbc/kept.html kept.html.before
cp odbc/kept.cb4 kept.cb4.before
ls odbc >files.before
# fails NAME WANT-LAST-LINE DRIVER-TEXT [SOURCE]: the build from SOURCE over kept.html, or
# the one already started in the background as $builder.
fails() {
  local name=$1 want=$2 says=$3
  if [ -n "${4:-}" ]; then varkel odbc sales.qv4 -datasource "$4" -o kept.html; else
    wait "$builder"; status=$?
  fi
  # A handle's value changes from run to run.
  sed -i 's/SQLExecDirect([0-9a-f]*,/SQLExecDirect(H,/' odbc/err
  same "$name: status" <(echo 108) <(echo "$status")
  same "$name: error" <(printf '%s\n' "$want") <(tail -n 1 odbc/err)
  if grep -a -q 'ODBC Error -1: SQLSTATE = [0-9A-Z]\{5\}, ' odbc/err &&
      grep -a -q -F "$says" odbc/err; then
    pass "$name: the driver's message"
  else
    flunk "$name: the driver's message, want '$says'"; cat odbc/err
  fi
  same "$name: the page is kept" kept.html.before odbc/kept.html
  same "$name: the cube file is kept" kept.cb4.before odbc/kept.cb4
  same "$name: no files left" files.before <(ls odbc)
}
fails "wrong password" \
  "Error 108: SQLConnect failed with dsn='shop' username='reader' password='wrong' command='select * from sales'" \
  "$db_says_password" 'odbc:shop;username=reader;password=wrong;select * from sales'
fails "unknown table" 'Error 108: SQLExecDirect(H, "select * from nope", SQL_NTS) failed with -1' \
  "$db_says_table" "odbc:shop;$reader;select * from nope"
fails "server not running" \
  "Error 108: SQLConnect failed with dsn='down' username='reader' password='x' command='select * from sales'" \
  "$db_says_down" 'odbc:down;username=reader;password=x;select * from sales'

# The server stops while the cube pass reads: its rows after the tenth wait for a minute (the
# expansion pass reads 48), and the server is stopped while one waits.
pause=$(db_sleep "case when $(db_counter readcount) > 58 then 60 else 0 end")
varkel odbc sales.qv4 -datasource \
  "odbc:cursor;username=$db_admin;password=admin secret;select * from sales where $pause" \
  -o kept.html &
builder=$!
for i in $(seq 300); do
  db_sleeping && break
  kill -0 "$builder" 2>/dev/null || break
  sleep 0.1
done
db_sleeping || flunk "server stopped mid-pass: the cube pass did not reach the pause"
db_stop
fails "server stopped mid-pass" "$db_stopped_error" "$db_says_stopped"
grep -q '^Expanding profile: $' odbc/err || flunk "server stopped mid-pass: the expansion pass did not end"
exit $fail
