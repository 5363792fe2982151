// vorq-gen: writes a random valid design for a seed.
//
//   vorq-gen --seed S [--out DIR] [--cells N] [--depth D] [--odd-pins] [--wide] [--info]
//
// Writes DIR/work (writable NLD modules) and DIR/lib (read-only NLD modules and
// PCD black boxes), for some seeds also DIR/work2 and DIR/lib2, and prints the
// top module's name and then the folder arguments for vorq ("work -r lib"). The
// same seed and options always give the same files. A design is valid: it
// loads, every cell input is driven once, every loaded net has one driver
// (tristate buses and bidirectional pad nets excepted), and the expanded design
// has no combinational loop; the generator checks this before it writes.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

// ---- deterministic random numbers (splitmix64) ---------------------------

struct Rng {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  int below(int n) { return n <= 1 ? 0 : int(next() % uint64_t(n)); }
  int range(int lo, int hi) { return lo + below(hi - lo + 1); }
  bool chance(double p) { return double(next() >> 11) * (1.0 / 9007199254740992.0) < p; }
  template <class T>
  const T& pick(const std::vector<T>& v) { return v[size_t(below(int(v.size())))]; }
  template <class T>
  void shuffle(std::vector<T>& v) {
    for (size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[size_t(below(int(i)))]);
  }
};

struct Params {
  uint64_t seed = 1;
  std::string out = ".";
  int cells = 0;   // rough target of cells in the expanded design; 0: from the seed
  int depth = -1;  // module levels below the top; -1: from the seed
  bool odd_pins = false;
  bool info = false;
  bool wide = false;  // every seed makes a wide design (see Features::wide)
};

// What a design exercises: name, chance, the feature it needs ("yes": none).
// Drawn once per seed in this order; the last three from a stream of their
// own, so that older seeds keep their designs.
#define VORQ_FEATURES(X)                                                                          \
  X(ro, 0.6, yes)            /* read-only NLD modules in lib/ */                                  \
  X(pcd, 0.7, yes)           /* PCD black boxes */                                                \
  X(pads, 0.5, yes)          /* input/output pads at the top */                                   \
  X(bidir, 0.45, yes)        /* bidirect top ports with bidirectional pads */                     \
  X(tristate, 0.6, yes)      /* ts_buf- buses */                                                  \
  X(ts_ports, 0.5, tristate) /* tristate ports of sub-modules */                                  \
  X(vdd, 0.6, yes)           /* VDD/VSS top ports */                                              \
  X(vdd_input, 0.3, vdd)     /* ... of direction input instead of global */                       \
  X(vdd_sub, 0.3, vdd)       /* global VDD ports of sub-modules */                                \
  X(scan, 0.5, yes)          /* scan registers and scan ports */                                  \
  X(s_clock, 0.3, yes)       /* an s_clock port */                                                \
  X(bgate, 0.4, yes)         /* bgate--2 gated clocks */                                          \
  X(bait, 0.35, yes)         /* instance and class names that generated names may hit */          \
  X(messy, 0.3, yes)         /* comments, blank lines, several instances per def-comp */          \
  X(spare, 0.4, yes)         /* input ports not connected inside */                               \
  X(dead, 0.25, yes)         /* sub-module instances whose outputs go nowhere */                  \
  X(ro_child, 0.3, ro)       /* a writable class instantiated inside a read-only one */           \
  X(clock_note, 0.5, yes)    /* clock ports with "note clock" */                                  \
  X(reset_tree, 0.6, yes)    /* p_reset through gates */                                          \
  X(odd_names, 0.3, yes)     /* and/or/nand/nor inputs not named in1..inN */                      \
  X(floating, 0.3, yes)      /* gates with open outputs, inverters with open outputs */           \
  X(clock_data, 0.15, yes)   /* a clock also feeds data logic */                                  \
  X(multi_form, 0.4, yes)    /* constants tied into outputs, feed-throughs */                     \
  X(bidir_sub, 0.12, bidir)  /* a sub-module with a bidirectional pad and port */                 \
  X(bidir_inv, 0.3, bidir)   /* an inverter driving a bidirect top port */                        \
  X(multi_dirs, 0.3, yes)    /* work2/ and lib2/ besides work/ and lib/ */                        \
  X(decoys, 0.25, yes)       /* lib/ holds other files named like writable modules */             \
  X(odd_classes, 0.3, yes)   /* module names with dashes, brackets, bytes above 127 */

const double kWideShare = 0.1;  // of the seeds that make wide designs

struct Features {
  bool yes = true;
#define X(name, p, needs) bool name = false;
  VORQ_FEATURES(X)
#undef X
  // wide designs: big modules, many copies of one class, buses across levels,
  // pads on buses, every black-box pin direction, names like generated ones
  bool wide = false;
};

// ---- the design as written ------------------------------------------------

struct Term {
  std::string inst;  // empty: a port of the module
  std::string pin;
};
struct NetDef {
  std::vector<Term> terms;
};
struct PortDef {
  std::string name, dir, note;
};
struct CompDef {
  std::string cls, name;
};

enum Place { WORK, LIB };

struct ModDef {
  std::string name;
  bool pcd = false;
  Place place = WORK;
  int dir = 0;  // 1: work2/ or lib2/
  int level = 0;
  std::vector<PortDef> ports;
  std::vector<CompDef> comps;
  std::vector<NetDef> nets;
  std::string pcd_head;  // words after the name in a PCD def-module
  std::map<std::string, std::string> pcd_load;  // pin -> load number
  // interface seen by a parent
  std::vector<std::string> ins, outs, tss;
  std::vector<std::string> bis, ncs, globs;  // bidirectional, unused, global pins of wide black boxes
  std::string clk, rst, scan_clk, s_clk, spare;
  std::string bidi;  // bidirect port with a pad inside
  std::string bio;   // bidirect port connected outside only (wide designs)
  bool vdd = false;
  // PCD pads
  std::string pad_in, pad_out, pad_bi;
  // size of the expanded module
  long cells = 0;
  long invs = 0;
};

// ---- cell classes -------------------------------------------------------

struct RegClass {
  const char* name;
  bool set_reset;  // set/reset instead of in/clk_enb
  bool scan;
  bool needs_reset;
};
const RegClass kRegs[] = {
    {"reg-1", false, false, false},   {"regr-1", false, false, true},
    {"regs-1", false, false, true},   {"reg--1", false, false, false},
    {"reg---1", true, false, true},   {"sreg-1", false, true, false},
    {"srgr-1", false, true, true},    {"srgs-1", false, true, true},
    {"sreg--1", false, true, false},  {"sreg---1", true, true, true},
};
const char* const kAoiGroups[] = {"21", "22", "31", "32", "33", "211", "221", "222"};

// ---- one module's body --------------------------------------------------

enum SigKind { S_IN, S_GATE, S_INV, S_REG, S_CONST, S_SUPPLY, S_BUS, S_PAD, S_BIDIR, S_BB, S_SUB,
               S_CLK, S_KINDS };

struct Sig {
  int net;
  SigKind kind;
};

// Names that the renaming of cells and ports generates; the first eleven
// are register names of bait designs.
const char* const kBait[] = {"inv-1", "inv-2", "and-1", "nand-1", "or-2",   "in1",  "out1",
                             "in2",   "out2",  "nor-1", "aoi-1",  "or-1",   "nor-2", "inv-3",
                             "nand-2", "high-1", "low-1", "ninv-1", "eor-1", "oai-1", "in3"};

