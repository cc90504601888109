// The launcher's own functions one at a time: the tool name, the failure
// collector and fatal report, the child's environment and the option scan.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "launcher.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kFit = L_ENV_BUFFER_SIZE - 1;  // longest text that fits

// Windows holds an environment value of at most 32,767 characters, so texts
// near the 16 MB bound reach the environment only elsewhere.
#ifdef _WIN32
constexpr bool kHugeEnvValues = false;
#else
constexpr bool kHugeEnvValues = true;
#endif

// Every piece of launcher state back at its start value.
void reset_launcher_state() {
  char *buffers[] = {
      self_path,    sdk,          sdk_bin,    sdk_host_bin,
      sdk_lib,      orvane,       orvane_bin, orvane_ravix_backend,
      orvane_java,  tesk_builder, plyx_bin,   perl_exe,
      perl_fulllib, perl_message};
  for (char *b : buffers) std::memset(b, 0, ZARN_FOST_ENTRY_MAX_PATH);
  require_hld_compiler = 1;
  require_orvane = 0;
  sdk_present = 0;
  verbose = 0;
  fast_emulator = 0;
  skip_orvane_bin = 0;
  perl_override = nullptr;
  std::memset(error_texts, 0, sizeof error_texts);
  error_count = 0;
}

void put(char *buf, const std::string &text) {
  ASSERT_LT(text.size(), ZARN_FOST_ENTRY_MAX_PATH);
  std::memcpy(buf, text.c_str(), text.size() + 1);
}

class Launcher : public ::testing::Test {
 protected:
  void SetUp() override { reset_launcher_state(); }
  void TearDown() override { reset_launcher_state(); }
};

// What a death-test child printed. The child sends its standard output to a
// file named in the environment: a child that re-runs the test from its
// start, as on Windows, then writes where the parent reads.
class ChildStdout {
 public:
  ChildStdout() {
    if (std::getenv(kKey) == nullptr) {
      std::random_device rd;
      fs::path p = fs::temp_directory_path() /
                   ("zarn-launcher-child-" + std::to_string(rd()) + ".out");
      env_.set(kKey, p.string());
    }
    path_ = std::getenv(kKey);
  }
  ~ChildStdout() {
    std::error_code ec;
    fs::remove(path_, ec);
  }
  ChildStdout(const ChildStdout &) = delete;
  ChildStdout &operator=(const ChildStdout &) = delete;

  // In the child: standard output goes to the file from here on, byte for
  // byte (no line-end translation).
  void redirect() const {
    std::fflush(stdout);
    if (std::freopen(path_.c_str(), "wb", stdout) == nullptr) std::abort();
  }
  std::string take() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    std::error_code ec;
    fs::remove(path_, ec);
    return text.str();
  }

 private:
  static constexpr const char *kKey = "ZARN_TEST_CHILD_STDOUT";
  zt::EnvGuard env_;
  std::string path_;
};

// Runs body in a child process, expects it to exit with status, and returns
// what it printed.
template <class Body>
std::string exit_output(Body body, int status) {
  ChildStdout out;
  std::fflush(stdout);
  EXPECT_EXIT(
      {
        out.redirect();
        body();
      },
      ::testing::ExitedWithCode(status), "");
  return out.take();
}

// ------------------------------------------------------------------ tool name

