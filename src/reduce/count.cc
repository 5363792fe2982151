// Inverter counts and weights of nets and modules, kept as running counts by a
// weight observer while the reduction runs.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "reduce/reduce.h"

namespace vorq {

namespace {

bool on_xor(const Node* n) { return n->target && is_xor_class(n->target->cls); }

using namespace detail;

bool counted_type(const Net* n) { return n->type == K_TRISTATE || n->type == NET_SIGNAL; }

// Loads of a net, not on exclusive-OR cells, with wt +1 and with wt -1.
void tally(const Net* net, int& plus, int& minus) {
  plus = minus = 0;
  for (const Node* n = net->nodes; n; n = n->next) {
    if (on_xor(n)) continue;
    if (n->wt == 1) ++plus;
    else if (n->wt == -1) ++minus;
  }
}

uint64_t mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

uint64_t node_key(const Node* n, int wt, int phase) {
  uint64_t v = uint64_t(((wt & 3) << 2) | (phase & 3));
  return mix(uint64_t(reinterpret_cast<uintptr_t>(n)) * 16 + v);
}

uint64_t flags_key(const Cell* c, bool dual, bool negate) {
  uint64_t v = uint64_t(dual) | uint64_t(negate) << 1;
  return mix((uint64_t(reinterpret_cast<uintptr_t>(c)) * 4 + v) ^ 0x5bd1e9955bd1e995ull);
}

// The running counts of one reduction run.
struct Counts final : WeightObserver {
  int64_t inv = 0;
  int64_t wt = 0;
  uint64_t hash = 0;
  // weight changes of a trial, told to the sub-components only when kept
  bool in_trial = false;
  std::vector<Node*> trial_changes;
  // nets of type 271/291 by the component of their driver
  bool index_built = false;
  std::unordered_map<Cell*, std::vector<Net*>> by_comp;

  void weights_changed(Node* n, int old_wt, int old_phase) override {
    hash ^= node_key(n, old_wt, old_phase) ^ node_key(n, n->wt, n->phase);
    if (old_wt == n->wt) return;
    if (in_trial) trial_changes.push_back(n);
    else detail::weight_changed(n);
    Net* net = n->net;
    if (!net || on_xor(n)) return;
    const bool counted = net->count_mode != 0;
    const Mode mode = counted ? Mode(net->count_mode - 1) : M_ZERO;
    if (counted) {
      inv -= inv_of(mode, net->plus_loads, net->minus_loads);
      wt -= wt_of(mode, net->plus_loads, net->minus_loads);
    }
    if (old_wt == 1) --net->plus_loads;
    else if (old_wt == -1) --net->minus_loads;
    if (n->wt == 1) ++net->plus_loads;
    else if (n->wt == -1) ++net->minus_loads;
    if (counted) {
      inv += inv_of(mode, net->plus_loads, net->minus_loads);
      wt += wt_of(mode, net->plus_loads, net->minus_loads);
    }
  }

