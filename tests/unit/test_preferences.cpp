// The viewer parameter tables: row order (a file format), defaults and the setters' rules.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "common/preferences.h"
#include "common/util.h"

using std::string;
using ::testing::ExitedWithCode;

namespace {

// Every test starts from the tables as the program starts with them.
class Preferences : public ::testing::Test {
 protected:
  void SetUp() override { keepTables(true); }
  void TearDown() override { keepTables(false); }

 private:
  void keepTables(bool save) {
    static BooleanParam b[numBParams + 1], nb[numNbParams + 1];
    static StringParam s[numSParams + 1], ls[numLsParams + 1];
    static ByteParam by[numByteParams + 1];
    static string savedSep, strings[13];
    static int ints[6];
    string* np[13] = {&np_codebase, &np_data,        &np_helpurl,   &np_runcode,
                      &np_windowname, &np_cginame,   &np_cgiroot,   &np_capturename,
                      &np_reports,  &np_initialview, &np_whatif,    &np_description,
                      &np_cubeexpiry};
    int* globals[6] = {&firstFieldNames, &decimalPoints, &height, &width, &Tarnwick,
                       &np_firstfieldnames};
    if (save) {
      std::copy(bParams, bParams + numBParams + 1, b);
      std::copy(nbParams, nbParams + numNbParams + 1, nb);
      std::copy(sParams, sParams + numSParams + 1, s);
      std::copy(lsParams, lsParams + numLsParams + 1, ls);
      std::copy(byteParams, byteParams + numByteParams + 1, by);
      savedSep = sep;
      for (int i = 0; i < 13; i++) strings[i] = *np[i];
      for (int i = 0; i < 6; i++) ints[i] = *globals[i];
    } else {
      std::copy(b, b + numBParams + 1, bParams);
      std::copy(nb, nb + numNbParams + 1, nbParams);
      std::copy(s, s + numSParams + 1, sParams);
      std::copy(ls, ls + numLsParams + 1, lsParams);
      std::copy(by, by + numByteParams + 1, byteParams);
      sep = savedSep;
      for (int i = 0; i < 13; i++) *np[i] = strings[i];
      for (int i = 0; i < 6; i++) *globals[i] = ints[i];
    }
  }
};

using PreferencesDeathTest = Preferences;

BooleanParam* boolRow(const char* name) {
  for (int i = 0; bParams[i].name; i++)
    if (strcmp(bParams[i].name, name) == 0) return &bParams[i];
  for (int i = 0; nbParams[i].name; i++)
    if (strcmp(nbParams[i].name, name) == 0) return &nbParams[i];
  return nullptr;
}

}  // namespace

TEST_F(Preferences, BooleanRowsInFileOrderWithDefaults) {
  const char* names[numBParams] = {
      "autolaunch",        "hidehome",           "hidereports",
      "hidevfittopage",    "hideprint",          "hidespreadsheet",
      "hidepreferences",   "hidepalette",        "allownavigation",
      "hidehierarchy",     "hidenumbers",        "hidehhistogram",
      "hidevhistogram",    "hidepiechart",       "hideoverlinegraph",
      "hidefunctions",     "hidemodify",         "hideabout",
      "hidehelp",          "deselectonclick",    "3dgraphics",
      "suppressemptyrows", "grid",               "showdatavalues",
      "showpercentages",   "showlabels",         "rowsum",
      "rowaverage",        "columnsum",          "columnaverage",
      "allowviewsourcerecords", "drillcontrolvisible", "showcolumntotals",
      "showcolumnlevels",  "horizontalaxisontop", "hidehfittopage",
      "autoresizeverticalaxis", "drillcontrolnotvisible", "flattendrilling",
      "showrowtotals",
  };
  // The 40 default digits as the compiler writes them for an empty setup block.
  const char* defaults = "0000000010000000000010101100001111101001";
  ASSERT_EQ(strlen(defaults), size_t(numBParams));
  string digits;
  for (int i = 0; i < numBParams; i++) {
    ASSERT_NE(bParams[i].name, nullptr);
    EXPECT_STREQ(bParams[i].name, names[i]) << "position " << i;
    digits += char('0' + bParams[i].value);
    EXPECT_EQ(bParams[i].set, i == 30) << names[i];
    EXPECT_EQ(bParams[i].noOutput, i == 8) << names[i];
  }
  EXPECT_EQ(digits, defaults);
  EXPECT_EQ(bParams[numBParams].name, nullptr);

  struct Row {
    const char* name;
    int value;
  };
  const Row nb[numNbParams] = {{"hformatpriority", 1}, {"editabletitle", 1}, {"exporttosylk", 1},
                               {"", 0}, {"", 0}, {"", 0}, {"", 0}, {"", 0},
                               {"", 0}, {"", 0}, {"", 0}, {"", 0}, {"", 0}};
  for (int i = 0; i < numNbParams; i++) {
    EXPECT_STREQ(nbParams[i].name, nb[i].name) << i;
    EXPECT_EQ(nbParams[i].value, nb[i].value) << i;
    EXPECT_EQ(nbParams[i].set, 0);
    EXPECT_EQ(nbParams[i].noOutput, 0);
  }
  EXPECT_EQ(nbParams[numNbParams].name, nullptr);
}

