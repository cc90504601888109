// Linux stand-ins for the Windows runtime operations of platform.h.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"

namespace {

bool plat_is_sep(char c) { return c == '/' || c == '\\'; }

// SIGPIPE as the process inherited it, for the children it starts.
struct sigaction plat_inherited_pipe;
bool plat_pipe_saved = false;

// Gives sig the disposition handler (SIG_IGN or SIG_DFL) and keeps the one
// it had in *was; true on success.
bool plat_set_disposition(int sig, void (*handler)(int),
                          struct sigaction *was) {
  struct sigaction now {};
  now.sa_handler = handler;
  sigemptyset(&now.sa_mask);
  return sigaction(sig, &now, was) == 0;
}

char *plat_fold_path(char *dst, const char *src, std::size_t size) {
  // Windows folds the text lexically and both separators count; so here.
  std::string whole;
  if (!plat_is_sep(src[0])) {
    std::vector<char> cwd(4096);
    while (getcwd(cwd.data(), cwd.size()) == nullptr) {
      if (cwd.size() > (1u << 20)) return nullptr;
      cwd.resize(cwd.size() * 2);
    }
    whole = cwd.data();
    whole += '/';
  }
  whole += src;

  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i < whole.size()) {
    while (i < whole.size() && plat_is_sep(whole[i])) ++i;
    std::size_t start = i;
    while (i < whole.size() && !plat_is_sep(whole[i])) ++i;
    std::string part = whole.substr(start, i - start);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (const std::string &part : parts) out += "/" + part;
  // A trailing separator is kept, as the Windows runtime keeps it.
  if (out.empty() || (src[0] != '\0' && plat_is_sep(whole.back()))) out += '/';
  if (out.size() + 1 > size) return nullptr;
  std::memcpy(dst, out.c_str(), out.size() + 1);
  return dst;
}

}  // namespace

void plat_start(void) {
  plat_pipe_saved = plat_set_disposition(SIGPIPE, SIG_IGN, &plat_inherited_pipe);
}

char *plat_fullpath(char *dst, const char *src, std::size_t size) {
  if (dst == nullptr || src == nullptr) return nullptr;
  try {
    return plat_fold_path(dst, src, size);
  } catch (...) {
    return nullptr;  // out of memory
  }
}

int plat_stat(const char *path, unsigned int *mode) {
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0) return -1;
  // Linux uses the same type bits as Windows for directories and files.
  *mode = static_cast<unsigned int>(st.st_mode);
  return 0;
}

int plat_putenv(const char *assignment) {
  const char *eq = std::strchr(assignment, '=');
  if (eq == nullptr || eq == assignment) return -1;
  try {
    std::string key(assignment, static_cast<std::size_t>(eq - assignment));
    if (eq[1] == '\0') return unsetenv(key.c_str()) == 0 ? 0 : -1;
    return setenv(key.c_str(), eq + 1, 1) == 0 ? 0 : -1;
  } catch (...) {
    return -1;  // out of memory
  }
}

int plat_stricmp(const char *a, const char *b) {
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(*a);
    unsigned char cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
    if (ca != cb || ca == '\0') return ca - cb;
  }
}

int plat_format(char *dst, std::size_t size, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = std::vsnprintf(dst, size, fmt, ap);
  va_end(ap);
  return r;
}

namespace {

// The status that waitpid reported, as the exit status the caller sees. A
// child ended by a signal is reported the way shells report it, 128 plus
// the signal's number: never 0, and never -1, which means "not started".
std::intptr_t plat_exit_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 128;
}

// Starts path with argv and the current environment and waits for it. The
// child starts with SIGCHLD, SIGPIPE, SIGINT and SIGQUIT as this process
// inherited them, not as it keeps them for itself, which posix_spawn cannot
// give it for an ignored SIGCHLD.
std::intptr_t plat_run_and_wait(const char *path, char *const *argv) {
  // An ignored SIGCHLD would let the kernel reap the child before we wait.
  struct sigaction inherited_chld;
  if (!plat_set_disposition(SIGCHLD, SIG_DFL, &inherited_chld)) return -1;

  // Ctrl-C and Ctrl-\ at a terminal reach the child and us together; as
  // system() does, we leave them to the child and wait for its answer.
  struct sigaction inherited_int, inherited_quit;
  plat_set_disposition(SIGINT, SIG_IGN, &inherited_int);
  plat_set_disposition(SIGQUIT, SIG_IGN, &inherited_quit);

  std::intptr_t result = -1;
  // vfork, as posix_spawn does, spares the copy of our memory that fork
  // costs. The child shares that memory, so it makes nothing but system
  // calls, and marks a failed exec here, where we read it once it has gone:
  // no descriptor is needed for that, even when none is free.
  volatile bool exec_failed = false;
  pid_t pid = vfork();
  if (pid == 0) {
    sigaction(SIGCHLD, &inherited_chld, nullptr);
    sigaction(SIGINT, &inherited_int, nullptr);
    sigaction(SIGQUIT, &inherited_quit, nullptr);
    if (plat_pipe_saved) sigaction(SIGPIPE, &plat_inherited_pipe, nullptr);
    execve(path, argv, environ);
    exec_failed = true;
    _exit(127);
  }
  if (pid > 0) {
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    // A failed exec means the child never ran.
    if (!exec_failed && waited == pid) result = plat_exit_status(status);
  }
  sigaction(SIGQUIT, &inherited_quit, nullptr);
  sigaction(SIGINT, &inherited_int, nullptr);
  sigaction(SIGCHLD, &inherited_chld, nullptr);
  return result;
}

}  // namespace

std::intptr_t plat_spawnv_wait(const char *path, const char *const *argv) {
  if (path == nullptr || argv == nullptr || argv[0] == nullptr) return -1;
  if (!plat_command_line_fits(argv)) return -1;
  std::vector<std::string> words;
  std::vector<char *> child_argv;
  try {
    // The command line as Windows forms it from the entries: joined with
    // single blanks, nothing added.
    std::string line;
    for (const char *const *a = argv; *a != nullptr; ++a) {
      if (a != argv) line += ' ';
      line += *a;
    }
    // The child sees the words that its own runtime would split from the
    // line.
    words = plat_split_command_line(line.c_str());
    for (std::string &w : words) child_argv.push_back(w.data());
    child_argv.push_back(nullptr);
  } catch (...) {
    return -1;  // out of memory: nothing was started
  }
  if (words.empty()) return -1;  // the split ran out of memory
  return plat_run_and_wait(path, child_argv.data());
}

void plat_assert_fail(const char *expr, const char *file, unsigned line) {
  std::fflush(stdout);
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %u\n", expr, file,
               line);
  std::abort();
}
