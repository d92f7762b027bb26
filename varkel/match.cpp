// Match expressions: parsing the encoded form into trees, evaluating trees against the
// current record, printing them back, and generating the one-leaf equality matches of the
// categories that tree growth and the date generator create.
#include "varkel/match.h"

#include <cassert>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/datasource.h"
#include "varkel/escapes.h"
#include "varkel/fieldparts.h"
#include "varkel/input.h"
#include "varkel/options.h"
#include "varkel/recordfield.h"
#include "varkel/settings.h"
#include "varkel/workbuffers.h"

// The shared value of every leaf whose value is the blank label: such a leaf compares with
// the empty text, so a category of empty fields matches the empty field. Never freed.
char matchEmptyText[1] = {'\0'};

namespace {

// Deepest nesting of parentheses the parser follows; far beyond any real expression, it
// keeps a hostile query from exhausting the stack.
const int maxNesting = 1000;

// Connector nodes whose left (or right) operand evalMatch is evaluating; reused across
// calls so that evaluating a record allocates nothing.
struct EvalFrame {
  _MatchTree* node;
  bool inRight;
};
std::vector<EvalFrame> evalStack;

char* copyText(const char* text) {
  size_t n = strlen(text);
  char* copy = static_cast<char*>(malloc(n + 1));
  matchCheckAlloc(copy);
  memcpy(copy, text, n + 1);
  return copy;
}

_MatchTree* newNode(int type) {
  _MatchTree* node = static_cast<_MatchTree*>(calloc(1, sizeof(_MatchTree)));
  matchCheckAlloc(node);
  node->type = type;
  return node;
}

Match* newMatch() {
  Match* m = new (std::nothrow) Match();
  matchCheckAlloc(m);
  return m;
}

// Sets value and valueLength from the text as written for operator op. A pattern keeps
// its text even when it equals the blank label's, so that the printed leaf reads back as
// the same pattern.
void setValue(Match* m, char op, const char* text) {
  m->valueLength = static_cast<int>(strlen(text));
  bool pattern = op == 'Z' || op == 'z';
  m->value = !pattern && strcmp(text, blankLabel) == 0 ? matchEmptyText : copyText(text);
}

// Sets the operator letter and what it needs precomputed; written is the value as written.
void setOperator(Match* m, char op, const char* written) {
  switch (op) {
    case 'L': case 'M': case 'N': case 'O': case 'P': case 'Q': case 'R': case 'S': case 'y':
      break;
    case 'T': case 'U': case 'V': case 'W': case 'X': case 'Y':
      m->number = atof(m->value);
      break;
    case 'Z': case 'z':
      // The pattern as the user wrote it: a pattern equal to the blank label's text is
      // still that pattern, not the empty pattern that matches everything.
      m->pattern = rx::regcomp(written);
      break;
    default:
      matchInternalError();
  }
  m->op = op;
}

// A spibble of the expression at *pos; a character that is no spibble is error 110.
int readSpibble(const char* text, int* pos) {
  int v = getSpibble(text, pos);
  if (v < 0) fatal(110, "Bad number '%c' in expression '%s'\n", text[*pos - 1], text);
  return v;
}

// The character at *pos, advancing past it; the end of the text is error 110.
char readChar(const char* text, int* pos) {
  char c = text[*pos];
  if (c == '\0') fatal(110, "Expression '%s' ends inside a condition\n", text);
  (*pos)++;
  return c;
}

_MatchTree* parseLeaf(const char* text, int* pos) {
  std::string name = getString(2, text, pos);
  int field = getFieldIndex(name.c_str());
  if (field < 0 || field >= maxInputFields)
    fatal(110, "Field %d out of range in expression '%s'\n", field, text);
  Match* m = newMatch();
  m->field = field;
  char target = readChar(text, pos);
  switch (target) {
    case '=':
      m->kind = MATCH_WHOLE;
      break;
    case 'H':
    case 'I':
      m->kind = target == 'H' ? MATCH_PART : MATCH_BACK_PART;
      m->separators = copyText(getString(1, text, pos).c_str());
      (target == 'H' ? m->part : m->backPart) = readSpibble(text, pos);
      readChar(text, pos);  // the '='
      break;
    case 'G':
      m->kind = MATCH_COLUMNS;
      m->firstColumn = readSpibble(text, pos);
      m->lastColumn = readSpibble(text, pos);
      readChar(text, pos);  // the '='
      break;
    default:
      matchInternalError();
  }
  char op = readChar(text, pos);
  std::string written = getString(2, text, pos);
  setValue(m, op, written.c_str());
  setOperator(m, op, written.c_str());
  _MatchTree* node = newNode(MATCH_LEAF);
  node->leaf = m;
  return node;
}

_MatchTree* parseLevel(const char* text, int* pos, int depth, int open);

// One operand: a parenthesised expression (an empty one gives null) or a leaf. open is
// the position of the innermost "(" still open around it, -1 at the top level.
_MatchTree* parseOperand(const char* text, int* pos, int depth, int open) {
  // A text that ends where an operand is due inside a group leaves that group unclosed.
  if (text[*pos] == '\0' && open >= 0)
    fatal(110, "Unmatched parens in expression '%s'\n", text + open);
  if (text[*pos] != '(') return parseLeaf(text, pos);
  int here = *pos;
  // With no ")" anywhere after it, this "(" is the one left open, whatever lies inside.
  if (!strchr(text + here, ')'))
    fatal(110, "Unmatched parens in expression '%s'\n", text + here);
  if (depth >= maxNesting) fatal(110, "Expression nested too deeply in '%s'\n", text);
  (*pos)++;
  _MatchTree* inner = text[*pos] == ')' ? nullptr : parseLevel(text, pos, depth + 1, here);
  if (text[*pos] != ')') fatal(110, "Unmatched parens in expression '%s'\n", text + here);
  (*pos)++;
  return inner;
}

// Operands joined by connectors up to the end of the text, or up to the ")" that closes
// the group when depth is above 0; each connector joins all before it with the next operand.
_MatchTree* parseLevel(const char* text, int* pos, int depth, int open) {
  _MatchTree* tree = parseOperand(text, pos, depth, open);
  for (;;) {
    char c = text[*pos];
    if (c == '\0' || (c == ')' && depth > 0)) return tree;
    int type;
    if (c == 'J' || c == ';')
      type = MATCH_AND;
    else if (c == 'K')
      type = MATCH_OR;
    else
      fatal(110, "Unknown connector '%c' in '%s'\n", c, text);
    (*pos)++;
    _MatchTree* node = newNode(type);
    node->left = tree;
    node->right = parseOperand(text, pos, depth, open);
    tree = node;
  }
}

// The text a whole-field or left-part leaf compares, found in place: sets *start and
// returns its length. The same text matchTarget copies out.
size_t leafSpan(const Match* m, const char** start) {
  if (m->kind == MATCH_PART)
    return (size_t)extractPartSpan(m->field, m->part, m->separators, start);
  *start = currentField(m->field);
  return strnlen(*start, fieldSize - 1);
}

// True when value is exactly the n characters at s (which hold no NUL); with ignoreCase,
// as strCompare compares.
bool spanEquals(const char* s, size_t n, const char* value, bool ignoreCase) {
  for (size_t i = 0; i < n; i++) {
    if (value[i] == '\0') return false;
    if (s[i] != value[i] &&
        (!ignoreCase || tolower((unsigned char)s[i]) != tolower((unsigned char)value[i])))
      return false;
  }
  return value[n] == '\0';
}

int evalLeaf(Match* m) {
  // Equality tests of a whole field or a part from the left, the tests of nearly every
  // category, compare the text where it lies instead of copying it out first.
  if ((m->op == 'L' || m->op == 'M' || m->op == 'y') &&
      (m->kind == MATCH_WHOLE || m->kind == MATCH_PART)) {
    const char* start;
    size_t n = leafSpan(m, &start);
    bool equal = spanEquals(start, n, m->value, m->op == 'y');
    return m->op == 'M' ? !equal : equal;
  }
  const char* target = matchTarget(m);
  bool bad;
  switch (m->op) {
    case 'L': return strcmp(target, m->value) == 0;
    case 'M': return strcmp(target, m->value) != 0;
    case 'N': return strstr(target, m->value) != nullptr;
    case 'O': return strstr(target, m->value) == nullptr;
    case 'P': return strncmp(target, m->value, m->valueLength) == 0;
    case 'Q': return strncmp(target, m->value, m->valueLength) != 0;
    case 'R': return endsWith(target, m->value);
    case 'S': return !endsWith(target, m->value);
    case 'T': return convertToNumber(target, bad) == m->number;
    case 'U': return convertToNumber(target, bad) != m->number;
    case 'V': return convertToNumber(target, bad) > m->number;
    case 'W': return convertToNumber(target, bad) < m->number;
    case 'X': return convertToNumber(target, bad) >= m->number;
    case 'Y': return convertToNumber(target, bad) <= m->number;
    case 'Z': return rx::regexec(m->pattern, target) != 0;
    case 'z': return rx::regexec(m->pattern, target) == 0;
    case 'y': return strCompare(target, m->value) == 0;
    default: matchInternalError();
  }
}

// The shortest string of a leaf's separators; printed, the separators are escaped like
// values (a ';' among them must not end a tree entry) after a length that counts them.
std::string encodeSeparators(const Match* m, bool printed) {
  std::string s = makeString(1, m->separators);
  return printed ? s.substr(0, 1) + escapeCarefully(m->separators) : s;
}

// The encoded target of a leaf: "", "H"/"I" with separators and a part, or "G" and columns.
std::string encodeTarget(const Match* m, bool printed = false) {
  std::string s;
  switch (m->kind) {
    case MATCH_WHOLE:
      break;
    case MATCH_PART:
      s = "H" + encodeSeparators(m, printed) + makeSpibble(m->part);
      break;
    case MATCH_BACK_PART:
      s = "I" + encodeSeparators(m, printed) + makeSpibble(m->backPart);
      break;
    case MATCH_COLUMNS:
      s = std::string("G") + makeSpibble(m->firstColumn) + makeSpibble(m->lastColumn);
      break;
    default:
      matchInternalError();
  }
  return s;
}

std::string fieldName(int field) {
  char name[16];
  snprintf(name, sizeof name, "f%d", field);
  return makeString(2, name);
}

void printLeaf(FILE* stream, const Match* m) {
  fputs(fieldName(m->field).c_str(), stream);
  fputs(encodeTarget(m, true).c_str(), stream);
  fputc('=', stream);
  fputc(m->op, stream);
  // A starts-with test of the blank label compares its whole length with the empty text;
  // written as the empty text it would read back as a test every record passes.
  const char* value = m->value;
  if (value == matchEmptyText && (m->op == 'P' || m->op == 'Q')) value = blankLabel;
  // The length counts the value's own bytes, all of which follow it, escaped.
  std::string length = makeString(2, value);
  fwrite(length.data(), 1, 2, stream);
  outputEscaped(value, stream);
}

void printTree(FILE* stream, const _MatchTree* tree) {
  if (!tree) return;
  switch (tree->type) {
    case MATCH_AND:
    case MATCH_OR:
      fputc('(', stream);
      printTree(stream, tree->left);
      fputs(tree->type == MATCH_AND ? ")J(" : ")K(", stream);
      printTree(stream, tree->right);
      fputc(')', stream);
      break;
    case MATCH_LEAF:
      if (!tree->leaf) matchInternalError();
      printLeaf(stream, tree->leaf);
      break;
    default:
      matchInternalError();
  }
}

// Where the Match of a generated leaf lies in its block: after the node, aligned.
const size_t leafOffset =
    (sizeof(_MatchTree) + alignof(Match) - 1) / alignof(Match) * alignof(Match);

// The encoded text of the leaf being generated; kept between calls so that a category
// costs no allocation for it.
std::string leafText;

// A generated leaf is one allocation: the node, then its Match, its encoded text, whose
// tail is the value, and its separators, since a level of a million categories makes one
// leaf for each.
_MatchTree* createLeaf(const char* value, int field, int part, int backPart, int firstColumn,
                       int lastColumn, const char* separators, char op) {
  if (!value) value = "";
  int kind = part != -1        ? MATCH_PART
             : backPart != -1  ? MATCH_BACK_PART
             : firstColumn != -1 ? MATCH_COLUMNS
                                 : MATCH_WHOLE;
  leafText = fieldName(field);
  switch (kind) {
    case MATCH_WHOLE:
      break;
    case MATCH_PART:
    case MATCH_BACK_PART:
      leafText += kind == MATCH_PART ? 'H' : 'I';
      leafText += makeString(1, separators ? separators : "");
      leafText += makeSpibble(kind == MATCH_PART ? part : backPart);
      break;
    default:
      leafText += 'G';
      leafText += makeSpibble(firstColumn);
      leafText += makeSpibble(lastColumn);
  }
  leafText += '=';
  leafText += op;
  leafText += makeString(2, value);

  size_t valueLength = strlen(value);
  bool pattern = op == 'Z' || op == 'z';
  bool blank = !pattern && strcmp(value, blankLabel) == 0;
  size_t separatorBytes = separators && *separators ? strlen(separators) + 1 : 0;
  char* block = static_cast<char*>(
      malloc(leafOffset + sizeof(Match) + leafText.size() + 1 + separatorBytes));
  matchCheckAlloc(block);
  _MatchTree* node = new (block) _MatchTree();
  node->type = MATCH_LEAF;
  node->inOneBlock = 1;
  Match* m = new (block + leafOffset) Match();
  m->field = field;
  m->part = static_cast<int8_t>(part);
  m->backPart = static_cast<int8_t>(backPart);
  m->firstColumn = static_cast<int8_t>(firstColumn);
  m->lastColumn = static_cast<int8_t>(lastColumn);
  m->kind = static_cast<int16_t>(kind);
  m->valueLength = static_cast<int>(valueLength);
  node->leaf = m;
  node->text = block + leafOffset + sizeof(Match);
  memcpy(node->text, leafText.c_str(), leafText.size() + 1);
  if (separatorBytes) {
    char* copy = node->text + leafText.size() + 1;
    memcpy(copy, separators, separatorBytes);
    m->separators = copy;
  }
  // The encoded text ends with the value as it is, which the leaf compares in place.
  assert(leafText.size() >= valueLength &&
         leafText.compare(leafText.size() - valueLength, valueLength, value) == 0);
  m->value = blank ? matchEmptyText : node->text + (leafText.size() - valueLength);
  setOperator(m, op, value);
  return node;
}

}  // namespace

