// Connected components of the flat netlist and the operations on a whole
// component or sub-component.
#include <utility>
#include <vector>

#include "reduce/reduce.h"

namespace vorq {

namespace {

bool counted_type(const Net* n) { return n->type == K_TRISTATE || n->type == NET_SIGNAL; }

// Building the components in one pass. `comp` serves as the parent link of a
// union-find whose roots are the component heads, and `comp_link` of a head
// holds the last member of its chain until the list of heads is linked. A join
// gives the same head and the same member chain as relinking would; absorbed
// heads are left out when the list is linked at the end, so the list keeps
// the order in which relinking would leave it.
struct CompBuild {
  std::vector<Cell*> order;  // members in the order they were pushed

  void add(Cell* c) {
    c->comp = c;
    c->comp_next = nullptr;
    c->comp_link = c;  // last member
    order.push_back(c);
  }

  static Cell* find(Cell* c) {
    Cell* root = c;
    while (root->comp != root) root = root->comp;
    while (c->comp != root) {
      Cell* up = c->comp;
      c->comp = root;
      c = up;
    }
    return root;
  }

  static Cell* join(Cell* a, Cell* b) {
    Cell* ha = find(a);
    Cell* hb = find(b);
    if (hb->cls == C_PIN && ha->cls != C_PIN) std::swap(ha, hb);
    ha->comp_link->comp_next = hb;
    ha->comp_link = hb->comp_link;
    hb->comp = ha;
    return ha;
  }

