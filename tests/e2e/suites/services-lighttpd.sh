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

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Starts lighttpd on a free port; a port taken between the choice and the bind is tried again.
start_server() {
  local attempt i
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    cat > "$work/lighttpd.conf" <<CONF
server.document-root = "$work/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/error.log"
server.modules = ( "mod_cgi" )
cgi.assign = ( "/mapgate" => "", "/pellack" => "" )
CONF
    lighttpd -D -f "$work/lighttpd.conf" &
    server=$!
    for i in $(seq 50); do
      if curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$port/"; then return 0; fi
      kill -0 "$server" 2>/dev/null || break
      sleep 0.1
    done
    kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; server=
  done
  echo "lighttpd did not start:"; cat "$work/error.log" 2>/dev/null
  return 1
}
start_server || exit 1
base=http://127.0.0.1:$port/cgi-bin

fail=0
# check LABEL WANT-FILE GOT-FILE
check() {
  if cmp -s "$2" "$3"; then echo "ok: $1"; else
    echo "FAIL: $1"; diff <(od -c "$2") <(od -c "$3") | head -20; fail=1
  fi
}
# fetch NAME CURL-ARGS...: the body into $work/NAME.body, the content type into NAME.type.
fetch() {
  local name=$1; shift
  curl -s --max-time 10 -D "$work/$name.head" -o "$work/$name.body" "$@"
  tr -d '\r' < "$work/$name.head" | sed -n 's/^[Cc]ontent-[Tt]ype: *//p' > "$work/$name.type"
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