void matchCheckAlloc(void* p) {
  if (!p) fatal(100, "Out of memory.\n");
}

void matchInternalError() { fatal(109, "Internal matching error.\n"); }

_MatchTree* matchParseExpression(const char* text) {
  if (!text || !*text) return nullptr;
  int pos = 0;
  _MatchTree* tree = parseLevel(text, &pos, 0, -1);
  if (tree) tree->text = copyText(text);
  return tree;
}

int evalMatch(_MatchTree* tree) {
  if (!tree) return 1;
  // Most trees are one leaf: a category's own condition.
  if (tree->type == MATCH_LEAF && tree->leaf) return evalLeaf(tree->leaf);
  evalStack.clear();
  _MatchTree* node = tree;
  for (;;) {
    // Down the left operands to a leaf.
    while (node->type == MATCH_AND || node->type == MATCH_OR) {
      evalStack.push_back({node, false});
      node = node->left;
      if (!node) matchInternalError();
    }
    if (node->type != MATCH_LEAF || !node->leaf) matchInternalError();
    int result = evalLeaf(node->leaf);
    // Back up until a connector still needs its right operand.
    node = nullptr;
    while (!evalStack.empty()) {
      EvalFrame& frame = evalStack.back();
      bool decided = frame.node->type == MATCH_AND ? !result : result;
      if (frame.inRight || decided) {
        evalStack.pop_back();
        continue;
      }
      frame.inRight = true;
      node = frame.node->right;
      if (!node) matchInternalError();
      break;
    }
    if (!node) return result;
  }
}

