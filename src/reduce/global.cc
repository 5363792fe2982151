// Global reduction: sub-components of one component (gates joined by in-phase
// connections) and the search for the first one whose flip improves the design.
//
// `plus_factor` and the `rev_sub_comp_*` searches build and walk the
// sub-component list of the records. The global steps of the reduction passes
// reach the same decisions without rebuilding the list or walking it: the
// groups and the gains of their flips are kept up to date as weights change,
// so a step costs what it changes.
#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <queue>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "reduce/reduce.h"

namespace vorq {

namespace {

using detail::inv_of;
using detail::Mode;
using detail::wt_of;

bool grouping(int cls, bool with_xor) {
  if (cls == C_EOR || cls == C_ENOR) return with_xor;
  return cls >= C_NINV && cls <= C_OAI;
}

bool tried_head(const Cell* s, bool with_xor) {
  if (!is_gate_class(s->cls)) return false;
  return with_xor || !is_xor_class(s->cls);
}

bool better(bool by_weight, int inv0, int wt0, int inv1, int wt1) {
  return inv1 < inv0 || (by_weight && inv1 == inv0 && wt1 < wt0);
}

// ---- the sub-component list of the records ----------------------------------

// Builds the sub-components of one component in one pass over it. `sub_comp`
// serves as the parent link of a union-find whose roots are the heads, and
// `sub_comp_link` of a head holds the last member of its chain until the list
// is linked; heads, chains and list order come out as relinking leaves them.
struct SubBuild {
  std::vector<Cell*> members;  // in comp_next order

  static Cell* find(Cell* c) {
    Cell* root = c;
    while (root->sub_comp != root) root = root->sub_comp;
    while (c->sub_comp != root) {
      Cell* up = c->sub_comp;
      c->sub_comp = root;
      c = up;
    }
    return root;
  }

  static Cell* join(Cell* a, Cell* b) {
    Cell* ha = find(a);
    Cell* hb = find(b);
    if (hb->cls == C_PIN && ha->cls != C_PIN) std::swap(ha, hb);
    ha->sub_comp_link->sub_comp_next = hb;
    ha->sub_comp_link = hb->sub_comp_link;
    hb->sub_comp = ha;
    return ha;
  }

  void build(Cell* comp, bool with_xor) {
    members.clear();
    start_sub_comp = nullptr;
    for (Cell* m = comp; m; m = m->comp_next) {
      m->sub_comp = m;
      m->sub_comp_next = nullptr;
      m->sub_comp_link = m;  // last member
      members.push_back(m);
    }
    // the signal nets driven by members, in the order of the flat net list
    for (Net* net : detail::driven_nets(comp)) {
      if (net->type != NET_SIGNAL) continue;
      Cell* d = net->source->target;
      if (!grouping(d->cls, with_xor)) continue;
      Cell* h = find(d);
      for (Node* n : nodes_of(net)) {
        if (n->wt != 1) continue;
        Cell* c = n->target;
        if (!c || !grouping(c->cls, with_xor) || c->comp != comp) continue;
        if (find(c) != h) h = join(d, c);
      }
    }
    // heads in the reverse of the member order, as pushing left them
    Cell* head = nullptr;
    for (Cell* m : members) {
      m->sub_comp = find(m);
      if (m->sub_comp != m) {
        m->sub_comp_link = nullptr;
        continue;
      }
      m->sub_comp_link = head;
      head = m;
    }
    start_sub_comp = head;
  }
};

SubBuild& sub_build() {
  static SubBuild b;
  return b;
}

Cell* search_list(bool with_xor, bool by_weight) {
  int inv0 = count_inv(top), wt0 = by_weight ? count_wt() : 0;
  for (Cell* s = start_sub_comp; s; s = s->sub_comp_link) {
    if (!tried_head(s, with_xor) || !is_reversible_sub_comp_tmp(s)) continue;
    detail::Trial trial;
    rev_sub_comp_tmp(s);
    int inv1 = count_inv(top), wt1 = by_weight ? count_wt() : 0;
    detail::check_counts();
    if (better(by_weight, inv0, wt0, inv1, wt1)) {
      trial.kept = true;
      return s;
    }
    rev_sub_comp_tmp(s);
  }
  return nullptr;
}

#if defined(VORQ_CHECKED) && VORQ_CHECKED
// The head of the first sub-component whose flip would improve the design, by
// a walk of the whole list of the records, without flipping anything.
Cell* first_improving(Cell* comp, bool with_xor, bool by_weight) {
  sub_build().build(comp, with_xor);
  int inv0 = count_inv(top), wt0 = by_weight ? count_wt() : 0;
  std::vector<Cell*> gates;
  for (Cell* s = start_sub_comp; s; s = s->sub_comp_link) {
    if (!tried_head(s, with_xor) || !is_reversible_sub_comp_tmp(s)) continue;
    gates.clear();
    for (Cell* m = s->sub_comp; m; m = m->sub_comp_next)
      if (is_gate_class(m->cls)) gates.push_back(m);
    int inv1, wt1;
    detail::flip_counts(gates, inv1, wt1);
    if (better(by_weight, inv0, wt0, inv1, by_weight ? wt1 : 0)) return s;
  }
  return nullptr;
}
#endif

// ---- kept up to date ---------------------------------------------------------

// The in-phase connections that can join members of one component: a load of
// a signal net driven by a grouping member, on a grouping member. Whether one
// joins is read from the load's weight when a sub-component is resolved.
// Positions are those of comp_next; edges are kept in the order in which the
// build meets them (nets in list order, Nodes in net order).
struct Edges {
  Cell* comp = nullptr;
  std::vector<Cell*> mem;  // a member's position is its `rid`
  struct DrivenNet {
    int driver;
    int first, last;  // its edges
  };
  std::vector<DrivenNet> nets;
  std::vector<Node*> e_node;
  std::vector<int> e_net, e_target;
  std::vector<uint8_t> e_xor;     // driver or load on an exclusive-OR cell
  std::vector<uint8_t> in_phase;  // the load's wt was +1 when last looked at
  // nets driven by each member, and edges into each member (CSR)
  std::vector<int> out_first, out;
  std::vector<int> in_first, in;

