// The viewer parameter tables and their setters. The same rows, in the same order, are
// written into and read back from the compiled profile, so never reorder them.
#include "common/preferences.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/messagetext.h"
#include "common/util.h"

BooleanParam bParams[numBParams + 1] = {
    {"autolaunch", 0, 0, 0},
    {"hidehome", 0, 0, 0},
    {"hidereports", 0, 0, 0},
    {"hidevfittopage", 0, 0, 0},
    {"hideprint", 0, 0, 0},
    {"hidespreadsheet", 0, 0, 0},
    {"hidepreferences", 0, 0, 0},
    {"hidepalette", 0, 0, 0},
    {"allownavigation", 1, 0, 1},
    {"hidehierarchy", 0, 0, 0},
    {"hidenumbers", 0, 0, 0},
    {"hidehhistogram", 0, 0, 0},
    {"hidevhistogram", 0, 0, 0},
    {"hidepiechart", 0, 0, 0},
    {"hideoverlinegraph", 0, 0, 0},
    {"hidefunctions", 0, 0, 0},
    {"hidemodify", 0, 0, 0},
    {"hideabout", 0, 0, 0},
    {"hidehelp", 0, 0, 0},
    {"deselectonclick", 0, 0, 0},
    {"3dgraphics", 1, 0, 0},
    {"suppressemptyrows", 0, 0, 0},
    {"grid", 1, 0, 0},
    {"showdatavalues", 0, 0, 0},
    {"showpercentages", 1, 0, 0},
    {"showlabels", 1, 0, 0},
    {"rowsum", 0, 0, 0},
    {"rowaverage", 0, 0, 0},
    {"columnsum", 0, 0, 0},
    {"columnaverage", 0, 0, 0},
    {"allowviewsourcerecords", 1, 1, 0},
    {"drillcontrolvisible", 1, 0, 0},
    {"showcolumntotals", 1, 0, 0},
    {"showcolumnlevels", 1, 0, 0},
    {"horizontalaxisontop", 1, 0, 0},
    {"hidehfittopage", 0, 0, 0},
    {"autoresizeverticalaxis", 1, 0, 0},
    {"drillcontrolnotvisible", 0, 0, 0},
    {"flattendrilling", 0, 0, 0},
    {"showrowtotals", 1, 0, 0},
    {nullptr, 0, 0, 0},
};

BooleanParam nbParams[numNbParams + 1] = {
    {"hformatpriority", 1, 0, 0},
    {"editabletitle", 1, 0, 0},
    {"exporttosylk", 1, 0, 0},
    {"", 0, 0, 0}, {"", 0, 0, 0}, {"", 0, 0, 0}, {"", 0, 0, 0}, {"", 0, 0, 0},
    {"", 0, 0, 0}, {"", 0, 0, 0}, {"", 0, 0, 0}, {"", 0, 0, 0}, {"", 0, 0, 0},
    {nullptr, 0, 0, 0},
};

// Position 1 has no setting name: the compiler keeps a short copy of the data source there.
StringParam sParams[numSParams + 1] = {
    {"codebase", "..", 0},
    {"", "", 0},
    {"helpurl", "../help/hh_start.htm", 0},
    {"runcode", "", 0},
    {"windowname", "", 0},
    {"cginame", "varkel4.exe", 0},
    {"cgiroot", "/cgi-bin/", 0},
    {"pellackname", "pellack4.exe", 0},
    {nullptr, "", 0},
};

StringParam lsParams[numLsParams + 1] = {
    {"reports", "", 0},
    {"initv", "", 0},
    {"whatif", "", 0},
    {"description", "", 0},
    {"cubeexpiry", "", 0},
    {"data", "", 0},
    {"geographydimension", "", 0},
    {"", "", 0}, {"", "", 0}, {"", "", 0}, {"", "", 0}, {"", "", 0}, {"", "", 0}, {"", "", 0},
    {nullptr, "", 0},
};

ByteParam byteParams[numByteParams + 1] = {
    {"pieminimum", 3, 1},
    {"", 0, 0}, {"", 0, 0}, {"", 0, 0}, {"", 0, 0}, {"", 0, 0},
    {"", 0, 0}, {"", 0, 0}, {"", 0, 0}, {"", 0, 0},
    {nullptr, 0, 0},
};