int evalMatchTarget(_MatchTree* tree, const char* /*text*/) { return evalMatch(tree); }

const char* matchTarget(Match* m) {
  int more;
  switch (m->kind) {
    case MATCH_WHOLE:
    {
      // A field outside the record reads as empty, never outside inputFields.
      const char* text = currentField(m->field);
      return setPartPattern(text, strnlen(text, fieldSize - 1));
    }
    case MATCH_PART:
      return extractPart(m->field, m->part, m->separators, &more);
    case MATCH_BACK_PART:
      return reverseExtractPart(m->field, m->backPart, m->separators, &more);
    case MATCH_COLUMNS:
      extractFieldColumns(m->firstColumn, m->lastColumn, currentField(m->field));
      return partPattern;
    default:
      matchInternalError();
  }
}

void matchPrint(FILE* stream, _MatchTree* tree) {
  if (!tree || !tree->text) return;
  fputs(";f0=", stream);
  printTree(stream, tree);
}

void matchDebugPrint(FILE* stream, _MatchTree* tree) {
  if (tree && tree->text) fprintf(stream, " \"%s\" ", tree->text);
}

_MatchTree* matchCreateString(const char* value, int field, int part, int backPart,
                              int firstColumn, int lastColumn, const char* separators) {
  return createLeaf(value, field, part, backPart, firstColumn, lastColumn, separators, 'L');
}