  // The edge of Node n, or -1 (a Node's `rid` may be left from another component).
  int edge_of(const Node* n) const {
    int r = n->rid;
    return (r >= 0 && size_t(r) < e_node.size() && e_node[size_t(r)] == n) ? r : -1;
  }

  void build(Cell* c) {
    *this = Edges();
    comp = c;
    for (Cell* m = c; m; m = m->comp_next) {
      m->rid = int32_t(mem.size());
      mem.push_back(m);
    }
    for (Net* net : detail::driven_nets(c)) {
      if (net->type != NET_SIGNAL) continue;
      Cell* d = net->source->target;
      if (!grouping(d->cls, true)) continue;
      DrivenNet dn{d->rid, int(e_node.size()), 0};
      for (Node* n : nodes_of(net)) {
        Cell* t = n->target;
        if (!t || !grouping(t->cls, true) || t->comp != c) continue;
        n->rid = int32_t(e_node.size());
        e_node.push_back(n);
        e_net.push_back(int(nets.size()));
        e_target.push_back(t->rid);
        e_xor.push_back(is_xor_class(d->cls) || is_xor_class(t->cls));
        in_phase.push_back(n->wt == 1);
      }
      dn.last = int(e_node.size());
      nets.push_back(dn);
    }
    size_t n = mem.size();
    out_first.assign(n + 1, 0);
    in_first.assign(n + 1, 0);
    for (const DrivenNet& dn : nets) ++out_first[size_t(dn.driver) + 1];
    for (int t : e_target) ++in_first[size_t(t) + 1];
    for (size_t i = 0; i < n; ++i) {
      out_first[i + 1] += out_first[i];
      in_first[i + 1] += in_first[i];
    }
    out.resize(nets.size());
    in.resize(e_node.size());
    std::vector<int> fill_out(out_first.begin(), out_first.end() - 1);
    std::vector<int> fill_in(in_first.begin(), in_first.end() - 1);
    for (size_t k = 0; k < nets.size(); ++k) out[size_t(fill_out[size_t(nets[k].driver)]++)] = int(k);
    for (size_t e = 0; e < e_node.size(); ++e) in[size_t(fill_in[size_t(e_target[e])]++)] = int(e);
  }
};

// Heads of the groups, kept as the build's joins would leave them. The joins
// of the build, taken in the order of the connections (its `time`), form a
// forest over the members: a member linked under another at time s joined its
// set to the other's at s, and `driver_side` tells whether the connection's
// driver was on the linked member's side. Times grow towards the roots. The
// head of a set is that of its latest linked member whose side drove the join,
// or the member itself. A new in-phase connection re-joins only the sets that
// meet it: the links above its two ends are undone and made again in time
// order, and a member linked earlier than before hands its later links up to
// the set that holds it then.
struct HeadForest {
  static constexpr int kNever = INT32_MAX;
  std::vector<int> up, time, size, slot;  // slot: index in the parent's `below`
  std::vector<int> latest;  // no link below has a later time
  std::vector<uint8_t> driver_side;
  std::vector<std::vector<int>> below;
  std::vector<int> link_of;  // connection -> member it links, or -1
  // driver-side links below each member: a heap by time, whose entries of
  // links undone since are dropped when they come to the top
  std::vector<std::vector<std::pair<int, int>>> drove;
  std::vector<int> drove_live;
  struct Join {
    int time, a, b;
    bool a_drives;
    bool operator>(const Join& o) const { return time > o.time; }
  };
  std::priority_queue<Join, std::vector<Join>, std::greater<Join>> joins;
  std::vector<int> chain, whole;
  std::vector<uint8_t> on_chain;

  void reset(size_t members, size_t connections) {
    up.resize(members);
    time.assign(members, kNever);
    size.assign(members, 1);
    slot.assign(members, -1);
    driver_side.assign(members, 0);
    below.assign(members, {});
    drove.assign(members, {});
    drove_live.assign(members, 0);
    latest.assign(members, -1);
    on_chain.assign(members, 0);
    for (size_t m = 0; m < members; ++m) up[m] = int(m);
    link_of.assign(connections, -1);
  }

  // The member that stands for the set of m just before time t.
  int top_before(int m, int t) const {
    while (up[size_t(m)] != m && time[size_t(m)] < t) m = up[size_t(m)];
    return m;
  }

