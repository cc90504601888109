// The tool name cut out of a path in place: it starts after the last '/'
// (or, without one, the last '\'), loses one exact ".exe" or ".EXE" ending,
// is lowercased in A to Z only, and nothing before it or past its end moves.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "launcher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  text = text.c_str();

  // Exactly the text and its NUL, so that ASan sees any access past it.
  char *buf = static_cast<char *>(std::malloc(text.size() + 1));
  std::memcpy(buf, text.c_str(), text.size() + 1);
  char *name = l_tool_name(buf);

  std::size_t start = text.rfind('/');
  if (start == std::string::npos) start = text.rfind('\\');
  start = start == std::string::npos ? 0 : start + 1;
  std::string base = text.substr(start);
  std::size_t len = base.size();
  if (len >= 4 && (base.compare(len - 4, 4, ".exe") == 0 ||
                   base.compare(len - 4, 4, ".EXE") == 0))
    len -= 4;

  FUZZ_CHECK(name == buf + start);
  FUZZ_CHECK(std::memcmp(buf, text.data(), start) == 0);
  FUZZ_CHECK(std::strlen(name) == len);
  for (std::size_t i = 0; i < len; ++i) {
    char c = base[i];
    FUZZ_CHECK(name[i] == (c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  }
  // A removed ending keeps its letters after the new terminator.
  if (len < base.size())
    FUZZ_CHECK(std::memcmp(name + len + 1, base.data() + len + 1, 3) == 0);
  std::free(buf);
  return 0;
}
