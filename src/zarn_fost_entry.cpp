// Installation locator: the launcher's own path, the kit root and its
// directories, the design-suite root and its directories.
#include "zarn_fost_entry.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform.h"

namespace {

std::int32_t debug_level = 0;
const char *platform_override = nullptr;

// Returned by PLYX_BIN for a missing directory: not the caller's buffer.
const char zarn_fost_entry_empty_text[] = "";

__attribute__((format(printf, 1, 2))) void zarn_fost_entry_trace(
    const char *fmt, ...) {
  if (zarn_fost_entry_debug_level() == 0) return;
  va_list ap;
  va_start(ap, fmt);
  vprintf(fmt, ap);
  va_end(ap);
}

const void *zarn_fost_entry_addr(const void *p) { return p; }

// Hands the text over, empties the buffer and gives the null result.
const char *zarn_fost_entry_fail(char *path, zarn_fost_entry_message_fn msg_fn,
                                 std::uintptr_t user, const char *text) {
  if (msg_fn != nullptr) msg_fn(text, user);
  if (path != nullptr) path[0] = '\0';
  return nullptr;
}

bool zarn_fost_entry_is_sep(char c) { return c == '/' || c == '\\'; }

// The base plus a suffix, and the 2 bytes of slack that every such answer
// keeps, must stay within one path buffer.
bool zarn_fost_entry_suffix_fits(const char *base, const char *suffix) {
  return strlen(base) + strlen(suffix) + 2 <= ZARN_FOST_ENTRY_MAX_PATH;
}

void zarn_fost_entry_append(char *path, const char *suffix) {
  strncat(path, suffix, ZARN_FOST_ENTRY_MAX_PATH - 1 - strlen(path));
}

// Usable environment value: set, non-empty, a directory, made absolute.
char *zarn_fost_entry_env_dir(const char *key, char *value_buf, char *path) {
  zarn_fost_entry_copy_dir(value_buf, getenv(key), ZARN_FOST_ENTRY_MAX_PATH);
  if (value_buf[0] == '\0' || !zarn_fost_entry_is_dir(value_buf)) return nullptr;
  return zarn_fost_entry_full_path(value_buf, path);
}

}  // namespace

// ---------------------------------------------------------------- trace level

std::int32_t zarn_fost_entry_debug_level(void) { return debug_level; }
void zarn_fost_entry_debug_up(void) { ++debug_level; }
void zarn_fost_entry_debug_down(void) { --debug_level; }

// ------------------------------------------------------------- path utilities

char *zarn_fost_entry_copy_dir(char *dst, const char *value, std::size_t size) {
  if (size == 0 || dst == nullptr) return nullptr;
  dst[0] = '\0';
  if (value == nullptr) return dst;
  strncpy(dst, value, size - 1);
  dst[size - 1] = '\0';
  std::size_t len = strnlen(dst, ZARN_FOST_ENTRY_MAX_PATH);
  if (len <= 1) return dst;
  // The first character is never dropped, so a root like "/" survives.
  bool inner = false;
  for (std::size_t i = len - 1; i >= 1; --i) {
    if (!zarn_fost_entry_is_sep(dst[i]))
      inner = true;
    else
      dst[i] = inner ? '/' : '\0';
  }
  return dst;
}

char *zarn_fost_entry_find_up(char *path, const char *name,
                              std::int32_t levels) {
  if (path == nullptr || name == nullptr || levels < 0) return nullptr;
  std::size_t name_len = strlen(name);
  for (std::int32_t attempt = 0; attempt < levels; ++attempt) {
    char *slash = strrchr(path, '/');
    if (slash == nullptr) return nullptr;
    std::size_t at = static_cast<std::size_t>(slash - path);
    if (at + name_len + 2 > ZARN_FOST_ENTRY_MAX_PATH) return nullptr;
    memcpy(slash + 1, name, name_len + 1);
    if (zarn_fost_entry_is_dir(path)) return path;
    *slash = '\0';
  }
  return nullptr;
}

