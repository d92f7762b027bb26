// The compiled-profile writer: one line of text per compilation, a block per profile
// block. Readers take every field by position, so nothing that does not fit its field is
// ever written: checkParameters and checkNode say what does not fit, and the emitters end
// the run with error 110 rather than write it.
#include "profile/writer.h"

#include <cstdlib>
#include <cstring>

#include "common/preferences.h"
#include "common/textutil.h"
#include "common/util.h"
#include "profile/node.h"

Colour verticalColour = {158, 207, 178};    // colour of the vertical axis
Colour horizontalColour = {158, 158, 207};  // colour of the horizontal axis
Colour dataColour = {90, 150, 255};         // colour of the data cells

int lastDepth = -1;                    // depth of the node written last
int forceChild = 0;                    // the next node becomes a first child
int hangingNodes[maxItemDepth + 1];    // 'P' steps back to the parent, per depth
int measureEmitted = 0;                // a measures record is in the file
int saveVariables = 0;                 // keep the node variables over one emit_node
string measureLabel;                   // label of the measures axis
FILE* qv4File = stdout;                // the compiled profile being written

// The data string is copied into the short parameter row 1 only below this length.
enum { dataCopyLimit = 250 };

// Declared depths of the items on the path from the axis root to the node written last.
// An item may be written more than one '+' deeper than the item above it; it then hangs
// one level below that item, and the depths below are counted as the tree really nests,
// so that climbing back never passes the right parent.
static int openDepths[maxItemDepth + 1];
static int openCount = 0;

// The tree depth of an item declared at depth (-1 for a root, which closes every level).
static int treeDepth(int depth) {
  if (depth < 0) {
    openCount = 0;
    return depth;
  }
  while (openCount > 0 && openDepths[openCount - 1] >= depth) openCount--;
  openDepths[openCount] = depth;
  return openCount++;
}

void resetWriter() {
  treeDepth(-1);
  lastDepth = -1;
  forceChild = 0;
  for (int& n : hangingNodes) n = 0;
  measureEmitted = 0;
  saveVariables = 0;
}

string shortString(const char* s) { return makeString(2, s); }
string longString(const char* s) { return makeString(4, s); }
string shortestString(const char* s) { return makeString(1, s); }

static void put(const string& s) { fputs(s.c_str(), qv4File); }
static void putChar(char c) { fputc(c, qv4File); }
static void putHex(int width, int v) { fprintf(qv4File, "%0*x", width, v); }

void emit_colour(Colour c) {
  fprintf(qv4File, "%02x%02x%02x", c.red, c.green, c.blue);
}

// The data-source string as the parameter record carries it: with ';', the header flag,
// ';' and the separator appended, unless it is an ODBC source.
static string dataWithSuffix() {
  string data = lsParams[5].value;
  if (data.compare(0, 5, "odbc:") == 0) return data;
  return data + ";" + (firstFieldNames ? "1" : "0") + ";" + sep;
}

// The first problem found wins: each check sets problem only while it is still empty.
static void checkLength(string& problem, const char* what, const string& text, size_t limit) {
  if (problem.empty() && strlen(text.c_str()) > limit)
    problem = string(what) + " is longer than " + std::to_string(limit) + " bytes";
}

static void checkFunctionText(string& problem, const char* what, const string& text) {
  if (problem.empty() && breaksTreeItem(text))
    problem = string(what) + " must not hold ';' or a line break";
}

static void checkRange(string& problem, const char* what, long v, long low, long high) {
  if (problem.empty() && (v < low || v > high))
    problem = string(what) + " must lie between " + std::to_string(low) + " and " +
              std::to_string(high);
}

static void checkColour(string& problem, const char* what, Colour c) {
  checkRange(problem, what, c.red, 0, 255);
  checkRange(problem, what, c.green, 0, 255);
  checkRange(problem, what, c.blue, 0, 255);
}

string checkParameters(int withSeparator) {
  string problem;
  checkRange(problem, "decimalpoints", decimalPoints, 0, 255);
  checkColour(problem, "Each component of verticalcolor", verticalColour);
  checkColour(problem, "Each component of horizontalcolor", horizontalColour);
  checkColour(problem, "Each component of datacolor", dataColour);
  checkRange(problem, "height", height, 0, 65535);
  checkRange(problem, "width", width, 0, 65535);
  bool odbc = lsParams[5].value.compare(0, 5, "odbc:") == 0;
  if (problem.empty() && withSeparator && !odbc && sep.size() != 1)
    problem = "The separator must be one character";
  for (int i = 0; i < numSParams; i++)
    if (i != 1) checkLength(problem, ("Parameter " + string(sParams[i].name)).c_str(),
                            sParams[i].value, shortLimit);
  for (int i = 0; i < numLsParams; i++) {
    const string& v = i == 5 ? dataWithSuffix() : lsParams[i].value;
    checkLength(problem, ("Parameter " + string(lsParams[i].name)).c_str(), v, longStringMax);
  }
  for (int i = 0; i < numByteParams; i++)
    checkRange(problem, ("Parameter " + string(byteParams[i].name)).c_str(),
               byteParams[i].value, 0, 255);
  return problem;
}

