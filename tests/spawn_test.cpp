// Command-line splitting and the waiting spawn, with a real child program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform.h"
#include "probe_reader.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using Words = std::vector<std::string>;

// Windows passes a child's full exit status; elsewhere only its low byte.
#ifdef _WIN32
constexpr bool kWideStatus = true;
#else
constexpr bool kWideStatus = false;
#endif

struct FirstWordCase {
  const char *line;
  Words words;
};

// The program name: quotes only group, backslashes are literal.
const FirstWordCase kFirstWordCases[] = {
    {"", {""}},
    {"prog", {"prog"}},
    {"\"C:\\Program Files\\tool.exe\" x", {"C:\\Program Files\\tool.exe", "x"}},
    {"C:\\dir\\\"a b\"\\p.exe y", {"C:\\dir\\a b\\p.exe", "y"}},
    {"a\\\"b c", {"a\\b c"}},
    {"\"C:\\dir\\\" x", {"C:\\dir\\", "x"}},
    {"\"\" x", {"", "x"}},
    {" x y", {"", "x", "y"}},
    {"p\tx", {"p", "x"}},
    {"\"a b", {"a b"}},
};

struct LaterWordCase {
  const char *rest;  // what follows "prog " on the line
  Words words;       // the words after the program name
};

// The runtime's documented examples first, then awkward arguments in the
// quoted form the launcher gives them.
const LaterWordCase kLaterWordCases[] = {
    {"\"a b c\" d e", {"a b c", "d", "e"}},
    {"\"ab\\\"c\" \"\\\\\" d", {"ab\"c", "\\", "d"}},
    {"a\\\\\\b d\"e f\"g h", {"a\\\\\\b", "de fg", "h"}},
    {"a\\\\\\\"b c d", {"a\\\"b", "c", "d"}},
    {"a\\\\\\\\\"b c\" d e", {"a\\\\b c", "d", "e"}},
    {"a\"b\"\" c d", {"ab\" c d"}},
    {"", {}},
    {"  \t ", {}},
    {"a \t b\t\tc  ", {"a", "b", "c"}},
    {"\"\" \"\"", {"", ""}},
    {"\"a b", {"a b"}},
    {"x\\y\\ \\\\", {"x\\y\\", "\\\\"}},
    {"\\\"", {"\""}},
    {"\"tab\there\" \"two  blanks\"", {"tab\there", "two  blanks"}},
    {"\"say \\\"hi\\\"\"", {"say \"hi\""}},
    {"\"D:\\tools\\\\\" \"D:\\tools\\file\"",
     {"D:\\tools\\", "D:\\tools\\file"}},
    {"\"\\\\\\\\\"", {"\\\\"}},
    {"\"\xc3\xa9t\xc3\xa9 \xd0\x94\" \xe6\x97\xa5\xf0\x9f\x98\x80",
     {"\xc3\xa9t\xc3\xa9 \xd0\x94", "\xe6\x97\xa5\xf0\x9f\x98\x80"}},
};

TEST(SplitCommandLine, ProgramNameByItsOwnRule) {
  for (const FirstWordCase &c : kFirstWordCases)
    EXPECT_EQ(plat_split_command_line(c.line), c.words) << "line: " << c.line;
}

TEST(SplitCommandLine, LaterWords) {
  for (const LaterWordCase &c : kLaterWordCases) {
    Words expected = {"prog"};
    expected.insert(expected.end(), c.words.begin(), c.words.end());
    std::string line = std::string("prog ") + c.rest;
    EXPECT_EQ(plat_split_command_line(line.c_str()), expected)
        << "line: " << line;
  }
}

TEST(SplitCommandLine, NullLineHasNoWords) {
  EXPECT_TRUE(plat_split_command_line(nullptr).empty());
}

// Runs the probe with the given entries after its own quoted path, its
// report going to a temp file.
struct ProbeRun {
  std::intptr_t status;
  zt::ProbeReport report;
};

ProbeRun run_probe(const Words &rest, const char *status = nullptr) {
  zt::TempDir tmp;
  zt::EnvGuard env;
  std::string out = (tmp.path() / "report.txt").string();
  env.set("ZARN_PROBE_OUT", out);
  if (status != nullptr)
    env.set("ZARN_PROBE_STATUS", status);
  else
    env.unset("ZARN_PROBE_STATUS");
  std::string program = zt::probe_program();
  std::string quoted = "\"" + program + "\"";
  std::vector<const char *> argv = {quoted.c_str()};
  for (const std::string &r : rest) argv.push_back(r.c_str());
  argv.push_back(nullptr);
  ProbeRun run;
  run.status = plat_spawnv_wait(program.c_str(), argv.data());
  run.report = zt::read_probe(out);
  return run;
}

// The words the child got after its program name.
Words after_program(const zt::ProbeReport &r) {
  if (r.argv.empty()) return {};
  return Words(r.argv.begin() + 1, r.argv.end());
}

class Spawn : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(zt::probe_program().empty()) << "ZARN_TEST_PROBE is not set";
  }
};