struct Design {
  std::vector<ModDef> mods;  // PCD cells, then modules bottom-up; the top last
  Features f;
  Params p;
  int find(const std::string& name) const {
    for (size_t i = 0; i < mods.size(); ++i)
      if (mods[i].name == name) return int(i);
    return -1;
  }
  // Classes that the top module reaches (the top is the last class).
  std::vector<bool> reachable() const {
    std::vector<bool> seen(mods.size(), false);
    std::vector<size_t> work{mods.size() - 1};
    seen.back() = true;
    while (!work.empty()) {
      size_t m = work.back();
      work.pop_back();
      for (const CompDef& c : mods[m].comps) {
        int k = find(c.cls);
        if (k >= 0 && !seen[size_t(k)]) {
          seen[size_t(k)] = true;
          work.push_back(size_t(k));
        }
      }
    }
    return seen;
  }
};

// What one module holds, decided before it is built; children and boxes are
// indexes into Design::mods.
struct Plan {
  int n_regs = 0;
  int n_gates = 0;
  std::vector<int> children;  // NLD modules (writable or read-only)
  std::vector<int> boxes;     // PCD black boxes
  bool clock = false, reset = false, scan_clk = false, s_clk = false;
  int n_ins = 1, n_outs = 1;
  bool ts_port = false;
  int n_ts = 1;  // tristate ports when ts_port
  bool bidi_port = false;
  bool vdd = false;
};

class Builder {
 public:
  Builder(Design& d, Rng& r, ModDef& m, bool is_top) : d_(d), r_(r), m_(m), top_(is_top) {}

 private:
  Design& d_;
  Rng& r_;
  ModDef& m_;
  bool top_;
  std::vector<int> loads_;  // loads per net
  std::vector<Sig> pool_;
  std::vector<int> open_buses_;
  std::vector<int> clocks_;  // nets usable as m_clock
  int clk_ = -1, rst_ = -1, scan_clk_ = -1, s_clk_ = -1, vdd_ = -1, vss_ = -1;
  int bidir_ports_ = 0;
  std::map<std::string, int> counters_;
  long cells_ = 0, invs_ = 0;
  struct Pending {
    std::string inst, pin;
    int kind;  // 0 data, 1 scan_in
  };
  std::vector<Pending> pending_;

  // Draws only in wide designs, so that other designs keep theirs.
  bool wide(double p) { return d_.f.wide && r_.chance(p); }
  int new_net() {
    m_.nets.emplace_back();
    loads_.push_back(0);
    return int(m_.nets.size()) - 1;
  }
  // A terminal that does not load the net (a driver, an unused pin).
  void drive(int net, const std::string& inst, const std::string& pin) {
    m_.nets[size_t(net)].terms.push_back({inst, pin});
  }
  void load(int net, const std::string& inst, const std::string& pin) {
    drive(net, inst, pin);
    ++loads_[size_t(net)];
  }
  // A new net driven by inst.pin, in the pool as `kind` unless S_KINDS.
  int out(const std::string& inst, const std::string& pin, SigKind kind) {
    int n = new_net();
    drive(n, inst, pin);
    if (kind != S_KINDS) pool_.push_back({n, kind});
    return n;
  }
  std::string fresh(const std::string& prefix) {
    for (;;) {
      std::string n = prefix + std::to_string(++counters_[prefix]);
      if (!taken(n)) return n;
    }
  }
  // `name`, or in wide designs now and then a name like a generated one.
  std::string bait_or(const std::string& name, bool is_prefix) {
    if (wide(0.06)) {
      std::string n = kBait[r_.below(int(std::size(kBait)))];
      if (!taken(n)) return n;
    }
    return is_prefix ? fresh(name) : name;
  }
  bool taken(const std::string& n) const {
    for (const auto& p : m_.ports)
      if (p.name == n) return true;
    for (const auto& c : m_.comps)
      if (c.name == n) return true;
    return false;
  }
  std::string comp(const std::string& cls, const std::string& prefix) {
    std::string n = bait_or(prefix, true);
    m_.comps.push_back({cls, n});
    ++cells_;
    if (cls == "inv-") ++invs_;
    return n;
  }
  // An instance of the module or PCD cell `idx`.
  std::string instance(int idx, const std::string& prefix) {
    std::string n = fresh(prefix);
    m_.comps.push_back({d_.mods[size_t(idx)].name, n});
    cells_ += d_.mods[size_t(idx)].cells;
    invs_ += d_.mods[size_t(idx)].invs;
    return n;
  }
  void port(const std::string& name, const std::string& dir, const std::string& note = "") {
    m_.ports.push_back({name, dir, note});
  }
  int input_port(const std::string& name, const std::string& note = "") {
    port(name, "input", note);
    return out("", name, S_KINDS);
  }
  int inverted(int src) {
    std::string iv = comp("inv-", "g");
    load(src, iv, "in");
    return out(iv, "nout", S_KINDS);
  }
  // An open bus (`reuse`: chance of one already open) to drive.
  int bus(double reuse) {
    if (!open_buses_.empty() && r_.chance(reuse)) return r_.pick(open_buses_);
    open_buses_.push_back(new_net());
    return open_buses_.back();
  }
  // A bus becomes readable once closed; in wide designs it may get a pad.
  void close_bus(size_t i) {
    if (pad_class(2) >= 0 && wide(0.3)) bidir_pad(open_buses_[i]);
    pool_.push_back({open_buses_[i], S_BUS});
    open_buses_.erase(open_buses_.begin() + long(i));
  }
  int clock_for_reg() { return clocks_.empty() ? -1 : r_.pick(clocks_); }

  // A signal of the pool, biased towards unused and recent signals and away
  // from constants.
  int pick() {
    for (int tries = 0; tries < 4; ++tries) {
      const Sig* s;
      double u = double(r_.below(1000)) / 1000.0;
      if (u < 0.35) {
        std::vector<int> idle;
        for (size_t i = 0; i < pool_.size(); ++i)
          if (loads_[size_t(pool_[i].net)] == 0) idle.push_back(int(i));
        s = idle.empty() ? &r_.pick(pool_) : &pool_[size_t(r_.pick(idle))];
      } else if (u < 0.7) {
        size_t k = std::min<size_t>(pool_.size(), 10);
        s = &pool_[pool_.size() - 1 - size_t(r_.below(int(k)))];
      } else {
        s = &r_.pick(pool_);
      }
      bool weak = s->kind == S_CONST || s->kind == S_SUPPLY || s->kind == S_BIDIR || s->kind == S_CLK;
      if (weak && tries < 3 && r_.chance(0.8)) continue;
      return s->net;
    }
    return r_.pick(pool_).net;
  }

  // A signal of a kind drawn uniformly among the kinds in the pool: inverters
  // land on every kind of net.
  int pick_of_kind() {
    std::vector<int> kinds;
    for (const Sig& s : pool_)
      if (std::find(kinds.begin(), kinds.end(), int(s.kind)) == kinds.end()) kinds.push_back(s.kind);
    int k = r_.pick(kinds);
    std::vector<int> nets;
    for (const Sig& s : pool_)
      if (s.kind == k) nets.push_back(s.net);
    return r_.pick(nets);
  }

