#!/usr/bin/env bash
# Serves the built mapgate and pellack through lighttpd's mod_cgi on 127.0.0.1 and checks, as
# a browser sees them, a redirect and a local file from mapgate and a store and a fetch from
# pellack. The server runs in a temporary directory and is stopped by its pid in every outcome.
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/services-lighttpd.XXXXXX")
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

cgi=$work/www/cgi-bin
mkdir -p "$cgi/reports"
cp "$build/services/mapgate" "$build/services/pellack" "$cgi/"
printf 'http://example.com/cubes\n_no_extension_\nYear\nMonth\n' > "$cgi/web.map"
printf 'reports\n.txt\nYear\n' > "$cgi/local.map"
printf 'Sales 2001: 42\n' > "$cgi/reports/2001.txt"

. "$(dirname "$0")/../lib/lighttpd.sh"

write_config() {
  cat > "$work/lighttpd.conf" <<CONF
server.document-root = "$work/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/error.log"
server.modules = ( "mod_cgi" )
cgi.assign = ( "/mapgate" => "", "/pellack" => "" )
CONF
}
start_lighttpd write_config || exit 1
base=http://127.0.0.1:$port/cgi-bin

fail=0
# check LABEL WANT-FILE GOT-FILE
check() {
  if cmp -s "$2" "$3"; then echo "ok: $1"; else
    echo "FAIL: $1"; diff <(od -c "$2") <(od -c "$3") | head -20; fail=1
  fi
}

fetch redirect "$base/mapgate?mapfile=web.map&query=f0%3D04Year%3DL042001%3Bf0%3D05Month%3DL03Jan"
printf 'text/html\n' > "$work/want"
check "mapgate redirect type" "$work/want" "$work/redirect.type"
printf '<script>document.location.replace("http://example.com/cubes/2001/Jan")</script>\n' > "$work/want"
check "mapgate redirect" "$work/want" "$work/redirect.body"

fetch local "$base/mapgate?mapfile=local.map&query=f0%3D04Year%3DL042001"
printf 'Sales 2001: 42\n' > "$work/want"
check "mapgate local file" "$work/want" "$work/local.body"

fetch store --data 'server=cubes&filename=report.csv&data=Region%2CSales%0AEurope%2C42%0A' "$base/pellack"
printf 'OK' > "$work/want"
check "pellack store" "$work/want" "$work/store.body"

fetch got "$base/pellack?getFile=report.csv"
printf 'text/csv\n' > "$work/want"
check "pellack fetch type" "$work/want" "$work/got.type"
printf 'Region,Sales\nEurope,42\n\0' > "$work/want"
check "pellack fetch" "$work/want" "$work/got.body"

exit $fail
