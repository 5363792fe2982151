#include "driver/driver.h"

#include <cstring>

#include "flatten/flatten.h"
#include "netlist/load/load.h"
#include "hierarchy/hierarchy.h"
#include "netlist/netlist.h"
#include "reduce/optimize.h"
#include "reduce/polarity.h"
#include "reduce/reduce.h"
#include "writer/writer.h"

namespace vorq {

namespace {

// ---- command line -------------------------------------------------------

[[noreturn]] void usage() {
  say("usage:\n        vorq [-a] <top_module_name> <nld_or_pcd_dir> ... \n"
      "             [-r <nld_or_pcd_dir> ...] -w <write_dir>\n");
  quit(1);
}

void credit() {
  say("vorq was written by the vorq developers.\n"
      "It moves inversions through gate-level netlists of the KELDRAMOS system.\n"
      "\n");
}

bool is(const char* arg, const char* opt) { return std::strcmp(arg, opt) == 0; }

// Option --optimize: search for a lower count after the reduction.
bool optimize_run = false;

// ---- run ----------------------------------------------------------------

void say_count(int n) {
  if (n == 1) say("There is 1 inverter\n");
  else say("There are %d inverters\n", n);
}

int closing(int n0, int n1) {
  say("Done\n");
  say("Number of inverters\n");
  say("\t%d ---> %d\n", n0, n1);
  stage_report();
  return 0;
}

}  // namespace

void parse_args(int argc, char** argv) {
  if (argc - 1 < 4) {
    if (argc > 1 && is(argv[1], "-author")) credit();
    usage();
  }

  int i = 1;
  while (i < argc) {
    const char* a = argv[i];
    if (is(a, "-r")) {
      // One run of -r directories, up to the next -w, -a or -f.
      if (read_dir || ++i >= argc) usage();
      strlist_append(&read_dir, argv[i++]);
      while (i < argc && !is(argv[i], "-w") && !is(argv[i], "-a") && !is(argv[i], "-f") &&
             !is(argv[i], "--optimize"))
        strlist_append(&read_dir, argv[i++]);
    } else if (is(a, "-w")) {
      if (write_dir || ++i >= argc) usage();
      strlist_append(&write_dir, argv[i++]);
    } else if (is(a, "-a")) {
      all = 1;
      ++i;
    } else if (is(a, "-f")) {
      h_or_f = 3;
      ++i;
    } else if (is(a, "--optimize")) {
      optimize_run = true;
      ++i;
    } else {
      // The top module name, then one run of its directories.
      if (opt_dir) usage();
      if (!top_name) {
        top_name = arena_strdup(a);
        ++i;
        continue;
      }
      strlist_append(&opt_dir, argv[i++]);
      while (i < argc && !is(argv[i], "-r") && !is(argv[i], "-w") && !is(argv[i], "-a") &&
             !is(argv[i], "-f") && !is(argv[i], "--optimize"))
        strlist_append(&opt_dir, argv[i++]);
    }
  }
  if (!opt_dir || !write_dir) usage();
}

int run_main(int argc, char** argv) {
  keldramos_banner(stderr, "VORQ", nullptr, nullptr);
  reset_globals();
  optimize_run = false;
  parse_args(argc, argv);
  // A write directory that cannot take the result fails the run now, not
  // after the whole reduction.
  check_write_dir(top_name);

  say("Start to read NLD/PCD files\n");
  read_module(top_name);
  stage_done("read");
  say("Done\n");
  int n0 = first_inv_num;

  if (n0 == 0) {
    say("There are 0 inverters\n");
    say("Start to write NLD/PCD files\n");
    copy_file();
    stage_done("write");
    return closing(0, 0);
  }
  say_count(n0);

  bool flat_ok = flat();
  stage_done("flatten");
  if (!flat_ok) {
    say("Sorry, but could not handle the netlists:\n");
    copy_file();
    stage_done("write");
    return closing(n0, n0);
  }

  say("Start inverter reduction\n");
  bool reduced = red_inv();
  stage_done("reduce");
  if (!reduced) {
    say("Sorry, but could not handle the netlists:\n");
    copy_file();
    stage_done("write");
    return closing(n0, n0);
  }
  if (optimize_run) optimize_polarity();
  say("Done\n");

  int n1 = 0;
  for (Module* m : modules()) n1 += count_inv(m) + count_control_inv(m);
  // inverters that stay where a register cannot serve a complement load
  n1 += reg_out_inverters();
  say_count(n1);

  if (n1 >= n0) {
    say("Could not reduce the number of inverters\n");
    say("Start to write NLD/PCD files\n");
    copy_file();
    stage_done("write");
    return closing(n0, n1);
  }

  if (!unprotect_irreversible_nets()) {
    say("vorq: something wrong with net protection (for internal reason), sorry.\n");
    say("Start to write NLD/PCD files\n");
    copy_file();
    stage_done("write");
    return closing(n0, n1);
  }

  output();
  stage_done("polarity");
  hierarchy();
  stage_done("rebuild");
  say("Start to write NLD files\n");
  print_nld();
  stage_done("write");
  return closing(n0, n1);
}

}  // namespace vorq
