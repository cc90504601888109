// The launcher as users meet it: the built program copied under tool names
// into real kit trees, run as a child process with an environment of the
// test's own making, and the probe (or this machine's Perl) standing in for
// the kit's interpreter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "probe_reader.h"
#include "test_support.h"
#include "zarn_fost_entry.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

using Words = std::vector<std::string>;
using Env = std::map<std::string, std::string>;

#ifdef _WIN32
// Programs need their extension to be started, and Windows passes a child's
// full exit status on.
const std::string kExe = ".exe";
constexpr bool kWideStatus = true;
constexpr char kOwnListSeparator = ';';
#else
const std::string kExe;
constexpr bool kWideStatus = false;
constexpr char kOwnListSeparator = ':';
#endif

// The exit status a parent sees for a status the program returned.
int seen_status(int status) { return kWideStatus ? status : status & 0xff; }

// What run_program returns when it could not run the program at all.
constexpr int kNotRun = -1000;

std::string launcher_program() {
  const char *p = std::getenv("ZARN_TEST_LAUNCHER");
  return p != nullptr ? std::string(p) : std::string();
}

std::string read_file(const fs::path &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Standard output as text: the Windows runtime ends lines with "\r\n".
std::string text_of(std::string out) {
#ifdef _WIN32
  std::string t;
  for (std::size_t i = 0; i < out.size(); ++i)
    if (!(out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n')) t += out[i];
  return t;
#else
  return out;
#endif
}

// A path from UTF-8 text. The Windows build's path type reads a plain narrow
// text byte by byte, so there it must be told that the text is UTF-8.
fs::path utf8_path(const std::string &text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string join(const Words &words, const std::string &sep) {
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i)
    out += (i ? sep : "") + words[i];
  return out;
}

// ------------------------------------------------------------ child process

// Runs program with exactly these argv words (the first is the invocation
// name), exactly this environment and cwd as its directory; its standard
// output goes to out. Returns its exit status as the parent sees it.
#ifdef _WIN32
using Process = HANDLE;
constexpr Process kNoProcess = nullptr;  // the program could not be started

Process start_program(const std::string &program, const Words &argv,
                      const Env &env, const fs::path &cwd, const fs::path &out) {
  std::string line;
  for (const std::string &w : argv) {
    char *q = zarn_fost_entry_quote_arg(w.c_str(), std::malloc);
    if (q == nullptr) return nullptr;
    line += (line.empty() ? "" : " ") + std::string(q);
    std::free(q);
  }
  std::string block;
  for (const auto &[k, v] : env) block += k + "=" + v + '\0';
  block += '\0';

  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE file = CreateFileA(out.string().c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = file;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string dir = cwd.string();
  BOOL ok = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr,
                           TRUE, 0, block.data(), dir.c_str(), &si, &pi);
  CloseHandle(file);
  if (!ok) return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

int wait_program(Process process) {
  if (process == nullptr) return kNotRun;
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return static_cast<int>(code);
}

bool has_ended(Process process) {
  return WaitForSingleObject(process, 0) != WAIT_TIMEOUT;
}

int run_program(const std::string &program, const Words &argv, const Env &env,
                const fs::path &cwd, const fs::path &out) {
  return wait_program(start_program(program, argv, env, cwd, out));
}
#else
// What a Linux run can change from a plain start.
struct StartAs {
  std::set<int> ignored;  // signals the program inherits as ignored
  int stdout_fd = -1;     // its standard output, in place of the file
  bool own_group = false; // leads a process group of its own, as a shell's job
  rlim_t max_files = 0;   // a limit on its descriptors, when not 0
};

using Process = pid_t;
constexpr Process kNoProcess = kNotRun;  // the program could not be started

// Starts the program as run_program does; kNotRun when it cannot.
pid_t start_program(const std::string &program, const Words &argv,
                    const Env &env, const fs::path &cwd, const fs::path &out,
                    const StartAs &as = {}) {
  std::vector<char *> args;
  for (const std::string &w : argv) args.push_back(const_cast<char *>(w.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> entries;
  for (const auto &[k, v] : env) entries.push_back(k + "=" + v);
  std::vector<char *> envp;
  for (std::string &e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);

  int fd = as.stdout_fd;
  if (fd < 0) fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return kNotRun;
  pid_t pid = fork();
  if (pid == 0) {
    // Dispositions as the test asks, not as the test's own runner left them.
    for (int sig = 1; sig < NSIG; ++sig)
      if (sig != SIGKILL && sig != SIGSTOP) signal(sig, SIG_DFL);
    for (int sig : as.ignored) signal(sig, SIG_IGN);
    if (dup2(fd, 1) < 0 || chdir(cwd.c_str()) != 0) _exit(126);
    if (as.own_group && setpgid(0, 0) != 0) _exit(126);
    // A child ended by SIGQUIT leaves no core file behind.
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    if (as.max_files != 0) {
      // Only the standard streams open, whatever the runner left us.
      close_range(3, ~0U, 0);
      struct rlimit files = {as.max_files, as.max_files};
      if (setrlimit(RLIMIT_NOFILE, &files) != 0) _exit(126);
    }
    execve(program.c_str(), args.data(), envp.data());
    _exit(127);
  }
  if (as.stdout_fd < 0) close(fd);
  return pid < 0 ? kNotRun : pid;
}

// Its exit status; a death by a signal shows as kNotRun - 1 - the signal.
int wait_program(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return kNotRun;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return kNotRun - 1 - (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// Whether it has ended; it is left for wait_program to collect.
bool has_ended(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
         info.si_pid == pid;
}

int run_program(const std::string &program, const Words &argv, const Env &env,
                const fs::path &cwd, const fs::path &out, const StartAs &as = {}) {
  return wait_program(start_program(program, argv, env, cwd, out, as));
}
#endif

// ---------------------------------------------------------------- kit trees

// Parts of a kit tree; a test leaves out what it wants missing.
enum KitPart : unsigned {
  kShare = 1,
  kSdkBin = 2,    // K/windows64/bin
  kHostBin = 4,   // K/host/windows64/bin
  kPerlBin = 8,   // K/host/windows64/bin/perl/bin, holding the probe
  kPerlLib = 16,  // K/host/windows64/bin/perl/lib
  kRavix = 32,    // K/windows64/lib/ravix/windows64
  kWholeKit = kShare | kSdkBin | kHostBin | kPerlBin | kPerlLib,
};

// A kit below a test folder, and the paths the launcher forms in it.
struct Kit {
  fs::path dir;
  std::string root;  // as the locator writes it

  std::string wrapper_bin() const { return root + "/bin"; }
  std::string sdk_bin() const { return root + "/windows64/bin"; }
  std::string host_bin() const { return root + "/host/windows64/bin"; }
  std::string perl_lib() const { return host_bin() + "/perl/lib"; }
  std::string perl_dir() const { return host_bin() + "/perl/bin"; }
  std::string interpreter() const { return perl_dir() + "/perl.exe"; }
  std::string ravix() const { return root + "/windows64/lib/ravix/windows64"; }
  std::string script(const std::string &tool) const {
    return root + "/share/lib/perl/zarn/" + tool + ".pl";
  }
};

void copy_program(const fs::path &from, const fs::path &to) {
  fs::create_directories(to.parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_all, fs::perm_options::add);
}

Kit make_kit(const fs::path &dir, unsigned parts = kWholeKit) {
  Kit kit{dir, zt::TempDir::located(dir.string())};
  fs::create_directories(dir);
  if (parts & kShare) fs::create_directories(dir / "share/lib/perl/zarn");
  if (parts & kSdkBin) fs::create_directories(dir / "windows64/bin");
  if (parts & kHostBin) fs::create_directories(dir / "host/windows64/bin");
  if (parts & kPerlBin)
    copy_program(zt::probe_program(),
                 dir / "host/windows64/bin/perl/bin/perl.exe");
  if (parts & kPerlLib)
    fs::create_directories(dir / "host/windows64/bin/perl/lib");
  if (parts & kRavix)
    fs::create_directories(dir / "windows64/lib/ravix/windows64");
  return kit;
}

// Installs the launcher as dir/name and returns the program's path, written
// with the platform's own separator as a user would type it.
fs::path install(const fs::path &dir, const std::string &name) {
  fs::path to = dir / name;
  copy_program(launcher_program(), to);
  return to.make_preferred();
}

// ------------------------------------------------------------------ outcome

struct Outcome {
  int status = -1;
  std::string out;         // the launcher's standard output
  zt::ProbeReport child;   // argc -1 when no child reported to the file
};

// Compares the child's environment with what it should be: on Linux the
// whole of it; on Windows the runtime adds entries of its own, so there
// only the keys that the test gave or that the launcher sets.
void expect_child_env(const std::map<std::string, std::string> &got,
                      const Env &expected) {
#ifdef _WIN32
  Words keys = {"PATH",         "LD_LIBRARY_PATH",       "PERL5LIB",
                "PERL_BADLANG", "NORVEXCALVETTASDKROOT", "ORVANE_ROOTDIR",
                "ORVANE_64BIT"};
  for (const auto &kv : expected) keys.push_back(kv.first);
  for (const std::string &k : keys) {
    auto g = got.find(k);
    auto e = expected.find(k);
    if (e == expected.end())
      EXPECT_TRUE(g == got.end()) << k << " should be unset, is " << g->second;
    else if (g == got.end())
      ADD_FAILURE() << k << " should be " << e->second << ", is unset";
    else
      EXPECT_EQ(g->second, e->second) << "key " << k;
  }
#else
  EXPECT_EQ(got, expected);
#endif
}

// The design suite's directories as the child's PATH lists them.
struct Suite {
  std::string root;
  std::string bin;  // the program directory
  bool java = true, tesk = true;
  Words path_head() const {
    Words w = {root + "/../plyx/bin"};
    if (tesk) w.push_back(root + "/tesk_builder/bin");
    if (java) w.push_back(root + "/bin64/jre64/bin");
    return w;
  }
};

// Lays out a design-suite root with its Java and Tesk Builder directories.
void make_suite(const fs::path &root) {
  fs::create_directories(root / "bin64/jre64/bin");
  fs::create_directories(root / "tesk_builder/bin");
}

// ------------------------------------------------------------------ fixture

class E2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(launcher_program().empty()) << "ZARN_TEST_LAUNCHER not set";
    ASSERT_FALSE(zt::probe_program().empty()) << "ZARN_TEST_PROBE not set";
    report_ = tmp_.path() / "report.txt";
    env_ = base_env();
  }

  // What every run starts from: PATH, the probe's report file and, on
  // Windows, what its runtime and the command interpreter of the trace
  // banner need.
  Env base_env() const {
    Env env;
#ifdef _WIN32
    for (const char *key : {"SystemRoot", "ComSpec"})
      if (const char *v = std::getenv(key)) env[key] = v;
    env["PATH"] = env.count("SystemRoot") ? env["SystemRoot"] + "\\system32"
                                          : std::string("C:\\windows\\system32");
#else
    env["PATH"] = (tmp_.path() / "nowhere").string();
#endif
    env["ZARN_PROBE_OUT"] = report_.string();
    return env;
  }

  // Runs the program with args after the invocation name (the program's
  // path unless given) in env_.
  Outcome launch(const fs::path &program, const Words &args,
                 const std::string &invocation = "") {
    Words argv = {invocation.empty() ? program.string() : invocation};
    argv.insert(argv.end(), args.begin(), args.end());
    std::error_code ec;
    fs::remove(report_, ec);
    fs::path out = tmp_.path() / "stdout.txt";
    Outcome o;
#ifdef _WIN32
    o.status = run_program(program.string(), argv, env_, tmp_.path(), out);
#else
    o.status = run_program(program.string(), argv, env_, tmp_.path(), out, as_);
#endif
    o.out = text_of(read_file(out));
    o.child = zt::read_probe(report_.string());
    return o;
  }

  // The child's environment after a run that set only these keys.
  Env env_with(const Env &changes) const {
    Env e = env_;
    for (const auto &[k, v] : changes) e[k] = v;
    return e;
  }

  // PATH as the launcher leaves it: dirs in front of what it inherited.
  std::string path_with(const Words &dirs) const {
    auto p = env_.find("PATH");
    if (p == env_.end()) return join(dirs, ";");
    return join(dirs, ";") + ";" + p->second;
  }

  // What the kit's own run sets, with dirs (front first) prepended to PATH.
  Env kit_env(const Kit &kit, const Words &dirs) const {
    return env_with({{"PATH", path_with(dirs)},
                     {"NORVEXCALVETTASDKROOT", kit.root},
                     {"PERL_BADLANG", "0"},
                     {"PERL5LIB", kit.perl_lib()}});
  }

  static Words kit_dirs(const Kit &kit) {
    return {kit.wrapper_bin(), kit.host_bin(), kit.sdk_bin()};
  }

  zt::TempDir tmp_;
  fs::path report_;
  Env env_;
#ifndef _WIN32
  StartAs as_;
#endif
};

// ------------------------------------------------------------- the road

struct RoadCase {
  const char *where;      // directory of the installed launcher below K
  std::string file;       // its file name
  const char *invoked;    // the invocation name, or "" for the path
  Words args;
  const char *tool;       // the tool name that picks the script
};

TEST_F(E2E, RoadOfOneRun) {
  const RoadCase cases[] = {
      {"bin", "tool" + kExe, "", {}, "tool"},
      {"bin", "tool" + kExe, "", {"a", "--standalone", "-v", "a"}, "tool"},
      {"", "Tool" + kExe, "", {"x"}, "tool"},
      {"a/b/c/d/e", "tool" + kExe, "", {"five", "levels"}, "tool"},
      {"bin", "TOOL.EXE", "", {"y"}, "tool"},
      {"bin", "Compile" + kExe, "", {"-o", "out"}, "compile"},
      // Found on PATH under its name with ".exe" added.
      {"bin", "tool.exe", "tool", {"by", "name"}, "tool"},
      // The kit root's bin is listed whether or not it exists.
      {"tools/x", "tool" + kExe, "", {}, "tool"},
  };
  int row = 0;
  for (const RoadCase &c : cases) {
    SCOPED_TRACE(c.file + " in '" + c.where + "', invoked as '" + c.invoked + "'");
    Kit kit = make_kit(tmp_.path() / ("kit" + std::to_string(row++)));
    fs::path program = install(kit.dir / c.where, c.file);
    Env saved = env_;
    if (*c.invoked != '\0') env_["PATH"] = kit.wrapper_bin() + ";" + env_["PATH"];

    Outcome o = launch(program, c.args, c.invoked);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
    Words argv = {kit.interpreter(), kit.script(c.tool)};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(o.child.argv, argv);
    EXPECT_EQ(o.child.argc, static_cast<int>(argv.size()));
    expect_child_env(o.child.env, kit_env(kit, kit_dirs(kit)));
    env_ = saved;
  }
}

TEST_F(E2E, UnsetPathEndsWithTheFirstDirectoryPrepended) {
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool" + kExe);
  env_.erase("PATH");
  Outcome o = launch(program, {});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.child.env["PATH"], join(kit_dirs(kit), ";"));
}

// ------------------------------------------------------------- exit status

TEST_F(E2E, ExitStatus) {
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool" + kExe);
  fs::path upper = install(kit.dir / "bin", "NX++.EXE");
  const std::string missing = (tmp_.path() / "no" / "perl.exe").string();
  struct Case {
    fs::path program;
    Words args;
    const char *child_status;  // ZARN_PROBE_STATUS, or null
    int status;                // as the launcher returns it
    std::string out;
    bool child_ran;
  } cases[] = {
      {program, {}, "0", 0, "", true},
      {program, {"x"}, "7", 7, "", true},
      {program, {}, "255", 255, "", true},
      {program, {}, "300", 300, "", true},
      // An interpreter that cannot be started: -1 and no message.
      {program, {"--perl", missing, "x"}, nullptr, -1, "", false},
      {program, {"--perl"}, nullptr, 3,
       "tool: Option --perl requires an argument.\n", false},
      {program, {"--perl", kit.interpreter(), "--perl"}, nullptr, 3,
       "tool: Option --perl requires an argument.\n", false},
      {upper, {"--perl"}, nullptr, 3,
       "nx++: Option --perl requires an argument.\n", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.program.filename().string() + " " + join(c.args, " ") +
                 ", child status " + (c.child_status ? c.child_status : "-"));
    if (c.child_status)
      env_["ZARN_PROBE_STATUS"] = c.child_status;
    else
      env_.erase("ZARN_PROBE_STATUS");
    Outcome o = launch(c.program, c.args);
    EXPECT_EQ(o.status, seen_status(c.status));
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.child.argc != -1, c.child_ran);
  }
}

// A variable's value on Windows holds at most 32,766 characters. The run
// whose PATH the kit's directories would make longer ends with status 4,
// where the runtime would hand the child something else in its place.
TEST_F(E2E, PathLongerThanWindowsHoldsEndsWithStatusFour) {
#ifndef _WIN32
  GTEST_SKIP() << "only Windows limits the length of a variable's value";
#endif
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool" + kExe);
  const std::string system_path = env_["PATH"];
  const std::size_t kit_part = path_with(kit_dirs(kit)).size() - system_path.size();
  const std::size_t longest = PLAT_MAX_ENV_VALUE - 1;
  for (std::size_t length : {longest, longest + 1}) {
    SCOPED_TRACE("PATH of " + std::to_string(length) + " characters");
    // The inherited part: the system's directories and one long component
    // (too long for the locator to look into).
    env_["PATH"] = system_path + ";" +
                   std::string(length - kit_part - system_path.size() - 1, 'p');
    const std::string want = path_with(kit_dirs(kit));
    ASSERT_EQ(want.size(), length);
    Outcome o = launch(program, {"x"});
    if (length == longest) {
      EXPECT_EQ(o.status, 0);
      EXPECT_EQ(o.out, "");
      EXPECT_EQ(o.child.env["PATH"].size(), length);
      EXPECT_TRUE(o.child.env["PATH"] == want) << "not the value the launcher set";
    } else {
      EXPECT_EQ(o.status, 4);
      EXPECT_EQ(o.out, "Failed l_prepend_path( \"PATH\", wrapper_bin )\n"
                       "tool: Could not set environment for SDK\n");
      EXPECT_EQ(o.child.argc, -1) << "the child ran";
    }
  }
}

TEST_F(E2E, ScriptPathOfAtMost4095Characters) {
  if (!zt::long_paths(tmp_))
    GTEST_SKIP() << "this runtime cannot form paths of 4095 characters";
  // K/share/lib/perl/zarn/<tool>.pl: a deep kit root and a long tool name.
  const std::size_t tool_len = 200;
  const std::size_t fixed = std::string("/share/lib/perl/zarn/.pl").size();
  const std::size_t root_len = 4095 - fixed - tool_len;
  Kit kit = make_kit(tmp_.path() / zt::deep_rel(tmp_.str().size(), root_len));
  ASSERT_EQ(kit.root.size(), root_len);
  for (std::size_t extra : {0, 1}) {
    std::string tool(tool_len + extra, 't');
    SCOPED_TRACE("script path of " + std::to_string(4095 + extra));
    fs::path program = install(kit.dir / "bin", tool + kExe);
    Outcome o = launch(program, {"arg"});
    if (extra == 0) {
      EXPECT_EQ(o.status, 0);
      EXPECT_EQ(o.out, "");
      ASSERT_EQ(o.child.argv.size(), 3u);
      EXPECT_EQ(o.child.argv[1].size(), 4095u);
      EXPECT_TRUE(o.child.argv[1] == kit.script(tool));
    } else {
      EXPECT_EQ(o.status, 2);
      EXPECT_TRUE(o.out == tool + ": Could not launch internal command: "
                                  "The path to " + kit.root + " is too long.\n")
          << "got " << o.out.size() << " characters: " << o.out.substr(0, 120);
      EXPECT_EQ(o.child.argc, -1);
    }
  }
}

// ------------------------------------------------------------ fatal report

constexpr const char *kRuntime = "Norvex(R) Calvetta Runtime Environment";
constexpr const char *kSdk = "Norvex(R) Calvetta SDK";
constexpr const char *kHls = "Norvex(R) HLS Compiler";

std::string report(const std::string &tool, const std::string &title,
                   const Words &details) {
  std::string r = tool + ": Unable to determine the execution environment of the " +
                  title + ".\n";
  for (const std::string &d : details) r += tool + ":     Detailed error: " + d + "\n";
  return r;
}

// The two texts of each missing kit directory, innermost first.
Words missing_sdk_bin(const Kit &k) {
  return {"Could not find SDK internal executables directory " + k.sdk_bin(),
          "Could not determine the path to SDK internal executables"};
}
Words missing_host_bin(const Kit &k) {
  return {"Could not find SDK internal runtime executables directory " + k.host_bin(),
          "Could not determine the path to SDK or RTE internal executables"};
}
Words missing_perl_dir(const Kit &k) {
  return {"Could not find SDK internal Perl runtime executable directory directory " +
              k.perl_dir(),
          "Could not determine the path to SDK internal Perl executable"};
}
Words missing_perl_lib(const Kit &k) {
  return {"Could not find SDK internal Perl full library directory " + k.perl_lib(),
          "Could not determine the path to SDK full Perl libraries"};
}
Words missing_share(const Kit &) {
  return {"Could not find root directory for the SDK:  could not find the 'share' directory"};
}

TEST_F(E2E, FatalReport) {
  const std::string long_perl(5000, 'p');
  struct Case {
    unsigned parts;
    const char *where;
    std::string file;
    Words args;
    const char *tool;  // as the report names it
    const char *title;
    std::function<Words(const Kit &)> details;
  };
  const unsigned no_bin = kWholeKit & ~kSdkBin;
  const Case cases[] = {
      {no_bin, "bin", "tool" + kExe, {}, "tool", kRuntime, missing_sdk_bin},
      {no_bin, "bin", "nx++" + kExe, {}, "nx++", kHls, missing_sdk_bin},
      {no_bin, "bin", "NX++.EXE", {"x"}, "nx++", kHls, missing_sdk_bin},
      {no_bin, "bin", "nx++.Exe", {}, "nx++.exe", kRuntime, missing_sdk_bin},
      {kWholeKit & ~(kHostBin | kPerlBin | kPerlLib), "bin", "tool" + kExe, {},
       "tool", kSdk, missing_host_bin},
      {kWholeKit & ~kPerlBin, "bin", "tool" + kExe, {}, "tool", kSdk, missing_perl_dir},
      {kWholeKit & ~kPerlLib, "bin", "Tool" + kExe, {}, "tool", kSdk, missing_perl_lib},
      // Without the internal executables the product is the runtime, also
      // for the one tool that does not need them.
      {no_bin & ~kPerlLib, "bin", "kelmo" + kExe, {}, "kelmo", kRuntime, missing_perl_lib},
      // share six levels above the launcher is out of reach.
      {kWholeKit, "a/b/c/d/e/f", "tool" + kExe, {}, "tool", kRuntime, missing_share},
      {kWholeKit, "a/b/c/d/e/f", "nx++" + kExe, {}, "nx++", kHls, missing_share},
      // A --perl value too long to be made absolute: the message is formed
      // in a buffer of 4096 bytes and cut to fit.
      {kWholeKit, "bin", "tool" + kExe, {"--perl", long_perl}, "tool", kSdk,
       [&](const Kit &) -> Words {
         return {("Can't find the specified Perl executable: " + long_perl).substr(0, 4095)};
       }},
  };
  int row = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE("row " + std::to_string(row) + ": " + c.file + " in " + c.where);
    Kit kit = make_kit(tmp_.path() / ("kit" + std::to_string(row++)), c.parts);
    fs::path program = install(kit.dir / c.where, c.file);
    Outcome o = launch(program, c.args);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, report(c.tool, c.title, c.details(kit)));
    EXPECT_EQ(o.child.argc, -1) << "the child ran";
  }
}

TEST_F(E2E, KelmoRunsWithoutInternalExecutables) {
  Kit kit = make_kit(tmp_.path() / "kit", kWholeKit & ~kSdkBin);
  fs::path program = install(kit.dir / "bin", "kelmo" + kExe);
  env_["ZARN_PROBE_STATUS"] = "5";
  Outcome o = launch(program, {"a"});
  EXPECT_EQ(o.status, 5);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.child.argv, (Words{kit.interpreter(), kit.script("kelmo"), "a"}));
  expect_child_env(o.child.env,
                   kit_env(kit, {kit.wrapper_bin(), kit.host_bin()}));
}

// ------------------------------------------------------------- option scan

TEST_F(E2E, LeadingOptions) {
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool" + kExe);
  fs::path alt = tmp_.path() / "alt" / ("perl2" + kExe);
  copy_program(zt::probe_program(), alt);
  const std::string alt_rel = "alt/perl2" + kExe;  // against the cwd
  const std::string alt_abs = zt::TempDir::located(alt.string());
  const std::string script = kit.script("tool");
  struct Case {
    Words args;
    std::string perl;  // the interpreter that ran
    Words passed;
  } cases[] = {
      {{"--perl", "nowhere", "--perl", alt.string()}, alt_abs, {}},
      {{"--perl", alt_rel, "x"}, alt_abs, {"x"}},
      {{"--standalone", "--perl", alt.string(), "a"}, alt_abs, {"--standalone", "a"}},
      {{"--standalone"}, kit.interpreter(), {"--standalone"}},
      {{"b", "--perl", alt_rel}, kit.interpreter(), {"b", "--perl", alt_rel}},
      {{"b", "--standalone"}, kit.interpreter(), {"b", "--standalone"}},
      {{"--perl=" + alt_rel, "c"}, kit.interpreter(), {"--perl=" + alt_rel, "c"}},
      {{"--PERL", alt_rel}, kit.interpreter(), {"--PERL", alt_rel}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(join(c.args, " "));
    Outcome o = launch(program, c.args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
    Words argv = {c.perl, script};
    argv.insert(argv.end(), c.passed.begin(), c.passed.end());
    EXPECT_EQ(o.child.argv, argv);
  }
}

TEST_F(E2E, WordsThatSteerTheChildsEnvironment) {
  Kit kit = make_kit(tmp_.path() / "kit", kWholeKit | kRavix);
  fs::path program = install(kit.dir / "bin", "tool" + kExe);
  make_suite(tmp_.path() / "suite");
  Suite suite{zt::TempDir::located((tmp_.path() / "suite").string()), ""};
  suite.bin = suite.root + "/bin64";
  env_["ORVANE_ROOTDIR_OVERRIDE"] = (tmp_.path() / "suite").string();
  env_["LD_LIBRARY_PATH"] = "inherited";

  struct Case {
    Words args;
    bool ravix;
    bool suite_bin;
  } cases[] = {
      {{}, true, true},
      {{"-fast-emulator"}, false, false},
      {{"-fast-emulator", "--source", "ocl"}, false, false},
      {{"--fast-emulator"}, true, true},
      {{"-fast-emulator=1"}, true, true},
      {{"-sycl"}, true, false},
      {{"-sycl", "-simulator"}, true, true},
      {{"-hardware", "-sycl"}, true, true},
      {{"-SYCL"}, true, true},
      {{"--source", "ocl"}, true, false},
      {{"--source", "OCL"}, true, true},
      {{"--source", "oclx"}, true, true},
      {{"--source", "x", "ocl"}, true, true},
      {{"ocl", "--source"}, true, true},
      {{"-createlibobjectforsycl", "lib.cl"}, true, false},
      {{"kernels/a", "-createlibobjectforsycl"}, true, false},
      {{"-createlibobjectforsycl", ".cl"}, true, true},
      {{"-createlibobjectforsycl", "./a.cl", "-o"}, true, true},
      {{"lib.cl"}, true, true},
      {{"--standalone", "-sycl"}, true, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(join(c.args, " "));
    Outcome o = launch(program, c.args);
    EXPECT_EQ(o.status, 0);
    Words argv = {kit.interpreter(), kit.script("tool")};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(o.child.argv, argv);

    Words dirs = kit_dirs(kit);
    for (const std::string &d : suite.path_head()) dirs.push_back(d);
    if (c.suite_bin) dirs.push_back(suite.bin);
    if (c.ravix) dirs.push_back(kit.ravix());
    Env want = kit_env(kit, dirs);
    want["ORVANE_ROOTDIR"] = suite.root;
    if (c.suite_bin) {
      want["LD_LIBRARY_PATH"] = suite.bin + ";inherited";
      want["ORVANE_64BIT"] = "1";
    }
    expect_child_env(o.child.env, want);
  }
}

// ------------------------------------------------- the child's environment

TEST_F(E2E, DesignSuiteFoundEachWay) {
  struct Case {
    const char *name;
    // Lays out the row's tree below dir and sets env_; returns the suite.
    std::optional<Suite> (*prepare)(const fs::path &dir, Env &env);
  } cases[] = {
      {"ORVANE_ROOTDIR_OVERRIDE, written with '\\' and a trailing one",
       [](const fs::path &dir, Env &env) -> std::optional<Suite> {
         make_suite(dir / "suite");
         make_suite(dir / "orvane");  // near the launcher, and loses
         std::string v = zt::TempDir::located((dir / "suite").string());
         // The first character stays: it is the root on Linux.
         for (std::size_t i = 1; i < v.size(); ++i)
           if (v[i] == '/') v[i] = '\\';
         env["ORVANE_ROOTDIR_OVERRIDE"] = v + "\\";
         std::string root = zt::TempDir::located((dir / "suite").string());
         return Suite{root, root + "/bin64"};
       }},
      {"a directory orvane near the launcher",
       [](const fs::path &dir, Env &env) -> std::optional<Suite> {
         make_suite(dir / "orvane");
         make_suite(dir / "other");
         env["ORVANE_ROOTDIR"] = (dir / "other").string();  // loses
         std::string root = zt::TempDir::located((dir / "orvane").string());
         return Suite{root, root + "/bin64"};
       }},
      {"ORVANE_ROOTDIR with a trailing separator",
       [](const fs::path &dir, Env &env) -> std::optional<Suite> {
         make_suite(dir / "suite");
         env["ORVANE_ROOTDIR"] = (dir / "suite").string() + "/";
         std::string root = zt::TempDir::located((dir / "suite").string());
         return Suite{root, root + "/bin64"};
       }},
      {"orvane_sh on PATH",
       [](const fs::path &dir, Env &env) -> std::optional<Suite> {
         fs::path root = dir / "inst" / "orvane";
         make_suite(root);
         copy_program(zt::probe_program(), root / "bin64" / ("orvane_sh" + kExe));
         env["PATH"] = (root / "bin64").string() + ";" + env["PATH"];
         std::string r = zt::TempDir::located(root.string());
         return Suite{r, r + "/bin64"};
       }},
      {"ORVANE_BINDIR names the program directory; no Java, no Tesk Builder",
       [](const fs::path &dir, Env &env) -> std::optional<Suite> {
         fs::create_directories(dir / "bare");
         fs::create_directories(dir / "progs");
         env["ORVANE_ROOTDIR"] = (dir / "bare").string();
         env["ORVANE_BINDIR"] = (dir / "progs").string();
         Suite s{zt::TempDir::located((dir / "bare").string()),
                 zt::TempDir::located((dir / "progs").string())};
         s.java = s.tesk = false;
         return s;
       }},
      {"none: what names no directory is passed over",
       [](const fs::path &dir, Env &env) -> std::optional<Suite> {
         env["ORVANE_ROOTDIR"] = (dir / "missing").string();
         env["ORVANE_ROOTDIR_OVERRIDE"] = "";
         env["ORVANE_64BIT"] = "inherited";
         return std::nullopt;
       }},
  };
  int row = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::path dir = tmp_.path() / ("row" + std::to_string(row++));
    Kit kit = make_kit(dir / "kit", kWholeKit | kRavix);
    fs::path program = install(kit.dir / "bin", "tool" + kExe);
    Env saved = env_;
    std::optional<Suite> suite = c.prepare(dir, env_);

    Outcome o = launch(program, {"x"});
    EXPECT_EQ(o.status, 0);
    Words dirs = kit_dirs(kit);
    Env want;
    if (suite) {
      for (const std::string &d : suite->path_head()) dirs.push_back(d);
      dirs.push_back(suite->bin);
      dirs.push_back(kit.ravix());
      want = kit_env(kit, dirs);
      want["ORVANE_ROOTDIR"] = suite->root;
      want["LD_LIBRARY_PATH"] = suite->bin;
      want["ORVANE_64BIT"] = "1";
    } else {
      dirs.push_back(kit.ravix());
      want = kit_env(kit, dirs);
    }
    expect_child_env(o.child.env, want);
    env_ = saved;
  }
}

TEST_F(E2E, PerlLibrary) {
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool" + kExe);
  struct Case {
    bool perl_option;
    std::optional<std::string> inherited;
    std::optional<std::string> child;
  } cases[] = {
      {false, std::nullopt, kit.perl_lib()},
      {false, "old;older", kit.perl_lib() + ";old;older"},
      // With --perl the kit's library is not looked up: an empty entry in
      // front, and an unset key stays unset.
      {true, "old", ";old"},
      {true, std::nullopt, std::nullopt},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.perl_option ? "--perl, " : "") + "PERL5LIB " +
                 (c.inherited ? "'" + *c.inherited + "'" : "unset"));
    if (c.inherited)
      env_["PERL5LIB"] = *c.inherited;
    else
      env_.erase("PERL5LIB");
    Words args;
    if (c.perl_option) args = {"--perl", kit.interpreter()};
    Outcome o = launch(program, args);
    EXPECT_EQ(o.status, 0);
    auto got = o.child.env.find("PERL5LIB");
    if (c.child) {
      ASSERT_TRUE(got != o.child.env.end());
      EXPECT_EQ(got->second, *c.child);
    } else {
      EXPECT_TRUE(got == o.child.env.end()) << "PERL5LIB is " << got->second;
    }
  }
}

// ---------------------------------------------------------------- trace mode

// A line of the locator's own trace.
bool locator_line(const std::string &line) {
  for (const char *prefix : {"finding: ", "found ", "resolved", " PATH is ",
                             " component ", " looking at "})
    if (line.rfind(prefix, 0) == 0) return true;
  return false;
}

// The launcher's output less the locator's lines, each probe report (the
// banner's or the child's, when the probe writes to standard output)
// standing as one line "<probe FIRST-ARGUMENT>"; the reports themselves go
// to reports, when given.
Words launcher_lines(const std::string &out,
                     std::vector<zt::ProbeReport> *reports = nullptr) {
  Words lines;
  std::istringstream in(out);
  std::string line;
  bool in_report = false;
  std::string report;
  auto close_report = [&] {
    if (!in_report) return;
    zt::ProbeReport r = zt::parse_probe(report);
    lines.push_back("<probe " + (r.argv.size() > 1 ? r.argv[1] : "") + ">");
    if (reports != nullptr) reports->push_back(r);
    in_report = false;
    report.clear();
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("argc ", 0) == 0) {
      close_report();
      in_report = true;
    } else if (in_report && (line.rfind("argv ", 0) == 0 || line.rfind("env ", 0) == 0 ||
                             line.rfind("ignored ", 0) == 0)) {
    } else {
      close_report();
    }
    if (in_report) {
      report += line + "\n";
      continue;
    }
    if (!locator_line(line)) lines.push_back(line);
  }
  close_report();
  return lines;
}

