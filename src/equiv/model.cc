// Expanding one loaded design into a flat three-valued logic network.
//
// Nets of every NLD module copy (writable or read-only) are joined across
// the hierarchy through the ports they meet; PCD cells stay black boxes.
// Every joined net gets its value from its drivers; the drivers' input nets
// are evaluated first, in an order found by an explicit depth-first walk that
// also finds combinational loops.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "equiv/equiv.h"

namespace vorq::equiv {

namespace {

bool is_supply_port(const Pin* p) {
  if (!p->name) return false;
  if (std::strcmp(p->name, "VDD") != 0 && std::strcmp(p->name, "VSS") != 0) return false;
  return p->dir == K_GLOBAL || p->dir == K_INPUT;
}

// Roles of a port of the top module.
bool is_top_output(int dir) {
  return dir == K_OUTPUT || dir == K_OUTPUT_CONNECTED || dir == K_TRISTATE ||
         dir == K_TRISTATE_CONNECTED;
}
bool is_bidirect(int dir) { return dir == K_BIDIRECT || dir == K_BIDIRECT_CONNECTED; }

// Roles of a black-box pin by its direction: it drives its net always
// (output), it drives it with a free enable (tristate, bidirectional), and/or
// the box observes the net (input, bidirectional). Unused pins are neither;
// global pins, like the global ports of modules, are not joined to the net of
// the instance's parent.
enum BoxRole : uint8_t { BOX_DRIVES = 1, BOX_TRI = 2, BOX_OBSERVES = 4 };
int box_pin_role(int dir) {
  switch (dir) {
    case K_OUTPUT:
    case K_OUTPUT_CONNECTED: return BOX_DRIVES;
    case K_TRISTATE:
    case K_TRISTATE_CONNECTED: return BOX_DRIVES | BOX_TRI;
    case K_BIDIRECT:
    case K_BIDIRECT_CONNECTED: return BOX_DRIVES | BOX_TRI | BOX_OBSERVES;
    case K_INPUT:
    case K_INPUT_CONNECTED: return BOX_OBSERVES;
    default: return 0;  // unused, unused-connected, global
  }
}

// Output pins of the cell classes; everything else is an input.
bool is_output_pin(int cls, const char* pin) {
  switch (cls) {
    case C_INV:
    case C_NAND:
    case C_NOR:
    case C_AOI:
    case C_OAI:
    case C_ENOR:
    case C_BGATE:
    case C_LOW:
      return std::strcmp(pin, "nout") == 0;
    case C_NINV:
    case C_AND:
    case C_OR:
    case C_EOR:
    case C_HIGH:
    case C_TS_BUF:
      return std::strcmp(pin, "out") == 0;
    default:
      if (is_register_class(cls))
        return std::strcmp(pin, "out") == 0 || std::strcmp(pin, "nout") == 0 ||
               std::strcmp(pin, "scan_out") == 0;
      return false;
  }
}

enum class DriverKind : uint8_t {
  CONST0,
  CONST1,
  FREE,      // always driving a free value
  TRI_FREE,  // a free value with a free enable (bidirectional or tristate pin)
  CELL,      // output pin of a primitive cell
};

struct Driver {
  DriverKind kind;
  uint32_t cell;  // CELL
  const char* pin;
  Lit v;          // FREE, TRI_FREE
  Lit en;         // TRI_FREE
};

struct PinConn {
  const char* pin;
  uint32_t net;  // union-find element, later the joined net
};

struct FlatCell {
  Instance* inst;
  std::string path;
  Module* box;  // black box: its PCD module; null for a primitive cell
  std::vector<PinConn> pins;
};

struct Builder {
  Aig& g;
  FreeValues& free;
  const char* which;
  Module* top_module;

