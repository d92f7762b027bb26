// The ODBC access layer against the real driver manager and the SQLite driver, with a private
// driver and DSN configuration and a database made for the tests.
#include <gtest/gtest.h>

#include <glob.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "varkel/cgifront.h"
#include "varkel/datasource.h"
#include "varkel/fieldsplit.h"
#include "varkel/input.h"
#include "varkel/odbc.h"
#include "varkel/odbcdump.h"
#include "varkel/options.h"
#include "varkel/workbuffers.h"

namespace {

// The SQLite ODBC driver as Debian installs it, on whatever architecture.
std::string driverPath() {
  glob_t found;
  std::string path;
  if (glob("/usr/lib/*/odbc/libsqlite3odbc.so", 0, nullptr, &found) == 0 && found.gl_pathc > 0)
    path = found.gl_pathv[0];
  globfree(&found);
  return path.empty() ? "libsqlite3odbc.so" : path;
}

class Odbc : public ::testing::Test {
 protected:
  static std::string dir;

  static void SetUpTestSuite() {
    char templ[] = "/tmp/odbc-test.XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir = templ;
    // The PostgreSQL and MariaDB entries are only read, never connected to.
    write("odbcinst.ini", "[SQLite3]\nDriver=" + driverPath() +
                              "\n[PostgreSQL Unicode]\nDriver=/usr/lib/x/odbc/psqlodbcw.so\n"
                              "[MariaDB]\nDriver=libmaodbc.so\n");
    write("odbc.ini", "[testdb]\nDriver=SQLite3\nDatabase=" + dir + "/t.db\n" +
                          "[pg]\nDriver=PostgreSQL Unicode\nServername=db\n"
                          "[pgpath]\nDriver=/opt/pg/psqlodbca.so\n"
                          "[pgfetch]\nDriver=PostgreSQL Unicode\nFetch=50\n"
                          "[pgheld]\nDriver=PostgreSQL Unicode\nUseDeclareFetch=0\n"
                          "[maria]\nDriver=MariaDB\n"
                          "[mariaheld]\nDriver=MariaDB\nNO_CACHE=0\n"
                          "[nodriver]\nDriver=Unlisted\n");
    std::string sql = "create table sales(region text, amount integer);";
    for (int i = 1; i <= 20; i++)
      sql += "insert into sales values('R" + std::to_string(i) + "'," +
             (i == 2 ? std::string("NULL") : std::to_string(i * 10)) + ");";
    sql += "create table \"My Table\"(x text); insert into \"My Table\" values('it''s');";
    write("setup.sql", sql);
    ASSERT_EQ(system(("sqlite3 " + dir + "/t.db < " + dir + "/setup.sql").c_str()), 0);
    setenv("ODBCSYSINI", dir.c_str(), 1);
    setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
  }

  static void TearDownTestSuite() {
    ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0);
  }

  static void write(const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name) << text;
  }

  static std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  void SetUp() override {
    dataType = odbcData;
    dataFileName = const_cast<char*>("testdb");
    odbcUser = odbcPassword = const_cast<char*>("");
    doDebug = 0;
  }

  // Every row of the statement, fields joined by '|'. The column count and names stay with
  // the process after its first fetch, so each statement runs in a child of its own; the
  // last line of the answer is the column count, then the column-name list.
  static std::vector<std::string> rowsOf(const char* statement, int* columnCount = nullptr,
                                         std::string* names = nullptr) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
      close(fds[0]);
      FILE* out = fdopen(fds[1], "w");
      ODBC_Open("testdb", "", "", statement);
      int columns = 0;
      while (ODBC_GetRecord(inputFields, maxInputFields, fieldSize, columns) == 0) {
        for (int c = 0; c < columns; c++) fprintf(out, c ? "|%s" : "%s", inputFields[c]);
        fputc('\n', out);
      }
      ODBC_Close();
      fprintf(out, "%d\n%s\n", columns, ODBC_GetColumnNames());
      fclose(out);
      _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) text.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << statement;
    std::vector<std::string> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    if (rows.size() < 2) return {};
    if (names) *names = rows.back();
    rows.pop_back();
    if (columnCount) *columnCount = std::stoi(rows.back());
    rows.pop_back();
    return rows;
  }

  // Runs dumpODBC in a child writing to a file and returns the file's text.
  std::string dump(bool all, const char* statement) {
    std::string out = dir + "/dump.txt";
    unlink(out.c_str());
    static char name[256];
    snprintf(name, sizeof name, "%s", out.c_str());
    EXPECT_EXIT(
        {
          outputFileName = name;
          odbcSelect = const_cast<char*>(statement);
          dumpODBC(all);
        },
        ::testing::ExitedWithCode(0), "^$");
    return read(out);
  }
};
std::string Odbc::dir;

