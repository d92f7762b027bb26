// The bounds of a web request as the server's environment gives them.
#include <gtest/gtest.h>

#include "varkel/requestlimits.h"

namespace {

TEST(RequestLimits, WholeNumbersInRangeElseTheDefault) {
  struct Case {
    const char* value;
    int limit;
  };
  const Case cases[] = {
      {nullptr, 60}, {"", 60},    {"3", 3},      {"86400", 86400}, {"86401", 60},
      {"0", 60},     {"-5", 60},  {"3s", 60},    {" 3", 3},        {"3 ", 60},
      {"1.5", 60},   {"x", 60},   {"99999999999999999999", 60},
  };
  for (const Case& c : cases)
    EXPECT_EQ(requestLimitFrom(c.value, 86400, 60), c.limit) << (c.value ? c.value : "(unset)");
}

TEST(RequestLimits, NothingStartedOutsideARequest) {
  EXPECT_EQ(requestTimeLimit(), 0);
  EXPECT_FALSE(requestTimedOut());
}

}  // namespace
