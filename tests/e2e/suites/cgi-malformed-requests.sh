#!/usr/bin/env bash
# The CGI programs (varkel, mapgate, pellack) given oversized or malformed requests: a huge
# CONTENT_LENGTH, query strings of 100 KB, 600 query elements, 8-bit and NUL bytes. Each
# answers with its page or a clean refusal: no signal, no hang, no sanitizer report, and
# whatever it writes begins with its Content-type line. pellack's earlier documents survive.
# Every request is bounded by timeout.
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/cgi-malformed.XXXXXX")
bg=
cleanup() {
  [ -n "$bg" ] && { kill "$bg" 2>/dev/null; wait "$bg" 2>/dev/null; }
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

printf 'Europe\tFrance\t7\nAsia\tJapan\t3\n' > d.txt
printf 'http://h\n_no_extension_\nYear\n' > m.map

fail=0
n=0
# request LABEL PROGRAM METHOD QUERY BODY-FILE [CONTENT_LENGTH]: one request, judged.
request() {
  local label=$1 prog=$2 method=$3 query=$4 body=$5 length=${6:-}
  [ -n "$length" ] || length=$(stat -c %s "$body")
  n=$((n + 1))
  env -i PATH=/usr/bin:/bin REQUEST_METHOD="$method" QUERY_STRING="$query" \
    CONTENT_TYPE=application/x-www-form-urlencoded CONTENT_LENGTH="$length" \
    ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} \
    timeout 60 "$prog" < "$body" > "out.$n" 2> "err.$n"
  judge "$label" $? "out.$n" "err.$n"
}

# judge LABEL STATUS OUT ERR
judge() {
  local problem=
  if [ "$2" = 124 ]; then problem="no answer within 60 seconds"
  elif [ "$2" -ge 128 ]; then problem="ended by signal $(($2 - 128))"
  elif grep -qE 'Sanitizer|runtime error' "$4"; then problem="sanitizer report"
  elif [ -s "$3" ] && ! head -c 14 "$3" | grep -q '^Content-type: '; then
    problem="answer without its Content-type line"
  fi
  if [ -n "$problem" ]; then
    echo "FAIL: $1: $problem (status $2)"; head -c 600 "$4"; fail=1
  else
    echo "ok: $1 (status $2)"
  fi
}

empty=$work/empty; : > "$empty"
printf 'x%.0s' $(seq 102400) > x100k
big=$(<x100k)
base='dataSource=text:d.txt&emitAcceptedData=1&datasourceformat=tsv'
# 600 elements of each kind: form fields, query conditions, selection items.
fields=$(for i in $(seq 600); do printf 'f%d=%d&' "$i" "$i"; done)
conditions=$(e='a%3D02f0%3DL06Europe'; printf '%s' "$e"; for i in $(seq 599); do printf '%%3B%s' "$e"; done)
items=$(for i in $(seq 600); do printf 'f0=04Year=L04%04d;' "$i"; done)
eight=$(printf 'x\351\377\200y')
printf '%s&query=a%%3D02f0%%3DL02\377\000\351&zz=%%00%%ff\0tail\0' "$base" > nul-body
printf 'mapfile=m.map&query=f0=04Year=L04\3512\0001;f0=04Year=L04%%00%%ff\0' > mapgate-nul-body
printf 'server=s&filename=nul.txt&data=before\0after\377\0' > pellack-nul-body
printf '%s' "$base" > varkel-body
printf 'mapfile=m.map&query=f0=04Year=L042001' > mapgate-body
printf 'server=s&filename=len.txt&data=short' > pellack-body

varkel=$build/varkel/varkel
mapgate=$build/services/mapgate
pellack=$build/services/pellack

# A fetch of a 100 KB name searches its twenty passes: it runs meanwhile.
env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="getFile=$big" \
  ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} \
  timeout 60 "$pellack" < "$empty" > out.bg 2> err.bg &
bg=$!

for length in 99999999999999999999 18446744073709551616 2147483648 16777217 -5 12abc; do
  request "varkel: CONTENT_LENGTH $length" "$varkel" POST "" varkel-body "$length"
  request "mapgate: CONTENT_LENGTH $length" "$mapgate" POST "" mapgate-body "$length"
  request "pellack: CONTENT_LENGTH $length" "$pellack" POST "" pellack-body "$length"
done
request "varkel: a body shorter than its CONTENT_LENGTH" "$varkel" POST "" varkel-body 16777216

request "varkel: a 100 KB query string" "$varkel" GET "$base&x=$big" "$empty"
request "varkel: a 100 KB query element" "$varkel" GET "$base&query=a%3D02f0%3DL02$big" "$empty"
request "varkel: a 100 KB data source name" "$varkel" GET "dataSource=text:$big&emitAcceptedData=1" "$empty"
request "varkel: a 100 KB body" "$varkel" POST "" x100k
request "mapgate: a 100 KB query string" "$mapgate" GET "mapfile=m.map&query=$big" "$empty"
request "mapgate: a 100 KB map file name" "$mapgate" GET "mapfile=$big" "$empty"
request "pellack: a 100 KB document name" "$pellack" POST "server=s&filename=$big&data=x" "$empty"
request "pellack: a 100 KB document" "$pellack" POST "server=s&filename=big.txt&data=$big" "$empty"

request "varkel: 600 form fields" "$varkel" GET "$fields$base" "$empty"
request "varkel: 600 query conditions" "$varkel" GET "$base&query=$conditions" "$empty"
request "mapgate: 600 selection items" "$mapgate" GET "mapfile=m.map&query=$items" "$empty"
request "mapgate: 600 form fields" "$mapgate" GET "${fields}mapfile=m.map" "$empty"
request "pellack: 600 form fields" "$pellack" POST "${fields}server=s&filename=f.txt&data=x" "$empty"

request "varkel: 8-bit bytes in the query string" "$varkel" GET "$base&query=a%3D02f0%3DL02$eight&d$eight=%ff%00" "$empty"
request "varkel: NUL and 8-bit bytes in the body" "$varkel" POST "" nul-body
request "mapgate: 8-bit bytes in the query string" "$mapgate" GET "mapfile=m.map&query=f0=04Year=L04$eight%00" "$empty"
request "mapgate: NUL and 8-bit bytes in the body" "$mapgate" POST "" mapgate-nul-body
request "pellack: 8-bit bytes in the name" "$pellack" POST "server=s&filename=$eight.txt&data=$eight" "$empty"
request "pellack: NUL and 8-bit bytes in the body" "$pellack" POST "" pellack-nul-body

wait "$bg"
judge "pellack: a fetch of a 100 KB name" $? out.bg err.bg
bg=

# What pellack accepted on the way is still there, whole.
for name in big.txt nul.txt; do
  env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="getFile=$name" \
    timeout 60 "$pellack" > "fetch.$name" 2>/dev/null
done
{ printf 'Content-type: text/plain\n\n%s\0' "$big"; } > want.big
cmp -s want.big fetch.big.txt && echo "ok: pellack kept the 100 KB document" ||
  { echo "FAIL: pellack lost the 100 KB document"; fail=1; }
{ printf 'Content-type: text/plain\n\nbefore\0'; } > want.nul
cmp -s want.nul fetch.nul.txt && echo "ok: pellack kept the document cut at its NUL" ||
  { echo "FAIL: pellack lost the document with a NUL"; od -c fetch.nul.txt | head; fail=1; }

exit $fail
