// Small helpers shared by the tests: temp trees, environment set-up that is
// undone afterwards, and capture of standard output.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>

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
    file_ = std::tmpfile();
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

}  // namespace zt
