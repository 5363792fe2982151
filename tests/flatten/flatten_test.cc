// Flattening, typing and weights on designs read from NLD text.
#include <string>

#include "flatten_fixture.h"

namespace vorq_test {
namespace {

using namespace vorq;
using W = std::pair<int, int>;

// A chain a -> i1 -> s1 -> i2 -> ... -> in, with one load g<k> on every stage;
// the stage nets in file order, or reversed (the chain is then met from its
// far end and the growing net is negated again and again).
std::string chain(int n, bool reversed) {
  std::string t = "(def-module top\n (def-pin a type input)\n";
  for (int k = 0; k <= n; k++) t += " (def-pin y" + std::to_string(k) + " type output)\n";
  t += " (def-comp inv-";
  for (int k = 1; k <= n; k++) t += " i" + std::to_string(k);
  t += ")\n (def-comp and--2";
  for (int k = 0; k <= n; k++) t += " g" + std::to_string(k);
  t += ")\n";
  std::string stages;
  for (int k = 0; k <= n; k++) {
    std::string K = std::to_string(k), K1 = std::to_string(k + 1);
    std::string net = " (def-net " + (k == 0 ? std::string("a") : "i" + K + ".nout") + " g" + K + ".in1";
    if (k < n) net += " i" + K1 + ".in";
    net += ")\n";
    stages = reversed ? net + stages : stages + net;
  }
  t += stages;
  for (int k = 0; k <= n; k++) t += " (def-net g" + std::to_string(k) + ".out y" + std::to_string(k) + ")\n";
  return t + ")\n";
}

// Every inverter of a chain becomes a weight: stage k loads carry (-1)^k,
// whichever end of the chain the scan meets first.
TEST_F(FlattenTest, InverterChainBecomesWeights) {
  for (bool reversed : {false, true}) {
    SCOPED_TRACE(reversed ? "reversed" : "in order");
    const int n = 7;
    load(chain(n, reversed));
    EXPECT_EQ(first_inv_num, n);
    ASSERT_EQ(run_flat(), 1);
    Net* net = port("", "a")->net;
    EXPECT_EQ(weights(port("", "a")), W(0, 0));
    EXPECT_EQ(net->source, port("", "a"));
    EXPECT_EQ(net->type, NET_SIGNAL);
    EXPECT_EQ(count_nodes(net), n + 2);  // a and every stage load
    for (int k = 0; k <= n; k++) {
      Node* g = pin("", ("g" + std::to_string(k)).c_str(), "in1");
      EXPECT_EQ(g->net, net) << k;
      int s = k % 2 ? -1 : 1;
      EXPECT_EQ(weights(g), W(s, s)) << k;
    }
    // the inverters stay instances, off every net
    for (int k = 1; k <= n; k++) {
      Instance* i = inst("", ("i" + std::to_string(k)).c_str());
      for (Node* x : ring_of(i)) EXPECT_FALSE(on_net(x, x->net));
    }
    EXPECT_EQ(count_nets(top), 1 + n + 1);
  }
}

// An inverter with an open output becomes a nameless buffer placeholder; one
// whose input net brings nothing more ends the scan of its net.
TEST_F(FlattenTest, OpenInverterOutput) {
  load(R"((def-module top
  (def-pin a type input) (def-pin a2 type input) (def-pin y type output)
  (def-comp inv- i1 i2) (def-comp and--2 g1)
  (def-net i1.in g1.in1 a)
  (def-net g1.out y)
  (def-net i2.nout)
  (def-net i2.in a2)
))");
  ASSERT_EQ(run_flat(), 1);
  Node* in = inst("", "i1")->node;
  ASSERT_NE(in, nullptr);
  Instance* ph = in->target;
  EXPECT_EQ(ph->cls, C_NINV);
  EXPECT_EQ(ph->name, nullptr);
  EXPECT_EQ(ph->node, in);
  EXPECT_EQ(ph->owner, top);
  EXPECT_EQ(weights(in), W(0, 0));
  EXPECT_EQ(in->net, port("", "a")->net);
  EXPECT_EQ(weights(pin("", "g1", "in1")), W(1, 1));
  EXPECT_EQ(count_class(C_NINV), 1);
  // i2: its input was the last Node of a2's net, its output net held nothing else
  Net* a2 = port("", "a2")->net;
  EXPECT_EQ(count_nodes(a2), 1);
  EXPECT_TRUE(in_flat_list(a2));
  EXPECT_EQ(count_nets(top), 3);
}

// An inverter driving something with nothing at its input cannot be absorbed;
// nor can one whose one pin is named in two nets.
TEST_F(FlattenTest, InverterWithoutInputAndOutputFails) {
  struct Case {
    const char* nets;
    const char* err;
  } cases[] = {
      {"(def-net i1.nout g1.in1)", "vorq: the inverter instance (i1) has floating input, sorry.\n"},
      {"(def-net i1.nout g1.in1) (def-net i1.nout g1.in2)",
       "vorq: the inverter instance (i1) has floating input, sorry.\n"},
      {"(def-net a i1.in g1.in1) (def-net b i1.in g1.in2)",
       "vorq: the inverter instance (i1) has its input in two nets, sorry.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nets);
    load(std::string(R"((def-module top (def-pin a type input) (def-pin b type input) (def-pin y type output)
      (def-comp inv- i1) (def-comp and--2 g1) (def-net g1.out y) )") + c.nets + ")");
    std::string err;
    EXPECT_EQ(run_flat(&err), 0);
    EXPECT_EQ(err, c.err);
  }
}

const char* kTop3 = R"((def-module top
  (def-pin a type input) (def-pin b type input)
  (def-pin y type output) (def-pin z type output) (def-pin y3 type output)
  (def-comp mid u1) (def-comp inv- i1) (def-comp and--2 g3)
  (def-net a i1.in)
  (def-net i1.nout u1.x)
  (def-net b u1.w u1.s)
  (def-net u1.q y)
  (def-net u1.r z)
  (def-net u1.z2 g3.in1)
  (def-net g3.out y3)
))";
const char* kMid = R"((def-module mid
  (def-pin x type input) (def-pin w type input) (def-pin s type input)
  (def-pin q type output) (def-pin r type output) (def-pin z2 type output)
  (def-comp leaf u2) (def-comp and--2 g1)
  (def-net x u2.p g1.in1)
  (def-net w g1.in2)
  (def-net g1.out r)
  (def-net u2.o q)
  (def-net u2.on z2)
))";
const char* kLeaf = R"((def-module leaf
  (def-pin p type input) (def-pin o type output) (def-pin on type output)
  (def-comp inv- i2) (def-comp or--2 g2)
  (def-net p g2.in1 i2.in)
  (def-net i2.nout g2.in2 on)
  (def-net g2.out o)
))";