// The kinds of the locator's entry lines ("finding: KIND ADDRESS"), nested
// queries included, in the order the run asked them.
Words queries_asked(const std::string &out) {
  Words kinds;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    Words w{std::istream_iterator<std::string>(words),
            std::istream_iterator<std::string>()};
    if (w.size() == 3 && w[0] == "finding:") kinds.push_back(w[1]);
  }
  return kinds;
}

TEST_F(E2E, TraceMode) {
  fs::path alt = tmp_.path() / "alt" / ("perl2" + kExe);
  copy_program(zt::probe_program(), alt);
  const std::string alt_given = alt.string();
  const std::string alt_rel = "alt/perl2" + kExe;
  const std::string alt_abs = zt::TempDir::located(alt_given);
  struct Case {
    const char *name;
    unsigned parts;
    const char *tool;
    Words args;
    // The child's report is left out: the launcher's last lines may still
    // sit in its buffer while the child writes.
    std::function<Words(const Kit &)> expected;
  } cases[] = {
      {"an ordinary tool", kWholeKit, "tool", {"a b"},
       [&](const Kit &k) -> Words {
         return {"Require HLD compiler? 1",
                 "Require Orvane? 0",
                 "script is " + k.script("tool"),
                 "Prepend PATH with " + k.sdk_bin(),
                 "Prepend PATH with " + k.host_bin(),
                 "Prepend PATH with " + k.wrapper_bin(),
                 "Prepend PERL5LIB with " + k.perl_lib(),
                 "<probe -v>",
                 "[0] " + k.interpreter(),
                 "[1] " + k.script("tool"),
                 "[2] a b",
                 "[0] \"" + k.interpreter() + "\"",
                 "[1] \"" + k.script("tool") + "\"",
                 "[2] \"a b\""};
       }},
      {"no arguments, the interpreter named by --perl", kWholeKit, "tool",
       {"--perl", alt_given},
       [&](const Kit &k) -> Words {
         return {"Perl is '" + alt_given + "'",
                 "Require HLD compiler? 1",
                 "Require Orvane? 0",
                 "script is " + k.script("tool"),
                 "Prepend PATH with " + k.sdk_bin(),
                 "Prepend PATH with " + k.host_bin(),
                 "Prepend PATH with " + k.wrapper_bin(),
                 "Prepend PERL5LIB with ",
                 "<probe -v>",
                 "[0] " + alt_abs,
                 "[1] " + k.script("tool"),
                 "[0] \"" + alt_abs + "\"",
                 "[1] \"" + k.script("tool") + "\""};
       }},
      {"kelmo: no banner, no plain listing", kWholeKit & ~kSdkBin, "kelmo",
       {"--perl", alt_rel, "x"},
       [&](const Kit &k) -> Words {
         return {"Perl is '" + alt_rel + "'",
                 "Require HLD compiler? 0",
                 "Require Orvane? 0",
                 "script is " + k.script("kelmo"),
                 "Prepend PATH with " + k.host_bin(),
                 "Prepend PATH with " + k.wrapper_bin(),
                 "Prepend PERL5LIB with ",
                 "[0] \"" + alt_abs + "\"",
                 "[1] \"" + k.script("kelmo") + "\"",
                 "[2] \"x\""};
       }},
  };
  env_["KELMO_ENTRY_DEBUG"] = "0";  // its presence is what counts
  env_.erase("ZARN_PROBE_OUT");     // the probe reports on standard output
  int row = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Kit kit = make_kit(tmp_.path() / ("kit" + std::to_string(row++)), c.parts);
    fs::path program = install(kit.dir / "bin", c.tool + kExe);
    Outcome o = launch(program, c.args);
    EXPECT_EQ(o.status, 0);
    Words lines = launcher_lines(o.out);
    const std::string child = "<probe " + kit.script(c.tool) + ">";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), child), 1);
    lines.erase(std::remove(lines.begin(), lines.end(), child), lines.end());
    EXPECT_EQ(lines, c.expected(kit));

    // The locator traces too, and shows which queries ran in which order.
    Words kinds = {"SELF", "SDK", "SDK_BIN", "SDK", "SDK_HOST_BIN", "SDK"};
    if (std::string(c.tool) != "kelmo") kinds.insert(kinds.end(), {"SDK_BIN", "SDK"});
    kinds.insert(kinds.end(),
                 {"ORVANE", "ORVANE_BINDIR", "ORVANE", "TESK_BUILDER", "ORVANE",
                  "PLYX_BIN", "ORVANE", "ORVANE_RAVIX_BACKEND_DIR", "SDK",
                  "ORVANE_JAVA", "ORVANE"});
    if (c.args.empty() || c.args[0] != "--perl")
      kinds.insert(kinds.end(), {"SDK_PERL", "SDK", "SDK_PERL_LIB", "SDK"});
    EXPECT_EQ(queries_asked(o.out), kinds);
  }
}