  std::vector<uint32_t> uf;
  std::unordered_map<const Pin*, uint32_t> port_elem;
  std::unordered_map<const Module*, std::unordered_map<std::string_view, Pin*>> port_index;
  std::unordered_map<const Module*, std::string> module_path;
  std::vector<FlatCell> cells;
  std::unordered_map<const Instance*, uint32_t> cell_of;
  std::unordered_set<std::string> claimed;  // register and black-box paths

  // joined nets
  std::vector<uint32_t> net_of_root;  // root element -> joined net
  std::vector<std::vector<Driver>> drivers;
  std::vector<Sig> value;
  std::vector<uint8_t> color;
  std::vector<std::pair<uint32_t, const char*>> name_of_net;  // a cell pin on it, for messages
  std::vector<Sig> reg_state;                                  // per cell, registers only

  Network out;

  Builder(Aig& g_, FreeValues& f_, const char* w, Module* t) : g(g_), free(f_), which(w), top_module(t) {}

  // ---- union-find ----
  uint32_t new_elem() {
    uf.push_back(static_cast<uint32_t>(uf.size()));
    return static_cast<uint32_t>(uf.size() - 1);
  }
  uint32_t find(uint32_t x) {
    uint32_t r = x;
    while (uf[r] != r) r = uf[r];
    while (uf[x] != r) {
      uint32_t n = uf[x];
      uf[x] = r;
      x = n;
    }
    return r;
  }
  void unite(uint32_t a, uint32_t b) {
    a = find(a);
    b = find(b);
    if (a != b) uf[std::max(a, b)] = std::min(a, b);
  }

  uint32_t elem_of_port(const Pin* p) {
    auto [it, fresh] = port_elem.emplace(p, 0);
    if (fresh) it->second = new_elem();
    return it->second;
  }

  // First port of that name, as a lookup from the head of `pins` finds it.
  Pin* port_named(Module* m, const char* name) {
    auto [it, fresh] = port_index.try_emplace(m);
    if (fresh)
      for (Pin* p : pins_of(m))
        if (p->name) it->second.emplace(p->name, p);
    auto f = it->second.find(name);
    return f == it->second.end() ? nullptr : f->second;
  }

  std::string cell_path(Module* m, const Instance* inst) {
    const std::string& mp = module_path[m];
    std::string name = inst->name ? inst->name : "";
    return mp.empty() ? name : mp + "/" + name;
  }

  uint32_t cell_for(Instance* inst, Module* m, Module* box) {
    auto [it, fresh] = cell_of.emplace(inst, 0);
    if (fresh) {
      it->second = static_cast<uint32_t>(cells.size());
      cells.push_back(FlatCell{inst, cell_path(m, inst), box, {}});
    }
    return it->second;
  }

  [[noreturn]] void fail(const std::string& what) {
    throw CannotTell(std::string(what) + " in the " + which + " design");
  }

  // ---- connectivity: one element per net, joined through ports ----
  void connect() {
    for (Module* m : list_of(top_module)) {
      if (m->kind == KIND_PCD) continue;
      if (m == top_module)
        module_path[m] = "";
      else
        module_path[m] = cell_path(m->parent, m->inst);
      for (Net* net : nets_of(m)) {
        uint32_t e = new_elem();
        for (Node* n : nodes_of(net)) {
          Cell* t = n->target;
          if (!t || !n->pin_name) continue;
          if (t->cls == C_PIN) {
            unite(e, elem_of_port(t));
          } else if (t->cls == C_MODULE) {
            Module* sub = t->module;
            if (!sub) fail(std::string("instance ") + cell_path(m, t) + " has no module");
            Pin* q = port_named(sub, n->pin_name);
            if (!q)
              fail("pin " + cell_path(m, t) + "." + n->pin_name + " is not a port of " +
                   (sub->name ? sub->name : "?"));
            if (sub->kind == KIND_PCD) {
              cells[cell_for(t, m, sub)].pins.push_back({q->name, e});
            } else if (q->dir != K_GLOBAL && !is_supply_port(q)) {
              unite(e, elem_of_port(q));
            }
          } else if (t->cls >= C_INV && t->cls <= C_BGATE) {
            cells[cell_for(t, m, nullptr)].pins.push_back({n->pin_name, e});
          } else {
            fail("cell " + cell_path(m, t) + " of an unknown class");
          }
        }
      }
    }
    // one pin named in two nets joins them
    for (FlatCell& c : cells) {
      std::stable_sort(c.pins.begin(), c.pins.end(),
                       [](const PinConn& a, const PinConn& b) { return std::strcmp(a.pin, b.pin) < 0; });
      std::vector<PinConn> kept;
      for (const PinConn& pc : c.pins) {
        if (!kept.empty() && std::strcmp(kept.back().pin, pc.pin) == 0)
          unite(kept.back().net, pc.net);
        else
          kept.push_back(pc);
      }
      c.pins.swap(kept);
    }
  }

