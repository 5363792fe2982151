// Global reduction: sub-components of one component (gates joined by in-phase
// connections) and the search for the first one whose flip improves the design.
//
// `plus_factor` and the `rev_sub_comp_*` searches build and walk the
// sub-component list of the records. The global steps of the reduction passes
// reach the same decisions without rebuilding the whole list at every step:
// a sub-component is resolved when the walk first reaches one of its members,
// and stays resolved until one of its in-phase connections changes.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "reduce/reduce.h"

namespace vorq {

namespace {

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

// ---- resolved on demand ---------------------------------------------------------

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

// The sub-components of one grouping (with or without exclusive-OR cells),
// each resolved when first needed and dropped when a connection in or at it
// changes.
struct Groups {
  explicit Groups(bool x) : with_xor(x) {}
  bool with_xor;
  const Edges* g = nullptr;
  std::vector<int> gid;  // sub-component of each member; -1 unresolved
  struct Group {
    int head;
    std::vector<int> members;
  };
  std::vector<Group> groups;
  std::vector<int> free_slots;
  std::vector<int> parent, label, size, stack, net_list, slot_of, made;
  size_t open = 0;  // members not resolved

  void reset(const Edges* e) {
    g = e;
    gid.assign(e->mem.size(), -1);
    parent.assign(e->mem.size(), 0);
    label.assign(e->mem.size(), 0);
    size.assign(e->mem.size(), 0);
    slot_of.assign(e->mem.size(), -1);
    groups.clear();
    free_slots.clear();
    open = e->mem.size();
  }

  int new_group(int head) {
    int k;
    if (!free_slots.empty()) {
      k = free_slots.back();
      free_slots.pop_back();
    } else {
      k = int(groups.size());
      groups.emplace_back();
    }
    groups[size_t(k)].head = head;
    groups[size_t(k)].members.clear();
    return k;
  }

  // The sub-component of member p, resolved one by one while few members are
  // open, else all open members at once.
  int group_of(int p) {
    int k = gid[size_t(p)];
    if (k >= 0) return k;
    if (open * 8 <= gid.size()) return resolve(p);
    resolve_all();
    return gid[size_t(p)];
  }

  bool usable(int e) const {
    return g->in_phase[size_t(e)] && (with_xor || !g->e_xor[size_t(e)]);
  }

  void drop(int member) {
    int k = gid[size_t(member)];
    if (k < 0) return;
    for (int m : groups[size_t(k)].members) gid[size_t(m)] = -1;
    open += groups[size_t(k)].members.size();
    // release it: a slot keeping the room of a large group would make the
    // memory grow with the number of steps
    std::vector<int>().swap(groups[size_t(k)].members);
    free_slots.push_back(k);
  }

  // Resolves every open member in one pass over the driven nets, joining as
  // the build does. A resolved sub-component is closed under in-phase
  // connections, so the open members form whole sub-components.
  void resolve_all() {
    size_t n = gid.size();
    for (size_t m = 0; m < n; ++m)
      if (gid[m] == -1) make_set(int(m));
    for (const Edges::DrivenNet& dn : g->nets) {
      if (gid[size_t(dn.driver)] != -1) continue;
      int h = find(dn.driver);
      for (int e = dn.first; e < dn.last; ++e)
        if (usable(e)) h = join(h, find(g->e_target[size_t(e)]));
    }
    made.clear();
    for (size_t m = 0; m < n; ++m) {
      if (gid[m] != -1) continue;
      int r = find(int(m));
      if (slot_of[size_t(r)] < 0) {
        slot_of[size_t(r)] = new_group(label[size_t(r)]);
        made.push_back(r);
      }
      gid[m] = slot_of[size_t(r)];
      groups[size_t(gid[m])].members.push_back(int(m));
    }
    for (int r : made) slot_of[size_t(r)] = -1;
    open = 0;
  }