const char* const ignoredParams[numIgnoredParams + 1] = {
    "maxlabels",       "hidecamera",          "showlonghints",
    "hidelonghints",   "hidebackward",        "hideforward",
    "hideverticaltext", "largefonts",         "hidehierarchyfunctions",
    "hidehierarchyhideflags", "runningonserver", "verticalscrolling",
    "horizontalscrolling", "hidenavigation",  "smoothtransitions",
    nullptr,
};

string sep = "\t";      // the "separator" setting, appended to the data source by the compiler
int firstFieldNames = 0;  // the "firstFieldNames" setting
// The "decimalpoints" setting: 2 for the compiler; the builder resets it to 0 at start-up
// and its coded values keep that many places.
int decimalPoints = 2;
// The least "height" and "width" the viewer is given; smaller settings are raised to them.
static const int minViewerHeight = 460;
static const int minViewerWidth = 450;
int height = 20100;       // the "height" setting, at least minViewerHeight
int width = 20100;        // the "width" setting, at least minViewerWidth
int Tarnwick = 0;         // set by the profile compiler before it reads a profile

// Settings of the compiled profile being built into a page.
string np_codebase, np_data, np_helpurl, np_runcode, np_windowname, np_cginame, np_cgiroot,
    np_capturename, np_reports, np_initialview, np_whatif, np_description, np_cubeexpiry;
int np_decimalpoints = 0, np_height = 0, np_width = 0;
int np_vertRed = 0, np_vertGreen = 0, np_vertBlue = 0;
int np_horRed = 0, np_horGreen = 0, np_horBlue = 0;
int np_dataRed = 0, np_dataGreen = 0, np_dataBlue = 0;
int np_firstfieldnames = 0;
char np_separator = 0;
// Fields of the node record being read.
string np_label, np_fieldname;
int np_booleans = 0, np_abtype = 0, np_sort = 0, np_firsttoken = 0, np_lasttoken = 0,
    np_functionproper = 0;

static bool isIgnored(const char* name) {
  for (int i = 0; ignoredParams[i]; i++)
    if (strCompare(name, ignoredParams[i]) == 0) return true;
  return false;
}

// First named row of a table whose name equals name ignoring case, or null. Reserved rows
// (empty names) are never found, so "" is an unknown setting.
template <class Row>
static Row* findRow(Row* table, const char* name) {
  for (int i = 0; table[i].name; i++)
    if (table[i].name[0] != '\0' && strCompare(name, table[i].name) == 0) return &table[i];
  return nullptr;
}

// The np_ global that carries a string row into the page and cube file, or null.
static string* pageSetting(const char* row) {
  static const struct {
    const char* row;
    string* global;
  } carriers[] = {
      {"codebase", &np_codebase},       {"helpurl", &np_helpurl},
      {"runcode", &np_runcode},         {"windowname", &np_windowname},
      {"cginame", &np_cginame},         {"cgiroot", &np_cgiroot},
      {"pellackname", &np_capturename}, {"reports", &np_reports},
      {"initv", &np_initialview},       {"whatif", &np_whatif},
      {"description", &np_description}, {"cubeexpiry", &np_cubeexpiry},
      {"data", &np_data},
  };
  for (auto& c : carriers)
    if (strcmp(c.row, row) == 0) return c.global;
  return nullptr;
}

// Values written by older releases that now mean the current defaults.
static const char* rewriteOldDefault(const char* name, const char* value) {
  static const struct {
    const char* name;
    const char* old;
    const char* now;
  } rewrites[] = {
      {"codebase", "../JClass", ".."},
      {"cginame", "varkel.exe", "varkel4.exe"},
      {"cginame", "varkel.cgi", "varkel4.cgi"},
      {"pellackname", "pellack.exe", "pellack4.exe"},
      {"pellackname", "pellack.cgi", "pellack4.cgi"},
      {"helpurl", "../docs/LumetraHelp.html", "../help/hh_start.htm"},
  };
  for (auto& r : rewrites)
    if (strCompare(name, r.name) == 0 && strCompare(value, r.old) == 0) return r.now;
  return value;
}

static bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A reports list that must fit a long string: keeps whole items from the start while the
// list, length digits included, stays within longStringMax bytes, each written again as a
// long string (lower-case length digits). Stops at an empty, malformed or cut-off item.
static string truncateReports(const string& value) {
  string kept;
  int items = 0;
  size_t pos = 0;
  while (pos + 4 <= value.size()) {
    if (!(isHex(value[pos]) && isHex(value[pos + 1]) && isHex(value[pos + 2]) &&
          isHex(value[pos + 3])))
      break;
    size_t len = strtoul(value.substr(pos, 4).c_str(), nullptr, 16);
    if (len == 0 || pos + 4 + len > value.size()) break;
    if (kept.size() + 4 + len > longStringMax) break;
    kept += makeString(4, value.substr(pos + 4, len).c_str());
    pos += 4 + len;
    items++;
  }
  fprintf(stderr, "Truncated reports at number %d to make it fit within 64k\n", items);
  return kept;
}

void setStringParameter(const char* name, const char* value) {
  if (isIgnored(name)) {
    logMessage("Ignoring obsolete parameter '%s'\n", name);
    return;
  }
  if (strCompare(value, "true") == 0) {
    setBooleanParameter(name, 1);
    return;
  }
  if (strCompare(value, "false") == 0) {
    setBooleanParameter(name, 0);
    return;
  }
  if (strCompare(name, "separator") == 0) {
    sep = value;
    return;
  }
  if (strncmp(name, "bookmark", 8) == 0) return;
  if (strncmp(name, "usercginame", 11) == 0) {
    fprintf(stderr, "usercginame is ignored in this beta version\n");
    return;
  }
  value = rewriteOldDefault(name, value);

  if (StringParam* row = findRow(sParams, name)) {
    row->value = value;
    row->set = 1;
    if (string* carrier = pageSetting(row->name)) *carrier = row->value;
    return;
  }
  if (StringParam* row = findRow(lsParams, name)) {
    row->value = value;
    row->set = 1;
    if (strcmp(row->name, "cubeexpiry") == 0) {
      row->value = setCubeExpiry(row->value);
    } else if (strcmp(row->name, "reports") == 0) {
      const string& v = row->value;
      if (v.size() < 4 || !isHex(v[0]) || !isHex(v[1]) || !isHex(v[2]) || !isHex(v[3]))
        row->value.clear();
      else if (v.size() > longStringMax)
        row->value = truncateReports(v);
    }
    if (string* carrier = pageSetting(row->name)) *carrier = row->value;
    return;
  }
  if (ByteParam* row = findRow(byteParams, name)) {
    row->value = atoi(value);
    row->set = 1;
    return;
  }
  fatal(110, "String parameter \"%s\" is unknown.\n", name);
}

void setBooleanParameter(const char* name, int value) {
  if (isIgnored(name)) return;
  static const struct {
    const char* alias;
    const char* row;
    bool invert;
  } aliases[] = {
      {"noquery", "allowviewsourcerecords", true},
      {"hidebookmarks", "hidereports", false},
      {"hidebook", "hidereports", false},
      {"depth", "3dgraphics", false},
      {"suppresszeros", "suppressemptyrows", false},
  };
  for (auto& a : aliases) {
    if (strCompare(name, a.alias) == 0) {
      name = a.row;
      if (a.invert) value = !value;
      break;
    }
  }
  if (strCompare(name, "firstFieldNames") == 0) {
    firstFieldNames = value;
    return;
  }
  BooleanParam* row = findRow(bParams, name);
  if (!row) row = findRow(nbParams, name);
  if (!row) fatal(110, "Boolean parameter \"%s\" is unknown.\n", name);
  row->value = value;
  row->set = 1;
}

void setNumericParameter(const char* name, int value) {
  if (ByteParam* row = findRow(byteParams, name)) {
    if (value != row->value) {
      row->value = value;
      row->set = 1;
    }
    return;
  }
  if (strCompare(name, "decimalpoints") == 0) {
    decimalPoints = value;
  } else if (strCompare(name, "maxlabels") == 0) {
    // obsolete, accepted and ignored
  } else if (strCompare(name, "height") == 0) {
    height = value < minViewerHeight ? minViewerHeight : value;
  } else if (strCompare(name, "width") == 0) {
    width = value < minViewerWidth ? minViewerWidth : value;
  } else {
    fatal(110, "Numeric parameter \"%s\" is unknown.\n", name);
  }
}

string setCubeExpiry(string value) {
  if (Tarnwick) return value;
  if (value.empty() || value[0] != '+') return value;
  long long days = atoi(value.c_str() + 1);
  char buf[64];
  snprintf(buf, sizeof buf, "%lld000", (long long)time(nullptr) + days * 86400);
  return buf;
}