TEST_F(Preferences, StringAndNumberRowsInFileOrderWithDefaults) {
  struct Row {
    const char* name;
    const char* value;
  };
  const Row s[numSParams] = {
      {"codebase", ".."},          {"", ""},
      {"helpurl", "../help/hh_start.htm"}, {"runcode", ""},
      {"windowname", ""},          {"cginame", "varkel4.exe"},
      {"cgiroot", "/cgi-bin/"},    {"pellackname", "pellack4.exe"},
  };
  for (int i = 0; i < numSParams; i++) {
    EXPECT_STREQ(sParams[i].name, s[i].name) << i;
    EXPECT_EQ(sParams[i].value, s[i].value) << i;
    EXPECT_EQ(sParams[i].set, 0);
  }
  EXPECT_EQ(sParams[numSParams].name, nullptr);

  const char* ls[numLsParams] = {"reports", "initv", "whatif", "description", "cubeexpiry",
                                 "data", "geographydimension", "", "", "", "", "", "", ""};
  for (int i = 0; i < numLsParams; i++) {
    EXPECT_STREQ(lsParams[i].name, ls[i]) << i;
    EXPECT_EQ(lsParams[i].value, "");
    EXPECT_EQ(lsParams[i].set, 0);
  }
  EXPECT_EQ(lsParams[numLsParams].name, nullptr);

  EXPECT_STREQ(byteParams[0].name, "pieminimum");
  EXPECT_EQ(byteParams[0].value, 3);
  EXPECT_EQ(byteParams[0].set, 1);
  for (int i = 1; i < numByteParams; i++) {
    EXPECT_STREQ(byteParams[i].name, "");
    EXPECT_EQ(byteParams[i].value, 0);
    EXPECT_EQ(byteParams[i].set, 0);
  }
  EXPECT_EQ(byteParams[numByteParams].name, nullptr);

  const char* ignored[numIgnoredParams] = {
      "maxlabels", "hidecamera", "showlonghints", "hidelonghints", "hidebackward",
      "hideforward", "hideverticaltext", "largefonts", "hidehierarchyfunctions",
      "hidehierarchyhideflags", "runningonserver", "verticalscrolling", "horizontalscrolling",
      "hidenavigation", "smoothtransitions"};
  for (int i = 0; i < numIgnoredParams; i++) EXPECT_STREQ(ignoredParams[i], ignored[i]);
  EXPECT_EQ(ignoredParams[numIgnoredParams], nullptr);

  EXPECT_EQ(sep, "\t");
  EXPECT_EQ(firstFieldNames, 0);
  EXPECT_EQ(height, 20100);
  EXPECT_EQ(width, 20100);
  EXPECT_EQ(Tarnwick, 0);
}