// The banner's interpreter starts as the child does, with no command
// interpreter in between to read the blanks, quotes, '&' or ';' of a kit's
// path, or to run what follows them.
TEST_F(E2E, BannerRunsTheInterpreterAloneWhateverItsPath) {
  struct Case {
    std::string folder;
    bool words_kept;  // whether the line can carry the paths' words intact
  };
  // A command, built into cmd or the shell, that would make PWNED: the
  // child's PATH has no mkdir on Linux, and Windows allows no '>' in a name.
#ifdef _WIN32
  const std::string pwn = "mkdir PWNED";
#else
  const std::string pwn = "echo INJECTED>PWNED";
#endif
  std::vector<Case> cases = {{"my kit", true},
                             {"kc;" + pwn + ";x", true},
                             {"a&" + pwn + "&b", true},
                             {"it's", true}};
#ifndef _WIN32
  // Windows allows no quote in a file name, and its rule for the program
  // name on a command line has no escape for one: the words split from the
  // line differ from the entries, but still nothing but the interpreter runs.
  cases.push_back({"q\";" + pwn + ";\"q", false});
  // An interpreter path far longer than any command buffer: the banner
  // still shows (the runtime under Wine stops at 259 characters).
  cases.push_back({std::string(250, 'l') + "/" + std::string(250, 'l'), true});
#endif
  env_["KELMO_ENTRY_DEBUG"] = "1";
  env_.erase("ZARN_PROBE_OUT");  // both runs report on standard output
  const Words args = {"a b", "x\"y", "&"};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.folder);
    Kit kit = make_kit(tmp_.path() / c.folder / "kit");
    fs::path program = install(kit.dir / "bin", "tool" + kExe);
    Outcome o = launch(program, args);
    EXPECT_EQ(o.status, 0);
    std::vector<zt::ProbeReport> reports;
    launcher_lines(o.out, &reports);
    std::error_code ec;
    EXPECT_FALSE(fs::remove(tmp_.path() / "PWNED", ec)) << "a second command ran";
    EXPECT_EQ(reports.size(), 2u) << "the banner and the child, nothing else";
    if (reports.size() != 2 || !c.words_kept) continue;
    EXPECT_EQ(reports[0].argv, (Words{kit.interpreter(), "-v"}));
    Words argv = {kit.interpreter(), kit.script("tool")};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(reports[1].argv, argv);
  }
}

