// Working state shared by the files of the flattening stage; nothing outside
// src/flatten includes this.
#pragma once

#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "flatten/flatten.h"

namespace vorq::detail {

// ---- messages -----------------------------------------------------------

void say_node_isolation();   // delete_node
void say_net_isolation();    // delete_net
void say_net_colapsed();     // merge_net

inline bool is_input_dir(int d) { return d == K_INPUT || d == K_INPUT_CONNECTED; }
inline bool is_output_dir(int d) { return d == K_OUTPUT || d == K_OUTPUT_CONNECTED; }
inline bool is_counted_type(int t) { return t == K_TRISTATE || t == NET_SIGNAL; }
inline bool same_name(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

// ---- list index ---------------------------------------------------------

// The predecessor of every record of one singly linked list, so that a record
// is found and unlinked in constant time. Exact as long as every change of
// the list after construction goes through it.
template <class T>
class ListIndex {
 public:
  explicit ListIndex(T** head) : head_(head) {
    T* prev = nullptr;
    for (T* x = *head; x; x = x->next) {
      pred_[x] = prev;
      prev = x;
    }
  }
  bool contains(T* x) const { return pred_.count(x) != 0; }
  // Unlinks `x` (its `next` stays); false when it is not in the list.
  bool unlink(T* x) {
    auto it = pred_.find(x);
    if (it == pred_.end()) return false;
    T* p = it->second;
    (p ? p->next : *head_) = x->next;
    if (x->next) pred_[x->next] = p;
    pred_.erase(it);
    return true;
  }
  void push_front(T* x) {
    if (*head_) pred_[*head_] = x;
    x->next = *head_;
    *head_ = x;
    pred_[x] = nullptr;
  }
  T** head() const { return head_; }

 private:
  T** head_;
  std::unordered_map<T*, T*> pred_;
};

// ---- lookups by name ----------------------------------------------------

// The lookups that flattening repeats: the instances of a module with one
// name (in `insts` order), a module's first port of a name, and the first
// Node of a cell's ring with a pin name. Built per module or cell on first
// use; exact as long as every instance pushed at the head of a module's
// `insts` is reported through pushed_instance().
class Lookup {
 public:
  // Null when the module has no instance of that name.
  const std::vector<Instance*>* instances_named(Module* m, const char* name);
  Pin* pin_named(Module* m, const char* name);
  Node* ring_node_named(Cell* c, const char* pin_name);
  void pushed_instance(Module* m, Instance* c);

 private:
  using Names = std::unordered_map<std::string_view, std::vector<Instance*>>;
  std::unordered_map<Module*, Names> insts_;
  std::unordered_map<Module*, std::unordered_map<std::string_view, Pin*>> pins_;
  std::unordered_map<Cell*, std::unordered_map<std::string_view, Node*>> rings_;
};

// find_node with the lookups of `lk` (null: plain list scans).
Node* find_node(Node* node, Lookup* lk);

// ---- merging ------------------------------------------------------------

// The net whose Node list is being scanned while merges join other nets into
// it: its last Node, and a negation of all its Nodes that is owed but not yet
// applied (a Node's true weights are its stored ones, negated when `flip`).
// Settling it applies the owed negation once, so that repeated negations of a
// growing net cost no more than one pass.
struct ScanNet {
  Net* net;
  Node* tail;
  bool flip;
  explicit ScanNet(Net* n);
  int8_t wt(Node* n) const { return flip ? neg2(n->wt) : n->wt; }
  void settle();
};

struct MergeStep {
  bool ok;      // false: failed, message printed
  Node* next;   // the Node at which the scan goes on (null: the scan ends)
  Node* pred;   // the Node before `next` in the scanned net
};

// merge_net on the scanned net: `x` is a Node of it whose predecessor is
// `x_pred`; `nets` indexes the `nets` of the module that holds y's net (null:
// plain scan of m's nets).
MergeStep merge_into(ScanNet& s, Node* x_pred, Node* x, Node* y, ListIndex<Net>* nets, Module* m);

// merge_net_h_l onto a kept net whose last Node is `*keep_tail` (kept up to
// date); `nets` indexes the top module's nets.
int merge_h_l(Net* keep, Node** keep_tail, Net* absorbed, ListIndex<Net>* nets);

// Unlinks `node` from its net, given its predecessor there when known.
bool unlink_node_after(Node* pred, Node* node);

// The Node that find_source would choose, or null; prints nothing.
Node* driver_of(Net* net);

// ---- stage steps with shared lookups ------------------------------------

int protect_irreversible_nets(Lookup& lk);
void control_net_check(Module* m, Lookup& lk);

}  // namespace vorq::detail
