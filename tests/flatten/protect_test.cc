// Protection of irreversible nets and its resolution, and the failures of the
// net surgery.
#include <string>

#include "flatten_fixture.h"

namespace vorq_test {
namespace {

using namespace vorq;
using W = std::pair<int, int>;

Instance* sticky_named(const char* name) {
  for (Module* m : modules())
    for (Instance* c : insts_of(m))
      if ((c->cls == C_STICKY || c->cls == C_STICKY_TS) && c->name && std::strcmp(c->name, name) == 0) return c;
  return nullptr;
}
Node* sticky_pin(Instance* s, int dir) {
  for (Node* n : ring_of(s))
    if (n->dir == dir) return n;
  return nullptr;
}
int stickies() {
  int k = 0;
  for (Module* m : modules())
    for (Instance* c : insts_of(m)) k += c->cls == C_STICKY || c->cls == C_STICKY_TS;
  return k;
}

const char* kPadToInverter = R"((def-module top (def-pin p type bidirect) (def-pin y type output)
  (def-comp inv- i1) (def-comp and--2 g1)
  (def-net p i1.in)
  (def-net i1.nout g1.in1)
  (def-net g1.out y)))";

// A pad net feeding an inverter: the inverter's input moves behind sticky-0,
// the inverter is absorbed, and unprotection removes the straight sticky,
// the loads keeping their weights and the joined net its real driver.
TEST_F(FlattenTest, StraightStickyRemoved) {
  load(kPadToInverter);
  ASSERT_EQ(run_flat(), 1);
  Instance* s = sticky_named("sticky-0");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->cls, C_STICKY);
  EXPECT_EQ(s->owner, top);
  Node* si = sticky_pin(s, K_INPUT);
  Node* so = sticky_pin(s, K_OUTPUT);
  ASSERT_TRUE(si && so);
  EXPECT_TRUE(same(si->pin_name, "i"));
  EXPECT_TRUE(same(so->pin_name, "o"));
  Net* pad = port("", "p")->net;
  EXPECT_EQ(si->net, pad);
  EXPECT_TRUE(pad->irreversible);
  EXPECT_EQ(weights(si), W(1, 1));
  Node* g = pin("", "g1", "in1");
  EXPECT_EQ(so->net, g->net);
  EXPECT_EQ(weights(g), W(-1, -1));
  EXPECT_EQ(g->net->source, so);

  ASSERT_EQ(run_unprotect(), 1);
  EXPECT_EQ(stickies(), 0);
  Net* joined = port("", "p")->net;
  EXPECT_EQ(g->net, joined);
  EXPECT_EQ(weights(g), W(-1, -1));
  EXPECT_EQ(count_nodes(joined), 2);
  EXPECT_EQ(joined->source, port("", "p"));  // not the removed sticky's output
  EXPECT_FALSE(in_flat_list(pad));
  EXPECT_EQ(count_nets(top), 2);

  // negated by the reduction, the sticky is twisted; its out-net may flip
  load(kPadToInverter);
  ASSERT_EQ(run_flat(), 1);
  toggle_negate(sticky_named("sticky-0"));
  ASSERT_EQ(run_unprotect(), 1);
  EXPECT_EQ(stickies(), 0);
  EXPECT_EQ(weights(pin("", "g1", "in1")), W(1, 1));
  EXPECT_EQ(pin("", "g1", "in1")->net, port("", "p")->net);
}

// An inverter driving a pad net: its output moves behind a sticky that ends
// twisted; the pad net cannot flip, so the sticky becomes an inverter whose
// input no longer asks for a second inversion.
TEST_F(FlattenTest, TwistedStickyBecomesInverter) {
  load(R"((def-module top (def-pin a type input) (def-pin p type bidirect)
    (def-comp inv- i1) (def-net a i1.in) (def-net i1.nout p)))");
  ASSERT_EQ(run_flat(), 1);
  Instance* s = sticky_named("sticky-0");
  ASSERT_NE(s, nullptr);
  Node* si = sticky_pin(s, K_INPUT);
  Node* so = sticky_pin(s, K_OUTPUT);
  EXPECT_EQ(si->net, port("", "a")->net);
  EXPECT_EQ(weights(si), W(-1, -1));
  EXPECT_EQ(so->net, port("", "p")->net);

  ASSERT_EQ(run_unprotect(), 1);
  EXPECT_EQ(s->cls, C_INV);
  EXPECT_TRUE(same(s->name, "sticky-0"));
  EXPECT_TRUE(same(si->pin_name, "in"));
  EXPECT_TRUE(same(so->pin_name, "nout"));
  EXPECT_EQ(weights(si), W(1, 1));
  EXPECT_EQ(si->net, port("", "a")->net);
  EXPECT_EQ(so->net, port("", "p")->net);
  EXPECT_EQ(stickies(), 0);
}

