/* The grammar of the profile language and the actions of tarnwick. The compiled profile is
 * written while the text is read: the actions fill the node variables and call the writer
 * once per node. Every value is checked against its field before the node is written, so
 * the error report can name the line. */

%code requires {
#include <string>
#include <vector>

// The value of a token or a rule.
struct ProfileValue {
  std::string text;   // token text, label, field name, function or encoded expression
  int kind = 0;       // expressions: 0 one operand, 'J' an and-group, 'K' an or-group;
                      // field selectors: 0 whole field, 'G' columns, 'H' part, 'I' part from the end
  std::string first, last, separator;  // numbers and separator of a field selector
  int count = 0;      // depths: leading '+' signs; sort keywords: the sort code
  std::vector<std::string> list;  // values of an in-list, extra arguments of a date
};
}

%define api.value.type {ProfileValue}

%code {
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/preferences.h"
#include "common/util.h"
#include "profile/compiler.h"
#include "profile/lexer.h"
#include "profile/node.h"
#include "profile/writer.h"

using std::string;

// The parser's stack holds 500 states and never grows; a full stack ends the run with
// the parser's own message for it.
#define YYINITDEPTH 500
#define YYMAXDEPTH 500
#define YY_(message) parserMessage(message)
#define YYCOPY(to, from, count) \
  do { for (YYPTRDIFF_T i = 0; i < (count); i++) (to)[i] = (from)[i]; } while (0)
static const char* parserMessage(const char* message) {
  return strcmp(message, "memory exhausted") == 0 ? "yacc stack overflow" : message;
}

int cur_axis = -1;  // index of the axis being read; -1 before the first axis of the file
int measure = 0;    // 0 in a dimension axis; from 1 up, the number of the next measure item

enum { maxAxes = 32 };

// Reports what does not fit the node's record, or writes the node.
static void emitChecked(int depth) {
  string problem = checkNode();
  if (!problem.empty()) error("%s", problem.c_str());
  emit_node(depth);
}

// After every option: a value that does not fit is reported at the line that gave it.
static void optionDone() {
  string problem = checkNode();
  if (!problem.empty()) error("%s", problem.c_str());
}

static void checkText(const char* what, const string& text, size_t limit) {
  if (strlen(text.c_str()) > limit)
    error("%s is longer than %d bytes", what, int(limit));
}

// The colour that a setting name selects, or null.
static Colour* colourNamed(const char* name) {
  static const struct { const char* name; Colour* colour; } names[] = {
      {"verticalcolor", &verticalColour},     {"verticalcolour", &verticalColour},
      {"horizontalcolor", &horizontalColour}, {"horizontalcolour", &horizontalColour},
      {"datacolor", &dataColour},             {"datacolour", &dataColour},
  };
  for (const auto& n : names)
    if (strCompare(name, n.name) == 0) return n.colour;
  return nullptr;
}

void setColour(const char* name, const char* red, const char* green, const char* blue) {
  Colour* c = colourNamed(name);
  if (c == nullptr) error("Unknown color name: %s\n", name);
  *c = {atoi(red), atoi(green), atoi(blue)};
}

void setColourString(const char* name, const char* text) {
  int r, g, b;
  if (sscanf(text, "(%d,%d,%d)", &r, &g, &b) != 3)
    fatal(110, "Cannot understand color format '%s'\n", text);
  setColour(name, std::to_string(r).c_str(), std::to_string(g).c_str(),
            std::to_string(b).c_str());
}

// After every setting: a value that can never fit its field is reported at its own line.
static void settingDone() {
  string problem = checkParameters(0);
  if (!problem.empty()) error("%s", problem.c_str());
}

// Takes the field selector of an autobuild into the node variables.
static void autobuildField(const ProfileValue& spec) {
  currentType = '1';
  currentField = spec.text;
  abType = spec.kind == 0 ? 0 : 1;
  firstPart = spec.first;
  if (spec.kind == 'G') lastPart = spec.last;
  if (spec.kind == 'H' || spec.kind == 'I') subSeparator = spec.separator;
  if (spec.kind == 'I') currentFlag += 4;
}

// The function option of an item: the default roll-up becomes a match item without
// function; any other function is no longer supported and is written as a note.
static void itemFunction(const string& text) {
  if (text == "sum.own(all)") {
    currentFunction.clear();
    currentType = '6';
  } else {
    currentType = '5';
    currentFunction = "Old style function " + text + " must be replaced.";
  }
}

// What the builder can do with an autobuild's selector: the categories it grows carry their
// part or columns as spibbles and the separator as a shortest string, so values beyond
// those would compile and then stop every build. Columns are selected when a single part
// has no separator.
static void autobuildLimits() {
  if (abType == 0) return;
  bool columns = abType == 1 && subSeparator.empty();
  long first = atol(firstPart.c_str()), last = atol(lastPart.c_str());
  const char* what = nullptr;
  if (first > 63)
    what = columns ? "The first column of an autobuild" : "The part of an autobuild";
  else if ((columns || abType == 2) && last > 63)
    what = columns ? "The last column of an autobuild" : "The last part of an autobuild";
  if (what) error("%s must lie between 0 and 63", what);
  if (!columns) checkText("The separator of an autobuild", subSeparator, shortestLimit);
}

static string spibbleOf(const string& number, const char* what) {
  long v = atol(number.c_str());
  if (v < 0 || v > 63) error("%s must lie between 0 and 63", what);
  return string(1, makeSpibble(int(v)));
}

// One condition in its encoded form: the field, its own selector, '=', the operator letter
// and the value.
static ProfileValue makeMatch(char op, const ProfileValue& spec, const string& value) {
  ProfileValue r;
  if (op == 'N' && value.empty()) return r;  // contains nothing: true for every record
  checkText("The field name", spec.text, shortLimit);
  checkText("The value", value, shortLimit);
  r.text = shortString(spec.text.c_str());
  if (spec.kind == 'G') {
    r.text += 'G';
    r.text += spibbleOf(spec.first, "The first column of a match");
    r.text += spibbleOf(spec.last, "The last column of a match");
  } else if (spec.kind == 'H' || spec.kind == 'I') {
    checkText("The separator of a match", spec.separator, shortestLimit);
    r.text += char(spec.kind);
    r.text += shortestString(spec.separator.c_str());
    r.text += spibbleOf(spec.first, "The part of a match");
  }
  r.text += '=';
  r.text += op;
  r.text += shortString(value.c_str());
  return r;
}

// "field in (v1, v2, ...)": the equals tests joined by 'K'. Each test takes the field's
// own selector, so "code[0-1] in (...)" compares the columns the profile names.
static ProfileValue makeInList(const ProfileValue& spec, const std::vector<string>& values) {
  ProfileValue r;
  for (const string& v : values) {
    if (!r.text.empty()) r.text += 'K';
    r.text += makeMatch('L', spec, v).text;
  }
  r.kind = values.size() > 1 ? 'K' : 0;
  return r;
}

// Joins two expressions with 'J' (and) or 'K' (or). The builder reads an expression from
// left to right without precedence, so an operand that is a group of the other connective
// is put in parentheses. An empty expression is true for every record.
static ProfileValue joinMatch(const ProfileValue& a, char op, const ProfileValue& b) {
  if (a.text.empty()) return op == 'J' ? b : a;
  if (b.text.empty()) return op == 'J' ? a : b;
  char other = op == 'J' ? 'K' : 'J';
  ProfileValue r;
  r.text = a.kind == other ? "(" + a.text + ")" : a.text;
  r.text += op;
  r.text += b.kind == other ? "(" + b.text + ")" : b.text;
  r.kind = op;
  return r;
}

static void numberFormat(const string& text) {
  if (text.empty() || text[0] != 'D') error("Format must start with D\n");
  size_t n = text.find('N');
  if (n == string::npos) error("Format does not contain N\n");
  currentFormat1 = atoi(text.c_str() + 1);
  currentFormat2 = atoi(text.c_str() + n + 1);
}

static void fiscalMonth(const string& text) {
  int month = atoi(text.c_str());
  if (month == 0) error("Month for fiscal year end starts with 1, not 0\n");
  if (month < 1 || month > 12) error("Month for fiscal year should be in range 1-12\n");
  endOfFiscalYear = month;
}

// Opens the measures axis; its record waits for the first measure item or the block's end.
static void measuresHead(const string& label) {
  cur_axis++;
  currentDepth = 0;
  measure = 1;
  measureLabel = label.empty() ? "Measures" : label;
}
}

