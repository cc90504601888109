// The kit's directories below its root: executables, libraries, the Perl
// library and interpreter, and the platform word that names some of them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Texts = std::vector<std::string>;

const char kNoShare[] =
    "Could not find root directory for the SDK:  could not find the 'share' "
    "directory";

class KitTest : public ::testing::Test {
 protected:
  KitTest() {
    for (const char *key : {"ORVANE_ROOTDIR_OVERRIDE", "ORVANE_ROOTDIR",
                            "ORVANE_BINDIR", "ZARN_RAVIX_ROOT_OVERRIDE"})
      env_.unset(key);
    // The launcher is always given by its path; nothing is found on PATH.
    env_.set("PATH", t_.str() + "/nowhere");
  }
  ~KitTest() override { zarn_fost_entry_set_platform(nullptr); }

  // A kit root at rel (share in it) with the launcher at rel/bin/tool;
  // returns the root as the locator writes it.
  std::string kit(const std::string &rel) {
    t_.dir(rel + "/share");
    t_.file(rel + "/bin/tool");
    return t_.str() + "/" + rel;
  }
  std::string launcher(const std::string &root) { return root + "/bin/tool"; }

  zt::TempDir t_;
  zt::EnvGuard env_;
  zt::CwdGuard cwd_{t_.path()};
};

struct KitKind {
  zarn_fost_entry_query_kind kind;
  const char *subdir;      // below the kit root, platform word windows64
  const char *missing;     // the text naming the missing directory, up to it
  const char *kind_text;   // the kind's own text
  const char *word;        // as its success line names it
};

const KitKind kKitKinds[] = {
    {SDK_BIN, "/windows64/bin", "Could not find SDK internal executables directory ",
     "Could not determine the path to SDK internal executables", "SDK_BIN"},
    {SDK_HOST_BIN, "/host/windows64/bin",
     "Could not find SDK internal runtime executables directory ",
     "Could not determine the path to SDK or RTE internal executables",
     "SDK_HOST_BIN"},
    {SDK_LIB, "/windows64/lib", "Could not find SDK internal libraries directory ",
     "Could not determine the path to SDK internal libraries", "SDK_LIB"},
    {SDK_HOST_LIB, "/host/windows64/lib",
     "Could not find SDK internal runtime libraries directory ",
     "Could not determine the path to SDK internal libraries", "SDK_HOST_LIB"},
    {SDK_PERL_LIB, "/host/windows64/bin/perl/lib",
     "Could not find SDK internal Perl full library directory ",
     "Could not determine the path to SDK full Perl libraries",
     "SDK_PERL_FULL_LIB"},
    {SDK_PERL, "/host/windows64/bin/perl/bin",
     "Could not find SDK internal Perl runtime executable directory directory ",
     "Could not determine the path to SDK internal Perl executable", "SDK_PERL"},
};

// The output's last line, with its line break.
std::string last_line(const std::string &out) {
  std::size_t cut = out.size() < 2 ? std::string::npos : out.rfind('\n', out.size() - 2);
  return cut == std::string::npos ? out : out.substr(cut + 1);
}

TEST_F(KitTest, EachKindAnswersItsDirectoryBelowTheRoot) {
  std::string root = kit("kit");
  for (const KitKind &k : kKitKinds) t_.dir(std::string("kit") + k.subdir);
  // No perl.exe: the interpreter's path is formed, not tested.
  for (const KitKind &k : kKitKinds) {
    SCOPED_TRACE(k.word);
    std::string want = root + k.subdir + (k.kind == SDK_PERL ? "/perl.exe" : "");
    zt::Asked a;
    std::string out;
    {
      zt::TraceOn trace;
      zt::CaptureStdout cap;
      a = zt::ask(launcher(root), k.kind);
      out = cap.take();
    }
    EXPECT_TRUE(a.in_buffer());
    EXPECT_EQ(a.buffer(), want);
    EXPECT_EQ(a.texts, Texts{});
    EXPECT_EQ(last_line(out), std::string("finding: ") + k.word + " --> " +
                                  zt::ptr_text(a.addr()) + " " + want + "\n");
  }
}