// ------------------------------------------------------------- interrupts

// An interrupt as a terminal sends it: to every process of the foreground
// group on Linux, to every process of the console on Windows (the test
// itself among them, which ignores it there).
#ifdef _WIN32
struct Interrupt {
  const char *name;
  DWORD event;
};
// Wine sends no Ctrl-Break to a whole console.
const Interrupt kInterrupts[] = {{"Ctrl-C", CTRL_C_EVENT}};

void send_interrupt(Process, const Interrupt &i) {
  GenerateConsoleCtrlEvent(i.event, 0);
}

BOOL WINAPI test_ignores_interrupts(DWORD) { return TRUE; }

// Under Wine a console exists only when a terminal is attached.
bool have_console() {
  HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  CloseHandle(in);
  return true;
}
#else
struct Interrupt {
  const char *name;
  int sig;
};
const Interrupt kInterrupts[] = {{"SIGINT", SIGINT}, {"SIGQUIT", SIGQUIT}};

void send_interrupt(Process group, const Interrupt &i) { kill(-group, i.sig); }
#endif

// Polls until done() holds, for at most ms milliseconds.
bool comes_true(const std::function<bool()> &done, int ms) {
  for (int waited = 0;; waited += 10) {
    if (done()) return true;
    if (waited >= ms) return false;
#ifdef _WIN32
    Sleep(10);
#else
    usleep(10000);
#endif
  }
}