_MatchTree* matchCreateRegexp(const char* value, int field, int part, int backPart,
                              int firstColumn, int lastColumn, const char* separators) {
  return createLeaf(value, field, part, backPart, firstColumn, lastColumn, separators, 'Z');
}

_MatchTree* matchAppend(_MatchTree* left, _MatchTree* right, int type) {
  if (type != MATCH_AND && type != MATCH_OR) matchInternalError();
  _MatchTree* node = newNode(type);
  node->left = left;
  node->right = right;
  return node;
}

void matchTranslateFields(_MatchTree* tree) {
  // Left operands iteratively (connector chains grow to the left), right ones recursively.
  while (tree) {
    if (tree->type == MATCH_LEAF) {
      if (tree->leaf) tree->leaf->field = mapField(tree->leaf->field);
      return;
    }
    matchTranslateFields(tree->right);
    tree = tree->left;
  }
}

void MapField::operator()(AxisLabel& label) const {
  if (label.field >= 0) label.field = mapField(label.field);
  matchTranslateFields(label.match);
}

void matchFree(_MatchTree* tree) {
  while (tree) {
    _MatchTree* left = tree->left;
    matchFree(tree->right);
    bool block = tree->inOneBlock != 0;
    if (!block) free(tree->text);
    if (Match* m = tree->leaf) {
      if (!m->borrowed) {
        if (!block && m->value != matchEmptyText) free(m->value);
        if (!block && m->separators != matchEmptyText) free(const_cast<char*>(m->separators));
        if (matchHasPattern(*m)) free(m->pattern);
      }
      if (block)
        m->~Match();
      else
        delete m;
    }
    free(tree);
    tree = left;
  }
}

Match* copyMatch(const Match* match) {
  Match* m = newMatch();
  *m = *match;
  m->borrowed = true;
  return m;
}

bool isExactQuery(_MatchTree* tree, std::string& out) {
  if (!tree || tree->type != MATCH_LEAF || !tree->leaf) return false;
  const Match* m = tree->leaf;
  if (m->kind != MATCH_WHOLE || m->op != 'L') return false;
  out = m->value;
  return true;
}
