// Net surgery: unlinking Nodes, nets and instances, the partner of a Node
// across a hierarchy boundary, and the joins of nets at inverters, hierarchy
// boundaries and constants.
#include "flatten/flatten_detail.h"

namespace vorq {

namespace detail {

// ---- messages -----------------------------------------------------------

void say_node_isolation() {
  say("vorq: inconsistent operation occured: pin isolation from a foreign net, sorry.\n");
}
void say_net_isolation() {
  say("vorq: inconsistent operation occured: net isolation from a foreign module, sorry.\n");
}
void say_net_colapsed() { say("vorq: internal net representation colapsed, sorry.\n"); }

namespace {

void say_irreversible_merge() {
  say("vorq: irreversible net attempted to be merged (impossible), sorry.\n");
}

}  // namespace

// ---- taking nets out of a module ----------------------------------------

bool ScanUnlink::unlink(Net* net) {
  Net** link = &m_->nets;
  while (*link && *link != net) link = &(*link)->next;
  if (!*link) return false;
  *link = net->next;
  return true;
}

bool NetIndex::unlink(Net* net) {
  if (!built_) {
    std::vector<Net*> all;
    for (Net* x = *head_; x; x = x->next) all.push_back(x);
    pred_ = PtrMap<Net*, Net*>(all.size());
    for (size_t i = 0; i < all.size(); i++) pred_.put(all[i], i ? all[i - 1] : nullptr);
    built_ = true;
  }
  Net** found = pred_.find(net);
  if (!found) return false;
  Net* p = *found;
  (p ? p->next : *head_) = net->next;
  if (net->next) pred_.put(net->next, p);
  pred_.erase(net);
  return true;
}

bool DeferredUnlink::unlink(Net* net) {
  if (net->nodes || gone_.find(net)) return false;
  gone_.put(net, true);
  return true;
}

void DeferredUnlink::finish() {
  for (Net** link = head_; *link;) {
    Net* n = *link;
    if (!n->nodes && gone_.find(n))
      *link = n->next;
    else
      link = &n->next;
  }
}

// ---- unlinking with a known predecessor ---------------------------------

bool unlink_node_after(Node* pred, Node* node) {
  Net* net = node->net;
  if (!net) return false;
  if ((pred ? pred->next : net->nodes) != node) {
    // not the predecessor: find it
    pred = nullptr;
    Node* n = net->nodes;
    while (n && n != node) {
      pred = n;
      n = n->next;
    }
    if (!n) return false;
  }
  (pred ? pred->next : net->nodes) = node->next;
  return true;
}

// ---- lookups by name ----------------------------------------------------

namespace {
constexpr int kSmallRing = 8;  // rings up to this size are searched directly
}

const std::vector<Instance*>* Lookup::instances_named(Module* m, const char* name) {
  if (!name) return nullptr;
  auto [it, fresh] = insts_.try_emplace(m);
  if (fresh)
    for (Instance* c : insts_of(m))
      if (c->name) it->second[c->name].push_back(c);
  auto found = it->second.find(name);
  return found == it->second.end() ? nullptr : &found->second;
}

void Lookup::pushed_instance(Module* m, Instance* c) {
  auto it = insts_.find(m);
  if (it == insts_.end() || !c->name) return;
  auto& same = it->second[c->name];
  same.insert(same.begin(), c);
}

Pin* Lookup::pin_named(Module* m, const char* name) {
  if (!name || !m) return nullptr;
  auto [it, fresh] = pins_.try_emplace(m);
  if (fresh)
    for (Pin* p : pins_of(m))
      if (p->name) it->second.try_emplace(p->name, p);
  auto found = it->second.find(name);
  return found == it->second.end() ? nullptr : found->second;
}

Node* Lookup::ring_node_named(Cell* c, const char* pin_name) {
  if (!pin_name || !c->node) return nullptr;
  auto it = rings_.find(c);
  if (it == rings_.end()) {
    int size = 0;
    Node* hit = nullptr;
    for (Node* n : ring_of(c)) {
      if (!hit && same_name(n->pin_name, pin_name)) hit = n;
      if (++size > kSmallRing) break;
    }
    if (size <= kSmallRing) return hit;
    it = rings_.try_emplace(c).first;
    for (Node* n : ring_of(c))
      if (n->pin_name) it->second.try_emplace(n->pin_name, n);
  }
  auto found = it->second.find(pin_name);
  return found == it->second.end() ? nullptr : found->second;
}

// ---- partner across a hierarchy boundary --------------------------------

Node* find_node(Node* node, Lookup* lk) {
  Cell* t = node->target;
  if (!t) return nullptr;
  // a pin of a sub-module instance: the port's Node inside
  if (t->cls == C_MODULE) {
    Module* sub = t->module;
    if (!sub || !sub->pins || !node->pin_name) return nullptr;
    Pin* p = lk ? lk->pin_named(sub, node->pin_name) : pin_f(node->pin_name, sub);
    return p ? p->node : nullptr;
  }
  // a port Node: the pin of the parent's instance of this module
  Module* m = t->owner;
  if (!m || !m->parent || !m->inst_name) return nullptr;
  if (lk) {
    const std::vector<Instance*>* same = lk->instances_named(m->parent, m->inst_name);
    if (!same) return nullptr;
    for (Instance* c : *same)
      if (Node* n = lk->ring_node_named(c, node->pin_name)) return n;
    return nullptr;
  }
  for (Instance* c : insts_of(m->parent)) {
    if (!same_name(c->name, m->inst_name)) continue;
    for (Node* n : ring_of(c))
      if (same_name(n->pin_name, node->pin_name)) return n;
  }
  return nullptr;
}

// ---- merging ------------------------------------------------------------

void ScanNet::settle() {
  if (flip) negate_net(net);
  flip = false;
}

MergeStep merge_into(ScanNet& s, Node* x_pred, Node* x, Node* y, NetUnlinker& nets) {
  const MergeStep failed{false, nullptr, nullptr};
  Net* X = s.net;
  Net* Y = y->net;

  // type
  if (Y && Y->type == K_TRISTATE) X->type = K_TRISTATE;

  // both Nodes leave their nets
  Node* x_next = x->next;
  if (x->net != X || !unlink_node_after(x_pred, x)) {
    say_node_isolation();
    return failed;
  }
  s.removed(x, x_pred);
  if (s.flip) negate_node(x);
  Node* y_pred = nullptr;
  Node* n = Y ? Y->nodes : nullptr;
  while (n && n != y) {
    y_pred = n;
    n = n->next;
  }
  if (!n) {
    say_node_isolation();
    return failed;
  }
  (y_pred ? y_pred->next : Y->nodes) = y->next;
  if (Y == X) {
    s.removed(y, y_pred);
    if (s.flip) negate_node(y);
    if (x_next == y) x_next = y->next;
  }

  // which side the crossing negates
  bool neg_x = false, neg_y = false;
  switch (x->target->cls) {
    case C_PIN:  // x: port inside, y: the parent's pin
      x->pair = y;
      y->pair = x;
      if (is_input_dir(x->dir) && y->wt == -1) neg_x = true;
      if (is_output_dir(x->dir) && x->wt == -1) neg_y = true;
      break;
    case C_MODULE:  // x: pin outside, y: the port inside
      x->pair = y;
      y->pair = x;
      if (is_input_dir(x->dir) && x->wt == -1) neg_y = true;
      if (is_output_dir(x->dir) && y->wt == -1) neg_x = true;
      break;
    case C_INV:
      if (x->dir == K_OUTPUT) {
        if (y->wt == 1) neg_x = true;
      } else if (x->wt == 1) {
        neg_y = true;
      }
      break;
    default:
      break;
  }

  // both Nodes on one net: nothing to join
  if (Y == X) {
    if (neg_x || neg_y) {
      say_net_colapsed();
      return failed;
    }
    Node* pred = nullptr;
    if (x_next)
      for (Node* k = X->nodes; k && k != x_next; k = k->next) pred = k;
    return {true, x_next, pred};
  }

  if ((neg_x && X->irreversible) || (neg_y && Y->irreversible)) {
    say_irreversible_merge();
    return failed;
  }
  if (neg_x) s.flip = !s.flip;

  // Y's Nodes after the last Node of X
  Node* first_y = Y->nodes;
  Node* old_tail = s.tail();
  const bool negate_moved = neg_y != s.flip;
  Node* last = nullptr;
  for (Node* k = first_y; k; k = k->next) {
    k->net = X;
    if (negate_moved) negate_node(k);
    last = k;
  }
  if (first_y) {
    (old_tail ? old_tail->next : X->nodes) = first_y;
    s.set_tail(last);
  }
  Y->nodes = nullptr;

  // Y leaves the module
  if (!nets.unlink(Y)) {
    say_net_colapsed();
    return failed;
  }
  if (x_next) return {true, x_next, x_pred};
  return {true, first_y, first_y ? old_tail : nullptr};
}

int merge_h_l(Net* keep, Node** keep_tail, Net* absorbed, NetUnlinker& nets) {
  // the absorbed net's driver loses its connection
  if (!absorbed->source) {
    say_node_isolation();
    return 0;
  }
  if (!delete_node(absorbed->source)) return 0;
  if (!keep->nodes) {
    say("vorq: empty net internally appered, sorry.\n");
    return 0;
  }
  Node* first = absorbed->nodes;
  Node* last = nullptr;
  for (Node* k = first; k; k = k->next) {
    k->net = keep;
    last = k;
  }
  if (first) {
    (*keep_tail)->next = first;
    *keep_tail = last;
  }
  absorbed->nodes = nullptr;
  if (nets.unlink(absorbed)) return 1;
  say_net_isolation();
  return 0;
}

Node* driver_of(Net* net) {
  Node* candidate = nullptr;
  for (Node* n : nodes_of(net)) {
    int d = n->dir;
    if (n->target && n->target->cls == C_PIN) {
      if (d == K_GLOBAL || is_input_dir(d)) return n;
    } else if (is_output_dir(d) || d == K_TRISTATE || d == K_TRISTATE_CONNECTED) {
      return n;
    }
    if (d == K_BIDIRECT || d == K_BIDIRECT_CONNECTED) candidate = n;
  }
  return candidate;
}

}  // namespace detail

using namespace detail;

// ---- public surgery -----------------------------------------------------

int delete_node(Node* node) {
  Net* net = node->net;
  Node* pred = nullptr;
  Node* n = net ? net->nodes : nullptr;
  while (n && n != node) {
    pred = n;
    n = n->next;
  }
  if (!n) {
    say_node_isolation();
    return 0;
  }
  (pred ? pred->next : net->nodes) = node->next;
  return 1;
}

int delete_net(Net* net, Module* m) {
  if (m && ScanUnlink(m).unlink(net)) return 1;
  say_net_isolation();
  return 0;
}

int unlink_instance(Instance* inst, Module* m) {
  if (!m) return 0;
  Instance** link = &m->insts;
  while (*link && *link != inst) link = &(*link)->next;
  if (!*link) return 0;
  *link = inst->next;
  return 1;
}

Node* find_node(Node* node) { return detail::find_node(node, nullptr); }

Node* merge_net(Node* x, Node* y, Module* m) {
  Net* X = x->net;
  Node* pred = nullptr;
  Node* n = X ? X->nodes : nullptr;
  while (n && n != x) {
    pred = n;
    n = n->next;
  }
  if (!n) {
    say_node_isolation();
    return nullptr;
  }
  ScanNet s(X);
  ScanUnlink nets(m);
  MergeStep r = merge_into(s, pred, x, y, nets);
  s.settle();
  return r.ok ? r.next : nullptr;
}

int merge_net_h_l(Net* keep, Net* absorbed) {
  Node* tail = nullptr;
  for (Node* n = keep->nodes; n; n = n->next) tail = n;
  ScanUnlink nets(top);
  return merge_h_l(keep, &tail, absorbed, nets);
}

}  // namespace vorq