  void link(int c, int p, int t, bool c_drives) {
    up[size_t(c)] = p;
    time[size_t(c)] = t;
    driver_side[size_t(c)] = c_drives;
    slot[size_t(c)] = int(below[size_t(p)].size());
    below[size_t(p)].push_back(c);
    latest[size_t(p)] = std::max(latest[size_t(p)], t);
    size[size_t(p)] += size[size_t(c)];
    link_of[size_t(t)] = c;
    if (c_drives) {
      std::vector<std::pair<int, int>>& d = drove[size_t(p)];
      if (d.size() > 2 * size_t(drove_live[size_t(p)]) + 16) {
        d.erase(std::remove_if(d.begin(), d.end(), [&](const std::pair<int, int>& x) { return !holds(p, x); }),
                d.end());
        std::make_heap(d.begin(), d.end());
      }
      d.push_back({t, c});
      std::push_heap(d.begin(), d.end());
      ++drove_live[size_t(p)];
    }
  }

  // Undoes the link of c; sizes are left to the caller.
  void unlink(int c) {
    int p = up[size_t(c)];
    std::vector<int>& b = below[size_t(p)];
    int last = b.back();
    b[size_t(slot[size_t(c)])] = last;
    slot[size_t(last)] = slot[size_t(c)];
    b.pop_back();
    if (driver_side[size_t(c)]) --drove_live[size_t(p)];
    link_of[size_t(time[size_t(c)])] = -1;
    up[size_t(c)] = c;
    time[size_t(c)] = kNever;
    slot[size_t(c)] = -1;
  }

  // Joins the tops a and b at time t, later than every link made so far; the
  // smaller set goes under the larger.
  void join_now(int a, int b, int t, bool a_drives) {
    if (size[size_t(a)] > size[size_t(b)]) {
      std::swap(a, b);
      a_drives = !a_drives;
    }
    link(a, b, t, a_drives);
  }

  // Whether a heap entry of m is a link in place.
  bool holds(int m, const std::pair<int, int>& x) const {
    int c = x.second;
    return up[size_t(c)] == m && c != m && time[size_t(c)] == x.first && driver_side[size_t(c)];
  }

  // The head of the set whose top member is `top`.
  int head(int top) {
    int m = top;
    for (;;) {
      std::vector<std::pair<int, int>>& d = drove[size_t(m)];
      while (!d.empty() && !holds(m, d.front())) {
        std::pop_heap(d.begin(), d.end());
        d.pop_back();
      }
      if (d.empty()) return m;
      m = d.front().second;
    }
  }

  // The links made to v after time t, once v is linked at t, belong to the
  // set that holds v then: they become joins to make again.
  void hand_up(int v, int t) {
    if (latest[size_t(v)] < t) return;
    std::vector<int>& b = below[size_t(v)];
    latest[size_t(v)] = -1;
    for (size_t i = 0; i < b.size();) {
      int c = b[i];
      if (time[size_t(c)] < t) {
        latest[size_t(v)] = std::max(latest[size_t(v)], time[size_t(c)]);
        ++i;
        continue;
      }
      joins.push({time[size_t(c)], c, v, bool(driver_side[size_t(c)])});
      size[size_t(v)] -= size[size_t(c)];
      unlink(c);
    }
  }

  // Adds connection t from driver d to load l to the joins.
  void insert(int t, int d, int l) {
    int x = top_before(d, t), y = top_before(l, t);
    if (x == y) return;
    // undo every link above x and y; each becomes a join to make again
    chain.clear();
    for (int v : {x, y})
      for (; !on_chain[size_t(v)]; v = up[size_t(v)]) {
        on_chain[size_t(v)] = 1;
        chain.push_back(v);
        if (up[size_t(v)] == v) break;
      }
    whole.clear();
    for (int v : chain) whole.push_back(size[size_t(v)]);
    for (size_t i = 0; i < chain.size(); ++i) {
      int v = chain[i], p = up[size_t(v)];
      if (p != v && on_chain[size_t(p)]) size[size_t(p)] -= whole[i];
    }
    for (int v : chain) {
      on_chain[size_t(v)] = 0;
      if (up[size_t(v)] == v) continue;
      joins.push({time[size_t(v)], v, up[size_t(v)], bool(driver_side[size_t(v)])});
      unlink(v);
    }
    joins.push({t, x, y, true});
    while (!joins.empty()) {
      Join j = joins.top();
      joins.pop();
      int ra = top_before(j.a, j.time), rb = top_before(j.b, j.time);
      if (ra == rb) continue;
      bool a_drives = j.a_drives;
      // the one with fewer links below goes under: its later links move
      size_t la = below[size_t(ra)].size(), lb = below[size_t(rb)].size();
      if (la > lb || (la == lb && size[size_t(ra)] > size[size_t(rb)])) {
        std::swap(ra, rb);
        a_drives = !a_drives;
      }
      hand_up(ra, j.time);
      link(ra, rb, j.time, a_drives);
    }
  }

  // Undoes every link of the members `ms` (all of one tree).
  void detach(const std::vector<int>& ms) {
    for (int m : ms) {
      if (up[size_t(m)] != m) link_of[size_t(time[size_t(m)])] = -1;
      up[size_t(m)] = m;
      time[size_t(m)] = kNever;
      slot[size_t(m)] = -1;
      size[size_t(m)] = 1;
      latest[size_t(m)] = -1;
      below[size_t(m)].clear();
      drove[size_t(m)].clear();
      drove_live[size_t(m)] = 0;
    }
  }

