// The unparser's reader of the compiled profile: the header check, the record loop with its
// tree operators, and one reader per node record that turns the record into its script
// line. Every record must end with its '|' right after the fields this reader knows.
#include "profile/unparse.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "common/util.h"

string formatLine(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  string out;
  if (n > 0) {
    out.resize(size_t(n) + 1);
    vsnprintf(&out[0], out.size(), format, again);
    out.resize(size_t(n));
  }
  va_end(again);
  return out;
}

node* newNode() { return new node(); }

string escapeQuotes(const string& text, char q) {
  // The lexer reads a backslash before the closing quote as an escaped quote, so no quoting
  // can end a text in one: refused rather than printed as a script that does not compile.
  if (!text.empty() && text.back() == '\\')
    fatal(110, "Cannot print '%s': a quoted text of a profile script cannot end in a backslash.\n",
          text.c_str());
  string out;
  for (char c : text) {
    if (c == q) out += '\\';
    out += c;
  }
  return out;
}

string quoteField(const char* name) { return "'" + escapeQuotes(name, '\'') + "'"; }

// A label, function text or other double-quoted value as the lexer reads it back.
static string dq(const string& s) { return escapeQuotes(s, '"'); }

void checkEnd(const char* text, int* pos) {
  char c = text[*pos];
  if (c == '|') {
    (*pos)++;
    return;
  }
  // Report the position past the offending character, as the record's end would have been;
  // the excerpt stays inside the text even when it ends here.
  int at = *pos + 1;
  int len = int(strlen(text));
  int start = at >= 20 ? at - 20 : 0;
  if (start > len) start = len;
  int count = len - start < 31 ? len - start : 31;
  fatal(110, "Unexpected end-of-node seen near byte %d, '%s'\n", at,
        string(text + start, size_t(count)).c_str());
}

node* readAutobuildRecord(const char* text, int* pos) {
  int flag = getSpibble(text, pos);
  int type = getSpibble(text, pos);
  int first = getNibbles(2, text, pos);
  int last = getNibbles(2, text, pos);
  int sort = getSpibble(text, pos);
  string field = getString(2, text, pos);
  string separator = getString(2, text, pos);
  string qf = quoteField(field.c_str());
  bool fromEnd = flag >= 0 && (flag & 4);
  string line = "autobuild = ";
  switch (type) {
    case 0:
      line += qf;
      break;
    case 1:
      // A part counted from the end keeps its form even with an empty separator: as columns
      // it would lose the counting from the end.
      if (separator.empty() && !fromEnd)
        line += qf + formatLine("[%d-%d]", first, last);
      else if (fromEnd)
        line += qf + formatLine("[-%d,\"%s\"]", first, dq(separator).c_str());
      else
        line += qf + formatLine("[%d,\"%s\"]", first, dq(separator).c_str());
      break;
    case 2:
      line += formatLine(fromEnd ? "reverse_multi_level_expand(%s, %d, %d, \"%s\")"
                                 : "multi_level_expand(%s, %d, %d, \"%s\")",
                         qf.c_str(), first, last, dq(separator).c_str());
      break;
    default:
      fatal(110, "Unknown autobuild type %d\n", type);
  }
  if (sort != 0) {
    line += " ";
    line += getSortString(sort);
  }
  checkEnd(text, pos);
  node* n = newNode();
  n->text = line;
  return n;
}

node* readDateRecord(const char* text, int* pos) {
  getSpibble(text, pos);  // the flag says nothing the script can carry
  int month = getSpibble(text, pos);
  string field = getString(2, text, pos);
  string in = getString(2, text, pos);
  string out = getString(2, text, pos);
  getString(2, text, pos);  // start year: the builder does not use it
  getString(2, text, pos);  // end year, likewise
  string qf = quoteField(field.c_str());
  node* n = newNode();
  if (month == 12 || month == 13)
    n->text = formatLine("autobuild = date(%s, \"%s\", \"%s\")", qf.c_str(), dq(in).c_str(),
                         dq(out).c_str());
  else
    n->text = formatLine("autobuild = date(%s, \"%s\", \"%s\", %d)", qf.c_str(),
                         dq(in).c_str(), dq(out).c_str(), month);
  checkEnd(text, pos);
  return n;
}

node* readAxisRecord(const char* text, int* pos) {
  getBoolean(text, pos);  // the flag of an axis means nothing to the script
  string label = getString(2, text, pos);
  int code = getNibbles(2, text, pos);
  string function = getString(2, text, pos);
  node* n = newNode();
  if (code == 1 || function.empty())
    n->text = formatLine("axis \"%s\"", dq(label).c_str());
  else
    n->text = formatLine("axis \"%s\" compute='%s'", dq(label).c_str(),
                         escapeQuotes(function, '\'').c_str());
  checkEnd(text, pos);
  return n;
}

