// The server's policy for the ODBC sources of web requests: listed DSNs, and statements
// that can only read.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "varkel/requestpolicy.h"

namespace {

TEST(RequestPolicy, OnlyASingleSelect) {
  struct Case {
    const char* statement;
    bool allowed;
  };
  const Case cases[] = {
      {"select region, amount from sales", true},
      {"SELECT * FROM t WHERE a = 'x'", true},
      {"  (select 1) union (select 2)", true},
      {"with s as (select * from t) select * from s", true},
      {"select * from t;", true},
      {"select * from t ; \n", true},
      {"select replace(a, 'x', 'y'), updated_at, deleted from t", true},
      {"select * from 'My Table'", true},
      {"delete from t", false},
      {"update t set a = 1", false},
      {"drop table t", false},
      {"VACUUM INTO '/tmp/copy.db'", false},
      {"insert into t values(1)", false},
      {"select 1; delete from t", false},
      {"select 1;;", true},
      {"select * into newtable from t", false},
      {"select * from t into outfile '/tmp/x'", false},
      {"with d as (delete from t returning *) select * from d", false},
      {"with s as (select 1) update t set a = 0", false},
      {"select load_extension('x')", false},
      {"select lo_export(1, '/tmp/x')", false},
      {"select set_config('default_transaction_read_only', 'off', false)", false},
      {"attach database '/tmp/x' as y", false},
      {"pragma writable_schema = 1", false},
      {"/* comment */ select 1", false},
      {"select 1 -- update", false},
      {"explain select 1", false},
      {"selectx from t", false},
      {"", false},
      {"   ", false},
      {"(", false},
      // Comments in every form, which hide words from the check or (MariaDB's "/*!") run.
      {"select 'x' /*!00000INTO*/ /*!00000OUTFILE*/ '/tmp/w'", false},
      {"select a from t /*!00000FOR*/ /*!00000UPDATE*/", false},
      {"select a from t where b = 1 # x", false},
      {"select a from t -- x", false},
      {"select a */ from t", false},
      {"select 1--1", false},
      // Names spelt with escapes the check cannot read.
      {"select U&\"pg\\005fread_file\"('/etc/passwd')", false},
      {"select u&'x'", false},
      // Sequences, locks and rows locked for others.
      {"select next value for sq", false},
      {"select NEXT  VALUE FOR sq", false},
      {"select nextval('s'), setval('s', 1)", false},
      {"select a from t for update", false},
      {"select a from t for share", false},
      {"select a from t for no key update", false},
      {"select a from t for key share", false},
      {"select a from t lock in share mode", false},
      {"select get_lock('x', 10), release_lock('x'), is_free_lock('x')", false},
      {"select pg_advisory_lock(1)", false},
      {"select pg_try_advisory_xact_lock_shared(1)", false},
      // Texts run as queries.
      {"select query_to_xml('select nex'||'tval(''s'')', true, false, '')", false},
      {"select table_to_xmlschema('t', true, false, '')", false},
      {"select cursor_to_xml('c', 1, true, false, '')", false},
      {"select database_to_xml(true, false, '')", false},
      {"select * from dblink('dbname=x', 'delete from t') as d(a int)", false},
      {"select dblink_exec('delete from t')", false},
      {"select ts_stat('select v from t')", false},
      {"select * from crosstab('select 1')", false},
      // The server's files.
      {"select pg_read_file('/etc/passwd')", false},
      {"select pg_read_binary_file('/etc/passwd')", false},
      {"select pg_ls_dir('/')", false},
      {"select pg_stat_file('/etc/passwd')", false},
      {"select lo_import('/etc/passwd')", false},
      {"select load_file('/etc/passwd')", false},
      {"select readfile('/etc/passwd')", false},
      // Other sessions, waits and the server itself.
      {"select pg_terminate_backend(pid) from pg_stat_activity", false},
      {"select pg_cancel_backend(1)", false},
      {"select * from pg_catalog.pg_stat_activity", false},
      {"select pg_stat_get_activity(null)", false},
      {"select * from pg_locks", false},
      {"select pg_sleep(60)", false},
      {"select pg_sleep_for('1 minute')", false},
      {"select sleep(60)", false},
      {"select benchmark(100000000, md5('x'))", false},
      {"select * from information_schema.processlist", false},
      {"select pg_create_physical_replication_slot('s', true)", false},
      {"select pg_create_logical_replication_slot('s', 'test_decoding')", false},
      {"select pg_notify('c', 'x')", false},
      // Words that only resemble them stay allowed.
      {"select nextvalue, sleeper, lock_count, forum, next_value from t", true},
      {"select a from t where b in (select c from u) order by 1 for_update", true},
      {"select a - 1, a / 2, a * 3 from t", true},
  };
  for (const Case& c : cases) EXPECT_EQ(isSingleSelect(c.statement), c.allowed) << c.statement;
}

TEST(RequestPolicy, DsnListedByTheServer) {
  unsetenv("VARKEL_CGI_DSNS");
  EXPECT_FALSE(requestDsnListed("shop"));  // unset: none
  setenv("VARKEL_CGI_DSNS", "shop, Sales ,,x", 1);
  EXPECT_TRUE(requestDsnListed("shop"));
  EXPECT_TRUE(requestDsnListed("sales"));
  EXPECT_TRUE(requestDsnListed("x"));
  EXPECT_FALSE(requestDsnListed("sho"));
  EXPECT_FALSE(requestDsnListed("shop2"));
  EXPECT_FALSE(requestDsnListed(""));
  EXPECT_FALSE(requestDsnListed(nullptr));
  setenv("VARKEL_CGI_DSNS", "", 1);
  EXPECT_FALSE(requestDsnListed("shop"));
  setenv("VARKEL_CGI_DSNS", "sales:reader, stock ,Audit : Auditor Two", 1);
  struct Case {
    const char* dsn;
    bool listed;
    const char* user;
  };
  const Case cases[] = {
      {"sales", true, "reader"},     {"SALES", true, "reader"}, {"stock", true, ""},
      {"audit", true, "Auditor Two"}, {"reader", false, ""},     {"sales:reader", false, ""},
  };
  for (const Case& c : cases) {
    std::string user = "unset";
    EXPECT_EQ(requestDsnUser(c.dsn, &user), c.listed) << c.dsn;
    EXPECT_EQ(requestDsnListed(c.dsn), c.listed) << c.dsn;
    if (c.listed) {
      EXPECT_EQ(user, c.user) << c.dsn;
    }
  }
  unsetenv("VARKEL_CGI_DSNS");
}

}  // namespace