  int gate() {
    static const char* const kinds[] = {"and", "nand", "or", "nor", "eor", "enor", "aoi", "oai"};
    static const int weight[] = {12, 12, 12, 12, 6, 6, 10, 10};
    int x = r_.below(80), k = 0;
    while (x >= weight[k]) x -= weight[k++];
    std::string stem = kinds[k];
    std::vector<std::string> ins;
    std::string cls, op;
    if (k <= 3) {
      int w = r_.chance(0.5) ? 2 : r_.chance(0.6) ? 3 : 4;
      cls = stem + "--" + std::to_string(w);
      op = (k == 0 || k == 2) ? "out" : "nout";
      int style = d_.f.odd_names ? r_.below(3) : 0;
      for (int i = 0; i < w; ++i)
        ins.push_back(style == 1 ? std::string(1, char('a' + i))
                                 : style == 2 ? "x" + std::to_string(i) : "in" + std::to_string(i + 1));
      // an input named like the output of the negated class
      if (d_.p.odd_pins && r_.chance(0.3)) ins[size_t(r_.below(w))] = (op == "out") ? "nout" : "out";
    } else if (k <= 5) {
      cls = stem + "--2";
      op = k == 4 ? "out" : "nout";
      ins = {"in1", "in2"};
    } else {
      std::string g = kAoiGroups[r_.below(8)];
      cls = stem + "--" + g;
      op = "nout";
      for (size_t gi = 0; gi < g.size(); ++gi)
        for (int i = 0; i < g[gi] - '0'; ++i) ins.push_back(std::string(1, char('a' + gi)) + std::to_string(i + 1));
    }
    std::string name = comp(cls, "g");
    int prev = -1;
    for (size_t i = 0; i < ins.size(); ++i) {
      int src = (prev >= 0 && r_.chance(0.06)) ? prev : pick();  // one net at two pins of the gate
      load(src, name, ins[i]);
      prev = src;
    }
    if (d_.f.floating && r_.chance(0.04)) return -1;  // open output
    return out(name, op, S_GATE);
  }

  int inverter(int src) {
    std::string name = comp("inv-", "g");
    load(src, name, "in");
    if (d_.f.floating && r_.chance(0.05)) return -1;  // open output
    return out(name, "nout", S_INV);
  }

  void inverter_chain() {
    int src = pick_of_kind();
    int n = r_.chance(0.6) ? 1 : r_.chance(0.6) ? 2 : r_.range(3, 4);
    for (int i = 0; i < n && src >= 0; ++i) {
      if (r_.chance(0.1)) {  // a buffer inside the chain
        std::string b = comp("ninv-", "g");
        load(src, b, "in");
        src = out(b, "out", S_GATE);
      }
      src = inverter(src);
    }
  }

  std::string reg_name() {
    if (d_.f.bait && m_.place == WORK && r_.chance(0.25)) {
      std::string n = kBait[r_.below(11)];
      if (!taken(n)) return n;
    }
    return bait_or("r", true);
  }

  void registers(int n) {
    for (int i = 0; i < n; ++i) {
      const RegClass& rc = kRegs[r_.below(d_.f.scan ? 10 : 5)];
      std::string name = reg_name();
      m_.comps.push_back({rc.name, name});
      ++cells_;
      bool any = false;
      for (std::string o : {"out", "nout", "scan_out"}) {
        if ((o != "scan_out" || rc.scan) && r_.chance(o == "out" ? 0.8 : 0.45)) {
          out(name, o, S_REG);
          any = true;
        }
      }
      if (!any) out(name, "nout", S_REG);
      // data inputs, connected once the logic exists
      if (rc.set_reset) {
        pending_.push_back({name, "set", 0});
        pending_.push_back({name, "reset", 0});
      } else {
        pending_.push_back({name, "in", 0});
        if (r_.chance(0.3)) pending_.push_back({name, "clk_enb", 0});
      }
      if (rc.scan) {
        pending_.push_back({name, "scan_in", 1});
        if (r_.chance(0.8)) pending_.push_back({name, "scan_enb", 0});
        if (scan_clk_ >= 0 && r_.chance(0.8)) load(scan_clk_, name, "scan_clock");
      }
      int ck = clock_for_reg();
      if (ck >= 0 && r_.chance(0.95)) load(ck, name, "m_clock");
      if (s_clk_ >= 0 && r_.chance(0.5)) load(s_clk_, name, "s_clock");
      if (rst_ >= 0 && (rc.needs_reset || r_.chance(0.2))) load(rst_, name, "p_reset");
    }
  }

  void boxes(const std::vector<int>& idx) {
    for (int b : idx) {
      const ModDef& bb = d_.mods[size_t(b)];
      std::string name = instance(b, "b");
      for (const std::string& o : bb.outs)
        if (r_.chance(0.85)) out(name, o, S_BB);
      for (const std::string& in : bb.ins) pending_.push_back({name, in, 0});
      if (!bb.clk.empty() && clk_ >= 0) load(clk_, name, bb.clk);
      // pins of wide designs: tristate and bidirectional ones on buses, unused
      // ones on any net, global ones on the supply
      for (const std::string& t : bb.tss) drive(bus(0.6), name, t);
      for (const std::string& t : bb.bis) {
        if (r_.chance(0.7))
          drive(bus(0.7), name, t);
        else
          out(name, t, S_BIDIR);
      }
      for (const std::string& t : bb.ncs)
        if (r_.chance(0.7)) drive(pick(), name, t);
      for (const std::string& t : bb.globs)
        if (vdd_ >= 0) drive(vdd_, name, t);
    }
  }

  int pad_class(int kind) const {
    for (size_t i = 0; i < d_.mods.size(); ++i) {
      const ModDef& m = d_.mods[i];
      if (!(kind == 0 ? m.pad_in : kind == 1 ? m.pad_out : m.pad_bi).empty()) return int(i);
    }
    return -1;
  }

  // A bidirectional pad on `net`: its output read by logic, its data and
  // enable driven late.
  void bidir_pad(int net) {
    std::string name = instance(pad_class(2), "pb");
    drive(net, name, "PAD");
    out(name, "Y", S_PAD);
    pending_.push_back({name, "A", 0});
    pending_.push_back({name, "OE", 0});
  }

  // Pads and bidirectional ports of the top module.
  void pads() {
    if (d_.f.pads && pad_class(0) >= 0) {
      for (int i = 0, n = r_.range(1, 3); i < n; ++i) {
        int pnet = input_port("pad_in[" + std::to_string(i) + "]");
        std::string name = instance(pad_class(0), "pi");
        load(pnet, name, "PAD");
        out(name, "Y", S_PAD);
      }
    }
    if (d_.f.bidir && pad_class(2) >= 0) {
      for (int i = 0, n = r_.range(1, 3); i < n; ++i) {
        std::string pn = "pad_io[" + std::to_string(i) + "]";
        port(pn, "bidirect");
        bool on_bus = wide(0.5);  // driven by buffers and sub-modules, read once closed
        int net = on_bus ? bus(0) : new_net();
        drive(net, "", pn);
        if (r_.chance(0.85)) bidir_pad(net);
        if (!on_bus && r_.chance(0.5)) pool_.push_back({net, S_BIDIR});  // the pad net read directly by logic
      }
    }
    if (d_.f.pads && pad_class(1) >= 0) {
      for (int i = 0, n = r_.range(1, 2); i < n; ++i) {
        std::string pn = "pad_out[" + std::to_string(i) + "]";
        port(pn, "output");
        std::string name = instance(pad_class(1), "po");
        load(out(name, "PAD", S_KINDS), "", pn);
        pending_.push_back({name, "A", 0});
      }
    }
  }

  void constants() {
    for (int i = 0, n = r_.chance(0.5) ? r_.range(1, 2) : 0; i < n; ++i) out(comp("high-", "c"), "out", S_CONST);
    for (int i = 0, n = r_.chance(0.5) ? r_.range(1, 2) : 0; i < n; ++i) out(comp("low-", "c"), "nout", S_CONST);
  }

