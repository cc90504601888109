// Where the design suite is installed: its override key, a directory
// "orvane" near the launcher, ORVANE_ROOTDIR, and a directory "orvane" near
// the suite's shell program, in this order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Texts = std::vector<std::string>;

// A temp tree that is also the current directory, with no stray suite key
// from the machine's environment and a PATH that finds nothing.
class Place {
 public:
  Place() {
    for (const char *key : {"ORVANE_ROOTDIR_OVERRIDE", "ORVANE_ROOTDIR",
                            "ORVANE_BINDIR", "ZARN_RAVIX_ROOT_OVERRIDE"})
      env.unset(key);
    env.set("PATH", at("nowhere"));
  }
  std::string at(const std::string &rel) const { return t.str() + "/" + rel; }
  // '@' in a PATH value stands for the temp dir and its '/'.
  void path(const std::string &value) {
    std::string v;
    for (char c : value) v += c == '@' ? t.str() + "/" : std::string(1, c);
    env.set("PATH", v);
  }
  std::string launcher(const std::string &rel = "kit/bin/tool") {
    t.file(rel);
    return at(rel);
  }

  zt::TempDir t;
  zt::EnvGuard env;
  zt::CwdGuard cwd{t.path()};
};

std::vector<std::string> lines(const std::string &out) {
  std::vector<std::string> v;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t nl = out.find('\n', start);
    std::size_t end = nl == std::string::npos ? out.size() : nl + 1;
    v.push_back(out.substr(start, end - start));
    start = end;
  }
  return v;
}

// line is before, one address the test cannot know, then after; the address
// is returned, or "" when the line has another shape.
std::string unknown_ptr(const std::string &line, const std::string &before,
                        const std::string &after) {
  if (line.size() <= before.size() + after.size() ||
      line.compare(0, before.size(), before) != 0 ||
      line.compare(line.size() - after.size(), after.size(), after) != 0)
    return "";
  std::string mid =
      line.substr(before.size(), line.size() - before.size() - after.size());
  return mid.find(' ') == std::string::npos ? mid : "";
}

zt::Asked traced(const std::string &name, std::string &out) {
  zt::TraceOn trace;
  zt::CaptureStdout cap;
  zt::Asked a = zt::ask(name, ORVANE);
  out = cap.take();
  return a;
}

// "\tmp\x\" for "/tmp/x", "Z:\tmp\x\" for "Z:/tmp/x": the value as a user
// might write it, keeping a leading '/' that Linux needs.
std::string backslashed(std::string s) {
  for (std::size_t i = 1; i < s.size(); ++i)
    if (s[i] == '/') s[i] = '\\';
  return s + "\\";
}

TEST(OrvaneRoot, FirstUsableSourceWins) {
  enum Source { OVERRIDE, NEAR, ROOTDIR, SHELL };
  struct Case {
    Source winner;
    const char *root;  // relative to the temp dir
  } cases[] = {
      {OVERRIDE, "ovr"}, {NEAR, "orvane"}, {ROOTDIR, "root"}, {SHELL, "sh/orvane"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.root);
    Place p;
    std::string name = p.launcher();
    // Every source from the winner on is usable.
    if (c.winner <= OVERRIDE) {
      p.t.dir("ovr");
      p.env.set("ORVANE_ROOTDIR_OVERRIDE", backslashed(p.at("ovr")));
    }
    if (c.winner <= NEAR) p.t.dir("orvane");
    if (c.winner <= ROOTDIR) {
      p.t.dir("root");
      p.env.set("ORVANE_ROOTDIR", "root/");  // relative to the current dir
    }
    p.t.file("sh/orvane/bin64/orvane_sh.exe");
    p.path("@nowhere;@sh/orvane/bin64");

    std::string out;
    zt::Asked a = traced(name, out);
    std::string want = p.at(c.root);
    EXPECT_TRUE(a.in_buffer());
    EXPECT_EQ(a.buffer(), want);
    EXPECT_EQ(a.texts, Texts{});

    std::string ptr = zt::ptr_text(a.addr());
    std::vector<std::string> ls = lines(out);
    ASSERT_GE(ls.size(), 4u);
    EXPECT_EQ(ls[0] + ls[1] + ls[2], "found it right away\nresolved: " + name +
                                         "\nfinding: ORVANE " + ptr + "\n");
    const std::string &last = ls.back();
    switch (c.winner) {
      case OVERRIDE:
        EXPECT_EQ(ls.size(), 4u);
        EXPECT_EQ(last, "finding: ORVANE OVERRIDE --> " + ptr + " " + want + "\n");
        break;
      case NEAR:
        EXPECT_EQ(ls.size(), 4u);
        EXPECT_EQ(last, "finding: ORVANE peer --> " + ptr + " " + ptr + " " +
                            want + "\n");
        break;
      case ROOTDIR:
        EXPECT_EQ(ls.size(), 4u);
        EXPECT_NE(unknown_ptr(last, "finding: ORVANE rootdir--> " + ptr + " ",
                              " " + want + "\n"),
                  "");
        break;
      case SHELL:
        EXPECT_EQ(ls[ls.size() - 2], "resolved orvane_sh: " + want + "\n");
        std::string search = unknown_ptr(last, "finding: ORVANE peer --> ",
                                         " " + ptr + " " + want + "\n");
        EXPECT_NE(search, "");
        EXPECT_NE(search, ptr);  // the shell's own work buffer
        break;
    }
  }
}

