// Component grouping: a module's instances regrouped by class into the
// ClassGroups that naming and the writer walk, with width trees for the
// parameterised gates.
#pragma once

#include "netlist/netlist.h"

namespace vorq {

// Expects `used` set on the module's Instances. Rebuilds `groups` from `insts`:
// Instances without `used` are dropped; the rest are linked through `next`
// into one chain per class (one per class_name for read-only modules and
// cells, one per Instance of a rewritten copy). Afterwards `insts` is stale:
// the Instances' `next` fields belong to the group chains.
// Orders: groups in the reverse order of the first appearance of their class;
// a plain chain in the reverse of `insts` order; in a width tree, one width's
// Instances in `insts` order.
void make_comp(Module* m);

// The ClassGroup of `m` that `inst` joins (the first in `groups` order), or
// null when it needs a new one.
ClassGroup* new_or_old(Instance* inst, Module* m);

// Turns the groups of classes 402-405 and 408-409 into trees by width.
void make_comp_tree(Module* m);

// Inserts `inst` into the width tree rooted at `g` (null: a new group) and
// returns the root.
ClassGroup* add_comp_tree(Instance* inst, ClassGroup* g);

// True for the classes whose groups are width trees (and-, nand-, or-, nor-,
// aoi-, oai-).
inline bool has_width_tree(int cls) {
  return (cls >= C_AND && cls <= C_NOR) || cls == C_AOI || cls == C_OAI;
}

}  // namespace vorq
