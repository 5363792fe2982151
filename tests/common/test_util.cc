#include "test_util.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vorq_test {

std::string make_temp_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/vorq_test_XXXXXX";
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  return templ;
}

void write_file(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args, const std::string& cwd) {
  std::string dir = make_temp_dir(), errf = dir + "/stderr", outf = dir + "/stdout";
  pid_t pid = fork();
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    dup2(open(errf.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    dup2(open(outf.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  RunResult r{WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), read_file(errf), read_file(outf)};
  std::filesystem::remove_all(dir);
  return r;
}

RunResult run_vorq(const std::vector<std::string>& args, const std::string& cwd) {
  return run_program(VORQ_BINARY, args, cwd);
}

}  // namespace vorq_test
