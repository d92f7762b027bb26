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
  unsetenv("VARKEL_CGI_DSNS");
}

}  // namespace
