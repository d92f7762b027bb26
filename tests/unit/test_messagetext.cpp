// Messages with cleaned arguments: the format's text stays, %s and %c arguments are made
// safe for a log line or an HTML answer, and the other conversions print as printf does.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "common/messagetext.h"

namespace {

std::string format(ArgumentCleaning cleaning, const char* f, ...) {
  va_list ap;
  va_start(ap, f);
  std::string out = formatMessage(cleaning, f, ap);
  va_end(ap);
  return out;
}

TEST(MessageText, ArgumentsCleanedFormatKept) {
  const char* forged = "x\r\nError 001: forged\x1b[2J\x7f";
  EXPECT_EQ(format(logArguments, "\nFailed on '%s'.\n", forged),
            "\nFailed on 'x??Error 001: forged?[2J?'.\n");
  EXPECT_EQ(format(htmlArguments, "<p>Dimension \"%s\" ignored.\n", "<script>'&'"),
            "<p>Dimension \"&lt;script&gt;'&amp;'\" ignored.\n");
  EXPECT_EQ(format(keepArguments, "%s|%c", "a\nb", '\t'), "a\nb|\t");
  EXPECT_EQ(format(logArguments, "[%c][%c]", '\n', 'a'), "[?][a]");
  EXPECT_EQ(format(htmlArguments, "[%c]", '<'), "[&lt;]");
  EXPECT_EQ(format(logArguments, "[%c]", '\0'), std::string("[\0]", 3));
}

TEST(MessageText, ConversionsAsPrintf) {
  EXPECT_EQ(format(logArguments, "%03d %5.2f %x %lu %lld %zu %%", 7, 3.14159, 255,
                   4000000000UL, -5LL, (size_t)12),
            "007  3.14 ff 4000000000 -5 12 %");
  EXPECT_EQ(format(logArguments, "[%-4s][%*d][%.*s]", "ab", 3, 5, 2, "xyz"), "[ab  ][  5][xy]");
  EXPECT_EQ(format(logArguments, "%s", (const char*)nullptr), "(null)");
  std::string big(1000, 'q');
  EXPECT_EQ(format(logArguments, "<%s>", big.c_str()), "<" + big + ">");
  EXPECT_EQ(format(logArguments, "trailing %"), "trailing %");
}

}  // namespace
