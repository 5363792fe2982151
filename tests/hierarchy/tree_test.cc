// Net trees, net division, port directions and the constant and supply nets,
// on Nodes placed by hand in a loaded module hierarchy:
//   top (x: X, y: Y), X (z: Z).
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "design_util.h"
#include "hierarchy/hierarchy.h"

using namespace vorq;
using vorq_test::load_design;
using vorq_test::module_at;

namespace {

const char* kCells =
    " (def-comp and--2 g1 g2 g3)\n"
    " (def-comp ts_buf- t1)\n"
    " (def-comp high- h1)\n"
    " (def-comp reg-1 r1)\n";

void load_tree_design() {
  std::string cells = kCells;
  load_design("top",
              {{"top.nld", "(def-module top\n (def-pin VDD type input)\n (def-pin a type input)\n"
                           " (def-comp X x)\n (def-comp Y y)\n" + cells + ")\n"},
               {"X.nld", "(def-module X\n (def-comp Z z)\n" + cells + ")\n"},
               {"Y.nld", "(def-module Y\n" + cells + ")\n"},
               {"Z.nld", "(def-module Z\n" + cells + ")\n"}});
}

struct T {
  Module* top;
  Module* x;
  Module* y;
  Module* z;
};

T mods() { return {vorq::top, module_at("x"), module_at("y"), module_at("x/z")}; }

// A Node on a cell of module `m`.
Node* on(Module* m, const char* inst, const char* pin, int dir, int wt = 1) {
  Node* n = make<Node>();
  n->target = instance_f(inst, m);
  EXPECT_NE(n->target, nullptr) << inst;
  n->pin_name = arena_strdup(pin);
  n->dir = dir;
  n->wt = static_cast<int8_t>(wt);
  n->phase = static_cast<int8_t>(wt);
  n->ring = n;
  return n;
}

// A net holding `nodes` in this order; the first driving Node is its source.
Net* net_of(std::initializer_list<Node*> nodes, int type = NET_SIGNAL) {
  Net* net = make<Net>();
  net->type = type;
  Node** at = &net->nodes;
  for (Node* n : nodes) {
    *at = n;
    at = &n->next;
    n->net = net;
    if (!net->source && (n->dir == K_OUTPUT || n->dir == K_TRISTATE)) net->source = n;
  }
  return net;
}

int count(Node* n) {
  int k = 0;
  for (; n; n = n->next) ++k;
  return k;
}

int children(TreeCell* c) {
  int k = 0;
  for (TreeCell* d = c->child; d; d = d->sibling) ++k;
  return k;
}

TreeCell* child_for(TreeCell* c, Module* m) {
  for (TreeCell* d = c->child; d; d = d->sibling)
    if (d->module == m) return d;
  return nullptr;
}

// The nets of a module that were added since `before` (the old head).
std::vector<Net*> new_nets(Module* m, Net* before) {
  std::vector<Net*> v;
  for (Net* n = m->nets; n && n != before; n = n->next) v.push_back(n);
  return v;
}

Pin* new_pin(Module* m) {
  for (Pin* p : pins_of(m))
    if (!p->name) return p;
  return nullptr;
}

}  // namespace

TEST(NetTree, CommonAncestor) {
  load_tree_design();
  T t = mods();
  EXPECT_EQ(yca(t.z, t.y), t.top);
  EXPECT_EQ(yca(t.z, t.x), t.x);
  EXPECT_EQ(yca(t.x, t.z), t.x);
  EXPECT_EQ(yca(nullptr, t.y), t.y);
  EXPECT_EQ(yca(t.z, t.z), t.z);
}

TEST(NetTree, NetInOneModuleCopy) {
  load_tree_design();
  T t = mods();
  Net* net = net_of({on(t.x, "g1", "out", K_OUTPUT), on(t.x, "g2", "i1", K_INPUT, 1),
                     on(t.x, "g3", "i1", K_INPUT, 1)});
  TreeCell* tree = h_net(net);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->module, t.x);
  EXPECT_EQ(tree->child, nullptr);
  EXPECT_EQ(count(tree->nodes), 3);
  pin_type_check(tree, NET_SIGNAL);
  Net* old_x = t.x->nets;
  Pin* old_pins = t.x->pins;
  make_link(tree);
  deliver_net(tree, NET_SIGNAL);
  EXPECT_EQ(t.x->pins, old_pins);
  auto nets = new_nets(t.x, old_x);
  ASSERT_EQ(nets.size(), 1u);
  EXPECT_EQ(count(nets[0]->nodes), 3);
  EXPECT_EQ(nets[0]->source->target, instance_f("g1", t.x));
  for (Node* n : nodes_of(nets[0])) EXPECT_EQ(n->net, nets[0]);
}

