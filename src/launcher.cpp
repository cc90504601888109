// The launcher: names the tool, finds what its script needs, prepares the
// child's environment and runs the script with the kit's Perl.
#include "launcher.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

char self_path[ZARN_FOST_ENTRY_MAX_PATH];
char sdk[ZARN_FOST_ENTRY_MAX_PATH];
char sdk_bin[ZARN_FOST_ENTRY_MAX_PATH];
char sdk_host_bin[ZARN_FOST_ENTRY_MAX_PATH];
char sdk_lib[ZARN_FOST_ENTRY_MAX_PATH];
char orvane[ZARN_FOST_ENTRY_MAX_PATH];
char orvane_bin[ZARN_FOST_ENTRY_MAX_PATH];
char orvane_ravix_backend[ZARN_FOST_ENTRY_MAX_PATH];
char orvane_java[ZARN_FOST_ENTRY_MAX_PATH];
char tesk_builder[ZARN_FOST_ENTRY_MAX_PATH];
char plyx_bin[ZARN_FOST_ENTRY_MAX_PATH];
char perl_exe[ZARN_FOST_ENTRY_MAX_PATH];
char perl_fulllib[ZARN_FOST_ENTRY_MAX_PATH];
char perl_message[ZARN_FOST_ENTRY_MAX_PATH];

std::int32_t require_hld_compiler = 1;
std::int32_t require_orvane = 0;
std::int32_t sdk_present = 0;
std::int32_t verbose = 0;
std::int32_t fast_emulator = 0;
std::int32_t skip_orvane_bin = 0;

const char *perl_override = nullptr;

char error_texts[L_ERROR_SLOTS][ZARN_FOST_ENTRY_MAX_PATH];
std::int32_t error_count = 0;

char env_assignment[L_ENV_BUFFER_SIZE];
char env_joined[L_ENV_BUFFER_SIZE];

namespace {

// A formatted text fits when it left room for its terminator.
bool l_fits(int formatted, std::size_t size) {
  return formatted >= 0 && static_cast<std::size_t>(formatted) < size;
}

// The quoting's allocator, so that the vector's copies come from malloc and
// go back with free.
void *l_alloc(std::size_t size) { return std::malloc(size); }

// A required location: its failure texts are collected and end the run.
void l_require(char *exe_name, zarn_fost_entry_query_kind kind, char *buf) {
  if (zarn_fost_entry_query(exe_name, kind, buf, ZARN_FOST_ENTRY_MAX_PATH,
                            l_collect_error, 0) == nullptr)
    l_fatal(exe_name);
}

// A best-effort location: an empty buffer tells the set-up it was not found.
const char *l_try(const char *exe_name, zarn_fost_entry_query_kind kind,
                  char *buf) {
  return zarn_fost_entry_query(exe_name, kind, buf, ZARN_FOST_ENTRY_MAX_PATH,
                               nullptr, 0);
}

// One action of the set-up: on failure its own line tells which one it was.
bool l_step(std::int32_t ok, const char *line) {
  if (ok == 0) std::printf("%s", line);
  return ok != 0;
}

// The interpreter's version banner. It is started as the child is, with no
// command interpreter in between to read blanks, quotes or '&' in its path.
// Its result is not used, and without memory to quote it the run goes on
// without it.
void l_show_banner(void) {
  char *banner[] = {zarn_fost_entry_quote_arg(perl_exe, l_alloc),
                    zarn_fost_entry_quote_arg("-v", l_alloc), nullptr};
  if (banner[0] != nullptr && banner[1] != nullptr) {
    // What was printed so far comes before it.
    std::fflush(stdout);
    plat_spawnv_wait(perl_exe, banner);
  }
  std::free(banner[0]);
  std::free(banner[1]);
}

void l_free_vector(char **vector, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) std::free(vector[i]);
  std::free(vector);
}

}  // namespace

// ------------------------------------------------------ tool name and report

char *l_tool_name(char *text) {
  char *name = text;
  char *sep = std::strrchr(text, '/');
  if (sep == nullptr) sep = std::strrchr(text, '\\');
  if (sep != nullptr) name = sep + 1;

  char *dot = std::strrchr(name, '.');
  if (dot != nullptr &&
      (std::strcmp(dot, ".exe") == 0 || std::strcmp(dot, ".EXE") == 0))
    *dot = '\0';

  for (char *p = name; *p != '\0'; ++p)
    *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return name;
}