TEST_F(Preferences, StringSettingsStoreRewriteAndReachThePageCarrier) {
  struct Case {
    const char* name;
    const char* value;
    int row;  // index into sParams, or -1 for lsParams[lsRow]
    int lsRow;
    const char* stored;
    const string* carrier;
  };
  const Case cases[] = {
      {"cginame", "VARKEL.EXE", 5, 0, "varkel4.exe", &np_cginame},
      {"cginame", "varkel.cgi", 5, 0, "varkel4.cgi", &np_cginame},
      {"CodeBase", "../jclass", 0, 0, "..", &np_codebase},
      {"pellackname", "Pellack.exe", 7, 0, "pellack4.exe", &np_capturename},
      {"pellackname", "pellack.cgi", 7, 0, "pellack4.cgi", &np_capturename},
      {"helpurl", "../docs/lumetrahelp.html", 2, 0, "../help/hh_start.htm", &np_helpurl},
      {"helpurl", "my/help.html", 2, 0, "my/help.html", &np_helpurl},
      {"cginame", "other.exe", 5, 0, "other.exe", &np_cginame},
      {"codebase", "../JClass/x", 0, 0, "../JClass/x", &np_codebase},  // whole value only
      {"runcode", "r1", 3, 0, "r1", &np_runcode},
      {"windowname", "w", 4, 0, "w", &np_windowname},
      {"cgiroot", "/bin/", 6, 0, "/bin/", &np_cgiroot},
      {"initv", "view", -1, 1, "view", &np_initialview},
      {"whatif", "w1", -1, 2, "w1", &np_whatif},
      {"Description", "About", -1, 3, "About", &np_description},
      {"data", "text:x.txt", -1, 5, "text:x.txt", &np_data},
      {"geographydimension", "geo", -1, 6, "geo", nullptr},
      {"reports", "0003abc0002de", -1, 0, "0003abc0002de", &np_reports},
      {"reports", "zz", -1, 0, "", &np_reports},
      {"reports", "00G1x", -1, 0, "", &np_reports},
      {"reports", "abc", -1, 0, "", &np_reports},
      {"reports", "ABCD", -1, 0, "ABCD", &np_reports},  // only the four digits are checked
  };
  for (const Case& c : cases) {
    SetUp();
    setStringParameter(c.name, c.value);
    StringParam& row = c.row >= 0 ? sParams[c.row] : lsParams[c.lsRow];
    EXPECT_EQ(row.value, c.stored) << c.name << "=" << c.value;
    EXPECT_EQ(row.set, 1) << c.name;
    if (c.carrier) {
      EXPECT_EQ(*c.carrier, c.stored) << c.name << "=" << c.value;
    }
    TearDown();
  }
}

TEST_F(Preferences, StringSetterRoutesBooleansNumbersAndSeparator) {
  setStringParameter("hidepiechart", "TRUE");
  EXPECT_EQ(bParams[13].value, 1);
  EXPECT_EQ(bParams[13].set, 1);
  setStringParameter("HidePieChart", "False");
  EXPECT_EQ(bParams[13].value, 0);
  setStringParameter("exporttosylk", "false");
  EXPECT_EQ(nbParams[2].value, 0);
  EXPECT_EQ(nbParams[2].set, 1);
  setStringParameter("pieminimum", "5");
  EXPECT_EQ(byteParams[0].value, 5);
  EXPECT_EQ(byteParams[0].set, 1);
  setStringParameter("PieMinimum", "many");
  EXPECT_EQ(byteParams[0].value, 0);
  setStringParameter("separator", ",");
  EXPECT_EQ(sep, ",");
  setStringParameter("SEPARATOR", "||");
  EXPECT_EQ(sep, "||");
  setStringParameter("firstfieldnames", "true");
  EXPECT_EQ(firstFieldNames, 1);
}

TEST_F(Preferences, StringSetterMessagesAndSilentSkips) {
  struct Case {
    const char* name;
    const char* value;
    const char* stderrText;
  };
  const Case cases[] = {
      {"hidecamera", "x", "Ignoring obsolete parameter 'hidecamera'\n"},
      {"MaxLabels", "true", "Ignoring obsolete parameter 'MaxLabels'\n"},
      {"bookmark1", "somewhere", ""},
      {"usercginame", "x", "usercginame is ignored in this beta version\n"},
      {"usercginame2", "x", "usercginame is ignored in this beta version\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    ::testing::internal::CaptureStderr();
    setStringParameter(c.name, c.value);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.stderrText) << c.name;
    for (int i = 0; i < numSParams; i++) EXPECT_EQ(sParams[i].set, 0) << c.name;
    for (int i = 0; i < numLsParams; i++) EXPECT_EQ(lsParams[i].set, 0) << c.name;
    TearDown();
  }
}

