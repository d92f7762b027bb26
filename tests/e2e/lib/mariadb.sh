# A private MariaDB server for the ODBC suites, on 127.0.0.1 and a Unix socket in the suite's
# temporary directory $work; under root it runs as the user the package made. db_start sets
# $db_port and $db_server (the pid, which db_stop and the suite's cleanup end); every function
# here writes a readable message and fails when the server does not answer.

db_label=MariaDB
db_driver=$(ls /usr/lib/*/odbc/libmaodbc.so 2>/dev/null | head -n 1)
db_admin=varkel

# db_start: a new data directory in $work/my, with a temporary directory of its own (two
# servers installing at once must not share /tmp); the admin is root on the socket and "varkel"
# with a password on 127.0.0.1.
db_start() {
  command -v mariadbd >/dev/null || { echo "MariaDB is not installed"; return 1; }
  [ -n "$db_driver" ] || { echo "the MariaDB ODBC driver is not installed"; return 1; }
  local user_opt=()
  mkdir -p "$work/my/data" "$work/my/run" "$work/my/tmp"
  if [ "$(id -u)" = 0 ]; then
    local db_user=mysql
    getent passwd mysql >/dev/null || db_user=nobody
    chmod 711 "$work"
    chown -R "$db_user" "$work/my"
    user_opt=(--user="$db_user")
  fi
  if ! timeout 60 mariadb-install-db --no-defaults --datadir="$work/my/data" "${user_opt[@]}" \
      --tmpdir="$work/my/tmp" \
      --auth-root-authentication-method=normal --skip-test-db >"$work/install-db.log" 2>&1; then
    echo "mariadb-install-db failed:"; cat "$work/install-db.log"; return 1
  fi
  local attempt i
  for attempt in 1 2 3; do
    db_port=$(free_port)
    timeout -k 10 240 mariadbd --no-defaults --datadir="$work/my/data" --tmpdir="$work/my/tmp" "${user_opt[@]}" \
      --socket="$work/my/run/sock" --port="$db_port" --bind-address=127.0.0.1 \
      --pid-file="$work/my/run/pid" --log-error="$work/my/run/error.log" --skip-log-bin \
      --skip-name-resolve --innodb-buffer-pool-size=16M --innodb-flush-log-at-trx-commit=0 \
      >>"$work/mariadbd.log" 2>&1 &
    db_server=$!
    for i in $(seq 150); do
      if mariadb_admin -e 'select 1' >/dev/null 2>&1; then
        mariadb_admin -e "create user varkel@'127.0.0.1' identified by 'admin secret';
          grant all on *.* to varkel@'127.0.0.1'" && return 0
        break
      fi
      kill -0 "$db_server" 2>/dev/null || break
      sleep 0.1
    done
    db_stop
  done
  echo "MariaDB did not start:"; cat "$work/mariadbd.log" "$work/my/run/error.log" 2>/dev/null
  return 1
}

# db_stop: the normal shutdown, which ends the open connections; waits for the server.
db_stop() {
  if [ -n "${db_server:-}" ]; then
    kill "$db_server" 2>/dev/null; wait "$db_server" 2>/dev/null; db_server=
  fi
}

mariadb_admin() {
  mariadb --no-defaults -S "$work/my/run/sock" -u root --default-character-set=latin1 "$@"
}

# db_sql: runs the statements on standard input as the admin in database shop.
db_sql() { mariadb_admin shop; }

# db_setup: the database shop (LATIN1, like the suites' text files) and a login "reader"
# with password $1 that may read it.
db_setup() {
  mariadb_admin -e "create database shop character set latin1;
    create user reader@'127.0.0.1' identified by '$1';
    grant select on shop.* to reader@'127.0.0.1'"
}

# db_add_user NAME PASSWORD: one more login that may read every table of shop.
db_add_user() {
  mariadb_admin -e "create user $1@'127.0.0.1' identified by '$2';
    grant select on shop.* to $1@'127.0.0.1'"
}

# db_load TABLE FILE: rows of FILE (TAB-separated, \N for NULL) into TABLE.
db_load() {
  mariadb_admin --local-infile=1 shop -e "load data local infile '$2' into table $1"
}

# db_list STATEMENT: the result as the database's own client lists it: the column names,
# then the rows, a TAB between fields, a NULL empty (the client writes NULL for it).
db_list() {
  mariadb_admin --batch --raw shop -e "$1" | awk 'BEGIN { FS = OFS = "\t" }
    { for (i = 1; i <= NF; i++) if ($i == "NULL") $i = ""; print }'
}

# db_counter SEQUENCE: the next value of a sequence, as an expression of a statement.
db_counter() { printf 'nextval(%s)' "$1"; }
# db_sleep SECONDS-EXPRESSION: a condition that holds after pausing that long.
db_sleep() { printf 'sleep(%s) = 0' "$1"; }

# db_odbcinst: the driver's section; db_dsn NAME PORT [USER PASSWORD]: a DSN of database
# shop, its text in LATIN1, connecting as USER when no other is given. This driver reads a
# result whole when it executes the statement, so a server that stops in the middle of a
# pass fails the execution.
db_odbcinst() { printf '[MariaDB]\nDriver=%s\n' "$db_driver"; }
db_dsn() {
  printf '[%s]\nDriver=MariaDB\nServer=127.0.0.1\nPort=%s\nDatabase=shop\nCharset=latin1\n' \
    "$1" "$2"
  [ -n "${3:-}" ] && printf 'UID=%s\nPWD=%s\n' "$3" "$4"
  printf '\n'
}

# db_writers: a function bump() that writes a row into scratch, and a sequence tally.
db_writers() {
  db_sql <<'SQL'
delimiter //
create function bump() returns integer modifies sql data
begin
  insert into scratch values (1);
  return 1;
end//
delimiter ;
create sequence tally;
SQL
}

# The driver is asked to stream (NO_CACHE), which its releases before 3.1.17 ignore: the
# suites do not count on it. db_read_only: an expression that reads whether the running
# transaction is read-only, and what it reads when it is.
db_streams=
# db_rows N: a statement of N rows of three numbers, made by the server.
db_rows() { printf 'select seq, seq, seq from seq_1_to_%s' "$1"; }
db_holds=NO_CACHE=0
db_read_only='@@tx_read_only'
db_read_only_value=1

# db_sleeping: true while a statement pauses in db_sleep.
db_sleeping() {
  [ "$(mariadb_admin -N -e "select count(*) from information_schema.processlist
    where state = 'User sleep'" 2>/dev/null)" != 0 ]
}

# What the driver says of a wrong password, an unknown table, a server that is not running
# and one stopped while a statement runs.
db_says_password='Access denied for user '\''reader'\''@'\''127.0.0.1'\'''
db_says_table='Table '\''shop.nope'\'' doesn'\''t exist'
db_says_down='Can'\''t connect to server on '\''127.0.0.1'\'''
db_says_stopped='Lost connection'
db_stopped_error='Error 108: SQLExecDirect(H, "select * from sales where sleep(case when nextval(readcount) > 58 then 60 else 0 end) = 0", SQL_NTS) failed with -1'

# The attacks of odbc-attacks.sh, one statement a line ($1: a directory no file may appear
# in), and what they may touch.
db_attacks() {
  cat <<SQL
select 'x' /*!00000INTO*/ /*!00000OUTFILE*/ '$1/w1'
select 'x' /*!00000INTO*/ /*!00000DUMPFILE*/ '$1/w2'
select 'x' into outfile '$1/w3'
select * from sales /*!00000FOR*/ /*!00000UPDATE*/
select * from sales where sleep(5) = 0 for update
select * from sales lock in share mode
select next value for sq
select nextval(sq)
select setval(sq, 100)
select load_file('/etc/passwd')
select sleep(60)
select benchmark(100000000, md5('x'))
select get_lock('x', 10)
select release_lock('x')
select * from information_schema.processlist
select * from sales # x
select * from sales -- x
select * from sales /* x */
SQL
}
db_attack_setup() { :; }
# db_attack_state: the rows and the sequence.
db_attack_state() {
  db_list 'select * from sales order by country'
  db_list 'select * from sq'
}
# db_attack_hold SECONDS: the administrator holds table hold locked that long.
db_attack_hold() {
  mariadb_admin shop -e "lock tables hold write; select sleep($1); unlock tables" >/dev/null 2>&1
}
db_attack_holding() {
  [ "$(mariadb_admin -N -e "select count(*) from information_schema.processlist
    where state = 'User sleep'" 2>/dev/null)" != 0 ]
}
# db_attack_sessions USER: the number of USER's sessions.
db_attack_sessions() {
  mariadb_admin -N -e "select count(*) from information_schema.processlist where user = '$1'"
}
db_says_cancelled='Query execution was interrupted$'
db_sleep_call=sleep
# The server builds a recursion whole before it sends a row, and bounds it itself.
db_memory_bound=
