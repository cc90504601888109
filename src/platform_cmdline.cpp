// The Windows C runtime's splitting of a command line into words.
#include <string.h>

#include "platform.h"

namespace {

bool plat_is_blank(char c) { return c == ' ' || c == '\t'; }

void plat_split_into(const char *line, std::vector<std::string> &words) {
  const char *p = line;

  // The program name: quotes only group and backslashes are literal, so a
  // path such as "C:\dir\" keeps its last backslash. There is always one,
  // even for an empty line.
  std::string first;
  bool quoted = false;
  for (; *p != '\0'; ++p) {
    if (*p == '"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && plat_is_blank(*p)) break;
    first += *p;
  }
  words.push_back(first);

  for (;;) {
    while (plat_is_blank(*p)) ++p;
    if (*p == '\0') break;

    std::string word;
    quoted = false;
    while (*p != '\0' && (quoted || !plat_is_blank(*p))) {
      if (*p == '\\') {
        std::size_t run = 0;
        while (p[run] == '\\') ++run;
        if (p[run] != '"') {
          // Not before a quote: every backslash stands for itself.
          word.append(run, '\\');
          p += run;
          continue;
        }
        // Before a quote they escape in pairs; an odd one out makes the
        // quote literal.
        word.append(run / 2, '\\');
        p += run;
        if (run % 2 == 1) {
          word += '"';
          ++p;
          continue;
        }
      }
      if (*p == '"') {
        if (quoted && p[1] == '"') {
          // Two quotes inside quoted text: one literal quote, and the quoted
          // text goes on.
          word += '"';
          p += 2;
          continue;
        }
        quoted = !quoted;
        ++p;
        continue;
      }
      word += *p;
      ++p;
    }
    words.push_back(word);
  }
}

}  // namespace

bool plat_command_line_fits(const char *const *argv) {
  std::size_t length = 0;
  for (const char *const *a = argv; *a != nullptr; ++a) {
    length += strlen(*a) + (a != argv ? 1 : 0);
    if (length + 1 > PLAT_MAX_COMMAND_LINE) return false;
  }
  return true;
}

std::vector<std::string> plat_split_command_line(const char *line) {
  std::vector<std::string> words;
  if (line == nullptr) return words;
  try {
    plat_split_into(line, words);
  } catch (...) {
    // Out of memory: no words at all, which no line gives otherwise.
    words.clear();
  }
  return words;
}
