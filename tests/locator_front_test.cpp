// The location query's front: argument checks, failure and trace
// conventions, the launcher's own path and the kit root.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"
#include "zarn_fost_entry.h"

namespace {

constexpr std::size_t kMax = ZARN_FOST_ENTRY_MAX_PATH;

const char kNoShare[] =
    "Could not find root directory for the SDK:  could not find the 'share' "
    "directory";

// What the callback saw: each text, and whether the result buffer was
// already empty when it was handed over.
struct Messages {
  const char *buf = nullptr;
  std::vector<std::string> texts;
  std::vector<bool> buf_empty;
};

void collect(const char *text, std::uintptr_t user) {
  auto *m = reinterpret_cast<Messages *>(user);
  m->texts.push_back(text);
  m->buf_empty.push_back(m->buf != nullptr && m->buf[0] == '\0');
}

zarn_fost_entry_query_kind kind_of(int n) {
  return static_cast<zarn_fost_entry_query_kind>(n);
}

class Front : public ::testing::Test {
 protected:
  Front() : cwd_(tmp.path()) { env.set("PATH", ""); }

  struct Outcome {
    const char *result;
    std::string buf;
    std::vector<std::string> texts;
    std::string out;  // standard output during the query
  };

  // One query into a buffer that starts out non-empty.
  Outcome query(const char *name, int kind, bool with_callback = true,
                std::size_t len = kMax, bool null_buf = false) {
    buf_.assign(kMax, '#');
    buf_[kMax - 1] = '\0';
    msgs_ = Messages{};
    char *buf = null_buf ? nullptr : buf_.data();
    msgs_.buf = buf;
    zt::CaptureStdout out;
    const char *r = zarn_fost_entry_query(
        name, kind_of(kind), buf, len, with_callback ? collect : nullptr,
        reinterpret_cast<std::uintptr_t>(&msgs_));
    return {r, buf_.data(), msgs_.texts, out.take()};
  }
  const char *buf() const { return buf_.data(); }
  const Messages &msgs() const { return msgs_; }

  zt::TempDir tmp;
  zt::EnvGuard env;

