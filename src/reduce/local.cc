// The reduction driver: the pass loops over one component, the local steps
// (whole component, single cells, negations), the loop guard and the check for
// twisted irreversible nets.
#include <cstdint>
#include <unordered_set>

#include "reduce/reduce.h"

namespace vorq {

namespace {

// The six steps whose repeated results the loop guard watches.
enum Step : uint64_t {
  S_INV_GLOBAL = 1,
  S_INV_GLOBAL_EOR_ENOR,
  S_INV_LOCAL,
  S_WT_GLOBAL,
  S_WT_GLOBAL_EOR_ENOR,
  S_WT_LOCAL,
};

// Pairs (step, state) noted while one component is reduced. A pair that
// recurs means that the passes would run for ever from there.
struct LoopGuard {
  struct PairHash {
    size_t operator()(const std::pair<uint64_t, uint64_t>& p) const {
      return size_t(p.second ^ (p.first * 0x9e3779b97f4a7c15ull));
    }
  };
  std::unordered_set<std::pair<uint64_t, uint64_t>, PairHash> seen;
  bool stopped = false;
};

LoopGuard* guard = nullptr;

// Notes a step that returned 1; true when the component must be left.
bool repeats(Step step) {
  if (!guard) return false;
  if (guard->stopped) return true;
  if (guard->seen.emplace(uint64_t(step), detail::state_hash()).second) return false;
  guard->stopped = true;
  say("vorq: the reduction of a component repeats itself; it is stopped there.\n");
  return true;
}

bool stopped() { return guard && guard->stopped; }

// One pass: sweeps of the global steps and the local sweep until a sweep
// finds nothing. Returns whether any step found something.
bool pass(Cell* comp, int (*global)(Cell*), Step global_step, int (*global_eor_enor)(Cell*),
          Step global_eor_enor_step, int (*local)(Cell*), Step local_step) {
  bool changed = false;
  for (;;) {
    bool any = false;
    while (global(comp)) {
      any = true;
      if (repeats(global_step)) return true;
    }
    if (eor_enor_exist == 1)
      while (global_eor_enor(comp)) {
        any = true;
        if (repeats(global_eor_enor_step)) return true;
      }
    while (local(comp)) {
      any = true;
      if (repeats(local_step)) return true;
    }
    if (!any) return changed;
    changed = true;
  }
}

int local_sweep(Cell* comp, bool by_weight) {
  int changed = 0;
  if (by_weight ? diff_wt_conn_comp(comp) : diff_inv_conn_comp(comp)) {
    conn_comp_dual(comp);
    if (detail::settlement_on()) eor_enor_and_or_nand_nor(comp);
    changed = 1;
  }
  if (by_weight ? red_wt_node(comp) : red_inv_node(comp)) changed = 1;
  if (all == 1 && (by_weight ? red_wt_neg(comp) : red_inv_neg(comp))) changed = 1;
  return changed;
}

int node_step(Cell* comp, bool by_weight) {
  int changed = 0;
  // every member in list order, or only those whose test could keep a flip
  Cell* m = comp;
  bool skip = detail::next_local(comp, by_weight, 0, m);
  auto next = [&](Cell* c) {
    if (!skip) return c->comp_next;
    Cell* n = nullptr;
    detail::next_local(comp, by_weight, c->rid + 1, n);
    return n;
  };
  for (; m; m = next(m)) {
    int c = m->cls;
    if ((c >= C_AND && c <= C_NOR) || c == C_AOI || c == C_OAI) {
      if (!(by_weight ? diff_wt(m) : diff_inv(m))) continue;
      toggle_dual(m);
    } else if (c == C_TS_BUF) {
      if (!(by_weight ? diff_wt_ts(m) : diff_inv_ts(m))) continue;
    } else {
      continue;
    }
    changed = 1;
    if (detail::settlement_on()) eor_enor_instance_nets(m);
  }
  return changed;
}

int neg_step(Cell* comp, bool by_weight) {
  int changed = 0;
  for (Cell* m = comp; m; m = m->comp_next) {
    if (m->cls < C_AND || m->cls > C_NOR) continue;
    if (by_weight ? diff_wt_neg(m) : diff_inv_neg(m)) {
      toggle_negate(m);
      changed = 1;
    }
  }
  return changed;
}

}  // namespace

// Expects the flat netlist of `flat`; leaves changed weights and dual/negate
// flags, the components in top->comps and the last sub-components.
int red_inv() {
  if (!top) return 1;
  begin_counting();
  conn_comp();
  for (Instance* c : insts_of(top)) set_polarity_flags(c, false, false);
  if (detail::settlement_on())
    for (Cell* c = top->comps; c; c = c->comp_link) eor_enor_and_or_nand_nor(c);

  start_sub_comp = nullptr;
  for (Cell* c = top->comps; c; c = c->comp_link) {
    if (c->control) continue;
    LoopGuard g;
    guard = &g;
    do {
      red_inv2(c);
    } while (!g.stopped && red_wt2(c) && !g.stopped);
    guard = nullptr;
  }
  end_counting();

  for (Net* net : nets_of(top)) {
    if (!net->irreversible) continue;
    for (Node* n : nodes_of(net))
      if ((n->dir == K_BIDIRECT || n->dir == K_BIDIRECT_CONNECTED) && n->phase == -1) {
        say("vorq: twisted irreversible net found, sorry.\n");
        return 0;
      }
  }
  return 1;
}

void red_inv2(Cell* comp) {
  if (stopped()) return;
  pass(comp, red_inv_global, S_INV_GLOBAL, red_inv_global_eor_enor, S_INV_GLOBAL_EOR_ENOR,
       red_inv_local, S_INV_LOCAL);
}

int red_wt2(Cell* comp) {
  if (stopped()) return 0;
  return pass(comp, red_wt_global, S_WT_GLOBAL, red_wt_global_eor_enor, S_WT_GLOBAL_EOR_ENOR,
              red_wt_local, S_WT_LOCAL)
             ? 1
             : 0;
}

int red_inv_local(Cell* comp) { return local_sweep(comp, false); }
int red_wt_local(Cell* comp) { return local_sweep(comp, true); }
int red_inv_node(Cell* comp) { return node_step(comp, false); }
int red_wt_node(Cell* comp) { return node_step(comp, true); }
int red_inv_neg(Cell* comp) { return neg_step(comp, false); }
int red_wt_neg(Cell* comp) { return neg_step(comp, true); }

}  // namespace vorq