TEST_F(Launcher, ToolNameIsCutOutInPlace) {
  struct Case {
    const char *before;
    const char *name;
    const char *after;
  };
  const Case cases[] = {
      {"D:/kit/bin/Tool.exe", "tool", "D:/kit/bin/tool"},
      {"D:\\kit\\bin\\TOOL.EXE", "tool", "D:\\kit\\bin\\tool"},
      {"Tool.Exe", "tool.exe", "tool.exe"},
      {"D:/kit\\bin\\Tool.exe", "kit\\bin\\tool", "D:/kit\\bin\\tool"},
      {"D:/my.dir/Tool", "tool", "D:/my.dir/tool"},
      {"tool.exe.exe", "tool.exe", "tool.exe"},
      {"D:/kit/.exe", "", "D:/kit/"},
      {"D:/kit/", "", "D:/kit/"},
      {"NX++.EXE", "nx++", "nx++"},
      {"D:/kit/nx++.Exe", "nx++.exe", "D:/kit/nx++.exe"},
      {"D:/kit/Tool.exe2", "tool.exe2", "D:/kit/tool.exe2"},
      {"D:/kit/Tool.ex", "tool.ex", "D:/kit/tool.ex"},
      {"D:/kit/T\xC4\xB0.exe", "t\xC4\xB0", "D:/kit/t\xC4\xB0"},
      {"", "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.before);
    char text[64];
    std::snprintf(text, sizeof text, "%s", c.before);
    char *name = l_tool_name(text);
    EXPECT_STREQ(name, c.name);
    EXPECT_STREQ(text, c.after);
    // The name is the tail of the caller's text.
    EXPECT_EQ(name + std::strlen(name), text + std::strlen(text));
  }
}

// -------------------------------------------------------- failure collector

TEST_F(Launcher, CollectorKeepsTheFirstTwentyTextsCutTo4095Bytes) {
  const std::string long_text(5000, 'x');
  for (int i = 0; i < 25; ++i) {
    const std::string text = i == 3 ? long_text : "text " + std::to_string(i);
    // The user word is not the collector's business.
    l_collect_error(text.c_str(), static_cast<std::uintptr_t>(i * 977));
  }
  EXPECT_EQ(error_count, 25);
  for (int i = 0; i < L_ERROR_SLOTS; ++i) {
    SCOPED_TRACE(i);
    if (i == 3)
      EXPECT_EQ(std::string(error_texts[i]), std::string(4095, 'x'));
    else
      EXPECT_EQ(std::string(error_texts[i]), "text " + std::to_string(i));
    EXPECT_EQ(error_texts[i][ZARN_FOST_ENTRY_MAX_PATH - 1], '\0');
  }
}

// -------------------------------------------------------------- fatal report

TEST_F(Launcher, FatalReportNamesTheProductAndExitsWithOne) {
  struct Case {
    const char *exe_name;
    std::int32_t sdk_present;
    const char *headline;
  };
  const Case cases[] = {
      {"D:/kit/bin/NX++.EXE", 0,
       "nx++: Unable to determine the execution environment of the "
       "Norvex(R) HLS Compiler.\n"},
      {"nx++", 1,
       "nx++: Unable to determine the execution environment of the "
       "Norvex(R) HLS Compiler.\n"},
      {"D:/kit/bin/nx++.Exe", 1,
       "nx++.exe: Unable to determine the execution environment of the "
       "Norvex(R) Calvetta SDK.\n"},
      {"nx++x", 0,
       "nx++x: Unable to determine the execution environment of the "
       "Norvex(R) Calvetta Runtime Environment.\n"},
      {"D:/kit/bin/Zarn.exe", 1,
       "zarn: Unable to determine the execution environment of the "
       "Norvex(R) Calvetta SDK.\n"},
      {"D:/kit/bin/Zarn.exe", 0,
       "zarn: Unable to determine the execution environment of the "
       "Norvex(R) Calvetta Runtime Environment.\n"},
      {"D:/kit/bin/", 0,
       ": Unable to determine the execution environment of the "
       "Norvex(R) Calvetta Runtime Environment.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.exe_name);
    sdk_present = c.sdk_present;
    // No collected text: the headline alone.
    const std::string out = exit_output(
        [&] {
          char name[64];
          std::snprintf(name, sizeof name, "%s", c.exe_name);
          l_fatal(name);
        },
        1);
    EXPECT_EQ(out, c.headline);
  }
}

TEST_F(Launcher, FatalReportListsTheKeptTextsAsTheyAre) {
  std::vector<std::string> texts;
  for (int i = 0; i < 25; ++i) texts.push_back("reason " + std::to_string(i));
  texts[1] = "100% of %s and %n";
  texts[2] = std::string(5000, 'y');
  for (const std::string &t : texts) l_collect_error(t.c_str(), 0);

  std::string expected =
      "zarn: Unable to determine the execution environment of the "
      "Norvex(R) Calvetta Runtime Environment.\n";
  for (int i = 0; i < L_ERROR_SLOTS; ++i)
    expected += "zarn:     Detailed error: " + texts[i].substr(0, 4095) + "\n";

  const std::string out = exit_output(
      [] {
        char name[] = "D:/kit/bin/zarn.exe";
        l_fatal(name);
      },
      1);
  EXPECT_TRUE(out == expected) << "got:\n" << out.substr(0, 600) << "...";
}

// ---------------------------------------------------------- child environment

// Fixed texts standing for what the queries found.
const std::string kSdk = "D:/kit";
const std::string kSdkBin = "D:/kit/windows64/bin";
const std::string kHostBin = "D:/kit/host/windows64/bin";
const std::string kWrapperBin = "D:/kit/bin";
const std::string kPerlLib = "D:/kit/host/windows64/bin/perl/lib";
const std::string kOrvane = "E:/orvane";
const std::string kOrvaneBin = "E:/orvane/bin64";
const std::string kRavix = "D:/kit/windows64/lib/ravix/windows64";
const std::string kJava = "E:/orvane/bin64/jre64/bin";
const std::string kTesk = "E:/orvane/tesk_builder/bin";
const std::string kPlyx = "E:/orvane/../plyx/bin";

void everything_found() {
  put(sdk, kSdk);
  put(sdk_bin, kSdkBin);
  put(sdk_host_bin, kHostBin);
  put(perl_fulllib, kPerlLib);
  put(orvane, kOrvane);
  put(orvane_bin, kOrvaneBin);
  put(orvane_ravix_backend, kRavix);
  put(orvane_java, kJava);
  put(tesk_builder, kTesk);
  put(plyx_bin, kPlyx);
}

void no_design_suite() {
  for (char *b : {orvane, orvane_bin, orvane_ravix_backend, orvane_java,
                  tesk_builder, plyx_bin})
    b[0] = '\0';
}

std::string join(const std::vector<std::string> &parts) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i)
    out += (i ? ";" : "") + parts[i];
  return out;
}

