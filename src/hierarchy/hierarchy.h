// Hierarchy reconstruction: returns the flat netlist to one netlist per module
// copy (or, with -f, keeps it flat in the top module), divides every flat net
// along the module tree with new ports and inverters for complement loads,
// gives constants and supplies a local cell or port per module, and names the
// rewritten copies, new ports and renumbered cells for the writer.
//
// Grouping (make_comp, new_or_old, ...) is declared in hierarchy/groups.h.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "netlist/netlist.h"

namespace vorq {

// ---- reconstruction driver ------------------------------------------------

// Expects `output` applied to the flat netlist. Hierarchical mode (h_or_f 4):
// every kind-310 module copy ends with its own instances, nets and new ports,
// `used` marks what is written, groups are built and everything is named.
// Flat mode (h_or_f 3): the top module alone holds the whole design (every
// instance, every net, the control nets of the sub-modules joined to the
// top's), its instances uniquely named; no other module is written.
void hierarchy();

// Empties the flat instance list and pushes each Instance at the head of its
// owner's `insts`.
void deliver_inst();

// ---- net trees and division -------------------------------------------------

// The lowest common ancestor of two module copies (a null one yields the other).
Module* yca(Module* a, Module* b);

// The tree of module copies that the net's Nodes lie in, rooted at their
// lowest common ancestor; null for a null net or a net without Nodes. The
// net's Node list is consumed (each Node's `next` now links its cell's list).
TreeCell* h_net(Net* net);

// Adds one Node to the tree rooted at `root` (may be null); returns the root.
TreeCell* add_tree(TreeCell* root, Node* node);

// Hangs `c` below `p`, making a cell for every module copy in between.
void connect_f(TreeCell* p, TreeCell* c);

// Moves the loads with wt -1 to a new complement net driven by a new inverter
// placed in the lowest module copy holding those loads and the net's
// driver(s). Returns the net; its `next` is the complement net, or null.
Net* div_net(Net* net);

// One new Net of `type` per cell that holds Nodes, pushed at the head of the
// cell's module's `nets` (cells in pre-order).
void deliver_net(TreeCell* root, int type);

// A new port and its two boundary Nodes for every parent-child pair of cells.
void make_link(TreeCell* root);
void make_new_link(TreeCell* parent, TreeCell* child);

// ---- port directions, constants and supplies ---------------------------------

// Sets `source`, `inward`, `outward` and `port_dir` of every cell from where
// the net's driving Nodes lie. `type` is 271 or 291.
void pin_type_check(TreeCell* root, int type);

// The first driving Node of the cell's Nodes, or null.
Node* find_source_node(TreeCell* cell);

// A constant cell of class `cls` (420 or 421) in every module copy of the tree
// that needs the constant; a module holding only the net's own constant loses
// its part of the net.
void high_low_nethier(TreeCell* root, int cls);

// A global port "VDD" (kind 420) or "VSS" (kind 421) in every module copy of
// the tree that needs the supply.
void vdd_vss_nethier(TreeCell* root, int kind);

// ---- names ------------------------------------------------------------------

// base "-" n for kind 10; base n for any other kind (11 instances, 424 ports).
char* make_name(const char* base, long n, int kind);

// Renames every kept kind-310 module copy after the top module: name-1, -2, ...
void class_name();

// Renumbers the module's combinational instances (classes 400-409), class by
// class in ascending width: "and-1", "inv-4", ...
void inst_name(Module* m);

// Names the module's unnamed (new) ports "in1", "out2", ...
void pin_name(Module* m);

// Gives the instance-side Nodes of new ports the names of their ports.
void other_pin_name(Module* m);

// ---- shared by the reconstruction's own files (and its tests) --------------
namespace detail {

// Builds net trees. Cells come from a pool that `begin_net` releases, and each
// tree keeps an index from module copy to its cell, so that adding a Node
// costs the depth of its module, not a walk over sibling cells.
class NetTrees {
 public:
  // Every tree made since the last call may be overwritten from now on.
  void begin_net() { used_ = 0; }
  TreeCell* h_net(Net* net);
  TreeCell* add_tree(TreeCell* root, Node* node);
  void connect_f(TreeCell* p, TreeCell* c);
  // Indexes an existing tree (made elsewhere) as the current one.
  void adopt(TreeCell* root);

 private:
  TreeCell* new_cell(Module* m, Node* node);
  TreeCell* cell_of(Module* m) const;

  struct Slot {
    TreeCell* cell;
    uint32_t tree;
  };
  std::vector<TreeCell*> pool_;
  size_t used_ = 0;
  std::unordered_map<Module*, Slot> index_;
  uint32_t tree_ = 0;
};

// The cells of a tree in pre-order (a cell, its child subtree, its following
// siblings), with the index of each cell's parent (-1 for the root).
void preorder(TreeCell* root, std::vector<TreeCell*>& cells, std::vector<int>& parents);

// The module copy a Node lies in: the owner of its target (top when unknown).
Module* owner_of(const Node* n);

}  // namespace detail

}  // namespace vorq
