// Working state shared by the files of the flattening stage; nothing outside
// src/flatten includes this.
#pragma once

#include <cstddef>
#include <cstdint>
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

// ---- taking nets out of a module ---------------------------------------

// A map from records to records by address: open addressing, linear probing,
// no allocation per entry. Erased entries leave tombstones.
template <class K, class V>
class PtrMap {
 public:
  explicit PtrMap(size_t expected = 0) { grow_to(expected * 2 + 16); }
  V* find(K key) {
    size_t i = slot_of(key);
    return slots_[i].key == key ? &slots_[i].value : nullptr;
  }
  void put(K key, V value) {
    if ((used_ + 1) * 4 > slots_.size() * 3) grow_to(slots_.size() * 2);
    size_t i = slot_of(key);
    if (slots_[i].key != key) {
      if (slots_[i].key == nullptr) used_++;
      slots_[i].key = key;
    }
    slots_[i].value = value;
  }
  void erase(K key) {
    size_t i = slot_of(key);
    if (slots_[i].key == key) slots_[i].key = tombstone();
  }

 private:
  struct Slot {
    K key = nullptr;
    V value{};
  };
  static K tombstone() { return reinterpret_cast<K>(alignof(std::max_align_t)); }
  static size_t hash(K key) {
    uint64_t h = reinterpret_cast<uintptr_t>(key);
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ULL;
    return static_cast<size_t>(h ^ (h >> 32));
  }
  // the slot holding `key`, else the first free slot of its probe sequence
  // (a tombstone when one was passed)
  size_t slot_of(K key) const {
    size_t mask = slots_.size() - 1, i = hash(key) & mask;
    size_t free_slot = SIZE_MAX;
    while (slots_[i].key != nullptr) {
      if (slots_[i].key == key) return i;
      if (slots_[i].key == tombstone() && free_slot == SIZE_MAX) free_slot = i;
      i = (i + 1) & mask;
    }
    return free_slot != SIZE_MAX ? free_slot : i;
  }
  void grow_to(size_t want) {
    size_t cap = 16;
    while (cap < want) cap *= 2;
    std::vector<Slot> old(cap);
    old.swap(slots_);
    used_ = 0;
    for (const Slot& s : old)
      if (s.key != nullptr && s.key != tombstone()) put(s.key, s.value);
  }
  std::vector<Slot> slots_;
  size_t used_ = 0;  // slots not empty (tombstones included)
};

// Takes nets out of one module's `nets` during a merging scan.
class NetUnlinker {
 public:
  // false when the net is not in the list
  virtual bool unlink(Net* net) = 0;

 protected:
  ~NetUnlinker() = default;
};

// The predecessor of every net of a list, so that a net is found and unlinked
// in constant time. Built on first use; exact as long as every change of the
// list from then on goes through it.
class NetIndex final : public NetUnlinker {
 public:
  explicit NetIndex(Net** head) : head_(head) {}
  bool unlink(Net* net) override;

 private:
  Net** head_;
  bool built_ = false;
  PtrMap<Net*, Net*> pred_;
};

// Nets absorbed during a scan of a module's own nets stay linked, without
// Nodes, until finish() takes them out in one pass; the scan passes over nets
// without Nodes. For merges whose absorbed net is always one of the module's.
class DeferredUnlink final : public NetUnlinker {
 public:
  explicit DeferredUnlink(Net** head) : head_(head) {}
  bool unlink(Net* net) override;
  void finish();

 private:
  Net** head_;
  PtrMap<Net*, bool> gone_;
};

// A plain scan of a module's nets.
class ScanUnlink final : public NetUnlinker {
 public:
  explicit ScanUnlink(Module* m) : m_(m) {}
  bool unlink(Net* net) override;

 private:
  Module* m_;
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
  bool flip = false;
  explicit ScanNet(Net* n) : net(n) {}
  // The last Node, found on first use and kept up to date by merge_into.
  Node* tail() {
    if (!tail_known_) {
      tail_ = nullptr;
      for (Node* x = net->nodes; x; x = x->next) tail_ = x;
      tail_known_ = true;
    }
    return tail_;
  }
  // `n` left the net; `pred` was before it
  void removed(Node* n, Node* pred) {
    if (tail_known_ && tail_ == n) tail_ = pred;
  }
  void set_tail(Node* t) {
    tail_ = t;
    tail_known_ = true;
  }
  void settle();

 private:
  Node* tail_ = nullptr;
  bool tail_known_ = false;
};

struct MergeStep {
  bool ok;      // false: failed, message printed
  Node* next;   // the Node at which the scan goes on (null: the scan ends)
  Node* pred;   // the Node before `next` in the scanned net
};

// merge_net on the scanned net: `x` is a Node of it whose predecessor is
// `x_pred`; `nets` takes y's net out of the module that holds it.
MergeStep merge_into(ScanNet& s, Node* x_pred, Node* x, Node* y, NetUnlinker& nets);

// merge_net_h_l onto a kept net whose last Node is `*keep_tail` (kept up to
// date); `nets` takes the absorbed net out of the top module's nets.
int merge_h_l(Net* keep, Node** keep_tail, Net* absorbed, NetUnlinker& nets);

// Unlinks `node` from its net, given its predecessor there when known.
bool unlink_node_after(Node* pred, Node* node);

// The Node that find_source would choose, or null; prints nothing.
Node* driver_of(Net* net);

// ---- stage steps with shared lookups ------------------------------------

int protect_irreversible_nets(Lookup& lk);
void control_net_check(Module* m, Lookup& lk);

}  // namespace vorq::detail
