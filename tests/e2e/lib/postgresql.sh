# A private PostgreSQL server for the ODBC suites, on 127.0.0.1 and a Unix socket in the
# suite's temporary directory $work. The server refuses to run as root, so under root it runs
# as the unprivileged user the package made. db_start sets $db_port and $db_server (the pid,
# which db_stop and the suite's cleanup end); every function here writes a readable message
# and fails when the server does not answer.

db_label=PostgreSQL
db_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
db_driver=$(ls /usr/lib/*/odbc/psqlodbca.so 2>/dev/null | head -n 1)
db_admin=varkel


# db_start: a new cluster in $work/pg, LATIN1 like the suites' text files; the clients of
# 127.0.0.1 give passwords, the admin on the socket is trusted.
db_start() {
  [ -n "$db_bin" ] && [ -x "$db_bin/postgres" ] || { echo "PostgreSQL is not installed"; return 1; }
  [ -n "$db_driver" ] || { echo "the PostgreSQL ODBC driver is not installed"; return 1; }
  # The server's programs run as the user that owns its files: a prefix that execs them, so
  # that the pid of a server started in the background is the server's (through timeout).
  local as_server=()
  if [ "$(id -u)" = 0 ]; then
    local db_user=postgres
    getent passwd postgres >/dev/null || db_user=nobody
    as_server=(setpriv --reuid="$db_user" --regid="$db_user" --init-groups --)
    chmod 711 "$work"
  fi
  mkdir -p "$work/pg" "$work/pgsock"
  printf 'admin secret\n' >"$work/pg.pw"
  [ "$(id -u)" = 0 ] && chown "$db_user" "$work/pg" "$work/pgsock" "$work/pg.pw"
  if ! "${as_server[@]}" timeout 60 "$db_bin/initdb" -D "$work/pg/data" -U "$db_admin" -E LATIN1 \
      --locale=C --auth-local=trust --auth-host=scram-sha-256 --pwfile="$work/pg.pw" -N \
      >"$work/initdb.log" 2>&1; then
    echo "initdb failed:"; cat "$work/initdb.log"; return 1
  fi
  local attempt i
  for attempt in 1 2 3; do
    db_port=$(free_port)
    # Bounded in time; SIGINT (the fast shutdown) also on expiry, so clients cannot hold it.
    "${as_server[@]}" timeout -s INT -k 10 240 "$db_bin/postgres" -D "$work/pg/data" \
      -k "$work/pgsock" -p "$db_port" -h 127.0.0.1 -c fsync=off -c full_page_writes=off \
      >>"$work/postgres.log" 2>&1 &
    db_server=$!
    for i in $(seq 100); do
      if psql_admin -d postgres -c 'select 1' >/dev/null 2>&1; then return 0; fi
      kill -0 "$db_server" 2>/dev/null || break
      sleep 0.1
    done
    db_stop
  done
  echo "PostgreSQL did not start:"; cat "$work/postgres.log"; return 1
}

# db_stop: the fast shutdown, which ends the open connections; waits for the server.
db_stop() {
  if [ -n "${db_server:-}" ]; then
    kill -INT "$db_server" 2>/dev/null; wait "$db_server" 2>/dev/null; db_server=
  fi
}

psql_admin() {
  psql -X -q -v ON_ERROR_STOP=1 -h "$work/pgsock" -p "$db_port" -U "$db_admin" "$@"
}

# db_sql: runs the statements on standard input as the admin in database shop.
db_sql() { psql_admin -d shop -f -; }

# db_setup: the database shop and a login "reader" with password $1 that may read it.
db_setup() {
  psql_admin -d postgres -c 'create database shop' &&
    psql_admin -d postgres -c "create role reader login password '$1'" &&
    psql_admin -d shop -c 'alter default privileges grant select on tables to reader'
}

# db_add_user NAME PASSWORD: one more login that may read every table of shop.
db_add_user() {
  psql_admin -d shop -c "create role $1 login password '$2'" &&
    psql_admin -d shop -c "grant select on all tables in schema public to $1"
}

# db_load TABLE FILE: rows of FILE (TAB-separated, \N for NULL) into TABLE.
db_load() { psql_admin -d shop -c "\\copy $1 from '$2'"; }

# db_list STATEMENT: the result as the database's own client lists it: the column names,
# then the rows, a TAB between fields, a NULL empty.
db_list() {
  psql_admin -d shop -A -F "$(printf '\t')" -P footer=off -P null= -c "$1"
}

# db_counter SEQUENCE: the next value of a sequence, as an expression of a statement.
db_counter() { printf "nextval('%s')" "$1"; }
# db_sleep SECONDS-EXPRESSION: a condition that holds after pausing that long.
db_sleep() { printf "pg_sleep(%s)::text = ''" "$1"; }

# db_odbcinst: the driver's section; db_dsn NAME PORT [USER PASSWORD]: a DSN of database
# shop, connecting as USER when no other is given. The driver hands text over in the
# database's own LATIN1. The DSN "cursor" reads the result five rows at a time, so a server
# that stops in the middle of a pass fails a fetch.
db_odbcinst() { printf '[PostgreSQL]\nDriver=%s\n' "$db_driver"; }
db_dsn() {
  printf '[%s]\nDriver=PostgreSQL\nServername=127.0.0.1\nPort=%s\nDatabase=shop\n' "$1" "$2"
  printf "ConnSettings=set client_encoding to 'LATIN1'\n"
  [ "$1" = cursor ] && printf 'UseDeclareFetch=1\nFetch=5\n'
  [ -n "${3:-}" ] && printf 'Username=%s\nPassword=%s\n' "$3" "$4"
  printf '\n'
}

# db_writers: a function bump() that writes a row into scratch, and a sequence tally.
db_writers() {
  db_sql <<'SQL'
create function bump() returns integer language sql
  as 'insert into scratch values (1); select 1';
create sequence tally;
SQL
}

# db_streams: the driver reads a result through a server-side cursor when its DSN says
# nothing of it; db_cursor_running USER: true while USER's running statement declares or
# fetches from one; db_holds: the DSN line that keeps the driver holding a result whole.
db_streams=1
db_cursor_running() {
  [ "$(psql_admin -d postgres -A -t -c "select count(*) from pg_stat_activity
    where usename = '$1' and query ~* '(declare|fetch) '" 2>/dev/null)" != 0 ]
}
db_holds=UseDeclareFetch=0
# db_rows N: a statement of N rows of three numbers, made by the server.
db_rows() { printf 'select x, x, x from generate_series(1, %s) as g(x)' "$1"; }
# db_read_only: an expression that reads whether the running transaction is read-only, and
# what it reads when it is.
db_read_only="current_setting('transaction_read_only')"
db_read_only_value=on

# db_sleeping: true while a statement pauses in db_sleep.
db_sleeping() {
  [ "$(psql_admin -d postgres -A -t -c "select count(*) from pg_stat_activity
    where wait_event = 'PgSleep'" 2>/dev/null)" != 0 ]
}

# What the driver says of a wrong password, an unknown table, a server that is not running
# and one stopped while a statement runs.
db_says_password='password authentication failed for user "reader"'
db_says_table='relation "nope" does not exist'
db_says_down='Connection refused'
db_says_stopped='terminating connection due to administrator command'
db_stopped_error='Error 108: SQLFetch failed with -1'

# The attacks of odbc-attacks.sh, one statement a line ($1: a directory no file may appear
# in), and what they may touch.
db_attacks() {
  cat <<SQL
select query_to_xml('select nex'||'tval(''sq'')', true, false, '')
select cursor_to_xml('c', 1, true, false, '')
select table_to_xml('sales', true, false, '')
select nextval('sq')
select setval('sq', 100)
select pg_terminate_backend(pid) from pg_stat_activity where usename = 'varkel'
select pg_cancel_backend(pid) from pg_stat_activity
select * from pg_stat_activity
select pg_create_physical_replication_slot('held', true)
select * from dblink('dbname=shop', 'delete from sales') as d(x text)
select dblink_exec('dbname=shop', 'delete from sales')
select pg_read_file('/etc/passwd')
select pg_read_binary_file('/etc/passwd')
select pg_ls_dir('/')
select pg_stat_file('/etc/passwd')
select lo_import('/etc/passwd')
select lo_export(1, '$1/w1')
select pg_advisory_lock(1)
select pg_try_advisory_xact_lock(1)
select * from sales for update
select * from sales for share
select pg_sleep(60)
select pg_sleep_for('1 minute')
select * from sales /* x */
select * from sales -- x
select U&"pg\005fread_file"('/etc/passwd')
select set_config('default_transaction_read_only', 'off', false)
select ts_stat('select 1')
SQL
}
db_attack_setup() { :; }
# db_attack_state: the rows, the sequence and the replication slots.
db_attack_state() {
  db_list 'select * from sales order by country'
  db_list 'select last_value, is_called from sq'
  db_list 'select count(*) as slots from pg_replication_slots'
}
# db_attack_hold SECONDS: the administrator holds table hold locked that long.
db_attack_hold() {
  psql_admin -d shop -c "begin; lock table hold in access exclusive mode; select pg_sleep($1); commit" \
    >/dev/null 2>&1
}
db_attack_holding() {
  [ "$(psql_admin -d postgres -A -t -c "select count(*) from pg_stat_activity
    where wait_event = 'PgSleep' and usename = '$db_admin'" 2>/dev/null)" != 0 ]
}
# db_attack_sessions USER: the number of USER's sessions.
db_attack_sessions() {
  psql_admin -d postgres -A -t -c "select count(*) from pg_stat_activity where usename = '$1'"
}
db_says_cancelled='canceling statement due to user request'
db_sleep_call=pg_sleep
# The driver holds the whole result in the builder's memory.
db_memory_bound=1
