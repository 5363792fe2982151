// Polarity application on flat netlists: classes, pin names, moved loads.
#include <gtest/gtest.h>

#include <string>

#include "design_util.h"
#include "flatten/flatten.h"
#include "reduce/polarity.h"

using namespace vorq;
using vorq_test::load_design;

namespace {

// Loads a one-module design and flattens it.
void flat_design(const std::string& body) {
  load_design("top", {{"top.nld", "(def-module top\n" + body + ")\n"}});
  ASSERT_EQ(flat(), 1);
}

Instance* inst(const char* name) {
  for (Instance* i : insts_of(top))
    if (i->name && std::string(i->name) == name) return i;
  return nullptr;
}

Node* pin_of(Instance* i, const char* pin) {
  for (Node* n : ring_of(i))
    if (n->pin_name && std::string(n->pin_name) == pin) return n;
  return nullptr;
}

bool in_list(Net* net) {
  for (Net* n : nets_of(top))
    if (n == net) return true;
  return false;
}

}  // namespace

TEST(Output, NegatedAndDualGatesTakeClassAndOutputPin) {
  flat_design(
      " (def-pin a type input)\n (def-pin b type input)\n (def-pin c type input)\n"
      " (def-pin y1 type output)\n (def-pin y2 type output)\n (def-pin y3 type output)\n"
      " (def-comp nand--3 g1)\n (def-comp eor--2 g2)\n (def-comp and--2 g3)\n"
      " (def-net a g1.in1 g2.in1 g3.in1)\n (def-net b g1.in2 g2.in2 g3.in2)\n"
      " (def-net c g1.in3)\n"
      " (def-net g1.nout y1)\n (def-net g2.out y2)\n (def-net g3.out y3)\n");
  set_polarity_flags(inst("g1"), false, true);
  set_polarity_flags(inst("g2"), true, false);
  set_polarity_flags(inst("g3"), true, false);
  output();
  EXPECT_EQ(inst("g1")->cls, C_AND);
  EXPECT_EQ(inst("g1")->width, 3);
  EXPECT_NE(pin_of(inst("g1"), "out"), nullptr);
  EXPECT_EQ(inst("g2")->cls, C_ENOR);
  EXPECT_NE(pin_of(inst("g2"), "nout"), nullptr);
  EXPECT_EQ(inst("g3")->cls, C_OR);
  EXPECT_NE(pin_of(inst("g3"), "out"), nullptr);
}

TEST(Output, ComplementLoadsOfHighMoveToANewLowCell) {
  flat_design(
      " (def-pin y type output)\n (def-pin z type output)\n"
      " (def-comp high- h1)\n (def-comp inv- n1)\n (def-comp and--2 g1)\n"
      " (def-net h1.out n1.in)\n (def-net n1.nout g1.in1 g1.in2)\n (def-net g1.out y)\n");
  Net* high = pin_of(inst("h1"), "out")->net;
  output();
  // the high- net is left with its driver alone and leaves the list
  EXPECT_FALSE(in_list(high));
  Instance* low = top->insts;
  ASSERT_EQ(low->cls, C_LOW);
  EXPECT_STREQ(low->name, "low-");
  EXPECT_STREQ(low->node->pin_name, "nout");
  Net* net = low->node->net;
  EXPECT_EQ(top->nets, net);
  EXPECT_EQ(net->source, low->node);
  EXPECT_EQ(net->type, NET_SIGNAL);
  for (Node* n : nodes_of(net)) EXPECT_NE(n->wt, -1);
}

TEST(Output, RegisterServesComplementLoadsFromItsOtherOutput) {
  flat_design(
      " (def-pin clk type input)\n (def-pin d type input)\n (def-pin e type input)\n"
      " (def-pin y type output)\n (def-pin z type output)\n"
      " (def-comp reg-1 r1 r2)\n (def-comp inv- n1 n2)\n (def-comp or--2 g1)\n"
      " (def-net clk r1.m_clock r2.m_clock)\n (def-net d r1.in)\n (def-net e r2.in)\n"
      // r1: out feeds an inverter, nout unconnected
      " (def-net r1.out n1.in g1.in1)\n (def-net n1.nout g1.in2)\n (def-net g1.out y)\n"
      // r2: its nout feeds only an inverter
      " (def-net r2.nout n2.in)\n (def-net n2.nout z)\n");
  Instance* r1 = inst("r1");
  Instance* r2 = inst("r2");
  ASSERT_EQ(pin_of(r1, "nout"), nullptr);
  Net* r2_nout = pin_of(r2, "nout")->net;
  output();
  // r1 gets an nout pin driving the complement load, in phase
  Node* nout = pin_of(r1, "nout");
  ASSERT_NE(nout, nullptr);
  EXPECT_EQ(nout->net->source, nout);
  EXPECT_EQ(nout->dir, K_OUTPUT);
  int loads = 0;
  for (Node* n : nodes_of(nout->net))
    if (n != nout) {
      ++loads;
      EXPECT_EQ(n->wt, 1);
    }
  EXPECT_EQ(loads, 1);
  // r2's nout net lost its only load: gone, and the pin left the ring
  EXPECT_FALSE(in_list(r2_nout));
  EXPECT_EQ(pin_of(r2, "nout"), nullptr);
  EXPECT_NE(pin_of(r2, "out"), nullptr);
}

TEST(Output, ComplementOfVddWithoutVssMakesAGlobalVssPort) {
  flat_design(
      " (def-pin VDD type global)\n (def-pin a type input)\n (def-pin y type output)\n"
      " (def-comp inv- n1)\n (def-comp and--2 g1)\n"
      " (def-net VDD n1.in g1.in2)\n (def-net n1.nout g1.in1)\n (def-net g1.out y)\n");
  output();
  Pin* vss = top->pins;
  EXPECT_STREQ(vss->name, "VSS");
  EXPECT_EQ(vss->dir, K_GLOBAL);
  ASSERT_NE(vss->node, nullptr);
  EXPECT_EQ(vss->node->pin_name, vss->name);
  EXPECT_EQ(vss->node->net->source, vss->node);
  EXPECT_EQ(pin_of(inst("g1"), "in1")->net, vss->node->net);
  EXPECT_EQ(pin_of(inst("g1"), "in1")->wt, 1);
}

TEST(Output, DeleteLinkLeavesARingOfOneAlone) {
  Instance* c = make<Instance>();
  Node* a = make<Node>();
  Node* b = make<Node>();
  Node* d = make<Node>();
  for (Node* n : {a, b, d}) n->target = c;
  a->ring = b;
  b->ring = d;
  d->ring = a;
  c->node = a;
  delete_link(a);
  EXPECT_EQ(d->ring, b);
  EXPECT_EQ(c->node, d);
  Node* alone = make<Node>();
  alone->target = c;
  alone->ring = alone;
  c->node = alone;
  delete_link(alone);
  EXPECT_EQ(alone->ring, alone);
  EXPECT_EQ(c->node, alone);
}