int zarn_fost_entry_is_dir(const char *path) {
  unsigned int mode = 0;
  if (path == nullptr || plat_stat(path, &mode) != 0) return 0;
  return (mode & PLAT_MODE_DIR) != 0 && (mode & PLAT_MODE_FILE) == 0;
}

int zarn_fost_entry_is_file(const char *path) {
  unsigned int mode = 0;
  if (path == nullptr || plat_stat(path, &mode) != 0) return 0;
  return (mode & PLAT_MODE_FILE) != 0 && (mode & PLAT_MODE_DIR) == 0;
}

char *zarn_fost_entry_full_path(const char *src, char *dst) {
  if (src == nullptr || dst == nullptr) return nullptr;
  if (plat_fullpath(dst, src, ZARN_FOST_ENTRY_MAX_PATH) == nullptr)
    return nullptr;
  for (char *p = dst; *p != '\0'; ++p)
    if (*p == '\\') *p = '/';
  return dst;
}

// ------------------------------------------------------ executable resolution

void zarn_fost_entry_search_path(const char **my_executable_ptr, char *buf,
                                 std::size_t len) {
  const char *name = *my_executable_ptr;
  if (zarn_fost_entry_full_path(name, buf) != nullptr &&
      zarn_fost_entry_is_file(buf)) {
    zarn_fost_entry_trace("found it right away\n");
    *my_executable_ptr = buf;
    return;
  }

  const char *path_value = getenv("PATH");
  zarn_fost_entry_trace(" PATH is '%s'\n",
                        path_value != nullptr ? path_value : "(null)");
  if (path_value == nullptr) return;

  std::size_t name_len = strlen(name);
  char try_path[ZARN_FOST_ENTRY_MAX_PATH];
  const char *entry = path_value;
  while (*entry != '\0') {
    const char *semicolon = strchr(entry, ';');
    std::size_t entry_len = semicolon != nullptr
                                ? static_cast<std::size_t>(semicolon - entry)
                                : strlen(entry);
    zarn_fost_entry_trace(" component '%.*s'\n", static_cast<int>(entry_len),
                          entry);
    // A component too long for the candidate is skipped, never cut.
    if (entry_len + 1 + name_len < ZARN_FOST_ENTRY_MAX_PATH) {
      memcpy(try_path, entry, entry_len);
      try_path[entry_len] = '/';
      memcpy(try_path + entry_len + 1, name, name_len + 1);
      zarn_fost_entry_trace(" looking at '%s'\n", try_path);
      if (zarn_fost_entry_is_file(try_path)) {
        PLAT_ASSERT(strlen(try_path) < len);
        strncpy(buf, try_path, len);
        buf[len - 1] = '\0';
        *my_executable_ptr = buf;
        return;
      }
    }
    if (semicolon == nullptr) return;
    entry = semicolon + 1;
  }
}

void zarn_fost_entry_find_self(const char **my_executable_ptr, char *buf,
                               std::size_t len) {
  zarn_fost_entry_search_path(my_executable_ptr, buf, len);
  if (*my_executable_ptr == buf) return;

  const char *name = *my_executable_ptr;
  const char *dot = strrchr(name, '.');
  if (dot != nullptr && plat_stricmp(dot, ".exe") == 0) return;

  char retry[ZARN_FOST_ENTRY_MAX_PATH];
  plat_format(retry, sizeof retry, "%s.exe", name);
  const char *retry_ptr = retry;
  zarn_fost_entry_search_path(&retry_ptr, buf, len);
  if (retry_ptr == buf) *my_executable_ptr = buf;
}

// ------------------------------------------------------------- kit directories

const char *zarn_fost_entry_platform(void) {
  const char *word = platform_override != nullptr ? platform_override
                                                  : "windows64";
  if (strcmp(word, "x86_64") == 0) return "linux64";
  if (strcmp(word, "ppc64") == 0) return "ppc64";
  if (strcmp(word, "ppc64le") == 0) return "ppc64le";
  if (strcmp(word, "armv7l") == 0) return "arm32";
  return "windows64";
}