// Boundaries through three levels dissolve in one pass, with the inversions
// carried across input ports (i1 outside) and output ports (i2 inside).
TEST_F(FlattenTest, MergesAcrossThreeLevels) {
  load(kTop3, {{"mid.nld", kMid}, {"leaf.nld", kLeaf}});
  Module* mid = module_at("u1");
  Module* leaf = module_at("u1/u2");
  ASSERT_TRUE(mid && leaf);
  ASSERT_EQ(run_flat(), 1);

  Net* net = port("", "a")->net;
  EXPECT_EQ(net->source, port("", "a"));
  EXPECT_EQ(pin("u1", "g1", "in1")->net, net);
  EXPECT_EQ(pin("u1/u2", "g2", "in1")->net, net);
  EXPECT_EQ(pin("u1/u2", "g2", "in2")->net, net);
  EXPECT_EQ(pin("", "g3", "in1")->net, net);
  EXPECT_EQ(weights(pin("u1", "g1", "in1")), W(-1, -1));
  EXPECT_EQ(weights(pin("u1/u2", "g2", "in1")), W(-1, -1));
  EXPECT_EQ(weights(pin("u1/u2", "g2", "in2")), W(1, 1));
  EXPECT_EQ(weights(pin("", "g3", "in1")), W(1, 1));
  EXPECT_EQ(count_nodes(net), 5);

  // the boundary Nodes are paired and off every net
  Node* ux = pin("", "u1", "x");
  Node* px = port("u1", "x");
  EXPECT_EQ(ux->pair, px);
  EXPECT_EQ(px->pair, ux);
  EXPECT_FALSE(on_net(ux, ux->net));
  EXPECT_FALSE(on_net(px, px->net));
  EXPECT_EQ(pin("u1", "u2", "p")->pair, port("u1/u2", "p"));

  // a pin whose port is unconnected inside stays as a boundary
  Node* us = pin("", "u1", "s");
  EXPECT_TRUE(us->boundary);
  EXPECT_EQ(weights(us), W(0, 0));
  EXPECT_EQ(us->net, port("", "b")->net);
  EXPECT_FALSE(port_pin("u1", "s")->used);
  EXPECT_TRUE(port_pin("u1", "x")->used);
  EXPECT_TRUE(port_pin("", "y")->used);

  // other nets: b with g1.in2; g1.out with z; g2.out with y; g3.out with y3
  EXPECT_EQ(pin("u1", "g1", "in2")->net, port("", "b")->net);
  EXPECT_EQ(pin("u1", "g1", "out")->net, port("", "z")->net);
  EXPECT_EQ(pin("u1/u2", "g2", "out")->net, port("", "y")->net);
  EXPECT_EQ(count_nets(top), 5);
  for (Net* n : nets_of(top)) EXPECT_NE(n->source, nullptr);

  // instance lists: the top keeps its own u1, mid's u2 goes to sub_insts
  EXPECT_EQ(mid->insts, nullptr);
  EXPECT_EQ(leaf->insts, nullptr);
  EXPECT_EQ(mid->nets, nullptr);
  ASSERT_NE(mid->sub_insts, nullptr);
  EXPECT_TRUE(same(mid->sub_insts->name, "u2"));
  EXPECT_EQ(mid->sub_insts->next, nullptr);
  EXPECT_EQ(inst("", "u1")->cls, C_MODULE);
  bool u1_flat = false, g2_flat = false;
  for (Instance* c : insts_of(top)) {
    u1_flat |= c == inst("", "u1");
    g2_flat |= c == inst("u1/u2", "g2");
  }
  EXPECT_TRUE(u1_flat);
  EXPECT_TRUE(g2_flat);
  EXPECT_EQ(inst("u1/u2", "g2")->owner, leaf);
}

