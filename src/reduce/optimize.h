// A search after the reduction (option --optimize) for a lower inverter count
// over the same moves: flips of gates to their dual class and flips of
// tristate buses. Driver polarities of exclusive-OR nets and, with -a, of
// and/nand/or/nor nets are left to the settlement as before.
#pragma once

#include <cstdint>

namespace vorq {

// Expects the flat netlist as red_inv left it (counting off). Searches, from
// that state, for flips that give a lower inverter count of the top module,
// or the same count and a lower weight, and applies them through rev_instance
// and rev_ts_bufs, followed by the settlement of the nets they touched. Leaves
// the netlist as it was when nothing better was found. The search is bounded
// by work units (about `effort` visits of every load), not by time, so its
// result depends only on the netlist.
void optimize_polarity(int64_t effort = 0);

}  // namespace vorq