TEST(NetTree, NetBetweenSiblingCopies) {
  load_tree_design();
  T t = mods();
  Net* net = net_of({on(t.x, "g1", "out", K_OUTPUT), on(t.y, "g1", "i1", K_INPUT)});
  TreeCell* tree = h_net(net);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->module, t.top);
  EXPECT_EQ(tree->nodes, nullptr);
  EXPECT_EQ(children(tree), 2);

  pin_type_check(tree, NET_SIGNAL);
  EXPECT_EQ(child_for(tree, t.x)->port_dir, K_OUTPUT);
  EXPECT_EQ(child_for(tree, t.y)->port_dir, K_INPUT);

  Net* old_top = t.top->nets;
  Net* old_x = t.x->nets;
  Net* old_y = t.y->nets;
  make_link(tree);
  deliver_net(tree, NET_SIGNAL);
  // the parent joins the two instance-side Nodes
  auto top_nets = new_nets(t.top, old_top);
  ASSERT_EQ(top_nets.size(), 1u);
  ASSERT_EQ(count(top_nets[0]->nodes), 2);
  for (Node* n : nodes_of(top_nets[0])) {
    ASSERT_NE(n->pair, nullptr);
    EXPECT_EQ(n->pair->pair, n);
    EXPECT_TRUE(n->target == t.x->inst || n->target == t.y->inst);
  }
  // each copy gets a port and a net from it to its own Nodes
  Pin* px = new_pin(t.x);
  Pin* py = new_pin(t.y);
  ASSERT_TRUE(px && py);
  EXPECT_EQ(px->dir, K_OUTPUT);
  EXPECT_EQ(py->dir, K_INPUT);
  auto xn = new_nets(t.x, old_x);
  auto yn = new_nets(t.y, old_y);
  ASSERT_EQ(xn.size(), 1u);
  ASSERT_EQ(yn.size(), 1u);
  EXPECT_EQ(count(xn[0]->nodes), 2);
  EXPECT_EQ(xn[0]->nodes->target, px);  // the port-side Node is pushed first
  EXPECT_EQ(yn[0]->nodes->target, py);
}

TEST(NetTree, NetThatSkipsALevel) {
  load_tree_design();
  T t = mods();
  Net* net = net_of({on(t.top, "g1", "out", K_OUTPUT), on(t.z, "g2", "i1", K_INPUT),
                     on(t.top, "g2", "i2", K_INPUT)});
  TreeCell* tree = h_net(net);
  ASSERT_EQ(tree->module, t.top);
  EXPECT_EQ(count(tree->nodes), 2);
  TreeCell* cx = child_for(tree, t.x);
  ASSERT_NE(cx, nullptr);
  EXPECT_EQ(cx->nodes, nullptr);  // X holds nothing of the net but gets a cell
  TreeCell* cz = child_for(cx, t.z);
  ASSERT_NE(cz, nullptr);

  pin_type_check(tree, NET_SIGNAL);
  EXPECT_EQ(cx->port_dir, K_INPUT);
  EXPECT_EQ(cz->port_dir, K_INPUT);
  Net* old_x = t.x->nets;
  make_link(tree);
  deliver_net(tree, NET_SIGNAL);
  // X joins its new port to its instance of Z
  auto xn = new_nets(t.x, old_x);
  ASSERT_EQ(xn.size(), 1u);
  ASSERT_EQ(count(xn[0]->nodes), 2);
  bool port = false, inst = false;
  for (Node* n : nodes_of(xn[0])) {
    port |= n->target == new_pin(t.x);
    inst |= n->target == t.z->inst;
  }
  EXPECT_TRUE(port && inst);
}

TEST(NetTree, RootMovesUpWhenANodeLiesAbove) {
  load_tree_design();
  T t = mods();
  // first Z, then X above it, then Y beside: the root ends at the top module
  Net* net = net_of({on(t.z, "g1", "i1", K_INPUT), on(t.x, "g1", "out", K_OUTPUT),
                     on(t.y, "g1", "i1", K_INPUT)});
  TreeCell* tree = h_net(net);
  ASSERT_EQ(tree->module, t.top);
  TreeCell* cx = child_for(tree, t.x);
  ASSERT_NE(cx, nullptr);
  EXPECT_EQ(count(cx->nodes), 1);
  ASSERT_NE(child_for(cx, t.z), nullptr);
  EXPECT_NE(child_for(tree, t.y), nullptr);
  pin_type_check(tree, NET_SIGNAL);
  EXPECT_EQ(cx->port_dir, K_OUTPUT);
  EXPECT_EQ(child_for(cx, t.z)->port_dir, K_INPUT);
  EXPECT_EQ(child_for(tree, t.y)->port_dir, K_INPUT);
}

