// Flips of single gates and tristate buses, their reversibility tests, and the
// trial-and-undo gain tests of single cells.
#include <cstring>

#include "reduce/reduce.h"

namespace vorq {

namespace {

int gate_inv(Instance* g) {
  int sum = 0;
  for (Node* n : ring_of(g))
    if (n->net) sum += count_inv_net(n->net);
  return sum;
}

int gate_wt(Instance* g) {
  int sum = 0;
  for (Node* n : ring_of(g))
    if (n->net) sum += count_wt_net(n->net);
  return sum;
}

Node* first_with_dir(Instance* c, int dir) {
  for (Node* n : ring_of(c))
    if (n->dir == dir) return n;
  return nullptr;
}

// Whether a Node drives its net: an output of a cell or box, or a port that
// brings a value in from outside.
bool drives_net(const Node* n) {
  if (!n->target || n->boundary) return false;
  if (n->target->cls == C_PIN) return n->dir == K_GLOBAL || n->dir == K_INPUT || n->dir == K_INPUT_CONNECTED;
  return n->dir == K_OUTPUT || n->dir == K_OUTPUT_CONNECTED || n->dir == K_TRISTATE ||
         n->dir == K_TRISTATE_CONNECTED;
}

// The "in" pin of a tristate buffer, or null.
Node* data_input(Instance* t) {
  for (Node* m : ring_of(t))
    if (m->pin_name && std::strcmp(m->pin_name, "in") == 0) return m;
  return nullptr;
}

bool better_by_weight(int inv0, int wt0, int inv1, int wt1) {
  return inv1 < inv0 || (inv1 == inv0 && wt1 < wt0);
}

}  // namespace

// ---- flips ------------------------------------------------------------------

void rev_instance(Instance* g) {
  for (Node* n : ring_of(g)) {
    if (n->dir == K_INPUT) negate_node(n);
    else if (n->net) negate_net(n->net);
  }
}

int is_reversible_instance(Instance* g) {
  for (Node* n : ring_of(g))
    if (n->dir != K_INPUT && n->net && n->net->irreversible) return 0;
  return 1;
}

void rev_ts_bufs(Instance* t) {
  Node* out = first_with_dir(t, K_TRISTATE);
  if (!out || !out->net) return;
  for (Node* n : nodes_of(out->net)) {
    if (n->target && n->target->cls == C_TS_BUF && n->dir == K_TRISTATE) {
      if (Node* m = data_input(n->target)) negate_node(m);
    } else {
      negate_node(n);
    }
  }
}

int is_reversible_ts_bufs(Instance* t) {
  for (Node* n : ring_of(t))
    if (n->dir == K_TRISTATE && n->net && n->net->irreversible) return 0;
  Node* out = first_with_dir(t, K_TRISTATE);
  if (!out || !out->net) return 1;
  // The flip complements the data input of every buffer on the bus; any other
  // driver (a black-box or gate output, an input port, a buffer without "in")
  // would keep its polarity and fight the flipped buffers.
  for (Node* n : nodes_of(out->net))
    if (drives_net(n) && !(n->target->cls == C_TS_BUF && n->dir == K_TRISTATE && data_input(n->target)))
      return 0;
  return 1;
}

// ---- gain tests -----------------------------------------------------------------

int diff_inv(Instance* g) {
  if (!is_reversible_instance(g)) return 0;
  detail::Trial trial;
  int inv0, wt0, inv1, wt1;
  if (detail::gate_flip_counts(g, inv0, wt0, inv1, wt1)) {
    // worked out without a trial flip: flip only when it is kept
    if (inv1 >= inv0) return 0;
    rev_instance(g);
    detail::check_counts();
    return trial.kept = true;
  }
  int before = gate_inv(g);
  rev_instance(g);
  int after = gate_inv(g);
  detail::check_counts();
  if (after < before) return trial.kept = true;
  rev_instance(g);
  return 0;
}

int diff_wt(Instance* g) {
  if (!is_reversible_instance(g)) return 0;
  detail::Trial trial;
  int inv0, wt0, inv1, wt1;
  if (detail::gate_flip_counts(g, inv0, wt0, inv1, wt1)) {
    // worked out without a trial flip: flip only when it is kept
    if (!better_by_weight(inv0, wt0, inv1, wt1)) return 0;
    rev_instance(g);
    detail::check_counts();
    return trial.kept = true;
  }
  inv0 = gate_inv(g), wt0 = gate_wt(g);
  rev_instance(g);
  inv1 = gate_inv(g), wt1 = gate_wt(g);
  detail::check_counts();
  if (better_by_weight(inv0, wt0, inv1, wt1)) return trial.kept = true;
  rev_instance(g);
  return 0;
}

int diff_inv_ts(Instance* t) {
  if (!is_reversible_ts_bufs(t)) return 0;
  detail::Trial trial;
  int before = count_inv(top);
  rev_ts_bufs(t);
  int after = count_inv(top);
  detail::check_counts();
  if (after < before) return trial.kept = true;
  rev_ts_bufs(t);
  return 0;
}

int diff_wt_ts(Instance* t) {
  if (!is_reversible_ts_bufs(t)) return 0;
  detail::Trial trial;
  int inv0 = count_inv(top), wt0 = count_wt();
  rev_ts_bufs(t);
  int inv1 = count_inv(top), wt1 = count_wt();
  detail::check_counts();
  if (better_by_weight(inv0, wt0, inv1, wt1)) return trial.kept = true;
  rev_ts_bufs(t);
  return 0;
}

int can_negate(const Instance* g) {
  // pin names and classes stay as they are while counting is on
  if (counting() && g->negatable) return g->negatable - 1;
  // and/or drive through "out" and become nand/nor driving through "nout",
  // and back; an input already named so would meet the output on one pin.
  const char* renamed = (g->cls == C_AND || g->cls == C_OR) ? "nout" : "out";
  int can = 1;
  for (Node* n : ring_of(const_cast<Instance*>(g)))
    if (n->dir == K_INPUT && n->pin_name && std::strcmp(n->pin_name, renamed) == 0) can = 0;
  if (counting()) const_cast<Instance*>(g)->negatable = uint8_t(1 + can);
  return can;
}

int diff_inv_neg(Instance* g) {
  Node* out = first_with_dir(g, K_OUTPUT);
  if (!out || !out->net || out->net->irreversible || !can_negate(g)) return 0;
  Net* net = out->net;
  detail::Trial trial;
  int before = count_inv_net(net);
  negate_net(net);
  int after = count_inv_net(net);
  detail::check_counts();
  if (after < before) return trial.kept = true;
  negate_net(net);
  return 0;
}

int diff_wt_neg(Instance* g) {
  Node* out = first_with_dir(g, K_OUTPUT);
  if (!out || !out->net || out->net->irreversible || !can_negate(g)) return 0;
  Net* net = out->net;
  detail::Trial trial;
  int inv0 = count_inv_net(net), wt0 = count_wt_net(net);
  negate_net(net);
  int inv1 = count_inv_net(net), wt1 = count_wt_net(net);
  detail::check_counts();
  if (better_by_weight(inv0, wt0, inv1, wt1)) return trial.kept = true;
  negate_net(net);
  return 0;
}

}  // namespace vorq
