// Polarity application: turns the weights and the dual/negate flags that the
// reduction chose into cell classes, output pin names and moved loads on the
// flat netlist of the top module.
#pragma once

#include "netlist/netlist.h"

namespace vorq {

// Expects the reduction finished and net protection released. Renames the
// driving pins of negated gates and exclusive-OR duals, serves the complement
// loads of constants, of the "VDD"/"VSS" ports and of registers from the
// complementary source, then gives every flipped or negated gate its class.
// Every load left with wt -1 afterwards needs an inverter.
void output();

// Driving pins of gates with `negate` (and-, nand-, or-, nor-) or `dual`
// (eor-, enor-) become "out" or "nout" as the new class drives.
void out_nout();

// Complement loads of the high- net move to the low- net and back.
void high_low();

// Complement loads of the "VDD" net move to the "VSS" net and back.
void vdd_vss();

// Complement loads of the register's "out" net move to its "nout" net and back,
// unless a load would have to join a control or unused net outside its own
// module copy; then nothing moves and the loads keep their inverter.
void reg_out(Instance* reg);

// The inverters that reg_out leaves standing (one per counted register net
// that keeps complement loads); the count of the reduction does not hold them.
int reg_out_inverters();

// Removes `n` from its target's ring (a ring of one Node stays as it is).
void delete_link(Node* n);

// The class replacing a flipped (dual) or negated gate's class; any class
// outside the tables is returned unchanged.
int dual_class(const Instance* inst);
int negate_class(const Instance* inst);

}  // namespace vorq
