// The reconstruction driver: instances back to their module copies, every flat
// net divided (or, in flat mode, kept in the top module), `used` marks, groups
// and names for the writer.
#include "hierarchy/hierarchy.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "hierarchy/groups.h"

namespace vorq {

namespace {

bool same(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

// A flattened (rewritten) module copy's instance.
bool is_sub_module(const Cell* c) {
  return c && c->cls == C_MODULE && c->module && c->module->kind == KIND_WRITABLE;
}

// Cells that must never vanish from the design: registers and black boxes
// (cells and modules that are copied, not rewritten).
bool is_register_or_black_box(const Cell* c) {
  if (is_register_class(c->cls)) return true;
  return c->cls == C_MODULE && c->module && c->module->kind != KIND_WRITABLE;
}

void push_net(Module* m, Net* net) {
  net->next = m->nets;
  m->nets = net;
}

// First Pin of a module by name, as pin_f finds it, from an index built once.
struct PinIndex {
  std::unordered_map<Module*, std::unordered_map<std::string_view, Pin*>> by_module;

  Pin* find(Module* m, const char* name) {
    if (!m || !name) return nullptr;
    auto [it, fresh] = by_module.try_emplace(m);
    if (fresh) {
      for (Pin* p : pins_of(m))
        if (p->name) it->second.try_emplace(p->name, p);
    }
    auto p = it->second.find(name);
    return p == it->second.end() ? nullptr : p->second;
  }
};

// ---- state of one reconstruction -------------------------------------------------

struct Rebuild {
  bool flat_mode = h_or_f == 3;
  detail::NetTrees trees;
  PinIndex pins;

  void run();
  void return_sub_insts();
  void divide_nets();
  void divide_hier(Net* net);
  void divide_flat(Net* net);
  void finish_hier();
  void mark_used_hier();
  void keep_registers_and_black_boxes();

  // flat mode
  void finish_flat();
  void join_control_nets();
  void drop_foreign_terminals();
  void name_kept_cells();
};

void Rebuild::run() {
  if (!top) return;
  if (!flat_mode) deliver_inst();
  return_sub_insts();
  divide_nets();
  if (flat_mode) finish_flat();
  else finish_hier();
}

// ---- steps of both modes ------------------------------------------------------------

void Rebuild::return_sub_insts() {
  for (Module* m : modules()) {
    if (m->kind != KIND_WRITABLE) continue;
    Instance* i = m->sub_insts;
    m->sub_insts = nullptr;
    while (i) {
      Instance* nxt = i->next;
      i->next = m->insts;
      m->insts = i;
      i = nxt;
    }
  }
}

// Boundary Nodes of counted nets become in-phase loads (done net by net,
// just before the net is divided: no net reads another's Nodes).
void reset_boundaries(Net* net) {
  for (Node* n : nodes_of(net))
    if (n->boundary) set_weights(n, 1, 1);
}

// A register net that still has a complement load gets an inverter like any
// other net: a scan register's "scan_out" offers no complement, and a register
// whose other output is on a control net does not serve it from there.
bool register_net_needs_inverter(const Net* net) {
  for (Node* n = net->nodes; n; n = n->next)
    if (n->wt == -1) return true;
  return false;
}

void Rebuild::divide_nets() {
  Net* net = top->nets;
  top->nets = nullptr;
  while (net) {
    Net* nxt = net->next;
    net->next = nullptr;
    switch (net->type) {
      case K_UNUSED:
        if (net->nodes && detail::owner_of(net->nodes) == top) push_net(top, net);
        break;
      case NET_CONTROL:
        push_net(top, net);
        break;
      case K_TRISTATE:
      case NET_SIGNAL:
        reset_boundaries(net);
        if (flat_mode) divide_flat(net);
        else divide_hier(net);
        break;
      default:
        break;
    }
    net = nxt;
  }
}

void Rebuild::divide_hier(Net* net) {
  int type = net->type;
  int cls = net->source && net->source->target ? net->source->target->cls : 0;
  trees.begin_net();
  if (is_register_class(cls) && !register_net_needs_inverter(net)) {
    TreeCell* tree = trees.h_net(net);
    pin_type_check(tree, type);
    make_link(tree);
    deliver_net(tree, type);
  } else if (cls == C_HIGH || cls == C_LOW) {
    TreeCell* tree = trees.h_net(net);
    high_low_nethier(tree, cls);
    deliver_net(tree, type);
  } else if (cls == C_PIN && same(net->source->pin_name, "VDD")) {
    TreeCell* tree = trees.h_net(net);
    vdd_vss_nethier(tree, C_HIGH);
    deliver_net(tree, type);
  } else if (cls == C_PIN && same(net->source->pin_name, "VSS")) {
    TreeCell* tree = trees.h_net(net);
    vdd_vss_nethier(tree, C_LOW);
    deliver_net(tree, type);
  } else {
    Net* comp = div_net(net)->next;
    net->next = nullptr;
    TreeCell* tree2 = comp ? trees.h_net(comp) : nullptr;
    TreeCell* tree = trees.h_net(net);
    pin_type_check(tree, type);
    pin_type_check(tree2, NET_SIGNAL);
    make_link(tree);
    make_link(tree2);
    deliver_net(tree, type);
    deliver_net(tree2, NET_SIGNAL);
  }
}

void Rebuild::divide_flat(Net* net) {
  int cls = net->source && net->source->target ? net->source->target->cls : 0;
  if (cls >= C_REG && cls <= C_LOW && !register_net_needs_inverter(net)) {
    push_net(top, net);
    return;
  }
  div_net(net);
  Net* comp = net->next;
  if (comp) {
    // the inverter joins the one instance list of the flat design
    Instance* inv = comp->source->target;
    Module* l = inv->owner;
    if (l != top && l->insts == inv) {
      l->insts = inv->next;
      inv->next = top->insts;
      top->insts = inv;
      inv->owner = top;
    }
    comp->next = top->nets;
    net->next = comp;
  } else {
    net->next = top->nets;
  }
  top->nets = net;
}

// ---- hierarchical mode: used marks, groups, names -----------------------------------

void Rebuild::finish_hier() {
  mark_used_hier();
  keep_registers_and_black_boxes();
  class_name();
  for (Module* m : modules()) {
    if (m->kind != KIND_WRITABLE) continue;
    make_comp(m);
    inst_name(m);
    pin_name(m);
  }
  for (Module* m : modules())
    if (m->kind == KIND_WRITABLE) other_pin_name(m);
}

// What a net of its module touches is `used`. A pin that a parent names on a
// rewritten copy's instance (a pin whose port is unconnected inside, or one
// on an unused net of the top module) is declared by the copy too, so that
// the written design reads again. Children come after their parents in the
// module list: walking it backwards, a copy's marks are cleared before its
// parent's nets mark the pins they name.
void Rebuild::mark_used_hier() {
  std::vector<Module*> order;
  for (Module* m : modules())
    if (m->kind == KIND_WRITABLE) order.push_back(m);
  for (size_t k = order.size(); k-- > 0;) {
    Module* m = order[k];
    if (m != top)
      for (Pin* p : pins_of(m)) p->used = false;
    for (Instance* i : insts_of(m)) i->used = false;
    for (Net* net : nets_of(m))
      for (Node* n : nodes_of(net)) {
        Cell* t = n->target;
        if (!t) continue;
        t->used = true;
        if (!n->pair && n->pin_name && is_sub_module(t))
          if (Pin* p = pins.find(t->module, n->pin_name)) p->used = true;
      }
  }
}

// Registers and black boxes are written even when no net of their module
// reaches them any more, and so is every module copy that holds one, with its
// instance in its parent.
void Rebuild::keep_registers_and_black_boxes() {
  std::vector<Module*> order;
  for (Module* m : modules()) {
    if (m->kind != KIND_WRITABLE) continue;
    order.push_back(m);
    for (Instance* i : insts_of(m))
      if (!i->used && i->node && is_register_or_black_box(i)) i->used = true;
  }
  // the instances of a parent, gathered when a copy below it is first kept
  std::unordered_map<Module*, std::unordered_set<Instance*>> present;
  auto in_parent = [&](Module* parent, Instance* inst) {
    auto [it, fresh] = present.try_emplace(parent);
    if (fresh)
      for (Instance* i : insts_of(parent)) it->second.insert(i);
    return !it->second.insert(inst).second;
  };
  std::unordered_set<Module*> holding;
  // children stand after their parents in the module list
  for (size_t k = order.size(); k-- > 0;) {
    Module* m = order[k];
    if (m == top) continue;
    bool holds = false;
    for (Instance* i : insts_of(m)) {
      if (holds) break;
      if (!i->used) continue;
      holds = is_register_or_black_box(i) || (is_sub_module(i) && holding.count(i->module));
    }
    if (holds) {
      holding.insert(m);
      if (m->inst) m->inst->used = true;
    }
    // a written copy stands in its parent's instance list, even where
    // flattening had dropped its instance as unconnected
    Instance* inst = m->inst;
    Module* parent = m->parent;
    if (!inst || !parent || !inst->used) continue;
    if (!in_parent(parent, inst)) {
      inst->owner = parent;
      inst->next = parent->insts;
      parent->insts = inst;
    }
  }
}

// ---- flat mode: one module holding the whole design ---------------------------------

void Rebuild::finish_flat() {
  join_control_nets();
  drop_foreign_terminals();

  for (Instance* i : insts_of(top)) i->used = false;
  for (Net* net : nets_of(top))
    for (Node* n : nodes_of(net))
      if (n->target) n->target->used = true;
  for (Instance* i : insts_of(top))
    if (!i->used && i->node && is_register_or_black_box(i)) i->used = true;
  // read-only modules are copied whole: everything below them is needed
  for (Module* m : modules())
    if (m->kind == KIND_READONLY)
      for (Instance* i : insts_of(m)) i->used = true;

  name_kept_cells();
  make_comp(top);
  inst_name(top);
}

// The control nets of the flattened copies stayed in their copies. Each is
// joined to the net on the other side of every boundary it crosses, and the
// top module takes them all.
void Rebuild::join_control_nets() {
  std::vector<Net*> nets;
  std::unordered_map<Net*, int> index;
  for (Net* net : nets_of(top))
    if (net->type == NET_CONTROL) {
      index.emplace(net, static_cast<int>(nets.size()));
      nets.push_back(net);
    }
  size_t own = nets.size();
  for (Module* m = top->next; m; m = m->next) {
    if (m->kind != KIND_WRITABLE) continue;
    for (Net* net : nets_of(m)) {
      index.emplace(net, static_cast<int>(nets.size()));
      nets.push_back(net);
    }
    m->nets = nullptr;
  }
  if (nets.size() == own) return;

  std::vector<int> up(nets.size());
  for (size_t k = 0; k < up.size(); ++k) up[k] = static_cast<int>(k);
  auto find = [&](int k) {
    while (up[k] != k) k = up[k] = up[up[k]];
    return k;
  };
  for (size_t k = 0; k < nets.size(); ++k)
    for (Node* n : nodes_of(nets[k])) {
      if (!is_sub_module(n->target)) continue;
      Pin* p = pins.find(n->target->module, n->pin_name);
      if (!p || !p->node || !p->node->net) continue;
      auto it = index.find(p->node->net);
      if (it == index.end()) continue;
      int a = find(static_cast<int>(k)), b = find(it->second);
      // the earlier net of the two stands for both
      if (a < b) up[b] = a;
      else if (b < a) up[a] = b;
    }

  // join each group's Node lists, in net order, into its first net
  std::vector<Node*> tails(nets.size(), nullptr);
  for (size_t k = 0; k < nets.size(); ++k) {
    Net* net = nets[k];
    for (Node* t = net->nodes; t; t = t->next) tails[k] = t;
    int r = find(static_cast<int>(k));
    if (r == static_cast<int>(k) || !net->nodes) continue;
    Net* into = nets[r];
    for (Node* n : nodes_of(net)) n->net = into;
    if (tails[r]) tails[r]->next = net->nodes;
    else into->nodes = net->nodes;
    tails[r] = tails[k];
    net->nodes = nullptr;
  }
  // absorbed nets leave the top module; the copies' own groups join it
  Net** link = &top->nets;
  while (*link) {
    Net* net = *link;
    auto it = index.find(net);
    if (it != index.end() && find(it->second) != it->second) *link = net->next;
    else link = &net->next;
  }
  for (size_t k = own; k < nets.size(); ++k)
    if (find(static_cast<int>(k)) == static_cast<int>(k)) push_net(top, nets[k]);
}

// Terminals that name a flattened copy's instance or port have nothing to
// name in the one written module: they go. A global port of a copy becomes
// the top module's port of that name.
void Rebuild::drop_foreign_terminals() {
  Net** link = &top->nets;
  while (*link) {
    Net* net = *link;
    Node** at = &net->nodes;
    while (*at) {
      Node* n = *at;
      Cell* t = n->target;
      bool foreign_port = t && t->cls == C_PIN && t->owner != top;
      if (foreign_port && n->dir == K_GLOBAL) {
        Pin* p = pins.find(top, t->name);
        if (!p) {
          p = make<Pin>();
          p->cls = C_PIN;
          p->dir = K_GLOBAL;
          p->name = arena_strdup(t->name);
          p->owner = top;
          p->used = true;
          p->next = top->pins;
          top->pins = p;
          pins.by_module.erase(top);
        }
        n->target = p;
        n->pin_name = p->name;
        if (!p->node) p->node = n;
      } else if (foreign_port || is_sub_module(t)) {
        *at = n->next;
        n->next = nullptr;
        continue;
      }
      at = &n->next;
    }
    if (!net->nodes) *link = net->next;
    else link = &net->next;
  }
}

// Cells that keep their names are written under the path of the copy they
// came from ("u/v/r_q"); a name met twice gets "#2", "#3", ... so that no two
// instances of the file share a name.
void Rebuild::name_kept_cells() {
  std::unordered_map<Module*, std::string> path;
  for (Module* m = top->next; m; m = m->next) {
    std::string p;
    if (m->parent && m->parent != top) {
      auto it = path.find(m->parent);
      if (it != path.end()) p = it->second + "/";
    }
    p += m->inst_name ? m->inst_name : "";
    path.emplace(m, std::move(p));
  }

  std::vector<Instance*> kept;
  for (Instance* i : insts_of(top))
    if (i->used && i->name && ((i->cls >= C_REG && i->cls <= C_BGATE) || i->cls == C_MODULE))
      kept.push_back(i);
  // the top module's own cells first, keeping their names
  std::stable_partition(kept.begin(), kept.end(),
                        [](Instance* i) { return !i->owner || i->owner == top; });

  std::vector<std::string> wanted;
  std::unordered_set<std::string> all;
  for (Pin* p : pins_of(top))
    if (p->name) all.insert(p->name);
  for (Instance* i : kept) {
    std::string w;
    if (i->owner && i->owner != top) {
      auto it = path.find(i->owner);
      if (it != path.end()) w = it->second + "/";
    }
    w += i->name;
    all.insert(w);
    wanted.push_back(std::move(w));
  }
  std::unordered_set<std::string> given;
  for (Pin* p : pins_of(top))
    if (p->name) given.insert(p->name);
  for (size_t k = 0; k < kept.size(); ++k) {
    std::string w = wanted[k];
    if (given.count(w)) {
      for (long n = 2;; ++n) {
        std::string alt = wanted[k] + "#" + std::to_string(n);
        if (!all.count(alt) && !given.count(alt)) {
          w = alt;
          break;
        }
      }
    }
    given.insert(w);
    if (w != kept[k]->name) kept[k]->name = arena_strdup(w.c_str());
  }
}

}  // namespace

// ---- entry points ---------------------------------------------------------------------

void hierarchy() {
  Rebuild rebuild;
  rebuild.run();
}

void deliver_inst() {
  Instance* i = top->insts;
  top->insts = nullptr;
  while (i) {
    Instance* nxt = i->next;
    Module* owner = i->owner ? i->owner : top;
    i->next = owner->insts;
    owner->insts = i;
    i = nxt;
  }
}

}  // namespace vorq
