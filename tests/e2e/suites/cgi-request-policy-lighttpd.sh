#!/usr/bin/env bash
# Sends hostile requests to varkel, mapgate and pellack through lighttpd's mod_cgi on
# 127.0.0.1 and checks that each is refused or escaped: files outside the directories open
# to requests (absolute, relative, through "..", through links), URLs, ODBC sources, SQL
# that would change a real SQLite database (unixODBC and the SQLite driver), planted map
# files, markup in a profile sent with the request, and line breaks aimed at the server's
# error log. The same requests succeed under /cgi-bin/open/, where the server's own
# configuration opens a directory, URLs and the DSN. The server runs in a temporary
# directory, is bounded in time and is stopped by its pid in every outcome.
set -u
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/cgi-request-policy.XXXXXX")
work=$(cd "$work" && pwd -P)
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

driver=$(ls /usr/lib/*/odbc/libsqlite3odbc.so 2>/dev/null | head -n 1)
[ -n "$driver" ] || { echo "the SQLite ODBC driver is not installed"; exit 1; }

www=$work/www
cgi=$www/cgi-bin
shared=$work/shared
mkdir -p "$cgi/open" "$shared"
for p in varkel/varkel services/mapgate services/pellack; do
  cp "$build/$p" "$cgi/"; cp "$build/$p" "$cgi/open/"
done
printf 'root:x:0:0:secret line\n' > "$www/secret.txt"
printf 'Europe\tFrance\t10\n' > "$www/data.txt"
printf 'Europe\tFrance\t10\nAsia\tJapan\t4\n' > "$cgi/sales.txt"
cp "$cgi/sales.txt" "$cgi/open/sales.txt"
printf 'Asia\tChina\t8\n' > "$shared/other.txt"
ln -s ../www/secret.txt "$shared/link.txt"
printf 'select region, units\nfrom sales where units < 6\n' > "$shared/small.sql"
printf 'select * from sales;\ndelete from sales\n' > "$shared/two.sql"
printf 'http://example.com\n_no_extension_\nYear\n' > "$shared/m.map"
printf 'http://example.com\n_no_extension_\nYear\n' > "$cgi/web.map"
printf '/etc/passwd\n_no_extension_\n' > "$www/secret.map"

printf '[SQLite3]\nDriver=%s\n' "$driver" > "$work/odbcinst.ini"
printf '[shop]\nDriver=SQLite3\nDatabase=%s/t.db\n' "$work" > "$work/odbc.ini"
{
  echo "create table sales(region text, country text, units integer);"
  echo "insert into sales values('Europe','France',10),('Europe','Italy',5),('Asia','Japan',4);"
} | sqlite3 "$work/t.db" || exit 1
dbsum=$(md5sum < "$work/t.db")

. "$(dirname "$0")/../lib/lighttpd.sh"

write_config() {
  cat > "$work/lighttpd.conf" <<CONF
server.document-root = "$www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/error.log"
server.modules = ( "mod_cgi", "mod_setenv", "mod_redirect" )
url.redirect = ( "^/to-file$" => "file:///etc/passwd" )
cgi.assign = ( "/varkel" => "", "/mapgate" => "", "/pellack" => "" )
setenv.add-environment = ( "ODBCSYSINI" => "$work", "ODBCINI" => "$work/odbc.ini" )
\$HTTP["url"] =~ "^/cgi-bin/open/" {
  setenv.add-environment = ( "ODBCSYSINI" => "$work", "ODBCINI" => "$work/odbc.ini",
    "VARKEL_CGI_DATA_DIRS" => "$shared:$cgi/open", "VARKEL_CGI_ALLOW_URL" => "1",
    "VARKEL_CGI_DSNS" => "shop" )
}
CONF
}
start_lighttpd write_config || exit 1
base=http://127.0.0.1:$port/cgi-bin

fail=0
# never LABEL FILE PATTERN...: the answer holds none of the PATTERNs (fixed texts).
never() {
  local label=$1 file=$2 p; shift 2
  for p in "$@"; do
    if grep -qF -- "$p" "$file"; then echo "FAIL: $label: '$p' in the answer"; fail=1; return; fi
  done
  echo "ok: $label"
}

# ask NAME PATH FIELD...: a POST of the fields (each NAME=VALUE, URL-encoded here).
ask() {
  local name=$1 path=$2 args=() f; shift 2
  for f in "$@"; do args+=(--data-urlencode "$f"); done
  fetch "$name" "${args[@]}" "$base/$path"
}
# refused NAME PATH MESSAGE FIELD...: the answer is the refusal alone.
refused() {
  local name=$1 path=$2 message=$3; shift 3
  ask "$name" "$path" "$@"
  printf '%s\n</body>\n' "$message" > "$work/want"
  check "$name refused" "$work/want" "$work/$name.body"
  never "$name reads nothing" "$work/$name.body" "secret line" "root:x:0"
}

file_refused='<p><b>This data file is not in a directory open to web requests.</b></p>'
url_refused='<p><b>URL data sources are not allowed in web requests.</b></p>'
scheme_refused='<p><b>Only http and https URLs are allowed in web requests.</b></p>'
dsn_refused='<p><b>This ODBC data source is not open to web requests.</b></p>'
sql_refused='<p><b>Only a single SELECT statement is allowed in web requests.</b></p>'
sqlfile_refused='<p><b>This statement file is not in a directory open to web requests.</b></p>'
tsv=(emitAcceptedData=1 datasourceformat=tsv)

echo "== files: only the CGI's own directory by default, the open ones where allowed"
for p in varkel open/varkel; do
  n=${p//\//-}
  refused "$n-absolute" "$p" "$file_refused" "dataSource=text:/etc/passwd" "${tsv[@]}"
  refused "$n-file-url" "$p" "$file_refused" "dataSource=file:///etc/passwd" "${tsv[@]}"
  refused "$n-relative-up" "$p" "$file_refused" "dataSource=text:../secret.txt" "${tsv[@]}"
  refused "$n-deep-up" "$p" "$file_refused" "dataSource=text:../../../../../../etc/passwd" "${tsv[@]}"
  refused "$n-absolute-up" "$p" "$file_refused" "dataSource=text:$shared/../www/secret.txt" "${tsv[@]}"
  refused "$n-link" "$p" "$file_refused" "dataSource=text:$shared/link.txt" "${tsv[@]}"
  ask "$n-own" "$p" "dataSource=text:sales.txt" "${tsv[@]}"
  want 'f0\tf1\tf2\t\nEurope\tFrance\t10\t\nAsia\tJapan\t4\t\n\n'
  check "$n-own directory" "$work/want" "$work/$n-own.body"
done
refused shared-closed varkel "$file_refused" "dataSource=text:$shared/other.txt" "${tsv[@]}"
ask shared-open open/varkel "dataSource=text:$shared/other.txt" "${tsv[@]}"
want 'f0\tf1\tf2\t\nAsia\tChina\t8\t\n\n'
check "a directory the server opens" "$work/want" "$work/shared-open.body"

echo "== URLs: only where allowed, and then only http and https"
refused url-closed varkel "$url_refused" "dataSource=url:http://127.0.0.1:$port/data.txt" "${tsv[@]}"
refused url-file varkel "$url_refused" "dataSource=url:file:///etc/passwd" "${tsv[@]}"
refused url-file-open open/varkel "$scheme_refused" "dataSource=url:file:///etc/passwd" "${tsv[@]}"
ask url-redirect open/varkel "dataSource=url:http://127.0.0.1:$port/to-file" "${tsv[@]}"
never "no redirect to a file" "$work/url-redirect.body" "root:x:0"
ask url-open open/varkel "dataSource=url:http://127.0.0.1:$port/data.txt" "${tsv[@]}"
want 'f0\tf1\tf2\t\nEurope\tFrance\t10\t\n\n'
check "an http URL where the server allows URLs" "$work/want" "$work/url-open.body"

echo "== ODBC: listed DSNs, statement files in open directories, a single SELECT"
sales='odbc:shop;select region,country,units from sales'
refused dsn-closed varkel "$dsn_refused" "dataSource=$sales" "${tsv[@]}"
refused dsn-file-closed varkel "$dsn_refused" "dataSource=odbc:shop;+/etc/passwd" debug=1 "${tsv[@]}"
refused dsn-other open/varkel "$dsn_refused" "dataSource=odbc:other;select 1" "${tsv[@]}"
refused sqlfile-outside open/varkel "$sqlfile_refused" "dataSource=odbc:shop;+/etc/passwd" debug=1 "${tsv[@]}"
refused sqlfile-up open/varkel "$sqlfile_refused" "dataSource=odbc:shop;+$shared/../www/secret.txt" "${tsv[@]}"
for sql in 'delete from sales' 'update sales set units = 0' 'drop table sales' \
           "VACUUM INTO '$work/copy.db'" 'insert into sales values(1,2,3)' \
           "+$shared/two.sql" "with d as (select 1) delete from sales" \
           "select * into copy from sales" "attach database '$work/x.db' as x"; do
  refused "sql-$(echo "$sql" | tr -c 'a-zA-Z\n' - | cut -c1-20)" open/varkel "$sql_refused" \
    "dataSource=odbc:shop;$sql" "${tsv[@]}"
done
if [ "$(md5sum < "$work/t.db")" = "$dbsum" ] && [ ! -e "$work/copy.db" ] && [ ! -e "$work/x.db" ]; then
  echo "ok: the database is unchanged and no file was written"
else
  echo "FAIL: the database changed or a file was written"; sqlite3 "$work/t.db" .dump; fail=1
fi
ask sqlfile open/varkel "dataSource=odbc:shop;+$shared/small.sql" "${tsv[@]}"
want 'region\tunits\t\nEurope\t5\t\nAsia\t4\t\n\n'
check "a statement file in an open directory" "$work/want" "$work/sqlfile.body"

# A listed DSN with a SELECT pages like any source: page 1, then its form posted back.
row() { printf '<tr>\n<td>%s</td>\n<td>%s</td>\n<td>%s</td>\n</tr>\n' "$@"; }
head='<table border=1 cellpadding=1 width="100%%" align=center>\n<caption align=center><b>List of Records that Match the Selection Criteria</b></caption>\n<tr>\n<th colspan=1 align=center><p><b>region</b></th>\n<th colspan=1 align=center><p><b>country</b></th>\n<th colspan=1 align=center><p><b>units</b></th>\n</tr>\n'
ask odbc-page1 open/varkel "dataSource=$sales" emitAcceptedData=1 range=1-2
{
  printf "$head"; row Europe France 10; row Europe Italy 5
  printf '</table></center><p>Record retrieval truncated at 2 matches.</p>\n'
  printf '<form method=post action="http://127.0.0.1/cgi-bin/open/varkel">\n'
  printf '<input type=submit name="dummy" value="Click here for next set of records.">\n'
  printf '<input type=hidden name="dataSource" value="%s">\n' "$sales"
  printf '<input type=hidden name="emitAcceptedData" value="1">\n'
  printf '<input type=hidden name="range" value="3-4">\n'
  printf '</form>\n</body>\n'
} > "$work/want"
check "odbc page 1 with its form" "$work/want" "$work/odbc-page1.body"
form=()
while IFS= read -r line; do
  form+=("$(sed -n 's/.*name="\([^"]*\)" value="\([^"]*\)".*/\1=\2/p' <<<"$line")")
done < <(grep '^<input type=hidden' "$work/odbc-page1.body")
ask odbc-page2 open/varkel "${form[@]}"
{ printf "$head"; row Asia Japan 4; printf '</table></center></body>\n'; } > "$work/want"
check "odbc page 2 through the form" "$work/want" "$work/odbc-page2.body"

echo "== markup in a profile sent with a cube request comes back as text"
cat > "$work/p.qv" <<'QV'
<!--varkel
setup {
  data = "text:sales.txt"
  description = "<script>alert('d')</script>"
  cginame = "\"><script>c</script>"
}
axis "<i>Empty</i>" { }
axis "Region" { "<script>l</script>" match(f0 = "Europe") "Rest" match(f0 = "Asia") }
axis "Country" { autobuild = f1 }
varkel-->
QV
(cd "$work" && "$build/profile/tarnwick" p.qv >/dev/null) || fail=1
ask cube varkel "wholeprofile=$(tr -d '\n' < "$work/p.qv4")" dataSource=unknown emitFormattedData=1
never "no markup of the request in the cube answer" "$work/cube.body" "<script"
never "no markup of the request in its messages" "$work/cube.body" "<i>"
grep -q "^description=&lt;script&gt;alert('d')&lt;/script&gt;$" "$work/cube.body" &&
  grep -qF 'Dimension "&lt;i&gt;Empty&lt;/i&gt;" ignored' "$work/cube.body" &&
  grep -qF '<param name="cginame" value="&quot;&gt;&lt;script&gt;c&lt;/script&gt;">' "$work/cube.body" &&
  echo "ok: the texts escaped" || { echo "FAIL: the texts escaped"; cat "$work/cube.body"; fail=1; }

echo "== mapgate: map files only, in the open directories"
for q in 'debugfile=/etc/passwd' 'debugfile=../secret.map' 'debugfile=sales.txt' \
         "debugfile=$shared/m.map" 'mapfile=pellack.f'; do
  fetch mg "$base/mapgate?$q"
  never "mapgate $q shows no lines of a file" "$work/mg.body" "secret line" "root:x:0" "France"
  grep -q "^<p>Invalid map file name '.*'\.$" "$work/mg.body" &&
    echo "ok: mapgate $q refused" || { echo "FAIL: mapgate $q"; cat "$work/mg.body"; fail=1; }
done
fetch mg-open "$base/open/mapgate?mapfile=$shared/m.map&query=f0%3D04Year%3DL042001"
want '<script>document.location.replace("http://example.com/2001")</script>\n'
check "mapgate map file in an open directory" "$work/want" "$work/mg-open.body"

echo "== pellack: no control characters in stored names"
fetch plant --data-urlencode server=x --data-urlencode $'filename=/etc/passwd\n_no_extension_' \
  --data-urlencode data=x "$base/pellack"
want 'filename parameter holds control characters\n'
check "pellack refuses a name with a line break" "$work/want" "$work/plant.body"
fetch planted "$base/mapgate?mapfile=pellack.f"
never "no planted map file" "$work/planted.body" "secret line" "root:x:0"

echo "== the server's error log: one request, its own lines only"
ask forged varkel $'dataSource=none:\r\nError 001: forged\x1b[2J' emitAcceptedData=1
for i in $(seq 20); do grep -q 'forged' "$work/error.log" && break; sleep 0.1; done
if [ "$(grep -c 'forged' "$work/error.log")" = 1 ] &&
   grep -qF "Error 106: No data source specified in 'none:??Error 001: forged?[2J'" "$work/error.log"; then
  echo "ok: the request's line breaks are replaced in the log"
else
  echo "FAIL: forged log lines:"; cat "$work/error.log"; fail=1
fi

exit $fail