// The D and N numbers of a format from the record's codes. Without a second code the first
// is one of the five codes of older compilers; a newer first code needs its second.
static void formatNumbers(int first, bool haveSecond, int second, const string& label,
                          int* d, int* nn) {
  if (haveSecond && first >= 0 && second >= 0) {
    *d = first >= 5 ? first - 5 : first;
    *nn = second;
    return;
  }
  static const int oldD[] = {0, 1, 0, 12, 11};
  static const int oldN[] = {0, 3, 0, 9, 9};
  if (haveSecond || first < 0 || first > 4) fatal(110, "Bad format for node '%s'\n", label.c_str());
  *d = oldD[first];
  *nn = oldN[first];
}

node* readExtractRecord(const char* text, int* pos) {
  getBoolean(text, pos);  // the flag of a measure means nothing to the script
  int first = getSpibble(text, pos);
  string field = getString(2, text, pos);
  string label = getString(2, text, pos);
  bool haveSecond = text[*pos] != '|' && text[*pos] != '\0';
  int second = haveSecond ? getSpibble(text, pos) : 0;
  int d, nn;
  formatNumbers(first, haveSecond, second, label, &d, &nn);
  node* n = newNode();
  n->text = formatLine("\"%s\" extract=%s format=\"D%dN%d\"", dq(label).c_str(),
                       quoteField(field.c_str()).c_str(), d, nn);
  checkEnd(text, pos);
  return n;
}

node* parseFunction(const char* text, int* pos) {
  string label = getString(2, text, pos);
  int first = getSpibble(text, pos);
  string function = getString(2, text, pos);
  bool haveSecond = text[*pos] != '|' && text[*pos] != '\0';
  int second = haveSecond ? getSpibble(text, pos) : 0;
  int d, nn;
  formatNumbers(first, haveSecond, second, label, &d, &nn);
  node* n = newNode();
  n->text = formatLine("\"%s\" compute=\"%s\" format=\"D%dN%d\"", dq(label).c_str(),
                       dq(function).c_str(), d, nn);
  checkEnd(text, pos);
  return n;
}

// A match record's line. A measure cannot say match, so one without a match text (what the
// compiler writes for a measure's default roll-up) is said with that function instead.
static node* readMatchLine(const char* text, int* pos, bool inMeasures, bool* rollUp) {
  getBoolean(text, pos);  // the flag of a category means nothing to the script
  int code = getNibbles(2, text, pos);
  string function = getString(2, text, pos);
  string label = getString(2, text, pos);
  string match = getString(2, text, pos);
  string line = formatLine("\"%s\" ", dq(label).c_str());
  if (!match.empty()) {
    int at = 0;
    line += "match (" + unparseMatch(match.c_str(), &at) + ")";
  } else if (inMeasures) {
    line += "function = sum.own(all)";
    *rollUp = true;
  } else {
    line += "match ('f0' contains '')";
  }
  if (code != 1) line += formatLine(" compute=\"%s\"", dq(function).c_str());
  checkEnd(text, pos);
  node* n = newNode();
  n->text = line;
  return n;
}

node* readMatchRecord(const char* text, int* pos) {
  bool rollUp = false;
  return readMatchLine(text, pos, false, &rollUp);
}

node* readMeasureRecord(const char* text, int* pos) {
  string label = getString(2, text, pos);
  string function = getString(2, text, pos);
  node* n = newNode();
  if (function.empty())
    n->text = formatLine("axis measure \"%s\"", dq(label).c_str());
  else
    n->text = formatLine("axis measure \"%s\" compute=\"%s\"", dq(label).c_str(),
                         dq(function).c_str());
  checkEnd(text, pos);
  return n;
}

node* readLabelRecord(const char* text, int* pos) {
  string label = getString(2, text, pos);
  node* n = newNode();
  n->text = formatLine("\"%s\" extract=f-1", dq(label).c_str());
  checkEnd(text, pos);
  return n;
}

// The whole input as one text, cut at its first NUL byte.
static string readInput(FILE* in) {
  string text;
  char block[65536];
  size_t got;
  while ((got = fread(block, 1, sizeof block, in)) > 0) {
    text.append(block, got);
    // Positions are ints; keep the whole text addressable.
    if (text.size() > size_t(INT_MAX) - 2) fatal(2, "Input file is too large.\n");
  }
  if (ferror(in)) fatal(2, "Input file could not be read.\n");
  if (text.empty()) fatal(2, "Input file was empty.\n");
  text.resize(strlen(text.c_str()));
  return text;
}

// A measures line: said on the line itself when its first item leaves the line's compute
// text to the measures record, else by a first item of its own that stands for the whole
// measures axis.
struct FunctionMeasures {
  node* measures;
  string label, function;
  string firstItem;     // the line of that first item
  bool kept = false;    // the first item read leaves the compute text as it is
};

