// The unparser's script printer: the setup block (said only where the parameter record
// differs from the parameter tables' defaults), the data-source lines, the axis blocks with
// their indented items, and the text form of encoded match expressions.
#include <cstring>
#include <vector>

#include "common/preferences.h"
#include "common/util.h"
#include "profile/unparse.h"

// Built-in colours of the viewer, red, green and blue.
static const int defaultColours[3][3] = {{158, 207, 178}, {158, 158, 207}, {90, 150, 255}};

node* printSetup(const char* text, int* pos, FILE* out) {
  node* root = newNode();
  fputs("setup {\n", out);

  for (int i = 0; i < numBParams; i++) {
    int v = getBoolean(text, pos);
    BooleanParam& row = bParams[i];
    if (v != row.value && row.name != nullptr && row.name[0] != '\0') {
      row.value = v;
      row.set = 1;
    }
  }

  fprintf(out, "\tdecimalpoints=%d\n", getNibbles(2, text, pos));

  static const char* const colourFormats[3] = {"\tverticalcolor=(%d,%d,%d)\n",
                                               "\thorizontalcolor=(%d,%d,%d)\n",
                                               "\tdatacolor=(%d,%d,%d)\n"};
  for (int c = 0; c < 3; c++) {
    int red = getNibbles(2, text, pos);
    int green = getNibbles(2, text, pos);
    int blue = getNibbles(2, text, pos);
    if (red != defaultColours[c][0] || green != defaultColours[c][1] ||
        blue != defaultColours[c][2])
      fprintf(out, colourFormats[c], red, green, blue);
  }

  fprintf(out, "\theight=%d\n", getNibbles(4, text, pos));
  fprintf(out, "\twidth=%d\n", getNibbles(4, text, pos));

  // Position 1 holds the short copy of the data source, said with the other data lines.
  static const char* const shortFormats[numSParams] = {
      "\tcodebase=\"%s\"\n",   nullptr,
      "\thelpurl=\"%s\"\n",    "\truncode=\"%s\"\n",
      "\twindowname=\"%s\"\n", "\tcginame=\"%s\"\n",
      "\tcgiroot=\"%s\"\n",    "\tpellackname=\"%s\"\n"};
  string data;
  for (int i = 0; i < numSParams; i++) {
    string v = getString(2, text, pos);
    // An empty value is said too where the default is not, or it would come back as that.
    if (shortFormats[i] == nullptr)
      data = v;
    else if (!v.empty() || !sParams[i].value.empty())
      fprintf(out, shortFormats[i], escapeQuotes(v, '"').c_str());
  }

  // Older compilers end the record after the 4th or the 14th long string.
  for (int i = 0; i < numLsParams && text[*pos] != '|'; i++) {
    string v = getString(4, text, pos);
    const StringParam& row = lsParams[i];
    if (strcmp(row.name, "data") == 0) {
      if (!v.empty()) data = v;
    } else if (row.name[0] != '\0' && !v.empty() && strCompare(v.c_str(), row.value.c_str()) != 0) {
      fprintf(out, "\t%s=\"%s\"\n", row.name, escapeQuotes(v, '"').c_str());
    }
  }

  printDataSource(out, data.c_str());

  for (int i = 0; i < numBParams; i++) {
    const BooleanParam& row = bParams[i];
    if (row.set && row.name[0] != '\0' && !row.noOutput)
      fprintf(out, "\t%s=%s", row.name, row.value ? "true\n" : "false\n");
  }

  for (int i = 0; i < numNbParams && text[*pos] != '|'; i++) {
    int v = getBoolean(text, pos);
    const BooleanParam& row = nbParams[i];
    if (v != row.value && row.name[0] != '\0')
      fprintf(out, "\t%s=%s", row.name, v ? "true\n" : "false\n");
  }

  for (int i = 0; i < numByteParams && text[*pos] != '|'; i++) {
    int v = getNibbles(2, text, pos);
    const ByteParam& row = byteParams[i];
    if (v != row.value && row.name[0] != '\0') fprintf(out, "\t%s=%d\n", row.name, v);
  }

  checkEnd(text, pos);
  return root;
}