void zarn_fost_entry_set_platform(const char *platform) {
  platform_override = platform;
}

const char *zarn_fost_entry_sdk_subdir(const char *exe_name, char *path,
                                       std::size_t len,
                                       zarn_fost_entry_message_fn msg_fn,
                                       std::uintptr_t user, const char *subdir,
                                       const char *desc) {
  if (zarn_fost_entry_query(exe_name, SDK, path, len, msg_fn, user) == nullptr)
    return zarn_fost_entry_fail(path, msg_fn, user,
                                "Could not determine the path to SDK");
  if (!zarn_fost_entry_suffix_fits(path, subdir))
    return zarn_fost_entry_fail(path, msg_fn, user,
                                "Internal error: Path to SDK is too long");
  zarn_fost_entry_append(path, subdir);
  if (zarn_fost_entry_is_dir(path)) return path;

  char msg[4196];
  plat_format(msg, sizeof msg, "Could not find SDK internal %s directory %s",
              desc, path);
  return zarn_fost_entry_fail(path, msg_fn, user, msg);
}

namespace {

struct zarn_fost_entry_kit_kind {
  const char *subdir;  // %s stands for the platform word
  const char *desc;
  const char *text;
  const char *word;  // as the success line names the kind
};

const zarn_fost_entry_kit_kind zarn_fost_entry_kit_kinds[] = {
    {"/%s/bin", "executables",
     "Could not determine the path to SDK internal executables", "SDK_BIN"},
    {"/host/%s/bin", "runtime executables",
     "Could not determine the path to SDK or RTE internal executables",
     "SDK_HOST_BIN"},
    {"/%s/lib", "libraries",
     "Could not determine the path to SDK internal libraries", "SDK_LIB"},
    {"/host/%s/lib", "runtime libraries",
     "Could not determine the path to SDK internal libraries", "SDK_HOST_LIB"},
    {"/host/windows64/bin/perl/lib", "Perl full library",
     "Could not determine the path to SDK full Perl libraries",
     "SDK_PERL_FULL_LIB"},
    {"/host/windows64/bin/perl/bin", "Perl runtime executable directory",
     "Could not determine the path to SDK internal Perl executable",
     "SDK_PERL"},
};

const char *zarn_fost_entry_kit_dir(const char *resolved,
                                    zarn_fost_entry_query_kind kind,
                                    char *path, std::size_t len,
                                    zarn_fost_entry_message_fn msg_fn,
                                    std::uintptr_t user) {
  const zarn_fost_entry_kit_kind &k = zarn_fost_entry_kit_kinds[kind - SDK_BIN];
  char subdir_buf[50];
  const char *subdir = k.subdir;
  if (kind <= SDK_HOST_LIB) {
    plat_format(subdir_buf, sizeof subdir_buf, k.subdir,
                zarn_fost_entry_platform());
    subdir = subdir_buf;
  }
  if (zarn_fost_entry_sdk_subdir(resolved, path, len, msg_fn, user, subdir,
                                 k.desc) == nullptr)
    return zarn_fost_entry_fail(path, msg_fn, user, k.text);
  if (kind == SDK_PERL) {
    // The only test against the caller's own length.
    std::size_t n = strnlen(path, ZARN_FOST_ENTRY_MAX_PATH);
    if (n + 10 > len)
      return zarn_fost_entry_fail(
          path, msg_fn, user,
          "Not enough space to determine path to SDK internal Perl executable");
    strncat(path, "/perl.exe", len - n - 1);
  }
  zarn_fost_entry_trace("finding: %s --> %p %s\n", k.word,
                        zarn_fost_entry_addr(path), path);
  return path;
}

// -------------------------------------------------------- design-suite root

const char zarn_fost_entry_orvane_tried[] =
    "Could not determine where Orvane is installed. Tried looking at:\n"
    "  - ORVANE_ROOTDIR_OVERRIDE environment variable,\n"
    "  - Directories near executable ";
const char zarn_fost_entry_orvane_advice[] =
    "\n  - ORVANE_ROOTDIR environment variable,\n"
    "  - PATH environment variable.\n"
    "To fix the problem, add orvane bin directory to the PATH.";

const char *zarn_fost_entry_orvane_root(const char *resolved,
                                        const char *resolved_path, char *path,
                                        zarn_fost_entry_message_fn msg_fn,
                                        std::uintptr_t user) {
  char value_buf[ZARN_FOST_ENTRY_MAX_PATH];
  char shell_path[ZARN_FOST_ENTRY_MAX_PATH];
  shell_path[0] = '\0';

  if (zarn_fost_entry_env_dir("ORVANE_ROOTDIR_OVERRIDE", value_buf, path)) {
    zarn_fost_entry_trace("finding: ORVANE OVERRIDE --> %p %s\n",
                          zarn_fost_entry_addr(path), path);
    return path;
  }

  if (zarn_fost_entry_full_path(resolved, path) == nullptr)
    return zarn_fost_entry_fail(
        path, msg_fn, user,
        "Internal error: Could not determine absolute path to executable");
  if (const char *found = zarn_fost_entry_find_up(path, "orvane", 3)) {
    zarn_fost_entry_trace("finding: ORVANE peer --> %p %p %s\n",
                          zarn_fost_entry_addr(found),
                          zarn_fost_entry_addr(path), path);
    return path;
  }

  if (zarn_fost_entry_env_dir("ORVANE_ROOTDIR", value_buf, path)) {
    zarn_fost_entry_trace("finding: ORVANE rootdir--> %p %p %s\n",
                          zarn_fost_entry_addr(path),
                          zarn_fost_entry_addr(value_buf), path);
    return path;
  }

  char shell_name[] = "orvane_sh";
  const char *shell = shell_name;
  zarn_fost_entry_find_self(&shell, shell_path, ZARN_FOST_ENTRY_MAX_PATH);
  // A failed conversion must not leave ORVANE_ROOTDIR's text to be searched
  // from as if it were the shell program.
  if (zarn_fost_entry_full_path(shell_path, value_buf) != nullptr &&
      value_buf[0] != '\0' && zarn_fost_entry_is_file(value_buf)) {
    const char *found = zarn_fost_entry_find_up(value_buf, "orvane", 3);
    zarn_fost_entry_trace("resolved orvane_sh: %s\n", value_buf);
    if (found != nullptr) {
      zarn_fost_entry_trace("finding: ORVANE peer --> %p %p %s\n",
                            zarn_fost_entry_addr(found),
                            zarn_fost_entry_addr(path), value_buf);
      strncpy(path, value_buf, ZARN_FOST_ENTRY_MAX_PATH);
      path[ZARN_FOST_ENTRY_MAX_PATH - 1] = '\0';
      return path;
    }
  }

  char msg[4196];
  plat_format(msg, sizeof msg, "%s%s%s", zarn_fost_entry_orvane_tried,
              resolved_path, zarn_fost_entry_orvane_advice);
  return zarn_fost_entry_fail(path, msg_fn, user, msg);
}

// --------------------------------------------------- design-suite directories

const char zarn_fost_entry_orvane_too_long[] =
    "Internal error: Path to Orvane program directory is too long";
const char zarn_fost_entry_ravix_missing[] =
    "Could not find the RAVIX backend directory inside Orvane";

const char *zarn_fost_entry_orvane_bindir(const char *resolved, char *path,
                                          std::size_t len,
                                          zarn_fost_entry_message_fn msg_fn,
                                          std::uintptr_t user) {
  char value_buf[ZARN_FOST_ENTRY_MAX_PATH];
  // The key names the program directory itself.
  if (zarn_fost_entry_env_dir("ORVANE_BINDIR", value_buf, path)) return path;
  if (zarn_fost_entry_query(resolved, ORVANE, path, len, msg_fn, user) ==
      nullptr)
    return zarn_fost_entry_fail(path, msg_fn, user,
                                "Could not find Orvane program directory");
  if (!zarn_fost_entry_suffix_fits(path, "/bin64"))
    return zarn_fost_entry_fail(path, msg_fn, user,
                                zarn_fost_entry_orvane_too_long);
  zarn_fost_entry_append(path, "/bin64");
  return path;
}

const char *zarn_fost_entry_ravix_backend(const char *resolved, char *path,
                                          std::size_t len,
                                          zarn_fost_entry_message_fn msg_fn,
                                          std::uintptr_t user) {
  // A set override, even an empty one, is the only road: no fall-back.
  if (const char *override_dir = getenv("ZARN_RAVIX_ROOT_OVERRIDE")) {
    std::size_t n = strlen(override_dir);
    if (n + 11 > ZARN_FOST_ENTRY_MAX_PATH)
      return zarn_fost_entry_fail(
          path, msg_fn, user,
          "Internal error: Path to RAVIX override directory is too long");
    memcpy(path, override_dir, n + 1);
    path[ZARN_FOST_ENTRY_MAX_PATH - 1] = '\0';
    zarn_fost_entry_append(path, "/windows64");
    if (!zarn_fost_entry_is_dir(path))
      return zarn_fost_entry_fail(path, msg_fn, user,
                                  zarn_fost_entry_ravix_missing);
    zarn_fost_entry_trace(
        "finding: ORVANE_RAVIX_BACKEND_DIR through override --> %p %p %s\n",
        zarn_fost_entry_addr(path), zarn_fost_entry_addr(override_dir), path);
    return path;
  }

  const char *root =
      zarn_fost_entry_query(resolved, SDK, path, len, msg_fn, user);
  if (root == nullptr)
    return zarn_fost_entry_fail(path, msg_fn, user,
                                zarn_fost_entry_ravix_missing);
  const char suffix[] = "/windows64/lib/ravix/windows64";
  if (!zarn_fost_entry_suffix_fits(path, suffix))
    return zarn_fost_entry_fail(path, msg_fn, user,
                                zarn_fost_entry_orvane_too_long);
  zarn_fost_entry_append(path, suffix);
  if (!zarn_fost_entry_is_dir(path))
    return zarn_fost_entry_fail(path, msg_fn, user,
                                zarn_fost_entry_ravix_missing);
  zarn_fost_entry_trace("finding: ORVANE_RAVIX_BACKEND_DIR --> %p %p %s\n",
                        zarn_fost_entry_addr(path), zarn_fost_entry_addr(root),
                        path);
  return path;
}

// Kinds whose answer is the design-suite root plus a suffix that is tested.
const char *zarn_fost_entry_orvane_subdir(const char *resolved,
                                          zarn_fost_entry_query_kind kind,
                                          char *path, std::size_t len,
                                          zarn_fost_entry_message_fn msg_fn,
                                          std::uintptr_t user) {
  const char *suffix = nullptr;
  const char *no_root = nullptr;
  const char *not_found = nullptr;
  switch (kind) {
    case ORVANE_PERL:
      suffix = "/bin64/perl/bin/perl.exe";
      no_root = not_found = "Could not find the Perl command inside Orvane";
      break;
    case ORVANE_JAVA:
      suffix = "/bin64/jre64/bin";
      no_root = "Could not find the java command inside Orvane";
      not_found = "Internal error: Path to Orvane java directory is not found!";
      break;
    case TESK_BUILDER:
      suffix = "/tesk_builder/bin";
      no_root = "Could not find the TESK Builder command inside Orvane";
      not_found =
          "Internal error: Path to TESK Builder directory is not found!";
      break;
    default:  // PLYX_BIN
      suffix = "/../plyx/bin";
      no_root = "Could not find the Plyx commands inside Orvane";
      break;
  }

  const char *root =
      zarn_fost_entry_query(resolved, ORVANE, path, len, msg_fn, user);
  if (root == nullptr) return zarn_fost_entry_fail(path, msg_fn, user, no_root);
  if (!zarn_fost_entry_suffix_fits(path, suffix))
    return zarn_fost_entry_fail(path, msg_fn, user,
                                zarn_fost_entry_orvane_too_long);
  zarn_fost_entry_append(path, suffix);

  if (kind == ORVANE_PERL) {
    if (!zarn_fost_entry_is_file(path))
      return zarn_fost_entry_fail(path, msg_fn, user, not_found);
    zarn_fost_entry_trace("finding: PERL --> %p %p %s\n",
                          zarn_fost_entry_addr(path),
                          zarn_fost_entry_addr(root), path);
    return path;
  }
  if (!zarn_fost_entry_is_dir(path)) {
    if (kind != PLYX_BIN)
      return zarn_fost_entry_fail(path, msg_fn, user, not_found);
    // Not an error: the formed path stays in the buffer for the caller.
    zarn_fost_entry_trace(
        "finding: PLYX_BIN --> not found, assuming Orvane Vallo Standard "
        "installation!\n");
    return zarn_fost_entry_empty_text;
  }
  if (kind == ORVANE_JAVA)
    zarn_fost_entry_trace("found JAVA --> %s\n", path);
  else if (kind == TESK_BUILDER)
    zarn_fost_entry_trace("finding: TESK_BUILDER --> %s\n", path);
  else
    zarn_fost_entry_trace("finding: PLYX_BIN --> %s\n", path);
  return path;
}

const char *const zarn_fost_entry_kind_words[] = {
    "SELF",         "SDK",           "SDK_BIN",
    "SDK_HOST_BIN", "SDK_LIB",       "SDK_HOST_LIB",
    "SDK_PERL_LIB", "SDK_PERL",      "ORVANE",
    "ORVANE_BINDIR", "ORVANE_PERL",  "ORVANE_RAVIX_BACKEND_DIR",
    "ORVANE_JAVA",  "TESK_BUILDER",  "PLYX_BIN",
};

const char zarn_fost_entry_no_share[] =
    "Could not find root directory for the SDK:  could not find the 'share' "
    "directory";

}  // namespace

