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

# start_script_server SCRIPT SECONDS: runs a Python server of the suite's own that binds a
# free port on 127.0.0.1 and prints it as its first line (in SCRIPT's name with .log for
# .py), bounded to SECONDS; sets $script_pid and $script_port. One that does not start is
# stopped and its log shown.
start_script_server() {
  local log=${1%.py}.log
  timeout "$2" python3 -u "$1" >"$log" 2>&1 &
  script_pid=$!
  script_port=
  for _ in $(seq 100); do
    script_port=$(head -n 1 "$log" 2>/dev/null | grep -x '[0-9]*') && return 0
    sleep 0.1
  done
  kill "$script_pid" 2>/dev/null; wait "$script_pid" 2>/dev/null
  echo "the server $1 did not start:"; cat "$log"
  return 1
}
