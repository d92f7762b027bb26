// The ODBC access layer: connect, run one statement and read its result as records; the
// scrambling of ODBC credentials carried in the viewer page. Present only in builds with
// HAVE_ODBC.
#ifndef VARKEL_ODBC_H
#define VARKEL_ODBC_H

#ifdef HAVE_ODBC

#include <string>

// The credential key: 50 bytes, each 0x80 or above, so that an ASCII credential never
// scrambles to NUL or to a character the data-source string gives a meaning.
extern const char credentialKey[51];

// Scramble / unscramble text in place with key (XOR, the key repeating); the same operation.
// 0, or -1 when either pointer is null.
int dbEncrypt(char* text, const char* key);
int dbDecrypt(char* text, const char* key);

// Rows a psqlODBC cursor fetches at a time when the builder asks its driver to stream.
const int streamFetchRows = 2000;

// value as a connection-string attribute's value: as it is, or in braces (a "}" doubled)
// when it holds ";", "{", "}", "=", blanks at either end, or nothing.
std::string connectionValue(const std::string& value);

// The connection string that connects to dsn as user (an empty user or password leaves the
// DSN's own) and asks the DSN's driver to stream results instead of holding them whole:
// psqlODBC (UseDeclareFetch) and MariaDB's driver (NO_CACHE), unless the DSN's entry says
// how itself. Empty for every other driver, for a DSN whose driver is not found, and when
// the DSN, user or password has a blank at either end (which some drivers' connection-string
// parsers drop): those connect by SQLConnect as they are.
std::string streamingConnection(const char* dsn, const char* user, const char* password);

// Connects to dsn as user and runs command (a single-quoted table name after "from " gets
// double quotes). Returns 0; every failure ends the run (error -1 or 108).
int ODBC_Open(const char* dsn, const char* user, const char* password, const char* command);

// Fetches the next row into rows (maxFields rows of fieldSize bytes), one column per row cut
// to fieldSize - 1 characters like a record line's field, a NULL empty, and sets columns to
// the result's column count. The first call also puts the column names into
// newDataFieldNames. Returns 0 for a row, -1 at the end of the result. A
// failing fetch or column read, or more than 512 columns, is error 108. With need (a mask
// of maxFields entries) the rows of unmarked columns may keep an earlier row's text.
int ODBC_GetRecord(char rows[][256], int maxFields, int fieldSize, int& columns,
                   const unsigned char* need = nullptr);

// Releases statement, connection and environment; the handles are null afterwards. A web
// request's connection has its transaction rolled back first.
void ODBC_Close();

// Writes the ODBC error of the current handles to standard error, unless code is 0;
// returns code.
int ODBC_Error(int code);

// 0 and 100 come back unchanged; any other code is written as by ODBC_Error and returned.
int sql_check(int code, const char* callText, const char* sourceFile, int line);

// The result's column names joined by ";", empty before the first fetch.
const char* ODBC_GetColumnNames();

#endif

#endif
