// Loading small designs given as text, for tests of the stages after loading.
#pragma once

#include <map>
#include <string>

#include "netlist/netlist.h"

namespace vorq_test {

using Files = std::map<std::string, std::string>;  // file name ("top.nld") -> text

struct Design {
  std::string dir;     // the writable directory holding `files`
  std::string ro_dir;  // the -r directory holding `ro_files` ("" when none)
  vorq::Module* top;   // vorq::top after loading
};

// Writes `files` into a fresh writable directory and `ro_files` into a fresh
// read-only one, resets every global of a run, points opt_dir/read_dir at the
// two directories and write_dir at a third fresh one, and loads `top_name`
// with read_module. Input errors end the process (test them with death tests).
Design load_design(const std::string& top_name, const Files& files, const Files& ro_files = {});

// The two halves of load_design: write the files (top is left null), then
// reset the globals and load from the directories of `d`. Death tests write
// first, so that the expected messages can name the paths.
Design write_design(const Files& files, const Files& ro_files = {});
void load_written(Design& d, const std::string& top_name);

// A module by its instance path from the top ("" is the top module, "u/v" the
// copy implementing instance v inside the copy implementing u); null if none.
vorq::Module* module_at(const std::string& path);

}  // namespace vorq_test