// --------------------------------------------------------------- query front

const char *zarn_fost_entry_query(const char *exe_name,
                                  zarn_fost_entry_query_kind kind, char *path,
                                  std::size_t len,
                                  zarn_fost_entry_message_fn msg_fn,
                                  std::uintptr_t user) {
  if (exe_name == nullptr)
    return zarn_fost_entry_fail(
        path, msg_fn, user, "Internal error: executable name is not supplied");
  if (path == nullptr) {
    if (msg_fn != nullptr) msg_fn("Internal error: path buffer is NULL", user);
    return nullptr;
  }
  if (len < ZARN_FOST_ENTRY_MAX_PATH)
    return zarn_fost_entry_fail(path, msg_fn, user,
                                "Internal error: path buffer is too short");
  // Leaves room for the ".exe" retry and its NUL.
  if (strnlen(exe_name, ZARN_FOST_ENTRY_MAX_PATH) + 5 >=
      ZARN_FOST_ENTRY_MAX_PATH)
    return zarn_fost_entry_fail(path, msg_fn, user,
                                "Path to executable is too long");

  char resolved_path[ZARN_FOST_ENTRY_MAX_PATH];
  resolved_path[0] = '\0';
  const char *resolved = exe_name;
  zarn_fost_entry_find_self(&resolved, resolved_path, sizeof resolved_path);
  zarn_fost_entry_trace("resolved: %s\n", resolved);

  if (static_cast<std::uint32_t>(kind) > static_cast<std::uint32_t>(PLYX_BIN))
    return zarn_fost_entry_fail(path, msg_fn, user,
                                "Internal error: Bad FOST entry query request");
  zarn_fost_entry_trace("finding: %s %p\n", zarn_fost_entry_kind_words[kind],
                        zarn_fost_entry_addr(path));

  switch (kind) {
    case SELF:
      if (zarn_fost_entry_full_path(resolved, path) == nullptr) {
        zarn_fost_entry_trace("finding: SELF --> fail\n");
        return zarn_fost_entry_fail(path, msg_fn, user,
                                    "Could not resolve absolute path to command");
      }
      zarn_fost_entry_trace("finding: SELF --> %p %s\n",
                            zarn_fost_entry_addr(path), path);
      return path;
    case SDK: {
      if (zarn_fost_entry_full_path(resolved, path) == nullptr)
        return zarn_fost_entry_fail(path, msg_fn, user,
                                    "Could not resolve absolute path to command");
      if (zarn_fost_entry_find_up(path, "share", 6) == nullptr)
        return zarn_fost_entry_fail(path, msg_fn, user,
                                    zarn_fost_entry_no_share);
      char *slash = strrchr(path, '/');
      if (slash == nullptr)
        return zarn_fost_entry_fail(path, msg_fn, user,
                                    zarn_fost_entry_no_share);
      *slash = '\0';
      zarn_fost_entry_trace("finding: SDK --> %p %s\n",
                            zarn_fost_entry_addr(path), path);
      return path;
    }
    case SDK_BIN:
    case SDK_HOST_BIN:
    case SDK_LIB:
    case SDK_HOST_LIB:
    case SDK_PERL_LIB:
    case SDK_PERL:
      return zarn_fost_entry_kit_dir(resolved, kind, path, len, msg_fn, user);
    case ORVANE:
      return zarn_fost_entry_orvane_root(resolved, resolved_path, path, msg_fn,
                                         user);
    case ORVANE_BINDIR:
      return zarn_fost_entry_orvane_bindir(resolved, path, len, msg_fn, user);
    case ORVANE_RAVIX_BACKEND_DIR:
      return zarn_fost_entry_ravix_backend(resolved, path, len, msg_fn, user);
    case ORVANE_PERL:
    case ORVANE_JAVA:
    case TESK_BUILDER:
    case PLYX_BIN:
      return zarn_fost_entry_orvane_subdir(resolved, kind, path, len, msg_fn,
                                           user);
  }
  return nullptr;
}

