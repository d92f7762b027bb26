#!/usr/bin/env bash
# A builder run that is killed outright (SIGKILL in the expansion pass, in the cube pass and
# while the page and cube file are being written) or that cannot write its output (a
# file-size limit, an unwritable directory) leaves the previous page and cube file byte for
# byte; the next successful run leaves none of its own temporary files behind and removes
# none of the killed runs' files (it cannot prove it made them).
# Every process started here is stopped by its pid; each wait is bounded.
set -u
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../../.." && pwd)
varkel=$build/varkel/varkel
work=$(mktemp -d "${TMPDIR:-/tmp}/varkel-interrupted.XXXXXX")
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  [ -f "$work/sleeper" ] && kill -9 "$(<"$work/sleeper")" 2>/dev/null
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
chmod 755 "$work"

fail=0
ok() { echo "ok: $1"; }
bad() { echo "FAIL: $1"; fail=1; }

cp "$src/examples/sales.qv" .
"$build/profile/tarnwick" sales.qv sales.qv4 >/dev/null || { echo "cannot compile"; exit 1; }
# Many distinct articles: a cube file of some megabytes, so that writing it takes a while.
awk 'BEGIN { print "orderdate\tcountry\tcity\tcategory\tarticle\tunits\trevenue"
  for (i = 0; i < 60000; i++)
    printf "2025-%02d-%02d\tItaly\tMilan\tCat%d\tArt%d\t%d\t%d.50\n", i % 12 + 1, i % 28 + 1,
           i % 40, i, i % 7, i }' > sales.txt
# The data source of the runs: each pass starts it anew; pass n stops after its records and
# waits when the file pause-n exists, so that the run is then inside that pass.
cat > feed <<'EOF'
#!/bin/sh
n=$(($(cat count 2>/dev/null || echo 0) + 1))
echo $n > count
cat sales.txt
if [ -f pause-$n ]; then echo $$ > sleeper; : > paused-$n; exec sleep 60; fi
EOF
chmod +x feed

build_cube() { "$varkel" sales.qv4 -datasource exec:./feed -o p.html "$@" 2>/dev/null; }

temporaries() { ls | grep -E '^(vrk|cb4)[A-Za-z0-9]{6}$'; }

build_cube || { echo "the first build failed"; exit 1; }
cp p.html before.html
cp p.cb4 before.cb4
# The cube apart from its build time, which every run sets anew.
cube_sum() { cat p.html p.cb4 | grep -v '^builddate=' | md5sum; }
sum_before=$(cube_sum)

# same LABEL: the page and cube file are still those of the first build.
same() {
  if cmp -s p.html before.html && cmp -s p.cb4 before.cb4; then ok "$1: old files intact"
  else bad "$1: old page or cube file changed"; fi
}

