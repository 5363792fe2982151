// Global reduction: sub-components of one component (gates joined by in-phase
// connections) and the search for the first one whose flip improves the design.
#include <utility>
#include <vector>

#include "reduce/reduce.h"

namespace vorq {

namespace {

bool grouping(int cls, bool with_xor) {
  if (cls == C_EOR || cls == C_ENOR) return with_xor;
  return cls >= C_NINV && cls <= C_OAI;
}

// Building the sub-components of one component in one pass over it. As for
// the components, `sub_comp` serves as the parent link of a union-find whose
// roots are the heads, and `sub_comp_link` of a head holds the last member of
// its chain until the list is linked; the heads, chains and list order come
// out as relinking would leave them.
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

bool tried_head(const Cell* s, bool with_xor) {
  if (!is_gate_class(s->cls)) return false;
  return with_xor || !is_xor_class(s->cls);
}

Cell* search_by_count(bool with_xor) {
  int before = count_inv(top);
  for (Cell* s = start_sub_comp; s; s = s->sub_comp_link) {
    if (!tried_head(s, with_xor) || !is_reversible_sub_comp_tmp(s)) continue;
    rev_sub_comp_tmp(s);
    int after = count_inv(top);
    detail::check_counts();
    if (after < before) return s;
    rev_sub_comp_tmp(s);
  }
  return nullptr;
}

Cell* search_by_weight(bool with_xor) {
  int inv0 = count_inv(top), wt0 = count_wt();
  for (Cell* s = start_sub_comp; s; s = s->sub_comp_link) {
    if (!tried_head(s, with_xor) || !is_reversible_sub_comp_tmp(s)) continue;
    rev_sub_comp_tmp(s);
    int inv1 = count_inv(top), wt1 = count_wt();
    detail::check_counts();
    if (inv1 < inv0 || (inv1 == inv0 && wt1 < wt0)) return s;
    rev_sub_comp_tmp(s);
  }
  return nullptr;
}

int global_step(Cell* comp, bool with_xor, bool by_weight, bool always_settle) {
  sub_build().build(comp, with_xor);
  Cell* s = by_weight ? search_by_weight(with_xor) : search_by_count(with_xor);
  if (!s) return 0;
  sub_comp_dual(s);
  if (always_settle || detail::settlement_on()) eor_enor_and_or_nand_nor(comp);
  return 1;
}

}  // namespace

void plus_factor(Cell* comp) { sub_build().build(comp, true); }
void plus_factor_eor_enor(Cell* comp) { sub_build().build(comp, false); }

Cell* rev_sub_comp_inv() { return search_by_count(true); }
Cell* rev_sub_comp_wt() { return search_by_weight(true); }
Cell* rev_sub_comp_inv_eor_enor() { return search_by_count(false); }
Cell* rev_sub_comp_wt_eor_enor() { return search_by_weight(false); }

int red_inv_global(Cell* comp) { return global_step(comp, true, false, false); }
int red_wt_global(Cell* comp) { return global_step(comp, true, true, false); }
int red_inv_global_eor_enor(Cell* comp) { return global_step(comp, false, false, true); }
int red_wt_global_eor_enor(Cell* comp) { return global_step(comp, false, true, true); }

}  // namespace vorq
