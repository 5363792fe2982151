// Helpers shared by the unit and end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace vorq_test {

// A fresh empty directory under the system's temporary directory.
std::string make_temp_dir();

void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
// Names of the regular files in `dir`, sorted.
std::vector<std::string> list_dir(const std::string& dir);

struct RunResult {
  int status;
  std::string err;  // standard error
  std::string out;  // standard output
};

// Runs the built vorq binary with `args` in working directory `cwd`.
RunResult run_vorq(const std::vector<std::string>& args, const std::string& cwd);
// Runs any program.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd);

// The banner as vorq prints it.
std::string banner();

}  // namespace vorq_test
