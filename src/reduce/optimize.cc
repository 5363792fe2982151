// The search of option --optimize. Every allowed flip (a gate to its dual, a
// tristate bus) is a binary variable that negates a fixed set of loads; the
// inverter count and weight of a net follow from the signs of its loads and
// its driver class, as the counts of the reduction have them. A simulated
// annealing over single flips, drawn from the nets that still need an
// inverter, with a fixed seed and a budget in work units, starts from the
// result of the reduction and keeps the best state seen.
#include "reduce/optimize.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "reduce/reduce.h"

namespace vorq {

namespace {

using namespace detail;

bool better(int64_t inv0, int64_t wt0, int64_t inv1, int64_t wt1) {
  return inv1 < inv0 || (inv1 == inv0 && wt1 < wt0);
}

// Fixed-seed generator (splitmix64): the same sequence on every machine.
struct Rng {
  uint64_t s = 0x5eed0f0123456789ull;
  uint64_t next() {
    uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return uint32_t(((next() >> 32) * n) >> 32); }
};

// The flip model of the flat netlist.
struct Model {
  // counted nets whose loads may count
  std::vector<Net*> net;
  std::vector<uint8_t> mode;
  std::vector<int32_t> plus, minus;
  // loads: a Node with wt +1 or -1 on such a net, not on an exclusive-OR cell
  std::vector<int32_t> load_net;
  std::vector<int8_t> sign;
  // variables: the cell to flip, whether it is a bus, the loads it negates
  // (grouped by net) and, per net, the variables that reach it
  std::vector<Cell*> cell;
  std::vector<uint8_t> bus;
  std::vector<int32_t> touch_at, touch;
  std::vector<int32_t> reach_at, reach;
  int64_t inv = 0, wt = 0;
  // nets that need an inverter and are reached by a variable
  std::vector<int32_t> open, open_pos;
  int64_t work = 0;

  void note_open(int n) {
    bool want = inv_of(mode[n], plus[n], minus[n]) && reach_at[n + 1] > reach_at[n];
    if (want && open_pos[n] < 0) {
      open_pos[n] = int32_t(open.size());
      open.push_back(n);
    } else if (!want && open_pos[n] >= 0) {
      int last = open.back();
      open[open_pos[n]] = last;
      open_pos[last] = open_pos[n];
      open.pop_back();
      open_pos[n] = -1;
    }
  }

  // Change of count and weight if variable v were flipped.
  void delta(int v, int& dc, int& dw) {
    dc = dw = 0;
    int end = touch_at[v + 1];
    for (int i = touch_at[v]; i < end;) {
      int n = load_net[touch[i]];
      int p = plus[n], m = minus[n], np = p, nm = m;
      for (; i < end && load_net[touch[i]] == n; ++i) {
        if (sign[touch[i]] > 0) --np, ++nm;
        else ++np, --nm;
      }
      dc += inv_of(mode[n], np, nm) - inv_of(mode[n], p, m);
      dw += wt_of(mode[n], np, nm) - wt_of(mode[n], p, m);
    }
    work += 1 + end - touch_at[v];
  }

