// Settlement of driver polarities: a reversible driver takes the polarity
// most of its ordinary loads want, and complement loads of exclusive-OR cells
// are folded into those cells.
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "reduce/reduce.h"

namespace vorq {

namespace {

bool on_xor(const Node* n) { return n->target && is_xor_class(n->target->cls); }

// While counting, the nets whose loads changed since they were last settled
// wait by the component of their driver. Settling a net changes only that net's
// Nodes and flags that commute, and settles it for good, so a component whose
// nets were all settled once needs only its waiting nets settled again.
struct Unsettled {
  std::unordered_map<Cell*, std::vector<Net*>> waiting;
  std::unordered_set<Cell*> settled_once;
};
Unsettled* unsettled = nullptr;

Cell* driver_comp(const Net* net) {
  if ((net->type != K_TRISTATE && net->type != NET_SIGNAL) || !net->source || !net->source->target)
    return nullptr;
  return net->source->target->comp;
}

}  // namespace

namespace detail {

void note_unsettled(Net* net) {
  if (!net || net->queued || !counting()) return;
  Cell* comp = driver_comp(net);
  if (!comp) return;
  if (!unsettled) unsettled = new Unsettled;
  net->queued = 1;
  unsettled->waiting[comp].push_back(net);
}

void forget_unsettled() {
  if (!unsettled) return;
  for (auto& [comp, nets] : unsettled->waiting)
    for (Net* net : nets) net->queued = 0;
  delete unsettled;
  unsettled = nullptr;
}

}  // namespace detail

void eor_enor_and_or_nand_nor(Cell* comp) {
  if (!counting()) {
    for (Net* net : detail::driven_nets(comp)) eor_enor_net(net);
    return;
  }
  if (!unsettled) unsettled = new Unsettled;
  std::vector<Net*> nets;
  auto it = unsettled->waiting.find(comp);
  if (it != unsettled->waiting.end()) nets.swap(it->second);
  for (Net* net : nets) net->queued = 1;  // its own changes need no new turn
  if (unsettled->settled_once.insert(comp).second) {
    for (Net* net : detail::driven_nets(comp)) {
      uint8_t q = net->queued;
      net->queued = 1;
      eor_enor_net(net);
      net->queued = q;
    }
  } else {
    for (Net* net : nets) eor_enor_net(net);
  }
  for (Net* net : nets) net->queued = 0;
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