  // Makes the joins of connections (time, driver, load), in time order.
  void replay(const std::vector<std::array<int, 3>>& cs) {
    for (const auto& c : cs) {
      int x = top_before(c[1], kNever), y = top_before(c[2], kNever);
      if (x != y) join_now(x, y, c[0], true);
    }
  }
};

// The sub-components of one component under one grouping (with or without
// exclusive-OR cells), kept up to date as weights change. A connection that
// turns in-phase joins two groups at once; when a join of the build is lost,
// its group is resolved again from its members. Every group holds the gain
// of its flip as a sum of shares, one per net its gates touch, so a changed
// net costs only its own Nodes, and its head from the forest of joins. The
// groups whose flip improves the design and may be tried sit in sets ordered
// by the position of their heads: a step takes the one nearest the list's
// start, as the walk of the whole list would.
struct Search {
  Edges edges;
  bool built = false;
  bool with_xor = true;

  // The counted nets that gates of the component touch, each with room for
  // one share per gate Node on it.
  struct Share {
    int group;
    int inv, wt;  // what a flip of the group would change on the net
  };
  std::vector<Net*> net;
  std::vector<int> share_first, share_count;
  std::vector<Share> shares;
  std::vector<int> dirty;  // nets whose shares must be worked out again
  std::vector<uint8_t> is_dirty;
  // the same for a flip of every gate of the component
  std::vector<std::array<int, 2>> whole_share;
  int64_t whole_inv = 0, whole_wt = 0;
  int irreversible_gates = 0;
  std::vector<uint8_t> fixed;  // a gate that may not be flipped
  // The single-gate step: which gates' own flips would be kept, by position
  // ([1] lowers the count, [2] only the weight), and the tristate buffers.
  std::set<int> single_cand[3];
  std::vector<uint8_t> single_kind, single_dirty;
  std::vector<int> single_list, ts_pos;
  std::vector<int> weighed;  // nets whose Nodes' weights changed
  std::vector<uint8_t> is_weighed;

  struct Group {
    int first = -1, last = -1, size = 0;
    int irreversible = 0;  // gates that may not be flipped
    int head = -1;         // -1 until worked out
    int cand = 0, cand_pos = -1;  // in which set, at which position
    int64_t inv = 0, wt = 0;      // gain of its flip (negative improves)
    bool broken = false, touched = false, rebuilt = false;
  };
  std::vector<Group> groups;
  std::vector<int> gid, next_member;
  std::vector<int> fwd;  // itself while live; the group it joined; -1 when dissolved
  std::vector<int> free_ids, dead, touched, broken;
  std::set<int> cand[3];  // [1] heads of groups lowering the count, [2] only the weight
  std::vector<int> pending;  // edges whose Node's weight changed
  std::vector<int> added, rebuilt;
  HeadForest forest;
  std::vector<std::array<int, 3>> conns;
  // scratch
  std::vector<int> stack, net_list, acc_list;
  struct Acc {
    bool seen = false, whole = false;
    int plus_in = 0, minus_in = 0;
  };
  std::vector<Acc> acc;

  bool usable(int e) const { return edges.in_phase[size_t(e)] && (with_xor || !edges.e_xor[size_t(e)]); }

  // The position of a gate of the component, or -1.
  int gate_pos(const Cell* t) const {
    if (!t || t->comp != edges.comp || !is_gate_class(t->cls)) return -1;
    return t->rid;
  }

  int net_id(const Net* n) const {
    int r = n->rid;
    return (r >= 0 && size_t(r) < net.size() && net[size_t(r)] == n) ? r : -1;
  }

  void attach(Cell* comp) {
    if (edges.comp == comp) return;
    edges.build(comp);
    built = false;
    net.clear();
    for (Cell* m : edges.mem) {
      if (!is_gate_class(m->cls)) continue;
      for (Node* n : ring_of(m))
        if (n->net && net_id(n->net) < 0) {
          n->net->rid = int32_t(net.size());
          net.push_back(n->net);
        }
    }
    share_first.assign(net.size() + 1, 0);
    for (size_t k = 0; k < net.size(); ++k) {
      int room = 0;
      for (Node* n : nodes_of(net[k]))
        if (gate_pos(n->target) >= 0) ++room;
      share_first[k + 1] = share_first[k] + room;
    }
    shares.assign(size_t(share_first.back()), Share{});
    share_count.assign(net.size(), 0);
    is_dirty.assign(net.size(), 0);
    whole_share.assign(net.size(), {0, 0});
    whole_inv = whole_wt = 0;
    fixed.assign(edges.mem.size(), 0);
    for (size_t m = 0; m < edges.mem.size(); ++m) {
      Cell* c = edges.mem[m];
      fixed[m] = is_gate_class(c->cls) && !is_reversible_instance(c);
    }
    irreversible_gates = int(std::count(fixed.begin(), fixed.end(), 1));
    dirty.clear();
    pending.clear();
    single_kind.assign(edges.mem.size(), 0);
    single_dirty.assign(edges.mem.size(), 0);
    single_list.clear();
    weighed.clear();
    is_weighed.assign(net.size(), 0);
    ts_pos.clear();
    for (size_t m = 0; m < edges.mem.size(); ++m)
      if (edges.mem[m]->cls == C_TS_BUF) ts_pos.push_back(int(m));
  }

  // ---- groups -----------------------------------------------------------------

  int live(int g) const {
    while (g >= 0 && fwd[size_t(g)] != g) g = fwd[size_t(g)];
    return g;
  }

  void touch(int g) {
    if (groups[size_t(g)].touched) return;
    groups[size_t(g)].touched = true;
    touched.push_back(g);
  }