// --------------------------------------------------------- command-line quote

namespace {

// One walk for both passes: counts what it writes, and writes when out is
// not null.
std::size_t zarn_fost_entry_quote_body(const char *text, char *out) {
  std::size_t n = 0;
  auto put = [&](char c) {
    if (out != nullptr) out[n] = c;
    ++n;
  };
  const char *p = text;
  while (*p != '\0') {
    if (*p == '\\') {
      const char *end = p;
      while (*end == '\\') ++end;
      // Doubled only where the runtime would read them as escapes: before a
      // quote, or before the closing quote at the end.
      int copies = (*end == '"' || *end == '\0') ? 2 : 1;
      for (; p < end; ++p)
        for (int i = 0; i < copies; ++i) put('\\');
      continue;
    }
    if (*p == '"') put('\\');
    put(*p);
    ++p;
  }
  return n;
}

}  // namespace

char *zarn_fost_entry_quote_arg(const char *text,
                                void *(*allocator)(std::size_t)) {
  if (allocator == nullptr || text == nullptr) return nullptr;
  std::size_t size = 1 + zarn_fost_entry_quote_body(text, nullptr) + 2;
  char *block = static_cast<char *>(allocator(size));
  if (block == nullptr) return nullptr;
  block[0] = '"';
  std::size_t body = zarn_fost_entry_quote_body(text, block + 1);
  block[1 + body] = '"';
  block[2 + body] = '\0';
  return block;
}
