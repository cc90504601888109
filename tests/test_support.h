// Small helpers shared by the tests: temp trees, environment set-up that is
// undone afterwards, and capture of standard output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define zt_dup _dup
#define zt_dup2 _dup2
#define zt_close _close
#define zt_fileno _fileno
#else
#include <unistd.h>
#define zt_dup dup
#define zt_dup2 dup2
#define zt_close close
#define zt_fileno fileno
#endif

#include "platform.h"
#include "zarn_fost_entry.h"

namespace zt {

namespace fs = std::filesystem;

// The design-suite root query's failure text, before and after the
// launcher's path that it quotes.
inline const char kOrvaneTried[] =
    "Could not determine where Orvane is installed. Tried looking at:\n"
    "  - ORVANE_ROOTDIR_OVERRIDE environment variable,\n"
    "  - Directories near executable ";
inline const char kOrvaneAdvice[] =
    "\n  - ORVANE_ROOTDIR environment variable,\n"
    "  - PATH environment variable.\n"
    "To fix the problem, add orvane bin directory to the PATH.";

// A fresh directory below the system's temp folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
      fs::path p = fs::temp_directory_path() /
                   ("zarn-test-" + std::to_string(rd()) + std::to_string(attempt));
      std::error_code ec;
      if (fs::create_directory(p, ec)) {
        path_ = p;
        return;
      }
    }
    std::abort();
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const fs::path &path() const { return path_; }
  // The directory as the locator writes it: absolute, '/' separators.
  std::string str() const { return located(path_.string()); }

  // Creates a directory (with its parents) below the temp dir.
  fs::path dir(const std::string &rel) const {
    fs::path p = path_ / rel;
    fs::create_directories(p);
    return p;
  }
  // Creates a regular file (with its parent directories) below the temp dir.
  fs::path file(const std::string &rel, const std::string &content = "") const {
    fs::path p = path_ / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

  // The locator's absolute form of a text, computed the way it computes it.
  static std::string located(const std::string &text) {
    static char buf[ZARN_FOST_ENTRY_MAX_PATH];
    const char *r = zarn_fost_entry_full_path(text.c_str(), buf);
    return r ? std::string(r) : std::string();
  }

 private:
  fs::path path_;
};

// Sets and unsets environment keys for one test and puts them back after.
class EnvGuard {
 public:
  EnvGuard() = default;
  ~EnvGuard() {
    for (auto &[key, old] : saved_) put(key, old);
  }
  EnvGuard(const EnvGuard &) = delete;
  EnvGuard &operator=(const EnvGuard &) = delete;

  void set(const std::string &key, const std::string &value) {
    remember(key);
    put(key, value);
  }
  void unset(const std::string &key) {
    remember(key);
    put(key, std::nullopt);
  }

 private:
  void remember(const std::string &key) {
    if (saved_.count(key)) return;
    const char *v = std::getenv(key.c_str());
    saved_[key] = v ? std::optional<std::string>(v) : std::nullopt;
  }
  static void put(const std::string &key, const std::optional<std::string> &v) {
#ifdef _WIN32
    std::string a = key + "=" + (v ? *v : std::string());
    _putenv(a.c_str());
#else
    if (v)
      setenv(key.c_str(), v->c_str(), 1);
    else
      unsetenv(key.c_str());
#endif
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

// Captures what is written to standard output (printf included) between
// construction and take().
class CaptureStdout {
 public:
  CaptureStdout() {
    std::fflush(stdout);
    file_ = open_scratch();
    if (file_ == nullptr) std::abort();
    saved_ = zt_dup(zt_fileno(stdout));
    zt_dup2(zt_fileno(file_), zt_fileno(stdout));
  }
  ~CaptureStdout() {
    restore();
    if (file_) std::fclose(file_);
  }
  CaptureStdout(const CaptureStdout &) = delete;
  CaptureStdout &operator=(const CaptureStdout &) = delete;

  std::string take() {
    restore();
    std::string out;
    std::rewind(file_);
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) out.append(chunk, n);
    return out;
  }

 private:
  // A scratch file, removed when closed. The Windows runtime's tmpfile picks
  // names that collide when test programs run side by side, so there it is a
  // file of our own in the temp folder ("D": delete when closed).
  static std::FILE *open_scratch() {
#ifdef _WIN32
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
      fs::path p = fs::temp_directory_path() /
                   ("zarn-capture-" + std::to_string(rd()) + std::to_string(rd()));
      if (std::FILE *f = std::fopen(p.string().c_str(), "w+bD")) return f;
    }
    return nullptr;
#else
    return std::tmpfile();
#endif
  }
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    zt_dup2(saved_, zt_fileno(stdout));
    zt_close(saved_);
    saved_ = -1;
  }
  std::FILE *file_ = nullptr;
  int saved_ = -1;
};

