// Port directions of the new ports of one net tree, and the local constant
// cells and supply ports that constant and supply nets get instead of ports.
#include <cstring>

#include "hierarchy/hierarchy.h"

namespace vorq {

namespace {

bool is_input_dir(int d) { return d == K_INPUT || d == K_INPUT_CONNECTED; }

bool drives(const Node* n) {
  if (!n->target) return false;
  if (n->target->cls == C_PIN) {
    return n->dir == K_BIDIRECT || n->dir == K_BIDIRECT_CONNECTED || n->dir == K_GLOBAL ||
           is_input_dir(n->dir);
  }
  return n->dir == K_BIDIRECT || n->dir == K_BIDIRECT_CONNECTED || n->dir == K_OUTPUT ||
         n->dir == K_OUTPUT_CONNECTED || n->dir == K_TRISTATE || n->dir == K_TRISTATE_CONNECTED;
}

int port_dir_of(const TreeCell* c, bool other_than_tristate, int type) {
  if (!c->inward) return type == NET_SIGNAL ? K_OUTPUT : K_TRISTATE;
  if (!c->outward) return K_INPUT;
  return other_than_tristate ? K_BIDIRECT : K_TRISTATE;
}

bool holds_input(const TreeCell* c) {
  for (Node* n = c->nodes; n; n = n->next)
    if (is_input_dir(n->dir)) return true;
  return false;
}

void push_source(TreeCell* c, Node* n) {
  n->next = c->nodes;
  c->nodes = n;
  c->source = n;
}

}  // namespace

Node* find_source_node(TreeCell* cell) {
  for (Node* n = cell->nodes; n; n = n->next)
    if (drives(n)) return n;
  return nullptr;
}

// ---- directions -----------------------------------------------------------------
// A cell is `outward` when a driving cell lies in its subtree (itself included)
// and `inward` when one lies outside it; the root is neither. This is what the
// floods from every driving cell leave, one after the other.

void pin_type_check(TreeCell* root, int type) {
  if (!root) return;
  if (!root->child) {
    root->source = find_source_node(root);
    root->inward = root->outward = root->visited = 0;
    root->port_dir = static_cast<uint16_t>(port_dir_of(root, false, type));
    return;
  }
  std::vector<TreeCell*> cells;
  std::vector<int> parents;
  detail::preorder(root, cells, parents);
  size_t n = cells.size();
  std::vector<int64_t> drivers(n, 0);
  std::vector<char> inputs(n, 0);
  for (size_t i = 0; i < n; ++i) {
    TreeCell* c = cells[i];
    c->source = find_source_node(c);
    c->inward = c->outward = c->visited = 0;
    drivers[i] = c->source ? 1 : 0;
    inputs[i] = holds_input(c) ? 1 : 0;
  }
  // subtree sums: every cell comes after its parent in pre-order
  for (size_t i = n; i-- > 1;) {
    drivers[parents[i]] += drivers[i];
    inputs[parents[i]] |= inputs[i];
  }
  int64_t total = drivers[0];
  for (size_t i = 0; i < n; ++i) {
    TreeCell* c = cells[i];
    if (i > 0) {
      c->outward = drivers[i] > 0;
      c->inward = total - drivers[i] > 0;
    }
    c->port_dir = static_cast<uint16_t>(port_dir_of(c, inputs[i] != 0, type));
  }
}

// ---- constant nets ----------------------------------------------------------------

void high_low_nethier(TreeCell* root, int cls) {
  std::vector<TreeCell*> cells;
  std::vector<int> parents;
  detail::preorder(root, cells, parents);
  for (TreeCell* c : cells) {
    if (!c->nodes) continue;
    if (!c->nodes->next && c->nodes->target && c->nodes->target->cls == cls) {
      // the constant cell alone: this module gets no part of the net
      c->nodes = nullptr;
      continue;
    }
    bool has_constant = false;
    for (Node* n = c->nodes; n && !has_constant; n = n->next)
      has_constant = n->target && n->target->cls == cls;
    if (has_constant) continue;

    Module* m = c->module;
    Instance* cell = make<Instance>();
    cell->cls = cls;
    cell->name = arena_strdup(cls == C_HIGH ? "high-" : "low-");
    cell->owner = m;
    cell->next = m->insts;
    m->insts = cell;
    Node* d = make<Node>();
    d->target = cell;
    d->pin_name = arena_strdup(cls == C_HIGH ? "out" : "nout");
    d->ring = d;
    cell->node = d;
    push_source(c, d);
  }
}

// ---- supply nets --------------------------------------------------------------------

void vdd_vss_nethier(TreeCell* root, int kind) {
  const char* supply = kind == C_HIGH ? "VDD" : "VSS";
  std::vector<TreeCell*> cells;
  std::vector<int> parents;
  detail::preorder(root, cells, parents);
  for (TreeCell* c : cells) {
    if (!c->nodes) continue;
    const Node* first = c->nodes;
    if (!first->next && first->target && first->target->cls == C_PIN && first->dir == K_GLOBAL) {
      c->nodes = nullptr;
      continue;
    }
    // a global port already here, or a port of the supply's own name (an
    // input "VDD" driving the net): no second port of that name
    bool has_port = false;
    for (Node* n = c->nodes; n && !has_port; n = n->next) {
      if (!n->target || n->target->cls != C_PIN) continue;
      has_port = n->target->dir == K_GLOBAL ||
                 (n->target->name && std::strcmp(n->target->name, supply) == 0);
    }
    if (has_port) continue;

    Module* m = c->module;
    // the top module writes every port: one of this name is taken up, not doubled
    Pin* pin = m == top ? pin_f(supply, m) : nullptr;
    if (!pin) {
      pin = make<Pin>();
      pin->cls = C_PIN;
      pin->dir = K_GLOBAL;
      pin->name = arena_strdup(supply);
      pin->owner = m;
      pin->next = m->pins;
      m->pins = pin;
    }
    Node* d = make<Node>();
    d->target = pin;
    d->pin_name = pin->name;
    d->dir = pin->dir;
    d->ring = d;
    if (!pin->node) pin->node = d;
    push_source(c, d);
  }
}

}  // namespace vorq
