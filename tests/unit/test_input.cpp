// Record input: the field slots of profile field names.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/util.h"
#include "varkel/fieldsplit.h"
#include "varkel/input.h"
#include "varkel/linereader.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/urlfetch.h"

namespace {

class FieldIndex : public ::testing::Test {
 protected:
  void SetUp() override { memset(dataFieldNames, 0, sizeof dataFieldNames); }
  void TearDown() override { skipFirstLine = 0; }
};

TEST_F(FieldIndex, NumberedWithoutHeader) {
  skipFirstLine = 0;
  struct Case {
    const char* name;
    int want;
  };
  const Case cases[] = {{"f12", 12}, {"f0", 0}, {"f512", 512}, {"x", 0}, {"f", 0}, {"", 0},
                        {"f7abc", 7}};
  for (const auto& c : cases) EXPECT_EQ(getFieldIndex(c.name), c.want) << c.name;
  for (const char* bad : {"f-1", "f513", "f600", "f99999999999999999999"})
    EXPECT_EXIT(getFieldIndex(bad), ::testing::ExitedWithCode(110),
                "^Error 110: Field '.*' names a field number outside 0 to 512\\.\n$")
        << bad;
}

TEST_F(FieldIndex, NamedWithHeader) {
  skipFirstLine = 1;
  EXPECT_EQ(getFieldIndex("b"), 0);
  EXPECT_EQ(getFieldIndex("a"), 1);
  EXPECT_EQ(getFieldIndex("b"), 0);
  EXPECT_EQ(getFieldIndex("  a "), 1);
  EXPECT_STREQ(dataFieldNames[1], "a");
  EXPECT_EQ(getFieldIndex("f9"), 2);  // with a header line, f9 is just a name
}

TEST_F(FieldIndex, At513Names) {
  skipFirstLine = 1;
  for (int i = 0; i < maxInputFields; i++)
    ASSERT_EQ(getFieldIndex(("n" + std::to_string(i)).c_str()), i);
  EXPECT_EQ(getFieldIndex("n512"), 512);
  EXPECT_EXIT(getFieldIndex("one more"), ::testing::ExitedWithCode(110),
              "^Error 110: Too many field names");
}

TEST(IsFieldName, MatchesColumnNames) {
  strcpy(newDataFieldNames[0], "Region");
  strcpy(newDataFieldNames[512], "Last");
  EXPECT_TRUE(isFieldName("Region"));
  EXPECT_TRUE(isFieldName("Last"));
  EXPECT_FALSE(isFieldName("region"));
}

}  // namespace