%token BEGIN_MARK END_MARK DOTDOT GE LE NE
%token K_SETUP K_AXIS K_MEASURE K_ITEM K_AUTOBUILD K_MATCH K_FORMAT K_FUNCTION K_COMPUTE
%token K_VALUE K_EXTRACT K_FIXED K_IN K_LIKE
%token K_MULTI_LEVEL_EXPAND K_REVERSE_MULTI_LEVEL_EXPAND K_SUB_FIELD K_SUB_COLUMN K_DATE
%token K_SORTAZ K_SORTZA K_SORT09 K_SORT90
%token K_AND K_OR K_NOT K_EQUALS K_CONTAINS K_STARTSWITH K_ENDSWITH K_REGEXP
%token K_TRUE K_FALSE
%token K_DOLLARS K_PERCENT K_INTEGER K_HOURSMINS
%token K_SUM K_DIFFERENCE K_DELTA K_AVERAGE K_SD K_ONEOF K_MAX K_MIN K_CONSTANT K_PRODUCT
%token K_RATIO K_VARIANCE K_DIVCONST
%token K_OWN K_PREVIOUS K_PEERS K_NEXT K_ALL
%token INTNUM DECNUM DQSTRING SQSTRING REGEX IDENT

%left K_OR
%left K_AND

%%

