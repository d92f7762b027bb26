#!/usr/bin/env bash
# Serves the built varkel through lighttpd's mod_cgi on 127.0.0.1 and asks it for records as
# a browser would: an HTML page with its next-records form, followed by posting the form's
# hidden inputs back; a posted query; tab-, comma-separated and spreadsheet text with their
# content types; a failing data source; an error that reaches the server's error log; and a
# command source, refused unless the server's own configuration allows it. The server runs
# in a temporary directory, is bounded in time and is stopped by its pid in every outcome.
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/varkel-cgi-lighttpd.XXXXXX")
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

cgi=$work/www/cgi-bin
mkdir -p "$cgi/trusted"
cp "$build/varkel/varkel" "$cgi/varkel"
cp "$build/varkel/varkel" "$cgi/trusted/varkel"
# The CGI programs run in their own directory, so relative data files lie beside them.
printf 'Europe\tFrance\t10\nEurope\tItaly\t5\nAmerica\tUSA\t7\nEurope\tSpain\t2\n' > "$cgi/sales.txt"
printf 'Region\tNote\nEurope\tsays "hi", twice\n' > "$cgi/notes.txt"

. "$(dirname "$0")/../lib/lighttpd.sh"

write_config() {
  lighttpd_base_config > "$work/lighttpd.conf"
  cat >> "$work/lighttpd.conf" <<CONF
server.modules = ( "mod_cgi", "mod_setenv" )
cgi.assign = ( "/varkel" => "" )
\$HTTP["url"] =~ "^/cgi-bin/trusted/" {
  setenv.add-environment = ( "VARKEL_CGI_ALLOW_EXEC" => "1" )
}
CONF
}
start_lighttpd write_config || exit 1
base=http://127.0.0.1:$port/cgi-bin

fail=0

# The table of one record of three columns, as the HTML rows show it.
row() { printf '<tr>\n<td>%s</td>\n<td>%s</td>\n<td>%s</td>\n</tr>\n' "$@"; }
head3='<table border=1 cellpadding=1 width="100%%" align=center>\n<caption align=center><b>List of Records that Match the Selection Criteria</b></caption>\n<tr>\n<th colspan=1 align=center><p><b>f0</b></th>\n<th colspan=1 align=center><p><b>f1</b></th>\n<th colspan=1 align=center><p><b>f2</b></th>\n</tr>\n'

# Page 1 of the European records, two a page.
query='r=02f0=L06Europe'
fetch page1 -G "$base/varkel" --data-urlencode "dataSource=text:sales.txt" \
  --data-urlencode "query=$query" -d emitAcceptedData=1 -d range=1-2
want 'text/html\n'
check "html page type" "$work/want" "$work/page1.type"
{
  printf "$head3"; row Europe France 10; row Europe Italy 5
  printf '</table></center><p>Record retrieval truncated at 2 matches.</p>\n'
  printf '<form method=post action="http://127.0.0.1/cgi-bin/varkel">\n'
  printf '<input type=submit name="dummy" value="Click here for next set of records.">\n'
  printf '<input type=hidden name="dataSource" value="text:sales.txt">\n'
  printf '<input type=hidden name="emitAcceptedData" value="1">\n'
  printf '<input type=hidden name="query" value="%s">\n' "$query"
  printf '<input type=hidden name="range" value="3-4">\n'
  printf '</form>\n</body>\n'
} > "$work/want"
check "html page 1 with the next-records form" "$work/want" "$work/page1.body"

# Follow the form: post its hidden inputs back (their entities decoded, as a browser does).
hidden_form_args "$work/page1.body"
action=$(sed -n 's/^<form method=post action="http:\/\/[^/]*\(\/[^"]*\)">$/\1/p' "$work/page1.body")
fetch page2 "${form_args[@]}" "http://127.0.0.1:$port$action"
{
  printf "$head3"; row Europe Spain 2
  printf '</table></center></body>\n'
} > "$work/want"
check "html page 2 through the form" "$work/want" "$work/page2.body"

# A query posted as a form body, in each text format.
post_text() {
  fetch "$1" --data-urlencode "dataSource=text:$2" -d emitAcceptedData=1 \
    -d "datasourceformat=$1" "${@:3}" "$base/varkel"
}
post_text tsv sales.txt --data-urlencode 'query=u=02f2=V014'
want 'text/plain\n'
check "tsv type" "$work/want" "$work/tsv.type"
want 'f0\tf1\tf2\t\nEurope\tFrance\t10\t\nEurope\tItaly\t5\t\nAmerica\tUSA\t7\t\n\n'
check "tsv posted query" "$work/want" "$work/tsv.body"

post_text csv notes.txt -d firstfieldnames=1
want 'text/plain\n'
check "csv type" "$work/want" "$work/csv.type"
want "Region,Note,\nEurope,\"says 'hi', twice\",\n\n"
check "csv with a header line" "$work/want" "$work/csv.body"

post_text excel sales.txt --data-urlencode 'query=c=02f1=L03USA'
want 'application/vnd.ms-excel\n'
check "spreadsheet type" "$work/want" "$work/excel.type"
want 'f0\tf1\tf2\t\nAmerica\tUSA\t7\t\n\n'
check "spreadsheet text" "$work/want" "$work/excel.body"

# A data source that cannot be opened: the page says so and ends.
fetch missing "$base/varkel?dataSource=text:nothere.txt&emitAcceptedData=1"
want "<p>\nFailed to open data file 'nothere.txt'.\n</body>\n"
check "failing data source" "$work/want" "$work/missing.body"

# A request without a data source: the error goes to the server's error log.
fetch nosource "$base/varkel?emitAcceptedData=1"
want ''
check "no data source: an empty page" "$work/want" "$work/nosource.body"
for i in $(seq 20); do
  grep -q 'Error 106: <p><b>No data source specified.</b></p>' "$work/error.log" && break
  sleep 0.1
done
if grep -q 'Error 106: <p><b>No data source specified.</b></p>' "$work/error.log"; then
  echo "ok: error 106 in the server's error log"
else
  echo "FAIL: error 106 not in the server's error log:"; cat "$work/error.log"; fail=1
fi

# Command sources: refused where the server does not allow them, run where it does.
# A form field cannot allow them: it only ever becomes a W3_ variable.
fetch refused --data-urlencode 'dataSource=exec:echo hello' -d emitAcceptedData=1 \
  -d datasourceformat=tsv -d VARKEL_CGI_ALLOW_EXEC=1 "$base/varkel"
want '<p><b>Command data sources are not allowed in web requests.</b></p>\n</body>\n'
check "command source refused" "$work/want" "$work/refused.body"
fetch allowed --data-urlencode 'dataSource=exec:echo hello' -d emitAcceptedData=1 \
  -d datasourceformat=tsv "$base/trusted/varkel"
want 'f0\t\nhello\t\n\n'
check "command source allowed by the server" "$work/want" "$work/allowed.body"

exit $fail
