#!/usr/bin/env bash
# Serves the built mapgate and pellack through lighttpd's mod_cgi on 127.0.0.1 and checks, as
# a browser sees them, a redirect and a local file from mapgate and a store and a fetch from
# pellack, a client hanging up on pellack, and many stores and fetches at once. The server runs in a temporary directory and is stopped by its pid in every outcome.
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
  lighttpd_base_config > "$work/lighttpd.conf"
  cat >> "$work/lighttpd.conf" <<CONF
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

# A client that hangs up in the middle of a large document: the capture file stays
# readable, the other users' documents included, and the expired record is dropped.
now=$(date +%s)
/usr/bin/python3 - "$cgi/pellack.f" "$now" <<'PY'
import sys
def record(name, time, data):
    data += b"\0"
    return name + b"\0" + b" " * (31 - len(name)) + b"%31d\0%31d\0" % (time, len(data)) + data
now = int(sys.argv[2])
# Many records after them make each request hold the lock a while in the concurrent part.
open(sys.argv[1], "wb").write(record(b"old.txt", 1000000000, b"expired") +
    record(b"a.txt", now, b"first user") + record(b"big.txt", now, b"x" * 1500000) +
    record(b"b.txt", now, b"second user") +
    b"".join(record(b"f%d.txt" % i, now, b"filler") for i in range(3000)) + b"\0")
PY
/usr/bin/python3 - "$port" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=10)
s.sendall(b"GET /cgi-bin/pellack?getFile=big.txt HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")
s.recv(100)
s.close()
PY
for name in a b; do
  for i in $(seq 50); do [ -z "$(ls "$cgi" | grep '^pellack\.f\.')" ] && break; sleep 0.1; done
  fetch cut-$name "$base/pellack?getFile=$name.txt"
done
printf 'first user\0' > "$work/want"
check "pellack after a hang-up: the first user's document" "$work/want" "$work/cut-a.body"
printf 'second user\0' > "$work/want"
check "pellack after a hang-up: the second user's document" "$work/want" "$work/cut-b.body"
grep -q old.txt "$cgi/pellack.f" && { echo "FAIL: pellack after a hang-up: expired record kept"; fail=1; }

# Sixty stores at once, each tried once, while ten fetches wait for documents among them.
clients=()
for i in $(seq 10); do
  fetch wait-$i "$base/pellack?getFile=s$i.txt" --max-time 60 & clients+=($!)
done
sleep 0.5
for i in $(seq 60); do
  fetch store-$i --data "server=1&filename=s$i.txt&data=store+$i" "$base/pellack" & clients+=($!)
done
wait "${clients[@]}"  # not the server
ok=0
for i in $(seq 60); do [ "$(<"$work/store-$i.body")" = OK ] && ok=$((ok + 1)); done
[ $ok = 60 ] && echo "ok: pellack: 60 concurrent stores answered OK" ||
  { echo "FAIL: pellack: $ok of 60 concurrent stores answered OK"; fail=1; }
ok=0
for i in $(seq 10); do printf 'store %d\0' $i | cmp -s - "$work/wait-$i.body" && ok=$((ok + 1)); done
[ $ok = 10 ] && echo "ok: pellack: 10 waiting fetches answered" ||
  { echo "FAIL: pellack: $ok of 10 waiting fetches answered"; cat "$work"/wait-*.body; fail=1; }

exit $fail