void printDataSource(FILE* out, const char* data) {
  string text = data;
  // The compiler leaves the suffix off "odbc:" sources only; a file whose name begins with
  // "odbc" has one like any other.
  if (text.compare(0, 5, "odbc:") == 0) {
    size_t n = text.size();
    if (n >= 2 && text[n - 2] == ';' && text[n - 1] == '\t') {
      text.erase(n - 2);
      size_t cut = text.rfind(';');
      if (cut != string::npos) text.erase(cut);
    }
    fprintf(out, "\tdata=\"%s\"\n", escapeQuotes(text, '"').c_str());
    return;
  }
  size_t n = text.size();
  if (n < 4 || text[n - 4] != ';' || text[n - 2] != ';') {
    // No suffix to take apart: the separator and the header flag are unknown, so only the
    // source itself can be said.
    if (!text.empty()) fprintf(out, "\tdata=\"%s\"\n", escapeQuotes(text, '"').c_str());
    return;
  }
  char separator = text[n - 1];
  char flag = text[n - 3];
  text.erase(n - 4);
  if (separator == '"' || separator == '\\')
    fprintf(out, "\tseparator=\"%s\"\n", escapeQuotes(string(1, separator), '"').c_str());
  else
    fprintf(out, "\tseparator=\"%c\"\n", separator);
  fputs(flag == '1' ? "\tfirstfieldnames=true\n" : "\tfirstfieldnames=false\n", out);
  fprintf(out, "\tdata=\"%s\"\n", escapeQuotes(text, '"').c_str());
}

void printScriptTree(FILE* out, node* n, int depth) {
  // An explicit stack: a long chain of siblings or children must not exhaust the call stack.
  std::vector<std::pair<node*, int>> stack;
  if (n != nullptr) stack.push_back({n, depth});
  while (!stack.empty()) {
    node* cur = stack.back().first;
    int d = stack.back().second;
    stack.pop_back();
    if (d == 0) {
      fprintf(out, "}\n\n%s {\n", cur->text.c_str());
    } else {
      fputc('\t', out);
      for (int i = 1; i < d; i++) fputs("+ ", out);
      fprintf(out, "%s\n", cur->text.c_str());
    }
    // The sibling goes on first so that every child is printed before it.
    if (cur->next != nullptr) stack.push_back({cur->next, d});
    if (cur->child != nullptr) stack.push_back({cur->child, d + 1});
  }
}

// The '(' that open groups before a condition, however many stand there.
static string openGroups(const char* text, int* pos) {
  string out;
  while (text[*pos] == '(') {
    out += '(';
    (*pos)++;
  }
  return out;
}

string unparseMatch(const char* text, int* pos) {
  string out = openGroups(text, pos);
  out += unparseSubMatch(text, pos);
  while (text[*pos] != '\0') {
    char c = text[(*pos)++];
    switch (c) {
      case 'J':
        out += " AND " + openGroups(text, pos);
        out += unparseSubMatch(text, pos);
        break;
      case 'K':
        out += " OR " + openGroups(text, pos);
        out += unparseSubMatch(text, pos);
        break;
      case '(':
        out += "(";
        break;
      case ')':
        out += ")";
        break;
      default:
        fatal(110, "Unknown match connector '%c'\n", c);
    }
  }
  return out;
}

// The match text ends where a condition still needs its field part, operator or value.
[[noreturn]] static void endsInCondition(const char* text) {
  fatal(110, "Match text '%s' ends inside a condition.\n", text);
}

string unparseSubMatch(const char* text, int* pos) {
  string out = unparseField(text, pos);
  char op = text[*pos];
  if (op == '\0') endsInCondition(text);
  (*pos)++;
  const char* keyword = getOperatorString(op);
  string value = getString(2, text, pos);
  out += " ";
  out += keyword;
  out += " ";
  // A value of two double quotes is quoted like any other: said bare it would read back as
  // the empty value.
  if (op >= 'T' && op <= 'Y')
    out += value;
  else
    out += "\"" + escapeQuotes(value, '"') + "\"";
  return out;
}

string unparseField(const char* text, int* pos) {
  string name = getString(2, text, pos);
  string out = quoteField(name.c_str());
  char c = text[*pos];
  if (c == '\0') endsInCondition(text);
  (*pos)++;
  if (c == '=') return out;
  if (c == 'G') {
    int a = getSpibble(text, pos);
    int b = getSpibble(text, pos);
    out += formatLine("[%d-%d]", a, b);
  } else if (c == 'H' || c == 'I') {
    string separator = getString(1, text, pos);
    int n = getSpibble(text, pos);
    out += formatLine(c == 'H' ? "[%d,\"%s\"]" : "[-%d,\"%s\"]", n,
                      escapeQuotes(separator, '"').c_str());
  } else {
    fatal(110, "Unknown character '%c' in match field '%s'\n", c, text);
  }
  // The '=' that ends a field part with a selector.
  c = text[*pos];
  if (c == '\0') endsInCondition(text);
  if (c != '=') fatal(110, "Unknown character '%c' in match field '%s'\n", c, text);
  (*pos)++;
  return out;
}