  int new_group() {
    int g;
    if (!free_ids.empty()) {
      g = free_ids.back();
      free_ids.pop_back();
    } else {
      g = int(groups.size());
      groups.emplace_back();
      fwd.push_back(g);
      acc.emplace_back();
    }
    groups[size_t(g)] = Group();
    fwd[size_t(g)] = g;
    return g;
  }

  void add_member(int g, int m) {
    Group& G = groups[size_t(g)];
    gid[size_t(m)] = g;
    next_member[size_t(m)] = -1;
    if (G.last >= 0) next_member[size_t(G.last)] = m;
    else G.first = m;
    G.last = m;
    ++G.size;
    G.irreversible += fixed[size_t(m)];
  }

  void mark_nets(int m) {
    Cell* c = edges.mem[size_t(m)];
    if (!is_gate_class(c->cls)) return;
    for (Node* n : ring_of(c)) {
      int k = n->net ? net_id(n->net) : -1;
      if (k >= 0 && !is_dirty[size_t(k)]) {
        is_dirty[size_t(k)] = 1;
        dirty.push_back(k);
      }
    }
  }

  void uncand(Group& G) {
    if (G.cand) cand[G.cand].erase(G.cand_pos);
    G.cand = 0;
  }

  // Joins two live groups: the smaller one's members move into the larger.
  void join_groups(int a, int b) {
    if (groups[size_t(a)].size < groups[size_t(b)].size) std::swap(a, b);
    Group& A = groups[size_t(a)];
    Group& B = groups[size_t(b)];
    for (int m = B.first; m >= 0; m = next_member[size_t(m)]) {
      gid[size_t(m)] = a;
      mark_nets(m);  // their shares name b, and may overlap a's
    }
    next_member[size_t(A.last)] = B.first;
    A.last = B.last;
    A.size += B.size;
    A.irreversible += B.irreversible;
    A.inv += B.inv;
    A.wt += B.wt;
    A.head = -1;
    if (B.broken && !A.broken) broken.push_back(a);
    A.broken = A.broken || B.broken;
    uncand(B);
    fwd[size_t(b)] = a;
    dead.push_back(b);
    touch(a);
  }

  // The members reached from s through in-phase connections whose group is
  // `from`; each gets `to` and goes into `piece`.
  void spread(int s, int from, int to, std::vector<int>& piece) {
    piece.assign(1, s);
    gid[size_t(s)] = to;
    stack.assign(1, s);
    auto reach = [&](int y) {
      if (gid[size_t(y)] != from) return;
      gid[size_t(y)] = to;
      piece.push_back(y);
      stack.push_back(y);
    };
    while (!stack.empty()) {
      int x = stack.back();
      stack.pop_back();
      for (int i = edges.out_first[size_t(x)]; i < edges.out_first[size_t(x) + 1]; ++i) {
        const Edges::DrivenNet& dn = edges.nets[size_t(edges.out[size_t(i)])];
        for (int e = dn.first; e < dn.last; ++e)
          if (usable(e)) reach(edges.e_target[size_t(e)]);
      }
      for (int i = edges.in_first[size_t(x)]; i < edges.in_first[size_t(x) + 1]; ++i) {
        int e = edges.in[size_t(i)];
        if (usable(e)) reach(edges.nets[size_t(edges.e_net[size_t(e)])].driver);
      }
    }
  }

  void mark_rebuilt(int g) {
    Group& G = groups[size_t(g)];
    G.rebuilt = true;
    G.head = -1;
    rebuilt.push_back(g);
    touch(g);
  }

  // Resolves a group again from its members after a join of the build was
  // lost: its joins are made again, and when it fell apart, each part
  // becomes a group of its own.
  void dissolve(int x) {
    Group& X = groups[size_t(x)];
    X.broken = false;
    std::vector<int>& ms = net_list;
    ms.clear();
    for (int m = X.first; m >= 0; m = next_member[size_t(m)]) ms.push_back(m);
    forest.detach(ms);
    std::vector<int> piece;
    spread(ms[0], x, -2, piece);
    bool whole = piece.size() == ms.size();
    for (int m : piece) gid[size_t(m)] = x;
    if (whole) {  // still one group: same members, same gain
      connections_of(ms);
      forest.replay(conns);
      mark_rebuilt(x);
      return;
    }
    uncand(X);
    fwd[size_t(x)] = -1;
    dead.push_back(x);
    for (int m : ms) {
      gid[size_t(m)] = -1;
      mark_nets(m);
    }
    for (int s : ms) {
      if (gid[size_t(s)] != -1) continue;
      int g = new_group();
      spread(s, -1, g, piece);
      for (int m : piece) {
        gid[size_t(m)] = -1;
        add_member(g, m);
      }
      mark_rebuilt(g);
      connections_of(piece);
      forest.replay(conns);
    }
  }

  // ---- gains ------------------------------------------------------------------

