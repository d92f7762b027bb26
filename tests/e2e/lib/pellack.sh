# Helpers for the pellack cases, sourced by their cmd: requests as a web server sends them,
# capture-file records made by hand, and a readable view of answers and files that hold NULs.

pellack_bin=$(command -v pellack)

# bare NAME=VALUE... PROGRAM [ARG...]: PROGRAM with only the variables given, as env -i runs
# it, but from a subshell that drops the others and execs it, one process less. Where a
# variable cannot be dropped (read-only) or an argument names no shell variable, env -i runs it.
bare() (
  local p v names=()
  for p in {A..Z} {a..z} _; do eval "names+=(\${!$p*})"; done
  for v in "${names[@]}"; do
    [[ ${!v@a} == *x* && ${!v@a} == *r* ]] && exec env -i "$@"
  done
  for v in "$@"; do
    [[ $v == *=* ]] || break
    [[ $v =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || exec env -i "$@"
  done
  for v in "${names[@]}"; do [[ ${!v@a} == *x* ]] && unset "$v"; done
  while [[ $1 == *=* ]]; do export "$1"; shift; done
  exec "$@"
)

# get NAME: the answer to a fetch of NAME, then the exit status.
get() {
  bare REQUEST_METHOD=GET QUERY_STRING="getFile=$1" "$pellack_bin"
  echo "[status $?]"
}

# post QUERY: the answer to a store whose form fields come in the body, then the status.
post() {
  printf '%s' "$1" | bare REQUEST_METHOD=POST CONTENT_TYPE=application/x-www-form-urlencoded \
    CONTENT_LENGTH=${#1} "$pellack_bin"
  echo "[status $?]"
}

# record NAME TIME DATA: one capture-file record on standard output.
record() {
  printf '%s\0%*s' "$1" $((31 - ${#1})) ''
  printf '%31d\0%31d\0%s\0' "$2" $((${#3} + 1)) "$3"
}

# visible: standard input with NULs and other control bytes escaped, lines ending in '$'.
visible() { sed -n 'l 0'; }

# settime OFFSET SECONDS: sets the time field of the record at OFFSET in pellack.f.
settime() {
  printf '%31d\0' "$2" | dd of=pellack.f bs=1 seek=$(($1 + 32)) conv=notrunc status=none
}

# timeat OFFSET: the time field of the record at OFFSET in pellack.f.
timeat() {
  local t
  t=$(dd if=pellack.f bs=1 skip=$(($1 + 32)) count=31 status=none)
  echo "${t// /}"
}

# records: the live records of pellack.f as the program reads them, one line each: offset,
# name, time and data length (its NUL included).
records() {
  local pos=0 size name t n
  size=$(stat -c %s pellack.f)
  while [ $((pos + 96)) -le "$size" ]; do
    name=$(dd if=pellack.f bs=1 skip=$pos count=32 status=none | tr '\0' '\n' | head -n 1)
    [ -z "$name" ] && break
    t=$(dd if=pellack.f bs=1 skip=$((pos + 32)) count=31 status=none)
    n=$(dd if=pellack.f bs=1 skip=$((pos + 64)) count=31 status=none)
    echo "$pos $name ${t// /} ${n// /}"
    pos=$((pos + 96 + ${n// /}))
  done
  echo "end mark at $pos, file of $size bytes"
}