// A straight sticky between two nets that both have other loads and drivers
// stays as a buffer.
TEST_F(FlattenTest, StickyKeptAsBuffer) {
  load(R"((def-module top (def-pin p type bidirect) (def-pin e type input) (def-pin y type output)
    (def-comp inv- i1) (def-comp and--2 g1 g2) (def-comp ts_buf- t1)
    (def-net p i1.in g2.in1)
    (def-net i1.nout g1.in1 t1.out)
    (def-net e t1.in t1.nenb)
    (def-net g1.out y)))");
  ASSERT_EQ(run_flat(), 1);
  Instance* s = sticky_named("sticky-0");
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(run_unprotect(), 1);
  EXPECT_EQ(s->cls, C_NINV);
  Node* si = sticky_pin(s, K_INPUT);
  Node* so = sticky_pin(s, K_OUTPUT);
  EXPECT_TRUE(same(si->pin_name, "in"));
  EXPECT_TRUE(same(so->pin_name, "out"));
  EXPECT_EQ(weights(si), W(1, 1));
  EXPECT_EQ(si->net, port("", "p")->net);
  EXPECT_EQ(so->net, pin("", "g1", "in1")->net);
  EXPECT_EQ(weights(pin("", "g1", "in1")), W(-1, -1));
}

// An inverter between two pads: both pins are protected and it is never
// absorbed. On equal counts the untyped private nets must not absorb the pad
// nets: every connection survives unprotection.
TEST_F(FlattenTest, UntypedPrivateNetNeverAbsorbsPadNet) {
  load(R"((def-module top (def-pin p1 type bidirect) (def-pin p2 type bidirect)
    (def-comp inv- i1) (def-net p1 i1.in) (def-net i1.nout p2)))");
  ASSERT_EQ(run_flat(), 1);
  EXPECT_EQ(stickies(), 2);
  EXPECT_EQ(count_nets(top), 4);
  ASSERT_EQ(run_unprotect(), 1);
  EXPECT_EQ(stickies(), 0);
  Net* n1 = port("", "p1")->net;
  Net* n2 = port("", "p2")->net;
  // the surviving nets keep a type: untyped nets are not written
  EXPECT_TRUE(in_flat_list(n1));
  EXPECT_TRUE(in_flat_list(n2));
  EXPECT_EQ(n1->type, K_TRISTATE);
  EXPECT_EQ(n2->type, NET_SIGNAL);  // i1.nout came after p2
  EXPECT_EQ(pin("", "i1", "in")->net, n1);
  EXPECT_EQ(pin("", "i1", "nout")->net, n2);
  EXPECT_TRUE(on_net(pin("", "i1", "in"), n1));
  EXPECT_TRUE(on_net(pin("", "i1", "nout"), n2));
  EXPECT_EQ(count_nets(top), 2);
  EXPECT_EQ(n1->source, port("", "p1"));
}

// Both sides of one boundary protected (a pad outside, a bidirectional cell
// inside): flattening keeps the two private nets apart, and unprotection,
// with both stickies gone, merges the boundary like any other.
TEST_F(FlattenTest, BoundaryProtectedOnBothSides) {
  load(R"((def-module top (def-pin p type bidirect) (def-comp m u1) (def-net p u1.a)))",
       {{"m.nld", R"((def-module m (def-pin a type input) (def-comp PADX x1) (def-comp and--2 g)
          (def-net a x1.io g.in1)))"},
        {"PADX.pcd", "(def-module PADX (def-pin io type bidirect))"}});
  ASSERT_EQ(run_flat(), 1);
  EXPECT_EQ(stickies(), 2);
  Node* ua = pin("", "u1", "a");
  Node* a = port("u1", "a");
  EXPECT_EQ(ua->net->type, 0);
  EXPECT_EQ(a->net->type, 0);
  EXPECT_NE(ua->net, a->net);
  EXPECT_EQ(ua->pair, nullptr);

  ASSERT_EQ(run_unprotect(), 1);
  EXPECT_EQ(stickies(), 0);
  Net* net = port("", "p")->net;
  EXPECT_EQ(net->type, K_TRISTATE);
  EXPECT_EQ(pin("u1", "x1", "io")->net, net);
  EXPECT_EQ(pin("u1", "g", "in1")->net, net);
  EXPECT_EQ(count_nodes(net), 3);
  EXPECT_EQ(ua->pair, a);
  EXPECT_EQ(a->pair, ua);
  EXPECT_FALSE(on_net(ua, ua->net));
  EXPECT_FALSE(on_net(a, a->net));
  EXPECT_TRUE(on_net(net->source, net));
  EXPECT_EQ(count_nets(top), 1);
}

const char* kTristateOut = R"((def-module top (def-pin p type bidirect) (def-pin e type input)
  (def-comp tsm u1) (def-comp and--2 g2)
  (def-net p u1.t g2.in1) (def-net e u1.e)))";
const char* kTsm = R"((def-module tsm (def-pin t type tristate) (def-pin e type input)
  (def-comp ts_buf- b) (def-comp and--2 g)
  (def-net e b.nenb b.in g.in1) (def-net b.out t g.in2)))";

