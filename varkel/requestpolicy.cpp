// What a web request may reach: the server's policy for the data sources of requests.
#include "varkel/requestpolicy.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "common/requestpaths.h"
#include "varkel/datasource.h"
#include "varkel/varkel.h"

void refuseRequest(const char* message) {
  fputs(message, ofp ? ofp : stdout);
  fputs("</body>\n", ofp ? ofp : stdout);
  jump_exit(1);
}

// True when the server's environment sets name to exactly "1".
static bool serverAllows(const char* name) {
  const char* value = getenv(name);
  return value && strcmp(value, "1") == 0;
}

bool cgiExecAllowed() { return serverAllows("VARKEL_CGI_ALLOW_EXEC"); }

void refuseCgiExec() {
  // The command would be chosen by whoever sends the request.
  refuseRequest("<p><b>Command data sources are not allowed in web requests.</b></p>\n");
}

static std::string lowerCase(std::string text) {
  for (char& c : text) c = (char)tolower((unsigned char)c);
  return text;
}

static std::string trimmed(const std::string& text) {
  size_t b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = text.find_last_not_of(" \t");
  return text.substr(b, e - b + 1);
}

bool requestDsnListed(const char* dsn) {
  const char* list = getenv("VARKEL_CGI_DSNS");
  if (!list || !dsn) return false;
  std::string wanted = lowerCase(trimmed(dsn));
  std::string all = list;
  size_t start = 0;
  while (start <= all.size()) {
    size_t comma = all.find(',', start);
    if (comma == std::string::npos) comma = all.size();
    std::string entry = lowerCase(trimmed(all.substr(start, comma - start)));
    if (!entry.empty() && entry == wanted) return true;
    start = comma + 1;
  }
  return false;
}

// Words that have no place in a query that only reads: statements that change data,
// schema, files or the session, and functions that write files or change server state.
static const char* const changingWords[] = {
    "insert", "update", "delete", "merge", "upsert", "into", "drop", "create", "alter",
    "truncate", "vacuum", "attach", "detach", "pragma", "reindex", "grant", "revoke", "copy",
    "call", "exec", "execute", "lock", "handler", "load", "outfile", "dumpfile",
    "load_extension", "writefile", "lo_export", "lo_import", "lo_unlink", "lo_put",
    "lo_from_bytea", "set_config", "setval", "nextval", "dblink_exec", "pg_terminate_backend",
    "pg_cancel_backend", "pg_reload_conf",
};

static bool isWordChar(char c) { return isalnum((unsigned char)c) || c == '_' || c == '$'; }

bool isSingleSelect(const std::string& statement) {
  // One statement: a ';' only at the very end. Quotes are not looked into, so a ';' or a
  // word inside a literal counts too: reading them the way every database would is not
  // possible here, and refusing is the safe side.
  size_t semi = statement.find(';');
  if (semi != std::string::npos &&
      statement.find_first_not_of(" \t\r\n;", semi) != std::string::npos)
    return false;
  bool first = true;
  size_t i = 0;
  while (i < statement.size()) {
    if (!isWordChar(statement[i])) {
      if (first && !isspace((unsigned char)statement[i]) && statement[i] != '(') return false;
      i++;
      continue;
    }
    size_t end = i;
    while (end < statement.size() && isWordChar(statement[end])) end++;
    std::string word = lowerCase(statement.substr(i, end - i));
    if (first && word != "select" && word != "with") return false;
    first = false;
    for (const char* banned : changingWords)
      if (word == banned) return false;
    i = end;
  }
  return !first;
}

// Refusals of the request's sources.
static const char* const urlRefused =
    "<p><b>URL data sources are not allowed in web requests.</b></p>\n";
static const char* const urlSchemeRefused =
    "<p><b>Only http and https URLs are allowed in web requests.</b></p>\n";
static const char* const dsnRefused =
    "<p><b>This ODBC data source is not open to web requests.</b></p>\n";
static const char* const statementRefused =
    "<p><b>Only a single SELECT statement is allowed in web requests.</b></p>\n";

void checkRequestDsn(const char* dsn) {
  if (isCGI && !requestDsnListed(dsn)) refuseRequest(dsnRefused);
}

void checkRequestSource() {
  if (!isCGI || !dataFileName) return;
  switch (dataType) {
    case execData:
      if (!cgiExecAllowed()) refuseCgiExec();
      break;
    case urlData: {
      if (!serverAllows("VARKEL_CGI_ALLOW_URL")) refuseRequest(urlRefused);
      std::string url = lowerCase(trimmed(dataFileName));
      if (url.compare(0, 7, "http://") != 0 && url.compare(0, 8, "https://") != 0)
        refuseRequest(urlSchemeRefused);
      break;
    }
    case odbcData:
      checkRequestDsn(dataFileName);
      if (!isSingleSelect(odbcSelect ? odbcSelect : "")) refuseRequest(statementRefused);
      break;
    case textData:
      break;  // judged when it is opened, by the name the passes resolve
  }
}

// Opens name; in CGI mode only inside the allowed directories, else refused with message.
static FILE* openRequestNamed(const char* name, const char* message) {
  if (!isCGI) return fopen(name, "r");
  bool refused = false;
  FILE* f = openRequestFile(name, &refused);
  if (refused) refuseRequest(message);
  return f;
}

FILE* openDataFile(const char* name) {
  return openRequestNamed(
      name, "<p><b>This data file is not in a directory open to web requests.</b></p>\n");
}

FILE* openStatementFile(const char* name) {
  return openRequestNamed(
      name, "<p><b>This statement file is not in a directory open to web requests.</b></p>\n");
}