profile_file
  : profile_block
  | profile_file profile_block
  ;

profile_block
  : BEGIN_MARK setup_block axis_list measure_axis END_MARK  { emit_tail(); }
  | BEGIN_MARK setup_block axis_list END_MARK               { emit_tail(); }
  ;

/* ---- settings ---- */

setup_block
  : K_SETUP '{' settings '}'  {
      string problem = checkParameters(1);
      if (!problem.empty()) error("%s", problem.c_str());
      emit_parameters();
    }
  ;

settings
  : setting
  | settings setting
  ;

setting
  : IDENT '=' DQSTRING  {
      if (colourNamed($1.text.c_str()) != nullptr)
        setColourString($1.text.c_str(), $3.text.c_str());
      else
        setStringParameter($1.text.c_str(), $3.text.c_str());
      settingDone();
    }
  | IDENT '=' number    { setNumericParameter($1.text.c_str(), atoi($3.text.c_str())); settingDone(); }
  | IDENT '=' K_TRUE    { setBooleanParameter($1.text.c_str(), 1); settingDone(); }
  | IDENT '=' K_FALSE   { setBooleanParameter($1.text.c_str(), 0); settingDone(); }
  | IDENT '=' '(' number ',' number ',' number ')'  {
      setColour($1.text.c_str(), $4.text.c_str(), $6.text.c_str(), $8.text.c_str());
      settingDone();
    }
  ;

/* ---- dimension axes ---- */

axis_list
  : axis_def
  | axis_list axis_def
  ;

axis_def
  : axis_head '{' items '}'
  ;

axis_head
  : K_AXIS value opt_compute  {
      cur_axis++;
      if (cur_axis >= maxAxes) error("Too many axes.  The limit is %d\n", maxAxes);
      currentType = '3';
      currentLabel = $2.text;
      currentField = $2.text;
      currentDepth = -1;
      emitChecked(-1);
      measure = 0;
    }
  ;

