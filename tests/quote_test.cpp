// Quoting of one argument for a Windows command line.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform.h"
#include "probe_reader.h"
#include "test_support.h"
#include "zarn_fost_entry.h"

namespace {

// An allocator that counts its calls and remembers the sizes asked for; it
// fails on request.
struct Counting {
  static inline int calls = 0;
  static inline std::size_t last_size = 0;
  static inline bool fail = false;
  static void reset() {
    calls = 0;
    last_size = 0;
    fail = false;
  }
  static void *alloc(std::size_t n) {
    ++calls;
    last_size = n;
    return fail ? nullptr : std::malloc(n);
  }
};

struct QuoteCase {
  const char *text;
  const char *result;
  std::size_t block;
};

const QuoteCase kQuoteCases[] = {
    // The worked examples.
    {"abc", "\"abc\"", 6},
    {"", "\"\"", 3},
    {"D:\\tools\\file", "\"D:\\tools\\file\"", 16},
    {"D:\\tools\\", "\"D:\\tools\\\\\"", 13},
    {"x\\\"y", "\"x\\\\\\\"y\"", 9},
    {"a\\\\\"b", "\"a\\\\\\\\\\\"b\"", 11},
    // Blanks and tabs need nothing but the enclosing quotes.
    {"a b\tc", "\"a b\tc\"", 8},
    {"\"", "\"\\\"\"", 5},
    {"\\\\\\", "\"\\\\\\\\\\\\\"", 9},
    {"\\\"", "\"\\\\\\\"\"", 7},
    {"\"\"", "\"\\\"\\\"\"", 7},
    {"a\\\\b\\", "\"a\\\\b\\\\\"", 9},
    // Bytes above 127 pass unchanged.
    {"\xc3\xa9\xff\x80", "\"\xc3\xa9\xff\x80\"", 7},
};

TEST(QuoteArg, ResultAndBlockSize) {
  for (const QuoteCase &c : kQuoteCases) {
    std::string before = c.text;
    std::vector<char> text(before.begin(), before.end());
    text.push_back('\0');
    Counting::reset();
    char *r = zarn_fost_entry_quote_arg(text.data(), Counting::alloc);
    ASSERT_NE(r, nullptr) << "text: " << before;
    EXPECT_STREQ(r, c.result) << "text: " << before;
    EXPECT_EQ(Counting::calls, 1) << "text: " << before;
    EXPECT_EQ(Counting::last_size, c.block) << "text: " << before;
    EXPECT_EQ(Counting::last_size, std::strlen(r) + 1) << "text: " << before;
    EXPECT_EQ(std::string(text.data()), before) << "the text was changed";
    std::free(r);
  }
}

TEST(QuoteArg, NullWithoutAllocating) {
  Counting::reset();
  EXPECT_EQ(zarn_fost_entry_quote_arg(nullptr, Counting::alloc), nullptr);
  EXPECT_EQ(Counting::calls, 0);
  EXPECT_EQ(zarn_fost_entry_quote_arg("abc", nullptr), nullptr);
  EXPECT_EQ(zarn_fost_entry_quote_arg(nullptr, nullptr), nullptr);
}

TEST(QuoteArg, NullWhenTheAllocatorFails) {
  Counting::reset();
  Counting::fail = true;
  EXPECT_EQ(zarn_fost_entry_quote_arg("a \"b\" \\", Counting::alloc), nullptr);
  EXPECT_EQ(Counting::calls, 1);
  EXPECT_EQ(Counting::last_size, 13u);
}

// Argument lists of random bytes, most of them the ones that quoting and
// splitting treat specially. The generator's raw output keeps the lists the
// same everywhere. As characters, the other bytes are UTF-8 encodings of
// random code points, the only narrow text a child on Windows takes whole.
enum class Alphabet { bytes, characters };

void append_utf8(std::string &s, std::uint32_t cp) {
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xc0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3f));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xe0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    s += static_cast<char>(0x80 | (cp & 0x3f));
  } else {
    s += static_cast<char>(0xf0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    s += static_cast<char>(0x80 | (cp & 0x3f));
  }
}

std::vector<std::string> random_args(std::mt19937 &gen,
                                     Alphabet alphabet = Alphabet::bytes) {
  static const char kSpecial[] = {' ', '\t', '"', '\\', '\\', 'a', 'b'};
  // Code points of one to four UTF-8 bytes, surrogates left out.
  static const std::uint32_t kRanges[][2] = {
      {1, 0x7f}, {0x80, 0x7ff}, {0x800, 0xd7ff}, {0xe000, 0xffff}, {0x10000, 0x10ffff}};
  std::vector<std::string> args(gen() % 6);
  for (std::string &a : args) {
    std::size_t n = gen() % 12;
    for (std::size_t i = 0; i < n; ++i) {
      std::uint32_t pick = gen() % 10;
      if (pick < 8) {
        a += kSpecial[gen() % sizeof kSpecial];
      } else if (alphabet == Alphabet::bytes) {
        a += static_cast<char>(1 + gen() % 255);
      } else {
        const std::uint32_t *range = kRanges[gen() % std::size(kRanges)];
        append_utf8(a, range[0] + gen() % (range[1] - range[0] + 1));
      }
    }
  }
  return args;
}

std::string quote_copy(const std::string &arg) {
  char *q = zarn_fost_entry_quote_arg(arg.c_str(), std::malloc);
  std::string out = q != nullptr ? q : "<null>";
  std::free(q);
  return out;
}

TEST(QuoteArg, RoundTripThroughTheSplitter) {
  std::mt19937 gen(20240611u);
  for (int round = 0; round < 5000; ++round) {
    std::vector<std::string> args = random_args(gen);
    std::string line = "prog";
    for (const std::string &a : args) line += " " + quote_copy(a);
    std::vector<std::string> words = plat_split_command_line(line.c_str());
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(words[0], "prog");
    ASSERT_EQ(std::vector<std::string>(words.begin() + 1, words.end()), args)
        << "round " << round << ", line: " << line;
  }
}

// The same through a real child, whose own runtime splits the line on
// Windows (and turns it into its wide form and back, so the words are text).
TEST(QuoteArg, RoundTripThroughAChild) {
  std::string program = zt::probe_program();
  ASSERT_FALSE(program.empty()) << "ZARN_TEST_PROBE is not set";
  zt::TempDir tmp;
  zt::EnvGuard env;
  std::string out = (tmp.path() / "report.txt").string();
  env.set("ZARN_PROBE_OUT", out);
  env.unset("ZARN_PROBE_STATUS");
  std::mt19937 gen(7u);
  for (int round = 0; round < 40; ++round) {
    std::vector<std::string> args = random_args(gen, Alphabet::characters);
    std::vector<std::string> entries = {quote_copy(program)};
    for (const std::string &a : args) entries.push_back(quote_copy(a));
    std::vector<const char *> argv;
    for (const std::string &e : entries) argv.push_back(e.c_str());
    argv.push_back(nullptr);
    ASSERT_EQ(plat_spawnv_wait(program.c_str(), argv.data()), 0);
    zt::ProbeReport r = zt::read_probe(out);
    ASSERT_EQ(r.argc, static_cast<int>(args.size()) + 1) << "round " << round;
    EXPECT_EQ(std::vector<std::string>(r.argv.begin() + 1, r.argv.end()), args)
        << "round " << round;
  }
}

}  // namespace
