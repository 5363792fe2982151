// Reading NLD/PCD text from memory, and exact-stderr patterns for death tests.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "netlist/netlist.h"
#include "netlist/parse/parse.h"

namespace parse_test {

// A FILE* holding `text`, at its start (closed by the caller).
inline FILE* text_file(const std::string& text) {
  FILE* f = std::tmpfile();
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  return f;
}

// Resets the globals and parses `text` as the file "t.nld" ("t.pcd").
inline vorq::Module* nld(const std::string& text) {
  vorq::reset_globals();
  vorq::file_name = "t.nld";
  FILE* f = text_file(text);
  vorq::Module* m = vorq::nld_par(f);
  std::fclose(f);
  return m;
}

inline vorq::Module* pcd(const std::string& text) {
  vorq::reset_globals();
  vorq::file_name = "t.pcd";
  FILE* f = text_file(text);
  vorq::Module* m = vorq::pcd_par(f);
  std::fclose(f);
  return m;
}

// A pattern that matches exactly `text` (the whole of standard error).
inline std::string exact(const std::string& text) {
  std::string re = "^";
  for (char c : text) {
    if (std::string("\\.[](){}*+?^$|").find(c) != std::string::npos) re += '\\';
    re += c;
  }
  return re + "$";
}

// "\"t.nld\", line N: error\n"
inline std::string error_at(int line, const char* file = "t.nld") {
  return exact("\"" + std::string(file) + "\", line " + std::to_string(line) + ": error\n");
}

template <class T>
std::vector<std::string> names(T* first) {
  std::vector<std::string> v;
  for (T* p = first; p; p = p->next) v.push_back(p->name ? p->name : "(null)");
  return v;
}

}  // namespace parse_test
