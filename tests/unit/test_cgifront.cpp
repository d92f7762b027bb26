// The CGI front end: the query split and parse, the escaping of echoed request text, and
// the run settings a request makes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "varkel/cgifront.h"
#include "varkel/coded.h"
#include "varkel/datasource.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/varkel.h"
#include "varkel/workbuffers.h"

extern char** environ;

namespace {

struct Element {
  const char* name;
  const char* expression;
};

TEST(SplitQuery, ElementsNamesAndEscapes) {
  struct Case {
    const char* text;
    std::vector<Element> elements;
  };
  const Case cases[] = {
      {"a=x;b=y", {{"a", "x"}, {"b", "y"}}},
      {"a=x\\;y", {{"a", "x;y"}}},
      {"", {{"", ""}}},
      {"a=x;", {{"a", "x"}, {"", ""}}},
      {"x", {{"x", ""}}},
      {"a=b=c", {{"a", "b=c"}}},
      // A backslash before anything but ';' stays; a doubled one leaves the ';' free.
      {"a=x\\y", {{"a", "x\\y"}}},
      {"a=x\\\\;b=y", {{"a", "x\\\\"}, {"b", "y"}}},
      {"a\\;b=c", {{"a;b", "c"}}},
      // '=' ends the name and clears the escape: the ';' after it ends the element.
      {"a\\=;b=c", {{"a\\", ""}, {"b", "c"}}},
      {";;", {{"", ""}, {"", ""}, {"", ""}}},
  };
  for (const Case& c : cases) {
    bool complete = false;
    int n = splitQuery(c.text, &complete);
    ASSERT_EQ(n, (int)c.elements.size()) << c.text;
    EXPECT_TRUE(complete) << c.text;
    for (int i = 0; i < n; i++) {
      EXPECT_STREQ(cgi_query[0][i], c.elements[i].name) << c.text << " element " << i;
      EXPECT_STREQ(cgi_query[1][i], c.elements[i].expression) << c.text << " element " << i;
    }
  }
}

TEST(SplitQuery, StopsAtItsLimitsAndSaysSo) {
  bool complete = true;
  std::string part(1023, 'x');
  EXPECT_EQ(splitQuery(("a=" + part).c_str(), &complete), 1);
  EXPECT_TRUE(complete);  // a part of exactly 1023 characters fits
  EXPECT_EQ(strlen(cgi_query[1][0]), 1023u);

  EXPECT_EQ(splitQuery(("a=" + part + "y;b=c").c_str(), &complete), 1);
  EXPECT_FALSE(complete);
  EXPECT_EQ(strlen(cgi_query[1][0]), 1023u);

  // Full parts followed by the ';' or '=' that ends them, and more elements.
  EXPECT_EQ(splitQuery(("a=" + part + ";b=c").c_str(), &complete), 2);
  EXPECT_TRUE(complete);
  EXPECT_EQ(strlen(cgi_query[1][0]), 1023u);
  EXPECT_STREQ(cgi_query[1][1], "c");
  EXPECT_EQ(splitQuery((part + "=d;b=c").c_str(), &complete), 2);
  EXPECT_TRUE(complete);
  EXPECT_EQ(strlen(cgi_query[0][0]), 1023u);
  EXPECT_STREQ(cgi_query[1][0], "d");
  EXPECT_EQ(splitQuery(("a=" + part.substr(1) + "\\;;b=c").c_str(), &complete), 2);
  EXPECT_TRUE(complete);  // the escaped ';' takes its backslash's place
  EXPECT_EQ(std::string(cgi_query[1][0]), part.substr(1) + ";");

  std::string many;
  for (int i = 0; i < 600; i++) many += "a=b;";
  EXPECT_EQ(splitQuery(many.c_str(), &complete), 513);
  EXPECT_FALSE(complete);
  EXPECT_STREQ(cgi_query[0][511], "a");
  EXPECT_STREQ(cgi_query[0][512], "");
}

TEST(ParseQuery, NullSwitchesOffAndEmptyAcceptsEverything) {
  startUp();  // the match buffers
  bool complete;
  int n = splitQuery("null=02f0=L01a;b=02f1=L01b;c=", &complete);
  ASSERT_EQ(n, 3);
  theQuery = QueryElements();
  doDebug = 0;
  parseQuery(n);
  EXPECT_EQ(theQuery.elementCount, 3);
  EXPECT_EQ(theQuery.flag[0], -1);
  EXPECT_EQ(theQuery.tree[0], nullptr);
  EXPECT_EQ(theQuery.flag[1], 1);
  ASSERT_NE(theQuery.tree[1], nullptr);
  EXPECT_EQ(theQuery.flag[2], 1);
  EXPECT_EQ(theQuery.tree[2], nullptr);  // no tree: every record passes
  EXPECT_EQ(theQuery.flag[3], 0);

  strcpy(inputFields[0], "zz");
  strcpy(inputFields[1], "b");
  EXPECT_TRUE(evalMatch(theQuery.tree[1]));
  strcpy(inputFields[1], "c");
  EXPECT_FALSE(evalMatch(theQuery.tree[1]));
}

TEST(HtmlEscape, OneCharacterAsPrintfWritesIt) {
  EXPECT_EQ(htmlEscapeChar('<'), "&lt;");
  EXPECT_EQ(htmlEscapeChar('a'), "a");
  EXPECT_EQ(htmlEscapeChar('\0'), std::string(1, '\0'));
}

TEST(ClampedInt, ReadsLikeAtoiWithinTheIntRange) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {
      {"101", 101},       {"  7x", 7},          {"-3", -3},
      {"", 0},            {"abc", 0},           {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},      {"99999999999999999999999", 2147483647},
  };
  for (const Case& c : cases) EXPECT_EQ(clampedInt(c.text), c.value) << c.text;
}

