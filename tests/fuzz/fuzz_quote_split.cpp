// Round trip of the child's command line: each argument quoted, the quoted
// texts joined with blanks after a first word, the line split by the child's
// rules; the words must be the arguments again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform.h"
#include "zarn_fost_entry.h"

namespace {

std::size_t alloc_calls;
std::size_t alloc_asked;

void *counting_alloc(std::size_t n) {
  ++alloc_calls;
  alloc_asked = n;
  return std::malloc(n);
}

std::string quote(const std::string &text) {
  alloc_calls = 0;
  char *q = zarn_fost_entry_quote_arg(text.c_str(), counting_alloc);
  FUZZ_CHECK(q != nullptr);
  // One block of exactly the result's size.
  FUZZ_CHECK(alloc_calls == 1);
  FUZZ_CHECK(alloc_asked == std::strlen(q) + 1);
  std::string out(q);
  std::free(q);
  return out;
}

}  // namespace

// The input holds the words separated by NUL bytes: the first is the
// program's path, the others its arguments.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  std::vector<std::string> words(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      words.emplace_back();
    else
      words.back() += static_cast<char>(data[i]);
  }

  // The first word follows its own rule: quotes only group and backslashes
  // are literal, so it comes back as the quoted body when it holds no quote.
  std::string line;
  std::string first_expected;
  if (words[0].find('"') == std::string::npos) {
    line = quote(words[0]);
    first_expected = line.substr(1, line.size() - 2);
  } else {
    line = first_expected = "prog";
  }
  for (std::size_t i = 1; i < words.size(); ++i) line += " " + quote(words[i]);

  std::vector<std::string> split = plat_split_command_line(line.c_str());
  FUZZ_CHECK(split.size() == words.size());
  FUZZ_CHECK(split[0] == first_expected);
  for (std::size_t i = 1; i < words.size(); ++i) FUZZ_CHECK(split[i] == words[i]);
  return 0;
}
