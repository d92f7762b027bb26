// Data-source strings, ODBC statement files and the field map.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "varkel/datasource.h"
#include "varkel/input.h"
#include "varkel/odbc.h"
#include "varkel/options.h"

namespace {

// Each case starts from the state of a run before any source was given.
void resetSource() {
  dataType = textData;
  dataFileName = nullptr;
  odbcUser = odbcPassword = odbcSelect = const_cast<char*>("");
  isCGI = 0;
}

// A file in a fresh directory of its own; removed with the directory by the caller.
std::string writeTempFile(const std::string& text) {
  char dir[] = "/tmp/datasource.XXXXXX";
  if (!mkdtemp(dir)) return "";
  std::string path = std::string(dir) + "/query.sql";
  FILE* f = fopen(path.c_str(), "w");
  fputs(text.c_str(), f);
  fclose(f);
  return path;
}

// Every byte as %XX, as the page writer URL-encodes a scrambled credential.
std::string percentEncode(const char* text) {
  std::string out;
  char hex[4];
  for (const unsigned char* p = (const unsigned char*)text; *p; p++) {
    snprintf(hex, sizeof hex, "%%%02X", *p);
    out += hex;
  }
  return out;
}

TEST(SetupDataSource, Forms) {
  struct Case {
    const char* text;
    DataType type;
    const char* name;
    const char* user;
    const char* password;
    const char* select;
  };
  const Case cases[] = {
      {"  text:/tmp/a.txt  ", textData, "/tmp/a.txt", "", "", ""},
      {"file:///tmp/a.txt", textData, "/tmp/a.txt", "", "", ""},
      {"exec:sort a;b.txt", execData, "sort a;b.txt", "", "", ""},
      {"url:http://h/x.txt", urlData, "http://h/x.txt", "", "", ""},
      {"http://h/x.txt", urlData, "http://h/x.txt", "", "", ""},
      {"ftp://h/x", urlData, "ftp://h/x", "", "", ""},
      {"odbc:dsn;select * from http://x", urlData, "odbc:dsn;select * from http://x", "", "",
       ""},
      {"Text:a.txt://", urlData, "Text:a.txt://", "", "", ""},
      {"odbc:Sales;username=scott;password=tiger;select a from t;select b from u", odbcData,
       "Sales", "scott", "tiger", "select a from t"},
      {"odbc:;;Sales;;select \"x\" from \"My Table\";", odbcData, "Sales", "", "",
       "select 'x' from 'My Table'"},
      {"odbc:Sales;select 1;username=late", odbcData, "Sales", "late", "", "select 1"},
      {"odbc:Sales;password=a=b;select 1", odbcData, "Sales", "", "a=b", "select 1"},
  };
  for (const auto& c : cases) {
    resetSource();
    setupDataSource(c.text);
    ASSERT_NE(dataFileName, nullptr) << c.text;
    EXPECT_EQ(dataType, c.type) << c.text;
    EXPECT_STREQ(dataFileName, c.name) << c.text;
    EXPECT_STREQ(odbcUser, c.user) << c.text;
    EXPECT_STREQ(odbcPassword, c.password) << c.text;
    EXPECT_STREQ(odbcSelect, c.select) << c.text;
  }
}

TEST(SetupDataSource, FirstSourceWins) {
  resetSource();
  setupDataSource("text:first.txt");
  setupDataSource("exec:second");
  setupDataSource("none:");
  EXPECT_EQ(dataType, textData);
  EXPECT_STREQ(dataFileName, "first.txt");
}

TEST(SetupDataSource, UnknownFormInCgiModeSetsNothing) {
  resetSource();
  isCGI = 1;
  setupDataSource("nonsense");
  EXPECT_EQ(dataFileName, nullptr);
  setupDataSource("text:later.txt");
  EXPECT_STREQ(dataFileName, "later.txt");
  isCGI = 0;
}

TEST(SetupDataSource, Errors) {
  struct Case {
    const char* text;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {" none:text:a.txt ", 106, "^Error 106: No data source specified in 'none:text:a.txt'\n$"},
      {"nonsense", 106, "^Error 106: Could not understand data source 'nonsense'\\.\n$"},
      {"", 106, "^Error 106: Could not understand data source ''\\.\n$"},
      {"odbc:;;", 102, "^Error 102: No ODBC DSN given in \"odbc:;;\"$"},
      {"odbc:Sales;username=u", 103, "^Error 103: No ODBC select statement in \"odbc:Sales;username=u\"$"},
      {"odbc:Sales;+/nonexistent/q.sql", 2,
       "^Error 002: Unable to open file containing ODBC query '/nonexistent/q.sql'$"},
      {"odbc:Sales;+/tmp", 2,
       "^Error 002: ODBC query file can not be opened because is a directory: '/tmp'\n$"},
  };
  for (const auto& c : cases) {
    resetSource();
    EXPECT_EXIT(setupDataSource(c.text), ::testing::ExitedWithCode(c.code), c.message) << c.text;
  }
}

TEST(SetupDataSource, StatementFromFile) {
  std::string path = writeTempFile("select \"a\"\nfrom t\n");
  resetSource();
  setupDataSource(("odbc:Sales;+" + path + ";select ignored").c_str());
  EXPECT_STREQ(odbcSelect, "select 'a'\nfrom t\n");
  EXPECT_EQ(getQuery(path.c_str()), "select \"a\"\nfrom t\n");
  unlink(path.c_str());
  rmdir(path.substr(0, path.rfind('/')).c_str());
}

TEST(Credentials, RoundTripThroughThePage) {
  struct Case {
    const char* user;
    const char* password;
  };
  static const std::string longUser(120, 'k');  // longer than the key: it repeats
  const Case cases[] = {
      {"scott", "tiger"},
      {"a;b=c%d", "pass word;=%"},
      {longUser.c_str(), "x"},
  };
  for (const auto& c : cases) {
    std::string user = c.user, password = c.password;
    std::vector<char> u(user.begin(), user.end()), p(password.begin(), password.end());
    u.push_back('\0');
    p.push_back('\0');
    ASSERT_EQ(dbEncrypt(u.data(), credentialKey), 0);
    ASSERT_EQ(dbEncrypt(p.data(), credentialKey), 0);
    // An ASCII credential never scrambles to a byte the source string gives a meaning.
    EXPECT_EQ(strlen(u.data()), user.size());
    EXPECT_EQ(strpbrk(u.data(), ";%="), nullptr);
    EXPECT_NE(std::string(u.data()), user);
    std::string source = "odbc:Sales;eusername=" + percentEncode(u.data()) +
                         ";epassword=" + percentEncode(p.data()) + ";select 1";
    resetSource();
    setupDataSource(source.c_str());
    EXPECT_EQ(std::string(odbcUser), user);
    EXPECT_EQ(std::string(odbcPassword), password);
  }
  // A byte equal to its key byte (non-ASCII) scrambles to NUL, which the page writes as
  // "%00": it comes back whole, and so do the bytes after it.
  const std::string plain[] = {std::string(1, credentialKey[0]) + "abc",
                               std::string("p") + credentialKey[1] + "ss" + credentialKey[4]};
  std::string encoded[2];
  for (int k = 0; k < 2; k++) {
    char hex[4];
    for (size_t i = 0; i < plain[k].size(); i++) {
      snprintf(hex, sizeof hex, "%%%02X", (unsigned char)(plain[k][i] ^ credentialKey[i % 50]));
      encoded[k] += hex;
    }
    EXPECT_NE(encoded[k].find("%00"), std::string::npos);
  }
  resetSource();
  setupDataSource(("odbc:Sales;eusername=" + encoded[0] + ";epassword=" + encoded[1] +
                   ";select 1").c_str());
  EXPECT_EQ(std::string(odbcUser), plain[0]);
  EXPECT_EQ(std::string(odbcPassword), plain[1]);

  EXPECT_EQ(strlen(credentialKey), 50u);
  for (const char* k = credentialKey; *k; k++) EXPECT_GE((unsigned char)*k, 0x80);
  char text[] = "x";
  EXPECT_EQ(dbEncrypt(nullptr, credentialKey), -1);
  EXPECT_EQ(dbDecrypt(text, nullptr), -1);
}

TEST(MapField, HeaderNamesToColumns) {
  resetSource();
  memset(dataFieldNames, 0, sizeof dataFieldNames);
  memset(newDataFieldNames, 0, sizeof newDataFieldNames);
  strcpy(newDataFieldNames[0], "Region");
  strcpy(newDataFieldNames[1], "Sales");
  skipFirstLine = 1;
  strcpy(dataFieldNames[0], "Sales");
  strcpy(dataFieldNames[1], "f0");
  strcpy(dataFieldNames[2], "f");
  strcpy(dataFieldNames[3], "Region");
  char header[] = "Region\tSales";
  inputBuffer = header;

  // A name that is no column fails before anything is mapped (in a child, so that the map of
  // this process is still to be built).
  EXPECT_EXIT(
      {
        strcpy(dataFieldNames[4], "Profit");
        mapField(0);
      },
      ::testing::ExitedWithCode(101),
      "^Error 101: Failed to find field Profit in input data 'Region\tSales'\\.\n$");
  EXPECT_EXIT(
      {
        strcpy(dataFieldNames[4], "f513");
        mapField(0);
      },
      ::testing::ExitedWithCode(101), "Failed to find field f513 in input data");
  EXPECT_EXIT(
      {
        dataType = odbcData;
        strcpy(dataFieldNames[4], "Profit");
        mapField(0);
      },
      ::testing::ExitedWithCode(101), "^Error 101: Failed to find field Profit in ODBC columns\\.\n$");

  EXPECT_EQ(mapField(0), 1);
  EXPECT_EQ(mapField(1), 0);
  EXPECT_EQ(mapField(2), 0);
  EXPECT_EQ(mapField(3), 0);
  EXPECT_EQ(mapField(7), 0);  // a slot without a name
  EXPECT_EQ(fieldsMapped, 1);
  // The map is built once: later header changes do not move a slot.
  strcpy(newDataFieldNames[5], "Sales");
  strcpy(newDataFieldNames[1], "Other");
  EXPECT_EQ(mapField(0), 1);

  EXPECT_EXIT(mapField(513), ::testing::ExitedWithCode(110), "outside 0 to 512");
  EXPECT_EXIT(mapField(-1), ::testing::ExitedWithCode(110), "outside 0 to 512");
  skipFirstLine = 0;
  EXPECT_EQ(mapField(42), 42);
  EXPECT_EQ(mapField(-1), -1);  // no header line: every slot is its own column
  inputBuffer = nullptr;
}

}  // namespace
