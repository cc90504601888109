// Reads the report of the probe child program (tests/probe.cpp), and finds
// the probe's built program.
#pragma once

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace zt {

// What the probe was given. argc is -1 when there was no readable report.
struct ProbeReport {
  int argc = -1;
  std::vector<std::string> argv;
  std::map<std::string, std::string> env;
  std::set<int> ignored;  // signals it started with ignored
};

inline std::string probe_unhex(const std::string &hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// Parses a report; an entry such as "=C:=C:\x" keeps its leading '=' in the
// key, as Windows writes such entries.
inline ProbeReport parse_probe(const std::string &text) {
  ProbeReport r;
  std::istringstream in(text);
  std::string line;
  bool counted = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string tag;
    words >> tag;
    if (tag == "argc") {
      words >> r.argc;
      counted = true;
    } else if (tag == "argv") {
      std::size_t i = 0;
      std::string hex;
      words >> i >> hex;
      if (r.argv.size() <= i) r.argv.resize(i + 1);
      r.argv[i] = probe_unhex(hex);
    } else if (tag == "env") {
      std::string hex;
      words >> hex;
      std::string entry = probe_unhex(hex);
      std::size_t eq = entry.find('=', 1);
      if (eq == std::string::npos)
        r.env[entry] = "";
      else
        r.env[entry.substr(0, eq)] = entry.substr(eq + 1);
    } else if (tag == "ignored") {
      int sig = 0;
      if (words >> sig) r.ignored.insert(sig);
    }
  }
  if (!counted) r.argc = -1;
  return r;
}

inline ProbeReport read_probe(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return ProbeReport{};
  std::stringstream s;
  s << f.rdbuf();
  return parse_probe(s.str());
}

// The probe's built program, as the build hands it to each test; empty when
// the test runs without it.
inline std::string probe_program() {
  const char *p = std::getenv("ZARN_TEST_PROBE");
  return p != nullptr ? std::string(p) : std::string();
}

}  // namespace zt