// A feed-through whose two ports meet one outer net: the boundaries dissolve
// without joining the net to itself; with an inverter inside it is a loop that
// cannot be flattened.
TEST_F(FlattenTest, FeedThroughOnOneNet) {
  const char* top_text = R"((def-module top
    (def-pin x type input) (def-pin y type output)
    (def-comp ft u1) (def-comp and--2 g1)
    (def-net x u1.a u1.y g1.in1)
    (def-net g1.out y)
  ))";
  load(top_text, {{"ft.nld", "(def-module ft (def-pin a type input) (def-pin y type output) (def-net a y))"}});
  ASSERT_EQ(run_flat(), 1);
  Net* net = port("", "x")->net;
  EXPECT_EQ(count_nodes(net), 2);
  EXPECT_EQ(pin("", "g1", "in1")->net, net);
  EXPECT_EQ(pin("", "u1", "y")->pair, port("u1", "y"));
  EXPECT_EQ(pin("", "u1", "a")->pair, port("u1", "a"));

  load(top_text, {{"ft.nld", R"((def-module ft (def-pin a type input) (def-pin y type output)
      (def-comp inv- i1) (def-net a i1.in) (def-net i1.nout y)))"}});
  std::string err;
  EXPECT_EQ(run_flat(&err), 0);
  EXPECT_EQ(err, "vorq: internal net representation colapsed, sorry.\n");
}

// A read-only module and everything below it stay opaque; its instance is an
// ordinary instance of the flat netlist.
TEST_F(FlattenTest, ReadOnlyModuleStaysOpaque) {
  load(R"((def-module top (def-pin a type input) (def-pin y type output)
    (def-comp rom r1) (def-comp inv- i1)
    (def-net a i1.in) (def-net i1.nout r1.a) (def-net r1.y y)))",
       {{"sub.nld", R"((def-module sub (def-pin a type input) (def-pin y type output)
    (def-comp inv- i8) (def-net a i8.in) (def-net i8.nout y)))"}},
       {{"rom.nld", R"((def-module rom (def-pin a type input) (def-pin y type output)
    (def-comp sub s1) (def-comp inv- i9)
    (def-net a i9.in) (def-net i9.nout s1.a) (def-net s1.y y)))"}});
  EXPECT_EQ(first_inv_num, 3);
  Module* rom = module_at("r1");
  Module* sub = module_at("r1/s1");
  ASSERT_TRUE(rom && sub);
  EXPECT_EQ(sub->kind, KIND_WRITABLE);
  ASSERT_EQ(run_flat(), 1);
  EXPECT_EQ(rom->kind, KIND_READONLY);
  EXPECT_EQ(sub->kind, KIND_READONLY);
  // their instances and nets stay where they were
  EXPECT_NE(rom->insts, nullptr);
  EXPECT_NE(sub->insts, nullptr);
  EXPECT_EQ(count_nets(rom), 3);
  EXPECT_EQ(count_nets(sub), 2);
  for (const char* path : {"r1", "r1/s1"})
    for (Net* n : nets_of(module_at(path))) EXPECT_FALSE(in_flat_list(n));
  Node* i9 = pin("r1", "i9", "in");
  EXPECT_TRUE(on_net(i9, i9->net));
  EXPECT_EQ(pin("r1/s1", "i8", "in")->net, port("r1/s1", "a")->net);
  // the read-only instance is a load of the flat netlist, behind i1
  Node* ra = pin("", "r1", "a");
  EXPECT_EQ(ra->net, port("", "a")->net);
  EXPECT_EQ(weights(ra), W(-1, -1));
  EXPECT_FALSE(ra->boundary);
  EXPECT_EQ(pin("", "r1", "y")->net->source, pin("", "r1", "y"));
  EXPECT_EQ(count_nets(top), 2);
}

