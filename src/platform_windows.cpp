// The operations of platform.h on Windows: each is the C runtime's own.
#include <assert.h>
#include <process.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform.h"

namespace {

// Ctrl-C and Ctrl-Break reach every process of the console, the child and
// us alike. While the child runs, what they mean is its to decide; we wait
// for its answer. A handler of our own, unlike the ignore flag that
// SetConsoleCtrlHandler(NULL, TRUE) sets, is not inherited by the child.
BOOL WINAPI plat_leave_to_child(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

// Set once the first child starts, and kept: Windows hands each process its
// Ctrl-C on a thread of its own, so ours may come only after the child that
// shared it has ended, and must not end us then either.
bool plat_interrupts_left = false;

}  // namespace

char *plat_fullpath(char *dst, const char *src, std::size_t size) {
  return _fullpath(dst, src, size);
}

int plat_stat(const char *path, unsigned int *mode) {
  struct _stat64i32 st;
  if (_stat64i32(path, &st) != 0) return -1;
  *mode = st.st_mode;
  return 0;
}

void plat_start(void) {}

int plat_putenv(const char *assignment) {
  // The runtime accepts a longer value, but what the variable then holds,
  // here and in the child, is not that value.
  const char *eq = strchr(assignment, '=');
  if (eq != nullptr && strlen(eq + 1) + 1 > PLAT_MAX_ENV_VALUE) return -1;
  return _putenv(assignment);
}

int plat_stricmp(const char *a, const char *b) { return _stricmp(a, b); }

int plat_format(char *dst, std::size_t size, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  // The runtime's bounded formatter answers -1 for a text longer than the
  // buffer, and size for one that fills it exactly; in both cases it leaves
  // the buffer unterminated.
  int r = _vsnprintf(dst, size, fmt, ap);
  va_end(ap);
  if (size != 0 && (r < 0 || static_cast<std::size_t>(r) >= size))
    dst[size - 1] = '\0';
  return r;
}

std::intptr_t plat_spawnv_wait(const char *path, const char *const *argv) {
  // Windows refuses a longer command line; a runtime that cut it instead
  // (Wine's does) would start the child with other arguments than ours.
  if (!plat_command_line_fits(argv)) return -1;
  if (!plat_interrupts_left)
    plat_interrupts_left = SetConsoleCtrlHandler(plat_leave_to_child, TRUE) != FALSE;
  return _spawnv(_P_WAIT, path, argv);
}

void plat_assert_fail(const char *expr, const char *file, unsigned line) {
  fflush(stdout);
  _assert(expr, file, line);
  abort();
}