  uint32_t net_at(uint32_t elem) {
    uint32_t r = find(elem);
    if (net_of_root[r] == UINT32_MAX) {
      net_of_root[r] = static_cast<uint32_t>(drivers.size());
      drivers.emplace_back();
      name_of_net.push_back({UINT32_MAX, nullptr});
    }
    return net_of_root[r];
  }

  void add_point(const std::string& key, Sig s) {
    auto [it, fresh] = out.points.emplace(key, s);
    if (!fresh) fail("two observation points named " + key);
    out.keys.push_back(key);
  }

  void claim(const std::string& path) {
    if (!claimed.insert(path).second) fail("two instances at path " + path);
  }

  // ---- drivers of every joined net ----
  // Supply ports are constants and other global ports free values by name,
  // in every module; neither is joined across the hierarchy.
  void supply_or_global(const Pin* p, uint32_t net) {
    if (is_supply_port(p)) {
      bool one = std::strcmp(p->name, "VDD") == 0;
      drivers[net].push_back({one ? DriverKind::CONST1 : DriverKind::CONST0, 0, nullptr, 0, 0});
    } else if (p->dir == K_GLOBAL && p->name) {
      drivers[net].push_back({DriverKind::FREE, 0, nullptr, free.get(std::string("global ") + p->name), 0});
    }
  }

  void collect_drivers() {
    net_of_root.assign(uf.size(), UINT32_MAX);
    for (FlatCell& c : cells)
      for (PinConn& pc : c.pins) pc.net = net_at(pc.net);

    // ports: supplies and globals at every level, the rest at the top only
    for (Module* m : list_of(top_module)) {
      if (m->kind == KIND_PCD) continue;
      for (Pin* p : pins_of(m)) {
        auto it = port_elem.find(p);
        if (it == port_elem.end()) continue;
        supply_or_global(p, net_at(it->second));
      }
    }
    std::unordered_set<std::string_view> seen;
    for (Pin* p : pins_of(top_module)) {
      if (!p->name || !seen.insert(p->name).second) continue;  // first of a name wins
      if (is_supply_port(p) || p->dir == K_GLOBAL) continue;
      auto it = port_elem.find(p);
      uint32_t net = it == port_elem.end() ? UINT32_MAX : net_at(it->second);
      std::string key = std::string("port ") + p->name;
      if (is_bidirect(p->dir)) {
        if (net != UINT32_MAX)
          drivers[net].push_back({DriverKind::TRI_FREE, 0, nullptr, free.get(key), free.get(key + " enable")});
      } else if (!is_top_output(p->dir)) {
        if (net != UINT32_MAX) drivers[net].push_back({DriverKind::FREE, 0, nullptr, free.get(key), 0});
      }
    }

    // cells: outputs drive, registers hold a free state, black boxes free pins
    reg_state.assign(cells.size(), SIG_X);
    for (uint32_t ci = 0; ci < cells.size(); ++ci) {
      FlatCell& c = cells[ci];
      if (c.box) {
        claim(c.path);
        for (const PinConn& pc : c.pins) {
          Pin* q = port_named(c.box, pc.pin);
          std::string key = "pin " + c.path + "." + pc.pin;
          int role = box_pin_role(q->dir);
          if (role & BOX_TRI)
            drivers[pc.net].push_back({DriverKind::TRI_FREE, ci, pc.pin, free.get(key), free.get(key + " enable")});
          else if (role & BOX_DRIVES)
            drivers[pc.net].push_back({DriverKind::FREE, ci, pc.pin, free.get(key), 0});
          if (name_of_net[pc.net].second == nullptr) name_of_net[pc.net] = {ci, pc.pin};
        }
        continue;
      }
      int cls = c.inst->cls;
      if (is_register_class(cls)) {
        claim(c.path);
        ++out.registers;
        reg_state[ci] = {free.get("reg " + c.path), LIT_TRUE};
      }
      for (const PinConn& pc : c.pins) {
        if (is_output_pin(cls, pc.pin)) {
          drivers[pc.net].push_back({DriverKind::CELL, ci, pc.pin, 0, 0});
          name_of_net[pc.net] = {ci, pc.pin};
        } else if (name_of_net[pc.net].second == nullptr) {
          name_of_net[pc.net] = {ci, pc.pin};
        }
      }
    }

    // equal constants on one net are one driver
    for (std::vector<Driver>& ds : drivers) {
      bool c0 = false, c1 = false;
      std::vector<Driver> kept;
      for (const Driver& d : ds) {
        if (d.kind == DriverKind::CONST0) {
          if (c0) continue;
          c0 = true;
        }
        if (d.kind == DriverKind::CONST1) {
          if (c1) continue;
          c1 = true;
        }
        kept.push_back(d);
      }
      ds.swap(kept);
    }
  }