 private:
  zt::CwdGuard cwd_;
  std::vector<char> buf_;
  Messages msgs_;
};

TEST_F(Front, ArgumentChecks) {
  tmp.file("tool.exe");
  const std::string tool = tmp.str() + "/tool.exe";
  // Absolute names whose own length is under test; nothing of them exists.
  auto name_of = [&](std::size_t n) {
    return tmp.str() + "/" + std::string(n - tmp.str().size() - 1, 'n');
  };
  const std::string name4090 = name_of(4090);
  const std::string name4091 = name_of(4091);
  struct Case {
    const char *what;
    const char *name;
    bool null_buf;
    std::size_t len;
    int kind;
    const char *text;  // null: the query succeeds
    std::string answer;
  };
  const Case cases[] = {
      {"null name", nullptr, false, kMax, SELF,
       "Internal error: executable name is not supplied", ""},
      {"null name and buffer", nullptr, true, kMax, SELF,
       "Internal error: executable name is not supplied", ""},
      {"null buffer", tool.c_str(), true, kMax, SELF,
       "Internal error: path buffer is NULL", ""},
      {"length 0", tool.c_str(), false, 0, SELF,
       "Internal error: path buffer is too short", ""},
      {"length 4095", tool.c_str(), false, kMax - 1, SELF,
       "Internal error: path buffer is too short", ""},
      {"length 4096", tool.c_str(), false, kMax, SELF, nullptr, tool},
      {"length SIZE_MAX", tool.c_str(), false, SIZE_MAX, SELF, nullptr, tool},
      // The bad kind shows how far each name got.
      {"name of 4090", name4090.c_str(), false, kMax, 15,
       "Internal error: Bad FOST entry query request", ""},
      {"name of 4091", name4091.c_str(), false, kMax, 15,
       "Path to executable is too long", ""},
      {"kind 15", tool.c_str(), false, kMax, 15,
       "Internal error: Bad FOST entry query request", ""},
      {"kind -1", tool.c_str(), false, kMax, -1,
       "Internal error: Bad FOST entry query request", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Outcome r = query(c.name, c.kind, true, c.len, c.null_buf);
    if (c.text == nullptr) {
      EXPECT_EQ(r.result, buf());
      EXPECT_EQ(r.buf, c.answer);
      EXPECT_TRUE(r.texts.empty());
      continue;
    }
    EXPECT_EQ(r.result, nullptr);
    EXPECT_EQ(r.texts, std::vector<std::string>{c.text});
    if (!c.null_buf) {
      EXPECT_EQ(r.buf, "");
      EXPECT_EQ(msgs().buf_empty, std::vector<bool>{false})
          << "text handed over before the buffer was emptied";
    }

    // Without a callback the same failure is silent.
    Outcome quiet = query(c.name, c.kind, false, c.len, c.null_buf);
    EXPECT_EQ(quiet.result, nullptr);
    if (!c.null_buf) {
      EXPECT_EQ(quiet.buf, "");
    }
    EXPECT_EQ(quiet.out, "");
  }
}

TEST_F(Front, TraceLinesOfSelf) {
  tmp.file("kit/bin/tool.exe");
  const std::string tool = tmp.str() + "/kit/bin/tool.exe";
  zt::TraceOn trace;

  Outcome r = query(tool.c_str(), SELF);
  const std::string at = zt::ptr_text(buf());
  EXPECT_EQ(r.result, buf());
  EXPECT_EQ(r.out, "found it right away\n"
                   "resolved: " + tool + "\n"
                   "finding: SELF " + at + "\n"
                   "finding: SELF --> " + at + " " + tool + "\n");

  // A bad kind still resolves, but names no kind.
  r = query(tool.c_str(), 15);
  EXPECT_EQ(r.out, "found it right away\nresolved: " + tool + "\n");

  // No absolute form for a name that fits the front but not the cwd.
  const std::string rel(kMax - 6, 'n');
  r = query(rel.c_str(), SELF);
  EXPECT_EQ(r.result, nullptr);
  EXPECT_EQ(r.texts,
            std::vector<std::string>{"Could not resolve absolute path to command"});
  const std::string tail = "resolved: " + rel + "\nfinding: SELF " + at +
                           "\nfinding: SELF --> fail\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);

  // SDK fails with the same text, without SELF's fail line.
  r = query(rel.c_str(), SDK);
  EXPECT_EQ(r.result, nullptr);
  EXPECT_EQ(r.texts,
            std::vector<std::string>{"Could not resolve absolute path to command"});
  const std::string sdk_tail = "resolved: " + rel + "\nfinding: SDK " + at + "\n";
  ASSERT_GE(r.out.size(), sdk_tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - sdk_tail.size()), sdk_tail);
}

TEST_F(Front, NestedQueriesStartFromTheResolvedName) {
  tmp.file("kit/bin/tool.exe");
  tmp.dir("kit/share");
  tmp.dir("kit/windows64/bin");
  const std::string bin = tmp.str() + "/kit/bin";
  const std::string found = bin + "/tool.exe";
  env.set("PATH", bin);
  zt::TraceOn trace;

  Outcome r = query("tool", SDK_BIN);
  const std::string at = zt::ptr_text(buf());
  EXPECT_EQ(r.result, buf());
  EXPECT_EQ(r.out,
            " PATH is '" + bin + "'\n component '" + bin + "'\n looking at '" +
                bin + "/tool'\n PATH is '" + bin + "'\n component '" + bin +
                "'\n looking at '" + found + "'\nresolved: " + found +
                "\nfinding: SDK_BIN " + at +
                // The nested query resolves what was found, not "tool" again.
                "\nfound it right away\nresolved: " + found +
                "\nfinding: SDK " + at + "\nfinding: SDK --> " + at + " " +
                tmp.str() + "/kit\nfinding: SDK_BIN --> " + at + " " +
                tmp.str() + "/kit/windows64/bin\n");
}

TEST_F(Front, ResolvedPathTooLongForNestedQueries) {
  if (!zt::long_paths(tmp)) GTEST_SKIP() << "no 4095-character paths here";
  // A short name whose absolute path has 4092 characters.
  const std::string rel = zt::deep_rel(tmp.str().size(), 4092 - 5);
  tmp.dir(rel);
  tmp.file(rel + "/tool");
  tmp.dir(rel + "/share");
  zt::CwdGuard deep(tmp.path() / rel);

  Outcome r = query("tool", SELF);
  EXPECT_EQ(r.result, buf());
  EXPECT_EQ(r.buf.size(), 4092u);
  r = query("tool", SDK);
  EXPECT_EQ(r.result, buf());
  EXPECT_EQ(r.buf, tmp.str() + "/" + rel);

  r = query("tool", SDK_BIN);
  EXPECT_EQ(r.result, nullptr);
  EXPECT_EQ(r.buf, "");
  EXPECT_EQ(r.texts,
            (std::vector<std::string>{
                "Path to executable is too long",
                "Could not determine the path to SDK",
                "Could not determine the path to SDK internal executables"}));
}

TEST_F(Front, SelfWorksFromWhatTheResolutionFound) {
  tmp.file("bin/tool.exe");
  tmp.dir("share");
  env.set("PATH", "elsewhere;bin");
  struct Case {
    const char *name;
    int kind;
    std::string answer;
  };
  const Case cases[] = {
      // Found on PATH as "bin/tool.exe", then made absolute.
      {"tool", SELF, tmp.str() + "/bin/tool.exe"},
      {"tool", SDK, tmp.str()},
      // Found nowhere: the name itself, made absolute against the cwd.
      {"ghost", SELF, tmp.str() + "/ghost"},
      {"ghost", SDK, tmp.str()},
      {"sub/ghost.exe", SELF, tmp.str() + "/sub/ghost.exe"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " kind " + std::to_string(c.kind));
    Outcome r = query(c.name, c.kind);
    EXPECT_EQ(r.result, buf());
    EXPECT_EQ(r.buf, c.answer);
    EXPECT_TRUE(r.texts.empty());
  }
}

TEST_F(Front, KitRootIsTheNearestOfSixDirectoriesHoldingShare) {
  struct Case {
    const char *what;
    const char *launcher;
    std::vector<std::string> share_dirs;
    std::vector<std::string> share_files;
    const char *root;  // below tmp; null: not found
  };
  const Case cases[] = {
      {"own directory", "r/tool.exe", {"r"}, {}, "/r"},
      {"sixth directory", "r/a/b/c/d/e/tool.exe", {"r"}, {}, "/r"},
      {"one level too deep", "r/a/b/c/d/e/tool.exe", {""}, {}, nullptr},
      {"nearest wins", "r/a/tool.exe", {"r/a", "r"}, {}, "/r/a"},
      {"a file does not count", "r/a/tool.exe", {"r"}, {"r/a"}, "/r"},
      {"only files", "r/a/b/c/d/tool.exe", {}, {"r/a/b/c/d", "r"}, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    zt::TempDir kit;
    kit.file(c.launcher);
    for (const std::string &d : c.share_dirs)
      kit.dir(d.empty() ? "share" : d + "/share");
    for (const std::string &f : c.share_files) kit.file(f + "/share");
    const std::string launcher = kit.str() + "/" + c.launcher;

    zt::TraceOn trace;
    Outcome r = query(launcher.c_str(), SDK);
    const std::string at = zt::ptr_text(buf());
    std::string expected = "found it right away\nresolved: " + launcher +
                           "\nfinding: SDK " + at + "\n";
    if (c.root != nullptr) {
      const std::string root = kit.str() + c.root;
      EXPECT_EQ(r.result, buf());
      EXPECT_EQ(r.buf, root);
      EXPECT_TRUE(r.texts.empty());
      expected += "finding: SDK --> " + at + " " + root + "\n";
    } else {
      EXPECT_EQ(r.result, nullptr);
      EXPECT_EQ(r.buf, "");
      EXPECT_EQ(r.texts, std::vector<std::string>{kNoShare});
    }
    EXPECT_EQ(r.out, expected);
  }
}

TEST_F(Front, NestedFailuresReachTheCallbackInnermostFirst) {
  // Deep enough that all six candidates lie inside the temp tree.
  tmp.file("a/b/c/d/e/bin/tool.exe");
  const std::string tool = tmp.str() + "/a/b/c/d/e/bin/tool.exe";
  Outcome r = query(tool.c_str(), SDK_BIN);
  EXPECT_EQ(r.result, nullptr);
  EXPECT_EQ(r.buf, "");
  EXPECT_EQ(r.texts,
            (std::vector<std::string>{
                kNoShare, "Could not determine the path to SDK",
                "Could not determine the path to SDK internal executables"}));
  // Each level has emptied the buffer before the next one speaks.
  EXPECT_EQ(msgs().buf_empty, (std::vector<bool>{false, true, true}));
}

}  // namespace