TEST_F(Odbc, ReadsRowsColumnNamesAndNulls) {
  int columns = 0;
  std::string names;
  auto rows = rowsOf("select region, amount from sales where amount is null or amount < 40",
                     &columns, &names);
  EXPECT_EQ(columns, 2);
  EXPECT_EQ(rows, (std::vector<std::string>{"R1|10", "R2|", "R3|30"}));
  EXPECT_EQ(names, "region;amount");
}

TEST_F(Odbc, EveryPassRunsTheStatementAnew) {
  // Two passes in one process: the column names reach newDataFieldNames, and the second open
  // reads the whole result again. The child reports what it saw.
  EXPECT_EXIT(
      {
        for (int pass = 0; pass < 2; pass++) {
          ODBC_Open("testdb", "", "", "select region, amount from sales where amount < 40");
          int columns = 0;
          int rows = 0;
          while (ODBC_GetRecord(inputFields, maxInputFields, fieldSize, columns) == 0) rows++;
          ODBC_Close();
          fprintf(stderr, "pass %d: %d rows of %d columns\n", pass, rows, columns);
        }
        fprintf(stderr, "%s;%s\n", newDataFieldNames[0], newDataFieldNames[1]);
        exit(0);
      },
      ::testing::ExitedWithCode(0),
      "^pass 0: 2 rows of 2 columns\npass 1: 2 rows of 2 columns\nregion;amount\n$");
}

TEST_F(Odbc, LongValueKeepsWhatARecordLineKeeps) {
  // 300 characters, ending in a digit so that a cut shows where it fell.
  const char* statement = "select replace(hex(zeroblob(150)), '0', 'x') || '9', 'short'";
  std::string line(300, 'x');
  line += "9\tshort";
  extractInputFields(inputFields, line.c_str(), '\t');
  std::string fromLine = std::string(inputFields[0]) + "|" + inputFields[1];
  ASSERT_EQ(fromLine.size(), 255u + 6u);
  EXPECT_EQ(rowsOf(statement), (std::vector<std::string>{fromLine}));
}

TEST_F(Odbc, RequestConnectionWritesNothing) {
  // A web request's connection is query-only: the engine itself refuses a write that got
  // past the word check.
  EXPECT_EXIT(
      {
        isCGI = 1;
        ODBC_Open("testdb", "", "", "delete from sales where region = 'R1'");
        ODBC_Close();
        exit(0);
      },
      ::testing::ExitedWithCode(108), "readonly database");
  EXPECT_EQ(rowsOf("select count(*) from sales"), (std::vector<std::string>{"20"}));
}

TEST_F(Odbc, TableNameQuotesRestored) {
  EXPECT_EQ(rowsOf("select x FROM  'My Table'"), (std::vector<std::string>{"it's"}));
  // The debug lines go through msg: to standard error outside CGI mode.
  EXPECT_EXIT(
      {
        doDebug = 1;
        ODBC_Open("testdb", "", "", "select x from 'My Table'");
        exit(0);
      },
      ::testing::ExitedWithCode(0),
      "^<p>Converting single quotes to double around table name.</p>\n"
      "<p>New SQL cmd is: select x from \"My Table\"</p>$");
}

TEST_F(Odbc, DumpListsFirstOrAllRows) {
  std::string first = dump(false, "select region, amount from sales");
  std::string want = "region\tamount\n";
  for (int i = 1; i <= 15; i++)
    want += "R" + std::to_string(i) + "\t" + (i == 2 ? "" : std::to_string(i * 10)) + "\n";
  EXPECT_EQ(first, want);
  std::string all = dump(true, "select region, amount from sales");
  for (int i = 16; i <= 20; i++) want += "R" + std::to_string(i) + "\t" + std::to_string(i * 10) + "\n";
  EXPECT_EQ(all, want);
  EXPECT_EQ(dump(true, "select region from sales where amount > 1000"), "");
}

