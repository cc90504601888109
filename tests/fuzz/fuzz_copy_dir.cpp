// The trimmed copy of an environment value: never a write past the given
// size, always terminated, no trailing separator but at position 0, no '\'
// after position 0, and otherwise the value's own bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "zarn_fost_entry.h"

namespace {

bool is_sep(char c) { return c == '/' || c == '\\'; }

}  // namespace

// Input: two bytes of size (0 to 4096), one byte whose low bit asks for an
// unset value, then the value up to its first NUL.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size < 3) return 0;
  std::size_t dst_size = (data[0] | (std::size_t{data[1]} << 8)) % 4097;
  bool unset = (data[2] & 1) != 0;
  std::string value(reinterpret_cast<const char *>(data + 3), size - 3);
  value = value.c_str();

  // Exactly the size given, so that ASan sees any write past it.
  char *dst = static_cast<char *>(std::malloc(dst_size));
  char *r = zarn_fost_entry_copy_dir(dst, unset ? nullptr : value.c_str(), dst_size);
  if (dst_size == 0) {
    FUZZ_CHECK(r == nullptr);
    std::free(dst);
    return 0;
  }
  FUZZ_CHECK(r == dst);
  FUZZ_CHECK(std::memchr(dst, 0, dst_size) != nullptr);
  std::size_t n = std::strlen(dst);
  if (unset) {
    FUZZ_CHECK(n == 0);
    std::free(dst);
    return 0;
  }

  std::size_t cut = value.size() < dst_size - 1 ? value.size() : dst_size - 1;
  FUZZ_CHECK(n <= cut);
  FUZZ_CHECK(cut == 0 || n >= 1);
  if (n >= 1) FUZZ_CHECK(dst[0] == value[0]);
  for (std::size_t i = 1; i < n; ++i) {
    FUZZ_CHECK(dst[i] != '\\');
    FUZZ_CHECK(dst[i] == (is_sep(value[i]) ? '/' : value[i]));
  }
  if (n >= 2) FUZZ_CHECK(!is_sep(dst[n - 1]));
  // Only the trailing run of separators was dropped.
  for (std::size_t i = n; i < cut; ++i) FUZZ_CHECK(is_sep(value[i]));
  std::free(dst);
  return 0;
}