// Runs the front end on a GET request with the query string query, from a fresh start-up;
// returns what it wrote to standard output.
class FrontEnd : public ::testing::Test {
 protected:
  std::string run(const std::string& query) {
    clearRequest();
    startUp();
    dataType = textData;
    dataFileName = nullptr;
    unrecognisedDataSource = nullptr;
    raw_query = nullptr;
    theQuery = QueryElements();
    tableType = 0;
    dataRangeStart = 0;
    dataRangeEnd = 100;
    highlightField = -1;
    odbcColumns = nullptr;
    skipFirstLine = 0;
    separator = '\t';
    setenv("REQUEST_METHOD", "GET", 1);
    setenv("QUERY_STRING", query.c_str(), 1);

    fflush(stdout);
    int saved = dup(1);
    FILE* capture = tmpfile();
    dup2(fileno(capture), 1);
    cgiFrontEnd();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    if (pifp) {
      fclose(pifp);
      pifp = nullptr;
    }
    rewind(capture);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, capture)) > 0) out.append(buf, n);
    fclose(capture);
    isCGI = 0;
    return out;
  }

  void TearDown() override { clearRequest(); }

  // Removes the request and every W3_ variable an earlier case left.
  static void clearRequest() {
    std::vector<std::string> names;
    for (char** e = environ; *e; e++)
      if (strncmp(*e, "W3_", 3) == 0) names.push_back(std::string(*e, strcspn(*e, "=")));
    for (const std::string& n : names) unsetenv(n.c_str());
    unsetenv("REQUEST_METHOD");
    unsetenv("QUERY_STRING");
  }
};

TEST_F(FrontEnd, OutputKindAndItsContentType) {
  struct Case {
    const char* format;
    int type;
    const char* contentType;
  };
  const Case cases[] = {
      {"", 0, "Content-type: text/html\n\n"},
      {"&datasourceformat=tsv", 1, "Content-type: text/plain\n\n"},
      {"&datasourceformat=CSV", 2, "Content-type: text/plain\n\n"},
      {"&datasourceformat=Excel", 3, "Content-type: application/vnd.ms-excel\n\n"},
      {"&datasourceformat=word", 0, "Content-type: text/html\n\n"},
  };
  for (const Case& c : cases) {
    std::string out = run(std::string("dataSource=text:d.txt") + c.format);
    EXPECT_EQ(tableType, c.type) << c.format;
    EXPECT_EQ(out, c.contentType) << c.format;
  }
}

