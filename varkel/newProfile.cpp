// The compiled-profile reader. A profile is one line: "dddd|", the parameter record, then
// tree operators and node records, each record closed by '|', and 'X'. Fields that a newer
// compiler appends behind the known ones are passed over; the shorter parameter records of
// older compilers are accepted. Nothing is ever read past the end of the text.
#include "varkel/newProfile.h"

#include <cassert>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/messagetext.h"
#include "common/preferences.h"
#include "common/textutil.h"
#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/coded.h"
#include "varkel/datasource.h"
#include "varkel/date.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/options.h"
#include "varkel/report.h"
#include "varkel/workbuffers.h"

using std::string;

int numberOfAxes = 0;  // axes read from the profile
int axisRootIndex[maxAxes] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                              -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                              -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};  // root of each axis
int recordAxisRoot = -1;  // root of the measures tree
int expandProfile = 0;    // the trees grow from the data
int noQuery = 0;          // record viewing switched off by the profile

namespace {

// Longest text a fixed 256-byte settings buffer holds.
const size_t settingsBufferText = 255;
// Largest part or column number a label's signed 8-bit selector holds.
const int maxSelector = 127;

// Moves *pos past the next '|', or to the end of the text when there is none.
void skipToBar(const char* text, int* pos) {
  while (text[*pos] != '\0' && text[*pos] != '|') (*pos)++;
  if (text[*pos] == '|') (*pos)++;
}

// A '0' or '1' flag digit. Any other character would put a value other than 0 or 1 into a
// boolean setting.
int readFlagDigit(const char* text, int* pos) {
  char c = text[*pos];
  int v = getBoolean(text, pos);
  if (v != 0 && v != 1) fatal(110, "Bad flag '%c' at byte %d.\n", c, *pos - 1);
  return v;
}

// A spibble whose value is used: a character outside the alphabet is refused rather than
// read as -1.
int readCode(const char* text, int* pos) {
  char c = text[*pos];
  int v = getSpibble(text, pos);
  if (v < 0) fatal(110, "Bad spibble '%c' at byte %d.\n", c, *pos - 1);
  return v;
}

// A part or column number for a signed 8-bit selector.
int8_t selector(int v, int at) {
  if (v > maxSelector)
    fatal(110, "Part or column %d at byte %d is too large: at most %d.\n", v, at, maxSelector);
  return int8_t(v);
}

// Reads one digit per row of a boolean table; a value that differs from the row's marks it
// set. With stopAtBar the rows after a '|' keep their values.
void readBooleanRows(BooleanParam* rows, int count, const char* text, int* pos, bool stopAtBar) {
  for (int i = 0; i < count; i++) {
    if (stopAtBar && text[*pos] == '|') return;
    int v = readFlagDigit(text, pos);
    if (v != rows[i].value) {
      rows[i].value = v;
      rows[i].set = 1;
    }
  }
}

BooleanParam* booleanRow(const char* name) {
  for (int i = 0; bParams[i].name; i++)
    if (strcmp(bParams[i].name, name) == 0) return &bParams[i];
  return nullptr;
}

// Values older compilers never wrote; their viewers behaved as these say.
void setCompatibilityRows() {
  struct Fixed {
    const char* name;
    int value;
  };
  static const Fixed fixed[] = {
      {"showrowtotals", 1}, {"deselectonclick", 0},        {"rowsum", 0},
      {"rowaverage", 0},    {"columnsum", 0},              {"columnaverage", 0},
      {"drillcontrolnotvisible", 0}, {"flattendrilling", 0},
  };
  for (const Fixed& f : fixed) {
    BooleanParam* row = booleanRow(f.name);
    if (!row) continue;
    row->value = f.value;
    row->set = 0;
  }
}

// A page dimension: n pixels, or n - 20000 percent from 20000 on.
void formatDimension(char* buffer, int v) {
  if (v >= 20000)
    snprintf(buffer, settingsBufferText + 1, "%d%%", v - 20000);
  else
    snprintf(buffer, settingsBufferText + 1, "%d", v);
}

bool startsWith(const string& s, const char* prefix) {
  return s.compare(0, strlen(prefix), prefix) == 0;
}

// Takes the data-source suffix ';', flag digit, ';', separator off np_data. ODBC and "none:"
// sources carry none and read with a header line and TAB. A text without a well-formed
// suffix stays whole, and the separator and header flag stay as they were.
void takeDataSourceSuffix(char* sep, int* header) {
  if (np_data.empty()) return;
  if (startsWith(np_data, "odbc:") || startsWith(np_data, "none:")) {
    *header = 1;
    *sep = '\t';
    return;
  }
  size_t n = np_data.size();
  if (n < 4 || np_data[n - 4] != ';' || np_data[n - 2] != ';') return;
  char flag = np_data[n - 3];
  if (flag != '0' && flag != '1') return;
  *header = flag - '0';
  *sep = np_data[n - 1];
  np_data.erase(n - 4);
}

// The parameter record, after its '8'.
void readParameters(const char* text, int* pos) {
  readBooleanRows(bParams, numBParams, text, pos, false);
  BooleanParam* viewRecords = booleanRow("allowviewsourcerecords");
  noQuery = viewRecords && viewRecords->value == 0 ? 1 : 0;

  np_decimalpoints = getNibbles(2, text, pos);
  int* colours[] = {&np_vertRed, &np_vertGreen, &np_vertBlue, &np_horRed,  &np_horGreen,
                    &np_horBlue,  &np_dataRed,   &np_dataGreen, &np_dataBlue};
  for (int* c : colours) *c = getNibbles(2, text, pos);
  np_height = getNibbles(4, text, pos);
  np_width = getNibbles(4, text, pos);

  string* shorts[] = {&np_codebase,   &np_data,    &np_helpurl, &np_runcode,
                      &np_windowname, &np_cginame, &np_cgiroot, &np_capturename};
  for (string* s : shorts) *s = getString(2, text, pos);
  string* longs[] = {&np_reports, &np_initialview, &np_whatif, &np_description};
  for (string* s : longs) *s = getString(4, text, pos);

  if (text[*pos] == '|') {
    np_cubeexpiry = "";
  } else {
    np_cubeexpiry = setCubeExpiry(getString(4, text, pos));
    string longData = getString(4, text, pos);
    if (!longData.empty()) np_data = longData;
    for (int i = 0; i < 8; i++) getString(4, text, pos);  // geography and reserved rows
  }
  if (text[*pos] == '|') setCompatibilityRows();

  readBooleanRows(nbParams, numNbParams, text, pos, true);
  for (int i = 0; i < numByteParams && text[*pos] != '|'; i++) {
    int v = getNibbles(2, text, pos);
    if (v != byteParams[i].value) {
      byteParams[i].value = v;
      byteParams[i].set = 1;
    }
  }
  skipToBar(text, pos);

  decimalPoints = np_decimalpoints < 0 ? 0 : np_decimalpoints > 10 ? 10 : np_decimalpoints;
  decimalMultiplier = 1;
  for (int i = 0; i < decimalPoints; i++) decimalMultiplier *= 10;

  assert(lumetraWidth && lumetraHeight && theCodeBase);  // made at start-up
  formatDimension(lumetraWidth, np_width);
  formatDimension(lumetraHeight, np_height);
  snprintf(theCodeBase, settingsBufferText + 1, "%s", np_codebase.c_str());

  char sep = separator;
  int header = skipFirstLine;
  takeDataSourceSuffix(&sep, &header);
  setupDataSource(np_data.c_str());
  setSeparator(sep);
  skipFirstLine = header;
}

// Hangs the new label n where the attach mode says and makes it current.
void attach(int n, int mode, int* current) {
  if (mode == 2)
    axisLabels[*current].child = n;
  else
    axisLabels[*current].sibling = n;
  axisLabels[n].backLink = *current;
  *current = n;
}

// A function text quoted for the viewer's rollup functions.
char* quotedFunction(const string& text) {
  string q = "'" + text + "'";
  return _newStr(q.c_str(), __FILE__, __LINE__);
}

void readAutobuild(const char* text, int* pos, int n) {
  int flag = readCode(text, pos);
  int type = readCode(text, pos);
  int at = *pos;
  int first = getNibbles(2, text, pos);
  int last = getNibbles(2, text, pos);
  int sort = readCode(text, pos);
  string fieldName = getString(2, text, pos);
  string sepText = getString(2, text, pos);
  if (sort > 4) fatal(110, "Unknown sort method %d.\n", sort);

  AxisLabel& l = axisLabels[n];
  l.label = noneLabel;
  if (!fieldName.empty()) l.field = getFieldIndex(fieldName.c_str());
  if (!sepText.empty() && type != 0) l.setSeparator(new string(sepText));
  l.sort = unsigned(sort);
  bool fromEnd = (flag & 4) != 0;
  if (type == 1 && sepText.empty()) {
    l.firstColumn = selector(first, at);
    l.lastColumn = selector(last, at + 2);
  } else if (type == 1 || type == 2) {
    if (fromEnd)
      l.backPart = selector(first, at);
    else
      l.part = selector(first, at);
    if (type == 2) {
      l.multiLevelExpand = 1;
      l.lastPart = selector(last, at + 2);
    }
  }
  expandProfile = 1;
}

// The second format code, present only when the record has more before its '|'.
int optionalCode(const char* text, int* pos) {
  return text[*pos] == '|' ? -1 : readCode(text, pos);
}

void readExtract(const char* text, int* pos, int n) {
  int flag = readCode(text, pos);
  int code1 = readCode(text, pos);
  string fieldName = getString(2, text, pos);
  string labelText = getString(2, text, pos);
  int code2 = optionalCode(text, pos);
  AxisLabel& l = axisLabels[n];
  l.label = labelText;
  if ((flag & 2) || fieldName.empty() || fieldName == "-1" || fieldName == "f-1")
    l.field = -2;
  else
    l.field = getFieldIndex(fieldName.c_str());
  setNodeFormat(n, code1, code2, labelText);
}

// A function text, which the trees carry as an item.
string functionText(const char* text, int* pos) {
  string function = getString(2, text, pos);
  if (breaksTreeItem(function))
    fatal(110, "Function text '%s' holds a ';' or a line break, which a cube cannot carry.\n",
          function.c_str());
  return function;
}

void readComputed(const char* text, int* pos, int n) {
  string labelText = getString(2, text, pos);
  int code1 = readCode(text, pos);
  string function = functionText(text, pos);
  int code2 = optionalCode(text, pos);
  AxisLabel& l = axisLabels[n];
  l.label = labelText;
  l.setFunction(_newStr(function.c_str(), __FILE__, __LINE__));
  setNodeFormat(n, code1, code2, labelText);
}

void readMatch(const char* text, int* pos, int n) {
  getSpibble(text, pos);  // flag, meaningless here
  int code = getNibbles(2, text, pos);
  string function = functionText(text, pos);
  string labelText = getString(2, text, pos);
  string matchText = getString(2, text, pos);
  AxisLabel& l = axisLabels[n];
  l.label = labelText;
  if (code == 2)
    l.setFunction(quotedFunction(function));
  else if (code != 1)
    fatal(110, "Unknown match rollup function %d(%s)\n", code, function.c_str());
  l.match = matchParseExpression(matchText.c_str());
}

void readAxis(const char* text, int* pos, int n) {
  getSpibble(text, pos);  // flag, meaningless here
  string labelText = getString(2, text, pos);
  int code = getNibbles(2, text, pos);
  string function = functionText(text, pos);
  AxisLabel& l = axisLabels[n];
  l.label = labelText;
  if (code == 2) {
    if (!function.empty()) l.setFunction(quotedFunction(function));
  } else if (code != 1) {
    fatal(110, "Unknown dimension function %d(%s)\n", code, function.c_str());
  }
  if (numberOfAxes >= maxAxes) fatal(110, "More than %d axes defined.\n", maxAxes);
  axisRootIndex[numberOfAxes++] = n;
}

void readMeasures(const char* text, int* pos, int n) {
  string labelText = getString(2, text, pos);
  string function = functionText(text, pos);
  AxisLabel& l = axisLabels[n];
  l.label = labelText;
  if (!function.empty()) l.setFunction(_newStr(function.c_str(), __FILE__, __LINE__));
  recordAxisRoot = n;
}

}  // namespace

