#include "test_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/support.h"

namespace vorq_test {

std::string make_temp_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/vorq_test_XXXXXX";
  std::vector<char> b(templ.begin(), templ.end());
  b.push_back(0);
  if (!mkdtemp(b.data())) throw std::runtime_error("mkdtemp failed");
  return std::string(b.data());
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd) {
  std::string errf = make_temp_dir() + "/stderr";
  std::string outf = errf.substr(0, errf.size() - 6) + "stdout";
  pid_t pid = fork();
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    int e = open(errf.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int o = open(outf.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(e, 2);
    dup2(o, 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  RunResult r;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  r.err = read_file(errf);
  r.out = read_file(outf);
  return r;
}

RunResult run_vorq(const std::vector<std::string>& args, const std::string& cwd) {
  return run_program(VORQ_BINARY, args, cwd);
}

std::string banner() {
  char* p = nullptr;
  size_t n = 0;
  FILE* f = open_memstream(&p, &n);
  vorq::keldramos_banner(f, "VORQ", nullptr, nullptr);
  std::fclose(f);
  std::string s(p, n);
  std::free(p);
  return s;
}

}  // namespace vorq_test
