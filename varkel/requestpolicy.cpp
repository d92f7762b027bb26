// What a web request may reach: the server's policy for the data sources of requests.
#include "varkel/requestpolicy.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "common/inputfile.h"
#include "common/requestpaths.h"
#include "common/textutil.h"
#include "varkel/datasource.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/report.h"

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

// The entry of VARKEL_CGI_DSNS that lists dsn: true with *user set to the database user the
// entry pins ("" for none) when one does.
static bool listedDsn(const char* dsn, std::string* user) {
  const char* list = getenv("VARKEL_CGI_DSNS");
  if (!list || !dsn) return false;
  std::string wanted = lowerCase(trimmed(dsn));
  std::string all = list;
  size_t start = 0;
  while (start <= all.size()) {
    size_t comma = all.find(',', start);
    if (comma == std::string::npos) comma = all.size();
    std::string entry = all.substr(start, comma - start);
    start = comma + 1;
    size_t colon = entry.find(':');
    std::string name = lowerCase(trimmed(entry.substr(0, colon)));
    if (name.empty() || name != wanted) continue;
    if (user) *user = colon == std::string::npos ? std::string() : trimmed(entry.substr(colon + 1));
    return true;
  }
  return false;
}

bool requestDsnListed(const char* dsn) { return listedDsn(dsn, nullptr); }

bool requestDsnUser(const char* dsn, std::string* user) { return listedDsn(dsn, user); }

// Words that have no place in a query that only reads: statements that change data,
// schema, files or the session, and functions that write or read the server's files, move
// sequences, take locks, wait, signal or watch other sessions, open other connections or
// run a text as a query.
static const char* const changingWords[] = {
    // statements and clauses
    "insert", "update", "delete", "merge", "upsert", "into", "drop", "create",
    "alter", "truncate", "vacuum", "attach", "detach", "pragma", "reindex", "grant", "revoke",
    "copy", "call", "exec", "execute", "lock", "unlock", "handler", "load", "outfile",
    "dumpfile", "procedure", "kill", "shutdown", "notify", "listen",
    // SQLite
    "load_extension", "writefile", "readfile", "fts3_tokenizer",
    // PostgreSQL
    "set_config", "setval", "nextval", "pg_terminate_backend", "pg_cancel_backend",
    "pg_signal_backend", "pg_reload_conf", "pg_rotate_logfile", "pg_promote", "pg_locks",
    "pg_blocking_pids", "pg_safe_snapshot_blocking_pids", "pg_export_snapshot",
    "pg_current_logfile", "pg_log_backend_memory_contexts", "pg_import_system_collations",
    "ts_stat", "ts_rewrite", "connectby", "pg_stat_file", "pg_notify",
    // MariaDB and MySQL
    "load_file", "sleep", "benchmark", "get_lock", "release_lock", "release_all_locks",
    "is_free_lock", "is_used_lock", "master_pos_wait", "master_gtid_wait", "source_pos_wait",
    "wait_for_executed_gtid_set", "wait_until_sql_thread_after_gtids", "processlist",
    "performance_schema", "sys_exec", "sys_eval",
};

// Beginnings of the names of whole families of such functions.
static const char* const changingPrefixes[] = {
    "pg_read_", "pg_ls_", "pg_file_", "pg_logdir_", "lo_", "dblink", "pg_sleep",
    "pg_advisory_", "pg_try_advisory_", "pg_create_", "pg_drop_", "pg_replication_",
    "pg_logical_", "pg_copy_", "pg_stat_activity", "pg_stat_get_", "pg_backup_",
    "pg_start_backup", "pg_stop_backup", "pg_switch_", "pg_wal_", "pg_terminate_",
    "pg_cancel_", "crosstab",
};

// Two words in a row that move a sequence or lock rows (the second word as written).
static const char* const changingPairs[][2] = {
    {"next", "value"}, {"for", "share"}, {"for", "update"}, {"for", "key"}, {"for", "no"},
};

static bool isWordChar(char c) { return isalnum((unsigned char)c) || c == '_' || c == '$'; }

// True when word, lower-cased, names a statement or function of the lists above, or of the
// family that runs a query's text and gives its result as XML (query_to_xml, ...).
static bool changingWord(const std::string& word) {
  for (const char* banned : changingWords)
    if (word == banned) return true;
  for (const char* prefix : changingPrefixes)
    if (word.compare(0, strlen(prefix), prefix) == 0) return true;
  return word.find("_to_xml") != std::string::npos;
}

bool isSingleSelect(const std::string& statement) {
  // One statement: a ';' only at the very end. Quotes are not looked into, so a ';' or a
  // word inside a literal counts too: reading them the way every database would is not
  // possible here, and refusing is the safe side.
  size_t semi = statement.find(';');
  if (semi != std::string::npos &&
      statement.find_first_not_of(" \t\r\n;", semi) != std::string::npos)
    return false;
  // A comment in any form hides words from this check (MariaDB runs the text of "/*!" as
  // part of the statement); a Unicode escape spells a name the check cannot read.
  if (statement.find("--") != std::string::npos || statement.find('#') != std::string::npos ||
      statement.find("/*") != std::string::npos || statement.find("*/") != std::string::npos)
    return false;
  std::string lower = lowerCase(statement);
  if (lower.find("u&'") != std::string::npos || lower.find("u&\"") != std::string::npos)
    return false;
  bool first = true;
  std::string previous;
  size_t i = 0;
  while (i < lower.size()) {
    if (!isWordChar(lower[i])) {
      if (first && !isspace((unsigned char)lower[i]) && lower[i] != '(') return false;
      i++;
      continue;
    }
    size_t end = i;
    while (end < lower.size() && isWordChar(lower[end])) end++;
    std::string word = lower.substr(i, end - i);
    if (first && word != "select" && word != "with") return false;
    first = false;
    if (changingWord(word)) return false;
    for (const auto& pair : changingPairs)
      if (previous == pair[0] && word == pair[1]) return false;
    previous = word;
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
static const char* const userRefused =
    "<p><b>This ODBC data source connects web requests only as its own database user.</b></p>\n";
static const char* const credentialsRefused =
    "<p><b>This ODBC data source takes no user name or password from web requests.</b></p>\n";

// The database user of a request's ODBC source is the server's choice: the user its
// VARKEL_CGI_DSNS entry pins (the request may give that user's password, or the user and
// password a built page carries), or, for an entry without one, the DSN's own.
static void checkRequestUser() {
  std::string pinned;
  requestDsnUser(dataFileName, &pinned);
  bool userGiven = odbcUser && odbcUser[0], passwordGiven = odbcPassword && odbcPassword[0];
  if (pinned.empty()) {
    if (userGiven || passwordGiven) refuseRequest(credentialsRefused);
    return;
  }
  if (userGiven && pinned != odbcUser) refuseRequest(userRefused);
  if (!userGiven) odbcUser = _newStr(pinned.c_str(), __FILE__, __LINE__);
}

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
      checkRequestUser();
      if (!isSingleSelect(odbcSelect ? odbcSelect : "")) refuseRequest(statementRefused);
      break;
    case textData:
      break;  // judged when it is opened, by the name the passes resolve
  }
}

// Opens name; in CGI mode only inside the allowed directories, else refused with message.
static FILE* openRequestNamed(const char* name, const char* message) {
  if (!isCGI) return openInputFile(name, "r");
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
