// The ODBC access layer over the platform's driver manager (ODBC 2.x calls) and the credential
// scrambling of the viewer page. Left out of builds without ODBC.
#ifdef HAVE_ODBC

#include "varkel/odbc.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "common/messagetext.h"
#include "common/textutil.h"
#include "common/util.h"
#include "varkel/cgifront.h"
#include "varkel/datasource.h"
#include "varkel/input.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/report.h"
#include "varkel/requestlimits.h"
#include "varkel/requestpolicy.h"
#include "varkel/workbuffers.h"

const char credentialKey[51] =
    "\xb7\xe3\x91\xc4\x8a\xf2\x9d\xa6\xd8\x83\xbe\xe9\x94\xcf\xa1\xfb\x88\xd3\x9a\xc6"
    "\xb2\xed\x85\xf7\xa9\xdc\x90\xc1\xbb\xe4\x8e\xd5\xa3\xf9\x97\xca\x81\xee\xb4\xd0"
    "\x8c\xfd\x9f\xc8\xa7\xe1\x86\xdb\xb9\xf4";

int dbEncrypt(char* text, const char* key) {
  if (!text || !key) return -1;
  size_t length = strlen(text), keyLength = strlen(key);
  if (keyLength == 0) return 0;
  for (size_t i = 0; i < length; i++) text[i] = (char)(text[i] ^ key[i % keyLength]);
  return 0;
}

int dbDecrypt(char* text, const char* key) { return dbEncrypt(text, key); }

// The handles of the one open connection; null when none is open.
static SQLHENV henv = SQL_NULL_HENV;
static SQLHDBC hdbc = SQL_NULL_HDBC;
// The connection's driver is psqlODBC, which reads a column of a block's row it did not bind.
static bool unboundReadable = false;
static SQLHSTMT hstmt = SQL_NULL_HSTMT;
// The open connection is a web request's: what its statement changed is rolled back.
static bool rollbackOnClose = false;
// Columns of the result, 0 until the first fetch; kept for the rest of the run, like the
// ";"-joined list of their names.
static SQLSMALLINT numColumns = 0;
static std::string columnNames;

// The database engine of the open connection, known in CGI mode only.
enum EngineKind { otherEngine, postgresEngine, mariadbEngine, sqliteEngine };
static EngineKind engineKind = otherEngine;

// The most columns a record can take (rows 0 to 511).
static const int maxOdbcColumns = 512;

int ODBC_Error(int code) {
  if (code == 0) return code;
  SQLCHAR state[16] = "";
  SQLCHAR text[256] = "";
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLError(henv, hdbc, hstmt, state, &native, text, sizeof text, &length);
  logMessage("ODBC Error %d: SQLSTATE = %s, %s\n", code, (char*)state, (char*)text);
  if (isCGI) {
    // A call cut short by the watchdog, or one the request's memory could not hold, ends
    // the request as such, not as a failure of the database.
    if (requestTimedOut()) {
      ODBC_Close();
      endTimedOutRequest();
    }
    std::string said = (char*)text;
    for (char& c : said) c = (char)tolower((unsigned char)c);
    // SQLite's driver says only its engine's code for it (SQLITE_NOMEM), MariaDB's client
    // its own (CR_OUT_OF_MEMORY), libpq a text.
    bool noMemory = strcmp((char*)state, "HY001") == 0 ||
                    said.find("out of memory") != std::string::npos ||
                    (engineKind == sqliteEngine && native == 7) ||
                    (engineKind == mariadbEngine && native == 2008);
    if (code == SQL_ERROR && noMemory) fatal(100, "Out of memory.\n");
  }
  return code;
}

int sql_check(int code, const char* callText, const char* sourceFile, int line) {
  (void)callText;
  (void)sourceFile;
  (void)line;
  if (code == SQL_SUCCESS || code == SQL_NO_DATA_FOUND) return code;
  return ODBC_Error(code);
}

static bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Gives a single-quoted table name after the first "from " its double quotes back (the
// data-source parser turned every double quote into a single one).
static void quoteTableName(std::string& statement) {
  std::string lower = statement;
  for (char& c : lower) c = (char)tolower((unsigned char)c);
  size_t from = lower.find("from ");
  if (from == std::string::npos) return;
  if (doDebug) msg("<p>Converting single quotes to double around table name.</p>\n");
  size_t p = from + 5;
  while (p < statement.size() && isspace((unsigned char)statement[p])) p++;
  if (p < statement.size() && statement[p] == '\'') {
    statement[p] = '"';
    size_t close = statement.find('\'', p + 1);
    if (close != std::string::npos) statement[close] = '"';
  }
  if (doDebug) msg("<p>New SQL cmd is: %s</p>", statement.c_str());
}

// Cancels the running statement on the database server; the watchdog's hook.
static void cancelStatement() {
  if (hstmt != SQL_NULL_HSTMT) SQLCancel(hstmt);
}

// Runs one statement of the connection's set-up on a statement handle of its own; with
// value, the first column of its first row comes back there. False when it fails (its
// error written).
static bool runSetUp(const char* sql, std::string* value) {
  SQLHSTMT own = SQL_NULL_HSTMT;
  if (!succeeded(SQLAllocStmt(hdbc, &own))) return false;
  std::swap(own, hstmt);  // so that ODBC_Error reads this statement's error
  SQLRETURN rc = SQLExecDirect(hstmt, (SQLCHAR*)sql, SQL_NTS);
  bool done = succeeded(rc);
  if (!done) ODBC_Error(rc);
  if (done && value) {
    char text[64] = "";
    SQLLEN indicator = 0;
    done = succeeded(SQLFetch(hstmt)) &&
           succeeded(SQLGetData(hstmt, 1, SQL_C_CHAR, text, sizeof text, &indicator)) &&
           indicator != SQL_NULL_DATA;
    *value = done ? text : "";
  }
  std::swap(own, hstmt);
  SQLFreeStmt(own, SQL_DROP);
  return done;
}

// Holds a web request's connection to reading, by the engine itself and in a way its
// statement cannot undo (the word check keeps SET, set_config and ';' out of it):
// PostgreSQL and MariaDB make every transaction of the session read-only, SQLite's
// connection becomes query-only. The statement then runs in a transaction that is never
// committed (ODBC_Close rolls it back), and the engine's own statement timeout stands
// behind the watchdog. An engine that cannot be so held refuses the request.
static void holdToReading() {
  char name[128] = "";
  SQLSMALLINT length = 0;
  SQLGetInfo(hdbc, SQL_DBMS_NAME, name, sizeof name, &length);
  std::string engine = name;
  for (char& c : engine) c = (char)tolower((unsigned char)c);
  // A few seconds past the watchdog's cancel: it ends the statement of a request whose
  // process was killed, and leaves the watchdog to end every other.
  std::string timeout = std::to_string(requestTimeLimit() + 5);
  std::string readOnly;
  const char* check = nullptr;
  const char* wanted = nullptr;
  bool held = false;
  engineKind = otherEngine;
  if (engine.find("postgres") != std::string::npos) {
    engineKind = postgresEngine;
    held = runSetUp("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY", nullptr) &&
           runSetUp(("SET statement_timeout = " + timeout + "000").c_str(), nullptr);
    check = "SHOW transaction_read_only";
    wanted = "on";
  } else if (engine.find("mariadb") != std::string::npos ||
             engine.find("mysql") != std::string::npos) {
    engineKind = mariadbEngine;
    held = runSetUp("SET SESSION TRANSACTION READ ONLY", nullptr);
    // MariaDB's name for the statement timeout; MySQL has another, and the watchdog.
    runSetUp(("SET SESSION max_statement_time = " + timeout).c_str(), nullptr);
    check = "SELECT @@SESSION.tx_read_only";
    wanted = "1";
  } else if (engine.find("sqlite") != std::string::npos) {
    engineKind = sqliteEngine;
    held = runSetUp("PRAGMA query_only = 1", nullptr);
    check = "PRAGMA query_only";
    wanted = "1";
  }
  SQLRETURN rc = SQLSetConnectAttr(hdbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0);
  if (!succeeded(rc)) {
    ODBC_Error(rc);
    fatal(108, "SQLSetConnectAttr(SQL_ATTR_AUTOCOMMIT) failed with %d\n", (int)rc);
  }
  rollbackOnClose = true;
  // Read back inside the transaction the statement will run in.
  if (held && check) held = runSetUp(check, &readOnly) && readOnly == wanted;
  if (!held) {
    logMessage("The ODBC data source '%s' (%s) cannot be made read-only.\n", dataFileName, name);
    ODBC_Close();
    refuseRequest(
        "<p><b>This ODBC data source cannot be held to reading for web requests.</b></p>\n");
  }
}

// The value of key in the section of ini ("odbc.ini" or "odbcinst.ini", where the driver
// manager finds them); false when the section has no such key.
static bool iniValue(const char* section, const char* key, const char* ini, std::string& value) {
  // A default no entry can hold tells a missing key from an empty one.
  static const char absent[] = "\x01";
  char text[1024] = "";
  SQLGetPrivateProfileString(section, key, absent, text, sizeof text, ini);
  value = text;
  return value != absent;
}

// The DSN's entry names any of keys.
static bool dsnSets(const char* dsn, std::initializer_list<const char*> keys) {
  std::string ignored;
  for (const char* key : keys)
    if (iniValue(dsn, key, "odbc.ini", ignored)) return true;
  return false;
}

// The file name of the driver library the DSN's entry names, directly or through the
// driver's own entry; empty when neither says.
static std::string driverLibrary(const char* dsn) {
  std::string driver, library;
  if (!iniValue(dsn, "Driver", "odbc.ini", driver) || driver.empty()) return "";
  if (driver.find('/') != std::string::npos)
    library = driver;
  else if (!iniValue(driver.c_str(), "Driver", "odbcinst.ini", library))
    return "";
  size_t slash = library.rfind('/');
  return slash == std::string::npos ? library : library.substr(slash + 1);
}

// A blank at either end of value, which some drivers' parsers drop even inside braces.
static bool blankAtEnd(const char* value) {
  size_t length = strlen(value);
  return length > 0 &&
         (isspace((unsigned char)value[0]) || isspace((unsigned char)value[length - 1]));
}

std::string connectionValue(const std::string& value) {
  bool plain = !value.empty() && value.find_first_of(";{}=") == std::string::npos &&
               !blankAtEnd(value.c_str());
  if (plain) return value;
  std::string quoted = "{";
  for (char c : value) {
    quoted += c;
    if (c == '}') quoted += '}';
  }
  return quoted + "}";
}

static bool isPsqlodbc(const std::string& library) {
  return library.find("psqlodbc") != std::string::npos;
}

std::string streamingConnection(const char* dsn, const char* user, const char* password) {
  std::string library = driverLibrary(dsn), settings;
  // The result is read once from start to end, so the driver need not hold it: psqlODBC
  // reads it through a cursor, a block of rows a time (rows enough to keep the round trips
  // few, few enough to stay small), MariaDB's driver row by row from the server. A DSN that
  // says how to read is left to say so.
  if (isPsqlodbc(library)) {
    if (!dsnSets(dsn, {"UseDeclareFetch", "B6"})) {
      settings = "UseDeclareFetch=1";
      if (!dsnSets(dsn, {"Fetch", "A7"})) settings += ";Fetch=" + std::to_string(streamFetchRows);
    }
  } else if (library.find("maodbc") != std::string::npos) {
    if (!dsnSets(dsn, {"NO_CACHE", "STREAMRS"})) settings = "NO_CACHE=1";
  }
  if (settings.empty() || blankAtEnd(dsn) || blankAtEnd(user) || blankAtEnd(password)) return "";
  // An empty user name or password leaves the DSN's own, as SQLConnect does.
  std::string text = "DSN=" + connectionValue(dsn);
  if (user[0]) text += ";UID=" + connectionValue(user);
  if (password[0]) text += ";PWD=" + connectionValue(password);
  return text + ";" + settings;
}

int ODBC_Open(const char* dsn, const char* user, const char* password, const char* command) {
  SQLRETURN rc = SQLAllocEnv(&henv);
  if (henv == SQL_NULL_HENV) fatal(-1, "SQLAllocEnv failed with %d\n", (int)rc);
  rc = SQLAllocConnect(henv, &hdbc);
  if (hdbc == SQL_NULL_HDBC) fatal(-1, "SQLAllocConnect failed with %d\n", (int)rc);

  // A web request's statement reads; the driver is asked to hold the connection to that
  // (most take it as a hint only), and the engine itself is held to it below.
  if (isCGI) {
    rc = SQLSetConnectAttr(hdbc, SQL_ATTR_ACCESS_MODE, (SQLPOINTER)SQL_MODE_READ_ONLY, 0);
    if (!succeeded(rc)) {
      ODBC_Error(rc);
      fatal(108, "SQLSetConnectAttr(SQL_ATTR_ACCESS_MODE) failed with %d\n", (int)rc);
    }
  }
  unboundReadable = isPsqlodbc(driverLibrary(dsn));
  std::string streaming = streamingConnection(dsn, user, password);
  if (streaming.empty()) {
    rc = SQLConnect(hdbc, (SQLCHAR*)dsn, (SQLSMALLINT)strlen(dsn), (SQLCHAR*)user,
                    (SQLSMALLINT)strlen(user), (SQLCHAR*)password, (SQLSMALLINT)strlen(password));
  } else {
    SQLSMALLINT length = 0;
    rc = SQLDriverConnect(hdbc, nullptr, (SQLCHAR*)streaming.c_str(), SQL_NTS, nullptr, 0,
                          &length, SQL_DRIVER_NOPROMPT);
  }
  if (rc != SQL_SUCCESS) ODBC_Error(rc);
  if (!succeeded(rc))
    fatal(108, "SQLConnect failed with dsn='%s' username='%s' password='%s' command='%s'\n", dsn,
          user, password, command);
  if (isCGI) holdToReading();

  SQLAllocStmt(hdbc, &hstmt);
  if (isCGI) setRequestCancel(cancelStatement);

  std::string statement = command;
  quoteTableName(statement);
  rc = SQLExecDirect(hstmt, (SQLCHAR*)statement.c_str(), SQL_NTS);
  if (rc != SQL_SUCCESS) ODBC_Error(rc);
  if (!succeeded(rc))
    fatal(108, "SQLExecDirect(%0lx, \"%s\", SQL_NTS) failed with %d\n",
          (unsigned long)(uintptr_t)hstmt, statement.c_str(), (int)rc);
  return 0;
}

// Reads the result's column count and names on the first fetch of the run.
static void describeColumns() {
  SQLRETURN rc = SQLNumResultCols(hstmt, &numColumns);
  if (!succeeded(rc)) {
    ODBC_Error(rc);
    fatal(108, "SQLNumResultCols failed with %d\n", (int)rc);
  }
  if (numColumns > maxOdbcColumns)
    fatal(108, "ODBC result has %d columns; at most %d can be read.\n", (int)numColumns,
          maxOdbcColumns);
  columnNames.clear();
  for (SQLUSMALLINT c = 1; c <= (SQLUSMALLINT)numColumns; c++) {
    SQLCHAR name[256] = "";
    SQLSMALLINT nameLength = 0, type = 0, scale = 0, nullable = 0;
    SQLULEN size = 0;
    rc = SQLDescribeCol(hstmt, c, name, 255, &nameLength, &type, &size, &scale, &nullable);
    if (!succeeded(rc)) {
      ODBC_Error(rc);
      fatal(108, "SQLDescribeCol failed with %d for column %d\n", (int)rc, (int)c);
    }
    if (!columnNames.empty()) columnNames += ";";
    columnNames += (char*)name;
    snprintf(newDataFieldNames[c - 1], fieldSize, "%s", (char*)name);
  }
}

// Rows are fetched in blocks into bound column buffers: a column's values lie one after
// another, each fieldSize bytes, its indicators beside them. A driver that takes no row
// array (or no binding) is read row by row with SQLGetData instead; both give each value
// the same bytes.
namespace {
// At most this many bytes of buffers, and this many rows, per block: a block the size of a
// core's own cache is read back from it, where a larger one goes out to memory and back.
const size_t blockBytes = size_t(256) << 10;
const SQLULEN blockRows = 1024;
enum FetchMode { undecided, byBlock, byRow } fetchMode = undecided;
std::string blockValues;          // columns x rowsPerBlock x fieldSize bytes
std::string blockLengths;         // columns x rowsPerBlock SQLLEN
std::string blockStatus;          // rowsPerBlock SQLUSMALLINT
SQLULEN rowsPerBlock = 0, rowsInBlock = 0, nextRow = 0;
int boundColumns = 0, boundSize = 0;
// A driver that reads a column of a block's row it did not bind is asked for the columns the
// pass reads alone: it converts no value nobody reads. columnBound says which columns the
// current block holds; another that the pass comes to need in the middle of a block is read
// from the row itself. Only psqlODBC is trusted with that (unboundReadable): MariaDB's
// driver says it can (SQL_GD_BLOCK), yet reads the block's first row for every row, and its
// next fetch finds the result at its end.
bool partialBinding = false;
std::vector<unsigned char> columnBound;
SQLULEN positionedRow = 0;  // the block's row SQLSetPos last stood on, plus one; 0 none

SQLLEN* lengthsOf(int column) {
  return reinterpret_cast<SQLLEN*>(&blockLengths[0]) + size_t(column) * rowsPerBlock;
}
char* valueOf(int column, SQLULEN row) {
  return &blockValues[(size_t(column) * rowsPerBlock + row) * size_t(boundSize)];
}

// Binds the first columns columns for blocks of rows of fieldSize-byte values; false
// (and the statement as it was) when the driver takes no row array.
bool bindBlocks(int columns, int fieldSize) {
  // The column count is the run's first statement's; another statement of the run may
  // have fewer, whose reads fail as SQLGetData reports them.
  SQLSMALLINT here = 0;
  if (columns <= 0 || !succeeded(SQLNumResultCols(hstmt, &here)) || here != columns) return false;
  SQLULEN rows = blockBytes / (size_t(columns) * size_t(fieldSize));
  if (rows > blockRows) rows = blockRows;
  if (rows < 2) return false;
  if (!succeeded(SQLSetStmtAttr(hstmt, SQL_ATTR_ROW_BIND_TYPE, (SQLPOINTER)SQL_BIND_BY_COLUMN, 0)) ||
      !succeeded(SQLSetStmtAttr(hstmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)rows, 0)))
    return false;
  // A driver may take fewer rows than asked (SQL_SUCCESS_WITH_INFO): use what it took.
  SQLULEN taken = 0;
  if (!succeeded(SQLGetStmtAttr(hstmt, SQL_ATTR_ROW_ARRAY_SIZE, &taken, 0, nullptr)) || taken < 1 ||
      taken > rows) {
    SQLSetStmtAttr(hstmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)1, 0);
    return false;
  }
  rowsPerBlock = taken;
  boundColumns = columns;
  boundSize = fieldSize;
  blockValues.assign(size_t(columns) * rowsPerBlock * size_t(fieldSize), '\0');
  blockLengths.assign(size_t(columns) * rowsPerBlock * sizeof(SQLLEN), '\0');
  blockStatus.assign(rowsPerBlock * sizeof(SQLUSMALLINT), '\0');
  bool bound =
      succeeded(SQLSetStmtAttr(hstmt, SQL_ATTR_ROWS_FETCHED_PTR, &rowsInBlock, 0)) &&
      succeeded(SQLSetStmtAttr(hstmt, SQL_ATTR_ROW_STATUS_PTR, &blockStatus[0], 0));
  for (int c = 0; bound && c < columns; c++)
    bound = succeeded(SQLBindCol(hstmt, (SQLUSMALLINT)(c + 1), SQL_C_CHAR, valueOf(c, 0),
                                 fieldSize, lengthsOf(c)));
  if (!bound) {
    SQLFreeStmt(hstmt, SQL_UNBIND);
    SQLSetStmtAttr(hstmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    SQLSetStmtAttr(hstmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttr(hstmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)1, 0);
    return false;
  }
  SQLUINTEGER getData = 0;
  partialBinding = unboundReadable &&
                   succeeded(SQLGetInfo(hdbc, SQL_GETDATA_EXTENSIONS, &getData, sizeof getData,
                                        nullptr)) &&
                   (getData & SQL_GD_BLOCK) && (getData & SQL_GD_ANY_COLUMN);
  columnBound.assign(size_t(columns), 1);
  return true;
}

// One value as a record's field: a NULL empty, cut to fieldSize - 1 characters, and the
// empty date "0/0/00" empty.
void clearEmptyDate(char* row) {
  if (row[0] == '0' && strcmp(row, "0/0/00") == 0) row[0] = '\0';
}
void finishValue(char* row, int fieldSize, bool null) {
  if (null) row[0] = '\0';
  row[fieldSize - 1] = '\0';
  clearEmptyDate(row);
}

// Column c (from 0) of the current row into row by SQLGetData.
void getColumn(int c, char* row, int fieldSize) {
  row[0] = '\0';
  SQLLEN indicator = 0;
  // The whole row is the buffer: a long value keeps 255 characters, as a record line's
  // field does, so a cube built from a table equals the one built from its text file.
  SQLRETURN rc = SQLGetData(hstmt, (SQLUSMALLINT)(c + 1), SQL_C_CHAR, row, fieldSize, &indicator);
  if (!succeeded(rc) && rc != SQL_NO_DATA_FOUND) {
    ODBC_Error(rc);
    fatal(108, "SQLGetData failed with %d for column %d\n", (int)rc, c + 1);
  }
  finishValue(row, fieldSize, indicator == SQL_NULL_DATA || rc == SQL_NO_DATA_FOUND);
}

// The next row by SQLGetData; 0, or -1 at the end.
int fetchRow(char rows[][256], int readable, int fieldSize) {
  SQLRETURN rc = SQLFetch(hstmt);
  if (rc == SQL_NO_DATA_FOUND) return -1;
  if (!succeeded(rc)) {
    // A failing fetch must not look like the end of a shorter result.
    ODBC_Error(rc);
    fatal(108, "SQLFetch failed with %d\n", (int)rc);
  }
  for (int c = 0; c < readable; c++) getColumn(c, rows[c], fieldSize);
  return 0;
}

// Binds, for the next block, the columns need marks (every column without a mask) and no
// others. A column whose binding the driver refuses stays as it was.
void bindNeeded(const unsigned char* need, int readable) {
  for (int c = 0; c < readable; c++) {
    unsigned char wanted = !need || need[c];
    if (wanted == columnBound[size_t(c)]) continue;
    SQLRETURN rc = wanted ? SQLBindCol(hstmt, (SQLUSMALLINT)(c + 1), SQL_C_CHAR, valueOf(c, 0),
                                       boundSize, lengthsOf(c))
                          : SQLBindCol(hstmt, (SQLUSMALLINT)(c + 1), SQL_C_CHAR, nullptr, 0,
                                       nullptr);
    if (succeeded(rc)) columnBound[size_t(c)] = wanted;
  }
}

// Column c of the block's row r, which the block does not hold, read from the row itself.
void readUnbound(SQLULEN r, int c, char* row, int fieldSize) {
  if (positionedRow != r + 1) {
    SQLRETURN rc = SQLSetPos(hstmt, (SQLSETPOSIROW)(r + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE);
    if (!succeeded(rc)) {
      ODBC_Error(rc);
      fatal(108, "SQLSetPos failed with %d\n", (int)rc);
    }
    positionedRow = r + 1;
  }
  getColumn(c, row, fieldSize);
}

// The next row from the current block, fetching the next block when it is used up; 0, or
// -1 at the end.
int blockRow(char rows[][256], int readable, int fieldSize, const unsigned char* need) {
  while (nextRow >= rowsInBlock) {
    rowsInBlock = nextRow = 0;
    positionedRow = 0;
    if (partialBinding) bindNeeded(need, readable);
    SQLRETURN rc = SQLFetch(hstmt);
    if (rc == SQL_NO_DATA_FOUND) return -1;
    if (!succeeded(rc)) {
      ODBC_Error(rc);
      fatal(108, "SQLFetch failed with %d\n", (int)rc);
    }
  }
  SQLULEN r = nextRow++;
  SQLUSMALLINT status = reinterpret_cast<SQLUSMALLINT*>(&blockStatus[0])[r];
  if (status == SQL_ROW_ERROR) {
    ODBC_Error(SQL_ERROR);
    fatal(108, "SQLFetch failed with %d\n", (int)SQL_ERROR);
  }
  for (int c = 0; c < readable; c++) {
    if (need && !need[c]) continue;
    if (!columnBound[size_t(c)]) {
      readUnbound(r, c, rows[c], fieldSize);
      continue;
    }
    // Only the value's own bytes move: the driver gave its length, or no length it knew
    // (then the whole buffer, which it terminated).
    SQLLEN length = lengthsOf(c)[r];
    char* row = rows[c];
    if (length == SQL_NULL_DATA) {
      row[0] = '\0';
      continue;
    }
    size_t size = length >= 0 && length < fieldSize ? size_t(length) : size_t(fieldSize - 1);
    memcpy(row, valueOf(c, r), size);
    row[size] = '\0';
    clearEmptyDate(row);
  }
  return 0;
}
}  // namespace

int ODBC_GetRecord(char rows[][256], int maxFields, int fieldSize, int& columns,
                   const unsigned char* need) {
  if (numColumns == 0) describeColumns();
  columns = numColumns;
  if (numColumns == 0) return -1;  // a statement without a result set has no rows

  int readable = numColumns < maxFields ? numColumns : maxFields;
  if (fieldSize > 256) fieldSize = 256;
  if (fetchMode == undecided)
    fetchMode = readable == numColumns && bindBlocks(readable, fieldSize) ? byBlock : byRow;
  if (fetchMode == byBlock && readable == boundColumns && fieldSize == boundSize)
    return blockRow(rows, readable, fieldSize, need);
  return fetchRow(rows, readable, fieldSize);
}

void ODBC_Close() {
  if (isCGI) setRequestCancel(nullptr);  // the watchdog no longer reaches the statement
  fetchMode = undecided;
  rowsPerBlock = rowsInBlock = nextRow = 0;
  boundColumns = boundSize = 0;
  unboundReadable = partialBinding = false;
  columnBound.clear();
  positionedRow = 0;
  std::string().swap(blockValues);
  std::string().swap(blockLengths);
  std::string().swap(blockStatus);
  if (hstmt != SQL_NULL_HSTMT) SQLFreeStmt(hstmt, SQL_DROP);
  hstmt = SQL_NULL_HSTMT;
  if (hdbc != SQL_NULL_HDBC) {
    if (rollbackOnClose) SQLTransact(henv, hdbc, SQL_ROLLBACK);
    rollbackOnClose = false;
    SQLDisconnect(hdbc);
    SQLFreeConnect(hdbc);
  }
  hdbc = SQL_NULL_HDBC;
  if (henv != SQL_NULL_HENV) SQLFreeEnv(henv);
  henv = SQL_NULL_HENV;
}

const char* ODBC_GetColumnNames() { return columnNames.c_str(); }

#endif
