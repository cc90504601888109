// The design suite's program, Perl, Java, Tesk Builder and Plyx directories,
// and the Ravix back end below its override or the kit root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Texts = std::vector<std::string>;

const char kTooLong[] =
    "Internal error: Path to Orvane program directory is too long";
const char kNoRavix[] = "Could not find the RAVIX backend directory inside Orvane";
const char kNoShare[] =
    "Could not find root directory for the SDK:  could not find the 'share' "
    "directory";

// A temp tree that is also the current directory, with the launcher at
// kit/bin/tool, no stray suite key from the machine's environment and a PATH
// that finds nothing.
class SuiteDirs : public ::testing::Test {
 protected:
  SuiteDirs() {
    for (const char *key : {"ORVANE_ROOTDIR_OVERRIDE", "ORVANE_ROOTDIR",
                            "ORVANE_BINDIR", "ZARN_RAVIX_ROOT_OVERRIDE"})
      env_.unset(key);
    env_.set("PATH", at("nowhere"));
    t_.file("kit/bin/tool");
  }
  std::string at(const std::string &rel) const { return t_.str() + "/" + rel; }
  // The design-suite root, named by its override key.
  std::string suite(const std::string &rel = "suite/orvane") {
    t_.dir(rel);
    env_.set("ORVANE_ROOTDIR_OVERRIDE", at(rel));
    return at(rel);
  }
  // A kit root (share in it), for the Ravix back end's kit-root road.
  void kit() { t_.dir("kit/share"); }
  // Sets key to the empty text; false where the runtime removes the key
  // instead, so there is nothing to test.
  bool set_empty(const char *key) {
    env_.set(key, "");
    return std::getenv(key) != nullptr;
  }

  zt::TempDir t_;
  zt::EnvGuard env_;
  zt::CwdGuard cwd_{t_.path()};
  const std::string name_ = at("kit/bin/tool");
};

struct Traced {
  zt::Asked a;
  std::string out;
  std::string ptr;
};

Traced traced(const std::string &name, zarn_fost_entry_query_kind kind) {
  Traced r;
  {
    zt::TraceOn trace;
    zt::CaptureStdout cap;
    r.a = zt::ask(name, kind);
    r.out = cap.take();
  }
  r.ptr = zt::ptr_text(r.a.addr());
  return r;
}

std::string last_line(const std::string &out) {
  std::size_t cut =
      out.size() < 2 ? std::string::npos : out.rfind('\n', out.size() - 2);
  return cut == std::string::npos ? out : out.substr(cut + 1);
}

// "\tmp\x\" for "/tmp/x", "Z:\tmp\x\" for "Z:/tmp/x": the value as a user
// might write it, keeping a leading '/' that Linux needs.
std::string backslashed(std::string s) {
  for (std::size_t i = 1; i < s.size(); ++i)
    if (s[i] == '/') s[i] = '\\';
  return s + "\\";
}

struct SuiteKind {
  zarn_fost_entry_query_kind kind;
  const char *entry;   // its word in the entry line
  const char *suffix;  // below the root
  bool file;           // the answer is a regular file
  const char *no_root;
  const char *missing;  // nullptr: a missing directory is no failure
};

const SuiteKind kPerl = {ORVANE_PERL, "ORVANE_PERL", "/bin64/perl/bin/perl.exe",
                         true, "Could not find the Perl command inside Orvane",
                         "Could not find the Perl command inside Orvane"};
const SuiteKind kJava = {
    ORVANE_JAVA, "ORVANE_JAVA", "/bin64/jre64/bin", false,
    "Could not find the java command inside Orvane",
    "Internal error: Path to Orvane java directory is not found!"};
const SuiteKind kTesk = {
    TESK_BUILDER, "TESK_BUILDER", "/tesk_builder/bin", false,
    "Could not find the TESK Builder command inside Orvane",
    "Internal error: Path to TESK Builder directory is not found!"};
const SuiteKind kPlyx = {PLYX_BIN, "PLYX_BIN", "/../plyx/bin", false,
                         "Could not find the Plyx commands inside Orvane",
                         nullptr};