void l_collect_error(const char *text, std::uintptr_t) {
  if (error_count < L_ERROR_SLOTS) {
    // The slot's last byte is never written, so every kept text ends there.
    std::strncpy(error_texts[error_count], text, ZARN_FOST_ENTRY_MAX_PATH - 1);
  }
  // Only whether the store is full matters later; the count just must not
  // wrap round into the slots again.
  if (error_count < INT32_MAX) ++error_count;
}

void l_fatal(char *exe_name) {
  // A runtime may start us without even an invocation name.
  const char *tool = exe_name != nullptr ? l_tool_name(exe_name) : "";
  const char *title = "Norvex(R) Calvetta Runtime Environment";
  if (std::strcmp(tool, "nx++") == 0)
    title = "Norvex(R) HLS Compiler";
  else if (sdk_present != 0)
    title = "Norvex(R) Calvetta SDK";

  std::printf("%s: Unable to determine the execution environment of the %s.\n",
              tool, title);
  std::int32_t kept = error_count < L_ERROR_SLOTS ? error_count : L_ERROR_SLOTS;
  for (std::int32_t i = 0; i < kept; ++i)
    std::printf("%s:     Detailed error: %s\n", tool, error_texts[i]);
  std::exit(1);
}

// -------------------------------------------------------- child environment

std::int32_t l_setenv(const char *name, const char *value) {
  int r =
      plat_format(env_assignment, sizeof env_assignment, "%s=%s", name, value);
  if (!l_fits(r, sizeof env_assignment)) {
    std::printf("Environment variable %s is too long\n", name);
    return 0;
  }
  return plat_putenv(env_assignment) == 0 ? 1 : 0;
}

std::int32_t l_prepend_path(const char *name, const char *value) {
  const char *old = std::getenv(name);
  if (verbose != 0) std::printf("Prepend %s with %s\n", name, value);
  if (old == nullptr) return l_setenv(name, value);

  int r = plat_format(env_joined, sizeof env_joined, "%s;%s", value, old);
  if (!l_fits(r, sizeof env_joined)) return 0;
  r = plat_format(env_assignment, sizeof env_assignment, "%s=%s", name,
                  env_joined);
  if (!l_fits(r, sizeof env_assignment)) {
    std::printf("Environment variable %s is too long\n", name);
    return 0;
  }
  return plat_putenv(env_assignment) == 0 ? 1 : 0;
}

std::int32_t l_setup_environment(void) {
  if (orvane_ravix_backend[0] != '\0' && fast_emulator == 0 &&
      !l_step(l_prepend_path("PATH", orvane_ravix_backend),
              "Failed l_prepend_path( \"PATH\", orvane_ravix_backend )\n"))
    return 0;

  if (orvane_bin[0] != '\0' && fast_emulator == 0 && skip_orvane_bin == 0) {
    if (!l_step(l_prepend_path("PATH", orvane_bin),
                "Failed l_prepend_path( \"PATH\", orvane_bin )\n"))
      return 0;
    if (!l_step(l_prepend_path("LD_LIBRARY_PATH", orvane_bin),
                "Failed l_prepend_path( \"LD_LIBRARY_PATH\", orvane_bin )\n"))
      return 0;
    if (!l_step(l_setenv("ORVANE_64BIT", "1"),
                "Failed l_setenv( \"ORVANE_64BIT\", \"1\" )\n"))
      return 0;
  }

  if (orvane[0] != '\0' &&
      !l_step(l_setenv("ORVANE_ROOTDIR", orvane),
              "Failed l_setenv( \"ORVANE_ROOTDIR\", orvane )\n"))
    return 0;
  if (orvane_java[0] != '\0' &&
      !l_step(l_prepend_path("PATH", orvane_java),
              "Failed l_prepend_path( \"PATH\", orvane_java )\n"))
    return 0;
  if (tesk_builder[0] != '\0' &&
      !l_step(l_prepend_path("PATH", tesk_builder),
              "Failed l_prepend_path( \"PATH\", tesk_builder )\n"))
    return 0;
  if (plyx_bin[0] != '\0' &&
      !l_step(l_prepend_path("PATH", plyx_bin),
              "Failed l_prepend_path( \"PATH\", plyx_bin )\n"))
    return 0;

  if (!l_step(l_setenv("NORVEXCALVETTASDKROOT", sdk),
              "Failed l_setenv( \"NORVEXCALVETTASDKROOT\", sdk )\n"))
    return 0;
  if (sdk_bin[0] != '\0' &&
      !l_step(l_prepend_path("PATH", sdk_bin),
              "Failed l_prepend_path( \"PATH\", sdk_bin )\n"))
    return 0;
  if (!l_step(l_prepend_path("PATH", sdk_host_bin),
              "Failed l_prepend_path(\"PATH\", sdk_host_bin )\n"))
    return 0;

  // A kit root found by the locator always leaves room for "/bin"; a cut
  // text would name the wrong directory, so it counts as this step failing.
  char wrapper_bin[ZARN_FOST_ENTRY_MAX_PATH];
  const char *wrapper_line = "Failed l_prepend_path( \"PATH\", wrapper_bin )\n";
  if (!l_fits(plat_format(wrapper_bin, sizeof wrapper_bin, "%s/bin", sdk),
              sizeof wrapper_bin)) {
    l_step(0, wrapper_line);
    return 0;
  }
  if (!l_step(l_prepend_path("PATH", wrapper_bin), wrapper_line)) return 0;

  if (!l_step(l_setenv("PERL_BADLANG", "0"),
              "Failed l_setenv( \"PERL_BADLANG\", \"0\" )\n"))
    return 0;
  if (!l_step(l_prepend_path("PERL5LIB", perl_fulllib),
              "Failed l_prepend_path (\"PERL5LIB\", perl_fulllib)\n"))
    return 0;
  return 1;
}