  void flip(int v) {
    int end = touch_at[v + 1];
    for (int i = touch_at[v]; i < end;) {
      int n = load_net[touch[i]];
      inv -= inv_of(mode[n], plus[n], minus[n]);
      wt -= wt_of(mode[n], plus[n], minus[n]);
      for (; i < end && load_net[touch[i]] == n; ++i) {
        int e = touch[i];
        if (sign[e] > 0) --plus[n], ++minus[n];
        else ++plus[n], --minus[n];
        sign[e] = int8_t(-sign[e]);
      }
      inv += inv_of(mode[n], plus[n], minus[n]);
      wt += wt_of(mode[n], plus[n], minus[n]);
      note_open(n);
    }
    work += 1 + end - touch_at[v];
  }
};

Node* first_with_dir(Cell* c, int dir) {
  for (Node* n : ring_of(c))
    if (n->dir == dir) return n;
  return nullptr;
}

// Builds the model of the top module; false when it has nothing to flip.
bool build(Model& md) {
  std::unordered_map<const Node*, int32_t> load_of;
  for (Net* net : nets_of(top)) {
    if (net->type != K_TRISTATE && net->type != NET_SIGNAL) continue;
    Mode mode = net_mode(net);
    if (mode == M_ZERO) continue;
    int32_t id = int32_t(md.net.size());
    int32_t p = 0, m = 0;
    for (Node* n : nodes_of(net)) {
      if (n->target && is_xor_class(n->target->cls)) continue;
      if (n->wt != 1 && n->wt != -1) continue;
      load_of.emplace(n, int32_t(md.load_net.size()));
      md.load_net.push_back(id);
      md.sign.push_back(n->wt);
      (n->wt == 1 ? p : m)++;
    }
    md.net.push_back(net);
    md.mode.push_back(mode);
    md.plus.push_back(p);
    md.minus.push_back(m);
    md.inv += inv_of(mode, p, m);
    md.wt += wt_of(mode, p, m);
  }

  // the loads each flip negates, a load negated twice by one flip dropped
  std::vector<uint8_t> odd(md.load_net.size(), 0);
  std::vector<int32_t> hit;
  auto toggle = [&](Node* n) {
    auto it = load_of.find(n);
    if (it == load_of.end()) return;
    if (!odd[it->second]) hit.push_back(it->second);
    odd[it->second] ^= 1;
  };
  auto close = [&](Cell* c, bool is_bus) {
    std::vector<int32_t> kept;
    for (int32_t e : hit)
      if (odd[e]) kept.push_back(e), odd[e] = 0;
    hit.clear();
    if (kept.empty()) return;
    std::sort(kept.begin(), kept.end(),
              [&](int32_t a, int32_t b) { return md.load_net[a] < md.load_net[b] ||
                                                 (md.load_net[a] == md.load_net[b] && a < b); });
    if (md.touch_at.empty()) md.touch_at.push_back(0);
    md.touch.insert(md.touch.end(), kept.begin(), kept.end());
    md.touch_at.push_back(int32_t(md.touch.size()));
    md.cell.push_back(c);
    md.bus.push_back(is_bus);
  };
  std::unordered_map<const Net*, bool> buses;
  for (Instance* c : insts_of(top)) {
    if (c->control || !c->comp || c->comp->control) continue;
    int k = c->cls;
    if ((k >= C_AND && k <= C_NOR) || k == C_AOI || k == C_OAI) {
      if (!is_reversible_instance(c)) continue;
      for (Node* n : ring_of(c)) {
        if (n->dir == K_INPUT) toggle(n);
        else if (n->net)
          for (Node* m : nodes_of(n->net)) toggle(m);
      }
      close(c, false);
    } else if (k == C_TS_BUF) {
      Node* out = first_with_dir(c, K_TRISTATE);
      if (!out || !out->net || !is_reversible_ts_bufs(c)) continue;
      if (!buses.emplace(out->net, true).second) continue;
      for (Node* n : nodes_of(out->net)) {
        if (n->target && n->target->cls == C_TS_BUF && n->dir == K_TRISTATE) {
          for (Node* m : ring_of(n->target))
            if (same(m->pin_name, "in")) {
              toggle(m);
              break;
            }
        } else {
          toggle(n);
        }
      }
      close(c, true);
    }
  }
  if (md.cell.empty()) return false;

  // per net, the variables that reach it
  size_t nn = md.net.size();
  md.reach_at.assign(nn + 1, 0);
  for (size_t v = 0; v < md.cell.size(); ++v)
    for (int i = md.touch_at[v]; i < md.touch_at[v + 1]; ++i)
      if (i == md.touch_at[v] || md.load_net[md.touch[i]] != md.load_net[md.touch[i - 1]])
        ++md.reach_at[md.load_net[md.touch[i]] + 1];
  for (size_t n = 0; n < nn; ++n) md.reach_at[n + 1] += md.reach_at[n];
  md.reach.resize(md.reach_at[nn]);
  std::vector<int32_t> fill(md.reach_at.begin(), md.reach_at.end() - 1);
  for (size_t v = 0; v < md.cell.size(); ++v)
    for (int i = md.touch_at[v]; i < md.touch_at[v + 1]; ++i)
      if (i == md.touch_at[v] || md.load_net[md.touch[i]] != md.load_net[md.touch[i - 1]])
        md.reach[fill[md.load_net[md.touch[i]]]++] = int32_t(v);

  md.open_pos.assign(nn, -1);
  for (size_t n = 0; n < nn; ++n) md.note_open(int(n));
  return true;
}

// One annealing run from the current state, `x` the variables flipped since
// the start; leaves the model (and `x`) at the best state seen.
void anneal(Model& md, std::vector<uint8_t>& x, Rng& rng, int64_t budget, int K, uint32_t r_hi) {
  size_t nv = md.cell.size();
  // variables whose value differs from the best state
  std::vector<int32_t> diff, diff_pos(nv, -1);
  auto toggle_diff = [&](int v) {
    if (diff_pos[v] < 0) {
      diff_pos[v] = int32_t(diff.size());
      diff.push_back(v);
    } else {
      int last = diff.back();
      diff[diff_pos[v]] = last;
      diff_pos[last] = diff_pos[v];
      diff.pop_back();
      diff_pos[v] = -1;
    }
  };
  int64_t best_inv = md.inv, best_wt = md.wt;
  // An increase of the energy (count * K + weight) by d is taken with
  // probability r^d; r falls from r_hi to r_lo in fixed steps (16.16 fixed
  // point, so no floating point decides anything).
  const int stages = 64;
  const uint32_t r_lo = 300;  // of 65536
  uint32_t table[64];
  int64_t start = md.work;
  for (int s = 0; s < stages && !md.open.empty(); ++s) {
    uint64_t r = r_hi - uint64_t(r_hi - r_lo) * s / (stages - 1);
    uint64_t p = uint64_t(1) << 32;
    for (int d = 0; d < 64; ++d) {
      table[d] = uint32_t(std::min<uint64_t>(p, 0xffffffffu));
      p = (p * r) >> 16;
    }
    int64_t stage_end = start + budget * (s + 1) / stages;
    while (md.work < stage_end && !md.open.empty()) {
      int n = md.open[rng.below(uint32_t(md.open.size()))];
      int v = md.reach[md.reach_at[n] + int(rng.below(uint32_t(md.reach_at[n + 1] - md.reach_at[n])))];
      int dc, dw;
      md.delta(v, dc, dw);
      int de = dc * K + dw;
      if (de > 0 && (de >= 64 || uint32_t(rng.next() >> 32) >= table[de])) continue;
      md.flip(v);
      x[v] ^= 1;
      toggle_diff(v);
      if (better(best_inv, best_wt, md.inv, md.wt)) {
        best_inv = md.inv;
        best_wt = md.wt;
        for (int32_t u : diff) diff_pos[u] = -1;
        diff.clear();
      }
    }
  }
  // back to the best state
  for (int32_t u : diff) {
    md.flip(u);
    x[u] ^= 1;
  }
}

void apply_flips(const Model& md, const std::vector<uint8_t>& x) {
  for (size_t v = 0; v < x.size(); ++v) {
    if (!x[v]) continue;
    Cell* c = md.cell[v];
    if (md.bus[v]) {
      rev_ts_bufs(c);
    } else {
      rev_instance(c);
      toggle_dual(c);
    }
  }
  if (!detail::settlement_on()) return;
  for (size_t v = 0; v < x.size(); ++v) {
    if (!x[v]) continue;
    Cell* c = md.cell[v];
    if (!md.bus[v]) {
      eor_enor_instance_nets(c);
      continue;
    }
    Node* out = first_with_dir(c, K_TRISTATE);
    for (Node* n : nodes_of(out->net))
      if (n->target && n->target->cls == C_TS_BUF && n->dir == K_TRISTATE)
        eor_enor_instance_nets(n->target);
  }
}

}  // namespace

void optimize_polarity(int64_t effort) {
  if (!top) return;
  if (effort <= 0) effort = 200;
  Model md;
  if (!build(md)) return;
  // the model must count as the reduction does, or it decides nothing
  int64_t inv0 = count_inv(top), wt0 = count_wt();
  if (md.inv != inv0 || md.wt != wt0) return;
  // the budget grows with the part of the design the search draws from: the
  // flips that reach a net needing an inverter
  int64_t reach = 0;
  for (int32_t n : md.open)
    for (int i = md.reach_at[n]; i < md.reach_at[n + 1]; ++i)
      reach += 1 + md.touch_at[md.reach[i] + 1] - md.touch_at[md.reach[i]];
  int64_t budget = effort * std::min<int64_t>(reach, int64_t(md.touch.size() + md.cell.size()));
  // a small design gets a fixed least budget (some hundredths of a second)
  budget = std::max<int64_t>(budget, 500000);
  // two runs: a weak weight of the count first, which lets the loads move
  // more freely, then a strong one from the best state of the first
  std::vector<uint8_t> x(md.cell.size(), 0);
  Rng rng;
  static const struct { int k; uint32_t r_hi; } runs[] = {{1, 26000}, {4, 26000}};
  for (const auto& run : runs) anneal(md, x, rng, budget / 2, run.k, run.r_hi);
  if (!better(inv0, wt0, md.inv, md.wt)) return;
  apply_flips(md, x);
  int64_t inv1 = count_inv(top), wt1 = count_wt();
  if (inv1 == md.inv && wt1 == md.wt) return;
  // not what the model promised: undo the flips (the settlement keeps counts)
  apply_flips(md, x);
}

}  // namespace vorq