TEST_F(SuiteDirs, EachKindAnswersBelowTheRoot) {
  std::string root = suite();
  t_.file("suite/orvane/bin64/perl/bin/perl.exe");
  t_.dir("suite/orvane/bin64/jre64/bin");
  t_.dir("suite/orvane/tesk_builder/bin");
  t_.dir("suite/plyx/bin");
  struct Case {
    SuiteKind k;
    const char *line;  // the success line, %s for the answer, %p for the buffer
  } cases[] = {
      {kPerl, "finding: PERL --> %p %p %s\n"},
      {kJava, "found JAVA --> %s\n"},
      {kTesk, "finding: TESK_BUILDER --> %s\n"},
      {kPlyx, "finding: PLYX_BIN --> %s\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.k.entry);
    Traced r = traced(name_, c.k.kind);
    std::string want = root + c.k.suffix;  // a ".." stays in the text
    EXPECT_TRUE(r.a.in_buffer());
    EXPECT_EQ(r.a.buffer(), want);
    EXPECT_EQ(r.a.texts, Texts{});

    std::string line = c.line;
    for (std::size_t at; (at = line.find("%p")) != std::string::npos;)
      line.replace(at, 2, r.ptr);
    line.replace(line.find("%s"), 2, want);
    EXPECT_EQ(r.out, "found it right away\nresolved: " + name_ + "\nfinding: " +
                         c.k.entry + " " + r.ptr +
                         "\nfound it right away\nresolved: " + name_ +
                         "\nfinding: ORVANE " + r.ptr +
                         "\nfinding: ORVANE OVERRIDE --> " + r.ptr + " " + root +
                         "\n" + line);
  }
}

TEST_F(SuiteDirs, MissingTargetFailsWithTheKindsText) {
  std::string root = suite();
  // A directory where the interpreter file should be counts as missing.
  t_.dir("suite/orvane/bin64/perl/bin/perl.exe");
  for (const SuiteKind &k : {kPerl, kJava, kTesk}) {
    SCOPED_TRACE(k.entry);
    zt::Asked a = zt::ask(name_, k.kind);
    EXPECT_EQ(a.result, nullptr);
    EXPECT_EQ(a.buffer(), "");
    EXPECT_EQ(a.texts, Texts{k.missing});
    EXPECT_TRUE(a.user_word_kept);
  }
}

TEST_F(SuiteDirs, MissingPlyxDirectoryLeavesTheFormedPath) {
  std::string root = suite();
  Traced r = traced(name_, PLYX_BIN);
  ASSERT_NE(r.a.result, nullptr);
  EXPECT_FALSE(r.a.in_buffer());
  EXPECT_STREQ(r.a.result, "");
  EXPECT_EQ(r.a.buffer(), root + "/../plyx/bin");
  EXPECT_EQ(r.a.texts, Texts{});
  EXPECT_EQ(last_line(r.out),
            "finding: PLYX_BIN --> not found, assuming Orvane Vallo Standard "
            "installation!\n");
}

TEST_F(SuiteDirs, NoSuiteRootGivesTheRootTextThenTheKinds) {
  struct Case {
    zarn_fost_entry_query_kind kind;
    const char *text;
  } cases[] = {
      {ORVANE_BINDIR, "Could not find Orvane program directory"},
      {kPerl.kind, kPerl.no_root},
      {kJava.kind, kJava.no_root},
      {kTesk.kind, kTesk.no_root},
      {kPlyx.kind, kPlyx.no_root},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    zt::Asked a = zt::ask(name_, c.kind);
    EXPECT_EQ(a.result, nullptr);
    EXPECT_EQ(a.buffer(), "");
    EXPECT_EQ(a.texts, (Texts{zt::kOrvaneTried + name_ + zt::kOrvaneAdvice, c.text}));
    EXPECT_TRUE(a.user_word_kept);

    zt::Asked quiet = zt::ask(name_, c.kind, ZARN_FOST_ENTRY_MAX_PATH, false);
    EXPECT_EQ(quiet.result, nullptr);
    EXPECT_EQ(quiet.buffer(), "");
  }
}

TEST_F(SuiteDirs, BindirKeyNamesTheProgramDirectoryItself) {
  std::string root = suite();
  t_.dir("pd");
  t_.file("afile");
  struct Case {
    std::string value;
    std::string want;
  } cases[] = {
      {backslashed(at("pd")), at("pd")},
      {"pd/", at("pd")},  // made absolute against the current directory
      // Unusable values are passed over; bin64 is formed, not tested.
      {at("afile"), root + "/bin64"},
      {at("missing"), root + "/bin64"},
      {"", root + "/bin64"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    env_.set("ORVANE_BINDIR", c.value);
    Traced r = traced(name_, ORVANE_BINDIR);
    EXPECT_TRUE(r.a.in_buffer());
    EXPECT_EQ(r.a.buffer(), c.want);
    EXPECT_EQ(r.a.texts, Texts{});
    if (c.want == at("pd"))  // the root is not asked, nothing else is said
      EXPECT_EQ(r.out, "found it right away\nresolved: " + name_ +
                           "\nfinding: ORVANE_BINDIR " + r.ptr + "\n");
    else
      EXPECT_EQ(last_line(r.out),
                "finding: ORVANE OVERRIDE --> " + r.ptr + " " + root + "\n");
  }
}

// Roots deep enough that the root plus the kind's suffix meets the limit.
TEST_F(SuiteDirs, RootPlusSuffixMustLeaveTwoBytes) {
  if (!zt::long_paths(t_)) GTEST_SKIP() << "no 4095-character paths here";
  struct Case {
    zarn_fost_entry_query_kind kind;
    const char *suffix;
    const char *make;  // what makes the answer exist: "dir", "file" or ""
  } cases[] = {
      {ORVANE_BINDIR, "/bin64", ""},
      {ORVANE_PERL, "/bin64/perl/bin/perl.exe", "file"},
      {ORVANE_JAVA, "/bin64/jre64/bin", "dir"},
      {TESK_BUILDER, "/tesk_builder/bin", "dir"},
      {PLYX_BIN, "/../plyx/bin", "dir"},
  };
  for (const Case &c : cases) {
    for (std::size_t total : {4094u, 4095u}) {
      SCOPED_TRACE(std::string(c.suffix) + " " + std::to_string(total));
      std::size_t root_len = total - std::strlen(c.suffix);
      std::string rel = zt::deep_rel(t_.str().size(), root_len);
      std::string root = suite(rel);
      ASSERT_EQ(root.size(), root_len);
      std::string answer = rel + c.suffix;
      if (c.kind == PLYX_BIN)
        answer = rel.substr(0, rel.rfind('/')) + "/plyx/bin";
      if (std::string(c.make) == "dir") t_.dir(answer);
      if (std::string(c.make) == "file") t_.file(answer);

      zt::Asked a = zt::ask(name_, c.kind);
      if (total == 4094) {
        EXPECT_TRUE(a.in_buffer());
        EXPECT_EQ(a.buffer(), root + c.suffix);
        EXPECT_EQ(a.texts, Texts{});
      } else {
        EXPECT_EQ(a.result, nullptr);
        EXPECT_EQ(a.buffer(), "");
        EXPECT_EQ(a.texts, Texts{kTooLong});
      }
    }
  }
}

TEST_F(SuiteDirs, RavixOverrideIsUsedUnchangedWithNoFallBack) {
  // The kit root's back end exists, so any fall-back would show.
  kit();
  t_.dir("kit/windows64/lib/ravix/windows64");
  t_.dir("rav/windows64");
  struct Case {
    std::string value;
    std::string want;  // "" when the query fails
  } cases[] = {
      {at("rav"), at("rav/windows64")},
      {at("rav/"), at("rav//windows64")},  // the separator is kept
      {"rav", "rav/windows64"},            // not made absolute
      {at("none"), ""},
      {"", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    if (c.value.empty()) {
      if (!set_empty("ZARN_RAVIX_ROOT_OVERRIDE")) continue;
    } else {
      env_.set("ZARN_RAVIX_ROOT_OVERRIDE", c.value);
    }
    Traced r = traced(name_, ORVANE_RAVIX_BACKEND_DIR);
    if (c.want.empty()) {
      EXPECT_EQ(r.a.result, nullptr);
      EXPECT_EQ(r.a.buffer(), "");
      EXPECT_EQ(r.a.texts, Texts{kNoRavix});
    } else {
      EXPECT_TRUE(r.a.in_buffer());
      EXPECT_EQ(r.a.buffer(), c.want);
      EXPECT_EQ(r.a.texts, Texts{});
      EXPECT_EQ(last_line(r.out),
                "finding: ORVANE_RAVIX_BACKEND_DIR through override --> " +
                    r.ptr + " " +
                    zt::ptr_text(std::getenv("ZARN_RAVIX_ROOT_OVERRIDE")) + " " +
                    c.want + "\n");
    }
    EXPECT_EQ(r.out.find("finding: SDK "), std::string::npos);
  }
}

TEST_F(SuiteDirs, RavixBelowTheKitRootWithoutOverride) {
  kit();
  suite();  // a design suite is there, but it is not what is asked
  t_.dir("suite/orvane/windows64/lib/ravix/windows64");
  std::string root = at("kit");
  std::string want = root + "/windows64/lib/ravix/windows64";

  zt::Asked missing = zt::ask(name_, ORVANE_RAVIX_BACKEND_DIR);
  EXPECT_EQ(missing.result, nullptr);
  EXPECT_EQ(missing.texts, Texts{kNoRavix});

  t_.dir("kit/windows64/lib/ravix/windows64");
  Traced r = traced(name_, ORVANE_RAVIX_BACKEND_DIR);
  EXPECT_TRUE(r.a.in_buffer());
  EXPECT_EQ(r.a.buffer(), want);
  const std::string &p = r.ptr;
  EXPECT_EQ(r.out, "found it right away\nresolved: " + name_ +
                       "\nfinding: ORVANE_RAVIX_BACKEND_DIR " + p +
                       "\nfound it right away\nresolved: " + name_ +
                       "\nfinding: SDK " + p + "\nfinding: SDK --> " + p + " " +
                       root + "\nfinding: ORVANE_RAVIX_BACKEND_DIR --> " + p +
                       " " + p + " " + want + "\n");
}

TEST_F(SuiteDirs, RavixWithoutKitRootGivesTheKitTextFirst) {
  suite();
  t_.dir("suite/orvane/windows64/lib/ravix/windows64");
  zt::Asked a = zt::ask(name_, ORVANE_RAVIX_BACKEND_DIR);
  EXPECT_EQ(a.result, nullptr);
  EXPECT_EQ(a.buffer(), "");
  EXPECT_EQ(a.texts, (Texts{kNoShare, kNoRavix}));
  EXPECT_TRUE(a.user_word_kept);
}

TEST_F(SuiteDirs, RavixLengthLimits) {
  if (!zt::long_paths(t_)) GTEST_SKIP() << "no 4095-character paths here";
  const char kSuffix[] = "/windows64/lib/ravix/windows64";
  // Kit-root road: root plus suffix plus 2 within 4096.
  for (std::size_t total : {4094u, 4095u}) {
    SCOPED_TRACE(total);
    std::string rel =
        zt::deep_rel(t_.str().size(), total - std::strlen(kSuffix));
    t_.dir(rel + "/share");
    t_.dir(rel + kSuffix);
    t_.file(rel + "/t");
    zt::Asked a = zt::ask(at(rel + "/t"), ORVANE_RAVIX_BACKEND_DIR);
    if (total == 4094) {
      EXPECT_EQ(a.buffer(), at(rel + kSuffix));
      EXPECT_EQ(a.texts, Texts{});
    } else {
      EXPECT_EQ(a.result, nullptr);
      EXPECT_EQ(a.texts, Texts{kTooLong});
    }
  }
  // Override road: the value plus 11 within 4096, so the answer may have
  // 4095 characters.
  for (std::size_t value_len : {4085u, 4086u}) {
    SCOPED_TRACE(value_len);
    std::string rel = zt::deep_rel(t_.str().size(), value_len);
    if (value_len == 4085) t_.dir(rel + "/windows64");
    env_.set("ZARN_RAVIX_ROOT_OVERRIDE", at(rel));
    zt::Asked a = zt::ask(name_, ORVANE_RAVIX_BACKEND_DIR);
    if (value_len == 4085) {
      EXPECT_EQ(a.buffer(), at(rel + "/windows64"));
      EXPECT_EQ(a.buffer().size(), 4095u);
      EXPECT_EQ(a.texts, Texts{});
    } else {
      EXPECT_EQ(a.result, nullptr);
      EXPECT_EQ(a.buffer(), "");
      EXPECT_EQ(a.texts,
                Texts{"Internal error: Path to RAVIX override directory is too long"});
    }
  }
}

}  // namespace