// ---------------------------------------------------------------- option scan

std::int32_t l_scan_options(int argc, char **argv) {
  std::int32_t kept_argc = 1;
  if (argc <= 1) return kept_argc;

  int leading_phase = 1;
  int no_target = 1;
  int sycl_seen = 0;
  int createlib_seen = 0;
  int cl_argument_seen = 0;

  // kept_argc never passes i, so packing words to the front never overwrites
  // one not yet read, and argv[i + 1] is still the next word as given.
  for (int i = 1; i < argc; ++i) {
    char *w = argv[i];
    if (leading_phase != 0) {
      if (std::strcmp(w, "--perl") == 0) {
        if (i + 1 >= argc) {
          std::printf("%s: Option --perl requires an argument.\n",
                      l_tool_name(argv[0]));
          std::exit(3);
        }
        perl_override = argv[i + 1];
        ++i;
        continue;
      }
      if (std::strcmp(w, "--standalone") == 0) {
        argv[kept_argc++] = w;
        continue;
      }
      leading_phase = 0;
    }

    argv[kept_argc++] = w;
    if (std::strcmp(w, "-fast-emulator") == 0) {
      fast_emulator = 1;
    } else if (std::strcmp(w, "-simulator") == 0 ||
               std::strcmp(w, "-hardware") == 0) {
      no_target = 0;
    } else if (std::strcmp(w, "-sycl") == 0) {
      sycl_seen = 1;
    } else if (std::strcmp(w, "--source") == 0) {
      if (i + 1 < argc && std::strcmp(argv[i + 1], "ocl") == 0)
        skip_orvane_bin = 1;
    } else if (std::strcmp(w, "-createlibobjectforsycl") == 0) {
      createlib_seen = 1;
    }
    // Byte order, not a suffix test: every word that sorts after ".cl"
    // counts, so any word that begins with a letter, a digit or a slash.
    if (std::strcmp(w, ".cl") > 0) cl_argument_seen = 1;
  }

  if (no_target != 0 && sycl_seen != 0) skip_orvane_bin = 1;
  if (createlib_seen != 0 && cl_argument_seen != 0) skip_orvane_bin = 1;
  return kept_argc;
}

// ------------------------------------------------------------ launch sequence