const char* kControl = R"((def-module top
  (def-pin clk type input) (def-pin en type input) (def-pin d type input) (def-pin ck2 type input)
  (def-pin ck3 type input) (def-pin y type output) (def-pin y2 type output) (def-pin y3 type output)
  (def-comp and--2 g1 g2) (def-comp inv- i1 i2) (def-comp reg-1 r1 r2) (def-comp bgate--2 b1)
  (def-comp csub u)
  (def-net clk i1.in)
  (def-net i1.nout g1.in1)
  (def-net en g1.in2)
  (def-net g1.out r1.m_clock)
  (def-net d r1.in r2.in b1.enb)
  (def-net r1.out i2.in)
  (def-net i2.nout g2.in1)
  (def-net g2.out y)
  (def-net ck2 b1.clock)
  (def-net b1.nout r2.m_clock)
  (def-net r2.out y2)
  (def-net ck3 u.c)
  (def-net u.o y3)
))";
const char* kCsub = R"((def-module csub (def-pin c type input note clock) (def-pin o type output)
  (def-comp and--2 g) (def-net c g.in1) (def-net g.out o)))";

// Control nets spread from clock pins through gates and inverters, both ways
// and across boundaries, and stop at registers and clocked gates.
TEST_F(FlattenTest, ControlNetsSpreadAndStop) {
  load(kControl, {{"csub.nld", kCsub}});
  ASSERT_EQ(run_flat(), 1);
  auto type_at = [&](const char* port_name) { return port("", port_name)->net->type; };
  EXPECT_EQ(type_at("clk"), NET_CONTROL);
  EXPECT_EQ(type_at("en"), NET_CONTROL);
  EXPECT_EQ(pin("", "g1", "out")->net->type, NET_CONTROL);
  EXPECT_EQ(pin("", "b1", "nout")->net->type, NET_CONTROL);
  EXPECT_EQ(type_at("ck3"), NET_CONTROL);
  EXPECT_EQ(type_at("y3"), NET_CONTROL);
  EXPECT_EQ(pin("u", "g", "in1")->net->type, NET_CONTROL);
  // registers and bgate--2 stop the spreading
  EXPECT_EQ(type_at("d"), NET_SIGNAL);
  EXPECT_EQ(type_at("ck2"), NET_SIGNAL);
  EXPECT_EQ(pin("", "r1", "out")->net->type, NET_SIGNAL);
  // the clock inverter stays a cell; the data inverter became a weight
  EXPECT_TRUE(on_net(pin("", "i1", "in"), port("", "clk")->net));
  EXPECT_EQ(pin("", "i1", "nout")->net, pin("", "g1", "in1")->net);
  EXPECT_EQ(weights(pin("", "g2", "in1")), W(-1, -1));
  // control flags
  for (const char* c : {"g1", "i1", "r1", "r2", "b1", "u"}) EXPECT_TRUE(inst("", c)->control) << c;
  for (const char* c : {"g2", "i2"}) EXPECT_FALSE(inst("", c)->control) << c;
  EXPECT_TRUE(inst("u", "g")->control);
  EXPECT_TRUE(port_pin("", "clk")->control);
  EXPECT_TRUE(port_pin("u", "c")->control);
  EXPECT_FALSE(port_pin("", "d")->control);
  // control nets of a sub-module stay in it
  for (Net* n : nets_of(module_at("u"))) EXPECT_EQ(n->type, NET_CONTROL);
  EXPECT_EQ(count_nets(module_at("u")), 2);
}