TEST_F(Spawn, ChildGetsTheWordsOfTheJoinedLine) {
  for (const LaterWordCase &c : kLaterWordCases) {
    ProbeRun run = run_probe({c.rest});
    ASSERT_EQ(run.status, 0) << "rest: " << c.rest;
    EXPECT_EQ(run.report.argc, static_cast<int>(c.words.size()) + 1)
        << "rest: " << c.rest;
    EXPECT_EQ(after_program(run.report), c.words) << "rest: " << c.rest;
  }
}

TEST_F(Spawn, EntriesAreJoinedWithSingleBlanks) {
  // Each entry is a piece of one line: a blank inside an unquoted entry
  // separates words, and quoted text may run across entries.
  ProbeRun run = run_probe({"a  b", "\"c", "d\"", "", "e"});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(after_program(run.report), (Words{"a", "b", "c d", "e"}));
}

TEST_F(Spawn, ChildGetsItsNameAndOurEnvironment) {
  zt::EnvGuard env;
  env.set("ZARN_SPAWN_TEST_KEY", "a value; with \"quotes\"");
  ProbeRun run = run_probe({});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.report.env["ZARN_SPAWN_TEST_KEY"], "a value; with \"quotes\"");
  ASSERT_EQ(run.report.argc, 1);
  EXPECT_EQ(run.report.argv, Words{zt::probe_program()});
}

TEST_F(Spawn, ChildWritesToOurStandardOutput) {
  zt::EnvGuard env;
  env.unset("ZARN_PROBE_OUT");
  std::string program = zt::probe_program();
  std::string quoted = "\"" + program + "\"";
  const char *argv[] = {quoted.c_str(), "\"from the child\"", nullptr};
  zt::CaptureStdout cap;
  std::intptr_t status = plat_spawnv_wait(program.c_str(), argv);
  zt::ProbeReport report = zt::parse_probe(cap.take());
  ASSERT_EQ(status, 0);
  EXPECT_EQ(report.argc, 2);
  ASSERT_EQ(report.argv.size(), 2u);
  EXPECT_EQ(report.argv[1], "from the child");
}

TEST_F(Spawn, ReturnsTheChildsExitStatus) {
  for (int s : {0, 3, 255, 300, 65535}) {
    std::string text = std::to_string(s);
    ProbeRun run = run_probe({}, text.c_str());
    EXPECT_EQ(run.status, kWideStatus ? s : s & 0xff) << "status " << s;
    EXPECT_EQ(run.report.argc, 1) << "status " << s;
  }
}

#ifndef _WIN32
TEST(SpawnLinux, ChildEndedBySignalIsNeitherSuccessNorNotStarted) {
  const char *argv[] = {"sh", "-c", "\"kill -KILL $$\"", nullptr};
  EXPECT_EQ(plat_spawnv_wait("/bin/sh", argv), 128 + 9);
}
#endif

TEST(SpawnFails, ProgramThatCannotBeStarted) {
  zt::TempDir tmp;
  std::string missing = (tmp.path() / "missing.exe").string();
  std::string text_file = tmp.file("plain.exe", "not a program\n").string();
#ifndef _WIN32
  chmod(text_file.c_str(), 0644);
#endif
  std::string dir = tmp.dir("folder.exe").string();
  for (const std::string &path : {missing, text_file, dir}) {
    std::string quoted = "\"" + path + "\"";
    const char *argv[] = {quoted.c_str(), "x", nullptr};
    EXPECT_EQ(plat_spawnv_wait(path.c_str(), argv), -1) << path;
  }
}

TEST_F(Spawn, CommandLineLengthLimit) {
  std::string program = zt::probe_program();
  std::string quoted = "\"" + program + "\"";
  // The limit counts the line's terminating NUL, as Windows counts it. The
  // line is the quoted path, one blank and the argument.
  const std::size_t longest = PLAT_MAX_COMMAND_LINE - 1;
  for (std::size_t length : {longest, longest + 1}) {
    std::string arg(length - quoted.size() - 1, 'x');
    ProbeRun run = run_probe({arg});
    if (length == longest) {
      EXPECT_EQ(run.status, 0) << "length " << length;
      ASSERT_EQ(run.report.argv.size(), 2u) << "length " << length;
      // Compared by size and as a flag: a failure must not print 32 KB.
      EXPECT_EQ(run.report.argv[1].size(), arg.size()) << "cut short";
      EXPECT_TRUE(run.report.argv[1] == arg);
    } else {
      EXPECT_EQ(run.status, -1) << "length " << length;
      EXPECT_EQ(run.report.argc, -1) << "the child ran";
    }
  }
}

TEST_F(Spawn, LimitCountsTheJoiningBlanks) {
  // Many one-character entries: the blanks alone push the line over.
  std::string program = zt::probe_program();
  std::size_t quoted = program.size() + 2;
  std::size_t fits = (PLAT_MAX_COMMAND_LINE - 1 - quoted) / 2;
  ProbeRun at_limit = run_probe(Words(fits, "y"));
  EXPECT_EQ(at_limit.status, 0);
  EXPECT_EQ(at_limit.report.argc, static_cast<int>(fits) + 1);
  EXPECT_EQ(run_probe(Words(fits + 1, "y")).status, -1);
}

}  // namespace