  std::string net_name(uint32_t net) {
    auto [ci, pin] = name_of_net[net];
    if (!pin) return "a net without cells";
    return cells[ci].path + "." + pin;
  }

  // ---- evaluation ----
  // Inputs of a combinational cell whose value decides its outputs.
  bool is_combinational(uint32_t ci) {
    const FlatCell& c = cells[ci];
    return !c.box && !is_register_class(c.inst->cls);
  }

  Sig input(const FlatCell& c, const char* pin) {
    for (const PinConn& pc : c.pins)
      if (std::strcmp(pc.pin, pin) == 0) return value[pc.net];
    return SIG_X;
  }

  std::vector<Sig> inputs(const FlatCell& c) {
    std::vector<Sig> in;
    for (const PinConn& pc : c.pins)
      if (!is_output_pin(c.inst->cls, pc.pin)) in.push_back(value[pc.net]);
    // unconnected inputs are undefined
    for (size_t i = in.size(); i < c.inst->width; ++i) in.push_back(SIG_X);
    return in;
  }

  // AND-OR (OR-AND) groups by the digits of the width; pins a1 a2 .. b1 ..,
  // else the input pins in byte order of their names, dealt group by group.
  std::vector<std::vector<Sig>> groups(const FlatCell& c) {
    std::vector<int> sizes;
    for (int w = c.inst->width; w > 0; w /= 10) sizes.insert(sizes.begin(), w % 10);
    std::vector<std::vector<Sig>> gs(sizes.size());
    for (size_t k = 0; k < sizes.size(); ++k) gs[k].assign(sizes[k], SIG_X);
    std::vector<const PinConn*> ins;
    for (const PinConn& pc : c.pins)
      if (!is_output_pin(c.inst->cls, pc.pin)) ins.push_back(&pc);
    bool conventional = true;
    std::vector<std::vector<uint8_t>> taken(sizes.size());
    for (size_t k = 0; k < sizes.size(); ++k) taken[k].assign(sizes[k], 0);
    for (const PinConn* pc : ins) {
      const char* s = pc->pin;
      size_t k = static_cast<size_t>(s[0] - 'a');
      char* end = nullptr;
      long idx = (s[0] >= 'a' && s[0] <= 'z' && s[1] >= '1' && s[1] <= '9') ? std::strtol(s + 1, &end, 10) : 0;
      if (idx < 1 || *end != 0 || k >= sizes.size() || idx > sizes[k] || taken[k][idx - 1]) {
        conventional = false;
        break;
      }
      taken[k][idx - 1] = 1;
      gs[k][idx - 1] = value[pc->net];
    }
    if (conventional) return gs;
    std::sort(ins.begin(), ins.end(), [](const PinConn* a, const PinConn* b) { return std::strcmp(a->pin, b->pin) < 0; });
    size_t i = 0;
    for (size_t k = 0; k < sizes.size(); ++k)
      for (int j = 0; j < sizes[k]; ++j) gs[k][j] = i < ins.size() ? value[ins[i++]->net] : SIG_X;
    return gs;
  }

