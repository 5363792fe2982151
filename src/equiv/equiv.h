// vorq-equiv: proves that two designs (a gold one and a new one, usually
// vorq's output for the gold one) compute the same function at their
// observation points. Each design is loaded with the netlist reader, expanded
// into one flat logic network of this program's own (independent of vorq's
// flattening), and both networks are built into one and-inverter graph that
// shares the free values matched by name. A miter of the observation points
// is checked by structural hashing, random simulation and finally ABC.
//
// Values are three-valued (Kleene): every signal is a pair of literals, the
// value and "defined". A tristate bus is defined only while exactly one of its
// drivers is enabled; an unconnected input or an undriven net is undefined.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "netlist/netlist.h"

namespace vorq::equiv {

// ---- verdicts -----------------------------------------------------------

// Thrown by any stage that cannot decide; main prints "cannot tell: <what>".
struct CannotTell : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// ---- and-inverter graph -------------------------------------------------

// A literal is 2 * variable + complement; variable 0 is the constant false.
using Lit = uint32_t;
constexpr Lit LIT_FALSE = 0;
constexpr Lit LIT_TRUE = 1;
inline Lit lit_not(Lit a) { return a ^ 1u; }
inline uint32_t lit_var(Lit a) { return a >> 1; }
inline bool lit_compl(Lit a) { return a & 1u; }

class Aig {
 public:
  Aig();

  Lit new_input();
  Lit and2(Lit a, Lit b);
  Lit or2(Lit a, Lit b) { return lit_not(and2(lit_not(a), lit_not(b))); }
  Lit xor2(Lit a, Lit b);
  // Conjunction (disjunction) of any number of literals, built in a canonical
  // order so that one set of literals always gives one literal.
  Lit and_n(std::vector<Lit> lits);
  Lit or_n(std::vector<Lit> lits);

  uint32_t num_vars() const { return static_cast<uint32_t>(fanin0_.size()); }
  bool is_input(uint32_t var) const { return var != 0 && fanin0_[var] == INPUT_MARK; }
  Lit fanin0(uint32_t var) const { return fanin0_[var]; }
  Lit fanin1(uint32_t var) const { return fanin1_[var]; }
  size_t num_ands() const { return num_ands_; }

  // 64 parallel patterns: `input_bits` gives every input variable's word
  // (indexed by variable; others ignored); returns the word of every variable.
  std::vector<uint64_t> simulate(const std::vector<uint64_t>& input_bits) const;
  static uint64_t value_of(const std::vector<uint64_t>& sim, Lit a) {
    return lit_compl(a) ? ~sim[lit_var(a)] : sim[lit_var(a)];
  }

  // Input variables in the cone of `a`, in variable order.
  std::vector<uint32_t> support(Lit a) const;

  // Writes the cone of `out` as a binary AIGER file with one output; the
  // inputs of the cone, in variable order, are listed in `inputs`.
  void write_aiger(const std::string& path, Lit out, std::vector<uint32_t>& inputs) const;

 private:
  static constexpr Lit INPUT_MARK = 0xffffffffu;
  std::vector<uint8_t> cone(Lit out) const;  // 1 for every variable in the cone
  uint32_t lookup(uint64_t key) const;
  void insert(uint64_t key, uint32_t var);
  void grow();

  std::vector<Lit> fanin0_, fanin1_;
  std::vector<uint64_t> keys_;   // open addressing: (fanin0 << 32 | fanin1) + 1, 0 empty
  std::vector<uint32_t> vals_;
  size_t used_ = 0;
  size_t num_ands_ = 0;
};

// A three-valued signal: `v` is its value wherever `d` (defined) holds.
struct Sig {
  Lit v;
  Lit d;
};
constexpr Sig SIG_X{LIT_FALSE, LIT_FALSE};
constexpr Sig SIG_0{LIT_FALSE, LIT_TRUE};
constexpr Sig SIG_1{LIT_TRUE, LIT_TRUE};

inline Sig sig_not(Sig a) { return {lit_not(a.v), a.d}; }
Sig sig_and(Aig& g, const std::vector<Sig>& in);
Sig sig_or(Aig& g, const std::vector<Sig>& in);
Sig sig_xor(Aig& g, Sig a, Sig b);

// ---- free values --------------------------------------------------------

// The inputs of the shared graph, one per name; both designs ask for theirs
// here, so that equal names meet in one input.
class FreeValues {
 public:
  explicit FreeValues(Aig& g) : g_(g) {}
  Lit get(const std::string& name);
  size_t size() const { return by_name_.size(); }
  // Name of an input variable, or "" for another variable.
  const std::string& name_of(uint32_t var) const;

 private:
  Aig& g_;
  std::unordered_map<std::string, Lit> by_name_;
  std::unordered_map<uint32_t, std::string> by_var_;
  std::string none_;
};

// ---- one design as a network ---------------------------------------------

// The observation points of one design: key to signal, in a fixed order.
//   "port NAME"      an output or bidirectional port of the top module
//   "pin PATH.PIN"   an input pin of a register or of a black box
// PATH is the hierarchical instance path (instance names joined by "/").
struct Network {
  std::vector<std::string> keys;
  std::unordered_map<std::string, Sig> points;
  size_t cells = 0;       // primitive cells and black boxes
  size_t nets = 0;        // nets after joining across the hierarchy
  size_t registers = 0;
};

// Expands the loaded design whose Module list starts at `top_module` (the
// loader's list: top module first, one Module per instantiation) into `g`.
// `which` ("gold" or "new") names the design in reasons. Throws CannotTell
// on a combinational loop and on connections it cannot interpret.
Network build_network(Module* top_module, Aig& g, FreeValues& free, const char* which);

// ---- proof --------------------------------------------------------------

struct ProofOptions {
  std::string abc;          // ABC binary; "" searches PATH
  int timeout_seconds = 1800;
  bool keep_files = false;  // keep the temporary directory for inspection
};

struct Verdict {
  int status;               // 0 equivalent, 1 not equivalent, 2 cannot tell
  std::string line;         // the verdict line, without newline
};

// Builds the miter of the two networks and decides it.
Verdict prove(Aig& g, const FreeValues& free, const Network& gold, const Network& fresh,
              const ProofOptions& opt);

}  // namespace vorq::equiv