bool isValidProfile(const char* text) {
  for (int i = 0; i < 4; i++)
    if (!isdigit((unsigned char)text[i])) return false;
  return text[4] == '|' && text[5] == '8';
}

void readNewProfile(const char* text) {
  if (!isValidProfile(text)) fatal(1, "'%s' is not a valid qv4 file.\n", inputFileName);
  numberOfAxes = 0;
  processString(text + 5, 2, -1);
}

void processString(const char* text, int mode, int current) {
  // The compiler writes a 'C' before the first root, when there is nothing to descend from.
  bool rootRead = current != -1;
  int pos = 0;
  while (text[pos] != '\0') {
    int at = pos;
    char type = text[pos++];
    switch (type) {
      case 'X':
        return;
      case '8':
        readParameters(text, &pos);
        continue;
      case 'C':
        if (current == -1) {
          if (rootRead) fatal(110, "Tree operator 'C' at byte %d has no current label.\n", at);
          continue;
        }
        if (axisLabels[current].child == -1)
          mode = 2;
        else
          current = axisLabels[current].child;
        continue;
      case 'N':
        if (current == -1) fatal(110, "Tree operator 'N' at byte %d has no current label.\n", at);
        if (axisLabels[current].sibling == -1)
          mode = 1;
        else
          current = axisLabels[current].sibling;
        continue;
      case 'P':
        if (current == -1) fatal(110, "Tree operator 'P' at byte %d has no current label.\n", at);
        current = axisLabels[current].backLink;
        continue;
      case '3':
      case '7': {
        int n = getNextFree();
        if (type == '3')
          readAxis(text, &pos, n);
        else
          readMeasures(text, &pos, n);
        skipToBar(text, &pos);
        axisLabels[n].backLink = current;
        current = n;
        rootRead = true;
        continue;
      }
      case '1':
      case '2':
      case '4':
      case '5':
      case '6':
      case '9':
        break;
      default:
        logMessage("Unknown node type: %c\n", type);
        jump_exit(1);
    }

    // A node record hangs below or beside the current label.
    if (current == -1)
      fatal(110, "Node record '%c' at byte %d has no label to hang from.\n", type, at);
    int n = getNextFree();
    switch (type) {
      case '1':
        readAutobuild(text, &pos, n);
        skipToBar(text, &pos);
        break;
      case '2':
        axisLabels[n].label = "Date placeholder";
        axisLabels[n].dateIndex = unsigned(parseDate(text, &pos));
        expandProfile = 1;
        break;
      case '4':
        readExtract(text, &pos, n);
        skipToBar(text, &pos);
        break;
      case '5':
        readComputed(text, &pos, n);
        skipToBar(text, &pos);
        break;
      case '6':
        readMatch(text, &pos, n);
        skipToBar(text, &pos);
        break;
      case '9':
        axisLabels[n].label = getString(2, text, &pos);
        axisLabels[n].field = -2;
        axisLabels[n].setFormat(new string("D0N0"));
        skipToBar(text, &pos);
        break;
    }
    attach(n, mode, &current);
  }
}

void setNodeFormat(int n, int code1, int code2, string& labelText) {
  static const int oldSecondCodes[5] = {0, 3, 0, 9, 9};
  if (code2 == -1 && code1 >= 0 && code1 <= 4) code2 = oldSecondCodes[code1];
  char format[64];
  switch (code1) {
    case 0:
    case 2:
      snprintf(format, sizeof format, "D0");
      break;
    case 1:
      snprintf(format, sizeof format, "D1");
      break;
    case 3:
      snprintf(format, sizeof format, "D12");
      break;
    case 4:
      snprintf(format, sizeof format, "D11");
      break;
    default:
      snprintf(format, sizeof format, "D%d", code1 - 5);
  }
  if (code2 == -1) fatal(110, "Bad format for node '%s'\n", labelText.c_str());
  size_t used = strlen(format);
  snprintf(format + used, sizeof format - used, "N%d", code2);
  AxisLabel& l = axisLabels[n];
  l.setFormat(new string(format));
}