opt_compute
  : compute_kw '=' value  { currentFunction = $3.text; foundValue = 1; }
  | %empty
  ;

compute_kw
  : K_COMPUTE
  | K_VALUE
  ;

items
  : %empty
  | items item
  ;

item
  : depth value { checkText("The label", $2.text, shortLimit); } item_options  {
      currentDepth = $1.count;
      currentLabel = $2.text;
      emitChecked(currentDepth);
    }
  | depth K_AUTOBUILD '=' autobuild_spec { optionDone(); autobuildLimits(); } opt_sort  {
      currentDepth = $1.count;
      currentSort = $6.count;
      emitChecked(currentDepth);
    }
  ;

depth
  : %empty     { $$ = ProfileValue(); }
  | depth '+'  {
      $$ = $1;
      $$.count++;
      if ($$.count > maxItemDepth) error("Items may be nested at most %d levels deep", maxItemDepth);
    }
  ;

item_options
  : item_option                 { optionDone(); }
  | item_options item_option    { optionDone(); }
  ;

item_option
  : K_MATCH '(' match_expr ')'  {
      currentType = '6';
      currentTarget = $3.text;
    }
  | K_FORMAT '=' format_name
  | K_FUNCTION '=' func_expr        { itemFunction($3.text); }
  | compute_kw '=' DQSTRING         {
      currentFunction = $3.text;
      if (currentType != '6') currentType = '5';
    }
  | sort_kw                         { currentSort = $1.count; }
  ;

/* ---- the measures axis ---- */

measure_axis
  : measure_head '{' measure_items '}'
  ;

measure_head
  : K_AXIS K_MEASURE opt_label opt_compute  { measuresHead($3.text); }
  | K_MEASURE opt_label opt_compute         { measuresHead($2.text); }
  ;

opt_label
  : value    { $$ = $1; }
  | %empty   { $$ = ProfileValue(); }
  ;

measure_items
  : %empty
  | measure_items measure_item
  ;

measure_item
  : depth value { checkText("The label", $2.text, shortLimit); } measure_options  {
      currentDepth = $1.count;
      currentLabel = $2.text;
      if (measure_kludge) {
        // The first measure's function stands for the whole measures axis.
        measureLabel = currentLabel;
        currentType = '7';
        emitChecked(-1);
      } else {
        if (measure == 1) {
          int type = currentType;
          currentType = '7';
          saveVariables = 1;
          emitChecked(-1);
          currentType = type;
        }
        emitChecked(currentDepth);
      }
      measure++;
    }
  ;

measure_options
  : measure_option                    { optionDone(); }
  | measure_options measure_option    { optionDone(); }
  ;

measure_option
  : K_FORMAT '=' format_name
  | K_EXTRACT '=' field_spec        {
      // The extract record carries a field name only: a selector would be dropped and the
      // whole field summed.
      if ($3.kind != 0) error("A measure extracts a whole field, not a part or columns of it");
      currentType = '4';
      currentField = $3.text;
    }
  | K_EXTRACT '=' '-' field
  | K_FUNCTION '=' func_expr        {
      if (measure == 1 && !foundValue) {
        measure_kludge = 1;
        currentType = '7';
        currentFunction = $3.text;
      } else {
        itemFunction($3.text);
      }
    }
  | compute_kw '=' DQSTRING         { currentFunction = $3.text; currentType = '5'; }
  | sort_kw                         { currentSort = $1.count; }
  ;

/* ---- item options ---- */

opt_sort
  : sort_kw   { $$ = $1; }
  | %empty    { $$ = ProfileValue(); }
  ;

sort_kw
  : K_SORTAZ  { $$ = ProfileValue(); $$.count = 1; }
  | K_SORTZA  { $$ = ProfileValue(); $$.count = 2; }
  | K_SORT09  { $$ = ProfileValue(); $$.count = 3; }
  | K_SORT90  { $$ = ProfileValue(); $$.count = 4; }
  ;

