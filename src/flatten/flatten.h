// Flattening and net analysis: dissolves the writable modules into the flat
// netlist of the top module, types every net and finds its driver, turns every
// inverter of the writable modules into -1 weights on the loads it fed, marks
// the control nets, and protects the nets whose polarity must never flip.
//
// Every operation that fails prints its message on standard error (through
// say()) and returns 0 (or null); the records are then left as they are and
// the driver copies the input files.
#pragma once

#include "netlist/netlist.h"

namespace vorq {

// ---- flattening ---------------------------------------------------------

// Expects `top` as the loader leaves it. Leaves the top module's `nets` and
// `insts` as the flat net list and the flat instance list, every Node with its
// weight, every counted net with its `source`. 1 on success, 0 on failure.
int flat();

// Moves the non-control nets of a writable module after `tail` (control nets
// stay, in reverse order); returns the new tail. Other kinds: `tail`.
Net* add_net_flat(Net* tail, Module* m);
// Moves the instances of a writable module after `tail`, except instances of
// writable sub-modules, which go to its `sub_insts`; returns the new tail.
Instance* add_instance_flat(Instance* tail, Module* m);

// ---- net typing and weights ---------------------------------------------

// Ports `used`, unconnected instances and empty nets dropped.
void use_check(Module* m);
// Every Node of the module +1/+1.
void init_weight(Module* m);
// Net `type`, `irreversible`, control-port `source`, driver weights 0.
void net_type_set_wt_ctr_source(Module* m);
// Marks the control nets (type 290) reached from control pins and clock
// ports, and every cell and port on them `control`.
void control_net_check(Module* m);
// Spreads the control type from the net of `node` through combinational
// cells and hierarchy boundaries, stopping at registers and `bgate--2`.
void control_net_check2(Node* node);
// Absorbs the inverters of a writable module into weights. 1, or 0 after a
// message.
int inv_to_weight(Module* m);
// Sets the driving Node of a net. 1, or 0 after printing the net.
int find_source(Net* net);

// ---- net surgery --------------------------------------------------------

// Unlinks the Node from its net's Node list (its `next` and `net` stay).
int delete_node(Node* node);
// Unlinks the net from the module's `nets` (its `next` stays).
int delete_net(Net* net, Module* m);
// Unlinks the instance from the module's `insts`; 0 (silently) if absent.
int unlink_instance(Instance* inst, Module* m);
// The partner of a Node across a hierarchy boundary, or null.
Node* find_node(Node* node);
// Joins the net of `y` into the net of `x` at an inverter or a hierarchy
// boundary, negating the downstream side when the crossing inverts; `m` holds
// y's net. Returns the Node at which a scan of x's net goes on, or null (on
// failure, or when no Node is left to go on at).
Node* merge_net(Node* x, Node* y, Module* m);
// Joins a net driven by the same constant or supply into `keep`; the absorbed
// net's driver loses its connection. 1, or 0 after a message.
int merge_net_h_l(Net* keep, Net* absorbed);

// ---- protection ---------------------------------------------------------

// Puts every inverter pin and hierarchy connection of an irreversible net
// behind a sticky on a private net. 1, or 0 after a message.
int protect_irreversible_nets();
int protect_the_net(Net* net);
// direction 0: the Node is a load of `net`; 1: it drives `net`.
int protect_the_node(Net* net, Node* node, int cls, int direction);
// Resolves every sticky: removed, or turned into an inverter or a buffer.
int unprotect_irreversible_nets();
int remove_the_sticky(Instance* sticky);

}  // namespace vorq
