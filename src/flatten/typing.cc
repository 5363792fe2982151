// Net typing and weights: used ports, net types and drivers, the control
// nets, and the absorption of inverters into weights.
#include <vector>

#include "flatten/flatten_detail.h"

namespace vorq {

namespace detail {

namespace {

// The control pin names, compared in this order.
constexpr int ctrl_pin_names = 5;
const char* const ctrl_pin_name[ctrl_pin_names] = {"m_clock", "s_clock", "b_clock", "scan_clock",
                                                    "p_reset"};

bool is_control_pin_name(const char* name) {
  for (int i = 0; i < ctrl_pin_names; i++)
    if (same_name(name, ctrl_pin_name[i])) return true;
  return false;
}

const char* or_empty(const char* s) { return s ? s : ""; }

// Spreads the control type from the net of `start` (a work list in place of
// the depth-first recursion; it reaches the same nets and cells).
void spread_control(Node* start, Lookup& lk) {
  std::vector<Node*> work{start};
  while (!work.empty()) {
    Node* node = work.back();
    work.pop_back();
    Net* net = node->net;
    if (!net || net->type == NET_CONTROL) continue;
    net->type = NET_CONTROL;
    for (Node* n : nodes_of(net)) {
      Cell* t = n->target;
      t->control = true;
      int c = t->cls;
      if (is_register_class(c) || c == C_BGATE) continue;
      if (c == C_PIN || c == C_MODULE) {
        if (Node* partner = find_node(n, &lk)) work.push_back(partner);
        continue;
      }
      for (Node* other : ring_from(n))
        if (other != n) work.push_back(other);
    }
  }
}

}  // namespace

void control_net_check(Module* m, Lookup& lk) {
  for (Net* net : nets_of(m))
    for (Node* n : nodes_of(net)) {
      Cell* t = n->target;
      if (is_control_pin_name(n->pin_name) || (t->cls == C_PIN && t->note == K_CLOCK) ||
          (t->cls == C_MODULE && n->note == K_CLOCK)) {
        t->control = true;
        spread_control(n, lk);
      }
    }
}

}  // namespace detail

using namespace detail;

// ---- typing -------------------------------------------------------------

void use_check(Module* m) {
  // ports
  for (Pin* p : pins_of(m)) p->used = (m == top) || p->node != nullptr;
  // instances without a connected pin
  for (Instance** link = &m->insts; *link;) {
    if (!(*link)->node)
      *link = (*link)->next;
    else
      link = &(*link)->next;
  }
  // nets without Nodes
  for (Net** link = &m->nets; *link;) {
    if (!(*link)->nodes)
      *link = (*link)->next;
    else
      link = &(*link)->next;
  }
}

void init_weight(Module* m) {
  for (Net* net : nets_of(m))
    for (Node* n : nodes_of(net)) set_weights(n, 1, 1);
}

void net_type_set_wt_ctr_source(Module* m) {
  for (Net* net : nets_of(m)) {
    net->source = nullptr;
    net->type = 0;
    net->irreversible = false;
    for (Node* n : nodes_of(net)) {
      int d = n->dir;
      if (d == K_BIDIRECT || d == K_BIDIRECT_CONNECTED) {
        net->irreversible = true;
        net->type = K_TRISTATE;
        set_weights(n, 0, n->phase);
      } else if (n->target->cls == C_PIN) {
        // a port, seen from outside: an input drives the net inside
        if (d == K_GLOBAL) {
          net->type = NET_SIGNAL;
          set_weights(n, 0, 0);
        } else if (is_input_dir(d)) {
          if (is_control_pin_name(n->target->name))
            net->source = n;
          else
            net->type = NET_SIGNAL;
          set_weights(n, 0, 0);
        } else if (d == K_UNUSED_CONNECTED) {
          net->type = K_UNUSED;
          set_weights(n, 0, 0);
        }
      } else if (is_output_dir(d)) {
        net->type = NET_SIGNAL;
        set_weights(n, 0, 0);
      } else if (d == K_TRISTATE || d == K_TRISTATE_CONNECTED) {
        net->type = K_TRISTATE;
        set_weights(n, 0, 0);
      }
    }
  }
}

// ---- control nets -------------------------------------------------------

void control_net_check(Module* m) {
  Lookup lk;
  detail::control_net_check(m, lk);
}

void control_net_check2(Node* node) {
  Lookup lk;
  spread_control(node, lk);
}

// ---- inverters into weights ---------------------------------------------

namespace {

// The scan of inv_to_weight over the module's counted nets.
int absorb_inverters(Module* m, DeferredUnlink& nets) {
  for (Net* X = m->nets; X; X = X->next) {
    if (!is_counted_type(X->type) || !X->nodes) continue;
    ScanNet s(X);
    Node* pred = nullptr;
    Node* cur = X->nodes;
    while (cur) {
      Cell* inv = cur->target;
      if (inv->cls != C_INV) {
        pred = cur;
        cur = cur->next;
        continue;
      }
      Node* other = (cur->ring && cur->ring != cur) ? cur->ring : nullptr;
      if (other) {
        // two connections of one pin: no input and output to join
        if (same_name(other->pin_name, cur->pin_name)) {
          if (same_name(cur->pin_name, "in"))
            say("vorq: the inverter instance (%s) has its input in two nets, sorry.\n", or_empty(inv->name));
          else
            say("vorq: the inverter instance (%s) has floating input, sorry.\n", or_empty(inv->name));
          s.settle();
          return 0;
        }
        MergeStep r = merge_into(s, pred, cur, other, nets);
        if (!r.ok) {
          s.settle();
          return 0;
        }
        pred = r.pred;
        cur = r.next;
        continue;
      }
      // only one pin connected
      if (!same_name(cur->pin_name, "in")) {
        say("vorq: the inverter instance (%s) has floating input, sorry.\n", or_empty(inv->name));
        s.settle();
        return 0;
      }
      Instance* placeholder = make<Instance>();
      placeholder->cls = C_NINV;
      placeholder->node = cur;
      placeholder->owner = m;
      placeholder->next = m->insts;
      m->insts = placeholder;
      cur->target = placeholder;
      set_weights(cur, 0, 0);
      pred = cur;
      cur = cur->next;
    }
    s.settle();
  }
  return 1;
}

}  // namespace

int inv_to_weight(Module* m) {
  // both nets of an inverter are the module's: absorbed nets leave at the end
  DeferredUnlink nets(&m->nets);
  int ok = absorb_inverters(m, nets);
  nets.finish();
  return ok;
}

// ---- drivers ------------------------------------------------------------

int find_source(Net* net) {
  if (Node* src = driver_of(net)) {
    net->source = src;
    return 1;
  }
  say("vorq: net w/o source detected:\n");
  say("NET:%p:(%d:%d): ", static_cast<void*>(net), net->type, net->irreversible ? 1 : 0);
  say("[%s]: ", net->source ? or_empty(net->source->pin_name) : "");
  for (Node* n : nodes_of(net)) {
    if (n->target && n->target->cls == C_PIN)
      say("%s", or_empty(n->pin_name));
    else
      say("%s.%s", n->target ? or_empty(n->target->name) : "", or_empty(n->pin_name));
    say("(%d/%d) ", n->wt, n->phase);
  }
  say("\n");
  return 0;
}

}  // namespace vorq