  // Value of output pin `pin` of a cell whose inputs are evaluated; for a
  // tristate buffer its enable goes to `en`.
  Sig cell_output(uint32_t ci, const char* pin, Sig* en) {
    const FlatCell& c = cells[ci];
    int cls = c.inst->cls;
    if (is_register_class(cls)) return std::strcmp(pin, "nout") == 0 ? sig_not(reg_state[ci]) : reg_state[ci];
    switch (cls) {
      case C_INV: return sig_not(input(c, "in"));
      case C_NINV: return input(c, "in");
      case C_AND: return sig_and(g, inputs(c));
      case C_NAND: return sig_not(sig_and(g, inputs(c)));
      case C_OR: return sig_or(g, inputs(c));
      case C_NOR: return sig_not(sig_or(g, inputs(c)));
      case C_EOR: return sig_xor(g, input(c, "in1"), input(c, "in2"));
      case C_ENOR: return sig_not(sig_xor(g, input(c, "in1"), input(c, "in2")));
      case C_AOI: {
        std::vector<Sig> terms;
        for (const auto& grp : groups(c)) terms.push_back(sig_and(g, grp));
        return sig_not(sig_or(g, terms));
      }
      case C_OAI: {
        std::vector<Sig> terms;
        for (const auto& grp : groups(c)) terms.push_back(sig_or(g, grp));
        return sig_not(sig_and(g, terms));
      }
      case C_HIGH: return SIG_1;
      case C_LOW: return SIG_0;
      case C_BGATE: return sig_not(sig_and(g, {input(c, "enb"), input(c, "clock")}));
      case C_TS_BUF:
        *en = sig_not(input(c, "nenb"));
        return input(c, "in");
      default: return SIG_X;
    }
  }

  // A net's value from its drivers: one always-on driver gives its value;
  // otherwise the net is a bus, defined while exactly one driver is enabled.
  Sig resolve(uint32_t net) {
    const std::vector<Driver>& ds = drivers[net];
    if (ds.empty()) return SIG_X;
    std::vector<std::pair<Sig, Sig>> bus;  // (enable, value)
    for (const Driver& d : ds) {
      switch (d.kind) {
        case DriverKind::CONST0: bus.push_back({SIG_1, SIG_0}); break;
        case DriverKind::CONST1: bus.push_back({SIG_1, SIG_1}); break;
        case DriverKind::FREE: bus.push_back({SIG_1, {d.v, LIT_TRUE}}); break;
        case DriverKind::TRI_FREE: bus.push_back({{d.en, LIT_TRUE}, {d.v, LIT_TRUE}}); break;
        case DriverKind::CELL: {
          Sig en = SIG_1;
          Sig v = cell_output(d.cell, d.pin, &en);
          bus.push_back({en, v});
          break;
        }
      }
    }
    if (bus.size() == 1 && bus[0].first.v == LIT_TRUE && bus[0].first.d == LIT_TRUE) return bus[0].second;
    std::vector<Lit> en_defined, any_on, values;
    Lit one = LIT_FALSE, two = LIT_FALSE;  // at least one, at least two enabled
    for (const auto& [en, v] : bus) {
      en_defined.push_back(en.d);
      two = g.or2(two, g.and2(one, en.v));
      one = g.or2(one, en.v);
      any_on.push_back(g.and2(en.v, v.d));
      values.push_back(g.and2(en.v, v.v));
    }
    Sig r;
    r.v = g.or_n(values);
    en_defined.push_back(one);
    en_defined.push_back(lit_not(two));
    en_defined.push_back(g.or_n(any_on));
    r.d = g.and_n(en_defined);
    return r;
  }