int l_main(int argc, char **argv) {
  const char *platform = zarn_fost_entry_platform();
  char *exe_name = argc > 0 ? argv[0] : nullptr;

  if (std::getenv("KELMO_ENTRY_DEBUG") != nullptr) {
    verbose = 1;
    zarn_fost_entry_debug_up();
  }

  std::int32_t kept_argc = 1;
  if (argc > 1) kept_argc = l_scan_options(argc, argv);
  std::size_t n = static_cast<std::size_t>(kept_argc - 1);

  l_require(exe_name, SELF, self_path);
  char *tool = l_tool_name(self_path);
  if (std::strcmp(tool, "kelmo") == 0) require_hld_compiler = 0;

  if (verbose != 0) {
    if (perl_override != nullptr) std::printf("Perl is '%s'\n", perl_override);
    std::printf("Require HLD compiler? %d\n", require_hld_compiler);
    std::printf("Require Orvane? %d\n", require_orvane);
  }

  l_require(exe_name, SDK, sdk);

  // The first look decides the product the report names; only the second
  // one, for tools that need the directory, reports why it is missing.
  sdk_present = l_try(exe_name, SDK_BIN, sdk_bin) != nullptr ? 1 : 0;
  if (require_hld_compiler != 0 && sdk_present == 0) {
    zarn_fost_entry_query(exe_name, SDK_BIN, sdk_bin, ZARN_FOST_ENTRY_MAX_PATH,
                          l_collect_error, 0);
    l_fatal(exe_name);
  }

  l_require(exe_name, SDK_HOST_BIN, sdk_host_bin);
  if (require_hld_compiler != 0) {
    l_require(exe_name, SDK_BIN, sdk_bin);
    if (platform != nullptr && std::strcmp(platform, "linux64") == 0)
      l_require(exe_name, SDK_LIB, sdk_lib);
  }

  l_try(exe_name, ORVANE, orvane);
  l_try(exe_name, ORVANE_BINDIR, orvane_bin);
  l_try(exe_name, TESK_BUILDER, tesk_builder);
  l_try(exe_name, PLYX_BIN, plyx_bin);
  l_try(exe_name, ORVANE_RAVIX_BACKEND_DIR, orvane_ravix_backend);
  l_try(exe_name, ORVANE_JAVA, orvane_java);

  if (perl_override != nullptr) {
    if (zarn_fost_entry_full_path(perl_override, perl_exe) == nullptr) {
      plat_format(perl_message, sizeof perl_message,
                  "Can't find the specified Perl executable: %s",
                  perl_override);
      l_collect_error(perl_message, 0);
      l_fatal(exe_name);
    }
  } else {
    l_require(exe_name, SDK_PERL, perl_exe);
    l_require(exe_name, SDK_PERL_LIB, perl_fulllib);
  }

  char script[ZARN_FOST_ENTRY_MAX_PATH];
  if (!l_fits(plat_format(script, sizeof script, "%s/share/lib/perl/zarn/%s.pl",
                          sdk, tool),
              sizeof script)) {
    std::printf(
        "%s: Could not launch internal command: The path to %s is too long.\n",
        tool, sdk);
    std::exit(2);
  }
  if (verbose != 0) std::printf("script is %s\n", script);

  std::size_t count = n + 3;
  char **vector = static_cast<char **>(std::malloc(count * sizeof *vector));
  if (vector == nullptr) {
    std::printf("%s: Could not allocate memory for argument list.", tool);
    return 3;
  }
  vector[0] = perl_exe;
  vector[1] = script;
  for (std::size_t i = 0; i < n; ++i) vector[2 + i] = argv[1 + i];
  vector[n + 2] = nullptr;

  if (l_setup_environment() == 0) {
    std::printf("%s: Could not set environment for SDK\n", tool);
    std::exit(4);
  }

  if (require_hld_compiler != 0 && verbose != 0) {
    l_show_banner();
    for (std::size_t i = 0; vector[i] != nullptr; ++i)
      std::printf("[%d] %s\n", static_cast<int>(i), vector[i]);
  }

  std::fflush(stdout);

  for (std::size_t i = 0; vector[i] != nullptr; ++i) {
    char *quoted = zarn_fost_entry_quote_arg(vector[i], l_alloc);
    if (quoted == nullptr) {
      std::printf("%s: Could not allocate memory for argument list.", tool);
      // Entries from i on are still the originals, which are not ours.
      for (std::size_t j = i; j < count; ++j) vector[j] = nullptr;
      l_free_vector(vector, count);
      return 3;
    }
    vector[i] = quoted;
    if (verbose != 0) std::printf("[%d] %s\n", static_cast<int>(i), quoted);
  }

  std::intptr_t status = plat_spawnv_wait(perl_exe, vector);
  l_free_vector(vector, count);
  return static_cast<int>(status);
}