  // Works out the shares of one net again: for every group with gates on it,
  // what flipping those gates would change in the net's count and weight.
  void refresh(int k) {
    Net* nt = net[size_t(k)];
    if (!nt->count_mode) return;  // no share in any flip of a group
    Share* sh = &shares[size_t(share_first[size_t(k)])];
    for (int i = 0; i < share_count[size_t(k)]; ++i) {
      int g = live(sh[i].group);
      if (g < 0) continue;
      groups[size_t(g)].inv -= sh[i].inv;
      groups[size_t(g)].wt -= sh[i].wt;
      touch(g);
    }
    share_count[size_t(k)] = 0;
    acc_list.clear();
    for (const Node* n = nt->nodes; n; n = n->next) {
      int p = gate_pos(n->target);
      if (p < 0) continue;
      int g = gid[size_t(p)];
      Acc& a = acc[size_t(g)];
      if (!a.seen) {
        a = Acc();
        a.seen = true;
        acc_list.push_back(g);
      }
      if (n->dir != K_INPUT) a.whole = !a.whole;
      else if (is_xor_class(n->target->cls)) continue;
      else if (n->wt == 1) ++a.plus_in;
      else if (n->wt == -1) ++a.minus_in;
    }
    Mode mode = Mode(nt->count_mode - 1);
    int plus = nt->plus_loads, minus = nt->minus_loads;
    int inv0 = inv_of(mode, plus, minus), wt0 = wt_of(mode, plus, minus);
    Acc all;
    for (int g : acc_list) {
      Acc& a = acc[size_t(g)];
      all.whole = all.whole != a.whole;
      all.plus_in += a.plus_in;
      all.minus_in += a.minus_in;
    }
    {
      int p = plus - all.plus_in + all.minus_in, m = minus - all.minus_in + all.plus_in;
      if (all.whole) std::swap(p, m);
      std::array<int, 2>& w = whole_share[size_t(k)];
      whole_inv -= w[0];
      whole_wt -= w[1];
      w = {inv_of(mode, p, m) - inv0, wt_of(mode, p, m) - wt0};
      whole_inv += w[0];
      whole_wt += w[1];
    }
    for (int g : acc_list) {
      Acc& a = acc[size_t(g)];
      a.seen = false;
      int p = plus - a.plus_in + a.minus_in, m = minus - a.minus_in + a.plus_in;
      if (a.whole) std::swap(p, m);
      Share s{g, inv_of(mode, p, m) - inv0, wt_of(mode, p, m) - wt0};
      if (s.inv == 0 && s.wt == 0) continue;
      sh[share_count[size_t(k)]++] = s;
      groups[size_t(g)].inv += s.inv;
      groups[size_t(g)].wt += s.wt;
      touch(g);
    }
  }

  int head_of(const Group& G) { return forest.head(forest.top_before(G.first, HeadForest::kNever)); }

  // The in-phase connections from the members `ms` (one group), in time order.
  void connections_of(const std::vector<int>& ms) {
    conns.clear();
    if (ms.size() * 16 > edges.mem.size()) {
      int g = gid[size_t(ms[0])];
      for (const Edges::DrivenNet& dn : edges.nets)
        if (gid[size_t(dn.driver)] == g)
          for (int e = dn.first; e < dn.last; ++e)
            if (usable(e)) conns.push_back({e, dn.driver, edges.e_target[size_t(e)]});
      return;
    }
    for (int m : ms)
      for (int i = edges.out_first[size_t(m)]; i < edges.out_first[size_t(m) + 1]; ++i) {
        const Edges::DrivenNet& dn = edges.nets[size_t(edges.out[size_t(i)])];
        for (int e = dn.first; e < dn.last; ++e)
          if (usable(e)) conns.push_back({e, m, edges.e_target[size_t(e)]});
      }
    std::sort(conns.begin(), conns.end());
  }

  // Puts a group into the set its gain and head call for.
  void place(int g) {
    Group& G = groups[size_t(g)];
    G.touched = false;
    if (fwd[size_t(g)] != g || G.size == 0) return;
    int kind = G.inv < 0 ? 1 : (G.inv == 0 && G.wt < 0) ? 2 : 0;
    if (kind && G.irreversible == 0) {
      if (G.head < 0) G.head = head_of(G);
      if (!tried_head(edges.mem[size_t(G.head)], with_xor)) kind = 0;
    } else {
      kind = 0;
    }
    if (G.cand == kind && (!kind || G.cand_pos == G.head)) return;
    uncand(G);
    G.cand = kind;
    if (kind) {
      G.cand_pos = G.head;
      cand[kind].insert(G.head);
    }
  }

  // ---- single gates -----------------------------------------------------------

  static bool single_class(int c) { return (c >= C_AND && c <= C_NOR) || c == C_AOI || c == C_OAI; }

  void note_single(int p) {
    if (p < 0 || single_dirty[size_t(p)] || !single_class(edges.mem[size_t(p)]->cls)) return;
    single_dirty[size_t(p)] = 1;
    single_list.push_back(p);
  }

  // Works out again whether the gate at p would keep its own flip.
  void place_single(int p) {
    single_dirty[size_t(p)] = 0;
    int kind = 0;
    if (!fixed[size_t(p)]) {
      int inv0, wt0, inv1, wt1;
      detail::gate_flip_counts(edges.mem[size_t(p)], inv0, wt0, inv1, wt1);
      kind = inv1 < inv0 ? 1 : (inv1 == inv0 && wt1 < wt0) ? 2 : 0;
    }
    uint8_t& k = single_kind[size_t(p)];
    if (kind == k) return;
    if (k) single_cand[k].erase(p);
    k = uint8_t(kind);
    if (kind) single_cand[kind].insert(p);
  }

  void flush_singles() {
    for (int k : weighed) {
      is_weighed[size_t(k)] = 0;
      for (const Node* n = net[size_t(k)]->nodes; n; n = n->next) note_single(gate_pos(n->target));
    }
    weighed.clear();
    for (int p : single_list) place_single(p);
    single_list.clear();
  }