// Ctrl-C (or Ctrl-\) at a terminal reaches the launcher and its child
// together. The launcher leaves it to the child and waits, also for the
// banner's run: a tool that cleans up first has its status passed on once it
// is done; one that keeps the default ends, and its end is the launcher's
// status.
TEST_F(E2E, InterruptIsLeftToTheChild) {
#ifdef _WIN32
  if (!have_console()) {
    // The run that is given a terminal must not pass without one.
    ASSERT_EQ(std::getenv("ZARN_TEST_CONSOLE"), nullptr) << "no console";
    GTEST_SKIP() << "no console to interrupt (under Wine only a terminal gives one)";
  }
  ASSERT_TRUE(SetConsoleCtrlHandler(test_ignores_interrupts, TRUE));
  struct Restore {
    ~Restore() { SetConsoleCtrlHandler(test_ignores_interrupts, FALSE); }
  } restore;
#else
  as_.own_group = true;
#endif
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool" + kExe);
  const fs::path ready = tmp_.path() / "ready";
  const fs::path cleaned = tmp_.path() / "cleaned";
  const fs::path out = tmp_.path() / "stdout.txt";
  env_["ZARN_PROBE_READY"] = ready.string();
  env_["ZARN_PROBE_CLEANED"] = cleaned.string();
  env_["ZARN_PROBE_STATUS"] = "5";

  // Starts prog, interrupts it each time a child of its (the banner's run,
  // then the tool) is ready, and returns its status and whether the last
  // child's clean-up had ended by then.
  auto interrupted = [&](const fs::path &prog, const Interrupt &interrupt,
                         int children) -> std::pair<int, bool> {
    std::error_code ec;
    fs::remove(cleaned, ec);
    fs::remove(ready, ec);
#ifdef _WIN32
    Process p = start_program(prog.string(), {prog.string(), "x"}, env_,
                              tmp_.path(), out);
#else
    Process p = start_program(prog.string(), {prog.string(), "x"}, env_,
                              tmp_.path(), out, as_);
#endif
    if (p == kNoProcess) return {kNotRun, false};
    for (int child = 0; child < children; ++child) {
      if (!comes_true([&] { return fs::exists(ready, ec) || has_ended(p); }, 30000) ||
          !fs::remove(ready, ec))
        break;
      fs::remove(cleaned, ec);
      send_interrupt(p, interrupt);
    }
    int status = wait_program(p);
    return {status, fs::exists(cleaned, ec)};
  };

  for (const Interrupt &interrupt : kInterrupts) {
    for (const char *child : {"handle", "default"}) {
      const bool handles = std::string(child) == "handle";
      env_["ZARN_PROBE_INTERRUPT"] = child;
      env_.erase("KELMO_ENTRY_DEBUG");
#ifdef _WIN32
      // Whatever the runtime makes of a default end, as a direct start shows.
      const int ended = interrupted(kit.dir / "host/windows64/bin/perl/bin/perl.exe",
                                    interrupt, 1).first;
#else
      const int ended = 128 + interrupt.sig;
#endif
      for (bool traced : {false, true}) {
        SCOPED_TRACE(std::string(interrupt.name) + ", the child's " + child +
                     (traced ? ", traced: the banner's run first" : ""));
        if (traced) env_["KELMO_ENTRY_DEBUG"] = "1";
        auto [status, clean_up_done] = interrupted(program, interrupt, traced ? 2 : 1);
        EXPECT_EQ(status, handles ? 5 : ended);
        EXPECT_EQ(clean_up_done, handles);
        if (traced) {
          EXPECT_NE(text_of(read_file(out)).find("[0] \"" + kit.interpreter() + "\""),
                    std::string::npos)
              << "the tool did not run after the banner";
        }
      }
    }
  }
}

