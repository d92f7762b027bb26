// Data sources: the parsing of data-source strings into the source kind and its parameters,
// the statement files of ODBC sources, and the mapping of profile field slots to the data's
// columns.
#ifndef VARKEL_DATASOURCE_H
#define VARKEL_DATASOURCE_H

#include <cstdio>
#include <string>

// The kind of the data source; the passes open, read and close by it.
enum DataType { textData = 0, execData = 1, odbcData = 2, urlData = 3 };

// Source parameters, set once by setupDataSource.
extern DataType dataType;    // the kind [textData]
extern char* dataFileName;   // file name, command, URL or DSN; null until a source is set
extern char* odbcUser;       // ODBC user name, plain [""]
extern char* odbcPassword;   // ODBC password, plain [""]
extern char* odbcSelect;     // the SQL statement of an ODBC source [""]
extern int fieldsMapped;     // 1 once mapField has mapped the profile's field slots

// Parses a data-source string (blanks around it removed) into the globals above. Does
// nothing once dataFileName is set, so the first source given wins. Errors: 106 for "none:"
// and (outside CGI mode) for an unknown form, 102 / 103 for an "odbc:" string without DSN
// or statement, 104 for "odbc:" in a build without ODBC, 2 for an unreadable "+file".
// In CGI mode a source the server does not allow ends the request (requestpolicy).
void setupDataSource(const char* text);

// Closes a command source opened with popen and checks how the command ended: an exit
// status other than 0, or a signal, is fatal 4 naming the command (in CGI mode the notice
// goes onto the page first). With readToEnd false the reader stopped early, so a command
// ended by the closed pipe is no failure and the status is not looked at.
void closeCommand(FILE* stream, const char* command, bool readToEnd);

// The whole text of the file fileName, line ends included. A file that cannot be opened, or
// a directory, is fatal 2.
std::string getQuery(const char* fileName);

// The data column of profile field slot: the slot itself without a header line;
// with one, the column of newDataFieldNames that holds the slot's name, or the number of an
// "f<digits>" name that no column holds. Any other name is fatal 101, a slot outside 0-512
// fatal 110.
int mapField(int slot);

#endif
