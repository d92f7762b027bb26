// The record extract road's pieces: the output kinds, the texts by language, table heads
// and rows in every kind, the hidden inputs and the next-records form.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "varkel/cgifront.h"
#include "varkel/extract.h"
#include "varkel/input.h"
#include "varkel/options.h"

namespace {

// What write put on a stream.
template <typename F>
std::string written(F write) {
  FILE* f = tmpfile();
  write(f);
  fflush(f);
  rewind(f);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  fclose(f);
  return out;
}

void setFields(char rows[][fieldSize], const std::vector<const char*>& fields) {
  for (int i = 0; i < maxInputFields; i++) rows[i][0] = '\0';
  for (size_t i = 0; i < fields.size(); i++) snprintf(rows[i], fieldSize, "%s", fields[i]);
}

TEST(SetTableType, WordsInAnyCase) {
  struct Case {
    const char* word;
    int type;
  };
  const Case cases[] = {{"tsv", 1}, {"TSV", 1}, {"csv", 2}, {"Csv", 2},  {"excel", 3},
                        {"EXCEL", 3}, {"html", 0}, {"", 0},  {"tsvx", 0}, {" csv", 0}};
  for (const Case& c : cases) {
    tableType = 7;
    setTableType(c.word);
    EXPECT_EQ(tableType, c.type) << c.word;
  }
}

TEST(RecordTableTexts, ChosenByTheLocaleNamesBeginning) {
  struct Case {
    const char* locale;
    const char* caption;
  };
  const Case cases[] = {
      {"French_France.1252", "Liste d'enregistrements correspondants aux crit\xe8res de s\xe9lection"},
      {"French", "Liste d'enregistrements correspondants aux crit\xe8res de s\xe9lection"},
      {"German_Germany", "Liste der Datens\xe4tze die Auswahlkriterien erf\xfcllen"},
      {"C", "List of Records that Match the Selection Criteria"},
      {"fr_FR.UTF-8", "List of Records that Match the Selection Criteria"},
      {"french_France", "List of Records that Match the Selection Criteria"},
      {"Frenc", "List of Records that Match the Selection Criteria"},
      {"", "List of Records that Match the Selection Criteria"},
  };
  for (const Case& c : cases) EXPECT_STREQ(recordTableTexts(c.locale).caption, c.caption) << c.locale;

  char notice[128];
  snprintf(notice, sizeof notice, recordTableTexts("French").notice, 101);
  EXPECT_STREQ(notice, "<p>Extraction d'enregistrements tronqu\xe9" "e \xe0 101 \xe9galit\xe9s</p>\n");
  snprintf(notice, sizeof notice, recordTableTexts("German").notice, 101);
  EXPECT_STREQ(notice, "<p>Datensuche bei 101 Entsprechungen abgebrochen.</p>\n");
  EXPECT_STREQ(recordTableTexts("German").button, "F\xfcr weitere Datens\xe4tze hier klicken");
  EXPECT_STREQ(recordTableTexts("French").button, "Cliquez ici pour les enregistrements suivants");
  EXPECT_STREQ(recordTableTexts("C").button, "Click here for next set of records.");
}

class Tables : public ::testing::Test {
 protected:
  void SetUp() override {
    locale = "C";
    doDebug = 0;
    highlightField = -1;
    tableType = 0;
  }
  void TearDown() override {
    tableType = 0;
    highlightField = -1;
  }
};

TEST_F(Tables, RowsInEveryKind) {
  struct Case {
    int type;
    int highlight;
    std::vector<const char*> fields;
    const char* row;
  };
  const Case cases[] = {
      {1, -1, {"a", "b"}, "a\tb\t\n"},
      {3, -1, {"a", "b"}, "a\tb\t\n"},
      {2, -1, {"x,\"y\"", "z"}, "\"x,'y'\",z,\n"},
      {2, -1, {"say \"hi\""}, "say \"hi\",\n"},  // no separator: unchanged
      {1, -1, {"a\"b", ""}, "a\"b\t\t\n"},
      {1, -1, {}, "\n"},
      {0, -1, {"a<b", "", "x y\tz"},
       "<tr>\n<td>a&lt;b</td>\n<td>&nbsp;</td>\n<td>x&nbsp;y&nbsp;z</td>\n</tr>\n"},
      {0, 1, {"a", "b", "c"}, "<tr>\n<td>a</td>\n<td><b>b</b></td>\n<td>c</td>\n</tr>\n"},
      {0, 1, {"a", ""}, "<tr>\n<td>a</td>\n<td><b>&nbsp;</b></td>\n</tr>\n"},
      {0, -1, {"&amp;"}, "<tr>\n<td>&amp;</td>\n</tr>\n"},  // cells escape only < > blank TAB
  };
  for (const Case& c : cases) {
    tableType = c.type;
    highlightField = c.highlight;
    setFields(inputFields, c.fields);
    std::string out = written([&](FILE* f) { outputDataRow(f, (int)c.fields.size()); });
    EXPECT_EQ(out, c.row) << "type " << c.type;
  }
}

TEST_F(Tables, HeadsInEveryKind) {
  setFields(newDataFieldNames, {"Region", "Units, sold", "<x>"});
  highlightField = 0;  // the head is never bold
  tableType = 0;
  EXPECT_EQ(written([](FILE* f) { outputDataHeader(f, 3); }),
            "<table border=1 cellpadding=1 width=\"100%\" align=center>\n"
            "<caption align=center><b>List of Records that Match the Selection Criteria"
            "</b></caption>\n<tr>\n"
            "<th colspan=1 align=center><p><b>Region</b></th>\n"
            "<th colspan=1 align=center><p><b>Units,&nbsp;sold</b></th>\n"
            "<th colspan=1 align=center><p><b>&lt;x&gt;</b></th>\n"
            "</tr>\n");
  tableType = 2;
  EXPECT_EQ(written([](FILE* f) { outputDataHeader(f, 3); }), "Region,\"Units, sold\",<x>,\n");
  tableType = 1;
  EXPECT_EQ(written([](FILE* f) { outputDataHeader(f, 2); }), "Region\tUnits, sold\t\n");
  EXPECT_EQ(written([](FILE* f) { outputDataHeader(f, 0); }), "\n");

  doDebug = 1;
  EXPECT_EQ(written([](FILE* f) { outputDataHeader(f, 1); }),
            "<p>\nTable type is 1\n<p>Number of fields is 1\nRegion\t\n");
}

TEST_F(Tables, Trailers) {
  tableType = 0;
  EXPECT_EQ(written([](FILE* f) { outputDataTrailer(f); }), "</table></center>");
  for (int type : {1, 2, 3}) {
    tableType = type;
    EXPECT_EQ(written([](FILE* f) { outputDataTrailer(f); }), "\n");
  }
}

TEST(HiddenInput, EscapedValuesAndLeftOutNulls) {
  EXPECT_EQ(hiddenInput("range", "101-201"), "<input type=hidden name=\"range\" value=\"101-201\">\n");
  EXPECT_EQ(hiddenInput("query", "a=\"<x>\"&b"),
            "<input type=hidden name=\"query\" value=\"a=&quot;&lt;x&gt;&quot;&amp;b\">\n");
  EXPECT_EQ(hiddenInput("separator", ""), "<input type=hidden name=\"separator\" value=\"\">\n");
  EXPECT_EQ(hiddenInput("optimizeQuery", nullptr), "");
}

TEST(NewRangeURL, NoticeFormAndTheRequestCarriedOn) {
  locale = "C";
  setenv("SERVER_NAME", "shop.example", 1);
  setenv("SCRIPT_NAME", "/cgi-bin/varkel", 1);
  setenv("W3_dataSource", "text:d.txt", 1);
  setenv("W3_optimizeQuery", "1", 1);
  setenv("W3_separator", ",", 1);
  setenv("W3_query", "a=02f0=L01x", 1);
  setenv("W3_datasourceformat", "tsv", 1);  // not carried
  setenv("W3_highlightField", "2", 1);      // not carried
  skipFirstLine = 1;
  EXPECT_EQ(newRangeURL(101, 101, 201),
            "<p>Record retrieval truncated at 101 matches.</p>\n"
            "<form method=post action=\"http://shop.example/cgi-bin/varkel\">\n"
            "<input type=submit name=\"dummy\" value=\"Click here for next set of records.\">\n"
            "<input type=hidden name=\"dataSource\" value=\"text:d.txt\">\n"
            "<input type=hidden name=\"optimizeQuery\" value=\"1\">\n"
            "<input type=hidden name=\"emitAcceptedData\" value=\"1\">\n"
            "<input type=hidden name=\"separator\" value=\",\">\n"
            "<input type=hidden name=\"firstfieldnames\" value=\"1\">\n"
            "<input type=hidden name=\"query\" value=\"a=02f0=L01x\">\n"
            "<input type=hidden name=\"range\" value=\"101-201\">\n"
            "</form>\n");

  // Unset variables: an empty action part and no inputs for them.
  for (const char* v : {"SERVER_NAME", "SCRIPT_NAME", "W3_dataSource", "W3_optimizeQuery",
                        "W3_separator", "W3_query", "W3_datasourceformat", "W3_highlightField"})
    unsetenv(v);
  skipFirstLine = 0;
  locale = "German_Germany";
  EXPECT_EQ(newRangeURL(5, 6, 10),
            "<p>Datensuche bei 5 Entsprechungen abgebrochen.</p>\n"
            "<form method=post action=\"http://\">\n"
            "<input type=submit name=\"dummy\" value=\"F\xfcr weitere Datens\xe4tze hier klicken\">\n"
            "<input type=hidden name=\"emitAcceptedData\" value=\"1\">\n"
            "<input type=hidden name=\"range\" value=\"6-10\">\n"
            "</form>\n");
  locale = "C";
}

}  // namespace
