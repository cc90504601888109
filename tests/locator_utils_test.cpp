// The locator's path utilities and its trace level, on real temp trees.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "zarn_fost_entry.h"

namespace {

constexpr std::size_t kMax = ZARN_FOST_ENTRY_MAX_PATH;

// A full-size path buffer holding text, so that overruns show up under the
// sanitizers.
std::vector<char> path_buf(const std::string &text) {
  std::vector<char> buf(kMax, '#');
  std::memcpy(buf.data(), text.c_str(), text.size() + 1);
  return buf;
}

// ---------------------------------------------------------------- trace level

TEST(TraceLevel, CountsBothWaysAndTracesWhileNotZero) {
  zt::TempDir tmp;
  tmp.file("tool");
  zt::CwdGuard cwd(tmp.path());
  char buf[kMax] = "";

  auto traced = [&] {
    const char *name = "tool";
    zt::CaptureStdout out;
    zarn_fost_entry_search_path(&name, buf, sizeof buf);
    return out.take();
  };

  EXPECT_EQ(zarn_fost_entry_debug_level(), 0);
  EXPECT_EQ(traced(), "");
  zarn_fost_entry_debug_up();
  EXPECT_EQ(zarn_fost_entry_debug_level(), 1);
  EXPECT_EQ(traced(), "found it right away\n");
  zarn_fost_entry_debug_down();
  EXPECT_EQ(zarn_fost_entry_debug_level(), 0);
  // No floor: below zero is still "not zero", so it traces.
  zarn_fost_entry_debug_down();
  EXPECT_EQ(zarn_fost_entry_debug_level(), -1);
  EXPECT_EQ(traced(), "found it right away\n");
  zarn_fost_entry_debug_up();
  EXPECT_EQ(zarn_fost_entry_debug_level(), 0);
}

// ------------------------------------------------------------------- copy_dir

TEST(CopyDir, TrimsTrailingSeparatorsAndTurnsTheRestIntoSlashes) {
  struct Case {
    const char *value;  // null: the variable is unset
    const char *copy;
  };
  const Case cases[] = {
      {nullptr, ""},
      {"", ""},
      {"/", "/"},
      {"\\", "\\"},
      {"\\\\", "\\"},
      {"///", "/"},
      {"a", "a"},
      {"a/b/", "a/b"},
      {"D:\\kit\\", "D:/kit"},
      {"D:\\", "D:"},
      {"D:\\a\\\\b//", "D:/a//b"},
      {"\\\\srv\\share\\", "\\/srv/share"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    std::vector<char> buf = path_buf("earlier");
    EXPECT_EQ(zarn_fost_entry_copy_dir(buf.data(), c.value, kMax), buf.data());
    EXPECT_STREQ(buf.data(), c.copy);
  }
}

TEST(CopyDir, SizeZeroLeavesTheBufferAlone) {
  std::vector<char> buf = path_buf("earlier");
  EXPECT_EQ(zarn_fost_entry_copy_dir(buf.data(), "D:\\kit\\", 0), nullptr);
  EXPECT_STREQ(buf.data(), "earlier");
}

TEST(CopyDir, CutsToSizeBeforeTrimming) {
  // Size 4: the copy keeps three characters, then loses its trailing '/'.
  std::vector<char> buf = path_buf("0123456789");
  EXPECT_EQ(zarn_fost_entry_copy_dir(buf.data(), "ab/cd", 4), buf.data());
  EXPECT_STREQ(buf.data(), "ab");
  EXPECT_STREQ(buf.data() + 4, "456789") << "wrote past the given size";

  // 5000 characters into 4096 bytes: the first 4095 count, and they end in
  // a run of separators that the trim removes.
  const std::string body(4090, 'a');
  const std::string value = "D:\\" + body + "\\\\" + std::string(905, 'b');
  ASSERT_EQ(value.size(), 5000u);
  std::vector<char> big(kMax, '#');
  EXPECT_EQ(zarn_fost_entry_copy_dir(big.data(), value.c_str(), kMax),
            big.data());
  EXPECT_EQ(std::string(big.data()), "D:/" + body);
}

// -------------------------------------------------------------------- find_up

TEST(FindUp, RefusesWithoutTouchingThePath) {
  zt::TempDir tmp;
  tmp.dir("kit/share");
  tmp.file("kit/bin/tool.exe");
  const std::string start = tmp.str() + "/kit/bin/tool.exe";
  struct Case {
    const char *what;
    std::string path;
    const char *name;
    std::int32_t levels;
  };
  const Case cases[] = {
      {"levels 0", start, "share", 0},
      {"levels -1", start, "share", -1},
      {"null name", start, nullptr, 6},
      {"no '/' at all", "tool.exe", "share", 6},
      {"only backslashes", "C:\\kit\\bin\\tool.exe", "share", 6},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<char> buf = path_buf(c.path);
    EXPECT_EQ(zarn_fost_entry_find_up(buf.data(), c.name, c.levels), nullptr);
    EXPECT_EQ(std::string(buf.data()), c.path);
  }
  EXPECT_EQ(zarn_fost_entry_find_up(nullptr, "share", 6), nullptr);
}

TEST(FindUp, SearchesTheDirectoryAndItsAncestorsNearestFirst) {
  struct Case {
    const char *what;
    std::vector<std::string> dirs;   // directories named share
    std::vector<std::string> files;  // regular files named share
    const char *found;               // null: not found
    const char *left;                // the path afterwards, below the root
  };
  const Case cases[] = {
      {"nothing anywhere", {}, {}, nullptr, "/a/b/c"},
      {"in the own directory", {"a/b/c/d/e/f/g/h"}, {}, "/a/b/c/d/e/f/g/h/share",
       nullptr},
      {"fourth candidate", {"a/b/c/d/e"}, {}, "/a/b/c/d/e/share", nullptr},
      {"sixth candidate", {"a/b/c"}, {}, "/a/b/c/share", nullptr},
      {"seventh is too far", {"a/b"}, {}, nullptr, "/a/b/c"},
      {"nearest wins", {"a/b/c", "a/b/c/d/e/f"}, {}, "/a/b/c/d/e/f/share",
       nullptr},
      {"a file does not stop it", {"a/b/c/d"}, {"a/b/c/d/e/f/g/h", "a/b/c/d/e"},
       "/a/b/c/d/share", nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    zt::TempDir tmp;
    tmp.file("a/b/c/d/e/f/g/h/tool.exe");
    for (const std::string &d : c.dirs) tmp.dir(d + "/share");
    for (const std::string &f : c.files) tmp.file(f + "/share");
    std::vector<char> buf = path_buf(tmp.str() + "/a/b/c/d/e/f/g/h/tool.exe");
    const char *r = zarn_fost_entry_find_up(buf.data(), "share", 6);
    if (c.found != nullptr) {
      EXPECT_EQ(r, buf.data());
      EXPECT_EQ(std::string(buf.data()), tmp.str() + c.found);
    } else {
      EXPECT_EQ(r, nullptr);
      EXPECT_EQ(std::string(buf.data()), tmp.str() + c.left);
    }
  }
}

TEST(FindUp, SearchesAPathEndingInSlashItself) {
  zt::TempDir tmp;
  tmp.dir("kit/share");
  std::vector<char> buf = path_buf(tmp.str() + "/kit/");
  EXPECT_EQ(zarn_fost_entry_find_up(buf.data(), "share", 1), buf.data());
  EXPECT_EQ(std::string(buf.data()), tmp.str() + "/kit/share");
}

TEST(FindUp, RunningOutOfSlashesStopsEarly) {
  // From /tool only /orvane is a candidate; the cut leaves nothing.
  std::vector<char> buf = path_buf("/tool");
  EXPECT_EQ(zarn_fost_entry_find_up(buf.data(), "orvane", 3), nullptr);
  EXPECT_STREQ(buf.data(), "");
}

TEST(FindUp, FirstCandidateMustFitThePathBuffer) {
  // The text up to the last '/', the '/', the name and the NUL must fit in
  // 4096 bytes. A formed candidate shows in the cut-back path afterwards; one
  // that does not fit leaves the path as it was.
  const std::size_t name_len = std::strlen("share");
  for (std::size_t slash_at : {kMax - name_len - 2, kMax - name_len - 1}) {
    SCOPED_TRACE(slash_at);
    const std::string dir = "/" + std::string(slash_at - 1, 'd');
    const std::string path = dir + "/tool";
    ASSERT_LT(path.size(), kMax);
    std::vector<char> buf = path_buf(path);
    EXPECT_EQ(zarn_fost_entry_find_up(buf.data(), "share", 1), nullptr);
    const bool fits = slash_at + name_len + 2 <= kMax;
    EXPECT_EQ(std::string(buf.data()), fits ? dir : path);
  }
}

// ---------------------------------------------------------- is_dir / is_file

TEST(StatusTests, TellDirectoriesFromRegularFiles) {
  zt::TempDir tmp;
  tmp.dir("d");
  tmp.file("f", "x");
  struct Case {
    const char *what;
    std::string path;
    bool null;
    int is_dir;
    int is_file;
  };
  const Case cases[] = {
      {"directory", tmp.str() + "/d", false, 1, 0},
      {"regular file", tmp.str() + "/f", false, 0, 1},
      {"missing", tmp.str() + "/none", false, 0, 0},
      {"below a file", tmp.str() + "/f/x", false, 0, 0},
      {"null", "", true, 0, 0},
#ifndef _WIN32
      {"character device", "/dev/null", false, 0, 0},
#endif
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const char *p = c.null ? nullptr : c.path.c_str();
    EXPECT_EQ(zarn_fost_entry_is_dir(p), c.is_dir);
    EXPECT_EQ(zarn_fost_entry_is_file(p), c.is_file);
  }
}

// ------------------------------------------------------------------ full_path

TEST(FullPath, NullArgumentsGiveNull) {
  char buf[kMax];
  EXPECT_EQ(zarn_fost_entry_full_path(nullptr, buf), nullptr);
  EXPECT_EQ(zarn_fost_entry_full_path("a", nullptr), nullptr);
}

TEST(FullPath, JoinsRelativeSourcesWithTheCurrentDirectory) {
  zt::TempDir tmp;
  zt::CwdGuard cwd(tmp.path());
  const std::string root = tmp.str();
  std::string back_root = root;
  for (char &ch : back_root)
    if (ch == '/') ch = '\\';
  // Nothing of these names exists.
  struct Case {
    std::string source;
    std::string expected;
  };
  const Case cases[] = {
      {"a\\b", root + "/a/b"},
      {"a/b", root + "/a/b"},
      {"x/./y/../z", root + "/x/z"},
      {".", root},
      {back_root + "\\q\\r", root + "/q/r"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.source);
    std::vector<char> buf(kMax, '#');
    EXPECT_EQ(zarn_fost_entry_full_path(c.source.c_str(), buf.data()),
              buf.data());
    EXPECT_EQ(std::string(buf.data()), c.expected);
  }
}

TEST(FullPath, ResultMustFitThePathBuffer) {
  zt::TempDir tmp;
  zt::CwdGuard cwd(tmp.path());
  // cwd + '/' + name: 4095 characters fit with the NUL, 4096 do not.
  const std::size_t room = kMax - 1 - tmp.str().size() - 1;
  std::vector<char> buf(kMax, '#');
#ifndef _WIN32
  // The Windows runtime of the test leg gives up at 260 characters.
  const std::string fits(room, 'n');
  ASSERT_EQ(zarn_fost_entry_full_path(fits.c_str(), buf.data()), buf.data());
  EXPECT_EQ(std::string(buf.data()), tmp.str() + "/" + fits);
#endif

  const std::string too_long(room + 1, 'n');
  EXPECT_EQ(zarn_fost_entry_full_path(too_long.c_str(), buf.data()), nullptr);
  const std::string far_too_long(5000, 'n');
  EXPECT_EQ(zarn_fost_entry_full_path(far_too_long.c_str(), buf.data()),
            nullptr);
}

}  // namespace
