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
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#define probe_environ _environ
#else
#include <signal.h>
#include <unistd.h>
#define probe_environ environ
#endif

namespace {

void put_hex(std::FILE *out, const char *text) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
       *p != '\0'; ++p)
    std::fprintf(out, "%02x", *p);
}

}  // namespace

int main(int argc, char **argv) {
  // Read before anything else, so the report shows the environment as given.
  const char *status_text = std::getenv("ZARN_PROBE_STATUS");
  int status = status_text != nullptr ? std::atoi(status_text) : 0;

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
  return status;
}
