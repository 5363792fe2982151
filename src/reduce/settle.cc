// Settlement of driver polarities: a reversible driver takes the polarity
// most of its ordinary loads want, and complement loads of exclusive-OR cells
// are folded into those cells.
#include "reduce/reduce.h"

namespace vorq {

namespace {

bool on_xor(const Node* n) { return n->target && is_xor_class(n->target->cls); }

}  // namespace

void eor_enor_and_or_nand_nor(Cell* comp) {
  for (Net* net : detail::driven_nets(comp)) eor_enor_net(net);
}

void eor_enor_instance_nets(Instance* m) {
  for (Node* n : ring_of(m))
    if (n->net && n->net->source) eor_enor_net(n->net);
}

void eor_enor_net(Net* net) {
  if (!net->source || !net->source->target) return;
  Instance* d = net->source->target;
  int c = d->cls;
  if (c >= C_AND && c <= C_NOR) {
    if (all == 1 && can_negate(d) && is_reversible_net(net) && count_wt_net_eor_enor_aside(net) < 0) {
      toggle_negate(d);
      rev_net_eor_enor_aside(net);
    } else {
      eor_enor_absorb(net);
    }
  } else if (c == C_EOR || c == C_ENOR) {
    if (is_reversible_net(net) && count_wt_net_eor_enor_aside(net) < 0) {
      toggle_dual(d);
      rev_net_eor_enor_aside(net);
    } else {
      eor_enor_absorb(net);
    }
  } else if (!is_register_class(c)) {
    eor_enor_absorb(net);
  }
}

void eor_enor_absorb(Net* net) {
  for (Node* n : nodes_of(net))
    if (on_xor(n) && n->wt == -1) {
      set_weights(n, 1, 1);
      toggle_dual(n->target);
    }
}

void rev_net_eor_enor_aside(Net* net) {
  for (Node* n : nodes_of(net)) {
    if (on_xor(n) && n->wt == 1) toggle_dual(n->target);
    else negate_node(n);
  }
}

int is_reversible_net(Net* net) { return net->irreversible ? 0 : 1; }

}  // namespace vorq