  // The first position from `from` on of a gate whose own flip would be kept
  // or of a tristate buffer, or -1.
  int next_local(bool by_weight, int from) const {
    int best = INT32_MAX;
    for (int kind = 1; kind <= (by_weight ? 2 : 1); ++kind) {
      auto it = single_cand[kind].lower_bound(from);
      if (it != single_cand[kind].end()) best = std::min(best, *it);
    }
    auto t = std::lower_bound(ts_pos.begin(), ts_pos.end(), from);
    if (t != ts_pos.end()) best = std::min(best, *t);
    return best == INT32_MAX ? -1 : best;
  }

  // ---- upkeep -----------------------------------------------------------------

  // Builds every group of the grouping from the present weights.
  void build(bool x) {
    with_xor = x;
    built = true;
    size_t n = edges.mem.size();
    for (size_t e = 0; e < edges.e_node.size(); ++e) edges.in_phase[e] = edges.e_node[e]->wt == 1;
    forest.reset(n, edges.e_node.size());
    conns.clear();
    for (const Edges::DrivenNet& dn : edges.nets)
      for (int e = dn.first; e < dn.last; ++e)
        if (usable(e)) conns.push_back({e, dn.driver, edges.e_target[size_t(e)]});
    forest.replay(conns);
    groups.clear();
    fwd.clear();
    acc.clear();
    free_ids.clear();
    dead.clear();
    touched.clear();
    broken.clear();
    for (std::set<int>& s : cand) s.clear();
    gid.assign(n, -1);
    next_member.assign(n, -1);
    std::vector<int>& of_root = stack;
    of_root.assign(n, -1);
    for (size_t m = 0; m < n; ++m) {
      int r = forest.top_before(int(m), HeadForest::kNever);
      if (of_root[size_t(r)] < 0) of_root[size_t(r)] = new_group();
      add_member(of_root[size_t(r)], int(m));
    }
    std::fill(share_count.begin(), share_count.end(), 0);
    std::fill(is_dirty.begin(), is_dirty.end(), 0);
    std::fill(whole_share.begin(), whole_share.end(), std::array<int, 2>{0, 0});
    whole_inv = whole_wt = 0;
    dirty.clear();
    pending.clear();
    for (std::set<int>& c : single_cand) c.clear();
    std::fill(single_kind.begin(), single_kind.end(), 0);
    std::fill(single_dirty.begin(), single_dirty.end(), 0);
    std::fill(is_weighed.begin(), is_weighed.end(), 0);
    weighed.clear();
    single_list.clear();
    for (size_t k = 0; k < net.size(); ++k) refresh(int(k));
    for (size_t g = 0; g < groups.size(); ++g) touch(int(g));
    flush_touched();
    if (with_xor)  // the single-gate step asks the groups with exclusive-OR cells only
      for (size_t m = 0; m < n; ++m) note_single(int(m));
    flush_singles();
  }

  void flush_touched() {
    for (size_t i = 0; i < touched.size(); ++i) place(touched[i]);
    touched.clear();
  }

  // Brings the groups and gains up to the present weights.
  void settle() {
    added.clear();
    for (int e : pending) {
      bool now = edges.e_node[size_t(e)]->wt == 1;
      if (now == bool(edges.in_phase[size_t(e)])) continue;
      edges.in_phase[size_t(e)] = now;
      if (!with_xor && edges.e_xor[size_t(e)]) continue;
      int a = gid[size_t(edges.nets[size_t(edges.e_net[size_t(e)])].driver)];
      int b = gid[size_t(edges.e_target[size_t(e)])];
      if (now) {
        if (a != b) join_groups(a, b);
        added.push_back(e);
      } else if (forest.link_of[size_t(e)] >= 0 && !groups[size_t(a)].broken) {
        // a join of the build is gone: the group may fall apart
        groups[size_t(a)].broken = true;
        broken.push_back(a);
      }
    }
    pending.clear();
    for (size_t i = 0; i < broken.size(); ++i) {
      int g = broken[i];
      if (fwd[size_t(g)] == g && groups[size_t(g)].broken) dissolve(g);
    }
    broken.clear();
    for (int e : added) {
      int g = gid[size_t(edges.e_target[size_t(e)])];
      if (groups[size_t(g)].rebuilt) continue;
      forest.insert(e, edges.nets[size_t(edges.e_net[size_t(e)])].driver, edges.e_target[size_t(e)]);
      groups[size_t(g)].head = -1;
      touch(g);
    }
    for (int g : rebuilt) groups[size_t(g)].rebuilt = false;
    rebuilt.clear();
    for (int k : dirty) {
      is_dirty[size_t(k)] = 0;
      refresh(k);
    }
    dirty.clear();
    for (int g : dead) {
      fwd[size_t(g)] = g;
      groups[size_t(g)] = Group();
      free_ids.push_back(g);
    }
    dead.clear();
    flush_touched();
  }

  void note(Node* n) {
    if (!built) return;
    int e = edges.edge_of(n);
    if (e >= 0) pending.push_back(e);
    int k = n->net ? net_id(n->net) : -1;
    if (k < 0) return;
    if (!is_dirty[size_t(k)]) {
      is_dirty[size_t(k)] = 1;
      dirty.push_back(k);
    }
    if (!is_weighed[size_t(k)]) {
      is_weighed[size_t(k)] = 1;
      weighed.push_back(k);
    }
  }