using Env = std::map<std::string, std::optional<std::string>>;
const char *const kEnvKeys[] = {
    "PATH",           "LD_LIBRARY_PATH",       "PERL5LIB",    "ORVANE_64BIT",
    "ORVANE_ROOTDIR", "NORVEXCALVETTASDKROOT", "PERL_BADLANG"};

// Sets the listed keys, unsets the other keys the set-up touches.
void start_env(zt::EnvGuard &env, const Env &before) {
  for (const char *key : kEnvKeys) env.unset(key);
  for (const auto &[key, value] : before)
    if (value) env.set(key, *value);
}

std::optional<std::string> env_value(const char *key) {
  const char *v = std::getenv(key);
  return v ? std::optional<std::string>(v) : std::nullopt;
}

// True when this platform can hold a key with an empty value (Windows
// removes such a key).
bool empty_values_kept(const Env &before) {
  for (const auto &[key, value] : before)
    if (value && value->empty() && !env_value(key.c_str())) return false;
  return true;
}

TEST_F(Launcher, EnvironmentSetUpPrependsAndSetsWhatWasFound) {
  const std::string all_path = join({kWrapperBin, kHostBin, kSdkBin, kPlyx,
                                     kTesk, kJava, kOrvaneBin, kRavix});
  const std::string design_path = join({kPlyx, kTesk, kJava});
  struct Case {
    const char *what;
    void (*adjust)();
    Env before;
    Env after;  // every key of kEnvKeys
  };
  const Case cases[] = {
      {"everything found",
       [] {},
       {{"PATH", "C:/win"},
        {"LD_LIBRARY_PATH", "C:/ld"},
        {"PERL5LIB", "C:/pl"}},
       {{"PATH", all_path + ";C:/win"},
        {"LD_LIBRARY_PATH", kOrvaneBin + ";C:/ld"},
        {"PERL5LIB", kPerlLib + ";C:/pl"},
        {"ORVANE_64BIT", "1"},
        {"ORVANE_ROOTDIR", kOrvane},
        {"NORVEXCALVETTASDKROOT", kSdk},
        {"PERL_BADLANG", "0"}}},
      {"nothing of the design suite: inherited keys stay",
       no_design_suite,
       {{"PATH", "C:/win"},
        {"ORVANE_64BIT", "inherited"},
        {"ORVANE_ROOTDIR", "C:/old"}},
       {{"PATH", join({kWrapperBin, kHostBin, kSdkBin, "C:/win"})},
        {"LD_LIBRARY_PATH", std::nullopt},
        {"PERL5LIB", kPerlLib},
        {"ORVANE_64BIT", "inherited"},
        {"ORVANE_ROOTDIR", "C:/old"},
        {"NORVEXCALVETTASDKROOT", kSdk},
        {"PERL_BADLANG", "0"}}},
      {"fast emulator",
       [] { fast_emulator = 1; },
       {{"PATH", "C:/win"}, {"LD_LIBRARY_PATH", "C:/ld"}},
       {{"PATH", join({kWrapperBin, kHostBin, kSdkBin, design_path, "C:/win"})},
        {"LD_LIBRARY_PATH", "C:/ld"},
        {"PERL5LIB", kPerlLib},
        {"ORVANE_64BIT", std::nullopt},
        {"ORVANE_ROOTDIR", kOrvane},
        {"NORVEXCALVETTASDKROOT", kSdk},
        {"PERL_BADLANG", "0"}}},
      {"fast emulator and design-suite programs left out",
       [] {
         fast_emulator = 1;
         skip_orvane_bin = 1;
       },
       {{"PATH", "C:/win"}},
       {{"PATH", join({kWrapperBin, kHostBin, kSdkBin, design_path, "C:/win"})},
        {"LD_LIBRARY_PATH", std::nullopt},
        {"PERL5LIB", kPerlLib},
        {"ORVANE_64BIT", std::nullopt},
        {"ORVANE_ROOTDIR", kOrvane},
        {"NORVEXCALVETTASDKROOT", kSdk},
        {"PERL_BADLANG", "0"}}},
      {"design-suite programs left out: the back end stays",
       [] { skip_orvane_bin = 1; },
       {{"PATH", "C:/win"}, {"LD_LIBRARY_PATH", "C:/ld"}},
       {{"PATH",
         join({kWrapperBin, kHostBin, kSdkBin, design_path, kRavix, "C:/win"})},
        {"LD_LIBRARY_PATH", "C:/ld"},
        {"PERL5LIB", kPerlLib},
        {"ORVANE_64BIT", std::nullopt},
        {"ORVANE_ROOTDIR", kOrvane},
        {"NORVEXCALVETTASDKROOT", kSdk},
        {"PERL_BADLANG", "0"}}},
      {"PATH unset: no separator after the first directory",
       [] {},
       {},
       {{"PATH", all_path},
        {"LD_LIBRARY_PATH", kOrvaneBin},
        {"PERL5LIB", kPerlLib},
        {"ORVANE_64BIT", "1"},
        {"ORVANE_ROOTDIR", kOrvane},
        {"NORVEXCALVETTASDKROOT", kSdk},
        {"PERL_BADLANG", "0"}}},
      {"keys set to the empty text",
       [] {},
       {{"PATH", ""}, {"LD_LIBRARY_PATH", ""}, {"PERL5LIB", ""}},
       {{"PATH", all_path + ";"},
        {"LD_LIBRARY_PATH", kOrvaneBin + ";"},
        {"PERL5LIB", kPerlLib + ";"},
        {"ORVANE_64BIT", "1"},
        {"ORVANE_ROOTDIR", kOrvane},
        {"NORVEXCALVETTASDKROOT", kSdk},
        {"PERL_BADLANG", "0"}}},
      {"--perl with PERL5LIB set: a leading separator",
       [] { perl_fulllib[0] = '\0'; },
       {{"PATH", "C:/win"}, {"PERL5LIB", "C:/pl"}},
       {{"PATH", all_path + ";C:/win"},
        {"LD_LIBRARY_PATH", kOrvaneBin},
        {"PERL5LIB", ";C:/pl"},
        {"ORVANE_64BIT", "1"},
        {"ORVANE_ROOTDIR", kOrvane},
        {"NORVEXCALVETTASDKROOT", kSdk},
        {"PERL_BADLANG", "0"}}},
      {"--perl with PERL5LIB unset: it stays unset",
       [] { perl_fulllib[0] = '\0'; },
       {{"PATH", "C:/win"}},
       {{"PATH", all_path + ";C:/win"},
        {"LD_LIBRARY_PATH", kOrvaneBin},
        {"PERL5LIB", std::nullopt},
        {"ORVANE_64BIT", "1"},
        {"ORVANE_ROOTDIR", kOrvane},
        {"NORVEXCALVETTASDKROOT", kSdk},
        {"PERL_BADLANG", "0"}}},
      {"kelmo without the internal executables",
       [] {
         no_design_suite();
         sdk_bin[0] = '\0';
       },
       {{"PATH", "C:/win"}},
       {{"PATH", join({kWrapperBin, kHostBin, "C:/win"})},
        {"LD_LIBRARY_PATH", std::nullopt},
        {"PERL5LIB", kPerlLib},
        {"ORVANE_64BIT", std::nullopt},
        {"ORVANE_ROOTDIR", std::nullopt},
        {"NORVEXCALVETTASDKROOT", kSdk},
        {"PERL_BADLANG", "0"}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    reset_launcher_state();
    everything_found();
    c.adjust();
    zt::EnvGuard env;
    start_env(env, c.before);
    if (!empty_values_kept(c.before)) continue;  // not expressible here

    zt::CaptureStdout out;
    const std::int32_t ok = l_setup_environment();
    EXPECT_EQ(out.take(), "");
    EXPECT_EQ(ok, 1);
    for (const char *key : kEnvKeys) {
      ASSERT_TRUE(c.after.count(key)) << key;
      EXPECT_EQ(env_value(key), c.after.at(key)) << key;
    }
  }
}

TEST_F(Launcher, EnvironmentSetUpTracesEveryPrependAndNoSet) {
  struct Case {
    const char *what;
    void (*adjust)();
    std::string lines;
  };
  const Case cases[] = {
      {"everything found", [] {},
       "Prepend PATH with " + kRavix + "\n" + "Prepend PATH with " +
           kOrvaneBin + "\n" + "Prepend LD_LIBRARY_PATH with " + kOrvaneBin +
           "\n" + "Prepend PATH with " + kJava + "\n" + "Prepend PATH with " +
           kTesk + "\n" + "Prepend PATH with " + kPlyx + "\n" +
           "Prepend PATH with " + kSdkBin + "\n" + "Prepend PATH with " +
           kHostBin + "\n" + "Prepend PATH with " + kWrapperBin + "\n" +
           "Prepend PERL5LIB with " + kPerlLib + "\n"},
      {"kelmo with --perl and nothing else found",
       [] {
         no_design_suite();
         sdk_bin[0] = '\0';
         perl_fulllib[0] = '\0';
       },
       "Prepend PATH with " + kHostBin + "\n" + "Prepend PATH with " +
           kWrapperBin + "\n" + "Prepend PERL5LIB with \n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    reset_launcher_state();
    everything_found();
    c.adjust();
    verbose = 1;
    zt::EnvGuard env;
    start_env(env, {{"PATH", "C:/win"}});

    zt::CaptureStdout out;
    EXPECT_EQ(l_setup_environment(), 1);
    EXPECT_EQ(out.take(), c.lines);
  }
}

// A failing step prints its lines, returns 0 and makes no later change. The
// failing key's old value is long enough that the step's joined value just
// fits and its assignment does not.
TEST_F(Launcher, EnvironmentSetUpStopsAtTheFirstFailingStep) {
  if (!kHugeEnvValues)
    GTEST_SKIP() << "needs values of 16 MB in the environment";
  struct Case {
    const char *what;
    void (*adjust)();
    const char *long_key;
    std::string joined_before_old;  // what the failing join puts before it
    std::string kept_before_old;    // what the key holds before it after
    std::string lines;
    Env after;  // the other keys
  };
  const std::string too_long_path = "Environment variable PATH is too long\n";
  const Env untouched = {{"LD_LIBRARY_PATH", "C:/ld"},
                         {"PERL5LIB", "C:/pl"},
                         {"ORVANE_64BIT", std::nullopt},
                         {"ORVANE_ROOTDIR", std::nullopt},
                         {"NORVEXCALVETTASDKROOT", std::nullopt},
                         {"PERL_BADLANG", std::nullopt}};
  const Env after_design = {{"LD_LIBRARY_PATH", "C:/ld"},
                            {"PERL5LIB", "C:/pl"},
                            {"ORVANE_64BIT", std::nullopt},
                            {"ORVANE_ROOTDIR", kOrvane},
                            {"NORVEXCALVETTASDKROOT", std::nullopt},
                            {"PERL_BADLANG", std::nullopt}};
  Env after_kit_root = after_design;
  after_kit_root["ORVANE_ROOTDIR"] = std::nullopt;
  after_kit_root["NORVEXCALVETTASDKROOT"] = kSdk;
  Env after_badlang = after_kit_root;
  after_badlang["PERL_BADLANG"] = "0";
  after_badlang["PATH"] = join({kWrapperBin, kHostBin, kSdkBin, "C:/win"});
  after_badlang.erase("PERL5LIB");

  const Case cases[] = {
      {"Ravix back end", [] {}, "PATH", kRavix + ";", "",
       too_long_path +
           "Failed l_prepend_path( \"PATH\", orvane_ravix_backend )\n",
       untouched},
      {"design-suite programs on PATH", [] { orvane_ravix_backend[0] = '\0'; },
       "PATH", kOrvaneBin + ";", "",
       too_long_path + "Failed l_prepend_path( \"PATH\", orvane_bin )\n",
       untouched},
      {"design-suite programs on LD_LIBRARY_PATH",
       [] { orvane_ravix_backend[0] = '\0'; },
       "LD_LIBRARY_PATH",
       kOrvaneBin + ";",
       "",
       "Environment variable LD_LIBRARY_PATH is too long\n"
       "Failed l_prepend_path( \"LD_LIBRARY_PATH\", orvane_bin )\n",
       {{"PATH", kOrvaneBin + ";C:/win"},
        {"PERL5LIB", "C:/pl"},
        {"ORVANE_64BIT", std::nullopt},
        {"ORVANE_ROOTDIR", std::nullopt},
        {"NORVEXCALVETTASDKROOT", std::nullopt},
        {"PERL_BADLANG", std::nullopt}}},
      {"Java",
       [] {
         orvane_ravix_backend[0] = '\0';
         orvane_bin[0] = '\0';
       },
       "PATH", kJava + ";", "",
       too_long_path + "Failed l_prepend_path( \"PATH\", orvane_java )\n",
       after_design},
      {"Tesk Builder",
       [] {
         orvane_ravix_backend[0] = '\0';
         orvane_bin[0] = '\0';
         orvane_java[0] = '\0';
       },
       "PATH", kTesk + ";", "",
       too_long_path + "Failed l_prepend_path( \"PATH\", tesk_builder )\n",
       after_design},
      {"Plyx",
       [] {
         orvane_ravix_backend[0] = '\0';
         orvane_bin[0] = '\0';
         orvane_java[0] = '\0';
         tesk_builder[0] = '\0';
       },
       "PATH", kPlyx + ";", "",
       too_long_path + "Failed l_prepend_path( \"PATH\", plyx_bin )\n",
       after_design},
      {"internal executables", no_design_suite, "PATH", kSdkBin + ";", "",
       too_long_path + "Failed l_prepend_path( \"PATH\", sdk_bin )\n",
       after_kit_root},
      {"host executables",
       [] {
         no_design_suite();
         sdk_bin[0] = '\0';
       },
       "PATH", kHostBin + ";", "",
       too_long_path + "Failed l_prepend_path(\"PATH\", sdk_host_bin )\n",
       after_kit_root},
      {"kit root's bin, after the host executables went in",
       [] {
         no_design_suite();
         sdk_bin[0] = '\0';
       },
       "PATH", kWrapperBin + ";" + kHostBin + ";", kHostBin + ";",
       too_long_path + "Failed l_prepend_path( \"PATH\", wrapper_bin )\n",
       after_kit_root},
      {"Perl library", no_design_suite, "PERL5LIB", kPerlLib + ";", "",
       "Environment variable PERL5LIB is too long\n"
       "Failed l_prepend_path (\"PERL5LIB\", perl_fulllib)\n",
       after_badlang},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    reset_launcher_state();
    everything_found();
    c.adjust();
    const std::string old(kFit - c.joined_before_old.size(), 'o');
    zt::EnvGuard env;
    start_env(env, {{"PATH", "C:/win"},
                    {"LD_LIBRARY_PATH", "C:/ld"},
                    {"PERL5LIB", "C:/pl"}});
    env.set(c.long_key, old);

    zt::CaptureStdout out;
    const std::int32_t ok = l_setup_environment();
    EXPECT_EQ(out.take(), c.lines);
    EXPECT_EQ(ok, 0);
    const std::optional<std::string> now = env_value(c.long_key);
    EXPECT_TRUE(now == c.kept_before_old + old) << c.long_key << " changed";
    for (const auto &[key, value] : c.after) {
      if (key == c.long_key) continue;
      EXPECT_EQ(env_value(key.c_str()), value) << key;
    }
  }
}

TEST_F(Launcher, EnvironmentTextsFitUpToTheLastByteOfTheirBuffer) {
  const char *key = "ZARN_TEST_FIT";  // 13 characters
  const std::string too_long =
      "Environment variable ZARN_TEST_FIT is too long\n";
  struct Case {
    const char *what;
    bool prepend;
    std::size_t old_len;  // 0: unset
    std::size_t value_len;
    bool fits;
    std::string line;
  };
  const std::size_t key_eq = std::strlen(key) + 1;
  const Case cases[] = {
      {"assignment of 16,777,215", false, 0, kFit - key_eq, true, ""},
      {"assignment of 16,777,216", false, 0, kFit - key_eq + 1, false,
       too_long},
      {"prepend to unset, assignment of 16,777,215", true, 0, kFit - key_eq,
       true, ""},
      {"prepend to unset, assignment of 16,777,216", true, 0, kFit - key_eq + 1,
       false, too_long},
      {"joined assignment of 16,777,215", true, 100, kFit - key_eq - 101, true,
       ""},
      {"joined assignment of 16,777,216", true, 100, kFit - key_eq - 100, false,
       too_long},
      // The joined value fits, so the assignment made of it cannot.
      {"joined value of 16,777,215", true, 100, kFit - 101, false, too_long},
      {"joined value of 16,777,216", true, 100, kFit - 100, false, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.fits && !kHugeEnvValues) continue;
    zt::EnvGuard env;
    const std::string old(c.old_len, 'o');
    if (c.old_len != 0)
      env.set(key, old);
    else
      env.unset(key);
    const std::string value(c.value_len, 'v');

    zt::CaptureStdout out;
    const std::int32_t ok = c.prepend ? l_prepend_path(key, value.c_str())
                                      : l_setenv(key, value.c_str());
    EXPECT_EQ(out.take(), c.line);
    EXPECT_EQ(ok, c.fits ? 1 : 0);
    const std::string expected = !c.fits          ? old
                                 : c.old_len != 0 ? value + ";" + old
                                                  : value;
    const std::optional<std::string> now = env_value(key);
    EXPECT_TRUE(now.value_or("") == expected)
        << "length " << now.value_or("").size() << ", expected "
        << expected.size();
  }
}

// ---------------------------------------------------------------- option scan

// A writable command line for the scan.
struct CommandLine {
  explicit CommandLine(std::vector<std::string> words)
      : words_(std::move(words)) {
    words_.insert(words_.begin(), "D:/kit/bin/Zarn.exe");
    for (std::string &w : words_) argv.push_back(w.data());
  }
  int argc() const { return static_cast<int>(argv.size()); }
  std::vector<std::string> kept(std::int32_t kept_argc) const {
    std::vector<std::string> out;
    for (std::int32_t i = 1; i < kept_argc; ++i) out.push_back(argv[i]);
    return out;
  }
  std::vector<std::string> words_;
  std::vector<char *> argv;
};

TEST_F(Launcher, OptionScanConsumesLeadingPerlAndPassesTheRestOn) {
  struct Case {
    std::vector<std::string> words;
    std::vector<std::string> passed;
    const char *perl;  // null: none
  };
  const Case cases[] = {
      {{}, {}, nullptr},
      {{"a.cl", "-x", ""}, {"a.cl", "-x", ""}, nullptr},
      {{"--perl", "a", "--perl", "b", "c"}, {"c"}, "b"},
      {{"--perl", "--standalone"}, {}, "--standalone"},
      {{"--perl", "--perl"}, {}, "--perl"},
      {{"--perl", ""}, {}, ""},
      {{"--standalone", "--perl", "a", "b"}, {"--standalone", "b"}, "a"},
      {{"b", "--perl", "a"}, {"b", "--perl", "a"}, nullptr},
      {{"x", "--perl"}, {"x", "--perl"}, nullptr},
      {{"b", "--standalone"}, {"b", "--standalone"}, nullptr},
      {{"--standalone", "--standalone"},
       {"--standalone", "--standalone"},
       nullptr},
      {{"--Perl", "a"}, {"--Perl", "a"}, nullptr},
      {{"--perl=a", "b"}, {"--perl=a", "b"}, nullptr},
      {{"--perl", "p", "x", "x"}, {"x", "x"}, "p"},
  };
  for (const Case &c : cases) {
    CommandLine cl(c.words);
    SCOPED_TRACE(::testing::PrintToString(c.words));
    perl_override = nullptr;
    const char *value_word = nullptr;
    // The value is the command-line word itself, not a copy.
    if (c.perl != nullptr)
      for (int i = cl.argc() - 1; i > 0; --i)
        if (std::strcmp(cl.argv[i - 1], "--perl") == 0 &&
            std::strcmp(cl.argv[i], c.perl) == 0) {
          value_word = cl.argv[i];
          break;
        }

    zt::CaptureStdout out;
    const std::int32_t kept = l_scan_options(cl.argc(), cl.argv.data());
    EXPECT_EQ(out.take(), "");
    EXPECT_EQ(kept, static_cast<std::int32_t>(c.passed.size()) + 1);
    EXPECT_EQ(cl.kept(kept), c.passed);
    EXPECT_EQ(perl_override, value_word);
    EXPECT_EQ(fast_emulator, 0);
  }
}

TEST_F(Launcher, OptionScanSetsTheEnvironmentFlags) {
  struct Case {
    std::vector<std::string> words;
    std::int32_t fast;
    std::int32_t skip;
  };
  const Case cases[] = {
      {{"-fast-emulator"}, 1, 0},
      {{"--fast-emulator"}, 0, 0},
      {{"-fast-emulator=1"}, 0, 0},
      {{"-FAST-EMULATOR"}, 0, 0},
      {{"x", "-fast-emulator", "-fast-emulator"}, 1, 0},
      {{"--source", "ocl"}, 0, 1},
      {{"a", "--source", "ocl", "b"}, 0, 1},
      {{"--source", "OCL"}, 0, 0},
      {{"--source", "ocl2"}, 0, 0},
      {{"--source", "x", "ocl"}, 0, 0},
      {{"ocl", "--source"}, 0, 0},
      {{"--source"}, 0, 0},
      {{"-sycl"}, 0, 1},
      {{"-sycl", "-simulator"}, 0, 0},
      {{"-hardware", "-sycl"}, 0, 0},
      {{"-SYCL"}, 0, 0},
      {{"-sycl", "-fast-emulator"}, 1, 1},
      // Leading options are not tested; a word that ends them is.
      {{"--perl", "-fast-emulator"}, 0, 0},
      {{"--standalone", "-fast-emulator"}, 1, 0},
      {{"x", "--perl", "-fast-emulator"}, 1, 0},
  };
  for (const Case &c : cases) {
    CommandLine cl(c.words);
    SCOPED_TRACE(::testing::PrintToString(c.words));
    fast_emulator = 0;
    skip_orvane_bin = 0;
    l_scan_options(cl.argc(), cl.argv.data());
    EXPECT_EQ(fast_emulator, c.fast);
    EXPECT_EQ(skip_orvane_bin, c.skip);
  }
}

TEST_F(Launcher, OptionScanCreateLibWantsAWordAfterDotClInByteOrder) {
  struct Case {
    std::vector<std::string> words;
    std::int32_t skip;
  };
  const Case cases[] = {
      {{"-createlibobjectforsycl"}, 0},
      {{"-createlibobjectforsycl", "lib.cl"}, 1},
      {{"k.o", "-createlibobjectforsycl"}, 1},
      {{"-createlibobjectforsycl", "9"}, 1},
      {{"-createlibobjectforsycl", "_x"}, 1},
      {{"-createlibobjectforsycl", "/abs/k.cl"}, 1},
      {{"-createlibobjectforsycl", "\\abs"}, 1},
      {{"-createlibobjectforsycl", ".clx"}, 1},
      {{"-createlibobjectforsycl", ".d"}, 1},
      {{"-createlibobjectforsycl", "\xC3\xA9.cl"}, 1},  // bytes above 127
      {{"-createlibobjectforsycl", ".cl"}, 0},
      {{"-createlibobjectforsycl", ".c"}, 0},
      {{"-createlibobjectforsycl", "./k.cl"}, 0},
      {{"-createlibobjectforsycl", "-o"}, 0},
      {{"-createlibobjectforsycl", "+x"}, 0},
      {{"-createlibobjectforsycl", " x"}, 0},
      {{"-createlibobjectforsycl", ""}, 0},
      // --source consumes nothing: the word after it is tested too.
      {{"-createlibobjectforsycl", "--source", "k.cl"}, 1},
      {{"-createlibobjectforsycl", "-createlibobjectforsycl"}, 0},
      // A leading --perl's value is not one of the words.
      {{"--perl", "k.cl", "-createlibobjectforsycl"}, 0},
      {{"-createlibobjectforsycl", "--perl", "k.cl"}, 1},
  };
  for (const Case &c : cases) {
    CommandLine cl(c.words);
    SCOPED_TRACE(::testing::PrintToString(c.words));
    skip_orvane_bin = 0;
    l_scan_options(cl.argc(), cl.argv.data());
    EXPECT_EQ(skip_orvane_bin, c.skip);
  }
}

TEST_F(Launcher, OptionScanEndsWithThreeWhenLeadingPerlHasNoValue) {
  const std::vector<std::string> cases[] = {
      {"--perl"},
      {"--perl", "a", "--perl"},
      {"--standalone", "--perl"},
  };
  for (const std::vector<std::string> &words : cases) {
    SCOPED_TRACE(::testing::PrintToString(words));
    const std::string out = exit_output(
        [&] {
          CommandLine cl(words);
          l_scan_options(cl.argc(), cl.argv.data());
        },
        3);
    EXPECT_EQ(out, "zarn: Option --perl requires an argument.\n");
  }
}

// A program may be started with no words at all (Linux then hands it one
// empty word, so only a direct call reaches argc 0): the report names no
// tool.
TEST_F(Launcher, RunWithoutAnyWordEndsInTheFatalReport) {
  zt::EnvGuard env;
  env.unset("KELMO_ENTRY_DEBUG");
  const std::string out = exit_output(
      [] {
        char *argv[] = {nullptr};
        l_main(0, argv);
      },
      1);
  EXPECT_EQ(out,
            ": Unable to determine the execution environment of the Norvex(R) "
            "Calvetta Runtime Environment.\n"
            ":     Detailed error: Internal error: executable name is not "
            "supplied\n");
}

// The launcher never changes the platform word, so only a caller of the
// locator's setter reaches this road.
TEST_F(Launcher, Linux64AlsoRequiresTheKitLibraries) {
  zt::TempDir kit;
  kit.dir("share");
  kit.dir("linux64/bin");
  kit.dir("host/linux64/bin");
  kit.file("bin/tool");
  zt::EnvGuard env;
  env.unset("KELMO_ENTRY_DEBUG");
  env.set("PATH", "");
  std::string name = kit.str() + "/bin/tool";
  const std::string out = exit_output(
      [&] {
        zarn_fost_entry_set_platform("x86_64");
        char *argv[] = {name.data(), nullptr};
        l_main(1, argv);
      },
      1);
  // Where the child runs the test afresh (Windows), it made a kit of its
  // own: compare the directory's tail only.
  const std::string head =
      "tool: Unable to determine the execution environment of the "
      "Norvex(R) Calvetta SDK.\n"
      "tool:     Detailed error: Could not find SDK internal libraries "
      "directory ";
  const std::string tail =
      "/linux64/lib\n"
      "tool:     Detailed error: Could not determine the path to SDK "
      "internal libraries\n";
  ASSERT_GE(out.size(), head.size() + tail.size());
  EXPECT_EQ(out.substr(0, head.size()), head);
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
  EXPECT_EQ(out.find('\n', head.size()), out.size() - tail.size() + 12);
}

}  // namespace
