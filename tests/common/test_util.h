// Helpers shared by the unit and end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace vorq_test {

// A fresh empty directory under $TMPDIR (or /tmp); the caller removes it.
std::string make_temp_dir();
void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);

struct RunResult {
  int status;
  std::string err, out;  // standard error and output
};

// Runs `program` with `args` in working directory `cwd` ("" for this one).
RunResult run_program(const std::string& program, const std::vector<std::string>& args, const std::string& cwd);
RunResult run_vorq(const std::vector<std::string>& args, const std::string& cwd);

}  // namespace vorq_test