# Waits (at most 60 s) for file $1 to appear while process $2 lives.
await() {
  local i
  for i in $(seq 600); do
    [ -e "$1" ] && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# kill_in_pass N LABEL: a run killed while it reads pass N.
kill_in_pass() {
  rm -f count pause-* paused-* sleeper
  : > "pause-$1"
  "$varkel" sales.qv4 -datasource exec:./feed -o p.html 2>/dev/null &
  local pid=$!
  pids+=("$pid")
  if await "paused-$1" "$pid"; then
    kill -9 "$pid"; wait "$pid" 2>/dev/null
    kill -9 "$(<sleeper)" 2>/dev/null
    rm -f sleeper
    if [ -n "$(temporaries)" ]; then ok "$2: the killed run left its temporary files"
    else bad "$2: no temporary file to clear (the kill came too late?)"; fi
    same "$2"
  else
    bad "$2: the run never reached pass $1"
    kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  fi
  rm -f pause-* paused-* count
}
kill_in_pass 1 "killed in the expansion pass"
kill_in_pass 2 "killed in the cube pass"

# A run killed while its temporary page or cube file is growing: the poller stops it the
# moment one holds bytes. A run that finishes first does not count; it is tried again.
killed_writing=0
for attempt in 1 2 3 4 5; do
  cp before.html p.html; cp before.cb4 p.cb4
  result=$(python3 - "$varkel" <<'EOF'
import os, re, signal, subprocess, sys, time
name = re.compile(r"^(vrk|cb4)[A-Za-z0-9]{6}$")
def temporaries():
    return {f for f in os.listdir(".") if name.match(f)}
old = temporaries()
run = subprocess.Popen([sys.argv[1], "sales.qv4", "-datasource", "exec:./feed", "-o", "p.html"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
deadline = time.time() + 60
while run.poll() is None and time.time() < deadline:
    try:
        if any(os.stat(f).st_size > 0 for f in temporaries() - old):
            run.send_signal(signal.SIGKILL)
            break
    except FileNotFoundError:
        pass
if run.poll() is None:
    run.send_signal(signal.SIGKILL)
run.wait()
# Killed in time only when both of its temporary files are still there: no move had begun.
kinds = {f[:3] for f in temporaries() - old}
print("killed" if run.returncode == -signal.SIGKILL and kinds == {"vrk", "cb4"} else "late")
EOF
)
  if [ "$result" = killed ]; then killed_writing=1; break; fi
done
if [ $killed_writing = 1 ]; then
  same "killed while writing"
  [ -n "$(temporaries)" ] && ok "killed while writing: temporary files left" ||
    bad "killed while writing: no temporary file left"
else
  bad "killed while writing: every run finished before it could be killed"
fi

# A file-size limit: the writes fail, the run ends with error 2 and the old files stay.
cp before.html p.html; cp before.cb4 p.cb4
stale=$(temporaries | sort)
(ulimit -f 64; "$varkel" sales.qv4 -datasource exec:./feed -o p.html >/dev/null 2>limit.err)
status=$?
[ $status = 2 ] && grep -q "^Error 002: Couldn't write p.cb4: File too large" limit.err &&
  ok "file-size limit: error 2 and its message" ||
  { bad "file-size limit: status $status"; cat limit.err; }
same "file-size limit"
[ "$(temporaries | sort)" = "$stale" ] && ok "file-size limit: its own temporary files removed" ||
  bad "file-size limit: temporary files left behind"
rm -f limit.err

# An unwritable directory for the page: the run ends with error 2 before replacing anything.
# A directory's permissions do not hold root back, so root runs this part as nobody.
as_user=()
if [ "$(id -u)" = 0 ]; then as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups); fi
if ! "${as_user[@]}" test -x "$varkel"; then
  echo "skip: the unwritable directories (the build is out of reach of the user nobody)"
else
mkdir out && cp before.html out/p.html && cp before.cb4 out/p.cb4
chmod 555 out
chmod 777 "$work"
chmod 644 sales.qv4 sales.txt
"${as_user[@]}" "$varkel" sales.qv4 -datasource text:sales.txt -o out/p.html >/dev/null 2>dir.err
status=$?
[ $status = 2 ] && grep -q "^Error 002: Couldn't move" dir.err && ok "unwritable directory: error 2" ||
  { bad "unwritable directory: status $status"; cat dir.err; }
cmp -s out/p.html before.html && cmp -s out/p.cb4 before.cb4 &&
  ok "unwritable directory: old files intact" || bad "unwritable directory: old files changed"
[ "$(temporaries | sort)" = "$stale" ] && ok "unwritable directory: no temporary file left" ||
  bad "unwritable directory: temporary files left behind"
# An unwritable working directory: no temporary file can be made at all.
(cd out && "${as_user[@]}" "$varkel" ../sales.qv4 -datasource text:../sales.txt -o p.html \
   >/dev/null 2>/dev/null)
status=$?
[ $status = 2 ] && ok "unwritable working directory: error 2" ||
  bad "unwritable working directory: status $status"
cmp -s out/p.html before.html && cmp -s out/p.cb4 before.cb4 &&
  ok "unwritable working directory: old files intact" ||
  bad "unwritable working directory: old files changed"
chmod 755 out; rm -f dir.err
fi

# The next successful run: new files in place. It removes only the files it made itself:
# what the killed runs left stays as it was, since nothing tells it from a user's file.
cp before.html p.html; cp before.cb4 p.cb4
left=$(temporaries | sort)
rm -f count pause-*
if build_cube; then ok "next run succeeds"; else bad "next run failed"; fi
[ "$(temporaries | sort)" = "$left" ] &&
  ok "next run: the killed runs' files untouched, none of its own left" ||
  { bad "next run: the temporary files changed:"; temporaries; }
[ "$(cube_sum)" = "$sum_before" ] && ok "next run: the same cube as before" ||
  bad "next run: a different cube"

exit $fail
