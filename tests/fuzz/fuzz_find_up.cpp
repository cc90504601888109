// The ancestor search on generated paths against a small real tree: the
// result and what the path buffer holds afterwards must be those of trying
// at most `levels` candidates, nearest first, each formed after the path's
// last remaining '/', and never a write past the 4096-byte buffer.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_check.h"
#include "zarn_fost_entry.h"

namespace {

namespace fs = std::filesystem;

std::string tree;

void remove_tree() {
  std::error_code ec;
  fs::remove_all(tree, ec);
}

// share and orvane at several depths, and files that bear those names.
void make_tree() {
  std::string templ = (fs::temp_directory_path() / "zarn-fuzz-XXXXXX").string();
  FUZZ_CHECK(mkdtemp(templ.data()) != nullptr);
  tree = templ;
  std::atexit(remove_tree);
  for (const char *d : {"a/b/c/d/e/f/g/h", "a/share", "a/b/c/d/e/share",
                        "orvane", "a/b/x/orvane", "a/b/c/d/e/f/g/h/b"})
    fs::create_directories(fs::path(tree) / d);
  for (const char *f : {"a/b/c/share", "a/b/c/d/e/f/orvane", "a/b/x/tool"})
    std::ofstream(fs::path(tree) / f) << "x";
}

bool is_dir(const std::string &p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && (st.st_mode & 0x4000) &&
         !(st.st_mode & 0x8000);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  make_tree();
  return 0;
}

// Input: levels (a signed byte), the name's choice, the path's shape (bit 0:
// below the tree, bit 1: padded towards the buffer's end), a length byte,
// then the path's own text up to its first NUL.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size < 4) return 0;
  std::int32_t levels = static_cast<std::int8_t>(data[0]);
  std::size_t length = std::size_t{data[3]} * 20;
  std::string name;
  bool null_name = false;
  switch (data[1] % 8) {
    case 0: name = "share"; break;
    case 1: name = "orvane"; break;
    case 2: name = ""; break;
    case 3: name = "b"; break;
    case 4: null_name = true; break;
    case 5: name = std::string(length, 'n'); break;
    case 6: name = "a/b"; break;
    default: name = "share/.."; break;
  }
  std::string text(reinterpret_cast<const char *>(data + 4), size - 4);
  text = text.c_str();
  if (data[2] & 1) text = tree + "/" + text;
  // Puts the last '/' near the end of the buffer, where the candidate's fit
  // is decided.
  if (data[2] & 2) text += "/" + std::string(length, 'z');
  if (text.size() > ZARN_FOST_ENTRY_MAX_PATH - 1)
    text.erase(0, text.size() - (ZARN_FOST_ENTRY_MAX_PATH - 1));

  char *buf = static_cast<char *>(std::malloc(ZARN_FOST_ENTRY_MAX_PATH));
  std::memcpy(buf, text.c_str(), text.size() + 1);
  char *r = zarn_fost_entry_find_up(buf, null_name ? nullptr : name.c_str(), levels);

  std::string want = text;
  bool found = false;
  if (!null_name) {
    for (std::int32_t k = 0; k < levels; ++k) {
      std::size_t slash = want.rfind('/');
      if (slash == std::string::npos ||
          slash + name.size() + 2 > ZARN_FOST_ENTRY_MAX_PATH)
        break;
      std::string candidate = want.substr(0, slash + 1) + name;
      if (is_dir(candidate)) {
        want = candidate;
        found = true;
        break;
      }
      want.erase(slash);
    }
  }
  FUZZ_CHECK(r == (found ? buf : nullptr));
  FUZZ_CHECK(std::memchr(buf, 0, ZARN_FOST_ENTRY_MAX_PATH) != nullptr);
  FUZZ_CHECK(want == buf);
  std::free(buf);
  return 0;
}