  void place_child(int idx) {
    const ModDef& c = d_.mods[size_t(idx)];
    std::string name = instance(idx, "u");
    int prev = -1;
    for (const std::string& in : c.ins) {
      int src = (prev >= 0 && r_.chance(0.05)) ? prev : pick();
      load(src, name, in);
      prev = src;
    }
    if (!c.spare.empty() && r_.chance(0.5)) load(pick(), name, c.spare);
    if (!c.clk.empty()) {
      int ck = clock_for_reg();
      if (ck >= 0) load(ck, name, c.clk);
    }
    if (!c.rst.empty() && rst_ >= 0) load(rst_, name, c.rst);
    if (!c.scan_clk.empty() && scan_clk_ >= 0) load(scan_clk_, name, c.scan_clk);
    if (!c.s_clk.empty() && s_clk_ >= 0) load(s_clk_, name, c.s_clk);
    if (c.vdd && vdd_ >= 0) load(vdd_, name, "VDD");
    if (!c.bidi.empty() && top_) {
      std::string pn = "pad_sub[" + std::to_string(bidir_ports_++) + "]";
      port(pn, "bidirect");
      int net = out("", pn, S_KINDS);
      drive(net, name, c.bidi);
      if (r_.chance(0.3)) pool_.push_back({net, S_BIDIR});
    }
    if (!c.bio.empty() && r_.chance(0.8)) drive(pick(), name, c.bio);
    bool dead = d_.f.dead && r_.chance(0.12);
    for (const std::string& o : c.outs)
      if (!dead && r_.chance(0.85)) out(name, o, S_SUB);
    for (const std::string& t : c.tss)
      if (!dead) drive(bus(0.6), name, t);
  }

  void ts_buf() {
    std::string name = comp("ts_buf-", "t");
    load(pick(), name, "in");
    load(pick(), name, "nenb");
    drive(bus(0.7), name, "out");
  }

  void bgate() {
    if (clk_ < 0) return;
    std::string name = comp("bgate--2", "k");
    load(pick(), name, "enb");
    load(clk_, name, "clock");
    int o = out(name, "nout", S_KINDS);
    if (r_.chance(0.75))
      clocks_.push_back(o);
    else
      pool_.push_back({o, S_GATE});
  }

  void make_ports(const Plan& plan) {
    bool bus_style = r_.chance(0.3);
    if (plan.clock) {
      static const char* const top_names[] = {"m_clock", "clk", "ck"};
      static const char* const sub_names[] = {"clk", "m_clock", "ck", "clock"};
      std::string cn = top_ ? top_names[r_.below(3)] : sub_names[r_.below(4)];
      bool note = d_.f.clock_note && (top_ ? cn != "m_clock" : r_.chance(0.5));
      clk_ = input_port(cn, note ? "clock" : "");
      if (top_) {
        clocks_.push_back(clk_);
        if (r_.chance(0.4))  // a second clock domain
          clocks_.push_back(input_port("clk2", d_.f.clock_note && r_.chance(0.5) ? "clock" : ""));
      } else {
        m_.clk = cn;
        int ck = clk_;
        if (r_.chance(0.15)) {  // a local clock buffer
          std::string b = comp("ninv-", "g");
          load(clk_, b, "in");
          ck = out(b, "out", S_KINDS);
        }
        clocks_.push_back(ck);
      }
    }
    if (plan.reset && top_) {
      int style = d_.f.reset_tree ? r_.below(3) : 0;
      rst_ = style == 0 ? input_port("p_reset") : inverted(input_port("rst_n"));
      if (style == 2) {  // reset also from a test input, through an OR
        int te = input_port("test_rst");
        std::string g = comp("or--2", "g");
        load(rst_, g, "in1");
        load(te, g, "in2");
        rst_ = out(g, "out", S_KINDS);
      }
    } else if (plan.reset) {
      static const char* const names[] = {"rst", "p_reset", "reset"};
      m_.rst = names[r_.below(3)];
      rst_ = input_port(m_.rst);
      if (d_.f.reset_tree && r_.chance(0.3)) rst_ = inverted(rst_);  // active low inside
    }
    if (plan.scan_clk) scan_clk_ = input_port(m_.scan_clk = "scan_clock");
    if (plan.s_clk) s_clk_ = input_port(m_.s_clk = "s_clock");
    if (top_ ? d_.f.vdd : plan.vdd) {
      port("VDD", top_ && d_.f.vdd_input ? "input" : "global");
      vdd_ = out("", "VDD", S_SUPPLY);
      m_.vdd = !top_;
      if (top_ && r_.chance(0.8)) {
        port("VSS", d_.f.vdd_input && r_.chance(0.5) ? "input" : "global");
        vss_ = out("", "VSS", S_SUPPLY);
      }
    }
    if (top_ && d_.f.scan && r_.chance(0.7)) pool_.push_back({input_port("scan_enb"), S_IN});
    if (!top_ && plan.bidi_port && pad_class(2) >= 0) {
      port("pio", "bidirect");
      bidir_pad(out("", "pio", S_KINDS));
      m_.bidi = "pio";
    }
    if (!top_ && d_.f.spare && r_.chance(0.3)) port(m_.spare = "spare", "input");
    if (!top_ && wide(0.4)) port(m_.bio = bait_or("bio", false), "bidirect");
    for (int i = 0; i < plan.n_ins; ++i) {
      std::string k = std::to_string(i);
      std::string n = top_ ? (bus_style ? "din[" + k + "]" : "in_" + k) : (bus_style ? "a[" + k + "]" : "i" + k);
      n = bait_or(n, false);
      pool_.push_back({input_port(n), S_IN});
      if (!top_) m_.ins.push_back(n);
    }
    if (clk_ >= 0 && d_.f.clock_data && r_.chance(0.3)) pool_.push_back({clk_, S_CLK});
    if (clk_ >= 0 && r_.chance(0.2)) {  // an inverted clock for some registers
      int ic = inverter(clk_);
      if (ic >= 0) {
        pool_.pop_back();
        clocks_.push_back(ic);
      }
    }
  }

  void outputs(const Plan& plan) {
    bool bus_style = r_.chance(0.3);
    std::vector<int> used_src;
    for (int i = 0; i < plan.n_outs; ++i) {
      std::string k = std::to_string(i);
      std::string n = top_ ? (bus_style ? "dout[" + k + "]" : "out_" + k) : (bus_style ? "y[" + k + "]" : "o" + k);
      n = bait_or(n, false);
      port(n, "output");
      if (!top_) m_.outs.push_back(n);
      int src;
      if (!used_src.empty() && r_.chance(0.08)) {
        src = r_.pick(used_src);  // two output ports on one net
      } else {
        src = pick();
        if (r_.chance(0.25)) {
          int inv = inverter(src);
          if (inv >= 0) src = inv;
        }
      }
      load(src, "", n);
      used_src.push_back(src);
    }
  }