// A tristate sticky passes high impedance, which no buffer or inverter does:
// straight it is removed whatever its counts, twisted the unprotection fails.
TEST_F(FlattenTest, TristateStickyOnlyRemoved) {
  load(kTristateOut, {{"tsm.nld", kTsm}});
  ASSERT_EQ(run_flat(), 1);
  Instance* s = sticky_named("sticky-0");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->cls, C_STICKY_TS);
  ASSERT_EQ(run_unprotect(), 1);
  EXPECT_EQ(stickies(), 0);
  Net* bus = port("", "p")->net;
  Node* drv = pin("u1", "b", "out");
  EXPECT_EQ(drv->net, bus);
  EXPECT_EQ(pin("u1", "g", "in2")->net, bus);
  EXPECT_EQ(bus->source, drv);

  load(kTristateOut, {{"tsm.nld", kTsm}});
  ASSERT_EQ(run_flat(), 1);
  toggle_negate(sticky_named("sticky-0"));
  EXPECT_EQ(run_unprotect(), 0);
}

// An inverter between a tristate bus and a pad: the sticky behind its output
// always drives the pad. Twisted it becomes an inverter; straight it stays a
// buffer, since the bus alone would leave the pad undriven while disabled.
TEST_F(FlattenTest, StickyAfterTristateBusKeepsDrivingPad) {
  const char* design = R"((def-module top (def-pin a type input) (def-pin e type input)
    (def-pin p type bidirect) (def-comp ts_buf- t1) (def-comp inv- i1)
    (def-net a t1.in) (def-net e t1.nenb) (def-net t1.out i1.in) (def-net i1.nout p)))";
  load(design);
  ASSERT_EQ(run_flat(), 1);
  Instance* s = sticky_named("sticky-0");
  ASSERT_NE(s, nullptr);
  Node* si = sticky_pin(s, K_INPUT);
  Node* so = sticky_pin(s, K_OUTPUT);
  EXPECT_EQ(si->net, pin("", "t1", "out")->net);
  EXPECT_EQ(weights(si), W(-1, -1));
  ASSERT_EQ(run_unprotect(), 1);
  EXPECT_EQ(s->cls, C_INV);

  load(design);
  ASSERT_EQ(run_flat(), 1);
  s = sticky_named("sticky-0");
  ASSERT_NE(s, nullptr);
  toggle_negate(s);
  ASSERT_EQ(run_unprotect(), 1);
  EXPECT_EQ(stickies(), 0);
  EXPECT_EQ(s->cls, C_NINV);
  si = sticky_pin(s, K_INPUT);
  so = sticky_pin(s, K_OUTPUT);
  EXPECT_TRUE(same(si->pin_name, "in"));
  EXPECT_TRUE(same(so->pin_name, "out"));
  EXPECT_EQ(weights(si), W(1, 1));
  EXPECT_EQ(si->net, pin("", "t1", "out")->net);
  EXPECT_EQ(so->net, port("", "p")->net);
  EXPECT_NE(pin("", "t1", "out")->net, port("", "p")->net);
}

// The failures of the net surgery, each with its message.
TEST_F(FlattenTest, SurgeryFailures) {
  load(R"((def-module top (def-pin a type input) (def-pin p type bidirect) (def-pin y type output)
    (def-comp inv- i1 i2) (def-comp high- h1) (def-comp and--2 g1)
    (def-net a i1.in) (def-net i1.nout p) (def-net i2.in h1.out) (def-net i2.nout y)))");
  use_check(top);
  init_weight(top);
  net_type_set_wt_ctr_source(top);
  auto err_of = [](auto f) {
    testing::internal::CaptureStderr();
    auto r = f();
    std::string e = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(r);
    return e;
  };
  Node* in1 = pin("", "i1", "in");
  Node* out1 = pin("", "i1", "nout");
  Net* a_net = in1->net;

  // a Node taken from a net that does not hold it; a net from a module that does not hold it
  Node* stray = make<Node>();
  stray->net = a_net;
  EXPECT_EQ(err_of([&] { return delete_node(stray); }),
            "vorq: inconsistent operation occured: pin isolation from a foreign net, sorry.\n");
  Module* other = make<Module>();
  EXPECT_EQ(err_of([&] { return delete_net(a_net, other); }),
            "vorq: inconsistent operation occured: net isolation from a foreign module, sorry.\n");
  EXPECT_EQ(err_of([&] { return unlink_instance(inst("", "i1"), other); }), "");

  // an inverter whose output net is irreversible cannot be merged into weights
  EXPECT_EQ(err_of([&] { return merge_net(in1, out1, top); }),
            "vorq: irreversible net attempted to be merged (impossible), sorry.\n");
  // the output net not in the module given
  Node* in2 = pin("", "i2", "in");
  EXPECT_EQ(err_of([&] { return merge_net(pin("", "i2", "nout"), in2, other); }),
            "vorq: internal net representation colapsed, sorry.\n");
  // a constant net into an empty one
  Net* empty = make<Net>();
  Net* h = pin("", "h1", "out")->net;
  h->source = pin("", "h1", "out");
  EXPECT_EQ(err_of([&] { return merge_net_h_l(empty, h); }), "vorq: empty net internally appered, sorry.\n");
}

}  // namespace
}  // namespace vorq_test
