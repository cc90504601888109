// Windows holds one environment key whatever its letter case ("Path" is
// "PATH"): the launcher's assignments must replace an inherited spelling,
// not add a second key beside it, both for its own later reads and for the
// child it starts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher.h"
#include "platform.h"
#include "probe_reader.h"
#include "test_support.h"

namespace {

enum class Op { prepend, set };

struct Case {
  const char *what;
  Op op;
  const char *inherited_key;
  const char *inherited_value;
  const char *launcher_key;
  const char *value;
  const char *expected;
};

// The values the child was given under key, in any letter case.
std::vector<std::string> child_values(const zt::ProbeReport &report,
                                      const std::string &key) {
  std::vector<std::string> values;
  for (const auto &[k, v] : report.env)
    if (plat_stricmp(k.c_str(), key.c_str()) == 0) values.push_back(v);
  return values;
}

TEST(WindowsEnv, InheritedKeyInAnotherCaseIsReplaced) {
#ifndef _WIN32
  GTEST_SKIP() << "environment keys are case-sensitive on this platform";
#endif
  const std::string probe = zt::probe_program();
  ASSERT_FALSE(probe.empty()) << "ZARN_TEST_PROBE is not set";

  const Case cases[] = {
      {"PATH as Windows spells it", Op::prepend, "Path", "C:/old/bin",
       "PATH", "C:/kit/bin", "C:/kit/bin;C:/old/bin"},
      {"prepend to a lower-case key", Op::prepend, "zarn_case_lib", "C:/a",
       "ZARN_CASE_LIB", "C:/b", "C:/b;C:/a"},
      {"set over a mixed-case key", Op::set, "Zarn_Case_Root", "C:/old",
       "ZARN_CASE_ROOT", "C:/kit", "C:/kit"},
      {"set in lower case over an upper-case key", Op::set, "ZARN_CASE_UP",
       "x", "zarn_case_up", "y", "y"},
  };
  zt::TempDir tmp;
  const std::string report_path = (tmp.path() / "report").string();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    zt::EnvGuard env;
    env.set(c.inherited_key, c.inherited_value);
    env.set("ZARN_PROBE_OUT", report_path);

    const std::int32_t ok = c.op == Op::prepend
                                ? l_prepend_path(c.launcher_key, c.value)
                                : l_setenv(c.launcher_key, c.value);
    EXPECT_EQ(ok, 1);
    for (const char *key : {c.inherited_key, c.launcher_key}) {
      const char *now = std::getenv(key);
      EXPECT_STREQ(now, c.expected) << key;
    }

    const char *argv[] = {probe.c_str(), nullptr};
    ASSERT_EQ(plat_spawnv_wait(probe.c_str(), argv), 0);
    const zt::ProbeReport report = zt::read_probe(report_path);
    ASSERT_EQ(report.argc, 1);
    EXPECT_EQ(child_values(report, c.launcher_key),
              std::vector<std::string>{c.expected});
  }
}

}  // namespace