 public:
  void build(const Plan& plan) {
    make_ports(plan);
    if (top_) pads();
    constants();
    if (pool_.empty()) out(comp("high-", "c"), "out", S_CONST);  // a module without data inputs
    registers(plan.n_regs);
    boxes(plan.boxes);

    // the combinational body, sub-modules placed in between
    std::vector<int> steps(size_t(plan.n_gates), -1);  // -1 gate step, otherwise a child index
    steps.insert(steps.end(), plan.children.begin(), plan.children.end());
    r_.shuffle(steps);
    for (int s : steps) {
      if (s >= 0) {
        place_child(s);
        continue;
      }
      int a = r_.below(100);
      if (a < 52) {
        gate();
      } else if (a < 72) {
        inverter_chain();
      } else if (a < 76) {
        std::string b = comp("ninv-", "g");
        load(pick(), b, "in");
        out(b, "out", S_GATE);
      } else if (a < 88 && d_.f.tristate) {
        ts_buf();
      } else if (a < 91 && d_.f.bgate) {
        bgate();
      } else {
        gate();
      }
      if (!open_buses_.empty() && r_.chance(0.25)) close_bus(size_t(r_.below(int(open_buses_.size()))));
    }

    // a tristate port takes a bus nobody inside reads combinationally (in wide
    // designs, now and then a register reads it)
    for (int t = 0; plan.ts_port && t < plan.n_ts; ++t) {
      if (open_buses_.empty())
        for (int i = 0, n = r_.range(1, 2); i < n; ++i) ts_buf();
      int bus = open_buses_.back();
      open_buses_.pop_back();
      std::string pn = t == 0 ? "t0" : "tb" + std::to_string(t);
      port(pn, "tristate");
      m_.tss.push_back(pn);
      load(bus, "", pn);
      if (wide(0.4)) {
        std::string r = comp("reg-1", "r");
        load(bus, r, "in");
        out(r, "out", S_REG);
        if (int ck = clock_for_reg(); ck >= 0) load(ck, r, "m_clock");
      }
    }
    while (!open_buses_.empty()) close_bus(0);

    // an inverter between a bidirectional net and a bidirect top port
    if (top_ && d_.f.bidir_inv) {
      std::vector<int> bi;
      for (const Sig& s : pool_)
        if (s.kind == S_BIDIR) bi.push_back(s.net);
      int src = bi.empty() ? pick() : r_.pick(bi);
      std::string iv = comp("inv-", "g");
      load(src, iv, "in");
      port("pad_inv", "bidirect");
      drive(out(iv, "nout", S_KINDS), "", "pad_inv");
    }
    // cells declared and never connected
    if (d_.f.floating && r_.chance(0.3)) {
      static const char* const cls[] = {"inv-", "and--2", "reg-1", "nor--3"};
      comp(cls[r_.below(4)], "f");
    }

    // late inputs: registers, black boxes, pads
    for (const Pending& p : pending_) {
      int src = pick();
      if (p.kind == 1) {  // scan chains prefer scan outputs
        std::vector<int> so;
        for (const Sig& s : pool_)
          if (s.kind == S_REG) so.push_back(s.net);
        if (!so.empty() && r_.chance(0.6)) src = r_.pick(so);
      }
      if (p.pin == "OE" && vss_ >= 0 && r_.chance(0.3)) src = vss_;
      load(src, p.inst, p.pin);
    }
    outputs(plan);

    // more outputs for logic nobody reads, so that it is observed
    if (top_ || r_.chance(0.5)) {
      int extra = 0;
      for (size_t i = 0; i < pool_.size() && extra < 12; ++i) {
        int net = pool_[i].net;
        if (loads_[size_t(net)] != 0 || pool_[i].kind == S_IN || pool_[i].kind == S_SUPPLY) continue;
        if (!r_.chance(top_ ? 0.7 : 0.4)) continue;
        std::string n = top_ ? "obs_" + std::to_string(extra) : "q" + std::to_string(extra);
        port(n, "output");
        if (!top_) m_.outs.push_back(n);
        load(net, "", n);
        ++extra;
      }
    }
    // feed-through and constant outputs
    if (d_.f.multi_form && !top_ && r_.chance(0.3) && !m_.ins.empty()) {
      int src = -1;
      for (size_t i = 0; i < m_.nets.size(); ++i)
        for (const Term& t : m_.nets[i].terms)
          if (t.inst.empty() && t.pin == m_.ins[0]) src = int(i);
      if (src >= 0) {
        port("thru", "output");
        m_.outs.push_back("thru");
        load(src, "", "thru");
      }
    }
    if (d_.f.multi_form && r_.chance(0.3)) {
      for (const Sig& s : pool_) {
        if (s.kind != S_CONST) continue;
        std::string n = top_ ? "const_out" : "k0";
        if (taken(n)) break;
        port(n, "output");
        if (!top_) m_.outs.push_back(n);
        load(s.net, "", n);
        break;
      }
    }
    m_.cells = cells_;
    m_.invs = invs_;
    // drop nets without terminals (never made) and shuffle terminal order
    for (NetDef& n : m_.nets) r_.shuffle(n.terms);
    r_.shuffle(m_.nets);
    r_.shuffle(m_.ports);
  }
};

// ---- the whole design -----------------------------------------------------

class Generator {
 public:
  explicit Generator(const Params& p)
      : r_{p.seed * 0x2545f4914f6cdd1dULL + 0x1234567ULL}, lay_{p.seed * 0x9e3779b97f4a7c15ULL + 0x7654321ULL} {
    d_.p = p;
  }

 private:
  Rng r_;
  Rng lay_;  // folders and class names
  Design d_;
  int counter_ = 0;
  bool wide(double p) { return d_.f.wide && r_.chance(p); }
  // The name of the n-th module class.
  std::string class_word(Place place, int n) {
    std::string k = std::to_string(n);
    if (!d_.f.odd_classes || lay_.chance(0.4)) return (place == WORK ? "m" : "ro") + k;
    static const char* const styles[] = {"blk-", "m--", "core[", "m\xc3\xb3" "dulo", "Alu_"};
    std::string st = styles[lay_.below(5)];
    return st + k + (st == "core[" ? "]" : "");
  }

  void features() {
    Features& f = d_.f;
    int k = 0;  // the last three come from the layout stream, and first
  #define X(name, p, needs) if (++k > 25) f.name = f.needs && lay_.chance(p);
    VORQ_FEATURES(X)
  #undef X
    k = 0;
  #define X(name, p, needs) if (++k <= 25) f.name = f.needs && r_.chance(p);
    VORQ_FEATURES(X)
  #undef X
    Rng w{d_.p.seed * 0xd1342543de82ef95ULL + 0x51ULL};  // its own stream: other seeds keep their designs
    f.wide = d_.p.wide || w.chance(kWideShare);
  }

  ModDef& pcd_cell(const std::string& name, std::vector<PortDef> ports) {
    d_.mods.emplace_back();
    ModDef& m = d_.mods.back();
    m.name = name;
    m.pcd = true;
    m.place = LIB;
    m.cells = 1;
    m.ports = std::move(ports);
    return m;
  }

  void pcd_cells() {
    if (d_.f.pads || d_.f.bidir) {
      ModDef& in = pcd_cell("PADIN", {{"PAD", "input", ""}, {"Y", "output", ""}});
      in.pad_in = "PAD";
      in.outs = {"Y"};
      ModDef& out = pcd_cell("PADOUT", {{"PAD", "output", ""}, {"A", "input", ""}});
      out.pad_out = "PAD";
      out.ins = {"A"};
      ModDef& bi =
          pcd_cell("PADBI", {{"PAD", "bidirect", ""}, {"A", "input", ""}, {"OE", "input", ""}, {"Y", "output", ""}});
      bi.pcd_head = "\tarea\t120";
      bi.pad_bi = "PAD";
      bi.ins = {"A", "OE"};
      bi.outs = {"Y"};
    }
    if (!d_.f.pcd) return;
    for (int i = 0, n = r_.range(1, 3); i < n; ++i) {
      ModDef& bb = pcd_cell("BBOX" + std::to_string(i), {});
      if (r_.chance(0.5)) bb.pcd_head += "\tarea\t" + std::to_string(r_.range(10, 5000));
      if (r_.chance(0.3)) bb.pcd_head += "\tcell_name\tbb_cell" + std::to_string(i);
      if (r_.chance(0.2)) bb.pcd_head += "\tpower\t0.5";
      if (r_.chance(0.2)) bb.pcd_head += "\tgates\t.25";
      if (r_.chance(0.5)) {
        bb.clk = "CLK";
        bb.ports.push_back({"CLK", "input", ""});
      }
      for (int k = 0, m = r_.range(1, 4); k < m; ++k) {
        std::string p = "D[" + std::to_string(k) + "]";
        bb.ports.push_back({p, "input", ""});
        bb.ins.push_back(p);
        if (r_.chance(0.2)) bb.pcd_load[p] = "0.5";
      }
      for (int k = 0, m = r_.range(1, 3); k < m; ++k) {
        std::string p = "Q[" + std::to_string(k) + "]";
        bb.ports.push_back({p, "output", ""});
        bb.outs.push_back(p);
      }
      // wide designs: pins of the other directions
      static const char* const dirs[] = {"output-connected", "input-connected",    "tristate",
                                         "tristate_connected", "bidirect",          "bidirect_connected",
                                         "unused",             "unused-connected",  "global"};
      for (int k = 0; k < 9; ++k) {
        if (!wide(0.4)) continue;
        std::string p = "E" + std::to_string(k);
        bb.ports.push_back({p, dirs[k], ""});
        (k == 0 ? bb.outs : k == 1 ? bb.ins : k < 4 ? bb.tss : k < 6 ? bb.bis : k < 8 ? bb.ncs : bb.globs).push_back(p);
      }
      r_.shuffle(bb.ports);
    }
  }