// ---------------------------------------------------------- awkward words

TEST_F(E2E, ArgumentsReachTheChildExactly) {
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool" + kExe);
  Words words = {"a b",          "",         "  ",        "\t",
                 "tab\there",    "x\"y",     "\"",        "\"\"",
                 "say \"hi\"",   "D:\\tools\\", "D:\\tools\\file",
                 "a\\\\\"b",     "\\\\server\\share\\", "\\",
                 "trailing\\\\", "%s%n%p",   "*?",        "--perl",
                 "-fast-emulator=1", "semi;colon", "=x=", "caf\xc3\xa9"};
#ifndef _WIN32
  // Bytes that are no UTF-8 text: Windows, whose narrow texts are UTF-8 for
  // these programs, has no characters for them; Linux passes them on.
  words.push_back("caf\xe9");
  words.push_back("\xff\x80\x01");
#endif
  Outcome o = launch(program, words);
  EXPECT_EQ(o.status, 0);
  Words argv = {kit.interpreter(), kit.script("tool")};
  argv.insert(argv.end(), words.begin(), words.end());
  EXPECT_EQ(o.child.argc, static_cast<int>(argv.size()));
  EXPECT_EQ(o.child.argv, argv);
}

// Paths, arguments and inherited lists in any script reach the child as a
// direct start gives them: on Windows every narrow text of these programs is
// UTF-8, whatever the system's code page.
TEST_F(E2E, EveryCharacterReachesTheChild) {
  Kit plain = make_kit(tmp_.path() / "kit");
  Kit named = make_kit(tmp_.path() / utf8_path("кит 日本 é 😀") / "kit");
  const Words args = {"Дмитрий.cl", "é€", "日本語 😀"};
  const std::string inherited_lib = "C:\\Дмитрий\\lib;C:\\日本";
  env_["PERL5LIB"] = inherited_lib;
  env_["PATH"] = (tmp_.path() / utf8_path("Пути 日本 😀")).string() + ";" + env_["PATH"];

  // The probe started directly: what the test hands over arrives whole.
  {
    Words argv = {zt::probe_program()};
    argv.insert(argv.end(), args.begin(), args.end());
    Outcome direct = launch(zt::probe_program(), args);
    ASSERT_EQ(direct.status, 0);
    ASSERT_EQ(direct.child.argv, argv);
    ASSERT_EQ(direct.child.env["PERL5LIB"], inherited_lib);
    ASSERT_EQ(direct.child.env["PATH"], env_["PATH"]);
  }

  struct Case {
    const char *what;
    const Kit &kit;
    bool by_name;  // found on PATH by its name
  } cases[] = {{"a kit in a plain folder", plain, false},
               {"a kit in a folder of any script", named, false},
               {"the same found by name", named, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::path program = install(c.kit.dir / "bin", "tool" + kExe);
    Env saved = env_;
    if (c.by_name) env_["PATH"] = c.kit.wrapper_bin() + ";" + env_["PATH"];
    Outcome o = launch(program, args, c.by_name ? "tool" : "");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
    Words argv = {c.kit.interpreter(), c.kit.script("tool")};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(o.child.argv, argv);
    Env want = kit_env(c.kit, kit_dirs(c.kit));
    want["PERL5LIB"] = c.kit.perl_lib() + ";" + inherited_lib;
    expect_child_env(o.child.env, want);
    env_ = saved;
  }
}

// ---------------------------------------------------------- the real Perl

// This machine's Perl, found on the test's own PATH; empty when there is none.
std::string host_perl() {
  const char *path = std::getenv("PATH");
  if (path == nullptr) return "";
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, kOwnListSeparator)) {
    if (dir.empty()) continue;
    fs::path p = fs::path(dir) / ("perl" + kExe);
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) return p.string();
  }
  return "";
}

