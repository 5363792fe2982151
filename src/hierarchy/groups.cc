#include "hierarchy/groups.h"

#include <string_view>
#include <unordered_map>

namespace vorq {

namespace {

// A group of a rewritten module copy holds that one Instance alone.
bool own_group(const Instance* i) {
  return i->cls == C_MODULE && i->module && i->module->kind == KIND_WRITABLE;
}

// Finds what new_or_old finds, without walking the group list. A group's key
// (the class of its first Instance, or its class_name for class 425) never
// changes once it is made, and groups are pushed at the head of the list, so
// the first match in list order is the most recently made group of that key.
struct GroupIndex {
  static constexpr int kCodes = 1024;  // the code space fits in 10 bits
  ClassGroup* by_class[kCodes] = {};
  std::unordered_map<std::string_view, ClassGroup*> by_class_name;

  ClassGroup* find(Instance* i, Module* m) {
    if (i->cls != C_MODULE) {
      if (i->cls < 0 || i->cls >= kCodes) return new_or_old(i, m);
      return by_class[i->cls];
    }
    if (own_group(i) || !i->class_name) return nullptr;
    auto it = by_class_name.find(i->class_name);
    return it == by_class_name.end() ? nullptr : it->second;
  }

  void made(ClassGroup* g) {
    const Instance* i = g->first;
    if (i->cls != C_MODULE) {
      if (i->cls >= 0 && i->cls < kCodes && !by_class[i->cls]) by_class[i->cls] = g;
    } else if (i->class_name) {
      by_class_name[i->class_name] = g;
    }
  }
};

bool same_class_name(const char* a, const char* b) {
  return a && b && std::string_view(a) == std::string_view(b);
}

}  // namespace

ClassGroup* new_or_old(Instance* inst, Module* m) {
  if (inst->cls != C_MODULE) {
    for (ClassGroup* g : list_of(m->groups))
      if (g->first->cls == inst->cls) return g;
    return nullptr;
  }
  if (own_group(inst)) return nullptr;
  for (ClassGroup* g : list_of(m->groups))
    if (g->first->cls == C_MODULE && same_class_name(g->first->class_name, inst->class_name))
      return g;
  return nullptr;
}

void make_comp(Module* m) {
  m->groups = nullptr;
  GroupIndex index;
  Instance* inst = m->insts;
  while (inst) {
    Instance* nxt = inst->next;
    inst->next = nullptr;
    if (inst->used) {
      if (ClassGroup* g = index.find(inst, m)) {
        inst->next = g->first;
        g->first = inst;
      } else {
        g = make<ClassGroup>();
        g->first = inst;
        g->next = m->groups;
        m->groups = g;
        index.made(g);
      }
    }
    inst = nxt;
  }
  make_comp_tree(m);
}

void make_comp_tree(Module* m) {
  for (ClassGroup* g : list_of(m->groups)) {
    if (!has_width_tree(g->first->cls)) continue;
    Instance* chain = g->first;
    g->first = nullptr;
    while (chain) {
      Instance* nxt = chain->next;
      chain->next = nullptr;
      add_comp_tree(chain, g);
      chain = nxt;
    }
  }
}

ClassGroup* add_comp_tree(Instance* inst, ClassGroup* g) {
  if (!g) {
    g = make<ClassGroup>();
    g->first = inst;
    return g;
  }
  // Walks down by width; degenerate trees are as deep as there are widths.
  ClassGroup* at = g;
  for (;;) {
    if (!at->first) {
      at->first = inst;
      return g;
    }
    int w = at->first->width;
    if (inst->width == w) {
      inst->next = at->first;
      at->first = inst;
      return g;
    }
    ClassGroup** down = inst->width > w ? &at->right : &at->left;
    if (!*down) {
      ClassGroup* leaf = make<ClassGroup>();
      leaf->first = inst;
      *down = leaf;
      return g;
    }
    at = *down;
  }
}

}  // namespace vorq