  // Builds one module from the classes below it; returns its index.
  int module(int level, Place place, long budget, const std::vector<int>& below_w,
                        const std::vector<int>& below_r, bool is_top) {
    ModDef m;
    m.level = level;
    m.place = place;
    m.name = is_top ? "top" : class_word(place, ++counter_);
    if (d_.f.multi_dirs && lay_.chance(0.4)) m.dir = 1;
    Plan plan;
    std::vector<int> boxes;
    for (size_t i = 0; i < d_.mods.size(); ++i)
      if (d_.mods[i].pcd && d_.mods[i].pad_in.empty() && d_.mods[i].pad_out.empty() && d_.mods[i].pad_bi.empty())
        boxes.push_back(int(i));
    // children within the budget; one class repeated
    long left = budget;
    std::vector<int> cand = below_r;
    if (place == WORK || d_.f.ro_child) cand.insert(cand.begin(), below_w.begin(), below_w.end());
    auto add = [&](int c) {
      plan.children.push_back(c);
      left -= d_.mods[size_t(c)].cells;
    };
    if (!cand.empty()) {
      int n = is_top ? r_.range(2, 5) : r_.range(1, 3);
      std::vector<int> next_level;  // classes one level down make the hierarchy deep
      for (int i : cand)
        if (d_.mods[size_t(i)].level == level + 1) next_level.push_back(i);
      for (int k = 0; k < n; ++k) {
        int c = (!next_level.empty() && (k == 0 || r_.chance(0.5))) ? r_.pick(next_level) : r_.pick(cand);
        if (d_.mods[size_t(c)].cells > left && !plan.children.empty()) continue;
        add(c);
        if (r_.chance(0.4) && d_.mods[size_t(c)].cells <= left) add(c);  // several instances of one class
        if (wide(0.4))  // many of them
          for (int j = r_.range(3, 14); j > 0 && d_.mods[size_t(c)].cells <= left; --j) add(c);
      }
    }
    if (!boxes.empty() && r_.chance(is_top ? 0.8 : 0.3))
      for (int k = 0, n = r_.range(1, 2); k < n; ++k) plan.boxes.push_back(r_.pick(boxes));
    plan.n_gates = int(std::max<long>(3, std::min<long>(left, is_top ? 60 : 30)));
    plan.n_gates = r_.range(std::max(3, plan.n_gates / 2), plan.n_gates);
    if (d_.f.wide) plan.n_gates = r_.range(50, 130);
    plan.n_regs = r_.chance(is_top ? 0.8 : 0.5) ? r_.range(1, is_top ? 6 : 4) : 0;
    bool kid_clk = false, kid_rst = false, kid_scan = false, kid_s = false, kid_vdd = false;
    for (int c : plan.children) {
      const ModDef& k = d_.mods[size_t(c)];
      kid_clk |= !k.clk.empty();
      kid_rst |= !k.rst.empty();
      kid_scan |= !k.scan_clk.empty();
      kid_s |= !k.s_clk.empty();
      kid_vdd |= k.vdd;
    }
    for (int b : plan.boxes) kid_clk |= !d_.mods[size_t(b)].clk.empty();
    plan.clock = plan.n_regs > 0 || kid_clk || (d_.f.bgate && r_.chance(0.3)) || r_.chance(0.1);
    plan.reset = plan.clock && (plan.n_regs > 0 || kid_rst) && r_.chance(0.8);
    plan.reset |= kid_rst && plan.clock;
    plan.scan_clk = d_.f.scan && plan.clock && (kid_scan || (plan.n_regs > 0 && r_.chance(0.7)));
    plan.s_clk = d_.f.s_clock && plan.clock && (kid_s || r_.chance(0.5));
    plan.vdd = kid_vdd || (d_.f.vdd_sub && place == WORK && r_.chance(0.4));
    plan.n_ins = is_top ? r_.range(2, 8) : r_.range(1, 6);
    plan.n_outs = is_top ? r_.range(1, 6) : r_.range(1, 4);
    plan.ts_port = (!is_top || d_.f.wide) && d_.f.ts_ports && place == WORK && r_.chance(d_.f.wide ? 0.7 : 0.4);
    if (d_.f.wide) plan.n_ts = r_.range(1, 3);
    plan.bidi_port = level == 1 && place == WORK && d_.f.bidir_sub && r_.chance(0.5);

    d_.mods.push_back(m);
    int idx = int(d_.mods.size()) - 1;
    Builder b(d_, r_, d_.mods[size_t(idx)], is_top);
    b.build(plan);
    return idx;
  }

 public:
  Design& run() {
    features();
    if (d_.f.wide) {  // buses, pads and boxes everywhere; no pads inside copies
      d_.f.tristate = d_.f.ts_ports = d_.f.pcd = d_.f.bidir = true;  // (vorq would copy the input)
      d_.f.bidir_sub = false;
    }
    pcd_cells();
    int depth = d_.p.depth >= 0 ? d_.p.depth : r_.range(1, 5);
    long target = d_.p.cells > 0 ? d_.p.cells : r_.range(60, 500);
    if (d_.f.wide && d_.p.cells <= 0) target = r_.range(2000, 7000);
    if (d_.f.wide && d_.p.depth < 0) depth = std::max(depth, 2);
    std::vector<int> below_w, below_r;
    for (int level = depth; level >= 1; --level) {
      long budget = std::max<long>(8, target / (4L << (level - 1)));
      int n_w = r_.range(1, 3);
      int n_r = d_.f.ro ? (r_.chance(0.6) ? 1 : 0) : 0;
      std::vector<int> made_w, made_r;
      for (int i = 0; i < n_w; ++i) made_w.push_back(module(level, WORK, budget, below_w, below_r, false));
      for (int i = 0; i < n_r; ++i) made_r.push_back(module(level, LIB, budget, below_w, below_r, false));
      for (int i : made_w) below_w.push_back(i);
      for (int i : made_r) below_r.push_back(i);
    }
    module(0, WORK, target, below_w, below_r, true);
    if (d_.f.bait) bait_class_names();
    return d_;
  }

  // A black box or read-only module takes the name that the first renamed copy
  // of a writable class would get ("m3-1").
  void bait_class_names() {
    std::vector<int> writable, fixed;
    std::vector<bool> used = d_.reachable();
    for (size_t i = 0; i + 1 < d_.mods.size(); ++i) {
      const ModDef& m = d_.mods[i];
      if (!used[i]) continue;
      if (!m.pcd && m.place == WORK) writable.push_back(int(i));
      bool pad = !m.pad_in.empty() || !m.pad_out.empty() || !m.pad_bi.empty();
      if (m.place == LIB && !pad) fixed.push_back(int(i));
    }
    if (writable.empty() || fixed.empty()) return;
    ModDef& x = d_.mods[size_t(r_.pick(fixed))];
    std::string name = d_.mods[size_t(r_.pick(writable))].name + "-" + std::to_string(r_.range(1, 2));
    if (d_.find(name) >= 0) return;
    for (ModDef& o : d_.mods)
      for (CompDef& c : o.comps)
        if (c.cls == x.name) c.cls = name;
    x.name = name;
  }
};