  void ready(Cell* comp, bool x) {
    attach(comp);
    if (!built || with_xor != x) build(x);
    else settle();
  }

  // Flips and keeps the improving group nearest the start of the list (the
  // highest head position); its gates go to `kept`.
  bool search(bool by_weight, std::vector<Cell*>& kept) {
    int best = cand[1].empty() ? -1 : *cand[1].rbegin();
    if (by_weight && !cand[2].empty()) best = std::max(best, *cand[2].rbegin());
    if (best < 0) return false;
    const Group& G = groups[size_t(gid[size_t(best)])];
    kept.clear();
    for (int m = G.first; m >= 0; m = next_member[size_t(m)])
      if (is_gate_class(edges.mem[size_t(m)]->cls)) kept.push_back(edges.mem[size_t(m)]);
    detail::Trial trial;
    check_choice(by_weight, best, G);
    for (Cell* c : kept) rev_instance(c);
    detail::check_counts();
    return trial.kept = true;
  }

  // In a checked build: the walk of the whole list of the records reaches the
  // same group, and its gain agrees with a count from the present weights.
  void check_choice(bool by_weight, int best, const Group& G) {
#if defined(VORQ_CHECKED) && VORQ_CHECKED
    std::vector<Cell*> gates;
    int inv1 = 0, wt1 = 0;
    for (int m = G.first; m >= 0; m = next_member[size_t(m)])
      if (is_gate_class(edges.mem[size_t(m)]->cls)) gates.push_back(edges.mem[size_t(m)]);
    detail::flip_counts(gates, inv1, wt1);
    Cell* first = first_improving(edges.comp, with_xor, by_weight);
    if (inv1 - count_inv(top) != G.inv || wt1 - count_wt() != G.wt || first != edges.mem[size_t(best)]) {
      say("vorq: the kept gains of the sub-components differ from a recount\n");
      std::abort();
    }
#else
    (void)by_weight, (void)best, (void)G;
#endif
  }
};

// One for each grouping, so that the passes' turns between them rebuild nothing.
Search* searchers[2] = {nullptr, nullptr};

Search& searcher(bool with_xor) {
  Search*& s = searchers[with_xor];
  if (!s) s = new Search;
  return *s;
}

int global_step(Cell* comp, bool with_xor, bool by_weight, bool always_settle) {
  if (!counting() || detail::rebuild_every_step) {
    sub_build().build(comp, with_xor);
    Cell* s = search_list(with_xor, by_weight);
    if (!s) return 0;
    sub_comp_dual(s);
  } else {
    Search& s = searcher(with_xor);
    s.ready(comp, with_xor);
    static std::vector<Cell*> kept;
    if (!s.search(by_weight, kept)) return 0;
    for (Cell* c : kept) toggle_dual(c);
  }
  if (always_settle || detail::settlement_on()) eor_enor_and_or_nand_nor(comp);
  return 1;
}

}  // namespace

namespace detail {

bool rebuild_every_step = false;

void weight_changed(Node* n) {
  note_unsettled(n->net);
  for (Search* s : searchers)
    if (s) s->note(n);
}

std::vector<Cell*> resolved_heads(Cell* comp, bool with_xor) {
  Search& s = searcher(with_xor);
  s.ready(comp, with_xor);
  std::vector<Cell*> heads;
  for (int p = int(s.edges.mem.size()) - 1; p >= 0; --p) {
    Search::Group& G = s.groups[size_t(s.gid[size_t(p)])];
    if (G.head < 0) G.head = s.head_of(G);
    if (G.head == p) heads.push_back(s.edges.mem[size_t(p)]);
  }
  return heads;
}

bool whole_flip_counts(Cell* comp, bool& reversible, int& inv, int& wt) {
  if (!counting()) return false;
  for (Search* s : searchers) {
    if (!s || s->edges.comp != comp || !s->built) continue;
    s->settle();
    reversible = s->irreversible_gates == 0;
    inv = int(count_inv(top) + s->whole_inv);
    wt = int(count_wt() + s->whole_wt);
    return true;
  }
  return false;
}

bool next_local(Cell* comp, bool by_weight, int from, Cell*& next) {
  Search* s = searchers[1];
  if (!counting() || !s || s->edges.comp != comp || !s->built) return false;
  s->flush_singles();  // the groups wait for the next global step
  int p = s->next_local(by_weight, from);
  next = p < 0 ? nullptr : s->edges.mem[size_t(p)];
  return true;
}

void forget_groups() {
  for (Search*& s : searchers) {
    delete s;
    s = nullptr;
  }
  forget_unsettled();
}

}  // namespace detail

void plus_factor(Cell* comp) { sub_build().build(comp, true); }
void plus_factor_eor_enor(Cell* comp) { sub_build().build(comp, false); }

Cell* rev_sub_comp_inv() { return search_list(true, false); }
Cell* rev_sub_comp_wt() { return search_list(true, true); }
Cell* rev_sub_comp_inv_eor_enor() { return search_list(false, false); }
Cell* rev_sub_comp_wt_eor_enor() { return search_list(false, true); }

int red_inv_global(Cell* comp) { return global_step(comp, true, false, false); }
int red_wt_global(Cell* comp) { return global_step(comp, true, true, false); }
int red_inv_global_eor_enor(Cell* comp) { return global_step(comp, false, false, true); }
int red_wt_global_eor_enor(Cell* comp) { return global_step(comp, false, true, true); }

}  // namespace vorq