TEST_F(Odbc, Failures) {
  struct Case {
    const char* dsn;
    const char* statement;
    const char* message;
  };
  const Case cases[] = {
      {"testdb", "select * from nope",
       "^ODBC Error -1: SQLSTATE = S1000, \\[SQLite\\]no such table: nope \\(1\\)\n"
       "Error 108: SQLExecDirect\\([0-9a-f]+, \"select \\* from nope\", SQL_NTS\\) failed with -1\n$"},
      {"nodsn", "select 1",
       "^ODBC Error -1: SQLSTATE = IM002, \\[unixODBC\\]\\[Driver Manager\\]Data source name not "
       "found and no default driver specified\n"
       "Error 108: SQLConnect failed with dsn='nodsn' username='' password='' command='select 1'\n$"},
      {"testdb", "delete from sales where 1 = 0", "^Error 108: ODBC table has zero columns\\.\n$"},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          dataFileName = const_cast<char*>(c.dsn);
          odbcSelect = const_cast<char*>(c.statement);
          dumpODBC(true);
        },
        ::testing::ExitedWithCode(108), c.message)
        << c.statement;
  }
}

TEST_F(Odbc, RowsOfManyBlocksKeepOrderNullsAndCuts) {
  // More rows than one block holds; NULLs, long values and the empty date among them read as
  // they do one row at a time.
  const char* statement =
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < 2500) "
      "select i, case when i % 5 = 0 then null else 'v' || i end, "
      "case when i % 7 = 0 then substr(replace(hex(zeroblob(200)), '0', 'ab'), 1, 300) "
      "when i % 11 = 0 then '0/0/00' else '' end from n";
  std::vector<std::string> rows = rowsOf(statement);
  ASSERT_EQ(rows.size(), 2500u);
  std::string cut;
  for (int i = 0; i < 255; i++) cut += i % 2 ? 'b' : 'a';
  for (int i = 1; i <= 2500; i++) {
    std::string want = std::to_string(i) + "|" + (i % 5 == 0 ? "" : "v" + std::to_string(i)) +
                       "|" + (i % 7 == 0 ? cut : "");
    ASSERT_EQ(rows[size_t(i - 1)], want) << i;
  }
}

TEST_F(Odbc, AMaskFillsOnlyTheColumnsItMarks) {
  // The builder's keyed pass reads some columns only: the others keep what they held.
  EXPECT_EXIT(
      {
        static unsigned char need[maxInputFields];
        need[1] = 1;
        int columns = 0;
        ODBC_Open("testdb", "", "", "select region, amount from sales where amount is null or amount < 40");
        snprintf(inputFields[0], fieldSize, "kept");
        std::string seen;
        while (ODBC_GetRecord(inputFields, maxInputFields, fieldSize, columns, need) == 0)
          seen += std::string(inputFields[0]) + "|" + inputFields[1] + ";";
        ODBC_Close();
        fprintf(stderr, "%s\n", seen.c_str());
        exit(0);
      },
      ::testing::ExitedWithCode(0), "^kept\\|10;kept\\|;kept\\|30;\n$");
}

// Against a database server, when its ODBC suite names a DSN and a statement of rows of three
// equal numbers counting from 1 in the environment; skipped everywhere else.
TEST(OdbcServer, ColumnsAPassComesToNeedInTheMiddleOfABlockAreRead) {
  const char* dsn = getenv("VARKEL_TEST_DSN");
  const char* statement = getenv("VARKEL_TEST_STATEMENT");
  if (!dsn || !statement) GTEST_SKIP() << "no database server named";
  // One column, then all (in the middle of the second block), then the last one alone.
  EXPECT_EXIT(
      {
        static unsigned char first[maxInputFields];
        static unsigned char last[maxInputFields];
        first[0] = last[2] = 1;
        ODBC_Open(dsn, getenv("VARKEL_TEST_USER"), getenv("VARKEL_TEST_PASSWORD"), statement);
        int columns = 0;
        long n = 0;
        std::string wrong;
        for (;;) {
          const unsigned char* need = n < 500 ? first : n < 1000 ? nullptr : last;
          if (ODBC_GetRecord(inputFields, maxInputFields, fieldSize, columns, need) != 0) break;
          std::string want = std::to_string(++n);
          for (int c = 0; c < 3; c++)
            if ((!need || need[c]) && want != inputFields[c])
              wrong += " row " + want + " column " + std::to_string(c + 1) + ": " + inputFields[c];
        }
        ODBC_Close();
        fprintf(stderr, "%ld rows%s\n", n, wrong.c_str());
        exit(0);
      },
      ::testing::ExitedWithCode(0), "^3000 rows\n$");
}