TEST_F(KitTest, MissingDirectoryIsNamedThenTheKindFails) {
  std::string root = kit("kit");
  for (const KitKind &k : kKitKinds) {
    SCOPED_TRACE(k.word);
    zt::Asked a = zt::ask(launcher(root), k.kind);
    EXPECT_EQ(a.result, nullptr);
    EXPECT_EQ(a.buffer(), "");
    EXPECT_EQ(a.texts, (Texts{k.missing + root + k.subdir, k.kind_text}));
    EXPECT_TRUE(a.user_word_kept);
  }
}

TEST_F(KitTest, NoKitRootGivesThreeTextsInnermostFirst) {
  // Six directories are searched from the launcher's: all inside the temp
  // dir, none holding share.
  t_.file("a/b/c/d/e/tool");
  std::string name = t_.str() + "/a/b/c/d/e/tool";
  for (const KitKind &k : kKitKinds) {
    SCOPED_TRACE(k.word);
    zt::Asked a = zt::ask(name, k.kind);
    EXPECT_EQ(a.result, nullptr);
    EXPECT_EQ(a.buffer(), "");
    EXPECT_EQ(a.texts,
              (Texts{kNoShare, "Could not determine the path to SDK", k.kind_text}));
    EXPECT_TRUE(a.user_word_kept);

    zt::Asked quiet = zt::ask(name, k.kind, ZARN_FOST_ENTRY_MAX_PATH, false);
    EXPECT_EQ(quiet.result, nullptr);
    EXPECT_EQ(quiet.buffer(), "");
  }
}

// Kit roots deep enough that the root plus its sub-directory meets the
// length limits exactly.
TEST_F(KitTest, LengthLimitsOfRootPlusSubdirectory) {
  if (!zt::long_paths(t_)) GTEST_SKIP() << "no 4095-character paths here";
  const char kTooLong[] = "Internal error: Path to SDK is too long";
  const char kNoSpace[] =
      "Not enough space to determine path to SDK internal Perl executable";
  const char kPerlDir[] = "/host/windows64/bin/perl/bin";
  struct Case {
    zarn_fost_entry_query_kind kind;
    const char *subdir;
    std::size_t dir_len;  // root plus subdir
    std::size_t buf_len;
    Texts texts;          // empty: success
  } cases[] = {
      {SDK_BIN, "/windows64/bin", 4094, 4096, {}},
      {SDK_BIN, "/windows64/bin", 4095, 4096,
       {kTooLong, "Could not determine the path to SDK internal executables"}},
      {SDK_PERL, kPerlDir, 4086, 4096, {}},
      {SDK_PERL, kPerlDir, 4087, 4096, {kNoSpace}},
      {SDK_PERL, kPerlDir, 4094, 4096, {kNoSpace}},
      // Room for the interpreter's name is judged by the caller's length.
      {SDK_PERL, kPerlDir, 4087, 8192, {}},
      {SDK_PERL, kPerlDir, 4095, 8192,
       {kTooLong, "Could not determine the path to SDK internal Perl executable"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.dir_len) + " in " + std::to_string(c.buf_len));
    std::size_t root_len = c.dir_len - std::strlen(c.subdir);
    std::string rel = zt::deep_rel(t_.str().size(), root_len);
    t_.dir(rel + "/share");
    t_.dir(rel + c.subdir);  // exists, so only the length decides
    t_.file(rel + "/t");
    std::string root = t_.str() + "/" + rel;
    ASSERT_EQ(root.size(), root_len);
    ASSERT_TRUE(zarn_fost_entry_is_dir((root + c.subdir).c_str()));

    zt::Asked a = zt::ask(root + "/t", c.kind, c.buf_len);
    EXPECT_EQ(a.texts, c.texts);
    if (c.texts.empty()) {
      std::string want = root + c.subdir + (c.kind == SDK_PERL ? "/perl.exe" : "");
      EXPECT_TRUE(a.in_buffer());
      EXPECT_EQ(a.buffer(), want);
    } else {
      EXPECT_EQ(a.result, nullptr);
      EXPECT_EQ(a.buffer(), "");
    }
  }
}