void emit_parameters() {
  string problem = checkParameters();
  if (!problem.empty()) fatal(110, "%s\n", problem.c_str());
  put("0411|");
  putChar('8');
  for (int i = 0; i < numBParams; i++) putChar(bParams[i].value ? '1' : '0');
  putHex(2, decimalPoints);
  emit_colour(verticalColour);
  emit_colour(horizontalColour);
  emit_colour(dataColour);
  putHex(4, height);
  putHex(4, width);
  string data = dataWithSuffix();
  for (int i = 0; i < numSParams; i++) {
    if (i == 1)
      put(shortString(data.size() < dataCopyLimit ? data.c_str() : ""));
    else
      put(shortString(sParams[i].value.c_str()));
  }
  for (int i = 0; i < numLsParams; i++)
    put(longString(i == 5 ? data.c_str() : lsParams[i].value.c_str()));
  for (int i = 0; i < numNbParams; i++) putChar(nbParams[i].value ? '1' : '0');
  for (int i = 0; i < numByteParams; i++) putHex(2, byteParams[i].value);
  putChar('|');
  forceChild = 1;
}

// An axis compute text that is the default roll-up is written as none.
static bool isDefaultFunction(const string& f) { return f.empty() || f == "sum.own(all)"; }

// An extract of this field counts records and is written as a label record.
static bool isCountingField(const string& f) { return f == "-1" || f == "f-1"; }

string checkNode() {
  string problem;
  if (currentDepth != -1)
    checkRange(problem, "The item depth", currentDepth, 0, maxItemDepth);
  const string& label = currentLabel;
  switch (currentType) {
    case '3':
      checkRange(problem, "The item flag", currentFlag, 0, 63);
      checkLength(problem, "The axis label", label, shortLimit);
      checkLength(problem, "The compute text", currentFunction, shortLimit);
      checkFunctionText(problem, "The compute text", currentFunction);
      break;
    case '7':
      checkLength(problem, "The measures label", measureLabel, shortLimit);
      checkLength(problem, "The compute text", currentFunction, shortLimit);
      checkFunctionText(problem, "The compute text", currentFunction);
      break;
    case '1':
      checkRange(problem, "The item flag", currentFlag, 0, 63);
      checkRange(problem, "The autobuild type", abType, 0, 63);
      checkRange(problem, "The first part", atol(firstPart.c_str()), 0, 255);
      checkRange(problem, "The last part", atol(lastPart.c_str()), 0, 255);
      checkRange(problem, "The sort code", currentSort, 0, 4);
      checkLength(problem, "The field name", currentField, shortLimit);
      checkLength(problem, "The separator", subSeparator, shortLimit);
      break;
    case '2':
      checkRange(problem, "The item flag", currentFlag, 0, 63);
      checkRange(problem, "The fiscal year end month", endOfFiscalYear, 1, 12);
      checkLength(problem, "The field name", currentField, shortLimit);
      checkLength(problem, "The input date format", date_in, shortLimit);
      checkLength(problem, "The output date format", date_out, shortLimit);
      checkLength(problem, "The start year", startYear, shortLimit);
      checkLength(problem, "The end year", endYear, shortLimit);
      break;
    case '4':
      checkLength(problem, "The label", label, shortLimit);
      if (isCountingField(currentField)) break;
      checkRange(problem, "The item flag", currentFlag, 0, 63);
      checkRange(problem, "The format's number after D", currentFormat1, 0, 58);
      checkRange(problem, "The format's number after N", currentFormat2, 0, 63);
      checkLength(problem, "The field name", currentField, shortLimit);
      break;
    case '5':
      checkLength(problem, "The label", label, shortLimit);
      checkRange(problem, "The format's number after D", currentFormat1, 0, 58);
      checkLength(problem, "The compute text", currentFunction, shortLimit);
      checkFunctionText(problem, "The compute text", currentFunction);
      checkRange(problem, "The format's number after N", currentFormat2, 0, 63);
      break;
    case '6':
      checkRange(problem, "The item flag", currentFlag, 0, 63);
      checkLength(problem, "The function text", currentFunction, shortLimit);
      checkFunctionText(problem, "The function text", currentFunction);
      checkLength(problem, "The label", label, shortLimit);
      checkLength(problem, "The match expression", currentTarget, shortLimit);
      break;
    case '9':
      checkLength(problem, "The label", label, shortLimit);
      break;
    default:
      checkLength(problem, "The label", label, shortLimit);
      checkLength(problem, "The compute text", currentFunction, shortLimit);
      checkFunctionText(problem, "The compute text", currentFunction);
      break;
  }
  return problem;
}

