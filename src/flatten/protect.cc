// Protection of irreversible nets: stickies in front of every inverter pin
// and hierarchy connection of a net that must never flip, and their
// resolution after reduction.
#include <cstdio>
#include <optional>
#include <vector>

#include "flatten/flatten_detail.h"

namespace vorq {

namespace detail {

namespace {

Node* new_sticky_node(Instance* sticky, const char* pin, int dir, int wt) {
  Node* n = make<Node>();
  n->dir = dir;
  n->target = sticky;
  n->pin_name = arena_strdup(pin);
  set_weights(n, wt, wt);
  return n;
}

void push_node(Node* n, Net* net) {
  n->net = net;
  n->next = net->nodes;
  net->nodes = n;
}

// protect_the_node; `pred` is the Node before `node` in `net` (null: unknown
// or the head).
int protect_node(Net* net, Node* node, Node* pred, int cls, int direction, Lookup* lk) {
  char name[32];
  std::snprintf(name, sizeof name, "sticky-%d", sticky_cnt);
  sticky_cnt++;
  Module* m = node->target->owner;

  // the private net and the sticky
  Net* priv = make<Net>();
  priv->next = m->nets;
  m->nets = priv;
  Instance* sticky = make<Instance>();
  sticky->cls = cls;
  sticky->name = arena_strdup(name);
  sticky->owner = m;
  sticky->next = m->insts;
  m->insts = sticky;
  if (lk) lk->pushed_instance(m, sticky);

  if (node->net != net || !unlink_node_after(pred, node)) {
    say_node_isolation();
    return 0;
  }

  // input "i" and output "o": direction 0 irreversible net -> sticky ->
  // protected pin; direction 1 protected pin -> sticky -> irreversible net
  Node* in = new_sticky_node(sticky, "i", K_INPUT, 1);
  Node* out = new_sticky_node(sticky, "o", K_OUTPUT, 0);
  sticky->node = in;
  in->ring = out;
  out->ring = in;
  push_node(in, direction == 0 ? net : priv);
  push_node(out, direction == 0 ? priv : net);
  push_node(node, priv);
  return 1;
}

int protect_net(Net* net, Lookup& lk) {
  Node* pred = nullptr;  // the Node before `cur` in net
  for (Node* cur = net->nodes; cur;) {
    Node* next = cur->next;
    Cell* t = cur->target;
    int cls = 0, direction = 0;
    bool protect = false;
    if (t->cls == C_INV) {
      // an inverter whose other pin is connected
      if (cur->ring && cur->ring != cur) {
        protect = true;
        cls = C_STICKY;
        if (is_input_dir(cur->dir)) {
          direction = 0;
        } else if (is_output_dir(cur->dir)) {
          direction = 1;
        } else {
          say("vorq: an inverter instance has a pin of the type %d, which cannot be handled, sorry.\n",
              cur->dir);
          return 0;
        }
      }
    } else if (Node* partner = find_node(cur, &lk)) {
      // a hierarchy connection, outer or inner side
      int a = t->cls, b = partner->target->cls;
      bool outer = a == C_MODULE && b == C_PIN;
      if (!outer && !(a == C_PIN && b == C_MODULE)) {
        say("vorq: find_node() detects a node pair (%d, %d), which cannot be handled, sorry.\n", a, b);
        return 0;
      }
      protect = true;
      int d = cur->dir;
      if (is_input_dir(d)) {
        cls = C_STICKY;
        direction = outer ? 0 : 1;
      } else if (is_output_dir(d)) {
        cls = C_STICKY;
        direction = outer ? 1 : 0;
      } else if (d == K_TRISTATE || d == K_TRISTATE_CONNECTED) {
        cls = C_STICKY_TS;
        direction = outer ? 1 : 0;
      } else {
        say("vorq: protect_the_node() receives a node of the type %d, which cannot be handled, sorry.\n", d);
        return 0;
      }
    }
    if (!protect) {
      pred = cur;
    } else if (protect_node(net, cur, pred, cls, direction, &lk)) {
      // cur left; one sticky Node went to the head of net
      if (!pred) pred = net->nodes != next ? net->nodes : nullptr;
    } else {
      pred = nullptr;
      for (Node* k = net->nodes; k && k != next; k = k->next) pred = k;
    }
    cur = next;
  }
  return 1;
}

// ---- unprotection -------------------------------------------------------

// Indexes of the flat net list for the unlinks of one unprotection.
struct Unprotect {
  std::optional<NetIndex> flat_nets;
  // hierarchy connections met on private nets that flattening never merged
  std::vector<Node*> loose;
  NetIndex& flat() {
    if (!flat_nets) flat_nets.emplace(&top->nets);
    return *flat_nets;
  }
  bool unlink_flat(Net* net) { return flat().unlink(net); }
};

bool is_flattened_boundary(Node* n) {
  Cell* t = n->target;
  if (t->cls == C_MODULE) return t->module && t->module->kind == KIND_WRITABLE;
  return t->cls == C_PIN && t->owner != top && t->owner->kind == KIND_WRITABLE && n->dir != K_GLOBAL;
}

// The other side of a hierarchy connection, through the module copy's own
// records (the instance lists of flattened modules are empty by now).
Node* other_side(Node* n) {
  Cell* t = n->target;
  if (t->cls == C_MODULE) {
    Pin* p = n->pin_name ? pin_f(n->pin_name, t->module) : nullptr;
    return p ? p->node : nullptr;
  }
  Instance* inst = t->owner->inst;
  if (!inst) return nullptr;
  for (Node* k : ring_of(inst))
    if (same_name(k->pin_name, n->pin_name)) return k;
  return nullptr;
}

// A boundary protected on both sides kept its two private nets apart through
// flattening; with the stickies gone, its two sides are on typed nets again.
// Merge them, as flattening merges every other boundary.
int join_loose_boundaries(Unprotect& u) {
  for (Node* n : u.loose) {
    Node* partner = other_side(n);
    Net* X = n->net;
    if (n->pair || !partner || partner->pair || !X || !partner->net || partner->net == X) continue;
    if (!is_counted_type(X->type) || !is_counted_type(partner->net->type)) continue;
    Node* pred = nullptr;
    Node* k = X->nodes;
    while (k && k != n) {
      pred = k;
      k = k->next;
    }
    if (!k) continue;
    ScanNet s(X);
    MergeStep r = merge_into(s, pred, n, partner, u.flat());
    s.settle();
    if (!r.ok) return 0;
    X->source = driver_of(X);
    if (!X->source) return 0;
  }
  return 1;
}

enum class Outcome { remove, inverter, buffer };

// remove_the_sticky. `walked`/`walked_pred`: the instance list being walked
// and the sticky's predecessor there (null: none). Sets *left_walked when the
// sticky left that list.
int remove_sticky(Instance* sticky, Instance** walked, Instance* walked_pred, Unprotect* u,
                  bool* left_walked) {
  *left_walked = false;

  // its two Nodes
  Node* in = nullptr;
  Node* out = nullptr;
  for (Node* n : ring_of(sticky)) {
    if (is_input_dir(n->dir))
      in = n;
    else if (is_output_dir(n->dir))
      out = n;
    else
      return 0;
  }
  if (!in || !out || !in->net || !out->net || in->net == out->net) return 0;

  if (sticky->negate) {
    negate_node(in);
    set_polarity_flags(sticky, sticky->dual, false);
  }

  // counts, the sticky's Nodes included
  Net* in_net = in->net;
  Net* out_net = out->net;
  int in_count = 0, out_count = 0, in_loads = 0, out_sources = 0;
  for (Node* n : nodes_of(in_net)) {
    in_count++;
    if (n->phase != 0) in_loads++;
  }
  for (Node* n : nodes_of(out_net)) {
    out_count++;
    if (n->wt == 0) out_sources++;
  }

  Outcome outcome;
  if (in->wt == -1) {
    if (out_sources > 1) {
      outcome = Outcome::inverter;
    } else if (!out_net->irreversible) {
      negate_net(out_net);
      outcome = Outcome::remove;
    } else {
      outcome = Outcome::inverter;
    }
  } else if (sticky->cls == C_STICKY && out_net->irreversible && in_net->type == K_TRISTATE) {
    // a cell stood between a tristate bus and the protected net: it drives
    // the net at all times, which the bus alone would not
    outcome = Outcome::buffer;
  } else {
    outcome = (in_loads > 1 && out_sources > 1) ? Outcome::buffer : Outcome::remove;
  }

  // a tristate sticky passes high impedance: it can only become a wire
  if (sticky->cls == C_STICKY_TS && outcome != Outcome::remove) {
    if (outcome == Outcome::inverter) return 0;
    outcome = Outcome::remove;
  }

  if (outcome != Outcome::remove) {
    bool inv = outcome == Outcome::inverter;
    sticky->cls = inv ? C_INV : C_NINV;
    in->pin_name = arena_strdup("in");
    out->pin_name = arena_strdup(inv ? "nout" : "out");
    // the cell realises the inversion itself
    if (inv) set_weights(in, 1, 1);
    return 1;
  }

  // the larger net survives; on equal counts the out-net, unless it is
  // untyped and the in-net is not. An untyped survivor would be dropped with
  // the typed net's connections: refuse it.
  bool out_survives;
  if (in_count != out_count)
    out_survives = out_count > in_count;
  else
    out_survives = !(out_net->type == 0 && in_net->type != 0);
  Net* keep = out_survives ? out_net : in_net;
  Net* gone = out_survives ? in_net : out_net;
  if (keep->type == 0 && gone->type != 0) return 0;

  // the sticky leaves its nets and its instance list
  if (!delete_node(in) || !delete_node(out)) return 0;
  Module* owner = sticky->owner;
  Instance** list = owner->kind == KIND_WRITABLE ? &top->insts : &owner->insts;
  if (list == walked && (walked_pred ? walked_pred->next : *walked) == sticky) {
    (walked_pred ? walked_pred->next : *walked) = sticky->next;
    *left_walked = true;
  } else {
    unlink_instance(sticky, owner->kind == KIND_WRITABLE ? top : owner);
  }

  // a private net that flattening never merged: its hierarchy connection
  for (Net* net : {in_net, out_net})
    if (net->type == 0)
      for (Node* n : nodes_of(net))
        if (is_flattened_boundary(n)) u->loose.push_back(n);

  // the other net's Nodes to the head of the survivor
  while (Node* n = gone->nodes) {
    gone->nodes = n->next;
    push_node(n, keep);
  }
  if (!u->unlink_flat(gone)) {
    if (owner != top)
      delete_net(gone, owner);
    else
      say_net_isolation();
  }

  // the survivor's driver, when it was the sticky
  if (!keep->source || keep->source == in || keep->source == out) {
    keep->source = driver_of(keep);
    if (!keep->source && is_counted_type(keep->type)) return 0;
  }
  return 1;
}

}  // namespace

int protect_irreversible_nets(Lookup& lk) {
  sticky_cnt = 0;
  for (Module* m : modules())
    for (Net* net = m->nets; net; net = net->next)
      if (net->irreversible && !protect_net(net, lk)) return 0;
  return 1;
}

}  // namespace detail

using namespace detail;

int protect_irreversible_nets() {
  Lookup lk;
  return detail::protect_irreversible_nets(lk);
}

int protect_the_net(Net* net) {
  Lookup lk;
  return protect_net(net, lk);
}

int protect_the_node(Net* net, Node* node, int cls, int direction) {
  return protect_node(net, node, nullptr, cls, direction, nullptr);
}

int unprotect_irreversible_nets() {
  if (!top) return 1;
  Unprotect u;
  for (Module* m : modules()) {
    Instance* pred = nullptr;
    for (Instance* c = m->insts; c;) {
      Instance* next = c->next;
      bool left = false;
      if (c->cls == C_STICKY || c->cls == C_STICKY_TS) {
        if (!remove_sticky(c, &m->insts, pred, &u, &left)) return 0;
      }
      if (!left) pred = c;
      c = next;
    }
  }
  return join_loose_boundaries(u);
}

int remove_the_sticky(Instance* sticky) {
  if (!top) return 0;
  Unprotect u;
  bool left = false;
  return remove_sticky(sticky, nullptr, nullptr, &u, &left) ? join_loose_boundaries(u) : 0;
}

}  // namespace vorq
