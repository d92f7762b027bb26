// Data-source strings, ODBC statement files and the field map from profile slots to data
// columns.
#include "varkel/datasource.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "cgi/uncgi.h"
#include "common/textutil.h"
#include "common/util.h"
#include "varkel/input.h"
#include "varkel/odbc.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/requestpolicy.h"

// The empty text the ODBC parameters start from; never written through.
static char noText[1] = "";

DataType dataType = textData;  // kind of the data source
char* dataFileName = nullptr;  // file, command, URL or DSN; null until a source is set
char* odbcUser = noText;       // plain ODBC user name
char* odbcPassword = noText;   // plain ODBC password
char* odbcSelect = noText;     // the statement whose result is the data
int fieldsMapped = 0;          // 1 once the field map is built

// The data column of each profile field slot, built by the first mapField call.
static int fieldColumn[maxInputFields];
static bool fieldMapBuilt = false;

static bool startsWith(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

#ifdef HAVE_ODBC
// A scrambled credential from the viewer page: URL-decoded, then unscrambled. A byte equal
// to its key byte was scrambled to NUL and written as "%00", at which dbDecrypt would stop;
// so the bytes are unscrambled over their whole decoded length.
static char* plainCredential(const char* value) {
  std::string bytes = value;
  bytes.resize(size_t(url_decode(&bytes[0]) - bytes.data()));
  size_t keyLength = strlen(credentialKey);
  for (size_t i = 0; i < bytes.size(); i++)
    bytes[i] = (char)(bytes[i] ^ credentialKey[i % keyLength]);
  return _newStr(bytes.c_str(), __FILE__, __LINE__);
}

// The "odbc:" form: DSN, then tokens; whole is the string for the messages.
static void setupOdbcSource(const char* rest, const char* whole) {
  std::vector<std::string> pieces;
  std::string all = rest;
  size_t start = 0;
  while (start <= all.size()) {
    size_t semi = all.find(';', start);
    if (semi == std::string::npos) semi = all.size();
    if (semi > start) pieces.push_back(all.substr(start, semi - start));
    start = semi + 1;
  }
  if (pieces.empty()) fatal(102, "No ODBC DSN given in \"%s\"", whole);
  checkRequestDsn(pieces[0].c_str());  // before a statement file is read
  std::string statement;
  for (size_t i = 1; i < pieces.size(); i++) {
    const char* token = pieces[i].c_str();
    const char* value = strchr(token, '=');
    value = value ? value + 1 : "";
    if (startsWith(token, "eusername=")) {
      odbcUser = plainCredential(value);
    } else if (startsWith(token, "epassword=")) {
      odbcPassword = plainCredential(value);
    } else if (startsWith(token, "username=")) {
      odbcUser = _newStr(value, __FILE__, __LINE__);
    } else if (startsWith(token, "password=")) {
      odbcPassword = _newStr(value, __FILE__, __LINE__);
    } else if (statement.empty()) {
      statement = token[0] == '+' ? getQuery(token + 1) : pieces[i];
    }
  }
  if (statement.empty()) fatal(103, "No ODBC select statement in \"%s\"", whole);
  replaceQuotes(statement);
  odbcSelect = _newStr(statement.c_str(), __FILE__, __LINE__);
  dataType = odbcData;
  dataFileName = _newStr(pieces[0].c_str(), __FILE__, __LINE__);
}
#endif

void setupDataSource(const char* text) {
  if (dataFileName) return;
  std::string copy = text ? text : "";
  std::vector<char> buf(copy.begin(), copy.end());
  buf.push_back('\0');
  const char* source = trimSpaces(buf.data());

  if (startsWith(source, "none:")) fatal(106, "No data source specified in '%s'\n", source);
  DataType kind;
  const char* name;
  if (startsWith(source, "text:")) {
    kind = textData;
    name = source + 5;
  } else if (startsWith(source, "file://")) {
    kind = textData;
    name = source + 7;
  } else if (startsWith(source, "exec:")) {
    kind = execData;
    name = source + 5;
  } else if (startsWith(source, "url:")) {
    kind = urlData;
    name = source + 4;
  } else if (strstr(source, "://")) {
    kind = urlData;
    name = source;
  } else if (startsWith(source, "odbc:")) {
#ifdef HAVE_ODBC
    setupOdbcSource(source + 5, source);
#else
    fatal(104, "ODBC data source not supported in this executable.\n");
#endif
    checkRequestSource();
    return;
  } else {
    if (!isCGI) fatal(106, "Could not understand data source '%s'.\n", source);
    return;
  }
  dataType = kind;
  dataFileName = _newStr(name, __FILE__, __LINE__);
  checkRequestSource();
}

void closeCommand(FILE* stream, const char* command, bool readToEnd) {
  int status = pclose(stream);
  if (!readToEnd) return;
  char how[160];
  if (status == -1)
    snprintf(how, sizeof how, "could not be waited for: %s", strerror(errno));
  else if (WIFSIGNALED(status))
    snprintf(how, sizeof how, "was ended by signal %d (%s)", WTERMSIG(status),
             strsignal(WTERMSIG(status)));
  else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    snprintf(how, sizeof how, "ended with exit status %d", WEXITSTATUS(status));
  else
    return;
  // What the command wrote is not all of the data: the run must not build from it.
  if (isCGI && ofp) {
    fprintf(ofp, "<p>\nThe command '%s' %s.\n", htmlEscape(command).c_str(), how);
    fputs("</body>\n", ofp);
  }
  fatal(4, "The command '%s' %s.\n", command, how);
}

std::string getQuery(const char* fileName) {
  FILE* f = openStatementFile(fileName);
  if (!f && errno == EISDIR)
    fatal(2, "ODBC query file can not be opened because is a directory: '%s'\n", fileName);
  if (!f) fatal(2, "Unable to open file containing ODBC query '%s'", fileName);
  std::string text;
  char piece[65000];
  while (fgets(piece, sizeof piece, f)) text += piece;
  fclose(f);
  return text;
}

// The column named name in newDataFieldNames, or the number of an "f<digits>" name (none
// when the number is past the last column); -1 when neither.
static int columnOf(const char* name) {
  for (int row = 0; row < maxInputFields; row++)
    if (strcmp(newDataFieldNames[row], name) == 0) return row;
  if (name[0] != 'f') return -1;
  int number = 0;
  for (const char* p = name + 1; *p; p++) {
    if (*p < '0' || *p > '9') return -1;
    number = number * 10 + (*p - '0');
    if (number >= maxInputFields) return -1;
  }
  return number;
}

int mapField(int slot) {
  if (skipFirstLine != 1) return slot;
  if (slot < 0 || slot >= maxInputFields)
    fatal(110, "Field slot %d is outside 0 to %d.\n", slot, maxInputFields - 1);
  if (!fieldMapBuilt) {
    for (int s = 0; s < maxInputFields; s++) {
      fieldColumn[s] = 0;
      if (!dataFieldNames[s][0]) continue;
      int column = columnOf(dataFieldNames[s]);
      if (column < 0) {
        if (dataType == odbcData)
          fatal(101, "Failed to find field %s in ODBC columns.\n", dataFieldNames[s]);
        fatal(101, "Failed to find field %s in input data '%s'.\n", dataFieldNames[s],
              inputBuffer ? inputBuffer : "");
      }
      fieldColumn[s] = column;
    }
    fieldMapBuilt = true;
    fieldsMapped = 1;
  }
  return fieldColumn[slot];
}