// Where the records read so far hang: the root of the parameter record, the node the next
// record attaches to, and the top-level chain of axis and measures lines.
struct TreeCursor {
  node* root = nullptr;
  node* current = nullptr;
  node* lastTop = nullptr;
  node* currentTop = nullptr;  // the top-level line the current node hangs from, if any
  std::unordered_set<const node*> topLevel;
  std::unordered_set<const node*> measures;  // the measures lines among topLevel
  std::unordered_set<const node*> bareMeasures;  // those of them without a compute text
  // Every measures line, with the first item that could say it instead.
  std::vector<FunctionMeasures> firstMeasures;
  char pending = '*';  // the last 'C' or 'N' seen; never reset
};

// Whether an item read now would land in the measures axis: the top-level line that the
// current node hangs from is a measures line.
static bool inMeasures(const TreeCursor& t) {
  return t.currentTop != nullptr && t.measures.count(t.currentTop) != 0;
}

// 'P': the current node climbs one attach step. Items climb within their axis; a top-level
// line climbs to the one before it, or out of every axis from the first.
static void climb(TreeCursor& t) {
  if (t.current == nullptr) return;
  if (t.current == t.currentTop)
    t.currentTop = t.current->backLink == t.root ? nullptr : t.current->backLink;
  t.current = t.current->backLink;
}

static string functionForm(const string& label, const string& function);

// The first-measure line that makes the compiler write a measures record with this label and
// compute text. Such a record is said that way rather than as the axis's compute text, which
// the compiler would drop from an axis without items or take from the first item's own
// compute text. A function is said as one; any other text as the compute text of a first
// measure that rolls up with the default function.
static string functionItem(const string& label, const string& function) {
  string asFunction = functionForm(label, function);
  if (!asFunction.empty()) return asFunction;
  return formatLine("\"%s\" function = sum.own(all) compute=\"%s\"", dq(label).c_str(),
                    dq(function).c_str());
}

// The first-measure line that says this function text as a function, or "" when the text is
// no function the script language can say.
static string functionForm(const string& label, const string& function) {
  static const char* const aggregators[] = {"sum",     "difference", "delta",    "average",
                                            "sd",      "oneof",      "max",      "min",
                                            "product", "constant",   "ratio",    "variance",
                                            "divconst"};
  static const char* const scopes[] = {"own", "previous", "peers", "next"};
  size_t dot = function.find('.');
  size_t open = function.find('(');
  if (dot == string::npos || open == string::npos || dot > open || function.back() != ')')
    return "";
  string aggregator = function.substr(0, dot);
  string scope = function.substr(dot + 1, open - dot - 1);
  string args = function.substr(open + 1, function.size() - open - 2);
  bool known = false;
  for (const char* a : aggregators) known = known || aggregator == a;
  if (!known) return "";
  known = false;
  for (const char* sc : scopes) known = known || scope == sc;
  // A backslash before the closing quote would escape it.
  if (!known || (!args.empty() && args.back() == '\\') || args.find('\n') != string::npos)
    return "";
  // One quoted argument gives back its text whatever it holds, "1-3" and "all" included.
  return formatLine("\"%s\" function = %s.%s(\"%s\")", dq(label).c_str(), aggregator.c_str(),
                    scope.c_str(), dq(args).c_str());
}

// Whether the item record of type at pos, read as the first item below a measures line with
// the compute text function, leaves that text to the measures record when its script line
// is compiled: an extract or label item says no compute text, a computed item says its own
// (empty or not), and a category that rolls up with the default function clears it unless
// it says a compute text of its own.
static bool keepsCompute(char type, const char* text, int pos, const string& function) {
  switch (type) {
    case '4':
    case '9':
      return true;
    case '5':
      getString(2, text, &pos);
      getSpibble(text, &pos);
      return getString(2, text, &pos) == function;
    case '6': {
      getBoolean(text, &pos);
      int code = getNibbles(2, text, &pos);
      string own = getString(2, text, &pos);
      return code != 1 ? own == function : function.empty();
    }
    default:
      return false;
  }
}

// Notes, for a record about to become the first item below a measures line, whether the line
// can say its compute text itself.
static void noteFirstMeasure(TreeCursor& t, char type, const char* text, int pos) {
  if (t.pending != 'C' || t.current == nullptr || t.current->child != nullptr) return;
  for (auto& m : t.firstMeasures)
    if (m.measures == t.current) m.kept = keepsCompute(type, text, pos, m.function);
}

