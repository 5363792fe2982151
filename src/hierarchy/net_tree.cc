// Net trees and net division: the module copies one flat net passes through,
// the inverter for its complement loads, one net per module copy, and the new
// ports where the net crosses a boundary.
#include "hierarchy/hierarchy.h"

namespace vorq {

namespace detail {

Module* owner_of(const Node* n) {
  if (n && n->target && n->target->owner) return n->target->owner;
  return top;
}

void preorder(TreeCell* root, std::vector<TreeCell*>& cells, std::vector<int>& parents) {
  cells.clear();
  parents.clear();
  if (!root) return;
  std::vector<std::pair<TreeCell*, int>> stack;
  stack.push_back({root, -1});
  while (!stack.empty()) {
    auto [c, parent] = stack.back();
    stack.pop_back();
    int at = static_cast<int>(cells.size());
    cells.push_back(c);
    parents.push_back(parent);
    // the following siblings come after the whole child subtree
    if (c != root && c->sibling) stack.push_back({c->sibling, parent});
    if (c->child) stack.push_back({c->child, at});
  }
}

// ---- tree building ------------------------------------------------------------

TreeCell* NetTrees::new_cell(Module* m, Node* node) {
  TreeCell* c;
  if (used_ < pool_.size()) {
    c = pool_[used_];
    *c = TreeCell{};
  } else {
    c = make<TreeCell>();
    pool_.push_back(c);
  }
  ++used_;
  c->module = m;
  if (node) {
    node->next = nullptr;
    c->nodes = node;
  }
  index_[m] = {c, tree_};
  return c;
}

TreeCell* NetTrees::cell_of(Module* m) const {
  auto it = index_.find(m);
  return it != index_.end() && it->second.tree == tree_ ? it->second.cell : nullptr;
}

void NetTrees::adopt(TreeCell* root) {
  ++tree_;
  std::vector<TreeCell*> cells;
  std::vector<int> parents;
  preorder(root, cells, parents);
  for (TreeCell* c : cells) index_[c->module] = {c, tree_};
}

TreeCell* NetTrees::h_net(Net* net) {
  ++tree_;
  if (!net) return nullptr;
  TreeCell* root = nullptr;
  Node* n = net->nodes;
  while (n) {
    Node* nxt = n->next;
    n->next = nullptr;
    root = add_tree(root, n);
    n = nxt;
  }
  return root;
}

TreeCell* NetTrees::add_tree(TreeCell* root, Node* node) {
  Module* m = owner_of(node);
  if (!root) return new_cell(m, node);

  Module* a = yca(root->module, m);
  if (a == m && a == root->module) {
    node->next = root->nodes;
    root->nodes = node;
    return root;
  }
  if (a == m) {
    // the Node's module lies above the root
    TreeCell* c = new_cell(m, node);
    connect_f(c, root);
    return c;
  }
  if (a == root->module) {
    // below the root: the cell of the module, or below its deepest ancestor
    // that has one
    if (TreeCell* c = cell_of(m)) {
      node->next = c->nodes;
      c->nodes = node;
      return root;
    }
    TreeCell* at = nullptr;
    for (Module* up = m->parent; up && !at; up = up->parent) at = cell_of(up);
    if (!at) at = root;
    TreeCell* c = new_cell(m, node);
    connect_f(at, c);
    return root;
  }
  // neither lies above the other: a new root for their common ancestor
  TreeCell* c = new_cell(m, node);
  TreeCell* r = new_cell(a, nullptr);
  connect_f(r, root);
  connect_f(r, c);
  return r;
}

void NetTrees::connect_f(TreeCell* p, TreeCell* c) {
  TreeCell* below = c;
  for (Module* up = c->module->parent; up && up != p->module; up = up->parent) {
    TreeCell* mid = new_cell(up, nullptr);
    mid->child = below;
    below->parent = mid;
    below = mid;
  }
  below->parent = p;
  below->sibling = p->child;
  p->child = below;
}

}  // namespace detail

// ---- free forms ---------------------------------------------------------------

TreeCell* h_net(Net* net) {
  detail::NetTrees trees;
  return trees.h_net(net);
}

TreeCell* add_tree(TreeCell* root, Node* node) {
  detail::NetTrees trees;
  trees.adopt(root);
  return trees.add_tree(root, node);
}

void connect_f(TreeCell* p, TreeCell* c) {
  detail::NetTrees trees;
  trees.connect_f(p, c);
}

// ---- common ancestor ----------------------------------------------------------

namespace {
int depth_of(Module* m) {
  int d = 0;
  for (Module* up = m->parent; up; up = up->parent) ++d;
  return d;
}
}  // namespace

Module* yca(Module* a, Module* b) {
  if (!a) return b;
  if (!b) return a;
  if (a == b) return a;
  int da = depth_of(a), db = depth_of(b);
  while (da > db) { a = a->parent; --da; }
  while (db > da) { b = b->parent; --db; }
  while (a != b && a && b) {
    a = a->parent;
    b = b->parent;
  }
  return a == b ? a : nullptr;
}

// ---- division -----------------------------------------------------------------

Net* div_net(Net* net) {
  Node* old = net->nodes;
  net->next = nullptr;
  net->nodes = nullptr;
  Net* comp = nullptr;
  Module* l = nullptr;
  while (old) {
    Node* n = old;
    old = old->next;
    if (n->wt != -1) {
      n->next = net->nodes;
      net->nodes = n;
      continue;
    }
    if (!comp) {
      // the first complement load: the inverter and its net
      l = detail::owner_of(n);
      Instance* inv = make<Instance>();
      inv->cls = C_INV;
      Node* in = make<Node>();
      in->dir = K_INPUT;
      in->pin_name = arena_strdup("in");
      in->target = inv;
      Node* out = make<Node>();
      out->dir = K_OUTPUT;
      out->pin_name = arena_strdup("nout");
      out->target = inv;
      in->ring = out;
      out->ring = in;
      inv->node = in;
      in->net = net;
      in->next = net->nodes;
      net->nodes = in;
      comp = make<Net>();
      comp->type = NET_SIGNAL;
      comp->source = out;
      n->next = out;
      out->next = nullptr;
      comp->nodes = n;
      n->net = comp;
      out->net = comp;
      net->next = comp;
    } else {
      l = yca(l, detail::owner_of(n));
      n->next = comp->nodes;
      comp->nodes = n;
      n->net = comp;
    }
  }
  if (!comp) return net;

  // widen to the net's driver or drivers
  if (net->type == NET_SIGNAL) {
    if (net->source) l = yca(l, detail::owner_of(net->source));
  } else {
    for (Node* n : nodes_of(net)) {
      bool bidirect = n->dir == K_BIDIRECT || n->dir == K_BIDIRECT_CONNECTED;
      bool tristate = (n->dir == K_TRISTATE || n->dir == K_TRISTATE_CONNECTED) && n->target &&
                      n->target->cls != C_PIN;
      if (bidirect || tristate) l = yca(l, detail::owner_of(n));
    }
  }
  Instance* inv = comp->source->target;
  inv->owner = l;
  inv->next = l->insts;
  l->insts = inv;
  return net;
}

// ---- per-module nets and new ports ----------------------------------------------

namespace {
void deliver_cell(TreeCell* c, int type) {
  if (!c->nodes) return;
  Net* net = make<Net>();
  net->nodes = c->nodes;
  net->source = c->source;
  net->type = type;
  net->next = c->module->nets;
  c->module->nets = net;
  for (Node* n : nodes_of(net)) n->net = net;
}
}  // namespace

void deliver_net(TreeCell* root, int type) {
  if (!root) return;
  if (!root->child) {
    deliver_cell(root, type);
    return;
  }
  std::vector<TreeCell*> cells;
  std::vector<int> parents;
  detail::preorder(root, cells, parents);
  for (TreeCell* c : cells) deliver_cell(c, type);
}

void make_link(TreeCell* root) {
  if (!root || !root->child) return;
  std::vector<TreeCell*> cells;
  std::vector<int> parents;
  detail::preorder(root, cells, parents);
  for (TreeCell* c : cells)
    for (TreeCell* d = c->child; d; d = d->sibling) make_new_link(c, d);
}

void make_new_link(TreeCell* c, TreeCell* d) {
  Module* sub = d->module;
  // the instance that the child copy implements
  Instance* inst = sub->inst;
  if (!inst || inst->owner != c->module) inst = instance_f(sub->inst_name, c->module);
  if (!inst) inst = sub->inst;

  Pin* pin = make<Pin>();
  pin->cls = C_PIN;
  pin->dir = d->port_dir;
  pin->owner = sub;
  pin->next = sub->pins;
  sub->pins = pin;

  Node* b = make<Node>();
  b->target = pin;
  b->dir = d->port_dir;
  b->ring = b;
  pin->node = b;
  b->next = d->nodes;
  d->nodes = b;

  Node* a = make<Node>();
  a->target = inst;
  a->ring = a;
  if (inst) inst->node = a;
  a->next = c->nodes;
  c->nodes = a;

  a->pair = b;
  b->pair = a;
}

}  // namespace vorq
