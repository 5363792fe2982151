#include "rebuild_util.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "flatten/flatten.h"
#include "hierarchy/hierarchy.h"
#include "netlist/load/load.h"
#include "reduce/polarity.h"
#include "test_util.h"
#include "writer/writer.h"

namespace vorq_test {

Rebuilt rebuild(const std::string& top, const Files& files, const Files& ro_files, int mode,
                const std::function<void()>& adjust) {
  Design d = load_design(top, files, ro_files);
  vorq::h_or_f = mode;
  Rebuilt r;
  r.in_dir = d.dir;
  r.ro_dir = d.ro_dir;
  r.out_dir = vorq::write_dir->str;
  EXPECT_EQ(vorq::flat(), 1);
  if (adjust) adjust();
  EXPECT_EQ(vorq::unprotect_irreversible_nets(), 1);
  vorq::output();
  vorq::hierarchy();
  vorq::print_nld();
  for (const std::string& name : list_dir(r.out_dir))
    r.files[name] = read_file(r.out_dir + "/" + name);
  return r;
}

int reread(const std::string& top, const Rebuilt& r) {
  // in a child process: an input error ends the process
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid > 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) return -1;
    if (WEXITSTATUS(status) == 10) return 1;
    if (WEXITSTATUS(status) == 11) return 0;
    return -1;
  }
  vorq::reset_globals();
  vorq::strlist_append(&vorq::opt_dir, r.out_dir.c_str());
  vorq::strlist_append(&vorq::read_dir, r.in_dir.c_str());
  if (!r.ro_dir.empty()) vorq::strlist_append(&vorq::read_dir, r.ro_dir.c_str());
  vorq::strlist_append(&vorq::write_dir, make_temp_dir().c_str());
  vorq::top_name = vorq::arena_strdup(top.c_str());
  vorq::read_module(vorq::top_name);
  int ok = vorq::flat();
  std::fflush(nullptr);
  _exit(ok == 1 ? 10 : 11);
}

std::string equivalence(const std::string& top, const Rebuilt& r) {
#ifdef VORQ_EQUIV_BINARY
  std::vector<std::string> args{"--gold", top, r.in_dir};
  if (!r.ro_dir.empty()) {
    args.push_back("-r");
    args.push_back(r.ro_dir);
  }
  args.insert(args.end(), {"--new", top, r.out_dir, "-r", r.in_dir});
  if (!r.ro_dir.empty()) args.push_back(r.ro_dir);
  RunResult res = run_program(VORQ_EQUIV_BINARY, args, "");
  return res.out.substr(0, res.out.find('\n'));
#else
  (void)top;
  (void)r;
  return "";
#endif
}

}  // namespace vorq_test
