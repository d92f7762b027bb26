// Page and cube-file settings: the carrier rule, the escaping writers, function items and
// the configuration block written before the trees.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/preferences.h"
#include "varkel/datasource.h"
#include "varkel/input.h"
#include "varkel/odbc.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/settings.h"
#include "varkel/varkel.h"
#include "varkel/workbuffers.h"

using std::string;

namespace {

// Everything written to a temporary stream so far.
string contents(FILE* f) {
  fflush(f);
  long end = ftell(f);
  string s(end, '\0');
  rewind(f);
  size_t got = fread(&s[0], 1, end, f);
  s.resize(got);
  fseek(f, 0, SEEK_END);
  return s;
}

// What a writer puts on one stream.
template <class Write>
string written(Write write) {
  FILE* f = tmpfile();
  write(f);
  string s = contents(f);
  fclose(f);
  return s;
}

// A page and a cube file backed by temporary files, with the run flags put back afterwards.
class Carriers : public ::testing::Test {
 protected:
  void SetUp() override {
    savedEmitCB4 = emitCB4;
    savedServerMode = serverMode;
    page = tmpfile();
    cube = tmpfile();
    ofp = page;
    cb4 = cube;
    emitCB4 = 1;
    serverMode = 0;
  }
  void TearDown() override {
    fclose(page);
    fclose(cube);
    ofp = nullptr;
    cb4 = nullptr;
    emitCB4 = savedEmitCB4;
    serverMode = savedServerMode;
  }
  string pageText() { return contents(page); }
  string cubeText() { return contents(cube); }

  FILE* page = nullptr;
  FILE* cube = nullptr;
  int savedEmitCB4 = 0, savedServerMode = 0;
};

}  // namespace

TEST(OutputCarefully, LabelsAreCutValuesAreWhole) {
  string pluses(85, '+');
  string cut;
  for (int i = 0; i < 84; i++) cut += "%2b";
  EXPECT_EQ(written([&](FILE* f) { outputCarefully(pluses.c_str(), f); }), cut);
  EXPECT_EQ(written([&](FILE* f) { outputEscaped(pluses.c_str(), f); }), cut + "%2b");
  EXPECT_EQ(written([](FILE* f) { outputCarefully("a\\;b", f); }), "a%5c%5c%3bb");
  for (auto write : {outputCarefully, outputEscaped}) {
    EXPECT_EQ(written([&](FILE* f) { write(nullptr, f); }), "");
    EXPECT_EQ(written([&](FILE* f) { write("", f); }), "");
  }
}

TEST(UrlEscapes, EveryByteAsTwoLowerCaseHexDigits) {
  EXPECT_EQ(written([](FILE* f) { url_char('\xff', f); }), "%ff");
  EXPECT_EQ(written([](FILE* f) { url_char('\n', f); }), "%0a");
  EXPECT_EQ(written([](FILE* f) { url_string("A z", f); }), "%41%20%7a");
  EXPECT_EQ(url_encode("A;\x80"), "%41%3b%80");
  EXPECT_EQ(url_encode(""), "");
}

