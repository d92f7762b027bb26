# Helpers for the pellack cases, sourced by their cmd: requests as a web server sends them,
# capture-file records made by hand, and a readable view of answers and files that hold NULs.

pellack_bin=$(command -v pellack)

# get NAME: the answer to a fetch of NAME, then the exit status.
get() {
  env -i REQUEST_METHOD=GET QUERY_STRING="getFile=$1" "$pellack_bin"
  echo "[status $?]"
}

# post QUERY: the answer to a store whose form fields come in the body, then the status.
post() {
  printf '%s' "$1" | env -i REQUEST_METHOD=POST CONTENT_TYPE=application/x-www-form-urlencoded \
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