TEST(PortDirections, TristateDriversInTwoSiblings) {
  load_tree_design();
  T t = mods();
  // X holds its buffer alone; Y its buffer and an input load
  Net* net = net_of({on(t.x, "t1", "out", K_TRISTATE), on(t.y, "t1", "out", K_TRISTATE),
                     on(t.y, "g1", "i1", K_INPUT), on(t.top, "g1", "i1", K_INPUT)},
                    K_TRISTATE);
  TreeCell* tree = h_net(net);
  pin_type_check(tree, K_TRISTATE);
  TreeCell* cx = child_for(tree, t.x);
  TreeCell* cy = child_for(tree, t.y);
  EXPECT_TRUE(cx->inward && cx->outward);
  EXPECT_TRUE(cy->inward && cy->outward);
  EXPECT_EQ(cx->port_dir, K_TRISTATE);
  EXPECT_EQ(cy->port_dir, K_BIDIRECT);
}

TEST(PortDirections, NoDriverGivesOutputsOrTristate) {
  load_tree_design();
  T t = mods();
  Net* a = net_of({on(t.x, "g1", "i1", K_INPUT), on(t.y, "g1", "i1", K_INPUT)});
  TreeCell* tree = h_net(a);
  pin_type_check(tree, NET_SIGNAL);
  EXPECT_EQ(child_for(tree, t.x)->port_dir, K_OUTPUT);
  Net* b = net_of({on(t.x, "g2", "i1", K_INPUT), on(t.y, "g2", "i1", K_INPUT)}, K_TRISTATE);
  tree = h_net(b);
  pin_type_check(tree, K_TRISTATE);
  EXPECT_EQ(child_for(tree, t.y)->port_dir, K_TRISTATE);
}

TEST(DivNet, InverterInLowestCopyHoldingComplementLoadsAndDriver) {
  load_tree_design();
  T t = mods();
  Node* drv = on(t.x, "g1", "out", K_OUTPUT, 0);
  Node* l1 = on(t.z, "g1", "i1", K_INPUT, -1);
  Node* l2 = on(t.top, "g1", "i1", K_INPUT, 1);
  Node* l3 = on(t.z, "g2", "i1", K_INPUT, -1);
  Net* net = net_of({drv, l1, l2, l3});
  Instance* old_x = t.x->insts;
  EXPECT_EQ(div_net(net), net);
  Net* comp = net->next;
  ASSERT_NE(comp, nullptr);
  EXPECT_EQ(comp->type, NET_SIGNAL);
  Instance* inv = comp->source->target;
  EXPECT_EQ(inv->cls, C_INV);
  EXPECT_EQ(inv->name, nullptr);
  // loads in Z, driver in X: the inverter sits in X
  EXPECT_EQ(inv->owner, t.x);
  EXPECT_EQ(t.x->insts, inv);
  EXPECT_EQ(inv->next, old_x);
  // complement net: l3 (pushed at the head), l1, the inverter's output
  ASSERT_EQ(count(comp->nodes), 3);
  EXPECT_EQ(comp->nodes, l3);
  EXPECT_EQ(comp->nodes->next, l1);
  EXPECT_EQ(comp->nodes->next->next, comp->source);
  EXPECT_STREQ(comp->source->pin_name, "nout");
  // the net keeps its other Nodes, reversed around the inverter's input
  ASSERT_EQ(count(net->nodes), 3);
  EXPECT_EQ(net->nodes, l2);
  EXPECT_EQ(net->nodes->next->target, inv);
  EXPECT_STREQ(net->nodes->next->pin_name, "in");
  EXPECT_EQ(net->nodes->next->next, drv);
}

TEST(DivNet, NetWithoutComplementLoadOnlyReverses) {
  load_tree_design();
  T t = mods();
  Node* a = on(t.x, "g1", "out", K_OUTPUT, 0);
  Node* b = on(t.y, "g1", "i1", K_INPUT, 1);
  Net* net = net_of({a, b});
  div_net(net);
  EXPECT_EQ(net->next, nullptr);
  EXPECT_EQ(net->nodes, b);
  EXPECT_EQ(b->next, a);
}