// A clock tree far deeper than any stack: the spreading must not recurse.
TEST_F(FlattenTest, DeepClockTree) {
  const int n = 300000;
  std::string t = "(def-module top (def-pin clk type input) (def-pin d type input) (def-pin q type output)\n";
  t += " (def-comp reg-1 r) (def-comp ninv-";
  for (int k = 0; k < n; k++) t += " b" + std::to_string(k);
  t += ")\n (def-net clk b0.in)\n";
  for (int k = 0; k + 1 < n; k++) t += " (def-net b" + std::to_string(k) + ".out b" + std::to_string(k + 1) + ".in)\n";
  t += " (def-net b" + std::to_string(n - 1) + ".out r.m_clock)\n (def-net d r.in) (def-net r.out q))\n";
  load(t);
  ASSERT_EQ(run_flat(), 1);
  EXPECT_EQ(port("", "clk")->net->type, NET_CONTROL);
  EXPECT_EQ(pin("", "b0", "out")->net->type, NET_CONTROL);
  EXPECT_EQ(port("", "d")->net->type, NET_SIGNAL);
  int control = 0;
  for (Instance* c : insts_of(top)) control += c->control;
  EXPECT_EQ(control, n + 1);
}

// Nets driven by high-, low-, "VDD" and "VSS" become one net each; the first
// net of each kind in the flat net list keeps its driver.
TEST_F(FlattenTest, ConstantAndSupplyNetsJoined) {
  load(R"((def-module top
    (def-pin VDD type global) (def-pin VSS type global) (def-pin y type output)
    (def-comp high- h1 h2) (def-comp low- l1 l2) (def-comp and--2 g1 g2 g3 g4 g5 g6 g7)
    (def-comp psub u)
    (def-net h1.out g1.in1)
    (def-net l1.nout g3.in1)
    (def-net h2.out g2.in1 g7.in1)
    (def-net l2.nout g4.in1)
    (def-net VDD g5.in1)
    (def-net VSS g6.in1)
    (def-net u.o y)))",
       {{"psub.nld", R"((def-module psub (def-pin VDD type global) (def-pin VSS type global)
    (def-pin o type output) (def-comp and--2 k)
    (def-net VDD k.in1) (def-net VSS k.in2) (def-net k.out o)))"}});
  ASSERT_EQ(run_flat(), 1);
  // h2's net comes first in the list (declared later): it is kept
  Net* high = pin("", "h2", "out")->net;
  EXPECT_EQ(high->source, pin("", "h2", "out"));
  EXPECT_EQ(pin("", "g1", "in1")->net, high);
  EXPECT_EQ(pin("", "g7", "in1")->net, high);
  EXPECT_EQ(count_nodes(high), 4);
  Node* h1 = pin("", "h1", "out");
  EXPECT_FALSE(on_net(h1, h1->net));
  Net* low = pin("", "l2", "nout")->net;
  EXPECT_EQ(pin("", "g3", "in1")->net, low);
  EXPECT_EQ(count_nodes(low), 3);
  // the supply ports of the sub-module join the top's
  Net* vdd = port("", "VDD")->net;
  EXPECT_EQ(vdd->source, port("", "VDD"));
  EXPECT_EQ(pin("u", "k", "in1")->net, vdd);
  EXPECT_EQ(count_nodes(vdd), 3);
  Net* vss = port("", "VSS")->net;
  EXPECT_EQ(pin("u", "k", "in2")->net, vss);
  Node* sub_vdd = port("u", "VDD");
  EXPECT_FALSE(on_net(sub_vdd, sub_vdd->net));
  int nets_with_constant = 0;
  for (Net* n : nets_of(top)) {
    int c = n->source->target->cls;
    nets_with_constant += c == C_HIGH || c == C_LOW || same(n->source->pin_name, "VDD") ||
                          same(n->source->pin_name, "VSS");
  }
  EXPECT_EQ(nets_with_constant, 4);
}

