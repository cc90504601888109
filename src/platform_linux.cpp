// Linux stand-ins for the Windows runtime operations of platform.h.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"

namespace {

bool plat_is_sep(char c) { return c == '/' || c == '\\'; }

}  // namespace

char *plat_fullpath(char *dst, const char *src, std::size_t size) {
  if (dst == nullptr || src == nullptr) return nullptr;
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
  std::string key(assignment, static_cast<std::size_t>(eq - assignment));
  if (eq[1] == '\0') return unsetenv(key.c_str()) == 0 ? 0 : -1;
  return setenv(key.c_str(), eq + 1, 1) == 0 ? 0 : -1;
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

std::intptr_t plat_spawnv_wait(const char *, const char *const *) {
  return -1;  // TODO spawn stand-in
}

void plat_assert_fail(const char *expr, const char *file, unsigned line) {
  std::fflush(stdout);
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %u\n", expr, file,
               line);
  std::abort();
}