TEST_F(FrontEnd, RangeHighlightAndSeparator) {
  struct Case {
    const char* request;
    int start, end, highlight;
    char sep;
  };
  const Case cases[] = {
      {"", 0, 100, -1, '\t'},
      {"&range=101-201", 101, 201, -1, '\t'},
      {"&range=50", 50, 100, -1, '\t'},
      {"&range=-3-x", 0, 3, -1, '\t'},
      {"&range=1-99999999999", 1, 2147483647, -1, '\t'},
      {"&highlightField=2", 0, 100, 2, '\t'},
      {"&separator=%2C%3B", 0, 100, -1, ','},
      {"&separator=", 0, 100, -1, '\0'},
  };
  for (const Case& c : cases) {
    run(std::string("dataSource=text:d.txt") + c.request);
    EXPECT_EQ(dataRangeStart, c.start) << c.request;
    EXPECT_EQ(dataRangeEnd, c.end) << c.request;
    EXPECT_EQ(highlightField, c.highlight) << c.request;
    EXPECT_EQ(separator, c.sep) << c.request;
  }
}

TEST_F(FrontEnd, FlagsByPresence) {
  run("dataSource=text:d.txt");
  EXPECT_EQ(emitAcceptedData, 0);
  EXPECT_EQ(emitFormattedData, 0);
  EXPECT_EQ(skipFirstLine, 0);
  EXPECT_EQ(doDebug, 0);
  EXPECT_EQ(isCGI, 0);  // reset by the fixture after the run

  run("dataSource=text:d.txt&emitAcceptedData=0&emitFormattedData&firstfieldnames&"
      "showStats&inhibitProfileExpansion&emitCastanet&emitClassData&emitClassHierarchy");
  EXPECT_EQ(emitAcceptedData, 1);  // the value does not matter
  EXPECT_EQ(emitFormattedData, 1);
  EXPECT_EQ(skipFirstLine, 1);
  EXPECT_EQ(showStats, 1);
  EXPECT_EQ(inhibitProfileExpansion, 1);
  EXPECT_EQ(emitCastanet, 1);
  EXPECT_EQ(emitClassData, 1);
  EXPECT_EQ(emitClassHierarchy, 1);
}

TEST_F(FrontEnd, DataSourceForms) {
  run("dataSource=+text:/data/d.txt+");
  EXPECT_EQ(dataType, textData);
  EXPECT_STREQ(dataFileName, "/data/d.txt");
  EXPECT_EQ(unrecognisedDataSource, nullptr);

  // Of no known form: nothing set, so that the profile's own source applies; the
  // request's text is kept only to name it.
  run("dataSource=+d.txt+");
  EXPECT_EQ(dataFileName, nullptr);
  ASSERT_NE(unrecognisedDataSource, nullptr);
  EXPECT_STREQ(unrecognisedDataSource, "d.txt");
}

TEST_F(FrontEnd, DebugLinesEscapeTheRequest) {
  std::string out = run("debug=1&dataSource=text:%3Cd%3E&query=a%3D02f0%3DL01%3C%3Bnull%3Dx");
  EXPECT_EQ(doDebug, 1);
  EXPECT_STREQ(debug, "1");
  EXPECT_EQ(out,
            "Content-type: text/html\n\n"
            "dataFile: '&lt;d&gt;'<br>\n"
            "source type is 0<br>\n"
            "raw_query: 'a=02f0=L01&lt;;null=x'<br>\n"
            "<p>Total of 2 query elements.\n"
            "<p>Parsing expression 0 = '02f0=L01&lt;'\n");
  EXPECT_STREQ(raw_query, "a=02f0=L01<;null=x");
  EXPECT_EQ(theQuery.elementCount, 2);
  EXPECT_EQ(theQuery.flag[0], 1);
  EXPECT_EQ(theQuery.flag[1], -1);
}

TEST_F(FrontEnd, NoQueryNoElements) {
  run("dataSource=text:d.txt");
  EXPECT_EQ(raw_query, nullptr);
  EXPECT_EQ(theQuery.elementCount, 0);
  run("dataSource=text:d.txt&query=");
  EXPECT_EQ(theQuery.elementCount, 1);
  EXPECT_EQ(theQuery.flag[0], 1);
  EXPECT_EQ(theQuery.tree[0], nullptr);
}

