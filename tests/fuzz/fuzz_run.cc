// Fuzzing harness: one input is a whole run of vorq. Its first line is the
// top module name and option letters (a: -a, f: -f, o: --optimize, i: write
// into the writable directory); then files, each opened by a line
// "%%w<name>" (in the writable directory) or "%%l<name>" (in the -r
// directory), a name ending in "/" making a directory. The run reads, reduces and writes in a fresh
// temporary folder; an input error ends it through quit, which throws here.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "netlist/netlist.h"
#include "writer/writer.h"

namespace {

struct Quit {};

std::string base;
// The lowest free descriptor: a run that leaves a file open is a finding.
int free_fd() {
  int fd = dup(0);
  close(fd);
  return fd;
}

void empty_dir(const std::string& dir) {
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      std::string p = dir + "/" + n;
      if (unlink(p.c_str()) != 0) rmdir(p.c_str());
    }
    closedir(d);
  }
}

std::string clean_name(const std::string& s) {
  std::string r;
  for (char c : s)
    if (isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == '+')
      r += c;
  if (r == "." || r == "..") r.clear();
  return r.substr(0, 200);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/dev/shm/vorq-fuzz-XXXXXX";
  char tmpl2[] = "/tmp/vorq-fuzz-XXXXXX";
  const char* made = mkdtemp(tmpl);
  if (!made) made = mkdtemp(tmpl2);
  if (!made) std::abort();
  base = made;
  for (const char* sub : {"/w", "/l", "/o"}) mkdir((base + sub).c_str(), 0755);
  atexit([] {
    for (const char* sub : {"/w", "/l", "/o"}) {
      empty_dir(base + sub);
      rmdir((base + sub).c_str());
    }
    rmdir(base.c_str());
  });
  vorq::quit_hook = [](int) { throw Quit{}; };
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = free_fd();
  std::string in(reinterpret_cast<const char*>(data), size);
  for (const char* sub : {"/w", "/l", "/o"}) empty_dir(base + sub);

  // header
  size_t eol = in.find('\n');
  std::string head = in.substr(0, eol);
  size_t sp = head.find(' ');
  std::string top = clean_name(head.substr(0, sp));
  std::string flags = sp == std::string::npos ? "" : head.substr(sp);
  if (top.empty()) top = "top";

  // files
  size_t at = eol == std::string::npos ? in.size() : eol + 1;
  while (at < in.size()) {
    if (in.compare(at, 2, "%%") != 0) {
      size_t next = in.find("\n%%", at);
      at = next == std::string::npos ? in.size() : next + 1;
      continue;
    }
    size_t nl = in.find('\n', at);
    std::string line = in.substr(at + 2, nl == std::string::npos ? std::string::npos : nl - at - 2);
    size_t body = nl == std::string::npos ? in.size() : nl + 1;
    size_t end = nl == std::string::npos ? nl : in.find("\n%%", nl);
    end = end == std::string::npos ? in.size() : end + 1;
    std::string dir = base + (!line.empty() && line[0] == 'l' ? "/l/" : "/w/");
    std::string name = clean_name(line.substr(line.empty() ? 0 : 1));
    if (!name.empty()) {
      std::string path = dir + name;
      if (line.back() == '/') {
        mkdir(path.c_str(), 0755);
      } else if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(in.data() + body, 1, end - body, f);
        std::fclose(f);
      }
    }
    at = end;
  }

  std::string w = base + "/w", l = base + "/l";
  std::string o = flags.find('i') != std::string::npos ? w : base + "/o";
  std::vector<std::string> args = {"vorq", top, w, "-r", l, "-w", o};
  if (flags.find('a') != std::string::npos) args.push_back("-a");
  if (flags.find('f') != std::string::npos) args.push_back("-f");
  if (flags.find('o') != std::string::npos) args.push_back("--optimize");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  try {
    vorq::run_main(static_cast<int>(args.size()), argv.data());
  } catch (const Quit&) {
  }
  vorq::stage_discard();
  vorq::arena_release();
  if (free_fd() != fd) std::abort();
  return 0;
}
