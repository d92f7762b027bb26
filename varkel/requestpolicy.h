// What a web request may reach. In CGI mode every data source comes from the request (its
// dataSource field, or the profile it sends along), so the web server's own environment
// decides what may be read: commands only with VARKEL_CGI_ALLOW_EXEC=1; text files and ODBC
// statement files inside VARKEL_CGI_DATA_DIRS (common/requestpaths); http and https URLs
// only with VARKEL_CGI_ALLOW_URL=1; ODBC only for the DSNs listed in VARKEL_CGI_DSNS, read
// only, and with a single SELECT. A refusal is a page message and exit status 1, made
// before the file is read, the command run, the URL fetched or the connection made. The
// command line is not affected.
#ifndef VARKEL_REQUESTPOLICY_H
#define VARKEL_REQUESTPOLICY_H

#include <cstdio>
#include <string>

// Ends a request the builder refuses: message on the page, the page closed, status 1.
[[noreturn]] void refuseRequest(const char* message);

// True when the web server's environment allows command data sources
// (VARKEL_CGI_ALLOW_EXEC=1).
bool cgiExecAllowed();

// Refuses a command data source in CGI mode.
[[noreturn]] void refuseCgiExec();

// Checks, in CGI mode, a data source that setupDataSource has just parsed: commands, URLs
// and ODBC DSNs and statements as above; refuses the request when the source is not
// allowed. Does nothing on the command line.
void checkRequestSource();

// Checks, in CGI mode, the DSN of an "odbc:" source before its tokens are read (a "+file"
// statement is read with them); refuses the request when the DSN is not listed.
void checkRequestDsn(const char* dsn);

// Opens the text data file name for reading. In CGI mode a name outside the allowed
// directories refuses the request; otherwise null when the file cannot be opened or is a
// directory (errno EISDIR, as openInputFile).
FILE* openDataFile(const char* name);

// Opens an ODBC statement file ("+file") for reading, with the same rule as data files.
FILE* openStatementFile(const char* name);

// True when the DSN is listed in VARKEL_CGI_DSNS (comma-separated entries "name" or
// "name:user", blanks around them ignored, names compared ignoring case).
bool requestDsnListed(const char* dsn);

// True when the DSN is listed, with *user set to the database user its entry pins ("" when
// the entry names none: the DSN's own user then connects).
bool requestDsnUser(const char* dsn, std::string* user);

// True when statement is one SELECT (or WITH ... SELECT) statement: it begins with the word
// SELECT or WITH (after blanks and opening parentheses), holds no ';' but one at its end, no
// comment of any form ("--", "#", "/* */") and no Unicode escape ("U&"), and no word, inside
// quotes too, that changes data, files or the session (INSERT, UPDATE, DELETE, INTO, DROP,
// load_extension, ...), nor one of the functions that read the server's files, move
// sequences, take locks, wait, signal or watch other sessions, open other connections or run
// a text as a query (pg_read_file, nextval, get_lock, sleep, pg_terminate_backend, dblink,
// query_to_xml, ...).
bool isSingleSelect(const std::string& statement);

#endif
