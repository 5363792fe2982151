#include "reduce/polarity.h"

#include <cstring>
#include <unordered_set>
#include <vector>

namespace vorq {

namespace {

bool same(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

int source_class(const Net* net) {
  return net->source && net->source->target ? net->source->target->cls : 0;
}

void push_node(Net* net, Node* n) {
  n->next = net->nodes;
  net->nodes = n;
  n->net = net;
}

bool has_complement_load(const Net* net) {
  for (const Node* n = net ? net->nodes : nullptr; n; n = n->next)
    if (n->wt == -1) return true;
  return false;
}

// Working state of one application: the nets to be taken out of the top
// module's net list. They are unlinked in one pass at the end, since a design
// may drop thousands of register nets and each unlink would walk the list.
struct Polarity {
  std::vector<Net*> doomed;
  std::unordered_set<Net*> doomed_set;

  ~Polarity() { flush(); }

  void remove_net(Net* net) {
    doomed.push_back(net);
    doomed_set.insert(net);
  }

  bool removed(Net* net) const { return doomed_set.count(net) != 0; }

  // Unlinks the doomed nets; one that is not in the list is reported as a
  // single unlink would report it.
  void flush() {
    if (doomed.empty()) return;
    std::unordered_set<Net*> found;
    Net** link = &top->nets;
    while (*link) {
      Net* net = *link;
      if (doomed_set.count(net) && found.insert(net).second) {
        *link = net->next;
        net->next = nullptr;
      } else {
        link = &net->next;
      }
    }
    std::unordered_set<Net*> reported;
    for (Net* net : doomed) {
      // A net asked for twice is found once: the second unlink fails.
      if (found.count(net) && reported.insert(net).second) continue;
      say("vorq: inconsistent operation occured: net isolation from a foreign module, sorry.\n");
    }
    doomed.clear();
    doomed_set.clear();
  }

  // ---- serving complement loads from a complementary pair ----------------
  // `make_driver(positive)` makes the driver Node of a new net;
  // `clean_up(positive)` runs when an old net is left with its driver alone.
  template <class MakeDriver, class CleanUp>
  void serve(Net* p, Net* q, MakeDriver make_driver, CleanUp clean_up) {
    if (!p && !q) return;
    if (p == q) return;
    bool p_new = !p, q_new = !q;
    if (p_new) p = make<Net>();
    if (q_new) q = make<Net>();

    Node* p_old = p->nodes;
    Node* q_old = q->nodes;
    p->nodes = nullptr;
    q->nodes = nullptr;
    // P's complement loads go to Q, and Q's to P, in phase there
    for (Node* n : list_of(p_old)) {
      if (n->wt == -1) {
        set_weights(n, 1, 1);
        push_node(q, n);
      } else {
        push_node(p, n);
      }
    }
    for (Node* n : list_of(q_old)) {
      if (n->wt == -1) {
        set_weights(n, 1, 1);
        push_node(p, n);
      } else {
        push_node(q, n);
      }
    }
    finish(p, p_new, true, make_driver, clean_up);
    finish(q, q_new, false, make_driver, clean_up);
  }

  template <class MakeDriver, class CleanUp>
  void finish(Net* net, bool is_new, bool positive, MakeDriver& make_driver, CleanUp& clean_up) {
    if (!is_new) {
      if (net->source && net->nodes && !net->nodes->next) {
        remove_net(net);
        clean_up(positive);
      }
      return;
    }
    if (!net->nodes) return;  // a new net that stayed empty
    add_driven_net(net, make_driver(positive));
  }

  // Gives `net` its driver `d` and puts it at the head of the flat net list.
  static void add_driven_net(Net* net, Node* d) {
    push_node(net, d);
    net->source = d;
    net->type = NET_SIGNAL;
    net->next = top->nets;
    top->nets = net;
  }

  // Flattening joins the nets of each constant and supply into one, but not
  // a net that was a bus then (a bidirectional pin on it makes it type 271,
  // even where it becomes 291 again when its protection is released). Such a
  // further net gets neither ports nor an inverter from hierarchy
  // reconstruction either: its complement loads move to the first net of the
  // other constant or supply (made when missing), in phase there. The Node
  // order of the further net is kept.
  template <class MakeDriver>
  void serve_other(Net* net, Net*& other, bool other_positive, MakeDriver& make_driver) {
    Node* old = net->nodes;
    net->nodes = nullptr;
    Node** tail = &net->nodes;
    for (Node* n : list_of(old)) {
      if (n->wt != -1) {
        *tail = n;
        tail = &n->next;
        continue;
      }
      if (!other) {
        other = make<Net>();
        add_driven_net(other, make_driver(other_positive));
      }
      set_weights(n, 1, 1);
      push_node(other, n);
    }
    *tail = nullptr;
  }

  // The first signal nets driven by high-, low-, "VDD" and "VSS", and the
  // further counted nets driven by one of them that have complement loads.
  Net* high = nullptr;
  Net* low = nullptr;
  Net* vdd = nullptr;
  Net* vss = nullptr;
  std::vector<Net*> others;
  void find_constant(Net* net);
  void find_supply(Net* net);

  void high_low();
  void vdd_vss();
  void reg_out(Instance* reg);
};

void Polarity::find_constant(Net* net) {
  if (removed(net) || (net->type != NET_SIGNAL && net->type != K_TRISTATE)) return;
  int c = source_class(net);
  if (c != C_HIGH && c != C_LOW) return;
  Net*& first = c == C_HIGH ? high : low;
  if (!first && net->type == NET_SIGNAL) first = net;
  else if (first != net && has_complement_load(net)) others.push_back(net);
}

void Polarity::find_supply(Net* net) {
  if (removed(net) || (net->type != NET_SIGNAL && net->type != K_TRISTATE)) return;
  if (source_class(net) != C_PIN) return;
  const char* pin = net->source->pin_name;
  if (!same(pin, "VDD") && !same(pin, "VSS")) return;
  Net*& first = same(pin, "VDD") ? vdd : vss;
  if (!first && net->type == NET_SIGNAL) first = net;
  else if (first != net && has_complement_load(net)) others.push_back(net);
}

// ---- constants ------------------------------------------------------------

void Polarity::high_low() {
  auto make_driver = [](bool positive) {
    Instance* cell = make<Instance>();
    cell->cls = positive ? C_HIGH : C_LOW;
    cell->name = arena_strdup(positive ? "high-" : "low-");
    cell->owner = top;
    cell->next = top->insts;
    top->insts = cell;
    Node* d = make<Node>();
    d->dir = K_OUTPUT;
    d->pin_name = arena_strdup(positive ? "out" : "nout");
    d->target = cell;
    d->ring = d;
    cell->node = d;
    return d;
  };
  for (Net* net : others) {
    int c = source_class(net);
    if (c == C_HIGH) serve_other(net, low, false, make_driver);
    else if (c == C_LOW) serve_other(net, high, true, make_driver);
  }
  serve(high, low, make_driver, [](bool) {});
}

// ---- supplies -------------------------------------------------------------

void Polarity::vdd_vss() {
  auto make_driver = [](bool positive) {
    const char* name = positive ? "VDD" : "VSS";
    // A top module port of this name already exists (on a control net, or
    // unconnected): a second one would make two ports of one name.
    Pin* pin = pin_f(name, top);
    if (!pin) {
      pin = make<Pin>();
      pin->cls = C_PIN;
      pin->dir = K_GLOBAL;
      pin->name = arena_strdup(name);
      pin->owner = top;
      pin->next = top->pins;
      top->pins = pin;
    }
    Node* d = make<Node>();
    d->dir = pin->dir;
    d->pin_name = pin->name;
    d->target = pin;
    d->ring = d;
    if (!pin->node) pin->node = d;
    return d;
  };
  for (Net* net : others) {
    if (source_class(net) != C_PIN) continue;
    if (same(net->source->pin_name, "VDD")) serve_other(net, vss, false, make_driver);
    else if (same(net->source->pin_name, "VSS")) serve_other(net, vdd, true, make_driver);
  }
  serve(vdd, vss, make_driver, [](bool) {});
}

// ---- registers ------------------------------------------------------------

// Whether the complement loads of `from` may move onto `onto`, one of the
// register's output nets. A counted net is divided along the module tree
// later, so any load may join it. A control net stays in the module copy that
// holds it, the register's, and an unused net is kept only in the top module:
// a load from elsewhere would be written into a module it does not belong to,
// or lost. Those loads keep their inverter instead.
bool may_take(const Instance* reg, const Net* onto, const Net* from) {
  if (!onto || onto->type == NET_SIGNAL || onto->type == K_TRISTATE || !from) return true;
  const Module* home = reg->owner ? reg->owner : top;
  for (const Node* n = from->nodes; n; n = n->next) {
    if (n->wt != -1) continue;
    const Module* at = n->target && n->target->owner ? n->target->owner : top;
    if (at != home || (onto->type != NET_CONTROL && home != top)) return false;
  }
  return true;
}

bool trades_loads(const Instance* reg, const Net* p, const Net* q) {
  return may_take(reg, p, q) && may_take(reg, q, p);
}

// The register's output Nodes "out" and "nout" (a later one of a name wins).
void register_outputs(Instance* reg, Node*& out, Node*& nout) {
  out = nout = nullptr;
  for (Node* n : ring_of(reg)) {
    if (same(n->pin_name, "out")) out = n;
    else if (same(n->pin_name, "nout")) nout = n;
  }
}

void Polarity::reg_out(Instance* reg) {
  Node* out;
  Node* nout;
  register_outputs(reg, out, nout);
  Net* p = out ? out->net : nullptr;
  Net* q = nout ? nout->net : nullptr;
  if (!trades_loads(reg, p, q)) return;
  auto make_driver = [reg](bool positive) {
    Node* d = make<Node>();
    d->dir = K_OUTPUT;
    d->pin_name = arena_strdup(positive ? "out" : "nout");
    d->target = reg;
    d->ring = reg->node->ring;
    reg->node->ring = d;
    return d;
  };
  auto clean_up = [out, nout](bool positive) { delete_link(positive ? out : nout); };
  serve(p, q, make_driver, clean_up);
}

// The pin name a gate drives through once its flags are applied, or null when
// its output pin keeps its name.
const char* renamed_output(const Instance* g) {
  switch (g->cls) {
    case C_AND: case C_OR: return g->negate ? "nout" : nullptr;
    case C_NAND: case C_NOR: return g->negate ? "out" : nullptr;
    case C_EOR: return g->dual ? "nout" : nullptr;
    case C_ENOR: return g->dual ? "out" : nullptr;
    default: return nullptr;
  }
}

// The driving Node of a counted net, renamed as its gate's flags say.
void rename_source(Net* net) {
  if (net->type != K_TRISTATE && net->type != NET_SIGNAL) return;
  if (!net->source || !net->source->target) return;
  if (const char* name = renamed_output(net->source->target))
    net->source->pin_name = arena_strdup(name);
}

// Every output of such a gate, also where it is not its net's source (a net
// with several drivers).
void rename_outputs(Instance* g) {
  const char* name = renamed_output(g);
  if (!name) return;
  for (Node* n : ring_of(g)) {
    if (n->dir != K_OUTPUT && n->dir != K_OUTPUT_CONNECTED) continue;
    if (!same(n->pin_name, name)) n->pin_name = arena_strdup(name);
  }
}

void take_class(Instance* i) {
  if (i->dual) i->cls = dual_class(i);
  if (i->negate) i->cls = negate_class(i);
}

}  // namespace

// ---- entry points ---------------------------------------------------------

void output() {
  // One pass over the nets and one over the instances do, in this order,
  // what out_nout, high_low, vdd_vss, reg_out and the class change do one
  // after the other: none of them reads what another one changes.
  Polarity pol;
  for (Net* net : nets_of(top)) {
    rename_source(net);
    pol.find_constant(net);
    pol.find_supply(net);
  }
  pol.high_low();
  pol.vdd_vss();
  for (Instance* i : insts_of(top)) {
    rename_outputs(i);
    if (reg_exist == 1 && is_register_class(i->cls)) pol.reg_out(i);
    take_class(i);
  }
  pol.flush();
}

int reg_out_inverters() {
  if (reg_exist != 1) return 0;
  int count = 0;
  for (Instance* i : insts_of(top)) {
    if (!is_register_class(i->cls)) continue;
    Node* out;
    Node* nout;
    register_outputs(i, out, nout);
    Net* p = out ? out->net : nullptr;
    Net* q = nout ? nout->net : nullptr;
    if (p == q || trades_loads(i, p, q)) continue;
    for (const Net* net : {p, q})
      if (net && (net->type == NET_SIGNAL || net->type == K_TRISTATE) && has_complement_load(net))
        ++count;
  }
  return count;
}

void out_nout() {
  for (Net* net : nets_of(top)) rename_source(net);
  for (Instance* g : insts_of(top)) rename_outputs(g);
}

void high_low() {
  Polarity pol;
  for (Net* net : nets_of(top)) pol.find_constant(net);
  pol.high_low();
}

void vdd_vss() {
  Polarity pol;
  for (Net* net : nets_of(top)) pol.find_supply(net);
  pol.vdd_vss();
}

void reg_out(Instance* reg) {
  Polarity pol;
  pol.reg_out(reg);
}

void delete_link(Node* n) {
  if (!n || !n->target) return;
  Cell* x = n->target;
  Node* start = x->node;
  if (!start) return;
  Node* p = start;
  do {
    if (p->ring == n) {
      if (p == n) return;  // a ring of one
      p->ring = n->ring;
      x->node = p;
      return;
    }
    p = p->ring;
  } while (p && p != start);
}

int dual_class(const Instance* inst) {
  switch (inst->cls) {
    case C_AND: return C_OR;
    case C_NAND: return C_NOR;
    case C_OR: return C_AND;
    case C_NOR: return C_NAND;
    case C_EOR: return C_ENOR;
    case C_ENOR: return C_EOR;
    case C_AOI: return C_OAI;
    case C_OAI: return C_AOI;
    default: return inst->cls;
  }
}

int negate_class(const Instance* inst) {
  switch (inst->cls) {
    case C_AND: return C_NAND;
    case C_NAND: return C_AND;
    case C_OR: return C_NOR;
    case C_NOR: return C_OR;
    default: return inst->cls;
  }
}

}  // namespace vorq
