// A stand-in child program: reports the arguments and the environment it was
// given, then exits with the status asked of it.
//
// Report (to the file named by ZARN_PROBE_OUT, else standard output):
//   argc <N>
//   argv <i> <hex of the entry's bytes>      one line per entry
//   env <hex of the KEY=VALUE text>          one line per environment entry
//   ignored <signal number>                  one line per ignored signal
//                                            (not on Windows)
// Exit status: ZARN_PROBE_STATUS (decimal), 0 when unset; 125 when the
// report file cannot be written.
//
// With ZARN_PROBE_INTERRUPT set, after the report it stands in for a tool that
// is interrupted: it creates the file ZARN_PROBE_READY and waits for up to 30
// seconds (then exits with 124). With the value "handle" an interrupt
// (SIGINT or SIGQUIT; Ctrl-C or Ctrl-Break on Windows) starts a clean-up of
// 0.8 seconds that ends by creating the file ZARN_PROBE_CLEANED and exiting
// with the status; with any other value interrupts keep their defaults.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>
#define probe_environ _environ
#else
#include <signal.h>
#include <time.h>
#include <unistd.h>
#define probe_environ environ
#endif

namespace {

int probe_status = 0;

bool make_file(const char *path) {
  if (path == nullptr) return false;
  std::FILE *f = std::fopen(path, "wb");
  return f != nullptr && std::fclose(f) == 0;
}

void pause_ms(int ms) {
#ifdef _WIN32
  Sleep(static_cast<DWORD>(ms));
#else
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0) {
  }
#endif
}

// The clean-up of a tool that was interrupted; it ends the process.
[[noreturn]] void clean_up_and_exit() {
  pause_ms(800);
  make_file(std::getenv("ZARN_PROBE_CLEANED"));
  std::fflush(nullptr);
  std::_Exit(probe_status);
}

#ifdef _WIN32
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  clean_up_and_exit();
}
#else
void on_signal(int) { clean_up_and_exit(); }
#endif

// Waits for an interrupt as the environment asks; see the top of the file.
int wait_for_interrupt(const char *how) {
  if (std::strcmp(how, "handle") == 0) {
#ifdef _WIN32
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGQUIT, &sa, nullptr);
#endif
  }
  // Made whole under another name, so that whoever sees it can remove it.
  const char *ready = std::getenv("ZARN_PROBE_READY");
  if (ready == nullptr) return 125;
  std::string part = std::string(ready) + ".part";
  if (!make_file(part.c_str()) || std::rename(part.c_str(), ready) != 0)
    return 125;
  for (int i = 0; i < 3000; ++i) pause_ms(10);
  return 124;
}

void put_hex(std::FILE *out, const char *text) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
       *p != '\0'; ++p)
    std::fprintf(out, "%02x", *p);
}

}  // namespace

int main(int argc, char **argv) {
  // Read before anything else, so the report shows the environment as given.
  const char *status_text = std::getenv("ZARN_PROBE_STATUS");
  probe_status = status_text != nullptr ? std::atoi(status_text) : 0;

  const char *out_path = std::getenv("ZARN_PROBE_OUT");
  std::FILE *out = stdout;
  if (out_path != nullptr && out_path[0] != '\0') {
    out = std::fopen(out_path, "wb");
    if (out == nullptr) {
      std::fprintf(stderr, "probe: cannot write %s\n", out_path);
      return 125;
    }
  } else {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
  }

  std::fprintf(out, "argc %d\n", argc);
  for (int i = 0; i < argc; ++i) {
    std::fprintf(out, "argv %d ", i);
    put_hex(out, argv[i]);
    std::fputc('\n', out);
  }
  for (char **e = probe_environ; e != nullptr && *e != nullptr; ++e) {
    std::fputs("env ", out);
    put_hex(out, *e);
    std::fputc('\n', out);
  }
#ifndef _WIN32
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction sa;
    if (sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler == SIG_IGN)
      std::fprintf(out, "ignored %d\n", sig);
  }
#endif
  if (out != stdout) {
    if (std::fclose(out) != 0) return 125;
  } else {
    std::fflush(stdout);
  }
  if (const char *how = std::getenv("ZARN_PROBE_INTERRUPT"))
    return wait_for_interrupt(how);
  return probe_status;
}
