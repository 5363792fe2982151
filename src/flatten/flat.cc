// Flattening: the writable modules of the loaded hierarchy become one flat
// netlist in the top module.
#include "flatten/flatten_detail.h"

namespace vorq {

namespace {

using namespace detail;

bool is_writable(const Module* m) { return m && m->kind == KIND_WRITABLE; }

// Pins of sub-module instances take the direction, name and note of the port
// they meet.
bool take_port_dirs(Module* m, Lookup& lk) {
  for (Net* net : nets_of(m))
    for (Node* n : nodes_of(net)) {
      if (n->dir != C_MODULE) continue;
      n->note = 0;
      Cell* t = n->target;
      if (!t->module) continue;
      Pin* p = lk.pin_named(t->module, n->pin_name);
      if (!p) {
        say("vorq: sub-module instance (%s) does not match to its module defintion, net colapsed?\n",
            t->name ? t->name : "");
        return false;
      }
      n->dir = p->dir;
      n->pin_name = p->name;
      n->note = p->note;
    }
  for (Net* net : nets_of(m))
    for (Node* n : nodes_of(net))
      if (n->target->cls == C_MODULE && is_writable(n->target->module)) n->pair = nullptr;
  return true;
}

void make_boundary(Node* n) {
  n->boundary = true;
  set_weights(n, 0, 0);
}

// Joins every hierarchy boundary of the flat net list; a chain of boundaries
// through several levels dissolves in one scan of the outermost net.
bool merge_hierarchy(NetIndex& nets, Lookup& lk) {
  for (Net* X = top->nets; X; X = X->next) {
    if (!is_counted_type(X->type)) continue;
    ScanNet s(X);
    Node* pred = nullptr;
    Node* cur = X->nodes;
    while (cur) {
      Cell* t = cur->target;
      Node* partner = nullptr;
      if (t->cls == C_PIN) {
        // a port of a sub-module
        if (t->owner != top && cur->dir != K_GLOBAL) {
          partner = find_node(cur, &lk);
          if (!partner) {
            t->used = false;
            make_boundary(cur);
          }
        }
      } else if (t->cls == C_MODULE && is_writable(t->module)) {
        // a pin of a flattened sub-module instance
        partner = find_node(cur, &lk);
        if (!partner) {
          Pin* p = lk.pin_named(t->module, cur->pin_name);
          if (!p) {
            say("vorq: sub-module instance (%s) does not match to its module defintion, net colapsed?\n",
                t->name ? t->name : "");
            s.settle();
            return false;
          }
          if (p->used) {
            say("vorq: linkage across sub-module boundary mismatched, sorry.\n");
            s.settle();
            return false;
          }
          make_boundary(cur);
        }
      } else if (t->cls == C_MODULE) {
        // a pin of an opaque sub-module
        if (cur->dir == K_UNUSED || cur->dir == K_UNUSED_CONNECTED) make_boundary(cur);
      }
      if (!partner) {
        pred = cur;
        cur = cur->next;
        continue;
      }
      MergeStep r = merge_into(s, pred, cur, partner, nets);
      if (!r.ok) {
        s.settle();
        return false;
      }
      pred = r.pred;
      cur = r.next;
    }
    s.settle();
  }
  return true;
}

// Nets driven by one kind of constant (or supply) become one net.
struct ConstantGroup {
  Net* keep = nullptr;
  Node* tail = nullptr;
  bool add(Net* net, NetIndex& nets) {
    if (keep) return merge_h_l(keep, &tail, net, nets);
    keep = net;
    for (Node* n = net->nodes; n; n = n->next) tail = n;
    return true;
  }
};

bool join_constants(NetIndex& nets) {
  // the groups are disjoint: one scan serves the cells and the supply ports
  ConstantGroup high, low, vdd, vss;
  for (Net* net = top->nets; net;) {
    Net* next = net->next;
    if (net->type == NET_SIGNAL && net->source) {
      ConstantGroup* g = nullptr;
      switch (net->source->target->cls) {
        case C_HIGH: g = &high; break;
        case C_LOW: g = &low; break;
        case C_PIN:
          if (same_name(net->source->pin_name, "VDD"))
            g = &vdd;
          else if (same_name(net->source->pin_name, "VSS"))
            g = &vss;
          break;
        default: break;
      }
      if (g && !g->add(net, nets)) return false;
    }
    net = next;
  }
  return true;
}

}  // namespace

Net* add_net_flat(Net* tail, Module* m) {
  if (!is_writable(m) || !tail) return tail;
  Net* list = m->nets;
  m->nets = nullptr;
  for (Net* n = list; n;) {
    Net* next = n->next;
    if (n->type == NET_CONTROL) {
      n->next = m->nets;
      m->nets = n;
    } else {
      n->next = nullptr;
      tail->next = n;
      tail = n;
    }
    n = next;
  }
  return tail;
}

Instance* add_instance_flat(Instance* tail, Module* m) {
  if (!is_writable(m) || !tail) return tail;
  Instance* list = m->insts;
  m->insts = nullptr;
  for (Instance* c = list; c;) {
    Instance* next = c->next;
    if (c->cls == C_MODULE && is_writable(c->module)) {
      c->next = m->sub_insts;
      m->sub_insts = c;
    } else {
      c->next = nullptr;
      tail->next = c;
      tail = c;
    }
    c = next;
  }
  return tail;
}

int flat() {
  if (!top) {
    say("vorq: internal net representation colapsed, or net set is empty, sorry.\n");
    return 0;
  }

  // 1. below a read-only module everything is read-only
  for (Module* m = top->next; m; m = m->next)
    if (m->kind == KIND_WRITABLE && m->parent && m->parent->kind == KIND_READONLY) m->kind = KIND_READONLY;

  // 2. sub-module pins
  Lookup lk;
  for (Module* m : modules())
    if (is_writable(m) && !take_port_dirs(m, lk)) return 0;

  // 3. typing and weights
  for (Module* m : modules()) {
    if (is_writable(m)) {
      use_check(m);
      init_weight(m);
    }
    net_type_set_wt_ctr_source(m);
  }

  // 4. protection
  if (!detail::protect_irreversible_nets(lk)) return 0;

  // 5, 6. control nets, then inverters into weights
  for (Module* m : modules())
    for (Instance* c : insts_of(m)) c->control = false;
  for (Module* m : modules()) detail::control_net_check(m, lk);
  for (Module* m : modules())
    if (is_writable(m) && !inv_to_weight(m)) return 0;

  // 7. boundaries start clear
  for (Module* m : modules())
    if (is_writable(m)) {
      m->sub_insts = nullptr;
      for (Net* net : nets_of(m))
        for (Node* n : nodes_of(net)) n->boundary = false;
    }

  // 8. the flat net list
  if (!top->nets) {
    say("vorq: internal net representation colapsed, or net set is empty, sorry.\n");
    return 0;
  }
  Net* net_tail = top->nets;
  while (net_tail->next) net_tail = net_tail->next;
  for (Module* m = top->next; m; m = m->next) net_tail = add_net_flat(net_tail, m);

  // 9. hierarchical merge
  NetIndex flat_nets(&top->nets);
  if (!merge_hierarchy(flat_nets, lk)) return 0;

  // 10. sources
  for (Net* net : nets_of(top))
    if (is_counted_type(net->type) && !find_source(net)) return 0;

  // 11. the flat instance list
  if (!top->insts) {
    say("vorq: internal instance representation colapsed, or instance set is empty, sorry.\n");
    return 0;
  }
  Instance* inst_tail = top->insts;
  while (inst_tail->next) inst_tail = inst_tail->next;
  for (Module* m = top->next; m; m = m->next) inst_tail = add_instance_flat(inst_tail, m);

  // 12, 13. constant and supply nets
  if (!join_constants(flat_nets)) return 0;
  return 1;
}

}  // namespace vorq