// Every failure of flat() with its exact message.
TEST_F(FlattenTest, FailureMessages) {
  struct Case {
    Files files;
    const char* err;  // a prefix for the unsourced net, whose address varies
  } cases[] = {
      {{{"top.nld", "(def-module top (def-pin a type input) (def-comp and--2 g1))"}},
       "vorq: internal net representation colapsed, or net set is empty, sorry.\n"},
      {{{"top.nld", "(def-module top (def-pin a type input) (def-pin y type output) (def-net a y))"}},
       "vorq: internal instance representation colapsed, or instance set is empty, sorry.\n"},
      {{{"top.nld", "(def-module top (def-pin a type input) (def-comp m u1) (def-net a u1.bogus))"},
        {"m.nld", "(def-module m (def-pin x type input) (def-comp and--2 g) (def-net x g.in1))"}},
       "vorq: sub-module instance (u1) does not match to its module defintion, net colapsed?\n"},
      {{{"top.nld", R"((def-module top (def-pin y type output) (def-pin z type output)
          (def-comp inv- i1) (def-comp and--2 g1 g2)
          (def-net i1.nout g1.in1) (def-net i1.in g2.in1) (def-net g1.out y) (def-net g2.out z)))"}},
       "vorq: net w/o source detected:\nNET:"},
      {{{"top.nld", R"((def-module top (def-pin a type input) (def-comp m u1) (def-net a u1.in1)))"},
        {"m.nld", R"((def-module m (def-pin in1 type input) (def-pin io type bidirect)
          (def-comp and--2 g) (def-net in1 g.in2) (def-net io g.in1)))"}},
       "vorq: find_node() detects a node pair (402, 425), which cannot be handled, sorry.\n"},
      {{{"top.nld", R"((def-module top (def-pin b type input) (def-comp m u1) (def-net b u1.io)))"},
        {"m.nld", R"((def-module m (def-pin io type bidirect) (def-comp and--2 g) (def-net io g.in1)))"}},
       "vorq: protect_the_node() receives a node of the type 257, which cannot be handled, sorry.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    load_design("top", c.files);
    std::string err;
    EXPECT_EQ(run_flat(&err), 0);
    EXPECT_EQ(err.substr(0, std::strlen(c.err)), c.err);
  }
  // the unsourced net in full: its Nodes with their weights
  load_design("top", cases[3].files);
  std::string err;
  ASSERT_EQ(run_flat(&err), 0);
  EXPECT_TRUE(testing::internal::RE::FullMatch(
      err, "vorq: net w/o source detected:\nNET:0x[0-9a-f]+:\\(291:0\\): \\[\\]: g1\\.in1\\(-1/-1\\) g2\\.in1\\(1/1\\) \n"))
      << err;
}

// Typing: bidirectional pins make a net irreversible (phase kept, wt 0), the
// later of an output and a tristate driver decides the type, a control-named
// input port is a source without a type; a module with no connected instance
// keeps none.
TEST_F(FlattenTest, TypingAndUseCheck) {
  load(R"((def-module top (def-pin scan_clock type input) (def-pin p type bidirect) (def-pin e type input)
    (def-pin y type output) (def-comp ts_buf- t1) (def-comp and--2 g1 g2) (def-comp sreg-1 r)
    (def-net scan_clock r.scan_clock)
    (def-net p g1.in1 y)
    (def-net e t1.nenb g2.in1)
    (def-net t1.out g1.out r.in)
    (def-net g2.out t1.in)
    (def-comp high- h)))");
  Module* m = top;
  use_check(m);
  init_weight(m);
  net_type_set_wt_ctr_source(m);
  Net* sc = port("", "scan_clock")->net;
  EXPECT_EQ(sc->type, 0);
  EXPECT_EQ(sc->source, port("", "scan_clock"));
  Net* pn = port("", "p")->net;
  EXPECT_TRUE(pn->irreversible);
  EXPECT_EQ(pn->type, K_TRISTATE);
  EXPECT_EQ(weights(port("", "p")), W(0, 1));
  EXPECT_EQ(weights(pin("", "g1", "in1")), W(1, 1));
  // file order t1.out, g1.out: the list holds t1.out last, so it decides
  EXPECT_EQ(pin("", "g1", "out")->net->type, K_TRISTATE);
  EXPECT_EQ(instance_f("h", m), nullptr);  // unconnected: dropped

  load(R"((def-module top (def-pin a type input) (def-comp m u) (def-net a u.a)))",
       {{"m.nld", "(def-module m (def-pin a type input) (def-comp and--2 g1 g2) (def-net))"}});
  Module* sub = module_at("u");
  use_check(sub);
  EXPECT_EQ(sub->insts, nullptr);
  EXPECT_EQ(sub->nets, nullptr);
  EXPECT_FALSE(port_pin("u", "a")->used);
}

}  // namespace
}  // namespace vorq_test