  void flags_changed(Instance* c, bool old_dual, bool old_negate) override {
    hash ^= flags_key(c, old_dual, old_negate) ^ flags_key(c, c->dual, c->negate);
  }
};

Counts* active = nullptr;

// Full recount of the top module by the driver-class table.
void recount(int64_t& inv, int64_t& wt) {
  inv = wt = 0;
  if (!top) return;
  for (Net* net : nets_of(top)) {
    if (!counted_type(net)) continue;
    inv += count_inv_net(net);
    wt += count_wt_net(net);
  }
}

}  // namespace

Mode detail::net_mode(const Net* net) {
  const Node* s = net->source;
  if (!s) return M_ZERO;  // undriven: no inverter, no weight
  const Cell* d = s->target;
  if (!d) return M_NORMAL;
  int c = d->cls;
  if (c >= C_AND && c <= C_NOR)
    return (all == 1 && !net->irreversible && can_negate(d)) ? M_REVERSIBLE : M_NORMAL;
  if (c == C_EOR || c == C_ENOR) return net->irreversible ? M_NORMAL : M_REVERSIBLE;
  if (c >= C_REG && c <= C_REG_SR) return M_ZERO;
  if (c >= C_SREG && c <= C_SREG_SR) return same(s->pin_name, "scan_out") ? M_NORMAL : M_ZERO;
  if (c == C_HIGH || c == C_LOW) return M_ZERO;
  if (c == C_PIN) return (same(d->name, "VDD") || same(d->name, "VSS")) ? M_ZERO : M_NORMAL;
  return M_NORMAL;
}

// ---- running counts ---------------------------------------------------------

void begin_counting() {
  end_counting();
  active = new Counts;
  for (Module* m : modules())
    for (Net* net : nets_of(m)) {
      tally(net, net->plus_loads, net->minus_loads);
      net->count_mode = 0;
    }
  if (top) {
    for (Net* net : nets_of(top)) {
      if (!counted_type(net)) continue;
      Mode mode = net_mode(net);
      net->count_mode = uint8_t(1 + mode);
      active->inv += inv_of(mode, net->plus_loads, net->minus_loads);
      active->wt += wt_of(mode, net->plus_loads, net->minus_loads);
    }
  }
  set_weight_observer(active);
}

void end_counting() {
  detail::forget_groups();
  if (!active) return;
  if (top) {
    for (Net* net : nets_of(top)) net->count_mode = 0;
    for (Instance* c : insts_of(top)) c->negatable = 0;
  }
  set_weight_observer(nullptr);
  delete active;
  active = nullptr;
}

bool counting() { return active != nullptr; }

// ---- nets -------------------------------------------------------------------

int count_inv_net_normal(Net* net) {
  for (Node* n : nodes_of(net))
    if (!on_xor(n) && n->wt == -1) return 1;
  return 0;
}

int count_inv_net_reversible(Net* net) {
  bool plus = false, minus = false;
  for (Node* n : nodes_of(net)) {
    if (on_xor(n)) continue;
    if (n->wt == 1) plus = true;
    else if (n->wt == -1) minus = true;
    if (plus && minus) return 1;
  }
  return 0;
}

int count_wt_net_normal(Net* net) {
  int plus, minus;
  tally(net, plus, minus);
  return minus;
}

int count_wt_net_reversible(Net* net) {
  int plus, minus;
  tally(net, plus, minus);
  return std::min(plus, minus);
}

int count_wt_net_eor_enor_aside(Net* net) {
  if (active) return net->plus_loads - net->minus_loads;
  int plus, minus;
  tally(net, plus, minus);
  return plus - minus;
}

namespace {

// How the net counts: noted in the net while counting, else worked out.
Mode mode_of(const Net* net) {
  return (active && net->count_mode) ? Mode(net->count_mode - 1) : net_mode(net);
}

}  // namespace

int count_inv_net(Net* net) {
  Mode mode = mode_of(net);
  if (active) return inv_of(mode, net->plus_loads, net->minus_loads);
  switch (mode) {
    case M_NORMAL: return count_inv_net_normal(net);
    case M_REVERSIBLE: return count_inv_net_reversible(net);
    default: return 0;
  }
}

int count_wt_net(Net* net) {
  Mode mode = mode_of(net);
  if (active) return wt_of(mode, net->plus_loads, net->minus_loads);
  switch (mode) {
    case M_NORMAL: return count_wt_net_normal(net);
    case M_REVERSIBLE: return count_wt_net_reversible(net);
    default: return 0;
  }
}

// ---- modules ------------------------------------------------------------------

int count_inv(Module* m) {
  if (!m) return 0;
  if (m->kind == KIND_WRITABLE) {
    if (active && m == top) return int(active->inv);
    int sum = 0;
    for (Net* net : nets_of(m))
      if (counted_type(net)) sum += count_inv_net(net);
    return sum;
  }
  if (m->kind == KIND_READONLY) {
    int sum = 0;
    for (Instance* c : insts_of(m))
      if (c->cls == C_INV) ++sum;
    return sum;
  }
  return 0;
}

int count_control_inv(Module* m) {
  if (!m || m->kind != KIND_WRITABLE) return 0;
  int sum = 0;
  for (Instance* c : insts_of(m))
    if (c->cls == C_INV && c->node && c->node->net && c->node->net->type == NET_CONTROL) ++sum;
  return sum;
}

int count_wt() {
  if (active) return int(active->wt);
  int64_t inv, wt;
  recount(inv, wt);
  return int(wt);
}

// ---- shared with the other reduction files ------------------------------------

namespace detail {

const std::vector<Net*>& driven_nets(Cell* comp) {
  static std::vector<Net*> scratch;
  auto driver_comp = [](Net* net) -> Cell* {
    if (!counted_type(net) || !net->source || !net->source->target) return nullptr;
    return net->source->target->comp;
  };
  if (!active) {
    scratch.clear();
    if (top)
      for (Net* net : nets_of(top))
        if (comp && driver_comp(net) == comp) scratch.push_back(net);
    return scratch;
  }
  if (!active->index_built) {
    active->by_comp.clear();
    if (top)
      for (Net* net : nets_of(top))
        if (Cell* c = driver_comp(net)) active->by_comp[c].push_back(net);
    active->index_built = true;
  }
  auto it = active->by_comp.find(comp);
  if (it == active->by_comp.end()) {
    scratch.clear();
    return scratch;
  }
  return it->second;
}

void components_changed() {
  forget_groups();
  if (active) {
    active->index_built = false;
    active->by_comp.clear();
  }
}

void begin_trial() {
  if (!active) return;
  active->in_trial = true;
  active->trial_changes.clear();
}

void end_trial(bool kept) {
  if (!active) return;
  active->in_trial = false;
  if (kept)
    for (Node* n : active->trial_changes) weight_changed(n);
  active->trial_changes.clear();
}

uint64_t state_hash() { return active ? active->hash : 0; }

namespace {

// The loads of `net` (not on exclusive-OR cells, wt +1 and wt -1) once the
// gates with `mark` set are flipped: a gate flip negates its input Nodes one
// by one and, for every other Node, the whole net; a Node changes when it is
// negated an odd number of times.
void loads_after_flip(const Net* net, int& plus, int& minus) {
  bool whole = false;
  int kept_plus = 0, kept_minus = 0;  // the loads' signs unless the net is negated
  for (const Node* n = net->nodes; n; n = n->next) {
    bool flipped = n->target && n->target->mark;
    if (flipped && n->dir != K_INPUT) whole = !whole;
    if ((n->wt != 1 && n->wt != -1) || on_xor(n)) continue;
    if ((n->wt == 1) != (flipped && n->dir == K_INPUT)) ++kept_plus;
    else ++kept_minus;
  }
  plus = whole ? kept_minus : kept_plus;
  minus = whole ? kept_plus : kept_minus;
}

}  // namespace

bool gate_flip_counts(Instance* g, int& inv0, int& wt0, int& inv1, int& wt1) {
  if (!active) return false;
  inv0 = wt0 = inv1 = wt1 = 0;
  for (Node* r : ring_of(g)) {
    Net* net = r->net;
    if (!net) continue;
    // only the gate's own Nodes on the net tell what the flip does to it
    bool whole = false;
    int plus = net->plus_loads, minus = net->minus_loads;
    for (Node* n : ring_of(g)) {
      if (n->net != net) continue;
      if (n->dir != K_INPUT) whole = !whole;
      else if (!on_xor(n) && n->wt == 1) --plus, ++minus;
      else if (!on_xor(n) && n->wt == -1) ++plus, --minus;
    }
    if (whole) std::swap(plus, minus);
    Mode mode = mode_of(net);
    inv0 += inv_of(mode, net->plus_loads, net->minus_loads);
    wt0 += wt_of(mode, net->plus_loads, net->minus_loads);
    inv1 += inv_of(mode, plus, minus);
    wt1 += wt_of(mode, plus, minus);
  }
  return true;
}

bool flip_counts(const std::vector<Cell*>& gates, int& inv, int& wt) {
  if (!active || !top) return false;
  static std::vector<Net*> nets;
  nets.clear();
  for (Cell* g : gates) g->mark = 1;
  for (Cell* g : gates)
    for (Node* n : ring_of(g))
      if (n->net && n->net->count_mode && !n->net->mark) {
        n->net->mark = 1;
        nets.push_back(n->net);
      }
  int64_t d_inv = 0, d_wt = 0;
  for (Net* net : nets) {
    net->mark = 0;
    int plus, minus;
    loads_after_flip(net, plus, minus);
    Mode mode = Mode(net->count_mode - 1);
    d_inv += inv_of(mode, plus, minus) - inv_of(mode, net->plus_loads, net->minus_loads);
    d_wt += wt_of(mode, plus, minus) - wt_of(mode, net->plus_loads, net->minus_loads);
  }
  for (Cell* g : gates) g->mark = 0;
  inv = int(active->inv + d_inv);
  wt = int(active->wt + d_wt);
  return true;
}

void check_counts() {
#if defined(VORQ_CHECKED) && VORQ_CHECKED
  if (!active || !top) return;
#if defined(VORQ_CHECK_STRIDE)
  // every VORQ_CHECK_STRIDE-th trial only (a difference, once there, stays)
  static uint64_t trials = 0;
  if (++trials % VORQ_CHECK_STRIDE != 0) return;
#endif
  int64_t inv = 0, wt = 0;
  for (Net* net : nets_of(top)) {
    int plus, minus;
    tally(net, plus, minus);
    if (plus != net->plus_loads || minus != net->minus_loads) {
      say("vorq: running load counts of a net differ from a recount (%d/%d against %d/%d)\n",
          net->plus_loads, net->minus_loads, plus, minus);
      std::abort();
    }
    if (!counted_type(net)) continue;
    Mode mode = net_mode(net);
    inv += mode == M_NORMAL ? count_inv_net_normal(net)
           : mode == M_REVERSIBLE ? count_inv_net_reversible(net) : 0;
    wt += mode == M_NORMAL ? count_wt_net_normal(net)
          : mode == M_REVERSIBLE ? count_wt_net_reversible(net) : 0;
  }
  if (inv != active->inv || wt != active->wt) {
    say("vorq: running counts differ from a recount (%lld/%lld against %lld/%lld)\n",
        (long long)active->inv, (long long)active->wt, (long long)inv, (long long)wt);
    std::abort();
  }
#endif
}

}  // namespace detail

}  // namespace vorq