  // Union-find balanced by size; the root of a set carries in `label` the
  // head that the build's joins give it (the driver side's).
  void make_set(int x) {
    parent[size_t(x)] = x;
    label[size_t(x)] = x;
    size[size_t(x)] = 1;
  }

  int find(int x) {
    while (parent[size_t(x)] != x) {
      parent[size_t(x)] = parent[size_t(parent[size_t(x)])];
      x = parent[size_t(x)];
    }
    return x;
  }

  // Joins the set of root t into the set of root h, whose head stays;
  // returns the root of the joined set.
  int join(int h, int t) {
    if (h == t) return h;
    int head = label[size_t(h)];
    if (size[size_t(h)] < size[size_t(t)]) std::swap(h, t);
    parent[size_t(t)] = h;
    size[size_t(h)] += size[size_t(t)];
    label[size_t(h)] = head;
    return h;
  }

  // Resolves the sub-component of `start`: its members through in-phase
  // connections, then its head by the joins of the build in their order.
  int resolve(int start) {
    std::vector<int> members;
    stack.clear();
    stack.push_back(start);
    gid[size_t(start)] = -2;
    auto reach = [&](int y) {
      if (gid[size_t(y)] >= 0) drop(y);  // cannot happen while invalidation is complete
      if (gid[size_t(y)] == -1) {
        gid[size_t(y)] = -2;
        stack.push_back(y);
      }
    };
    while (!stack.empty()) {
      int x = stack.back();
      stack.pop_back();
      members.push_back(x);
      for (int i = g->out_first[size_t(x)]; i < g->out_first[size_t(x) + 1]; ++i) {
        const Edges::DrivenNet& dn = g->nets[size_t(g->out[size_t(i)])];
        for (int e = dn.first; e < dn.last; ++e)
          if (usable(e)) reach(g->e_target[size_t(e)]);
      }
      for (int i = g->in_first[size_t(x)]; i < g->in_first[size_t(x) + 1]; ++i) {
        int e = g->in[size_t(i)];
        if (usable(e)) reach(g->nets[size_t(g->e_net[size_t(e)])].driver);
      }
    }
    int head = start;
    if (members.size() > 1) {
      // the driven nets of the members in list order: sorted, or picked from
      // all nets when that is cheaper
      net_list.clear();
      for (int m : members) {
        make_set(m);
        gid[size_t(m)] = -3;
        for (int i = g->out_first[size_t(m)]; i < g->out_first[size_t(m) + 1]; ++i)
          net_list.push_back(g->out[size_t(i)]);
      }
      if (net_list.size() * 16 < g->nets.size()) {
        std::sort(net_list.begin(), net_list.end());
      } else {
        net_list.clear();
        for (size_t k = 0; k < g->nets.size(); ++k)
          if (gid[size_t(g->nets[k].driver)] == -3) net_list.push_back(int(k));
      }
      for (int k : net_list) {
        const Edges::DrivenNet& dn = g->nets[size_t(k)];
        int h = find(dn.driver);
        for (int e = dn.first; e < dn.last; ++e)
          if (usable(e)) h = join(h, find(g->e_target[size_t(e)]));
      }
      head = label[size_t(find(start))];
    }
    int k = new_group(head);
    open -= members.size();
    groups[size_t(k)].members = std::move(members);
    for (int m : groups[size_t(k)].members) gid[size_t(m)] = k;
    return k;
  }
};

struct Resolver {
  Edges edges;
  Groups groups[2] = {Groups(true), Groups(false)};
  std::vector<int> pending;  // edges whose phase changed since last looked at
  std::vector<Cell*> gates;  // the gates of a trial

  void attach(Cell* comp) {
    if (edges.comp == comp) return;
    edges.build(comp);
    groups[0].reset(&edges);
    groups[1].reset(&edges);
    pending.clear();
  }