// Hangs n into the tree. Axis and measures records always go after the last top-level node,
// so that an empty axis (after which the compiler writes 'C') does not swallow what follows.
// Other records go where the pending operator says, below or after the current node, but
// never into the top-level chain, where the script could not hold them: an item written
// after the current node's axis (the compiler climbs that far after an axis whose first item
// is deeper than its next) joins that axis's first-level items.
static void attach(TreeCursor& t, node* n, bool topLevel, int at) {
  if (t.root == nullptr) fatal(110, "Node record found before the parameter record.\n");
  if (t.pending != 'C' && t.pending != 'N') fatal(110, "Bad add type '%c'\n", t.pending);
  if (topLevel) {
    if (t.root->child == nullptr) {
      t.root->child = n;
      n->backLink = t.root;
    } else {
      while (t.lastTop->next != nullptr) t.lastTop = t.lastTop->next;
      t.lastTop->next = n;
      n->backLink = t.lastTop;
    }
    t.lastTop = n;
    t.topLevel.insert(n);
    t.current = n;
    t.currentTop = n;
    return;
  }
  if (t.current == nullptr || t.current == t.root)
    fatal(110, "Node record at byte %d is outside of any axis.\n", at);
  if (t.pending == 'N' && t.topLevel.count(t.current) != 0) {
    node* axis = t.current;
    if (axis->child == nullptr) {
      axis->child = n;
    } else {
      node* last = axis->child;
      while (last->next != nullptr) last = last->next;
      last->next = n;
    }
    // Attached to the axis as the compiler counts it, so that its next 'P' climbs there.
    n->backLink = axis;
    t.current = n;
    return;
  }
  node*& link = t.pending == 'C' ? t.current->child : t.current->next;
  if (link != nullptr) fatal(110, "Node record at byte %d would replace an earlier node.\n", at);
  link = n;
  n->backLink = t.current;
  t.current = n;
}

int parse(FILE* in, FILE* out) {
  string input = readInput(in);
  const char* text = input.c_str();
  for (int i = 0; i < 4; i++)
    if (!isdigit((unsigned char)text[i])) fatal(110, "Input file is not a valid qv4 file.\n");
  if (text[4] != '|') fatal(110, "Input file is not a valid qv4 file.\n");

  TreeCursor tree;
  int pos = 5;
  bool done = false;
  while (!done && text[pos] != '\0') {
    int at = pos;
    char type = text[pos++];
    noteFirstMeasure(tree, type, text, pos);
    node* n = nullptr;
    bool topLevel = false;
    switch (type) {
      case '8':
        if (tree.root != nullptr) fatal(110, "Input file has a second parameter record.\n");
        tree.root = printSetup(text, &pos, out);
        tree.current = tree.root;
        break;
      case '1': n = readAutobuildRecord(text, &pos); break;
      case '2': n = readDateRecord(text, &pos); break;
      case '3': n = readAxisRecord(text, &pos); topLevel = true; break;
      case '4': n = readExtractRecord(text, &pos); break;
      case '5': n = parseFunction(text, &pos); break;
      case '6': {
        bool rollUp = false;
        n = readMatchLine(text, &pos, inMeasures(tree), &rollUp);
        // A first measure said with a function would stand for the whole measures axis;
        // an empty compute text on the axis keeps it an item, as the compiler had it.
        if (rollUp && tree.pending == 'C' && tree.bareMeasures.count(tree.current) != 0)
          tree.current->text += " compute=\"\"";
        break;
      }
      case '7': {
        int ahead = pos;
        string label = getString(2, text, &ahead);
        string function = getString(2, text, &ahead);
        n = readMeasureRecord(text, &pos);
        topLevel = true;
        tree.measures.insert(n);
        if (function.empty()) tree.bareMeasures.insert(n);
        tree.firstMeasures.push_back({n, label, function, functionItem(label, function)});
        break;
      }
      case '9': n = readLabelRecord(text, &pos); break;
      case 'C':
      case 'N':
        tree.pending = type;
        break;
      case 'P':
        climb(tree);
        break;
      case 'X':
        done = true;
        break;
      default:
        fatal(110, "Unknown node type '%c'\n", type);
    }
    if (n != nullptr) attach(tree, n, topLevel, at);
  }
  if (tree.root == nullptr) fatal(110, "Input file has no parameter record.\n");
  for (auto& m : tree.firstMeasures) {
    // An axis with neither a compute text nor items gets the same record from the line.
    if (m.function.empty() && m.measures->child == nullptr) m.kept = true;
    if (m.kept) continue;
    m.measures->text = formatLine("axis measure \"%s\"", dq(m.label).c_str());
    node* first = newNode();
    first->text = m.firstItem;
    first->backLink = m.measures;
    first->next = m.measures->child;
    if (first->next != nullptr) first->next->backLink = first;
    m.measures->child = first;
  }
  printScriptTree(out, tree.root->child, 0);
  fputs("}\n\n", out);
  return 0;
}