TEST_F(Odbc, FailedColumnReadIsNoEndOfData) {
  // The column count stays from the first statement of the run; a second statement with
  // fewer columns makes the read of the missing column fail.
  EXPECT_EXIT(
      {
        int columns = 0;
        ODBC_Open("testdb", "", "", "select region, amount from sales");
        ODBC_GetRecord(inputFields, maxInputFields, fieldSize, columns);
        ODBC_Close();
        ODBC_Open("testdb", "", "", "select region from sales");
        ODBC_GetRecord(inputFields, maxInputFields, fieldSize, columns);
        exit(0);
      },
      ::testing::ExitedWithCode(108),
      "^ODBC Error -1: SQLSTATE = S1002, \\[SQLite\\]invalid column\n"
      "Error 108: SQLGetData failed with -1 for column 2\n$");
}

TEST_F(Odbc, TooManyColumns) {
  std::string wide = "select 0";
  for (int i = 1; i < 513; i++) wide += "," + std::to_string(i);
  EXPECT_EXIT(
      {
        int columns = 0;
        ODBC_Open("testdb", "", "", wide.c_str());
        ODBC_GetRecord(inputFields, maxInputFields, fieldSize, columns);
        exit(0);
      },
      ::testing::ExitedWithCode(108),
      "^Error 108: ODBC result has 513 columns; at most 512 can be read\\.\n$");
  wide.resize(wide.rfind(','));
  int columns = 0;
  EXPECT_EQ(rowsOf(wide.c_str(), &columns).size(), 1u);
  EXPECT_EQ(columns, 512);
}

TEST(OdbcConnectionString, ValuesQuotedWhereTheyMustBe) {
  struct Case {
    const char* value;
    const char* quoted;
  };
  const Case cases[] = {
      {"reader", "reader"},      {"o'k\"%+!", "o'k\"%+!"}, {"a;b", "{a;b}"},
      {"p}w", "{p}}w}"},         {"}}", "{}}}}}"},       {"{x", "{{x}"},
      {"a=b", "{a=b}"},          {" pad", "{ pad}"},     {"pad\t", "{pad\t}"},
      {"", "{}"},                {"in side", "in side"},
  };
  for (const Case& c : cases) EXPECT_EQ(connectionValue(c.value), c.quoted) << c.value;
}

TEST_F(Odbc, StreamingAskedOfTheDriversThatCan) {
  std::string fetch = ";Fetch=" + std::to_string(streamFetchRows);
  struct Case {
    const char *dsn, *user, *password;
    std::string connection;
  };
  const Case cases[] = {
      {"pg", "u", "p;w", "DSN=pg;UID=u;PWD={p;w};UseDeclareFetch=1" + fetch},
      {"pgpath", "", "", "DSN=pgpath;UseDeclareFetch=1" + fetch},
      {"pgfetch", "", "x}", "DSN=pgfetch;PWD={x}}};UseDeclareFetch=1"},
      {"maria", "u", "", "DSN=maria;UID=u;NO_CACHE=1"},
      // The DSN's own say, another driver, an unknown one, no DSN: SQLConnect as ever.
      {"pgheld", "u", "p", ""},
      {"mariaheld", "u", "p", ""},
      {"testdb", "u", "p", ""},
      {"nodriver", "u", "p", ""},
      {"nosuch", "u", "p", ""},
      // Blanks at the ends, which a driver's parser may drop: SQLConnect keeps them.
      {"pg", "u", " p", ""},
      {"maria", "u ", "p", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(streamingConnection(c.dsn, c.user, c.password), c.connection) << c.dsn;
}

TEST_F(Odbc, CloseTwiceAndErrorAfterClose) {
  ODBC_Open("testdb", "", "", "select region, amount from sales");
  ODBC_Close();
  ODBC_Close();
  EXPECT_EQ(ODBC_Error(0), 0);
  EXPECT_EQ(sql_check(100, "SQLFetch", __FILE__, __LINE__), 100);
  testing::internal::CaptureStderr();
  EXPECT_EQ(sql_check(-1, "SQLFetch", __FILE__, __LINE__), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ODBC Error -1: SQLSTATE = , \n");
}

}  // namespace