// Writes the operators that move the reader from the node written last to a node at depth.
static void emitOperators(int depth) {
  if (forceChild) {
    putChar('C');
    forceChild = 0;
  } else if (depth > lastDepth) {
    putChar('C');
  } else if (depth == lastDepth) {
    putChar('N');
  } else {
    for (int e = depth + 1; e <= lastDepth; e++) {
      for (int i = 0; i < hangingNodes[e]; i++) putChar('P');
      hangingNodes[e] = 0;
    }
    putChar('N');
  }
  if (depth >= 0) hangingNodes[depth]++;
}

static void emitFormat1() { putChar(makeSpibble(currentFormat1 + 5)); }
static void emitFormat2() { putChar(makeSpibble(currentFormat2)); }
static void emitFlag() { putChar(makeSpibble(currentFlag)); }

// "01" and an empty short string for no function, else "02" and the text.
static void emitFunction(const string& f) {
  if (f.empty())
    put("0100");
  else
    put("02" + shortString(f.c_str()));
}

static void emitMeasuresRecord() {
  putChar('7');
  put(shortString(measureLabel.empty() ? "Measures" : measureLabel.c_str()));
  put(shortString(currentFunction.c_str()));
  forceChild = 1;
  measureEmitted = 1;
}

void emit_node(int depth) {
  if (depth < -1 || depth > maxItemDepth)
    fatal(110, "The item depth must lie between 0 and %d\n", maxItemDepth);
  string problem = checkNode();
  if (!problem.empty()) fatal(110, "%s\n", problem.c_str());
  depth = treeDepth(depth);
  emitOperators(depth);
  const char* label = currentLabel.c_str();
  switch (currentType) {
    case '7':
      emitMeasuresRecord();
      break;
    case '1':
      putChar('1');
      emitFlag();
      putChar(makeSpibble(abType));
      putHex(2, atoi(firstPart.c_str()));
      putHex(2, atoi(lastPart.c_str()));
      putChar(makeSpibble(currentSort));
      put(shortString(currentField.c_str()));
      put(shortString(subSeparator.c_str()));
      break;
    case '2':
      putChar('2');
      emitFlag();
      putChar(makeSpibble(endOfFiscalYear));
      put(shortString(currentField.c_str()));
      put(shortString(date_in.c_str()));
      put(shortString(date_out.c_str()));
      put(shortString(startYear.c_str()));
      put(shortString(endYear.c_str()));
      break;
    case '3':
      putChar('3');
      emitFlag();
      put(shortString(label));
      emitFunction(isDefaultFunction(currentFunction) ? string() : currentFunction);
      forceChild = 1;
      break;
    case '4':
      if (isCountingField(currentField)) {
        putChar('9');
        put(shortString(label));
        break;
      }
      putChar('4');
      emitFlag();
      emitFormat1();
      put(shortString(currentField.c_str()));
      put(shortString(label));
      emitFormat2();
      break;
    case '6':
      putChar('6');
      emitFlag();
      emitFunction(currentFunction);
      put(shortString(label));
      put(shortString(currentTarget.c_str()));
      break;
    case '9':
      putChar('9');
      put(shortString(label));
      break;
    case '5':
      putChar('5');
      put(shortString(label));
      emitFormat1();
      put(shortString(currentFunction.c_str()));
      emitFormat2();
      break;
    default:  // a plain item
      putChar('5');
      put(shortString(label));
      putChar(makeSpibble(1));
      put(shortString(currentFunction.c_str()));
      break;
  }
  putChar('|');
  lastDepth = depth;
  if (saveVariables)
    saveVariables = 0;
  else
    reset_node_variables();
}

void emit_tail() {
  if (!measureEmitted) {
    emitOperators(treeDepth(-1));
    lastDepth = -1;
    putChar('7');
    put(shortString(measureLabel.empty() ? "Measures" : measureLabel.c_str()));
    put(shortString(""));
    putChar('|');
    forceChild = 1;
    measureEmitted = 1;
  }
  putChar('X');
  fflush(qv4File);
}