  void settle_pending() {
    for (int e : pending) {
      bool now = edges.e_node[size_t(e)]->wt == 1;
      if (now == bool(edges.in_phase[size_t(e)])) continue;  // a trial undone
      edges.in_phase[size_t(e)] = now;
      int d = edges.nets[size_t(edges.e_net[size_t(e)])].driver;
      int t = edges.e_target[size_t(e)];
      for (Groups& gr : groups) {
        gr.drop(d);
        gr.drop(t);
      }
    }
    pending.clear();
  }

  bool reversible(const Groups::Group& grp) {
    for (int m : grp.members)
      if (is_gate_class(edges.mem[size_t(m)]->cls) && !is_reversible_instance(edges.mem[size_t(m)]))
        return false;
    return true;
  }

  void flip(const std::vector<int>& members) {
    for (int m : members)
      if (is_gate_class(edges.mem[size_t(m)]->cls)) rev_instance(edges.mem[size_t(m)]);
  }

  // The walk of the list from its start (the last member); flips and keeps
  // the first improving sub-component and returns its gates' positions.
  bool search(bool with_xor, bool by_weight, std::vector<int>& kept) {
    Groups& gr = groups[with_xor ? 0 : 1];
    int inv0 = count_inv(top), wt0 = by_weight ? count_wt() : 0;
    for (int p = int(edges.mem.size()) - 1; p >= 0; --p) {
      if (!pending.empty()) settle_pending();
      int k = gr.group_of(p);
      if (gr.groups[size_t(k)].head != p || !tried_head(edges.mem[size_t(p)], with_xor)) continue;
      if (!reversible(gr.groups[size_t(k)])) continue;
      kept = gr.groups[size_t(k)].members;
      detail::Trial trial;
      // the gain of the flip from the running counts, flipping only when kept
      gates.clear();
      for (int m : kept)
        if (is_gate_class(edges.mem[size_t(m)]->cls)) gates.push_back(edges.mem[size_t(m)]);
      int inv1, wt1;
      detail::flip_counts(gates, inv1, wt1);
      if (!by_weight) wt1 = 0;
      if (!better(by_weight, inv0, wt0, inv1, wt1)) continue;
      flip(kept);
      detail::check_counts();
      return trial.kept = true;
    }
    return false;
  }
};

Resolver* resolver = nullptr;

int global_step(Cell* comp, bool with_xor, bool by_weight, bool always_settle) {
  if (!counting() || detail::rebuild_every_step) {
    sub_build().build(comp, with_xor);
    Cell* s = search_list(with_xor, by_weight);
    if (!s) return 0;
    sub_comp_dual(s);
  } else {
    if (!resolver) resolver = new Resolver;
    resolver->attach(comp);
    std::vector<int> kept;
    if (!resolver->search(with_xor, by_weight, kept)) return 0;
    for (int m : kept) {
      Cell* c = resolver->edges.mem[size_t(m)];
      if (is_gate_class(c->cls)) toggle_dual(c);
    }
  }
  if (always_settle || detail::settlement_on()) eor_enor_and_or_nand_nor(comp);
  return 1;
}

}  // namespace

namespace detail {

bool rebuild_every_step = false;

void phase_changed(Node* n) {
  if (!resolver || !resolver->edges.comp) return;
  int e = resolver->edges.edge_of(n);
  if (e >= 0) resolver->pending.push_back(e);
}

std::vector<Cell*> resolved_heads(Cell* comp, bool with_xor) {
  if (!resolver) resolver = new Resolver;
  resolver->attach(comp);
  resolver->settle_pending();
  Groups& gr = resolver->groups[with_xor ? 0 : 1];
  std::vector<Cell*> heads;
  for (int p = int(resolver->edges.mem.size()) - 1; p >= 0; --p) {
    int k = gr.group_of(p);
    if (gr.groups[size_t(k)].head == p) heads.push_back(resolver->edges.mem[size_t(p)]);
  }
  return heads;
}

void forget_groups() {
  delete resolver;
  resolver = nullptr;
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
