# Shared by the suites that fetch documents from a local HTTP server on 127.0.0.1.

# start_http_server DIR: serves DIR, bounded in time; sets $server_pid (the suite's cleanup
# kills it in every outcome) and $port. The server picks a free port and names it on its
# first line, in $work/server.log.
start_http_server() {
  timeout 120 python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$1" \
    >"$work/server.log" 2>&1 &
  server_pid=$!
  port=
  for _ in $(seq 100); do
    port=$(sed -n 's/.*port \([0-9][0-9]*\).*/\1/p' "$work/server.log" | head -n 1)
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "the HTTP server did not start:"; cat "$work/server.log"
  return 1
}
