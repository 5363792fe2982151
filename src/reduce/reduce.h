// Inverter reduction of the flat netlist: counting and flips, connected
// components and sub-components, the local and global reduction passes, and
// the settlement of driver polarities.
//
// Everything works on the top module after `flat`: its `nets` are the flat net
// list and its `insts` the flat instance list. The reduction changes only the
// weights of Nodes and the `dual` and `negate` flags of instances.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "netlist/netlist.h"

namespace vorq {

// ---- entry point ----------------------------------------------------------

// Builds the components, settles driver polarities, reduces every component
// that is not a control component, and checks for twisted irreversible nets.
// Returns 1, or 0 after "vorq: twisted irreversible net found, sorry.\n".
int red_inv();

// ---- running counts -------------------------------------------------------
// While counting is on, every net holds its loads with wt +1 and wt -1 that
// are not on exclusive-OR cells (`plus_loads`, `minus_loads`), and the
// inverter count and weight of the top module are running sums over the
// counted nets, all kept by a weight observer. red_inv turns counting on for
// its own run; callers of the single operations below may do it themselves.
// Without counting, every count is a full walk.

void begin_counting();
void end_counting();
bool counting();

// ---- counts ---------------------------------------------------------------

int count_inv_net(Net* net);             // 0 or 1: inverters the net needs
int count_inv_net_normal(Net* net);
int count_inv_net_reversible(Net* net);
int count_wt_net(Net* net);              // loads an inverter would drive
int count_wt_net_normal(Net* net);
int count_wt_net_reversible(Net* net);
int count_wt_net_eor_enor_aside(Net* net);  // in-phase minus complement loads

int count_inv(Module* m);          // inverters of one module
int count_control_inv(Module* m);  // inverter cells left on control nets
int count_wt();                    // weight of the whole flat netlist

// ---- flips and gain tests ---------------------------------------------------

void rev_instance(Instance* g);             // flips a gate of class 402-409
int is_reversible_instance(Instance* g);
void rev_ts_bufs(Instance* t);              // flips the bus of a ts_buf-
int is_reversible_ts_bufs(Instance* t);

// Each makes a trial flip and keeps it (1) when it is better, else undoes it.
int diff_inv(Instance* g);
int diff_wt(Instance* g);
int diff_inv_ts(Instance* t);
int diff_wt_ts(Instance* t);
// 1 when the and/nand/or/nor gate `g` may become its negation: no input pin
// of it bears the name its output pin would take.
int can_negate(const Instance* g);
int diff_inv_neg(Instance* g);  // negation of the output net of a 402-405 gate
int diff_wt_neg(Instance* g);

// ---- components -----------------------------------------------------------

void conn_comp();                          // builds top->comps
Cell* merge_conn_comp(Cell* a, Cell* b);   // joins two components; the head
Cell* merge_sub_comp(Cell* a, Cell* b);    // joins two sub-components; the head

int is_reversible_instance_all(Cell* head);
void rev_instance_all(Cell* head);
void conn_comp_dual(Cell* head);
int diff_inv_conn_comp(Cell* head);
int diff_wt_conn_comp(Cell* head);

int is_reversible_sub_comp_tmp(Cell* head);
void rev_sub_comp_tmp(Cell* head);
void sub_comp_dual(Cell* head);

// ---- local reduction ------------------------------------------------------

void red_inv2(Cell* comp);   // passes by inverter count until nothing changes
int red_wt2(Cell* comp);     // passes by count then weight; 1 when any changed
int red_inv_local(Cell* comp);
int red_wt_local(Cell* comp);
int red_inv_node(Cell* comp);
int red_wt_node(Cell* comp);
int red_inv_neg(Cell* comp);
int red_wt_neg(Cell* comp);

// ---- global reduction -----------------------------------------------------

int red_inv_global(Cell* comp);
int red_wt_global(Cell* comp);
int red_inv_global_eor_enor(Cell* comp);
int red_wt_global_eor_enor(Cell* comp);
void plus_factor(Cell* comp);            // rebuilds the sub-components of comp
void plus_factor_eor_enor(Cell* comp);   // the same, exclusive-OR cells alone
Cell* rev_sub_comp_inv();                // first improving sub-component, kept
Cell* rev_sub_comp_wt();
Cell* rev_sub_comp_inv_eor_enor();
Cell* rev_sub_comp_wt_eor_enor();

// ---- driver polarity settlement ---------------------------------------------

void eor_enor_and_or_nand_nor(Cell* comp);  // every counted net driven in comp
void eor_enor_instance_nets(Instance* m);   // the nets of every pin of m
void eor_enor_net(Net* net);
void eor_enor_absorb(Net* net);
void rev_net_eor_enor_aside(Net* net);
int is_reversible_net(Net* net);

// ---- shared by the reduction's own files (and its tests) ----------------------
namespace detail {

// How a net's driver class turns its loads (those not on exclusive-OR cells)
// into a count: not at all, one inverter for any load of wt -1, or one only
// when both signs are present (a driver free to take either polarity).
inline bool same(const char* a, const char* b) { return a && std::strcmp(a, b) == 0; }

enum Mode : uint8_t { M_ZERO, M_NORMAL, M_REVERSIBLE };
Mode net_mode(const Net* net);
inline int inv_of(int mode, int plus, int minus) {
  return mode == M_NORMAL ? minus > 0 : mode == M_REVERSIBLE ? (plus > 0 && minus > 0) : 0;
}
inline int wt_of(int mode, int plus, int minus) {
  return mode == M_NORMAL ? minus : mode == M_REVERSIBLE ? (plus < minus ? plus : minus) : 0;
}

// The settlement runs after kept flips (option -a or exclusive-OR cells).
inline bool settlement_on() { return eor_enor_exist == 1 || all == 1; }

// The nets of the flat net list of type 271 or 291 whose driver belongs to the
// component headed by `comp`, in list order.
const std::vector<Net*>& driven_nets(Cell* comp);

// Tells the counting that the components were rebuilt.
void components_changed();

// A trial flip: the weight changes it makes reach the sub-components kept up
// to date and the nets left to settle only when it is kept (an undone trial
// changes nothing).
void begin_trial();
void end_trial(bool kept);
struct Trial {
  Trial() { begin_trial(); }
  ~Trial() { end_trial(kept); }
  Trial(const Trial&) = delete;
  Trial& operator=(const Trial&) = delete;
  bool kept = false;
};

// 64-bit hash of every weight and polarity flag changed since counting began
// (0 when nothing differs from the start); 0 without counting.
uint64_t state_hash();

// The global steps of the passes keep the sub-components up to date; with
// rebuild_every_step set they rebuild and walk the whole list at every step
// instead (the same decisions, for comparison in tests).
extern bool rebuild_every_step;
// Told by the counting when a Node's wt changes (after a kept trial only).
void weight_changed(Node* n);
// Told when a net's loads changed: its driver polarity may need settling again.
void note_unsettled(Net* net);
void forget_unsettled();
// The heads of the sub-components of `comp` kept up to date, in list order.
std::vector<Cell*> resolved_heads(Cell* comp, bool with_xor);
// Drops the sub-components kept up to date and the nets left to settle.
void forget_groups();

// The inverter count and weight of the top module that flipping the gates
// `gates` (each once) would give, worked out from the running counts without
// flipping. False without counting.
bool flip_counts(const std::vector<Cell*>& gates, int& inv, int& wt);
// The sums over the Nodes of gate `g` of the inverter count and weight of
// their nets, now (inv0, wt0) and once `g` is flipped (inv1, wt1), from the
// running counts without flipping. False without counting.
bool gate_flip_counts(Instance* g, int& inv0, int& wt0, int& inv1, int& wt1);

// What flipping every gate of the component `comp` would give, as
// flip_counts, and whether every gate may be flipped, from the sub-components
// kept up to date. False when they are not kept for `comp`.
bool whole_flip_counts(Cell* comp, bool& reversible, int& inv, int& wt);

// The single-gate step's next member from position `from` of `comp` on: the
// first gate whose own flip would be kept (by count, or by count then weight)
// or tristate buffer, or null; the members between would change nothing.
// False when the sub-components are not kept for `comp`.
bool next_local(Cell* comp, bool by_weight, int from, Cell*& next);

// In a build with VORQ_CHECKED: compares the running counts with a full
// recount and aborts on a difference. Otherwise nothing.
void check_counts();

}  // namespace detail

}  // namespace vorq