  // Nets a net's value depends on: the inputs of its combinational drivers.
  template <class F>
  void for_each_dep(uint32_t net, F&& f) {
    for (const Driver& d : drivers[net]) {
      if (d.kind != DriverKind::CELL || !is_combinational(d.cell)) continue;
      for (const PinConn& pc : cells[d.cell].pins)
        if (!is_output_pin(cells[d.cell].inst->cls, pc.pin)) f(pc.net);
    }
  }

  // The nets on the walk (marked 1 on the stack, in walk order) from `y` to
  // the top close a loop; names some of them.
  [[noreturn]] void loop(const std::vector<uint32_t>& stack, uint32_t y) {
    std::vector<uint32_t> path;
    bool on = false;
    for (uint32_t n : stack) {
      if (n == y && color[n] == 1) on = true;
      if (on && color[n] == 1 && (path.empty() || path.back() != n)) path.push_back(n);
    }
    std::string what = "combinational loop through " + net_name(y);
    for (size_t i = 1; i < path.size() && i < 8; ++i) what += " <- " + net_name(path[i]);
    if (path.size() > 8) what += " <- ...";
    fail(what);
  }

  void evaluate() {
    size_t n = drivers.size();
    value.assign(n, SIG_X);
    color.assign(n, 0);  // 0 new, 1 on the walk, 2 done
    std::vector<uint32_t> stack;
    for (uint32_t root = 0; root < n; ++root) {
      if (color[root]) continue;
      stack.push_back(root);
      while (!stack.empty()) {
        uint32_t x = stack.back();
        if (color[x] == 2) {
          stack.pop_back();
          continue;
        }
        if (color[x] == 1) {
          stack.pop_back();
          value[x] = resolve(x);
          color[x] = 2;
          continue;
        }
        color[x] = 1;
        for_each_dep(x, [&](uint32_t y) {
          if (color[y] == 1) loop(stack, y);
          if (color[y] == 0) stack.push_back(y);
        });
      }
    }
  }

  // ---- observation points ----
  void observe() {
    std::unordered_set<std::string_view> seen;
    for (Pin* p : pins_of(top_module)) {
      if (!p->name || !seen.insert(p->name).second) continue;
      if (is_supply_port(p) || p->dir == K_GLOBAL) continue;
      if (!is_top_output(p->dir) && !is_bidirect(p->dir)) continue;
      auto it = port_elem.find(p);
      add_point(std::string("port ") + p->name, it == port_elem.end() ? SIG_X : value[net_at(it->second)]);
    }
    for (const FlatCell& c : cells) {
      for (const PinConn& pc : c.pins) {
        bool observed;
        if (c.box) {
          observed = box_pin_role(port_named(c.box, pc.pin)->dir) & BOX_OBSERVES;
        } else {
          observed = is_register_class(c.inst->cls) && !is_output_pin(c.inst->cls, pc.pin);
        }
        if (observed) add_point("pin " + c.path + "." + pc.pin, value[pc.net]);
      }
    }
  }

  Network run() {
    connect();
    collect_drivers();
    evaluate();
    observe();
    out.cells = cells.size();
    out.nets = drivers.size();
    return std::move(out);
  }
};

}  // namespace

Network build_network(Module* top_module, Aig& g, FreeValues& free, const char* which) {
  Builder b(g, free, which, top_module);
  return b.run();
}

}  // namespace vorq::equiv