TEST(DivNet, TristateBusWidensToEveryBuffer) {
  load_tree_design();
  T t = mods();
  Net* net = net_of({on(t.z, "t1", "out", K_TRISTATE, 0), on(t.y, "t1", "out", K_TRISTATE, 0),
                     on(t.z, "g1", "i1", K_INPUT, -1)},
                    K_TRISTATE);
  div_net(net);
  ASSERT_NE(net->next, nullptr);
  EXPECT_EQ(net->next->source->target->owner, t.top);
}

TEST(ConstantNets, EveryCopyGetsItsOwnConstantCell) {
  load_tree_design();
  T t = mods();
  Node* h = on(t.x, "h1", "out", K_OUTPUT, 0);
  Net* net = net_of({h, on(t.y, "g1", "i1", K_INPUT), on(t.top, "g1", "i1", K_INPUT),
                     on(t.z, "g1", "i1", K_INPUT)});
  TreeCell* tree = h_net(net);
  Instance* old_y = t.y->insts;
  Instance* old_z = t.z->insts;
  Net* old_x = t.x->nets;
  high_low_nethier(tree, C_HIGH);
  deliver_net(tree, NET_SIGNAL);
  // X holds only the driving cell: it loses its part of the net
  EXPECT_EQ(t.x->nets, old_x);
  // Y and Z get a cell of their own, as the net's source there
  for (auto [m, old] : {std::pair{t.y, old_y}, std::pair{t.z, old_z}}) {
    Instance* c = m->insts;
    ASSERT_NE(c, old);
    EXPECT_EQ(c->cls, C_HIGH);
    EXPECT_STREQ(c->name, "high-");
    EXPECT_STREQ(c->node->pin_name, "out");
    EXPECT_EQ(m->nets->source, c->node);
    EXPECT_EQ(count(m->nets->nodes), 2);
  }
  // no port anywhere
  EXPECT_EQ(new_pin(t.x), nullptr);
  EXPECT_EQ(new_pin(t.z), nullptr);
}

TEST(ConstantNets, LowCellPinIsNout) {
  load_tree_design();
  T t = mods();
  Node* l = on(t.top, "h1", "out", K_OUTPUT, 0);
  l->target->cls = C_LOW;
  Net* net = net_of({l, on(t.y, "g1", "i1", K_INPUT)});
  TreeCell* tree = h_net(net);
  high_low_nethier(tree, C_LOW);
  EXPECT_EQ(tree->nodes, nullptr);  // the top module held the driving cell alone
  Instance* c = t.y->insts;
  EXPECT_EQ(c->cls, C_LOW);
  EXPECT_STREQ(c->name, "low-");
  EXPECT_STREQ(c->node->pin_name, "nout");
}

TEST(SupplyNets, GlobalPortPerCopyAndNoSecondPortOfTheSupplysName) {
  load_tree_design();
  T t = mods();
  // the top module's input port VDD drives the net
  Pin* vdd = pin_f("VDD", t.top);
  Node* src = make<Node>();
  src->target = vdd;
  src->pin_name = vdd->name;
  src->dir = K_INPUT;
  // Z holds a global port VDD of its own and nothing else
  Pin* zg = make<Pin>();
  zg->cls = C_PIN;
  zg->dir = K_GLOBAL;
  zg->name = arena_strdup("VDD");
  zg->owner = t.z;
  zg->next = t.z->pins;
  t.z->pins = zg;
  Node* zn = make<Node>();
  zn->target = zg;
  zn->pin_name = zg->name;
  zn->dir = K_GLOBAL;
  Net* net = net_of({src, on(t.top, "g1", "i1", K_INPUT), on(t.y, "g1", "i1", K_INPUT), zn,
                     on(t.x, "g1", "i1", K_INPUT)});
  Pin* top_pins = t.top->pins;
  Pin* z_pins = t.z->pins;
  TreeCell* tree = h_net(net);
  vdd_vss_nethier(tree, C_HIGH);
  // no second "VDD" in the top module
  EXPECT_EQ(t.top->pins, top_pins);
  EXPECT_EQ(count(tree->nodes), 2);
  // Y and X get a global port VDD driving their part
  for (Module* m : {t.y, t.x}) {
    Pin* p = m->pins;
    EXPECT_EQ(p->dir, K_GLOBAL);
    EXPECT_STREQ(p->name, "VDD");
    EXPECT_EQ(p->node->target, p);
    EXPECT_EQ(p->node->pin_name, p->name);
    TreeCell* c = m == t.y ? child_for(tree, t.y) : child_for(tree, t.x);
    EXPECT_EQ(c->source, p->node);
  }
  // Z's part held only its own global port: it is emptied, no port added
  EXPECT_EQ(t.z->pins, z_pins);
  EXPECT_EQ(child_for(child_for(tree, t.x), t.z)->nodes, nullptr);
}