TEST_F(FrontEnd, FieldNamesUpToTheFirstMissing) {
  std::string longName(1100, 'n');
  run("dataSource=text:d.txt&h0=" + longName + "&h1=b&h3=d");
  EXPECT_EQ(std::string(fieldNames[0]), longName.substr(0, 1023));
  EXPECT_STREQ(fieldNames[1], "b");
  EXPECT_STREQ(fieldNames[2], "");
  EXPECT_STREQ(fieldNames[3], "");  // after the missing h2 nothing is read
}

TEST_F(FrontEnd, OdbcColumnsLoseEmptyPieces) {
  run("dataSource=text:d.txt&odbccolumns=Region%3B%3BSales%3BUnits%3B");
  ASSERT_NE(odbcColumns, nullptr);
  EXPECT_STREQ(odbcColumns[0], "Region");
  EXPECT_STREQ(odbcColumns[1], "Sales");
  EXPECT_STREQ(odbcColumns[2], "Units");
  EXPECT_EQ(odbcColumns[3], nullptr);
}

TEST_F(FrontEnd, ProfileNameAndItsDirectory) {
  struct Case {
    const char* profile;
    const char* directory;
  };
  const Case cases[] = {
      {"/data/cubes/sales.qv4", "/data/cubes/"},
      {"sales.qv4", ""},
      {"cubes\\sales.qv4", "cubes\\"},
      {"a/b\\c", "a/b\\"},
  };
  for (const Case& c : cases) {
    std::string out = run(std::string("dataSource=text:d.txt&emitAcceptedData&profile=") + c.profile);
    EXPECT_STREQ(inputFileName, c.profile);
    EXPECT_STREQ(wholeProfileName, c.profile);
    EXPECT_STREQ(profileDirectory, c.directory) << c.profile;
    // None of them exists: the page says so, and nothing is produced.
    EXPECT_EQ(out, std::string("Content-type: text/html\n\n<p>Couldn't open ") +
                       htmlEscape(c.profile) + " as input file.\n");
    EXPECT_EQ(emitAcceptedData, 0);
    EXPECT_EQ(emitFormattedData, 0);
  }
}

TEST_F(FrontEnd, AnOpenableProfileIsOnlyTested) {
  char path[] = "/tmp/cgifront-profile.XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::string out = run(std::string("dataSource=text:d.txt&profile=") + path);
  EXPECT_EQ(out, "Content-type: text/html\n\n");
  EXPECT_EQ(emitFormattedData, 1);
  EXPECT_EQ(readProfile, 1);
  unlink(path);

  run("dataSource=text:d.txt&wholeprofile=0411xyz");
  EXPECT_EQ(readProfile, 1);
  ASSERT_NE(profileBuffer, nullptr);
  EXPECT_STREQ(profileBuffer, "0411xyz");
}

TEST_F(FrontEnd, ReplacementAlphabet) {
  std::string chars = "._";  // 64 characters that need no encoding in a query string
  for (char c = 'z'; c >= 'a'; c--) chars += c;
  for (char c = 'Z'; c >= 'A'; c--) chars += c;
  for (char c = '9'; c >= '0'; c--) chars += c;
  run("dataSource=text:d.txt&chars=" + chars);
  EXPECT_EQ(std::string(outputChars), chars);
}

TEST(FrontEndRefusals, EndTheProcess) {
  struct Case {
    const char* request;
    int status;
    const char* stderrPattern;
  };
  const Case cases[] = {
      {"emitAcceptedData", 106, "No data source specified"},
      {"dataSource=text:d.txt&chars=0123456789", 1, "Output charset must have 64 to 255"},
      {"dataSource=text:d.txt&chars=-_zyxwvutsrqponmlkjihgfedcbaZYXWVUTSRQPONMLKJIHGFEDCBA"
       "9876543210",
       1, "holds the sign character '-'"},
      {"dataSource=exec:true", 1, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          startUp();
          dataFileName = nullptr;  // no source from an earlier test
          dataType = textData;
          setenv("REQUEST_METHOD", "GET", 1);
          setenv("QUERY_STRING", c.request, 1);
          unsetenv("VARKEL_CGI_ALLOW_EXEC");
          int devnull = open("/dev/null", O_WRONLY);
          dup2(devnull, 1);
          cgiFrontEnd();
          exit(0);
        },
        ::testing::ExitedWithCode(c.status), c.stderrPattern)
        << c.request;
  }
}

}  // namespace