  void finish(Module* t) {
    for (Cell* c : order) c->comp = find(c);
    Cell* head = nullptr;
    for (Cell* c : order) {
      if (c->comp != c) {
        c->comp_link = nullptr;
        continue;
      }
      c->comp_link = head;
      head = c;
    }
    t->comps = head;
  }
};

}  // namespace

// Expects the flat netlist; leaves top->comps with one head per component and
// every member's `comp` at its head.
void conn_comp() {
  Module* t = top;
  if (!t) return;
  t->comps = nullptr;
  CompBuild b;
  for (Pin* p : pins_of(t))
    if (p->used) b.add(p);
  for (Module* m : list_of(t->next))
    if (m->kind == KIND_WRITABLE)
      for (Pin* p : pins_of(m))
        if (p->dir == K_GLOBAL) b.add(p);
  for (Instance* c : insts_of(t))
    if (c->cls != C_INV) b.add(c);

  for (Net* net : nets_of(t)) {
    if (!counted_type(net)) continue;
    // A driver outside every component (an unmatched port of a sub-module)
    // leaves its place to the first load that has one.
    Cell* s = net->source ? net->source->target : nullptr;
    if (s && !s->comp) s = nullptr;
    Cell* h = s ? CompBuild::find(s) : nullptr;
    for (Node* n : nodes_of(net)) {
      if (n->boundary) continue;
      Cell* c = n->target;
      if (!c || !c->comp) continue;
      if (!s) {
        s = c;
        h = CompBuild::find(s);
        continue;
      }
      if (CompBuild::find(c) != h) h = CompBuild::join(s, c);
    }
  }
  b.finish(t);
  detail::components_changed();
}

Cell* merge_conn_comp(Cell* a, Cell* b) {
  Cell* ha = a->comp;
  Cell* hb = b->comp;
  if (hb->cls == C_PIN && ha->cls != C_PIN) {
    std::swap(a, b);
    std::swap(ha, hb);
  }
  for (Cell** p = &top->comps; *p; p = &(*p)->comp_link)
    if (*p == hb) {
      *p = hb->comp_link;
      break;
    }
  Cell* last = a;
  while (last->comp_next) last = last->comp_next;
  last->comp_next = hb;
  for (Cell* m = hb; m; m = m->comp_next) m->comp = ha;
  return ha;
}

Cell* merge_sub_comp(Cell* a, Cell* b) {
  Cell* ha = a->sub_comp;
  Cell* hb = b->sub_comp;
  if (hb->cls == C_PIN && ha->cls != C_PIN) {
    std::swap(a, b);
    std::swap(ha, hb);
  }
  for (Cell** p = &start_sub_comp; *p; p = &(*p)->sub_comp_link)
    if (*p == hb) {
      *p = hb->sub_comp_link;
      break;
    }
  Cell* last = a;
  while (last->sub_comp_next) last = last->sub_comp_next;
  last->sub_comp_next = hb;
  for (Cell* m = hb; m; m = m->sub_comp_next) m->sub_comp = ha;
  return ha;
}

// ---- whole components -----------------------------------------------------------

namespace {

const std::vector<Cell*>& gates_of(Cell* head) {
  static std::vector<Cell*> gates;
  gates.clear();
  for (Cell* m = head; m; m = m->comp_next)
    if (is_gate_class(m->cls)) gates.push_back(m);
  return gates;
}

}  // namespace

int is_reversible_instance_all(Cell* head) {
  for (Cell* m = head; m; m = m->comp_next)
    if (is_gate_class(m->cls) && !is_reversible_instance(m)) return 0;
  return 1;
}

void rev_instance_all(Cell* head) {
  for (Cell* m = head; m; m = m->comp_next)
    if (is_gate_class(m->cls)) rev_instance(m);
}

void conn_comp_dual(Cell* head) {
  for (Cell* m = head; m; m = m->comp_next)
    if (is_gate_class(m->cls)) toggle_dual(m);
}

int diff_inv_conn_comp(Cell* head) {
  bool reversible;
  int inv1, wt1;
  bool kept_counts = detail::whole_flip_counts(head, reversible, inv1, wt1);
  if (kept_counts ? !reversible : !is_reversible_instance_all(head)) return 0;
  detail::Trial trial;
  int before = count_inv(top);
  if (kept_counts || detail::flip_counts(gates_of(head), inv1, wt1)) {
    // worked out without a trial flip: flip only when it is kept
    if (inv1 >= before) return 0;
    rev_instance_all(head);
    detail::check_counts();
    return trial.kept = true;
  }
  rev_instance_all(head);
  int after = count_inv(top);
  detail::check_counts();
  if (after < before) return trial.kept = true;
  rev_instance_all(head);
  return 0;
}

int diff_wt_conn_comp(Cell* head) {
  bool reversible;
  int inv1, wt1;
  bool kept_counts = detail::whole_flip_counts(head, reversible, inv1, wt1);
  if (kept_counts ? !reversible : !is_reversible_instance_all(head)) return 0;
  detail::Trial trial;
  int inv0 = count_inv(top), wt0 = count_wt();
  if (kept_counts || detail::flip_counts(gates_of(head), inv1, wt1)) {
    // worked out without a trial flip: flip only when it is kept
    if (!(inv1 < inv0 || (inv1 == inv0 && wt1 < wt0))) return 0;
    rev_instance_all(head);
    detail::check_counts();
    return trial.kept = true;
  }
  rev_instance_all(head);
  inv1 = count_inv(top), wt1 = count_wt();
  detail::check_counts();
  if (inv1 < inv0 || (inv1 == inv0 && wt1 < wt0)) return trial.kept = true;
  rev_instance_all(head);
  return 0;
}

// ---- whole sub-components ---------------------------------------------------------

int is_reversible_sub_comp_tmp(Cell* head) {
  for (Cell* m = head ? head->sub_comp : nullptr; m; m = m->sub_comp_next)
    if (is_gate_class(m->cls) && !is_reversible_instance(m)) return 0;
  return 1;
}

void rev_sub_comp_tmp(Cell* head) {
  for (Cell* m = head ? head->sub_comp : nullptr; m; m = m->sub_comp_next)
    if (is_gate_class(m->cls)) rev_instance(m);
}

void sub_comp_dual(Cell* head) {
  for (Cell* m = head ? head->sub_comp : nullptr; m; m = m->sub_comp_next)
    if (is_gate_class(m->cls)) toggle_dual(m);
}

}  // namespace vorq
