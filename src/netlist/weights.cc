#include "netlist/netlist.h"

namespace vorq {

namespace {
WeightObserver* observer = nullptr;
}

void set_weight_observer(WeightObserver* o) { observer = o; }

void set_weights(Node* n, int wt, int phase) {
  int old_wt = n->wt, old_phase = n->phase;
  n->wt = static_cast<int8_t>(wt);
  n->phase = static_cast<int8_t>(phase);
  if (observer && (old_wt != wt || old_phase != phase)) observer->weights_changed(n, old_wt, old_phase);
}

void negate_net(Net* net) {
  for (Node* n : nodes_of(net)) negate_node(n);
}

void set_polarity_flags(Instance* c, bool dual, bool negate) {
  bool old_dual = c->dual, old_negate = c->negate;
  c->dual = dual;
  c->negate = negate;
  if (observer && (old_dual != dual || old_negate != negate)) observer->flags_changed(c, old_dual, old_negate);
}

}  // namespace vorq
