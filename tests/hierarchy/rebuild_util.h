// Runs the stages after loading on a design given as text and collects what
// the writer wrote; checks that the result reads again and is equivalent.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "design_util.h"

namespace vorq_test {

struct Rebuilt {
  std::map<std::string, std::string> files;  // file name -> text, in the write dir
  std::string in_dir, ro_dir, out_dir;
};

// load_design, then flat(), `adjust` (weights or flags, as a reduction would
// leave them; may be empty), unprotect_irreversible_nets(), output(),
// hierarchy() and print_nld() in mode `h_or_f` (4 or 3).
Rebuilt rebuild(const std::string& top, const Files& files, const Files& ro_files = {},
                int h_or_f = 4, const std::function<void()>& adjust = {});

// Loads the written design again and flattens it, in a child process: 1 when
// both succeed, 0 when flattening fails, another value when loading ends the
// process with an input error.
int reread(const std::string& top, const Rebuilt& r);

// vorq-equiv on the input and the written design: its first output line
// ("equivalent: ..."), or "" when the checker is not built.
std::string equivalence(const std::string& top, const Rebuilt& r);

}  // namespace vorq_test