TEST_F(KitTest, PlatformWordFromOverride) {
  struct Case {
    const char *override_text;
    const char *word;
  } cases[] = {
      {nullptr, "windows64"}, {"x86_64", "linux64"},  {"windows64", "windows64"},
      {"ppc64", "ppc64"},     {"ppc64le", "ppc64le"}, {"armv7l", "arm32"},
      {"X86_64", "windows64"}, {"armv7", "windows64"}, {"ppc64x", "windows64"},
      {"", "windows64"},      {"linux64", "windows64"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.override_text ? c.override_text : "(null)");
    zarn_fost_entry_set_platform(c.override_text);
    EXPECT_STREQ(zarn_fost_entry_platform(), c.word);
  }
  // The caller's text is read afresh at each call, not copied.
  char word[16] = "ppc64";
  zarn_fost_entry_set_platform(word);
  EXPECT_STREQ(zarn_fost_entry_platform(), "ppc64");
  EXPECT_NE(zarn_fost_entry_platform(), word);  // the module's own text
  std::strcpy(word, "armv7l");
  EXPECT_STREQ(zarn_fost_entry_platform(), "arm32");
}

TEST_F(KitTest, PlatformOverrideSteersOnlyThePlatformDirectories) {
  std::string root = kit("kit");
  for (const char *d : {"/linux64/bin", "/host/linux64/bin", "/linux64/lib",
                        "/host/linux64/lib", "/host/windows64/bin/perl/lib",
                        "/host/windows64/bin/perl/bin"})
    t_.dir(std::string("kit") + d);
  struct Case {
    zarn_fost_entry_query_kind kind;
    const char *answer;
  } cases[] = {
      {SDK_BIN, "/linux64/bin"},
      {SDK_HOST_BIN, "/host/linux64/bin"},
      {SDK_LIB, "/linux64/lib"},
      {SDK_HOST_LIB, "/host/linux64/lib"},
      {SDK_PERL_LIB, "/host/windows64/bin/perl/lib"},
      {SDK_PERL, "/host/windows64/bin/perl/bin/perl.exe"},
  };
  zarn_fost_entry_set_platform("x86_64");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.answer);
    zt::Asked a = zt::ask(launcher(root), c.kind);
    EXPECT_TRUE(a.in_buffer());
    EXPECT_EQ(a.buffer(), root + c.answer);
  }

  zarn_fost_entry_set_platform(nullptr);
  zt::Asked a = zt::ask(launcher(root), SDK_BIN);
  EXPECT_EQ(a.result, nullptr);
  EXPECT_EQ(a.texts,
            (Texts{"Could not find SDK internal executables directory " + root +
                       "/windows64/bin",
                   "Could not determine the path to SDK internal executables"}));
}

TEST_F(KitTest, PerlLibraryTraceNamesTheFullLibrary) {
  std::string root = kit("kit");
  t_.dir("kit/host/windows64/bin/perl/lib");
  std::string name = launcher(root);
  zt::Asked a;
  std::string out;
  {
    zt::TraceOn trace;
    zt::CaptureStdout cap;
    a = zt::ask(name, SDK_PERL_LIB);
    out = cap.take();
  }
  std::string p = zt::ptr_text(a.addr());
  EXPECT_EQ(out, "found it right away\n"
                 "resolved: " + name + "\n"
                 "finding: SDK_PERL_LIB " + p + "\n"
                 "found it right away\n"
                 "resolved: " + name + "\n"
                 "finding: SDK " + p + "\n"
                 "finding: SDK --> " + p + " " + root + "\n"
                 "finding: SDK_PERL_FULL_LIB --> " + p + " " + root +
                 "/host/windows64/bin/perl/lib\n");
}

}  // namespace
