// Installation locator: answers where the launcher, the kit and the design
// suite are, and holds the path utilities the launcher shares.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of every path buffer; a path in one has at most 4095 characters.
constexpr std::size_t ZARN_FOST_ENTRY_MAX_PATH = 4096;

// The fixed underlying type keeps any 32-bit number expressible, so a caller
// can still ask for kind 15 or -1 and be told the request is bad.
enum zarn_fost_entry_query_kind : std::int32_t {
  SELF = 0,
  SDK = 1,
  SDK_BIN = 2,
  SDK_HOST_BIN = 3,
  SDK_LIB = 4,
  SDK_HOST_LIB = 5,
  SDK_PERL_LIB = 6,
  SDK_PERL = 7,
  ORVANE = 8,
  ORVANE_BINDIR = 9,
  ORVANE_PERL = 10,
  ORVANE_RAVIX_BACKEND_DIR = 11,
  ORVANE_JAVA = 12,
  TESK_BUILDER = 13,
  PLYX_BIN = 14,
};

// Receives each failure text (valid only during the call) and the caller's
// user word.
typedef void (*zarn_fost_entry_message_fn)(const char *text,
                                           std::uintptr_t user);

// Answers one location query into path (at least 4096 bytes). Returns path,
// or null after handing the failure texts to msg_fn (innermost first) and
// emptying path. PLYX_BIN may also return a constant empty text.
const char *zarn_fost_entry_query(const char *exe_name,
                                  zarn_fost_entry_query_kind kind, char *path,
                                  std::size_t len,
                                  zarn_fost_entry_message_fn msg_fn,
                                  std::uintptr_t user);

// Trace level: the locator traces to standard output while it is not 0.
std::int32_t zarn_fost_entry_debug_level(void);
void zarn_fost_entry_debug_up(void);
void zarn_fost_entry_debug_down(void);

// Path utilities.
char *zarn_fost_entry_copy_dir(char *dst, const char *value, std::size_t size);
char *zarn_fost_entry_find_up(char *path, const char *name,
                              std::int32_t levels);
int zarn_fost_entry_is_dir(const char *path);
int zarn_fost_entry_is_file(const char *path);
char *zarn_fost_entry_full_path(const char *src, char *dst);

// Executable resolution: on success *my_executable_ptr is set to buf.
void zarn_fost_entry_find_self(const char **my_executable_ptr, char *buf,
                               std::size_t len);
void zarn_fost_entry_search_path(const char **my_executable_ptr, char *buf,
                                 std::size_t len);

// Kit root plus a sub-directory that must exist.
const char *zarn_fost_entry_sdk_subdir(const char *exe_name, char *path,
                                       std::size_t len,
                                       zarn_fost_entry_message_fn msg_fn,
                                       std::uintptr_t user, const char *subdir,
                                       const char *desc);

// Platform word of the kit's per-platform directories.
const char *zarn_fost_entry_platform(void);
void zarn_fost_entry_set_platform(const char *platform);

// Quoted copy of one argument for a Windows command line, in one block from
// allocator; null for a null text or allocator, or when allocation fails.
char *zarn_fost_entry_quote_arg(const char *text,
                                void *(*allocator)(std::size_t));
