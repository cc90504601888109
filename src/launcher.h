// The launcher: the program's whole run, and the state it decides. The state
// is plain static data of the module, declared here so that the module's
// functions can be exercised one at a time.
#pragma once

#include <cstdint>

#include "zarn_fost_entry.h"

// Resolved locations, each filled by one query (empty when not found).
extern char self_path[ZARN_FOST_ENTRY_MAX_PATH];
extern char sdk[ZARN_FOST_ENTRY_MAX_PATH];
extern char sdk_bin[ZARN_FOST_ENTRY_MAX_PATH];
extern char sdk_host_bin[ZARN_FOST_ENTRY_MAX_PATH];
extern char sdk_lib[ZARN_FOST_ENTRY_MAX_PATH];
extern char orvane[ZARN_FOST_ENTRY_MAX_PATH];
extern char orvane_bin[ZARN_FOST_ENTRY_MAX_PATH];
extern char orvane_ravix_backend[ZARN_FOST_ENTRY_MAX_PATH];
extern char orvane_java[ZARN_FOST_ENTRY_MAX_PATH];
extern char tesk_builder[ZARN_FOST_ENTRY_MAX_PATH];
extern char plyx_bin[ZARN_FOST_ENTRY_MAX_PATH];
extern char perl_exe[ZARN_FOST_ENTRY_MAX_PATH];
extern char perl_fulllib[ZARN_FOST_ENTRY_MAX_PATH];
extern char perl_message[ZARN_FOST_ENTRY_MAX_PATH];

extern std::int32_t require_hld_compiler;
extern std::int32_t require_orvane;
extern std::int32_t sdk_present;
extern std::int32_t verbose;
extern std::int32_t fast_emulator;
extern std::int32_t skip_orvane_bin;

extern const char *perl_override;

// Failure collector store.
constexpr int L_ERROR_SLOTS = 20;
extern char error_texts[L_ERROR_SLOTS][ZARN_FOST_ENTRY_MAX_PATH];
extern std::int32_t error_count;

// Environment buffers: a text fits when it has at most 16,777,215 characters.
constexpr std::size_t L_ENV_BUFFER_SIZE = 16777216;
extern char env_assignment[L_ENV_BUFFER_SIZE];
extern char env_joined[L_ENV_BUFFER_SIZE];

// Tool name cut out of a path or invocation name, in place.
char *l_tool_name(char *text);
// The message callback of required queries.
void l_collect_error(const char *text, std::uintptr_t user);
// Prints the fatal report and ends the process with status 1.
[[noreturn]] void l_fatal(char *exe_name);

std::int32_t l_setenv(const char *name, const char *value);
std::int32_t l_prepend_path(const char *name, const char *value);
std::int32_t l_setup_environment(void);

// Consumes the leading options, packs the passed-on words into argv[1..],
// sets the flags; returns kept_argc. Ends the process with status 3 when a
// leading --perl has no value.
std::int32_t l_scan_options(int argc, char **argv);

// The launch sequence; main hands its arguments to it and returns its result.
int l_main(int argc, char **argv);
