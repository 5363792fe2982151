// Counts and weights of nets and modules, walked and running, and the flips.
#include "reduce_fixture.h"

namespace vorq_test {
namespace {

using namespace vorq;

const char* kLoads = R"((def-module top
  (def-pin a type input) (def-pin b type input) (def-pin c type input)
  (def-pin d type input) (def-pin e type input) (def-pin f type input)
  (def-pin VDD type global)
  (def-pin y1 type output) (def-pin y2 type output) (def-pin y3 type output)
  (def-pin y4 type output) (def-pin y5 type output) (def-pin y6 type output)
  (def-pin y7 type output) (def-pin y8 type output) (def-pin y9 type output)
  (def-pin y10 type output) (def-pin y11 type output) (def-pin y12 type output)
  (def-comp and--2 g1) (def-comp aoi--21 g2) (def-comp or--2 g3)
  (def-comp eor--2 x1) (def-comp enor--2 x2)
  (def-comp reg-1 r1) (def-comp sreg-1 s1) (def-comp high- h1)
  (def-comp inv- i1 i2 i3 i4 i5 i6 i7 i8 i9)
  (def-net a g1.in1 g2.a1 g3.in1)
  (def-net b g1.in2 g2.a2 g3.in2)
  (def-net c g2.b1)
  (def-net d x1.in2 x2.in2)
  (def-net e r1.in)
  (def-net f s1.in)
  (def-net g1.out y1 i1.in i2.in i3.in)
  (def-net i1.nout y2) (def-net i2.nout y3) (def-net i3.nout y4)
  (def-net g2.nout i4.in x2.in1 y5)
  (def-net i4.nout x1.in1)
  (def-net x1.out y6) (def-net x2.nout y7)
  (def-net r1.out i5.in) (def-net i5.nout y8)
  (def-net h1.out i6.in) (def-net i6.nout y9)
  (def-net VDD i7.in) (def-net i7.nout y10)
  (def-net s1.scan_out i8.in) (def-net i8.nout y11)
  (def-net g3.out i9.in) (def-net i9.nout y12)
))";

struct NetCounts {
  int inv, wt, balance;
};
NetCounts counts_of(Net* n) {
  return {count_inv_net(n), count_wt_net(n), count_wt_net_eor_enor_aside(n)};
}
void expect_counts(Net* n, NetCounts want, const char* what) {
  NetCounts got = counts_of(n);
  EXPECT_EQ(got.inv, want.inv) << what;
  EXPECT_EQ(got.wt, want.wt) << what;
  EXPECT_EQ(got.balance, want.balance) << what;
}

// Every net under both counts, walked and with running counts, with and
// without -a: mixed loads, loads on exclusive-OR cells, drivers that count 0.
TEST_F(ReduceTest, NetCountsByDriverClass) {
  for (int a : {0, 1}) {
    load(kLoads, a);
    for (bool running : {false, true}) {
      if (running) begin_counting();
      SCOPED_TRACE(testing::Message() << "-a " << a << " running " << running);
      expect_counts(net_of("g1", "out"), {1, a ? 1 : 3, -2}, "and- with 1 in-phase, 3 complement loads");
      expect_counts(net_of("g3", "out"), {a ? 0 : 1, a ? 0 : 1, -1}, "or- with 1 complement load");
      expect_counts(net_of("g2", "nout"), {0, 0, 1}, "complement load on eor- only");
      expect_counts(net_of("r1", "out"), {0, 0, -1}, "register");
      expect_counts(net_of("h1", "out"), {0, 0, -1}, "high-");
      expect_counts(port("VDD")->net, {0, 0, -1}, "VDD");
      expect_counts(net_of("s1", "scan_out"), {1, 1, -1}, "scan_out");
      EXPECT_EQ(count_inv(top), a ? 2 : 3);
      EXPECT_EQ(count_wt(), a ? 2 : 5);
      end_counting();
    }
  }
}

// Read-only modules count their inverter cells; inverters on control nets
// stay cells and are counted apart; primitive cells count nothing.
TEST_F(ReduceTest, ModuleCounts) {
  Files ro = {{"ro.nld", R"((def-module ro (def-pin p type input) (def-pin q type output)
      (def-comp inv- j1 j2) (def-net p j1.in) (def-net j1.nout j2.in) (def-net j2.nout q)))"},
              {"blk.pcd", "(def-module blk (def-pin p type input))"}};
  load(R"((def-module top (def-pin clk type input) (def-pin a type input) (def-pin y type output)
      (def-comp ro u1) (def-comp blk u2) (def-comp reg-1 r1) (def-comp inv- i1)
      (def-net clk i1.in) (def-net i1.nout r1.m_clock)
      (def-net a u1.p) (def-net u1.q r1.in) (def-net r1.out y u2.p)))",
       0, {}, ro);
  int ro_count = 0, pcd_count = 0;
  for (Module* m : modules()) {
    if (m->kind == KIND_READONLY) ro_count += count_inv(m);
    if (m->kind == KIND_PCD) pcd_count += count_inv(m) + count_control_inv(m);
  }
  EXPECT_EQ(ro_count, 2);
  EXPECT_EQ(pcd_count, 0);
  EXPECT_EQ(count_control_inv(top), 1);
  EXPECT_EQ(count_inv(top), 0);
}

// Flipping a gate twice restores it; a gate driving an irreversible net is
// never flipped, one with only an input there may be.
TEST_F(ReduceTest, FlipsAndReversibility) {
  load(R"((def-module top (def-pin a type input) (def-pin b type input) (def-pin p type bidirect)
      (def-pin y type output)
      (def-comp and--2 g1) (def-comp or--2 g2) (def-comp inv- i1)
      (def-net a i1.in) (def-net i1.nout g1.in1 g2.in1) (def-net b g1.in2)
      (def-net g1.out p g2.in2) (def-net g2.out y)))");
  EXPECT_EQ(is_reversible_instance(inst("g1")), 0);
  EXPECT_EQ(is_reversible_instance(inst("g2")), 1);
  begin_counting();
  Node* in1 = pin("g2", "in1");
  Node* in2 = pin("g2", "in2");
  Node* y = port("y");
  ASSERT_EQ(in1->wt, -1);
  rev_instance(inst("g2"));
  EXPECT_EQ(in1->wt, 1);
  EXPECT_EQ(in2->wt, -1);
  EXPECT_EQ(y->wt, -1);
  EXPECT_EQ(y->phase, -1);
  EXPECT_NE(detail::state_hash(), 0u);
  rev_instance(inst("g2"));
  EXPECT_EQ(in1->wt, -1);
  EXPECT_EQ(in2->wt, 1);
  EXPECT_EQ(y->wt, 1);
  EXPECT_EQ(detail::state_hash(), 0u);
  EXPECT_EQ(diff_inv(inst("g1")), 0);
}

}  // namespace
}  // namespace vorq_test