format_name
  : K_DOLLARS    { currentFormat1 = 1; currentFormat2 = 3; }
  | K_PERCENT    { currentFormat1 = 11; currentFormat2 = 9; }
  | K_INTEGER    { currentFormat1 = 0; currentFormat2 = 0; }
  | K_HOURSMINS  { currentFormat1 = 12; currentFormat2 = 9; }
  | DQSTRING     { numberFormat($1.text); }
  ;

func_expr
  : aggregator '.' scope '(' func_args ')'  {
      $$ = ProfileValue();
      $$.text = $1.text + "." + $3.text + "(" + $5.text + ")";
    }
  ;

aggregator
  : K_SUM | K_DIFFERENCE | K_DELTA | K_AVERAGE | K_SD | K_ONEOF | K_MAX | K_MIN
  | K_PRODUCT | K_CONSTANT | K_RATIO | K_VARIANCE | K_DIVCONST
  ;

scope
  : K_OWN | K_PREVIOUS | K_PEERS | K_NEXT
  ;

func_args
  : arg                 { $$ = $1; }
  | arg ',' arg         { $$ = ProfileValue(); $$.text = $1.text + "," + $3.text; }
  | arg DOTDOT arg      { $$ = ProfileValue(); $$.text = $1.text + "-" + $3.text; }
  | INTNUM '-' INTNUM   { $$ = ProfileValue(); $$.text = $1.text + "-" + $3.text; }
  | K_ALL               { $$ = ProfileValue(); $$.text = "all"; }
  ;

/* ---- autobuild ---- */

autobuild_spec
  : field_spec  { autobuildField($1); }
  | K_MULTI_LEVEL_EXPAND '(' field ',' arg ',' arg ',' value ')'  {
      currentType = '1';
      currentField = $3.text;
      abType = 2;
      firstPart = $5.text;
      lastPart = $7.text;
      subSeparator = $9.text;
    }
  | K_REVERSE_MULTI_LEVEL_EXPAND '(' field ',' arg ',' arg ',' value ')'  {
      currentType = '1';
      currentField = $3.text;
      abType = 2;
      firstPart = $5.text;
      lastPart = $7.text;
      subSeparator = $9.text;
      currentFlag += 4;
    }
  | K_SUB_FIELD '(' field ',' arg ',' value ')'  {
      currentType = '1';
      currentField = $3.text;
      abType = 1;
      firstPart = $5.text;
      subSeparator = $7.text;
    }
  | K_SUB_FIELD '(' field ',' arg ',' value ',' K_FIXED ')'  {
      currentType = '1';
      currentField = $3.text;
      abType = 1;
      firstPart = $5.text;
      lastPart = std::to_string(atoi($7.text.c_str()));
      currentFlag += 2;
    }
  | K_SUB_COLUMN '(' field ',' arg ',' arg ')'  {
      currentType = '1';
      currentField = $3.text;
      abType = 1;
      firstPart = $5.text;
      lastPart = $7.text;
    }
  | K_DATE '(' field ',' value ',' value date_extra ')'  {
      currentType = '2';
      currentField = $3.text;
      date_in = $5.text;
      date_out = $7.text;
      const std::vector<string>& extra = $8.list;
      if (extra.size() == 1 || extra.size() == 3) fiscalMonth(extra[0]);
      if (extra.size() >= 2) {
        startYear = extra[extra.size() - 2];
        endYear = extra[extra.size() - 1];
      }
    }
  ;

date_extra
  : %empty                  { $$ = ProfileValue(); }
  | ',' arg                 { $$ = ProfileValue(); $$.list = {$2.text}; }
  | ',' arg ',' arg         { $$ = ProfileValue(); $$.list = {$2.text, $4.text}; }
  | ',' arg ',' arg ',' arg { $$ = ProfileValue(); $$.list = {$2.text, $4.text, $6.text}; }
  ;

field_spec
  : field subfield  { $$ = $2; $$.text = $1.text; }
  ;

field
  : IDENT     { $$ = $1; }
  | SQSTRING  { $$ = $1; }
  ;

