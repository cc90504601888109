// The few runtime operations the locator and the launcher need from the
// platform. On Windows each passes straight through to the C runtime; on
// Linux each is a small stand-in that behaves as the Windows runtime does.
// Nothing outside platform_*.cpp may branch on the platform. No operation
// lets an exception out: running out of memory is told by its result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the process needs of its platform before anything else runs; main
// calls it first. On Linux a write to a closed standard output then fails, as
// it does on Windows, instead of ending the process with SIGPIPE.
void plat_start(void);

// _fullpath(dst, src, size): absolute form of src from the current
// directory, '.' and '..' folded, without touching the file system. Null when
// the result and its NUL need more than size bytes, or when memory runs out;
// dst is then unchanged.
char *plat_fullpath(char *dst, const char *src, std::size_t size);

// _stat64i32: 0 when the path exists, with its st_mode type bits in *mode
// (0x4000 directory, 0x8000 regular file); non-zero otherwise.
int plat_stat(const char *path, unsigned int *mode);

constexpr unsigned int PLAT_MODE_DIR = 0x4000;
constexpr unsigned int PLAT_MODE_FILE = 0x8000;

// _putenv("KEY=VALUE"): the text is copied; an empty value removes the key,
// and removing an unset key succeeds. 0 on success. On Windows a value too
// long for a variable to hold is refused.
int plat_putenv(const char *assignment);

// The size of the longest value a Windows variable holds, its NUL included;
// the key does not count.
constexpr std::size_t PLAT_MAX_ENV_VALUE = 32767;

// _stricmp: 0 when the texts are equal ignoring ASCII letter case.
int plat_stricmp(const char *a, const char *b);

// The bounded formatter. Returns what vsnprintf returns; the text did not
// fit when the result is negative or not below size. The destination is
// always terminated when size is not 0, a text that did not fit being cut.
int plat_format(char *dst, std::size_t size, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

// _spawnv(_P_WAIT, path, argv): joins the (already quoted) entries with
// single blanks into one command line, starts path with it, the current
// environment and standard streams, and waits. The child's exit status, or
// -1 when the program cannot be started. While it waits, interactive
// interrupts (Ctrl-C, Ctrl-Break; on Linux SIGINT and SIGQUIT) are left to
// the child. On Linux the child starts with the signal dispositions that the
// process inherited, is waited for whatever the disposition of SIGCHLD, and
// is started without a descriptor of this process's own.
std::intptr_t plat_spawnv_wait(const char *path, const char *const *argv);

// The size of the longest command line Windows accepts, its NUL included.
constexpr std::size_t PLAT_MAX_COMMAND_LINE = 32767;

// Whether the entries, joined with single blanks, make a command line that
// Windows accepts (platform_cmdline.cpp).
bool plat_command_line_fits(const char *const *argv);

// Splits a command line into words by the Windows C runtime's rules
// (argv[0] by its own rule). The child's runtime does this on Windows; the
// Linux spawn stand-in does it for the child. Pure text handling, built on
// both platforms (platform_cmdline.cpp). Empty when the line is null or
// memory runs out; a line always has its program name otherwise.
std::vector<std::string> plat_split_command_line(const char *line);

// A live assertion: on, whatever the build type, reporting the expression,
// the source path and the line before ending the process.
[[noreturn]] void plat_assert_fail(const char *expr, const char *file,
                                   unsigned line);

#define PLAT_ASSERT(expr) \
  ((expr) ? (void)0 : plat_assert_fail(#expr, __FILE__, __LINE__))