// "%p" of an address, as the trace lines print it.
inline std::string ptr_text(const void *p) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

// Moves into a directory for one test and back to the old one after.
class CwdGuard {
 public:
  explicit CwdGuard(const fs::path &dir) : saved_(fs::current_path()) {
    fs::current_path(dir);
  }
  ~CwdGuard() {
    std::error_code ec;
    fs::current_path(saved_, ec);
  }
  CwdGuard(const CwdGuard &) = delete;
  CwdGuard &operator=(const CwdGuard &) = delete;

 private:
  fs::path saved_;
};

// A relative path that, joined to a directory whose located form has
// base_len characters, names a path of exactly n characters (n > base_len+1).
// Components stay well below the file systems' 255-character limit.
inline std::string deep_rel(std::size_t base_len, std::size_t n) {
  std::size_t k = n - base_len;  // what is still to add, '/' included
  std::string rel;
  while (k > 250) {
    rel += std::string(200, 'd') + "/";
    k -= 201;
  }
  return rel + std::string(k - 1, 'e');
}

// True where the runtime makes a path of 4095 characters below dir absolute
// (Linux); the msvcrt under Wine stops at 259.
inline bool long_paths(const TempDir &dir) {
  std::string deep = dir.str() + "/" + deep_rel(dir.str().size(), 4095);
  return TempDir::located(deep).size() == 4095;
}

// Collects what a query hands to its message callback: pass
// Messages::collect and word() as the callback and user word. Each text is
// kept with the user word it came with.
class Messages {
 public:
  Messages() { current() = this; }
  ~Messages() { current() = nullptr; }
  Messages(const Messages &) = delete;
  Messages &operator=(const Messages &) = delete;

  static void collect(const char *text, std::uintptr_t user) {
    if (Messages *m = current()) {
      m->texts.push_back(text);
      m->users.push_back(user);
    }
  }
  // A user word the query has no reason to make up.
  std::uintptr_t word() const { return 0x5eedf00dU; }
  // True when every text came with word().
  bool all_with_word() const {
    for (std::uintptr_t u : users)
      if (u != word()) return false;
    return true;
  }

  std::vector<std::string> texts;
  std::vector<std::uintptr_t> users;

 private:
  static Messages *&current() {
    static Messages *m = nullptr;
    return m;
  }
};

// What one query left behind.
struct Asked {
  std::vector<char> storage;  // the result buffer; its address is stable
  const char *result = nullptr;
  std::vector<std::string> texts;  // handed to the callback, in order
  bool user_word_kept = true;

  const void *addr() const { return storage.data(); }
  bool in_buffer() const { return result == storage.data(); }
  std::string buffer() const { return storage.data(); }
};

// One query into a fresh buffer of len bytes, filled with junk first so that
// an emptied buffer shows; with Messages::collect as the callback, or none.
inline Asked ask(const std::string &name, zarn_fost_entry_query_kind kind,
                 std::size_t len = ZARN_FOST_ENTRY_MAX_PATH,
                 bool with_callback = true) {
  Asked a;
  a.storage.assign(len, 'x');
  a.storage[len - 1] = '\0';
  Messages m;
  a.result = zarn_fost_entry_query(name.c_str(), kind, a.storage.data(), len,
                                   with_callback ? Messages::collect : nullptr,
                                   m.word());
  a.texts = m.texts;
  a.user_word_kept = m.all_with_word();
  return a;
}

// Raises the locator's trace level for one scope and lowers it after.
class TraceOn {
 public:
  TraceOn() { zarn_fost_entry_debug_up(); }
  ~TraceOn() { zarn_fost_entry_debug_down(); }
  TraceOn(const TraceOn &) = delete;
  TraceOn &operator=(const TraceOn &) = delete;
};

}  // namespace zt
