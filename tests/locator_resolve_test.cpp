// Executable resolution: the name as a path, then along PATH, then both
// again with ".exe", on real temp trees.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"
#include "zarn_fost_entry.h"

namespace {

constexpr std::size_t kMax = ZARN_FOST_ENTRY_MAX_PATH;

// Every test works in a fresh current directory with PATH under its control.
class Resolve : public ::testing::Test {
 protected:
  Resolve() : cwd_(tmp.path()) { env.set("PATH", ""); }

  struct Outcome {
    bool found;        // the caller's pointer was moved to the buffer
    bool name_kept;    // else: it still points at the very name passed in
    std::string buf;   // what the buffer holds afterwards
    std::string trace; // what was printed with tracing on
  };

  Outcome resolve(const std::string &name) {
    buf_.assign(kMax, '#');
    buf_[0] = '\0';
    const char *ptr = name.c_str();
    zt::TraceOn trace;
    zt::CaptureStdout out;
    zarn_fost_entry_find_self(&ptr, buf_.data(), kMax);
    return {ptr == buf_.data(), ptr == name.c_str(), buf_.data(), out.take()};
  }

  // A PATH component (as the test writes it) for a directory below tmp.
  std::string dir(const std::string &rel) {
    tmp.dir(rel);
    return tmp.str() + "/" + rel;
  }

  zt::TempDir tmp;
  zt::EnvGuard env;

 private:
  zt::CwdGuard cwd_;
  std::vector<char> buf_;
};

TEST_F(Resolve, FileAtTheNameIsTakenAsItsAbsolutePath) {
  tmp.file("sub/tool");
  env.set("PATH", dir("A"));
  Outcome r = resolve("sub\\tool");
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.buf, tmp.str() + "/sub/tool");
  EXPECT_EQ(r.trace, "found it right away\n");
}

TEST_F(Resolve, DirectoriesAreNeverTaken) {
  tmp.dir("tool");
  const std::string a = dir("A");
  tmp.dir("A/tool");
  const std::string b = dir("B");
  tmp.file("B/tool");
  env.set("PATH", a + ";" + b);
  Outcome r = resolve("tool");
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.buf, b + "/tool");
}

TEST_F(Resolve, RetryWithExeAfterTheWholePathWalk) {
  const std::string a = dir("A");
  const std::string b = dir("B");
  tmp.file("B/tool.exe");
  env.set("PATH", a + ";" + b);
  Outcome r = resolve("tool");
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.buf, b + "/tool.exe");
  const std::string path = a + ";" + b;
  EXPECT_EQ(r.trace, " PATH is '" + path + "'\n"
                     " component '" + a + "'\n"
                     " looking at '" + a + "/tool'\n"
                     " component '" + b + "'\n"
                     " looking at '" + b + "/tool'\n"
                     " PATH is '" + path + "'\n"
                     " component '" + a + "'\n"
                     " looking at '" + a + "/tool.exe'\n"
                     " component '" + b + "'\n"
                     " looking at '" + b + "/tool.exe'\n");
}

TEST_F(Resolve, PathBeatsTheExeFormInTheCurrentDirectory) {
  tmp.file("tool.exe");
  const std::string a = dir("A");
  tmp.file("A/tool");
  env.set("PATH", a);
  Outcome r = resolve("tool");
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.buf, a + "/tool");
}

TEST_F(Resolve, PathComponentsAreUsedExactlyAsWritten) {
  tmp.file("A/t.exe");
  tmp.file("A/sub/t.exe");
  tmp.file("rel/t.exe");
  const std::string a = tmp.str() + "/A";
  struct Case {
    std::string path;
    std::string name;
    std::vector<std::string> candidates;  // looked at, in order
    std::string found;                    // empty: nothing found
  };
  const Case cases[] = {
      {";" + a, "t.exe", {"/t.exe", a + "/t.exe"}, a + "/t.exe"},
      {"Q;;" + a, "t.exe", {"Q/t.exe", "/t.exe", a + "/t.exe"}, a + "/t.exe"},
      {"Q;", "t.exe", {"Q/t.exe"}, ""},
      {"\"" + a + "\"", "t.exe", {"\"" + a + "\"/t.exe"}, ""},
      {a + "/", "t.exe", {a + "//t.exe"}, a + "//t.exe"},
      {"D:\\bin\\", "t.exe", {"D:\\bin\\/t.exe"}, ""},
      {"rel", "t.exe", {"rel/t.exe"}, "rel/t.exe"},
      {"Q;" + a, "sub/t.exe", {"Q/sub/t.exe", a + "/sub/t.exe"},
       a + "/sub/t.exe"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path + " with " + c.name);
    env.set("PATH", c.path);
    Outcome r = resolve(c.name);
    std::string expected = " PATH is '" + c.path + "'\n";
    for (std::size_t at = 0, i = 0; i < c.candidates.size(); ++i) {
      std::size_t semi = c.path.find(';', at);
      std::string comp = c.path.substr(at, semi - at);
      expected += " component '" + comp + "'\n";
      expected += " looking at '" + c.candidates[i] + "'\n";
      at = semi + 1;
    }
    EXPECT_EQ(r.trace, expected);
    EXPECT_EQ(r.found, !c.found.empty());
    if (r.found)
      EXPECT_EQ(r.buf, c.found);
    else
      EXPECT_EQ(r.buf, tmp.str() + "/" + c.name);
  }
}