TEST_F(E2E, RealPerlRunsTheToolScript) {
  std::string perl = host_perl();
  if (perl.empty()) GTEST_SKIP() << "no Perl on this machine's PATH";
#ifdef _WIN32
  GTEST_SKIP() << "the host's Perl cannot read Windows paths";
#endif
  Kit kit = make_kit(tmp_.path() / "kit", kWholeKit & ~kPerlBin);
  fs::create_directories(kit.dir / "host/windows64/bin/perl/bin");
  fs::create_symlink(perl, kit.dir / "host/windows64/bin/perl/bin/perl.exe");
  fs::path program = install(kit.dir / "bin", "show" + kExe);
  std::ofstream(kit.dir / "share/lib/perl/zarn/show.pl")
      << "use strict;\n"
         "use warnings;\n"
         "use ZarnKitCheck;\n"  // found through PERL5LIB
         "print \"script $0\\n\";\n"
         "print \"lib $ZarnKitCheck::word\\n\";\n"
         "print 'arg ', unpack('H*', $_), \"\\n\" for @ARGV;\n"
         "print \"root $ENV{NORVEXCALVETTASDKROOT}\\n\";\n"
         "exit($ENV{SHOW_STATUS} // 0);\n";
  std::ofstream(kit.dir / "host/windows64/bin/perl/lib/ZarnKitCheck.pm")
      << "package ZarnKitCheck;\nour $word = 'from the kit';\n1;\n";

  auto hex = [](const std::string &s) {
    static const char digits[] = "0123456789abcdef";
    std::string h;
    for (unsigned char ch : s) {
      h += digits[ch >> 4];
      h += digits[ch & 15];
    }
    return h;
  };
  const Words args = {"two words", "", "x\"y", "D:\\tools\\", "caf\xc3\xa9"};
  env_["SHOW_STATUS"] = "42";
  Outcome o = launch(program, args);
  EXPECT_EQ(o.status, 42);
  std::string want = "script " + kit.script("show") + "\nlib from the kit\n";
  for (const std::string &a : args) want += "arg " + hex(a) + "\n";
  want += "root " + kit.root + "\n";
  EXPECT_EQ(o.out, want);

  // Traced, the interpreter's banner comes between the set-up and the
  // listings.
  env_["KELMO_ENTRY_DEBUG"] = "1";
  env_["SHOW_STATUS"] = "0";
  o = launch(program, {});
  EXPECT_EQ(o.status, 0);
  std::size_t prepend = o.out.find("Prepend PERL5LIB with ");
  std::size_t banner = o.out.find("This is perl");
  std::size_t listing = o.out.find("[0] " + kit.interpreter() + "\n");
  ASSERT_NE(banner, std::string::npos) << o.out;
  EXPECT_LT(prepend, banner);
  EXPECT_LT(banner, listing);
}

