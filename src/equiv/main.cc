// vorq-equiv: the command line, loading the two designs, and the verdict.
//
//   vorq-equiv --gold TOP DIR... [-r DIR...] --new TOP DIR... [-r DIR...]
//              [--abc PATH] [--timeout SECONDS] [--keep]
//
// One verdict line on standard output; exit status 0 equivalent, 1 not
// equivalent, 2 cannot tell. Progress and the reader's messages go to
// standard error.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "equiv/equiv.h"
#include "netlist/load/load.h"

namespace vorq::equiv {

namespace {

struct DesignArgs {
  std::string top;
  std::vector<std::string> dirs;
  std::vector<std::string> ro_dirs;
};

struct Args {
  DesignArgs gold, fresh;
  ProofOptions proof;
};

constexpr const char* USAGE =
    "usage: vorq-equiv --gold TOP DIR... [-r DIR...] --new TOP DIR... [-r DIR...]"
    " [--abc PATH] [--timeout SECONDS] [--keep]\n";

// Why the process ends when it ends before its verdict: the reader ends it
// on bad input (and the allocator when memory runs out), and the verdict
// line still has to be printed.
std::string early_end = "vorq-equiv stopped early";
bool verdict_printed = false;

void verdict_on_exit() {
  if (verdict_printed) return;
  std::printf("cannot tell: %s\n", early_end.c_str());
  std::fflush(stdout);
}

[[noreturn]] void usage_error(const std::string& what) {
  say("vorq-equiv: %s\n%s", what.c_str(), USAGE);
  std::printf("cannot tell: bad command line\n");
  std::fflush(stdout);
  std::exit(2);
}

Args parse_args(int argc, char** argv) {
  Args a;
  bool have_gold = false, have_new = false;
  DesignArgs* cur = nullptr;
  bool ro = false;
  for (int i = 1; i < argc; ++i) {
    std::string w = argv[i];
    if (w == "--gold" || w == "--new") {
      bool gold = w == "--gold";
      if ((gold && have_gold) || (!gold && have_new)) usage_error(w + " given twice");
      if (i + 1 >= argc) usage_error(w + " needs a top module");
      (gold ? have_gold : have_new) = true;
      cur = gold ? &a.gold : &a.fresh;
      cur->top = argv[++i];
      ro = false;
    } else if (w == "-r") {
      if (!cur) usage_error("-r before --gold or --new");
      ro = true;
    } else if (w == "--abc" || w == "--timeout") {
      if (i + 1 >= argc) usage_error(w + " needs a value");
      std::string v = argv[++i];
      if (w == "--abc") {
        a.proof.abc = v;
      } else {
        char* end = nullptr;
        long t = std::strtol(v.c_str(), &end, 10);
        if (*end || t <= 0) usage_error("bad timeout " + v);
        a.proof.timeout_seconds = static_cast<int>(t);
      }
      cur = nullptr;
    } else if (w == "--keep") {
      a.proof.keep_files = true;
      cur = nullptr;
    } else if (!w.empty() && w[0] == '-') {
      usage_error("unknown option " + w);
    } else {
      if (!cur) usage_error("directory " + w + " outside --gold or --new");
      (ro ? cur->ro_dirs : cur->dirs).push_back(w);
    }
  }
  if (!have_gold || !have_new) usage_error("both --gold and --new are needed");
  if (a.gold.dirs.empty() || a.fresh.dirs.empty()) usage_error("each design needs a directory");
  return a;
}

// Loads one design with the netlist reader; the records stay in the arena.
Module* load(const DesignArgs& d, const char* which) {
  reset_globals();
  for (const std::string& s : d.dirs) strlist_append(&opt_dir, s.c_str());
  for (const std::string& s : d.ro_dirs) strlist_append(&read_dir, s.c_str());
  top_name = arena_strdup(d.top.c_str());
  early_end = std::string("the ") + which + " design cannot be read";
  read_module(top_name);
  early_end = "vorq-equiv stopped early";
  return top;
}

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int run(int argc, char** argv) {
  Args args = parse_args(argc, argv);
  quit_status_override = 2;
  std::atexit(verdict_on_exit);

  auto t0 = std::chrono::steady_clock::now();
  Verdict v;
  try {
    Aig g;
    FreeValues free(g);
    Module* gold_top = load(args.gold, "gold");
    Network gold = build_network(gold_top, g, free, "gold");
    Module* new_top = load(args.fresh, "new");
    Network fresh = build_network(new_top, g, free, "new");
    say("vorq-equiv: gold %zu cells, %zu registers; new %zu cells, %zu registers; %zu graph nodes (%.2f s)\n",
        gold.cells, gold.registers, fresh.cells, fresh.registers, g.num_ands(), seconds_since(t0));
    v = prove(g, free, gold, fresh, args.proof);
  } catch (const CannotTell& e) {
    v = {2, std::string("cannot tell: ") + e.what()};
  }
  say("vorq-equiv: %.2f s\n", seconds_since(t0));
  std::printf("%s\n", v.line.c_str());
  std::fflush(stdout);
  verdict_printed = true;
  return v.status;
}

}  // namespace vorq::equiv

int main(int argc, char** argv) { return vorq::equiv::run(argc, argv); }
