// The Windows C runtime's splitting of a command line into words.
#include "platform.h"

std::vector<std::string> plat_split_command_line(const char *) {
  return {};  // TODO
}