// ---- validity check of the expanded design --------------------------------

// Expands the design from the top and checks drivers and loops; prints the
// first problem and returns false.
class Checker {
 public:
  explicit Checker(const Design& d) : d_(d) {}
  bool run(long* cells, long* invs);
  int copies = 0;    // module copies of the expanded design, the top included
  int max_depth = 0;  // deepest module copy below the top
  std::string problem() const { return problem_; }

 private:
  const Design& d_;
  std::vector<int> parent_;  // union-find over net slots
  struct Use {
    bool driver;
    bool tristate;
    bool bidir;
  };
  std::vector<std::vector<Use>> uses_;
  std::string problem_;
  int find(int x) {
    while (parent_[size_t(x)] != x) x = parent_[size_t(x)] = parent_[size_t(parent_[size_t(x)])];
    return x;
  }
  void unite(int a, int b) { parent_[size_t(find(a))] = find(b); }
  int slot() {
    parent_.push_back(int(parent_.size()));
    return int(parent_.size()) - 1;
  }
  bool fail(const std::string& what) {
    problem_ = what;
    return false;
  }
};

struct PinInfo {
  bool in = false, out = false, ts = false, comb = false;
};

// Direction of a cell pin for checking; false when the class has no such pin.
bool cell_pin(const std::string& cls, const std::string& pin, PinInfo* pi) {
  auto is = [&](std::initializer_list<const char*> l) {
    for (const char* s : l)
      if (pin == s) return true;
    return false;
  };
  pi->comb = true;
  if (cls == "inv-") { pi->in = pin == "in"; pi->out = pin == "nout"; return pi->in || pi->out; }
  if (cls == "ninv-") { pi->in = pin == "in"; pi->out = pin == "out"; return pi->in || pi->out; }
  if (cls == "high-") { pi->out = pin == "out"; return pi->out; }
  if (cls == "low-") { pi->out = pin == "nout"; return pi->out; }
  if (cls == "ts_buf-") {
    pi->in = is({"in", "nenb"});
    pi->out = pi->ts = pin == "out";
    return pi->in || pi->out;
  }
  if (cls == "bgate--2") { pi->in = is({"enb", "clock"}); pi->out = pin == "nout"; return pi->in || pi->out; }
  for (const RegClass& rc : kRegs) {
    if (cls != rc.name) continue;
    pi->comb = false;
    pi->out = is({"out", "nout"}) || (rc.scan && pin == "scan_out");
    bool base = rc.set_reset ? is({"set", "reset"}) : is({"in", "clk_enb"});
    pi->in = base || is({"m_clock", "s_clock", "p_reset"}) ||
             (rc.scan && is({"scan_in", "scan_enb", "scan_clock"}));
    return pi->in || pi->out;
  }
  size_t dd = cls.find("--");
  if (dd == std::string::npos) return false;
  std::string stem = cls.substr(0, dd);
  std::string outp = (stem == "and" || stem == "or" || stem == "eor") ? "out" : "nout";
  pi->out = pin == outp;
  pi->in = !pi->out;
  if (stem == "eor" || stem == "enor") return pi->out || is({"in1", "in2"});
  return true;
}

bool Checker::run(long* cells, long* invs) {
  *cells = 0;
  *invs = 0;
  // each work item: module index, map from port name to outer slot
  struct Item {
    int mod;
    std::map<std::string, int> ports;
    std::string path;
  };
  int top = int(d_.mods.size()) - 1;
  std::vector<Item> work;
  work.push_back({top, {}, ""});
  // combinational cells: input slots and output slots
  struct Cell {
    std::vector<int> ins, outs;
  };
  std::vector<Cell> comb;
  while (!work.empty()) {
    Item it = work.back();
    work.pop_back();
    ++copies;
    max_depth = std::max(max_depth, int(std::count(it.path.begin(), it.path.end(), '/')));
    const ModDef& m = d_.mods[size_t(it.mod)];
    bool is_top = it.mod == top;
    std::map<std::string, int> port_dir;  // 0 in, 1 out, 2 ts, 3 bidir, 4 global
    for (const PortDef& p : m.ports) {
      port_dir[p.name] = p.dir == "input" ? 0 : p.dir == "output" ? 1 : p.dir == "tristate" ? 2
                         : p.dir == "bidirect" ? 3 : 4;
    }
    std::map<std::string, int> comp_idx;
    for (size_t i = 0; i < m.comps.size(); ++i) {
      if (comp_idx.count(m.comps[i].name) || port_dir.count(m.comps[i].name))
        return fail(m.name + ": name " + m.comps[i].name + " declared twice");
      comp_idx[m.comps[i].name] = int(i);
    }
    std::map<std::string, std::map<std::string, int>> child_ports;  // inst -> pin -> slot
    std::map<std::string, Cell> cells_here;
    std::map<std::string, int> pin_seen;
    for (const NetDef& n : m.nets) {
      int s = slot();
      uses_.emplace_back();
      for (const Term& t : n.terms) {
        if (t.inst.empty()) {
          auto pd = port_dir.find(t.pin);
          if (pd == port_dir.end()) return fail(m.name + ": undeclared port " + t.pin);
          int dir = pd->second;
          auto o = it.ports.find(t.pin);
          if (is_top)  // inputs and globals drive, bidirectional ports drive and load
            uses_[size_t(s)].push_back({dir != 1 && dir != 2, false, dir == 3});
          else if (o != it.ports.end())
            unite(s, o->second);
          else if (dir == 0 || dir == 4)  // an input not connected by the parent: nothing drives it
            uses_[size_t(s)].push_back({false, false, false});
          continue;
        }
        auto ci = comp_idx.find(t.inst);
        if (ci == comp_idx.end()) return fail(m.name + ": undeclared instance " + t.inst);
        if (++pin_seen[t.inst + "." + t.pin] > 1)
          return fail(m.name + ": pin " + t.inst + "." + t.pin + " on two nets");
        const CompDef& c = m.comps[size_t(ci->second)];
        int mi = d_.find(c.cls);
        if (mi >= 0) {
          const ModDef& cm = d_.mods[size_t(mi)];
          const PortDef* pd = nullptr;
          for (const PortDef& p : cm.ports)
            if (p.name == t.pin) pd = &p;
          if (!pd) return fail(m.name + ": " + c.cls + " has no port " + t.pin);
          if (cm.pcd) {  // unused and global pins neither drive nor load
            auto is = [&](const char* d) { return pd->dir.rfind(d, 0) == 0; };
            bool drv = is("output") || is("tristate") || is("bidirect");
            if (drv || is("input")) uses_[size_t(s)].push_back({drv, is("tristate"), is("bidirect")});
          } else {
            child_ports[t.inst][t.pin] = s;
          }
          continue;
        }
        PinInfo pi;
        if (!cell_pin(c.cls, t.pin, &pi)) return fail(m.name + ": " + c.cls + " has no pin " + t.pin);
        uses_[size_t(s)].push_back({pi.out, pi.ts, false});
        if (pi.comb) (pi.out ? cells_here[t.inst].outs : cells_here[t.inst].ins).push_back(s);
      }
    }
    for (auto& kv : cells_here) comb.push_back(kv.second);
    for (const CompDef& c : m.comps) {
      int mi = d_.find(c.cls);
      if (mi >= 0 && !d_.mods[size_t(mi)].pcd) {
        work.push_back({mi, child_ports[c.name], it.path + c.name + "/"});
      } else {
        ++*cells;
        if (c.cls == "inv-") ++*invs;
      }
    }
  }
  // drivers per electrical net
  std::map<int, std::vector<Use>> nets;
  for (size_t s = 0; s < uses_.size(); ++s)
    for (const Use& u : uses_[s]) nets[find(int(s))].push_back(u);
  for (const auto& kv : nets) {
    int drivers = 0, ts = 0, bidir = 0, loads = 0;
    for (const Use& u : kv.second) {
      if (u.driver) ++drivers;
      else ++loads;
      if (u.tristate) ++ts;
      if (u.bidir) ++bidir;
    }
    if (loads > 0 && drivers == 0) return fail("a net with loads and no driver");
    if (drivers > 1 && ts != drivers && bidir == 0)
      return fail("a net with " + std::to_string(drivers) + " drivers");
  }
  // combinational loops: depth-first search with an explicit stack
  std::map<int, std::vector<int>> succ;
  for (const Cell& c : comb)
    for (int i : c.ins)
      for (int o : c.outs) succ[find(i)].push_back(find(o));
  std::map<int, int> state;  // 0 new, 1 on stack, 2 done
  for (const auto& kv : succ) {
    if (state[kv.first]) continue;
    std::vector<std::pair<int, size_t>> st{{kv.first, 0}};
    state[kv.first] = 1;
    while (!st.empty()) {
      auto& [n, i] = st.back();
      const std::vector<int>& out = succ[n];
      if (i < out.size()) {
        int nx = out[i++];
        if (state[nx] == 1) return fail("a combinational loop");
        if (state[nx] == 0) {
          state[nx] = 1;
          st.push_back({nx, 0});
        }
      } else {
        state[n] = 2;
        st.pop_back();
      }
    }
  }
  return true;
}