TEST(OrvaneRoot, NearTheLauncherThreeDirectoriesAreTried) {
  struct Case {
    const char *launcher;
    std::vector<std::string> dirs, files;
    const char *want;  // "" when the query fails
  } cases[] = {
      {"kit/bin/tool", {"kit/bin/orvane"}, {}, "kit/bin/orvane"},
      {"kit/bin/tool", {"kit/orvane"}, {}, "kit/orvane"},
      {"kit/bin/tool", {"orvane"}, {}, "orvane"},
      {"kit/x/bin/tool", {"orvane"}, {}, ""},
      {"kit/bin/tool", {"orvane", "kit/orvane"}, {}, "kit/orvane"},
      {"kit/bin/tool", {"orvane"}, {"kit/bin/orvane", "kit/orvane"}, "orvane"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.launcher) + " -> " + c.want);
    Place p;
    std::string name = p.launcher(c.launcher);
    for (const std::string &d : c.dirs) p.t.dir(d);
    for (const std::string &f : c.files) p.t.file(f);
    zt::Asked a = zt::ask(name, ORVANE);
    if (*c.want) {
      EXPECT_TRUE(a.in_buffer());
      EXPECT_EQ(a.buffer(), p.at(c.want));
      EXPECT_EQ(a.texts, Texts{});
    } else {
      EXPECT_EQ(a.result, nullptr);
      EXPECT_EQ(a.texts, Texts{zt::kOrvaneTried + name + zt::kOrvaneAdvice});
    }
  }
}

