// The miter of two networks and its decision: structural hashing first,
// then random simulation for a quick counterexample, then ABC.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "equiv/equiv.h"

namespace vorq::equiv {

namespace {

constexpr size_t SHOWN_POINTS = 10;  // differing points named in the verdict
constexpr size_t SHOWN_VALUES = 40;  // free values of the counterexample shown
constexpr int RANDOM_ROUNDS = 64;    // rounds of 64 random patterns

struct MiterPoint {
  const std::string* key;
  Lit diff;           // true where the two designs disagree
  const char* where;  // "" in both designs, else which one alone has it
};

// Points where the two sides disagree: the definedness differs, or both are
// defined with different values. A point missing on one side is undefined
// there.
std::vector<MiterPoint> build_miter(Aig& g, const Network& gold, const Network& fresh) {
  std::vector<MiterPoint> pts;
  auto one = [&](const std::string& key) {
    auto a = gold.points.find(key);
    auto b = fresh.points.find(key);
    Sig x = a == gold.points.end() ? SIG_X : a->second;
    Sig y = b == fresh.points.end() ? SIG_X : b->second;
    Lit diff = g.or2(g.xor2(x.d, y.d), g.and2(x.d, g.xor2(x.v, y.v)));
    const char* where = a == gold.points.end() ? " (only in new)" : b == fresh.points.end() ? " (only in gold)" : "";
    pts.push_back({&key, diff, where});
  };
  for (const std::string& k : gold.keys) one(k);
  for (const std::string& k : fresh.keys)
    if (!gold.points.count(k)) one(k);
  return pts;
}

// The verdict line; the counterexample's free values that the first
// differing point depends on go to standard error.
std::string not_equivalent(const Aig& g, const FreeValues& free, const std::vector<MiterPoint>& pts,
                           const std::vector<uint64_t>& sim, int bit) {
  std::vector<const MiterPoint*> bad;
  for (const MiterPoint& p : pts)
    if ((Aig::value_of(sim, p.diff) >> bit) & 1u) bad.push_back(&p);
  if (!bad.empty()) {
    std::string cex;
    size_t n = 0;
    for (uint32_t v : g.support(bad[0]->diff)) {
      if (n++ == SHOWN_VALUES) {
        cex += " ...";
        break;
      }
      cex += " " + free.name_of(v) + "=" + std::to_string((sim[v] >> bit) & 1u);
    }
    say("vorq-equiv: counterexample for %s:%s\n", bad[0]->key->c_str(), cex.c_str());
  }
  std::string line = "not equivalent: " + std::to_string(bad.size()) + " of " + std::to_string(pts.size()) +
                     " observation points differ under one counterexample:";
  for (size_t i = 0; i < bad.size() && i < SHOWN_POINTS; ++i) line += (i ? ", " : " ") + *bad[i]->key + bad[i]->where;
  if (bad.size() > SHOWN_POINTS) line += ", ...";
  return line;
}

// First pattern bit under which some point differs, or -1.
int differing_bit(const std::vector<MiterPoint>& pts, const std::vector<uint64_t>& sim) {
  uint64_t any = 0;
  for (const MiterPoint& p : pts) any |= Aig::value_of(sim, p.diff);
  if (!any) return -1;
  return __builtin_ctzll(any);
}

// ---- ABC --------------------------------------------------------------------

std::string find_abc(const std::string& given) {
  if (!given.empty()) return access(given.c_str(), X_OK) == 0 ? given : "";
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (const char* name : {"berkeley-abc", "yosys-abc"}) {
    std::stringstream ss(dirs);
    std::string d;
    while (std::getline(ss, d, ':')) {
      if (d.empty()) continue;
      std::string f = d + "/" + name;
      if (access(f.c_str(), X_OK) == 0) return f;
    }
  }
  return "";
}

struct TempDir {
  std::string path;
  bool keep = false;
  TempDir() {
    const char* t = std::getenv("TMPDIR");
    std::string tmpl = std::string(t && *t ? t : "/tmp") + "/vorq-equiv-XXXXXX";
    std::vector<char> b(tmpl.begin(), tmpl.end());
    b.push_back(0);
    if (!mkdtemp(b.data())) throw CannotTell("cannot make a temporary directory");
    path = b.data();
  }
  ~TempDir() {
    if (keep) return;
    for (const char* f : {"miter.aig", "abc.log", "cex.txt"}) unlink((path + "/" + f).c_str());
    rmdir(path.c_str());
  }
};

enum class AbcResult { PROVED, REFUTED, UNDECIDED };

// Runs ABC on dir/miter.aig; its output goes to dir/abc.log, a
// counterexample to dir/cex.txt. Relative names keep the command free of
// the directory's spelling.
AbcResult run_abc(const std::string& abc, const std::string& dir, const char* prove_cmd, int timeout,
                  std::string& why) {
  std::string script = std::string("read miter.aig; ") + prove_cmd + "; write_cex -n cex.txt";
  pid_t pid = fork();
  if (pid < 0) throw CannotTell("cannot start ABC");
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    int fd = open("abc.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) _exit(127);
    dup2(fd, 1);
    dup2(fd, 2);
    int nul = open("/dev/null", O_RDONLY);
    if (nul >= 0) dup2(nul, 0);
    execl(abc.c_str(), abc.c_str(), "-c", script.c_str(), (char*)nullptr);
    _exit(127);
  }
  auto start = std::chrono::steady_clock::now();
  int st = 0;
  for (;;) {
    pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) break;
    if (r < 0) throw CannotTell("lost the ABC process");
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(timeout)) {
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      why = "ABC gave no answer within " + std::to_string(timeout) + " seconds";
      return AbcResult::UNDECIDED;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::ifstream log(dir + "/abc.log");
  std::string line, last;
  AbcResult res = AbcResult::UNDECIDED;
  bool answered = false;
  while (std::getline(log, line)) {
    if (!line.empty()) last = line;
    if (line.find("UNSATISFIABLE") != std::string::npos) {
      res = AbcResult::PROVED;
      answered = true;
    } else if (line.find("SATISFIABLE") != std::string::npos) {
      res = AbcResult::REFUTED;
      answered = true;
    } else if (line.find("UNDECIDED") != std::string::npos) {
      answered = true;
    }
  }
  bool exited = WIFEXITED(st) && WEXITSTATUS(st) == 0;
  if (!answered || (!exited && res != AbcResult::REFUTED)) {
    if (WIFEXITED(st) && WEXITSTATUS(st) == 127)
      why = "ABC could not be started";
    else
      why = "ABC failed" + (last.empty() ? std::string() : ": " + last);
    return AbcResult::UNDECIDED;
  }
  if (res == AbcResult::UNDECIDED) why = "ABC could not decide the miter";
  return res;
}

// Input values of ABC's counterexample ("pi<k>@0=<v>" lines, k the position
// among the miter's inputs); false when there is none.
bool read_cex(const std::string& file, const std::vector<uint32_t>& inputs, std::vector<uint64_t>& bits) {
  std::ifstream in(file);
  if (!in) return false;
  std::string line;
  bool any = false;
  while (std::getline(in, line)) {
    unsigned k = 0, v = 0;
    if (std::sscanf(line.c_str(), "pi%u@0=%u", &k, &v) != 2) continue;
    if (k >= inputs.size()) return false;
    bits[inputs[k]] = v ? ~uint64_t(0) : 0;
    any = true;
  }
  return any || inputs.empty();
}

}  // namespace

Verdict prove(Aig& g, const FreeValues& free, const Network& gold, const Network& fresh,
              const ProofOptions& opt) {
  std::vector<MiterPoint> pts = build_miter(g, gold, fresh);
  std::vector<Lit> open;
  for (const MiterPoint& p : pts)
    if (p.diff != LIT_FALSE) open.push_back(p.diff);
  std::string counts = std::to_string(pts.size()) + " observation points, " + std::to_string(free.size()) +
                       " free values";
  if (open.empty()) return {0, "equivalent: " + counts + " (proven by structural hashing)"};

  // random simulation
  std::mt19937_64 rng(1);
  std::vector<uint64_t> bits(g.num_vars(), 0);
  for (int round = 0; round < RANDOM_ROUNDS; ++round) {
    for (uint32_t v = 1; v < g.num_vars(); ++v)
      if (g.is_input(v)) bits[v] = rng();
    std::vector<uint64_t> sim = g.simulate(bits);
    int bit = differing_bit(pts, sim);
    if (bit >= 0) return {1, not_equivalent(g, free, pts, sim, bit)};
  }

  // ABC on the disjunction of the open differences
  std::string abc = find_abc(opt.abc);
  if (abc.empty())
    return {2, "cannot tell: ABC not found" + (opt.abc.empty() ? std::string(" (install berkeley-abc)") : ": " + opt.abc)};
  Lit miter = g.or_n(open);
  TempDir dir;
  dir.keep = opt.keep_files;
  std::vector<uint32_t> inputs;
  g.write_aiger(dir.path + "/miter.aig", miter, inputs);
  std::string why;
  AbcResult r = run_abc(abc, dir.path, "iprove", opt.timeout_seconds, why);
  // ABC's rewriting inside iprove stops on an assertion for some miters:
  // once more without it
  if (r == AbcResult::UNDECIDED && why.rfind("ABC failed", 0) == 0)
    r = run_abc(abc, dir.path, "iprove -r", opt.timeout_seconds, why);
  if (r == AbcResult::PROVED)
    return {0, "equivalent: " + counts + " (" + std::to_string(open.size()) + " proven by ABC)"};
  if (r == AbcResult::UNDECIDED) return {2, "cannot tell: " + why};

  // confirm ABC's counterexample on the networks themselves
  std::fill(bits.begin(), bits.end(), 0);
  if (!read_cex(dir.path + "/cex.txt", inputs, bits))
    return {2, "cannot tell: ABC found a difference but wrote no readable counterexample"};
  std::vector<uint64_t> sim = g.simulate(bits);
  if (differing_bit(pts, sim) < 0)
    return {2, "cannot tell: ABC's counterexample shows no difference"};
  return {1, not_equivalent(g, free, pts, sim, 0)};
}

}  // namespace vorq::equiv
