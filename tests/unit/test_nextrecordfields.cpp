// The split of a pass's later records, which clears only the rows the previous record
// filled: every record must leave inputFields as a full split of it leaves a fresh buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "varkel/input.h"

namespace {

char reference[maxInputFields][fieldSize];

TEST(NextRecordFields, EachRecordReadsAsAFullSplitWould) {
  const std::string many = [] {
    std::string s;
    for (int i = 0; i < 40; i++) s += "v" + std::to_string(i) + "\t";
    return s;
  }();
  const std::string records[] = {
      "a\tb\tc",  // the pass's first record, split in full
      "d\te\tf\tg\th", "i", "", "\"q\tq\"\t r \t", "j\t\tk", many, "x\ty",
      "   \t\t", std::string(300, 'z') + "\tw",
  };
  for (auto& row : inputFields) strcpy(row, "stale");
  bool first = true;
  for (const std::string& copy : records) {
    int n = first ? extractInputFields(inputFields, copy.c_str(), '\t')
                  : extractNextRecordFields(copy.c_str(), '\t');
    first = false;
    for (auto& row : reference) strcpy(row, "stale");
    ASSERT_EQ(n, extractInputFields(reference, copy.c_str(), '\t')) << copy;
    for (int i = 0; i < maxInputFields; i++)
      ASSERT_STREQ(inputFields[i], reference[i]) << "row " << i << " of " << copy;
  }
}

}  // namespace