TEST_F(PreferencesDeathTest, UnknownNamesAreProfileErrors) {
  struct Case {
    const char* what;
    void (*call)();
    const char* message;
  };
  const Case cases[] = {
      {"string setting given true", [] { setStringParameter("helpurl", "true"); },
       "^Error 110: Boolean parameter \"helpurl\" is unknown.\n$"},
      {"unknown string", [] { setStringParameter("colour", "red"); },
       "^Error 110: String parameter \"colour\" is unknown.\n$"},
      {"bookmark prefix is case-sensitive", [] { setStringParameter("Bookmark1", "x"); },
       "^Error 110: String parameter \"Bookmark1\" is unknown.\n$"},
      {"bookmark word given true", [] { setStringParameter("bookmarks", "true"); },
       "^Error 110: Boolean parameter \"bookmarks\" is unknown.\n$"},
      {"reserved position has no name", [] { setStringParameter("", "x"); },
       "^Error 110: String parameter \"\" is unknown.\n$"},
      {"unknown boolean", [] { setBooleanParameter("hidewhatever", 1); },
       "^Error 110: Boolean parameter \"hidewhatever\" is unknown.\n$"},
      {"reserved boolean position", [] { setBooleanParameter("", 1); },
       "^Error 110: Boolean parameter \"\" is unknown.\n$"},
      {"numeric setter knows only maxlabels of the obsolete names",
       [] { setNumericParameter("hidecamera", 1); },
       "^Error 110: Numeric parameter \"hidecamera\" is unknown.\n$"},
      {"unknown numeric", [] { setNumericParameter("depth", 1); },
       "^Error 110: Numeric parameter \"depth\" is unknown.\n$"},
  };
  for (const Case& c : cases) EXPECT_EXIT(c.call(), ExitedWithCode(110), c.message) << c.what;
}