#ifndef _WIN32
// ------------------------------------------------------------ Linux signals

// Some parents start the launcher with SIGCHLD or SIGPIPE ignored. It still
// waits for its child and passes its status on, and the child starts with
// what the launcher inherited, not with the launcher's own arrangements.
TEST_F(E2E, InheritedSignalDispositionsReachTheChild) {
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool");
  env_["ZARN_PROBE_STATUS"] = "1";
  const std::set<int> cases[] = {{},
                                 {SIGCHLD},
                                 {SIGPIPE},
                                 {SIGCHLD, SIGPIPE},
                                 {SIGINT, SIGQUIT},
                                 {SIGCHLD, SIGPIPE, SIGINT, SIGQUIT}};
  for (const std::set<int> &ignored : cases) {
    std::string names;
    for (int sig : ignored) names += std::string(" ") + sigabbrev_np(sig);
    SCOPED_TRACE("ignored:" + names);
    as_.ignored = ignored;
    Outcome o = launch(program, {"x"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.child.argc, 3);
    EXPECT_EQ(o.child.ignored, ignored);
  }
}

// A reader that goes away early (as "| head -1" does) never ends the
// launcher, as on Windows, where a write to a closed pipe only fails; its
// status stays the child's.
TEST_F(E2E, ClosedStandardOutputDoesNotEndATracedRun) {
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool");
  env_["KELMO_ENTRY_DEBUG"] = "1";

  // Gone before the launcher writes: its first flush comes before the child.
  {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    env_["ZARN_PROBE_STATUS"] = "7";
    as_.stdout_fd = ends[1];
    Outcome o = launch(program, {"x"});
    close(ends[1]);
    as_.stdout_fd = -1;
    EXPECT_EQ(o.status, 7);
    EXPECT_EQ(o.child.argc, 3) << "the tool did not run";
    EXPECT_EQ(o.child.ignored.count(SIGPIPE), 0u);
  }

  // Gone while the child runs: the quoted listing still waits in the
  // launcher's buffer and is written when it ends.
  std::string perl = host_perl();
  if (perl.empty()) GTEST_SKIP() << "no Perl on this machine's PATH";
  const fs::path go = tmp_.path() / "go";
  std::ofstream(kit.script("tool"))
      << "$| = 1;\n"
         "print \"child running\\n\";\n"
         "for (1 .. 3000) { last if -e $ENV{ZARN_GO}; select(undef, undef, undef, 0.01) }\n"
         "exit 7;\n";
  env_["ZARN_GO"] = go.string();
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const Words argv = {program.string(), "--perl", perl};
  pid_t pid = start_program(program.string(), argv, env_, tmp_.path(), "",
                            {{}, ends[1]});
  close(ends[1]);
  std::string seen;
  char chunk[4096];
  ssize_t n;
  while (seen.find("child running\n") == std::string::npos &&
         (n = read(ends[0], chunk, sizeof chunk)) > 0)
    seen.append(chunk, static_cast<std::size_t>(n));
  close(ends[0]);
  std::ofstream(go) << "";
  EXPECT_NE(seen.find("child running\n"), std::string::npos) << seen;
  EXPECT_EQ(wait_program(pid), 7);
}

// ----------------------------------------------------- descriptors run out

// A launcher started with a single descriptor free needs none of its own to
// start the child, which then has it (here, for its report).
TEST_F(E2E, ChildStartsWithOneDescriptorLeft) {
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool");
  env_["ZARN_PROBE_STATUS"] = "6";
  as_.max_files = 4;  // the standard streams and one more
  Outcome o = launch(program, {"x"});
  EXPECT_EQ(o.status, 6);
  EXPECT_EQ(o.child.argv, (Words{kit.interpreter(), kit.script("tool"), "x"}));

  // A start that does fail is still told apart from the child's status.
  fs::remove(kit.interpreter());
  o = launch(program, {"x"});
  EXPECT_EQ(o.status, seen_status(-1));
  EXPECT_EQ(o.child.argc, -1);
}

// -------------------------------------------------- an older C++ runtime

// A launcher copied into a kit on a machine whose C++ runtime is older than
// the build machine's still starts: it needs nothing of the machine but its
// C library.
TEST_F(E2E, StartsBesideAnOlderCxxRuntime) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer builds use the machine's C++ runtime";
#endif
  const std::string old_runtime =
      (fs::path(zt::probe_program()).parent_path() / "old_cxx_runtime").string();
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool");
  env_["LD_LIBRARY_PATH"] = old_runtime;

  // The old runtime does stop a program that loads the machine's: this one.
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  EXPECT_NE(run_program(self, {self, "--gtest_list_tests"}, env_, tmp_.path(),
                        tmp_.path() / "self.txt"),
            0);
  EXPECT_EQ(read_file(tmp_.path() / "self.txt"), "");

  Outcome o = launch(program, {"x"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.child.argv, (Words{kit.interpreter(), kit.script("tool"), "x"}));
  EXPECT_EQ(o.child.env["LD_LIBRARY_PATH"], old_runtime);
}

// ------------------------------------------------------ memory running out

// The allocator that fails on purpose (tests/failing_malloc.cpp), built
// beside the probe.
std::string failing_malloc() {
  return (fs::path(zt::probe_program()).parent_path() / "libzarn_failing_malloc.so")
      .string();
}

// Memory that runs out gets the launcher's own answers, never an abort:
// status 3 for the argument vector or a quoted copy, the fatal report for a
// --perl value that cannot be made absolute, -1 for a start that cannot be
// prepared.
TEST_F(E2E, MemoryRunningOut) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
#endif
  Kit kit = make_kit(tmp_.path() / "kit");
  fs::path program = install(kit.dir / "bin", "tool");
  const std::string no_memory = "tool: Could not allocate memory for argument list.";
  const std::string long_arg(20000, 's');  // quoted: 20,003 bytes
  struct Case {
    const char *what;
    Words args;
    const char *key;  // which allocations fail
    std::size_t size;
    int status;
    std::string out;
  } cases[] = {
      {"the argument vector", Words(2000, "a"), "ZARN_FAIL_MALLOC_SIZE",
       2003 * sizeof(char *), 3, no_memory},
      {"a quoted copy", {"x", std::string(7777, 'q')}, "ZARN_FAIL_MALLOC_SIZE",
       7780, 3, no_memory},
      // A relative path is made absolute from the current directory, which
      // is read into a block of 4096 bytes.
      {"the --perl value made absolute", {"--perl", "perl2"},
       "ZARN_FAIL_MALLOC_SIZE", 4096, 1,
       report("tool", kSdk, {"Can't find the specified Perl executable: perl2"})},
      // The joined command line needs some 20,200 bytes.
      {"the child's command line", {"x", long_arg}, "ZARN_FAIL_MALLOC_FROM",
       20100, seen_status(-1), ""},
      // The line fits; its last word outgrows 25,000 bytes as it is split.
      {"the split of the command line", {"x", long_arg}, "ZARN_FAIL_MALLOC_FROM",
       25000, seen_status(-1), ""},
  };
  env_["LD_PRELOAD"] = failing_malloc();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    env_.erase("ZARN_FAIL_MALLOC_SIZE");
    env_.erase("ZARN_FAIL_MALLOC_FROM");
    env_[c.key] = std::to_string(c.size);
    Outcome o = launch(program, c.args);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.child.argc, -1) << "the child ran";
  }
}
#endif

}  // namespace
