# Shared by the suites that serve the built CGI programs through lighttpd on 127.0.0.1.
# The suite sets $work (its temporary directory); start_lighttpd sets $port and $server (the
# pid, which the suite's cleanup kills in every outcome).

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_lighttpd WRITE-CONFIG: WRITE-CONFIG is a function that writes $work/lighttpd.conf for
# $port. The server is bounded in time; a port taken between the choice and the bind is
# tried again. The CGI programs inherit the server's standard error: it goes to the log.
start_lighttpd() {
  local write=$1 attempt i
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    "$write"
    timeout 120 lighttpd -D -f "$work/lighttpd.conf" 2>>"$work/error.log" &
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

# fetch NAME CURL-ARGS...: the body into $work/NAME.body, the content type into NAME.type.
fetch() {
  local name=$1; shift
  curl -s --max-time 10 -D "$work/$name.head" -o "$work/$name.body" "$@"
  content_types >"$work/$name.type" <"$work/$name.head"
}
# content_types: the value of every Content-Type line of the header lines on standard input,
# their CRs dropped (as tr -d '\r' | sed -n 's/^[Cc]ontent-[Tt]ype: *//p' would print them).
content_types() {
  local line end
  while end=$'\n'; IFS= read -r line || { end=; [ -n "$line" ]; }; do
    line=${line//$'\r'/}
    [[ $line == [Cc]ontent-[Tt]ype:* ]] || continue
    line=${line:13}
    while [[ $line == ' '* ]]; do line=${line# }; done
    printf '%s%s' "$line" "$end"
  done
}

# The lines every suite's configuration starts with: its document root, the loopback
# address, $port and the error log in $work.
lighttpd_base_config() {
  cat <<CONF
server.document-root = "$work/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/error.log"
CONF
}

# check LABEL WANT-FILE GOT-FILE: the two files are the same, or the difference is shown and
# the suite's $fail is set.
check() {
  if cmp -s "$2" "$3"; then echo "ok: $1"; else
    echo "FAIL: $1"; diff "$2" "$3" | head -30; fail=1
  fi
}
# pass LABEL, flunk LABEL: one verdict line; flunk also sets the suite's $fail.
pass() { echo "ok: $1"; }
flunk() { echo "FAIL: $1"; fail=1; }
# same LABEL WANT-FILE GOT-FILE (either may be a pipe: both are read once)
same() {
  local want=$2 got=$3
  # A regular file is compared where it is; one that comes through a pipe is kept first.
  [ -f "$want" ] || { cat "$want" >"$work/want"; want=$work/want; }
  [ -f "$got" ] || { cat "$got" >"$work/got"; got=$work/got; }
  if cmp -s "$want" "$got"; then pass "$1"; else
    flunk "$1"; diff -a "$want" "$got" | head -30
  fi
}
# want FORMAT ARGS...: the expected text, as printf writes it, into $work/want.
want() { printf "$@" > "$work/want"; }

# hidden_form_args PAGE: sets the array form_args to curl arguments that post back the hidden
# inputs of PAGE's next-records form, their entities decoded as a browser decodes them.
hidden_form_args() {
  local line name value
  form_args=()
  while IFS= read -r line; do
    name=$(sed -n 's/.*name="\([^"]*\)" value="\([^"]*\)".*/\1/p' <<<"$line")
    value=$(sed -n 's/.*name="\([^"]*\)" value="\([^"]*\)".*/\2/p' <<<"$line" |
      sed -e 's/&quot;/"/g' -e 's/&lt;/</g' -e 's/&gt;/>/g' -e 's/&amp;/\&/g')
    form_args+=(--data-urlencode "$name=$value")
  done < <(grep '^<input type=hidden' "$1")
}
