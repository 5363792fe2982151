// Names of rewritten module copies, renumbered cells and new ports: a base and
// a counter, each candidate checked against the names in use (hash sets built
// once per module, not scans per candidate).
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "hierarchy/groups.h"
#include "hierarchy/hierarchy.h"

namespace vorq {

namespace {

constexpr long kCounterLimit = 10000000;

// Every counter is checked before each candidate is made.
void check_counter(long n) {
  if (n >= kCounterLimit) quit(1);
}

// The candidate text of make_name, without allocating a record string.
void format_name(std::string& out, const char* base, long n, int kind) {
  char digits[24];
  char* end = digits + sizeof digits;
  char* at = end;
  unsigned long v = n < 0 ? 0UL - static_cast<unsigned long>(n) : static_cast<unsigned long>(n);
  do {
    *--at = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  if (n < 0) *--at = '-';
  out.assign(base ? base : "");
  if (kind == 10) out.push_back('-');
  out.append(at, end);
}

using NameSet = std::unordered_set<std::string_view>;
using NameCount = std::unordered_map<std::string_view, int>;

// Only a name that ends in a number can equal a candidate (a base and its
// counter); the sets keep no other names.
bool ends_in_number(std::string_view s) {
  return !s.empty() && s.back() >= '0' && s.back() <= '9';
}

bool is_kept_class(int cls) { return (cls >= C_REG && cls <= C_BGATE) || cls == C_MODULE; }

// Every Instance of a group and its width subtrees.
template <class F>
void for_each_in_group(ClassGroup* g, F f) {
  std::vector<ClassGroup*> stack;
  if (g) stack.push_back(g);
  while (!stack.empty()) {
    ClassGroup* at = stack.back();
    stack.pop_back();
    for (Instance* i = at->first; i; i = i->next) f(i);
    if (at->right) stack.push_back(at->right);
    if (at->left) stack.push_back(at->left);
  }
}

// ---- module class names ---------------------------------------------------------
// class_name_check(candidate, m) rejects the names and instance names of the
// modules before m, the names of non-rewritable modules after m, the instance
// names of the modules after m, and the names of m's kept cells. Modules move
// from "after" to "before" one by one, so the sets are kept as counts.
struct ClassNames {
  NameCount before_names;   // names of the modules before m, final
  NameCount after_fixed;    // names of the modules after m of kind other than 310
  NameCount inst_names;     // inst_names of every module
  // per base: every candidate below this number is among before_names, which
  // only grows, so the search may start there
  std::unordered_map<std::string, long> low;

  static void add(NameCount& c, const char* s) {
    if (s) ++c[s];
  }
  static void drop(NameCount& c, const char* s) {
    if (!s) return;
    auto it = c.find(s);
    if (it != c.end() && --it->second == 0) c.erase(it);
  }
  static bool has(const NameCount& c, std::string_view s) { return c.count(s) != 0; }

  bool taken(std::string_view cand, Module* m, const NameSet& cells) const {
    if (has(after_fixed, cand) || cells.count(cand)) return true;
    auto it = inst_names.find(cand);
    if (it != inst_names.end()) {
      // m's own instance name is not among them
      int others = it->second - (m->inst_name && cand == m->inst_name ? 1 : 0);
      if (others > 0) return true;
    }
    return false;
  }

  void rename(Module* m) {
    NameSet cells;
    for (Instance* i : insts_of(m))
      if (i->cls >= C_REG && i->cls <= C_BGATE && i->name) cells.insert(i->name);
    std::string base = m->name ? m->name : "";
    long& lo = low.try_emplace(base, 1).first->second;
    std::string cand;
    for (long n = lo;; ++n) {
      check_counter(n);
      format_name(cand, base.c_str(), n, 10);
      if (has(before_names, cand)) {
        if (n == lo) ++lo;
        continue;
      }
      if (taken(cand, m, cells)) continue;
      m->name = arena_strdup(cand.c_str());
      return;
    }
  }

  void run() {
    if (!top) return;
    add(before_names, top->name);
    for (Module* m : modules()) {
      add(inst_names, m->inst_name);
      if (m != top && m->kind != KIND_WRITABLE) add(after_fixed, m->name);
    }
    for (Module* m = top->next; m; m = m->next) {
      if (m->kind != KIND_WRITABLE) drop(after_fixed, m->name);
      if (m->kind == KIND_WRITABLE && m->inst && m->inst->used) rename(m);
      add(before_names, m->name);
    }
  }
};

}  // namespace

char* make_name(const char* base, long n, int kind) {
  std::string s;
  format_name(s, base, n, kind);
  return arena_strdup(s.c_str());
}

void class_name() {
  ClassNames names;
  names.run();
}

// ---- cell names -------------------------------------------------------------------

void inst_name(Module* m) {
  // ports, and the cells that keep their names (user modules, and registers,
  // constants, tristate buffers, clocked gates: a register may be called inv-1)
  NameSet taken;
  for (Pin* p : pins_of(m))
    if (p->name && (m == top || p->used) && ends_in_number(p->name)) taken.insert(p->name);
  for (ClassGroup* g : list_of(m->groups))
    if (g->first && is_kept_class(g->first->cls))
      for_each_in_group(g, [&](Instance* i) {
        if (i->name && ends_in_number(i->name)) taken.insert(i->name);
      });

  std::string cand;
  std::vector<ClassGroup*> stack;
  for (ClassGroup* g : list_of(m->groups)) {
    if (!g->first || is_kept_class(g->first->cls)) continue;
    const char* pcd = inv_screen(g->first->cls, TABLE_PCD);
    if (!pcd) pcd = "cell-";
    long counter = 1;
    // in-order over the width tree: smaller widths first
    stack.clear();
    for (ClassGroup* at = g; at || !stack.empty();) {
      if (at) {
        stack.push_back(at);
        at = at->left;
        continue;
      }
      at = stack.back();
      stack.pop_back();
      for (Instance* i = at->first; i; i = i->next) {
        for (;; ++counter) {
          check_counter(counter);
          format_name(cand, pcd, counter, 11);
          if (taken.empty() || !taken.count(cand)) break;
        }
        i->name = arena_strdup(cand.c_str());
        ++counter;
      }
      at = at->right;
    }
  }
}

// ---- port names ---------------------------------------------------------------------

void pin_name(Module* m) {
  // used ports, and every instance written in the module: a kept cell named
  // like out1 would make the terminal out1.out ambiguous
  NameSet taken;
  bool gathered = false;
  auto gather = [&] {
    gathered = true;
    for (Pin* p : pins_of(m))
      if (p->name && p->used && ends_in_number(p->name)) taken.insert(p->name);
    for (ClassGroup* g : list_of(m->groups))
      for_each_in_group(g, [&](Instance* i) {
        if (i->name && ends_in_number(i->name)) taken.insert(i->name);
      });
  };

  long in_counter = 1, out_counter = 1;
  std::string cand;
  for (Pin* p : pins_of(m)) {
    if (p->name) continue;
    if (!gathered) gather();
    bool input = p->dir == K_INPUT || p->dir == K_INPUT_CONNECTED;
    long& counter = input ? in_counter : out_counter;
    const char* base = input ? "in" : "out";
    for (;; ++counter) {
      check_counter(counter);
      format_name(cand, base, counter, C_PIN);
      if (!taken.count(cand)) break;
    }
    p->name = arena_strdup(cand.c_str());
    if (p->node) p->node->pin_name = p->name;
    taken.insert(p->name);
  }
}

void other_pin_name(Module* m) {
  // only a module that holds a rewritten copy's instance has Nodes to name
  bool holds_copy = false;
  for (ClassGroup* g : list_of(m->groups)) {
    const Instance* i = g->first;
    if (i && i->cls == C_MODULE && i->module && i->module->kind == KIND_WRITABLE) {
      holds_copy = true;
      break;
    }
  }
  if (!holds_copy && m->groups) return;
  for (Net* net : nets_of(m)) {
    if (net->type != K_TRISTATE && net->type != NET_SIGNAL) continue;
    for (Node* n : nodes_of(net)) {
      Cell* t = n->target;
      if (t && t->cls == C_MODULE && t->module && t->module->kind == KIND_WRITABLE && n->pair)
        n->pin_name = n->pair->pin_name;
    }
  }
}

}  // namespace vorq
