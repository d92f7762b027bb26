// The least an ODBC client can do with a result: odbcread CONNECTION STATEMENT runs the
// statement and fetches every row in blocks into bound character columns, as the builder
// does, and does nothing with them. Its time is the driver's share of a build's read.
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: odbcread CONNECTION STATEMENT\n");
    return 2;
  }
  const SQLULEN rows = 64;
  const SQLLEN width = 256;
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;
  SQLSMALLINT length = 0, columns = 0;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)) ||
      !SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0)) ||
      !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)) ||
      !SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)argv[1], SQL_NTS, nullptr, 0,
                                      &length, SQL_DRIVER_NOPROMPT)) ||
      !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st)) ||
      !SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)argv[2], SQL_NTS)) ||
      !SQL_SUCCEEDED(SQLNumResultCols(st, &columns)) || columns < 1) {
    fprintf(stderr, "odbcread: connecting or running the statement failed\n");
    return 1;
  }
  std::vector<char> values(size_t(columns) * rows * width);
  std::vector<SQLLEN> lengths(size_t(columns) * rows);
  SQLULEN fetched = 0;
  SQLSetStmtAttr(st, SQL_ATTR_ROW_BIND_TYPE, (SQLPOINTER)SQL_BIND_BY_COLUMN, 0);
  SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)rows, 0);
  SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  for (SQLSMALLINT c = 0; c < columns; c++)
    SQLBindCol(st, SQLUSMALLINT(c + 1), SQL_C_CHAR, &values[size_t(c) * rows * width], width,
               &lengths[size_t(c) * rows]);
  unsigned long total = 0;
  SQLRETURN rc;
  while (SQL_SUCCEEDED(rc = SQLFetch(st))) total += fetched;
  if (rc != SQL_NO_DATA) {
    fprintf(stderr, "odbcread: a fetch failed\n");
    return 1;
  }
  printf("%lu rows\n", total);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return 0;
}