TEST_F(Preferences, BooleanAliasesAndTables) {
  struct Case {
    const char* name;
    int value;
    const char* row;
    int want;
  };
  const Case cases[] = {
      {"noquery", 1, "allowviewsourcerecords", 0},
      {"NoQuery", 0, "allowviewsourcerecords", 1},
      {"hidebookmarks", 1, "hidereports", 1},
      {"hidebook", 1, "hidereports", 1},
      {"depth", 0, "3dgraphics", 0},
      {"suppresszeros", 1, "suppressemptyrows", 1},
      {"GRID", 0, "grid", 0},
      {"hformatpriority", 0, "hformatpriority", 0},
      {"editableTitle", 0, "editabletitle", 0},
  };
  for (const Case& c : cases) {
    SetUp();
    setBooleanParameter(c.name, c.value);
    BooleanParam* row = boolRow(c.row);
    ASSERT_NE(row, nullptr) << c.row;
    EXPECT_EQ(row->value, c.want) << c.name;
    EXPECT_EQ(row->set, 1) << c.name;
    TearDown();
  }
  setBooleanParameter("FirstFieldNames", 1);
  EXPECT_EQ(firstFieldNames, 1);
  ::testing::internal::CaptureStderr();
  setBooleanParameter("largefonts", 1);  // obsolete: silent
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(Preferences, NumericSettingsAndTheirLowerBounds) {
  byteParams[0].set = 0;
  setNumericParameter("pieminimum", 3);  // the value it already holds: nothing changes
  EXPECT_EQ(byteParams[0].value, 3);
  EXPECT_EQ(byteParams[0].set, 0);
  setNumericParameter("PieMinimum", 7);
  EXPECT_EQ(byteParams[0].value, 7);
  EXPECT_EQ(byteParams[0].set, 1);

  struct Case {
    const char* name;
    int value;
    int* global;
    int want;
  };
  const Case cases[] = {
      {"height", 100, &height, 460},     {"height", 460, &height, 460},
      {"height", 600, &height, 600},     {"Width", 20050, &width, 20050},
      {"width", 449, &width, 450},       {"width", -5, &width, 450},
      {"decimalpoints", 12, &decimalPoints, 12},  // the builder's reader clamps it
      {"DecimalPoints", 0, &decimalPoints, 0},
  };
  for (const Case& c : cases) {
    setNumericParameter(c.name, c.value);
    EXPECT_EQ(*c.global, c.want) << c.name << " " << c.value;
  }
  int h = height, w = width;
  setNumericParameter("maxlabels", 10);
  EXPECT_EQ(height, h);
  EXPECT_EQ(width, w);
}

TEST_F(Preferences, RelativeExpiryBecomesAbsoluteOutsideTheCompiler) {
  Tarnwick = 0;
  long long before = time(nullptr);
  string got = setCubeExpiry("+1");
  long long after = time(nullptr);
  ASSERT_GT(got.size(), 3u);
  EXPECT_EQ(got.substr(got.size() - 3), "000");
  long long seconds = std::stoll(got.substr(0, got.size() - 3));
  EXPECT_GE(seconds, before + 86400);
  EXPECT_LE(seconds, after + 86400);

  const char* unchanged[] = {"", "1900000000000", "30"};
  for (const char* v : unchanged) EXPECT_EQ(setCubeExpiry(v), v);

  Tarnwick = 1;
  EXPECT_EQ(setCubeExpiry("+30"), "+30");
  setStringParameter("cubeexpiry", "+30");
  EXPECT_EQ(lsParams[4].value, "+30");

  Tarnwick = 0;
  setStringParameter("cubeexpiry", "+2");
  ASSERT_GT(lsParams[4].value.size(), 3u);
  EXPECT_NE(lsParams[4].value[0], '+');
  EXPECT_EQ(np_cubeexpiry, lsParams[4].value);  // the page carries the absolute expiry
}

// An item of a reports list: four hex digits of length, then the text.
static string reportItem(size_t len, char fill) {
  char digits[8];
  snprintf(digits, sizeof digits, "%04zx", len);
  return digits + string(len, fill);
}

TEST_F(Preferences, LongReportsListsAreCutToWholeItemsThatFit) {
  struct Case {
    const char* what;
    string value;
    int kept;
  };
  const Case cases[] = {
      {"equal items", [] {
         string v;
         for (int i = 0; i < 70; i++) v += reportItem(1000, 'a' + i % 26);
         return v;
       }(), 65},
      // The second item's text fits 65534 but not with its own four length digits.
      {"length digits count", reportItem(65000, 'a') + reportItem(530, 'b') + reportItem(10, 'c'),
       1},
      {"empty item stops", reportItem(40000, 'a') + "0000" + reportItem(30000, 'b'), 1},
      {"item ending on the last byte", reportItem(65000, 'a') + reportItem(527, 'b') +
                                            reportItem(100, 'c'), 2},
      // Kept items are written again with lower-case length digits.
      {"upper-case length digits", "FDE8" + string(65000, 'a') + "000A" + string(10, 'b') +
                                       reportItem(600, 'c'), 2},
  };
  for (const Case& c : cases) {
    SetUp();
    ASSERT_GT(c.value.size(), 65535u) << c.what;
    ::testing::internal::CaptureStderr();
    setStringParameter("reports", c.value.c_str());
    string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Truncated reports at number " + std::to_string(c.kept) +
                       " to make it fit within 64k\n")
        << c.what;
    const string& got = lsParams[0].value;
    EXPECT_LE(got.size(), 65535u) << c.what;
    // Whole items from the start, their length digits in lower case.
    string want = c.value.substr(0, got.size());
    for (size_t at = 0; at + 4 <= want.size();) {
      for (size_t i = at; i < at + 4; i++) want[i] = char(tolower((unsigned char)want[i]));
      at += 4 + strtoul(want.substr(at, 4).c_str(), nullptr, 16);
    }
    EXPECT_EQ(got, want) << c.what;
    int pos = 0, items = 0;
    while (pos < int(got.size())) {
      getString(4, got.c_str(), &pos);
      items++;
    }
    EXPECT_EQ(items, c.kept) << c.what;
    EXPECT_EQ(np_reports, got);
    // The cut list still fits a long string of the compiled profile.
    EXPECT_EQ(makeString(4, got.c_str()).size(), got.size() + 4);
    TearDown();
  }
  string exact = reportItem(65531, 'a');  // exactly 65535 bytes: kept whole, no message
  ::testing::internal::CaptureStderr();
  setStringParameter("reports", exact.c_str());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(lsParams[0].value, exact);
}