// ---- writing --------------------------------------------------------------

// An NLD module, or a PCD cell (its head words and pin loads, no body).
void write_module(const ModDef& m, FILE* f, Rng& r, bool messy) {
  std::fprintf(f, "(def-module\t%s%s\n", m.name.c_str(), m.pcd_head.c_str());
  if (messy && !m.pcd) std::fprintf(f, "; generated module %s\n", m.name.c_str());
  for (const PortDef& p : m.ports) {
    auto ld = m.pcd_load.find(p.name);
    std::string more = !p.note.empty() ? "\tnote\t" + p.note : ld != m.pcd_load.end() ? "\tload\t" + ld->second : "";
    std::fprintf(f, "\t(def-pin\t%s\ttype %s%s)\n", p.name.c_str(), p.dir.c_str(), more.c_str());
  }
  if (m.pcd) {
    std::fprintf(f, ")\n");
    return;
  }
  std::fprintf(f, "\n");
  for (size_t i = 0; i < m.comps.size();) {
    // several instances of one class in one form
    size_t j = i + 1;
    if (messy)
      while (j < m.comps.size() && m.comps[j].cls == m.comps[i].cls && r.chance(0.7)) ++j;
    std::fprintf(f, "\t(def-comp\t%s", m.comps[i].cls.c_str());
    for (size_t k = i; k < j; ++k) std::fprintf(f, "\t%s", m.comps[k].name.c_str());
    std::fprintf(f, ")\n");
    if (messy && r.chance(0.05)) std::fprintf(f, "\t(def-attribute\tfoo\t(bar baz))\t; skipped\n");
    i = j;
  }
  std::fprintf(f, "\n");
  for (const NetDef& n : m.nets) {
    if (n.terms.empty()) continue;
    std::fprintf(f, "\t(def-net");
    for (const Term& t : n.terms) {
      if (t.inst.empty())
        std::fprintf(f, "\t%s", t.pin.c_str());
      else
        std::fprintf(f, messy && r.chance(0.1) ? " %s.%s" : "\t%s.%s", t.inst.c_str(), t.pin.c_str());
    }
    std::fprintf(f, ")\n");
    if (messy && r.chance(0.05)) std::fprintf(f, "\n");
  }
  std::fprintf(f, ")\n");
  if (messy && r.chance(0.5)) std::fprintf(f, "; end\n\n");
}

bool make_dir(const std::string& d) {
  return ::mkdir(d.c_str(), 0755) == 0 || errno == EEXIST;
}

int usage() {
  std::fprintf(stderr,
               "usage: vorq-gen --seed S [--out DIR] [--cells N] [--depth D] [--odd-pins] [--wide] [--info]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Params p;
  bool have_seed = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--odd-pins" || a == "--info" || a == "--wide") {
      (a == "--info" ? p.info : a == "--wide" ? p.wide : p.odd_pins) = true;
      continue;
    }
    if (i + 1 >= argc) return usage();
    const char* v = argv[++i];
    if (a == "--seed")
      p.seed = std::strtoull(v, nullptr, 10), have_seed = true;
    else if (a == "--out")
      p.out = v;
    else if (a == "--cells" || a == "--depth")
      (a == "--cells" ? p.cells : p.depth) = std::atoi(v);
    else
      return usage();
  }
  if (!have_seed) return usage();

  Generator g(p);
  Design& d = g.run();
  long cells = 0, invs = 0;
  Checker check(d);
  if (!check.run(&cells, &invs)) {
    std::fprintf(stderr, "vorq-gen: seed %llu made an invalid design: %s\n", (unsigned long long)p.seed,
                 check.problem().c_str());
    return 3;
  }
  const char* folders[2][2] = {{"work", "work2"}, {"lib", "lib2"}};
  int n_dirs = d.f.multi_dirs ? 2 : 1;
  bool made = make_dir(p.out);
  for (int w = 0; w < 2; ++w)
    for (int k = 0; k < n_dirs; ++k) made = made && make_dir(p.out + "/" + folders[w][k]);
  if (!made) {
    std::fprintf(stderr, "vorq-gen: cannot make the folders in %s\n", p.out.c_str());
    return 1;
  }
  Rng wr{p.seed ^ 0x5deece66dULL};
  std::vector<bool> used = d.reachable();
  for (size_t i = 0; i < d.mods.size(); ++i) {
    const ModDef& m = d.mods[i];
    if (!used[i]) continue;  // classes the top never reached are not written
    std::string folder = p.out + "/" + folders[m.place == WORK ? 0 : 1][m.dir];
    std::string path = folder + "/" + m.name + (m.pcd ? ".pcd" : ".nld");
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
      std::fprintf(stderr, "vorq-gen: cannot write %s\n", path.c_str());
      return 1;
    }
    write_module(m, f, wr, d.f.messy);
    std::fclose(f);
    // a file of the same name in lib/, never read: writable folders come first
    if (d.f.decoys && m.place == WORK && i + 1 < d.mods.size() && (i % 2) == 0) {
      std::string decoy = p.out + "/lib/" + m.name + ".nld";
      if (FILE* g = std::fopen(decoy.c_str(), "w")) {
        std::fprintf(g, "(def-module\t%s\n\t(def-pin\tdecoy\ttype input)\n)\n", m.name.c_str());
        std::fclose(g);
      }
    }
  }
  // the top module's name, then the folders for vorq
  std::printf("%s\n", d.mods.back().name.c_str());
  std::printf(n_dirs == 2 ? "work work2 -r lib lib2\n" : "work -r lib\n");
  if (p.info) {
    const Features& f = d.f;
    std::fprintf(stderr, "seed %llu: %zu classes, %d module copies, depth %d, %ld cells, %ld inverters; features:",
                 (unsigned long long)p.seed, d.mods.size(), check.copies, check.max_depth, cells, invs);
#define X(name, p, needs) if (f.name) std::fprintf(stderr, " " #name);
    VORQ_FEATURES(X)
#undef X
    if (f.wide) std::fprintf(stderr, " wide");
    std::fprintf(stderr, "\n");
  }
  return 0;
}