TEST(HtmlCell, EntitiesForAngleBracketsAndBlanks) {
  struct Case {
    const char* text;
    const char* want;
  };
  const Case cases[] = {
      {"<b>", "&lt;b&gt;"},
      {"a b\tc", "a&nbsp;b&nbsp;c"},
      {"&\"'", "&\"'"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(written([&](FILE* f) { outputHTMLString(c.text, f); }), c.want) << c.text;
  EXPECT_EQ(written([](FILE* f) { outputHTMLString(nullptr, f); }), "");
}

TEST(FunctionItem, AggregatorsFieldNamesAndExpressions) {
  snprintf(newDataFieldNames[3], fieldSize, "f3");
  snprintf(newDataFieldNames[512], fieldSize, "Sales Amount");
  struct Case {
    const char* text;
    const char* want;
  };
  const Case cases[] = {
      {"sum.x", ";function=sum.x"},
      {"oneof.a.b", ";function=oneof.a.b"},
      {"constant.5", ";function=constant.5"},
      {"divconst.2", ";function=divconst.2"},
      {"f3", ";compute=('f3')"},
      {"Sales Amount", ";compute=('Sales Amount')"},
      {"f33", ";compute=(f33)"},
      {"a+b", ";compute=(a+b)"},
      {"'x'", ";compute=('x')"},  // already quoted: kept as it stands
      {"summary", ";compute=(summary)"},  // "sum" without its dot is no aggregator
      {"Old style sum", ""},
      {"", ";compute=('')"},  // an empty text equals the unnamed columns' empty names
  };
  for (const Case& c : cases)
    EXPECT_EQ(written([&](FILE* f) { outputFunction(f, c.text); }), c.want) << c.text;
  EXPECT_EQ(written([](FILE* f) { outputFunction(f, nullptr); }), "");
  newDataFieldNames[3][0] = '\0';
  newDataFieldNames[512][0] = '\0';
}

TEST_F(Carriers, RulePicksCubeFilePageOrBoth) {
  struct Case {
    int emit;
    bool both;
    bool pageOpen, cubeOpen;
    bool toCube, toPage;
  };
  const Case cases[] = {
      {1, false, true, true, true, false},  {1, true, true, true, true, true},
      {0, false, true, true, false, true},  {0, true, true, true, false, true},
      {1, true, false, true, true, false},  {1, true, true, false, false, true},
      {0, false, false, true, false, false},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    emitCB4 = c.emit;
    ofp = c.pageOpen ? page : nullptr;
    cb4 = c.cubeOpen ? cube : nullptr;
    outputParam("grid", "true", c.both);
    EXPECT_EQ(cubeText(), c.toCube ? "grid=true\n" : "")
        << c.emit << c.both << c.pageOpen << c.cubeOpen;
    EXPECT_EQ(pageText(), c.toPage ? "<param name=\"grid\" value=\"true\">\n" : "")
        << c.emit << c.both << c.pageOpen << c.cubeOpen;
  }
}

TEST_F(Carriers, WithoutCubeFileTheSharedStreamGetsOnlyParamTags) {
  emitCB4 = 0;
  cb4 = ofp;  // no cube file: cb4 is the page stream
  outputParam("grid", "true", false);
  EXPECT_EQ(pageText(), "<param name=\"grid\" value=\"true\">\n");
}

TEST_F(Carriers, EmptyValuesOnlyInTheTextForm) {
  outputParam("helpurl", "", true);
  outputParam(string("runcode"), string(), true);
  EXPECT_EQ(cubeText(), "helpurl=\n");
  EXPECT_EQ(pageText(), "<param name=\"helpurl\" value=\"\">\n");
}

TEST_F(Carriers, PageValuesCarryMarkupAsEntitiesTheCubeFileAsBytes) {
  const char* hostile = "\"><script>a&b</script>";
  outputParam("description", hostile, true);
  EXPECT_EQ(cubeText(), string("description=") + hostile + "\n");
  EXPECT_EQ(pageText(),
            "<param name=\"description\" value=\"&quot;&gt;&lt;script&gt;a&amp;b&lt;/script&gt;"
            "\">\n");
}

TEST_F(Carriers, ValuesWrittenPieceByPieceAreEscapedOnlyOnThePage) {
  for (FILE* stream : {page, cube}) {
    PageValue value(stream);
    fputs("<a", value.out());
    fprintf(value.out(), "&%d\"", 5);
  }
  EXPECT_EQ(pageText(), "&lt;a&amp;5&quot;");
  EXPECT_EQ(cubeText(), "<a&5\"");
  // A cube request answers with one stream for both: it is the page.
  cb4 = ofp;
  outputParam("x", "<", false);
  EXPECT_EQ(pageText(), "&lt;a&amp;5&quot;x=&lt;\n");
}

namespace {

// Carriers plus a profile's settings: tables and np_ strings put back afterwards.
class ProfileSettings : public Carriers {
 protected:
  void SetUp() override {
    Carriers::SetUp();
    std::copy(bParams, bParams + numBParams + 1, b);
    std::copy(nbParams, nbParams + numNbParams + 1, nb);
    std::copy(byteParams, byteParams + numByteParams + 1, by);
    std::copy(sParams, sParams + numSParams + 1, sp);
    std::copy(lsParams, lsParams + numLsParams + 1, lsp);
    for (int i = 0; i < 11; i++) savedStrings[i] = *strings()[i];
    for (int i = 0; i < 9; i++) savedColours[i] = *colours()[i];
    for (int i = 0; i < 9; i++) *colours()[i] = i + 1;
  }
  void TearDown() override {
    std::copy(b, b + numBParams + 1, bParams);
    std::copy(nb, nb + numNbParams + 1, nbParams);
    std::copy(by, by + numByteParams + 1, byteParams);
    std::copy(sp, sp + numSParams + 1, sParams);
    std::copy(lsp, lsp + numLsParams + 1, lsParams);
    for (int i = 0; i < 11; i++) *strings()[i] = savedStrings[i];
    for (int i = 0; i < 9; i++) *colours()[i] = savedColours[i];
    Carriers::TearDown();
  }
  static string* const* strings() {
    static string* const s[11] = {&np_helpurl,  &np_runcode,     &np_windowname, &np_initialview,
                                  &np_whatif,   &np_cginame,     &np_cgiroot,    &np_capturename,
                                  &np_reports,  &np_description, &np_cubeexpiry};
    return s;
  }
  static int* const* colours() {
    static int* const c[9] = {&np_vertRed, &np_vertGreen, &np_vertBlue, &np_horRed, &np_horGreen,
                              &np_horBlue, &np_dataRed,   &np_dataGreen, &np_dataBlue};
    return c;
  }

 private:
  BooleanParam b[numBParams + 1], nb[numNbParams + 1];
  ByteParam by[numByteParams + 1];
  StringParam sp[numSParams + 1], lsp[numLsParams + 1];
  string savedStrings[11];
  int savedColours[9];
};

// The param tag form of a cube-file text of name=value lines.
string asParamTags(const string& lines) {
  string out;
  size_t pos = 0;
  while (pos < lines.size()) {
    size_t eq = lines.find('=', pos), nl = lines.find('\n', pos);
    out += "<param name=\"" + lines.substr(pos, eq - pos) + "\" value=\"" +
           lines.substr(eq + 1, nl - eq - 1) + "\">\n";
    pos = nl + 1;
  }
  return out;
}

}  // namespace

TEST_F(ProfileSettings, PassthroughWritesSetRowsStringsAndColoursInOrder) {
  bParams[22].value = 0;  // grid
  bParams[22].set = 1;
  bParams[8].set = 1;     // allownavigation: never written
  nbParams[2].value = 0;  // exporttosylk
  nbParams[2].set = 1;
  nbParams[5].set = 1;    // a reserved row: never written
  byteParams[3].set = 1;  // reserved too
  np_helpurl = "help.htm";
  np_windowname = "w";
  np_cginame = "c.exe";
  np_reports = "0001r";
  np_description = "";
  np_cubeexpiry = "123000";
  np_runcode = np_initialview = np_whatif = np_cgiroot = np_capturename = "";

  const string cubeLines =
      "grid=false\n"
      "allowviewsourcerecords=true\n"
      "exporttosylk=false\n"
      "pieminimum=3\n"
      "helpurl=help.htm\n"
      "windowname=w\n"
      "cginame=c.exe\n"
      "reports=0001r\n"
      "cubeexpiry=123000\n"
      "verticalcolor=(1,2,3)\n"
      "horizontalcolor=(4,5,6)\n"
      "datacolor=(7,8,9)\n";
  outputPassthroughParameters(false);
  EXPECT_EQ(cubeText(), cubeLines);
  EXPECT_EQ(pageText(), asParamTags("cginame=c.exe\nreports=0001r\n"));

  TearDown();
  SetUp();
  bParams[22].value = 0;
  bParams[22].set = 1;
  nbParams[2].value = 0;
  nbParams[2].set = 1;
  np_helpurl = "help.htm";
  np_windowname = "w";
  np_cginame = "c.exe";
  np_reports = "0001r";
  np_cubeexpiry = "123000";
  np_runcode = np_initialview = np_whatif = np_cgiroot = np_capturename = np_description = "";
  outputPassthroughParameters(true);  // server mode: both carriers, same values
  EXPECT_EQ(cubeText(), cubeLines);
  EXPECT_EQ(pageText(), asParamTags(cubeLines));
}

namespace {

// outputApplet's inputs from the driver, set for one page and put back afterwards.
class Applet : public ProfileSettings {
 protected:
  void SetUp() override {
    ProfileSettings::SetUp();
    saved = {lumetraWidth, lumetraHeight, theCodeBase, emitProfile, separator,
             decimalPoints, skipFirstLine, string(cb4FileName)};
    lumetraWidth = widthText;
    lumetraHeight = heightText;
    theCodeBase = codeBaseText;
    snprintf(widthText, sizeof widthText, "100%%");
    snprintf(heightText, sizeof heightText, "480");
    codeBaseText[0] = '\0';
    emitProfile = 0;
    separator = '\t';
    decimalPoints = 2;
    skipFirstLine = 0;
    snprintf(cb4FileName, sizeof cb4FileName, "out/cube.cb4");
    for (int i = 0; i < 11; i++) strings()[i]->clear();
  }
  void TearDown() override {
    lumetraWidth = saved.width;
    lumetraHeight = saved.height;
    theCodeBase = saved.codeBase;
    emitProfile = saved.emitProfile;
    separator = saved.separator;
    decimalPoints = saved.decimalPoints;
    skipFirstLine = saved.skipFirstLine;
    snprintf(cb4FileName, sizeof cb4FileName, "%s", saved.cb4.c_str());
    ProfileSettings::TearDown();
  }
  // Text with the builddate setting's value (the time of the run) replaced by "T".
  static string withoutTime(string text) {
    for (const char* head : {"builddate=", "<param name=\"builddate\" value=\""}) {
      size_t p = text.find(head);
      if (p == string::npos) continue;
      p += strlen(head);
      size_t end = text.find_first_of("\n\"", p);
      EXPECT_GT(end, p + 10) << "builddate value too short";
      text.replace(p, end - p, "T");
    }
    return text;
  }

  char widthText[256], heightText[256], codeBaseText[256];
  struct {
    char* width;
    char* height;
    char* codeBase;
    int emitProfile;
    char separator;
    int decimalPoints, skipFirstLine;
    string cb4;
  } saved;
};

const string versionLine =
    string("createversion=") + programVersion + " (" + buildNumber + " " + buildDate + ")\n";

const char* const viewerHead =
    "\n<!-- lmt applet tag -->\n"
    "\n<applet code=\"com.zv.lmt.root.class\" archive=\"lmt.jar\" width=100% height=480>\n"
    "<!-- IE 4.0 -->\n"
    "<param name=\"cabinets\" value=\"lmt.cab\">\n"
    "<!-- IE 3.0 -->\n"
    "<param name=\"cabbase\" value=\"lmt.cab\">\n"
    "\n<!-- Configuration parameters -->\n";

}  // namespace

TEST_F(Applet, DefaultCarriersPutOnlyThePageSettingsOnThePage) {
  np_cginame = "varkel4.exe";
  np_helpurl = "h.htm";
  outputApplet(ofp);
  EXPECT_EQ(pageText(), viewerHead + asParamTags(versionLine) +
                            "<param name=\"cb4file\" value=\"cube.cb4\">\n" +
                            asParamTags("cginame=varkel4.exe\n"));
  EXPECT_EQ(withoutTime(cubeText()),
            versionLine +
                "builddate=T\n"
                "allowviewsourcerecords=true\n"
                "pieminimum=3\n"
                "helpurl=h.htm\n"
                "cginame=varkel4.exe\n"
                "verticalcolor=(1,2,3)\n"
                "horizontalcolor=(4,5,6)\n"
                "datacolor=(7,8,9)\n"
                "decimalpoints=2\n"
                "firstfieldnames=false\n");
}

TEST_F(Applet, ServerModeWritesEveryRuleSettingToBothCarriers) {
  serverMode = 1;
  separator = ',';
  skipFirstLine = 1;
  outputApplet(ofp);
  const string rule =
      "separator=,\n"
      "allowviewsourcerecords=true\n"
      "pieminimum=3\n"
      "verticalcolor=(1,2,3)\n"
      "horizontalcolor=(4,5,6)\n"
      "datacolor=(7,8,9)\n"
      "decimalpoints=2\n"
      "firstfieldnames=true\n";
  EXPECT_EQ(withoutTime(cubeText()), versionLine + "builddate=T\n" + rule);
  EXPECT_EQ(withoutTime(pageText()), viewerHead + asParamTags(versionLine + "builddate=T\n") +
                                         "<param name=\"cb4file\" value=\"cube.cb4\">\n" +
                                         asParamTags(rule));
}

TEST_F(Applet, WithoutCubeFileThePageCarriesEverything) {
  emitCB4 = 0;
  cb4 = ofp;
  outputApplet(ofp);
  string page = withoutTime(pageText());
  EXPECT_EQ(page.find("cb4file"), string::npos);
  EXPECT_NE(page.find(asParamTags("decimalpoints=2\nfirstfieldnames=false\n")), string::npos);
  EXPECT_EQ(page.find("decimalpoints=2\n"), string::npos);  // no cube-file lines at all
}

TEST_F(Applet, CubeOnlyRunsWriteNoTagLines) {
  ofp = nullptr;
  outputApplet(nullptr);
  EXPECT_EQ(pageText(), "");
  EXPECT_EQ(cubeText().rfind(versionLine, 0), 0u);
}

TEST_F(Applet, AppletTagFormsAndCubeFileBaseName) {
  struct Case {
    int profile;
    const char* codeBase;
    const char* cube;
    const char* tag;
    const char* cb4file;
  };
  const Case cases[] = {
      {0, "..", "dir/x.cb4",
       "\n<!-- lmt applet tag -->\n\n<applet codebase=\"..\" code=\"com.zv.lmt.root.class\" "
       "archive=\"lmt.jar\" width=100% height=480>\n",
       "x.cb4"},
      {1, "", "out\\cubes/x.cb4",
       "\n<!-- Ostravin applet tag -->\n\n<applet code=\"Ostravin.class\" "
       "archive=\"ostravin.jar\" width=100% height=480>\n",
       "cubes/x.cb4"},
      {1, "/jc", "x.cb4",
       "\n<!-- Ostravin applet tag -->\n\n<applet codebase=\"/jc\" code=\"Ostravin.class\" "
       "archive=\"ostravin.jar\" width=100% height=480>\n",
       "x.cb4"},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    emitProfile = c.profile;
    snprintf(codeBaseText, sizeof codeBaseText, "%s", c.codeBase);
    snprintf(cb4FileName, sizeof cb4FileName, "%s", c.cube);
    outputApplet(ofp);
    string page = pageText();
    EXPECT_EQ(page.rfind(c.tag, 0), 0u) << page;
    EXPECT_NE(page.find(string("<param name=\"cb4file\" value=\"") + c.cb4file + "\">\n"),
              string::npos)
        << c.cube;
  }
}

TEST_F(Applet, ParamOverridesOfStringSettingsReachBothCarriers) {
  snprintf(codeBaseText, sizeof codeBaseText, "..");  // the profile's code base
  np_helpurl = "profile.htm";
  np_cginame = "varkel4.exe";
  setStringParameter("codebase", "/java");
  setStringParameter("helpurl", "override.htm");
  setStringParameter("cginame", "varkel.cgi");
  setStringParameter("whatif", "w2");
  outputApplet(ofp);
  string page = pageText(), cube = cubeText();
  EXPECT_NE(page.find("<applet codebase=\"/java\" code=\"com.zv.lmt.root.class\""), string::npos);
  EXPECT_NE(cube.find("helpurl=override.htm\n"), string::npos);
  EXPECT_NE(cube.find("whatif=w2\n"), string::npos);
  EXPECT_NE(cube.find("cginame=varkel4.cgi\n"), string::npos);
  EXPECT_NE(page.find(asParamTags("cginame=varkel4.cgi\n")), string::npos);
  EXPECT_EQ(cube.find("profile.htm"), string::npos);
}

namespace {

// The data-source globals of one run, put back afterwards.
class DataSourceSettings : public Applet {
 protected:
  void SetUp() override {
    Applet::SetUp();
    kept = {dataType, dataFileName, odbcUser, odbcPassword, odbcSelect, dataName,
            newDataFileName};
    dataName = nullptr;
    dataFileName = nullptr;
    odbcUser = odbcPassword = odbcSelect = empty;
  }
  void TearDown() override {
    dataType = kept.type;
    dataFileName = kept.file;
    odbcUser = kept.user;
    odbcPassword = kept.password;
    odbcSelect = kept.select;
    dataName = kept.name;
    newDataFileName = kept.resolved;
    Applet::TearDown();
  }
  // The value of the first cube-file line of name, or "(none)".
  string cubeSetting(const char* name) {
    string cube = "\n" + cubeText(), head = "\n" + string(name) + "=";
    size_t p = cube.find(head);
    if (p == string::npos) return "(none)";
    p += head.size();
    return cube.substr(p, cube.find('\n', p) - p);
  }

  char empty[1] = "";
  struct {
    DataType type;
    char *file, *user, *password, *select, *name, *resolved;
  } kept;
};

// Bytes of a text of %XX escapes.
string urlBytes(const string& encoded) {
  string out;
  for (size_t i = 0; i + 3 <= encoded.size(); i += 3)
    out += char(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
  return out;
}

// A credential from the rawdata value, as its reader gets it back.
string unscramble(const string& encoded) {
  string bytes = urlBytes(encoded);
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] ^= credentialKey[i % 50];
  return bytes;
}

}  // namespace

TEST_F(DataSourceSettings, RawDataByKindOfSource) {
  char file[] = "sales.txt", resolved[] = "/data/sales.txt", command[] = "cat x",
       url[] = "http://h/x", name[] = "text:given";
  struct Case {
    const char* what;
    char* dataName;
    DataType type;
    char* file;
    const char* want;
  };
  const Case cases[] = {
      {"data name wins", name, urlData, url, "text:given"},
      {"text file", nullptr, textData, file, "text:/data/sales.txt"},
      {"command", nullptr, execData, command, "exec:cat x"},
      {"url", nullptr, urlData, url, "http://h/x"},
      {"no source", nullptr, textData, nullptr, "(none)"},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    newDataFileName = resolved;
    dataName = c.dataName;
    dataType = c.type;
    dataFileName = c.file;
    outputApplet(ofp);
    EXPECT_EQ(cubeSetting("rawdata"), c.want) << c.what;
    EXPECT_EQ(cubeSetting("odbccolumns"), "(none)") << c.what;
    EXPECT_EQ(pageText().find("rawdata"), string::npos) << c.what;  // rule, no server mode
  }
}

TEST_F(DataSourceSettings, OdbcSourceCarriesScrambledCredentialsAndOneLineSelect) {
  char dsn[] = "sales", user[] = "scott", password[] = "ti\"ger",
       select[] = "select \"a\"\nfrom t\nwhere x=1";
  dataType = odbcData;
  dataFileName = dsn;
  separator = ',';
  outputApplet(ofp);
  EXPECT_EQ(cubeSetting("rawdata"), "odbc:sales");
  EXPECT_EQ(cubeSetting("separator"), "(none)");
  EXPECT_NE(pageText().find("<param name=\"odbccolumns\" value=\"\">\n"), string::npos);

  TearDown();
  SetUp();
  dataType = odbcData;
  dataFileName = dsn;
  odbcUser = user;
  odbcPassword = password;
  odbcSelect = select;
  outputApplet(ofp);
  string raw = cubeSetting("rawdata");
  const string head = "odbc:sales;eusername=";
  ASSERT_EQ(raw.compare(0, head.size(), head), 0) << raw;
  size_t userEnd = raw.find(";epassword=");
  ASSERT_NE(userEnd, string::npos) << raw;
  size_t passEnd = raw.find(';', userEnd + 1);
  EXPECT_EQ(unscramble(raw.substr(head.size(), userEnd - head.size())), "scott");
  // The value's own double quote is scrambled, so it survives the quote replacement.
  EXPECT_EQ(unscramble(raw.substr(userEnd + 11, passEnd - userEnd - 11)), "ti\"ger");
  EXPECT_EQ(raw.substr(passEnd), ";select 'a' from t where x=1");
}

TEST_F(DataSourceSettings, CredentialThatScramblesToNulIsCarriedWhole) {
  char dsn[] = "d", select[] = "s";
  char user[4] = {'a', credentialKey[1], 'b', '\0'};  // its second byte scrambles to NUL
  dataType = odbcData;
  dataFileName = dsn;
  odbcUser = user;
  odbcSelect = select;
  outputApplet(ofp);
  string raw = cubeSetting("rawdata");
  size_t start = raw.find("eusername=") + 10, end = raw.find(';', start);
  string encoded = raw.substr(start, end - start);
  EXPECT_EQ(encoded.size(), 9u) << raw;
  EXPECT_EQ(encoded.substr(3, 3), "%00");
  EXPECT_EQ(unscramble(encoded), string(user));
}