TEST(OrvaneRoot, UnusableKeysArePassedOverSilently) {
  struct Case {
    const char *key;
    const char *value;  // '@' stands for the temp dir
    const char *want;   // the next source's answer
  } cases[] = {
      {"ORVANE_ROOTDIR_OVERRIDE", "@afile", "orvane"},
      {"ORVANE_ROOTDIR_OVERRIDE", "@missing", "orvane"},
      {"ORVANE_ROOTDIR_OVERRIDE", "", "orvane"},
      {"ORVANE_ROOTDIR", "@afile", "sh/orvane"},
      {"ORVANE_ROOTDIR", "@missing", "sh/orvane"},
      {"ORVANE_ROOTDIR", "", "sh/orvane"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    Place p;
    std::string name = p.launcher();
    p.t.file("afile");
    std::string value = c.value;
    if (!value.empty() && value[0] == '@') value = p.at(value.substr(1));
    p.env.set(c.key, value);
    if (std::string(c.want) == "orvane") p.t.dir("orvane");
    p.t.file("sh/orvane/bin64/orvane_sh");
    p.path("@sh/orvane/bin64");
    zt::Asked a = zt::ask(name, ORVANE);
    EXPECT_TRUE(a.in_buffer());
    EXPECT_EQ(a.buffer(), p.at(c.want));
    EXPECT_EQ(a.texts, Texts{});
  }
}

TEST(OrvaneRoot, LauncherWithoutAbsolutePathStopsTheSearch) {
  Place p;
  // Relative, and too long to be made absolute against any current dir.
  std::string name = zt::deep_rel(0, 4091);
  ASSERT_EQ(name.size(), 4090u);
  p.t.dir("root");
  p.env.set("ORVANE_ROOTDIR", p.at("root"));
  p.t.file("sh/orvane/bin64/orvane_sh");
  p.path("@sh/orvane/bin64");

  zt::Asked a = zt::ask(name, ORVANE);
  EXPECT_EQ(a.result, nullptr);
  EXPECT_EQ(a.buffer(), "");
  EXPECT_EQ(a.texts,
            Texts{"Internal error: Could not determine absolute path to executable"});
  EXPECT_TRUE(a.user_word_kept);

  // The override comes before that step.
  p.t.dir("ovr");
  p.env.set("ORVANE_ROOTDIR_OVERRIDE", p.at("ovr"));
  EXPECT_EQ(zt::ask(name, ORVANE).buffer(), p.at("ovr"));
}

TEST(OrvaneRoot, ShellProgramIsResolvedAsTheLauncherIs) {
  struct Case {
    const char *what;
    std::vector<std::string> files;
    const char *path;  // '@' stands for the temp dir
    const char *cwd;   // relative to the temp dir
    const char *want;
  } cases[] = {
      {"current dir before PATH",
       {"cw/orvane/bin64/orvane_sh", "p/orvane/bin64/orvane_sh"},
       "@p/orvane/bin64", "cw/orvane/bin64", "cw/orvane"},
      {"first PATH entry that has it",
       {"p1/orvane/bin64/orvane_sh", "p2/orvane/bin64/orvane_sh"},
       "@nowhere;@p1/orvane/bin64;@p2/orvane/bin64", ".", "p1/orvane"},
      {".exe retry", {"p/orvane/bin64/orvane_sh.exe"}, "@p/orvane/bin64", ".",
       "p/orvane"},
      {"plain name on all of PATH before .exe",
       {"p1/orvane/bin64/orvane_sh.exe", "p2/orvane/bin64/orvane_sh"},
       "@p1/orvane/bin64;@p2/orvane/bin64", ".", "p2/orvane"},
      {"relative PATH entry", {"rel/orvane/bin64/orvane_sh"}, "rel/orvane/bin64",
       ".", "rel/orvane"},
      {"shell's own directory", {"q/orvane/orvane_sh"}, "@q/orvane", ".",
       "q/orvane"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Place p;
    std::string name = p.launcher();
    for (const std::string &f : c.files) p.t.file(f);
    p.path(c.path);
    zt::CwdGuard cwd(p.t.path() / c.cwd);

    std::string out;
    zt::Asked a = traced(name, out);
    std::string want = p.at(c.want);
    EXPECT_TRUE(a.in_buffer());
    EXPECT_EQ(a.buffer(), want);
    EXPECT_EQ(a.texts, Texts{});
    std::vector<std::string> ls = lines(out);
    ASSERT_GE(ls.size(), 2u);
    EXPECT_EQ(ls[ls.size() - 2], "resolved orvane_sh: " + want + "\n");
    EXPECT_NE(unknown_ptr(ls.back(), "finding: ORVANE peer --> ",
                          " " + zt::ptr_text(a.addr()) + " " + want + "\n"),
              "");
  }
}

TEST(OrvaneRoot, FailureTextQuotesTheLauncherAsResolved) {
  struct Case {
    const char *name;  // "" for the launcher's absolute path
    const char *path;
    const char *quoted;  // "" for the launcher's absolute path
  } cases[] = {
      {"", "@s/a/b", ""},
      // Found on PATH: the component stays as written.
      {"tool", "kitrel/bin;@s/a/b", "kitrel/bin/tool"},
      // Found nowhere: what the ".exe" retry left there.
      {"kit/bin/ghost", "@s/a/b", "@kit/bin/ghost.exe"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.path);
    Place p;
    std::string abs = p.launcher();
    p.t.file("kitrel/bin/tool");
    // A shell program with no "orvane" within its three directories.
    p.t.file("s/a/b/orvane_sh");
    p.path(c.path);
    std::string name = *c.name ? c.name : abs;
    std::string quoted = *c.quoted ? c.quoted : abs;
    if (quoted[0] == '@') quoted = p.at(quoted.substr(1));

    std::string out;
    zt::Asked a = traced(name, out);
    EXPECT_EQ(a.result, nullptr);
    EXPECT_EQ(a.buffer(), "");
    EXPECT_EQ(a.texts, Texts{zt::kOrvaneTried + quoted + zt::kOrvaneAdvice});
    EXPECT_TRUE(a.user_word_kept);
    // The shell's path cut back to the last directory searched.
    EXPECT_EQ(lines(out).back(), "resolved orvane_sh: " + p.at("s") + "\n");
    EXPECT_EQ(out.find("finding: ORVANE peer"), std::string::npos);

    // At trace level 0 nothing is printed.
    zt::CaptureStdout cap;
    zt::Asked quiet = zt::ask(name, ORVANE);
    EXPECT_EQ(cap.take(), "");
    EXPECT_EQ(quiet.texts, a.texts);
  }
}

TEST(OrvaneRoot, FailureTextIsCutAt4195Characters) {
  for (std::size_t len : {3918u, 3919u, 4085u}) {
    SCOPED_TRACE(len);
    Place p;
    if (!zt::long_paths(p.t)) GTEST_SKIP() << "no 4095-character paths here";
    std::string rel = zt::deep_rel(p.t.str().size(), len - 2) + "/t";
    std::string name = p.launcher(rel);
    ASSERT_EQ(name.size(), len);
    std::string whole = zt::kOrvaneTried + name + zt::kOrvaneAdvice;
    zt::Asked a = zt::ask(name, ORVANE);
    EXPECT_EQ(a.result, nullptr);
    ASSERT_EQ(a.texts.size(), 1u);
    EXPECT_EQ(a.texts[0], whole.substr(0, 4195));
    EXPECT_EQ(a.texts[0].size(), len == 3918 ? whole.size() : 4195u);
  }
}

}  // namespace