TEST_F(Resolve, ExeRetryOnlyForNamesNotEndingInExe) {
  struct Case {
    const char *name;
    const char *retry;  // null: no retry
  };
  const Case cases[] = {
      {"tool", "tool.exe"},
      {"tool.exe", nullptr},
      {"tool.EXE", nullptr},
      {"tool.eXe", nullptr},
      {"v1.2.EXE", nullptr},
      {"tool.exe.bak", "tool.exe.bak.exe"},
      {"x.y/tool", "x.y/tool.exe"},
      {"tool.", "tool..exe"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    zt::TempDir where;
    const std::string b = where.str();
    env.set("PATH", b);

    // Nothing there: the pointer keeps the name passed in, and the buffer
    // holds the absolute form of the last name tried.
    Outcome none = resolve(c.name);
    EXPECT_FALSE(none.found);
    EXPECT_TRUE(none.name_kept);
    EXPECT_EQ(none.buf, tmp.str() + "/" + (c.retry ? c.retry : c.name));
    const std::string walk = " PATH is '" + b + "'\n component '" + b +
                             "'\n looking at '" + b + "/";
    std::string expected = walk + c.name + "'\n";
    if (c.retry) expected += walk + c.retry + "'\n";
    EXPECT_EQ(none.trace, expected);

    // The name with ".exe" on PATH is found exactly when the retry runs.
    where.file(std::string(c.name) + ".exe");
    Outcome some = resolve(c.name);
    EXPECT_EQ(some.found, c.retry != nullptr);
    if (c.retry)
      EXPECT_EQ(some.buf, b + "/" + c.retry);
    else
      EXPECT_TRUE(some.name_kept);
  }
}

TEST_F(Resolve, UnsetOrEmptyPathHasNoComponent) {
  struct Case {
    const char *what;
    bool set;
  };
  for (const Case &c : {Case{"unset", false}, Case{"empty", true}}) {
    SCOPED_TRACE(c.what);
    if (c.set)
      env.set("PATH", "");
    else
      env.unset("PATH");
    Outcome r = resolve("tool");
    EXPECT_FALSE(r.found);
    EXPECT_TRUE(r.name_kept);
    EXPECT_EQ(r.buf, tmp.str() + "/tool.exe");
    // One PATH line per attempt and nothing else.
    const std::string head = " PATH is '";
    ASSERT_EQ(r.trace.rfind(head, 0), 0u) << r.trace;
    const std::size_t second = r.trace.find('\n') + 1;
    const std::string line = r.trace.substr(0, second);
    EXPECT_EQ(r.trace, line + line);
    // Windows has no empty variables: there the empty value unsets PATH.
    if (std::getenv("PATH") != nullptr) {
      EXPECT_EQ(line, head + "'\n");
    }
  }
}

TEST_F(Resolve, ComponentTooLongForTheCandidateIsSkipped) {
  const std::string b = dir("B");
  tmp.file("B/t.exe");
  const std::string huge(5000, 'x');
  env.set("PATH", huge + ";" + b);
  Outcome r = resolve("t.exe");
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.buf, b + "/t.exe");
  EXPECT_EQ(r.trace, " PATH is '" + huge + ";" + b + "'\n"
                     " component '" + huge + "'\n"
                     " component '" + b + "'\n"
                     " looking at '" + b + "/t.exe'\n");
}

TEST_F(Resolve, CandidateOf4095CharactersIsTriedAnd4096Skipped) {
  const std::string name = "t.exe";
  for (std::size_t candidate_len : {kMax - 1, kMax}) {
    SCOPED_TRACE(candidate_len);
    const std::string comp(candidate_len - 1 - name.size(), 'c');
    env.set("PATH", comp);
    Outcome r = resolve(name);
    EXPECT_FALSE(r.found);
    std::string expected =
        " PATH is '" + comp + "'\n component '" + comp + "'\n";
    if (candidate_len < kMax)
      expected += " looking at '" + comp + "/" + name + "'\n";
    EXPECT_EQ(r.trace, expected);
  }
}

}  // namespace