subfield
  : '[' INTNUM '-' INTNUM ']'      { $$ = ProfileValue(); $$.kind = 'G'; $$.first = $2.text; $$.last = $4.text; }
  | '[' INTNUM ',' value ']'       { $$ = ProfileValue(); $$.kind = 'H'; $$.first = $2.text; $$.separator = $4.text; }
  | '[' '-' INTNUM ',' value ']'   { $$ = ProfileValue(); $$.kind = 'I'; $$.first = $3.text; $$.separator = $5.text; }
  | %empty                         { $$ = ProfileValue(); }
  ;

/* ---- match expressions ---- */

match_expr
  : '(' match_expr ')'  {
      $$ = ProfileValue();
      if (!$2.text.empty()) $$.text = "(" + $2.text + ")";
    }
  | match_expr K_AND match_expr  { $$ = joinMatch($1, 'J', $3); }
  | match_expr K_OR match_expr   { $$ = joinMatch($1, 'K', $3); }
  | condition                    { $$ = $1; }
  ;

condition
  : field_spec '=' value                   { $$ = makeMatch('L', $1, $3.text); }
  | field_spec '=' REGEX                   { $$ = makeMatch('Z', $1, $3.text); }
  | field_spec K_IN '(' in_values ')'      { $$ = makeInList($1, $4.list); }
  | field_spec K_EQUALS value              { $$ = makeMatch('L', $1, $3.text); }
  | field_spec K_NOT K_EQUALS value        { $$ = makeMatch('M', $1, $4.text); }
  | field_spec K_CONTAINS value            { $$ = makeMatch('N', $1, $3.text); }
  | field_spec K_NOT K_CONTAINS value      { $$ = makeMatch('O', $1, $4.text); }
  | field_spec K_STARTSWITH value          { $$ = makeMatch('P', $1, $3.text); }
  | field_spec K_NOT K_STARTSWITH value    { $$ = makeMatch('Q', $1, $4.text); }
  | field_spec K_ENDSWITH value            { $$ = makeMatch('R', $1, $3.text); }
  | field_spec K_NOT K_ENDSWITH value      { $$ = makeMatch('S', $1, $4.text); }
  | field_spec K_REGEXP value              { $$ = makeMatch('Z', $1, $3.text); }
  | field_spec K_NOT K_REGEXP value        { $$ = makeMatch('z', $1, $4.text); }
  | field_spec '=' number                  { $$ = makeMatch('T', $1, $3.text); }
  | field_spec NE number                   { $$ = makeMatch('U', $1, $3.text); }
  | field_spec K_NOT '=' number            { $$ = makeMatch('U', $1, $4.text); }
  | field_spec '>' number                  { $$ = makeMatch('V', $1, $3.text); }
  | field_spec '<' number                  { $$ = makeMatch('W', $1, $3.text); }
  | field_spec GE number                   { $$ = makeMatch('X', $1, $3.text); }
  | field_spec LE number                   { $$ = makeMatch('Y', $1, $3.text); }
  ;

in_values
  : value                { $$ = ProfileValue(); $$.list = {$1.text}; }
  | in_values ',' value  { $$ = $1; $$.list.push_back($3.text); }
  ;

/* ---- values ---- */

value
  : DQSTRING  { $$ = $1; }
  | SQSTRING  { $$ = $1; }
  | K_TRUE    { $$ = ProfileValue(); $$.text = "true"; }
  | K_FALSE   { $$ = ProfileValue(); $$.text = "false"; }
  ;

arg
  : value       { $$ = $1; }
  | DECNUM      { $$ = $1; }
  | INTNUM      { $$ = $1; }
  | '-' INTNUM  { $$ = ProfileValue(); $$.text = "-" + $2.text; }
  ;

number
  : DECNUM      { $$ = $1; }
  | INTNUM      { $$ = $1; }
  | '-' INTNUM  { $$ = ProfileValue(); $$.text = "-" + $2.text; }
  ;

%%
