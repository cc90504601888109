// The platform layer's promises that the launcher relies on, on each
// platform: the bounded formatter's fit rule and termination (the Windows
// runtime leaves a text that does not fit unterminated), the environment
// assignment's semantics, and assertions that report and end the process in
// every build type.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform.h"
#include "test_support.h"

namespace {

TEST(PlatFormat, FitRuleAndTerminationAtEverySize) {
  struct Case {
    std::size_t size;
    std::string text;
    bool fits;
    const char *kept;  // what the buffer holds afterwards
  };
  const Case cases[] = {
      {8, "", true, ""},
      {8, "1234567", true, "1234567"},
      {8, "12345678", false, "1234567"},  // fills the buffer exactly
      {8, "123456789", false, "1234567"},
      {8, std::string(5000, 'z'), false, "zzzzzzz"},
      {1, "a", false, ""},
      {1, "", true, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " for " +
                 std::to_string(c.text.size()) + " characters");
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    const int r = plat_format(buf, c.size, "%s", c.text.c_str());
    EXPECT_EQ(r >= 0 && static_cast<std::size_t>(r) < c.size, c.fits) << r;
    EXPECT_STREQ(buf, c.kept);
    EXPECT_EQ(buf[c.size], '#') << "wrote past the buffer";
  }
}

TEST(PlatPutenv, CopiesSetsAndRemoves) {
  const char *key = "ZARN_PLAT_PUTENV";
  zt::EnvGuard env;
  env.unset(key);
  struct Step {
    const char *assignment;
    const char *after;  // null: unset
  };
  const Step steps[] = {
      {"ZARN_PLAT_PUTENV=one", "one"},
      {"ZARN_PLAT_PUTENV=two;three", "two;three"},
      {"ZARN_PLAT_PUTENV=", nullptr},  // an empty value removes the key
      {"ZARN_PLAT_PUTENV=", nullptr},  // and removing an unset key succeeds
  };
  for (const Step &s : steps) {
    SCOPED_TRACE(s.assignment);
    // The caller reuses its buffer at once: the text must have been copied.
    std::string text = s.assignment;
    EXPECT_EQ(plat_putenv(text.data()), 0);
    std::fill(text.begin(), text.end(), 'X');
    EXPECT_STREQ(std::getenv(key), s.after);
  }
}

TEST(PlatAssertDeathTest, ReportsExpressionFileAndLine) {
  int one = 1;
  // The source path is given relative to the checkout.
  const std::string report =
      "Assertion failed: one == 2, file tests/platform_layer_test\\.cpp, "
      "line " + std::to_string(__LINE__ + 1);
  EXPECT_DEATH(PLAT_ASSERT(one == 2), report);
}

}  // namespace
