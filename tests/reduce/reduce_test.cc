// The reduction on small designs: which flips it finds and keeps, the
// settlement, the twisted-net failure and the loop guard.
#include "reduce_fixture.h"

namespace vorq_test {
namespace {

using namespace vorq;

std::string run_red_inv(int* result) {
  testing::internal::CaptureStderr();
  *result = red_inv();
  return testing::internal::GetCapturedStderr();
}

// Only the flip of the whole component helps: the gates form one
// sub-component headed by a buffer, which the global step never tries, and
// each gate alone loses what it gains.
TEST_F(ReduceTest, ComponentFlip) {
  load(R"((def-module top (def-pin a type input) (def-pin b type input) (def-pin c type input)
      (def-pin y type output) (def-pin z type output)
      (def-comp ninv- n0) (def-comp and--2 g1 g2) (def-comp inv- i1 i2 i3 i4)
      (def-net a i1.in) (def-net i1.nout n0.in) (def-net n0.out g1.in1)
      (def-net b i2.in) (def-net i2.nout g1.in2) (def-net g1.out g2.in1)
      (def-net c i3.in) (def-net i3.nout g2.in2)
      (def-net g2.out y i4.in) (def-net i4.nout z)))");
  EXPECT_EQ(count_inv(top), 4);
  int r;
  EXPECT_EQ(run_red_inv(&r), "");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(count_inv(top), 3);
  EXPECT_TRUE(inst("g1")->dual);
  EXPECT_TRUE(inst("g2")->dual);
  EXPECT_EQ(pin("g1", "in1")->wt, -1);
  EXPECT_EQ(pin("g2", "in1")->wt, 1);
  EXPECT_EQ(port("y")->wt, -1);
}

const char* kPair = R"((def-module top (def-pin a type input) (def-pin b type input)
    (def-pin c type input) (def-pin w type output) (def-pin y type output) (def-pin z type output)
    (def-comp and--2 g1 g2) (def-comp inv- i1 i2 i3 i4)
    (def-net a i1.in) (def-net i1.nout g1.in1)
    (def-net b g1.in2 i2.in) (def-net i2.nout w)
    (def-net g1.out g2.in1)
    (def-net c i3.in) (def-net i3.nout g2.in2)
    (def-net g2.out y i4.in) (def-net i4.nout z)))";

// Two gates joined in phase gain only together: no single flip is kept, the
// global step flips both.
TEST_F(ReduceTest, SubComponentFlipNoSingleGateReaches) {
  load(kPair);
  begin_counting();
  conn_comp();
  Cell* comp = comp_of("g1");
  ASSERT_EQ(comp, comp_of("g2"));
  EXPECT_EQ(count_inv(top), 4);
  EXPECT_EQ(red_inv_node(comp), 0);
  EXPECT_EQ(red_wt_node(comp), 0);
  EXPECT_EQ(detail::state_hash(), 0u);
  plus_factor(comp);
  EXPECT_EQ(inst("g1")->sub_comp, inst("g2")->sub_comp);
  EXPECT_EQ(red_inv_global(comp), 1);
  EXPECT_EQ(count_inv(top), 2);
  EXPECT_TRUE(inst("g1")->dual);
  EXPECT_TRUE(inst("g2")->dual);
}

// Two sub-components that would each lower the count: the first in list
// order is flipped although the other gains more; the other is flipped by the
// next step.
TEST_F(ReduceTest, FirstImprovingSubComponentTaken) {
  load(R"((def-module top (def-pin a type input) (def-pin b type input) (def-pin c type input)
      (def-pin d type input)
      (def-pin w type output) (def-pin y type output) (def-pin v type output) (def-pin z type output)
      (def-comp or--2 g1) (def-comp and--3 g2) (def-comp inv- i1 i2 i3 i4 i5 i6)
      (def-net a i1.in) (def-net i1.nout g1.in1)
      (def-net b g1.in2 g2.in3 i2.in) (def-net i2.nout w)
      (def-net g1.out y i3.in) (def-net i3.nout v)
      (def-net c i4.in) (def-net i4.nout g2.in1)
      (def-net d i5.in) (def-net i5.nout g2.in2)
      (def-net g2.out i6.in) (def-net i6.nout z)))");
  begin_counting();
  conn_comp();
  Cell* comp = comp_of("g1");
  ASSERT_EQ(comp, comp_of("g2"));
  plus_factor(comp);
  Cell* first = nullptr;
  for (Cell* s = start_sub_comp; s && !first; s = s->sub_comp_link)
    if (s == inst("g1") || s == inst("g2")) first = s;
  ASSERT_EQ(first, inst("g1"));
  EXPECT_EQ(count_inv(top), 6);
  EXPECT_EQ(rev_sub_comp_inv(), inst("g1"));
  EXPECT_EQ(count_inv(top), 5);
  EXPECT_EQ(pin("g2", "in1")->wt, -1);
  EXPECT_EQ(red_inv_global(comp), 1);
  EXPECT_EQ(count_inv(top), 2);
  EXPECT_TRUE(inst("g2")->dual);
}

// A tristate bus whose buffers and loads all sit behind inverters is flipped
// as a whole; the buffers keep their class and flags.
TEST_F(ReduceTest, TristateBusFlip) {
  load(R"((def-module top (def-pin a type input) (def-pin b type input) (def-pin ea type input)
      (def-pin eb type input) (def-pin y type output)
      (def-comp ts_buf- t1 t2) (def-comp inv- i1 i2 i3)
      (def-net a i1.in) (def-net i1.nout t1.in) (def-net ea t1.nenb)
      (def-net b i2.in) (def-net i2.nout t2.in) (def-net eb t2.nenb)
      (def-net t1.out t2.out i3.in) (def-net i3.nout y)))");
  EXPECT_EQ(count_inv(top), 3);
  int r;
  EXPECT_EQ(run_red_inv(&r), "");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(count_inv(top), 0);
  EXPECT_EQ(pin("t1", "in")->wt, 1);
  EXPECT_EQ(pin("t2", "in")->wt, 1);
  EXPECT_EQ(port("y")->wt, 1);
  EXPECT_FALSE(inst("t1")->dual || inst("t2")->dual);
}

// A component headed by a register on a clock net is left as flattening left
// it; with the clock on a register that does not head it, it is reduced.
TEST_F(ReduceTest, ControlComponentLeftAlone) {
  auto design = [](const char* clocked) {
    return std::string(R"((def-module top (def-pin clk type input)
        (def-comp reg-1 r1 r2 r3) (def-comp and--2 g1 g2) (def-comp inv- i1 i2)
        (def-net i1.nout g1.in1) (def-net r1.out i1.in)
        (def-net r2.out g1.in2)
        (def-net g1.out i2.in) (def-net i2.nout g2.in1)
        (def-net r3.out g2.in2)
        (def-net g2.out r3.in r2.in)
        (def-net clk )") + clocked + ".m_clock))";
  };
  int r;
  load(design("r1"));
  run_red_inv(&r);
  EXPECT_EQ(inst("g1")->comp, inst("r1"));
  EXPECT_TRUE(inst("r1")->control);
  EXPECT_EQ(count_inv(top), 1);
  EXPECT_FALSE(inst("g1")->dual);

  load(design("r3"));
  run_red_inv(&r);
  EXPECT_EQ(inst("g1")->comp, inst("r1"));
  EXPECT_FALSE(inst("r1")->control);
  EXPECT_EQ(count_inv(top), 0);
  EXPECT_TRUE(inst("g1")->dual);
}

// Settlement: exclusive-OR complement loads folded into their cells, reversible
// drivers toggled by the majority of their ordinary loads (and- only with -a).
TEST_F(ReduceTest, Settlement) {
  const char* text = R"((def-module top (def-pin a type input) (def-pin b type input)
      (def-pin y1 type output) (def-pin y2 type output) (def-pin y3 type output)
      (def-pin y4 type output) (def-pin y5 type output) (def-pin y6 type output)
      (def-comp and--2 g1) (def-comp aoi--21 g2) (def-comp eor--2 x1 x2) (def-comp enor--2 x3)
      (def-comp inv- i1 i2 i3 i4 i5)
      (def-net a g1.in1 g2.a1 x1.in2 x2.in2 x3.in2)
      (def-net b g1.in2 g2.a2 g2.b1)
      (def-net g1.out i1.in i2.in y1) (def-net i1.nout y2) (def-net i2.nout y3)
      (def-net g2.nout i3.in) (def-net i3.nout x1.in1)
      (def-net x1.out i4.in i5.in x3.in1) (def-net i4.nout y4) (def-net i5.nout y5)
      (def-net x3.nout x2.in1) (def-net x2.out y6)))";
  for (int a : {0, 1}) {
    SCOPED_TRACE(a);
    load(text, a);
    begin_counting();
    eor_enor_net(net_of("g1", "out"));
    EXPECT_EQ(inst("g1")->negate, a == 1);
    EXPECT_EQ(port("y1")->wt, a ? -1 : 1);
    EXPECT_EQ(port("y2")->wt, a ? 1 : -1);
    // an eor- complement load of an aoi- net is folded into the eor-
    eor_enor_net(net_of("g2", "nout"));
    EXPECT_EQ(pin("x1", "in1")->wt, 1);
    EXPECT_TRUE(inst("x1")->dual);
    // an eor- driver with mostly complement loads is toggled; its in-phase
    // enor- load keeps its weight and takes the toggle itself
    eor_enor_net(net_of("x1", "out"));
    EXPECT_FALSE(inst("x1")->dual);
    EXPECT_TRUE(inst("x3")->dual);
    EXPECT_EQ(pin("x3", "in1")->wt, 1);
    EXPECT_EQ(port("y4")->wt, 1);
    end_counting();
  }
}

// A gate with an input pin named like the output its negation would have is
// never negated: the negated cell would carry that name twice. Its net then
// counts as an ordinary one even with -a.
TEST_F(ReduceTest, NoNegationOntoAnInputPinName) {
  const char* text = R"((def-module top (def-pin a type input) (def-pin b type input)
      (def-pin y1 type output) (def-pin y2 type output)
      (def-comp and--2 g1) (def-comp inv- i1 i2)
      (def-net a g1.nout) (def-net b g1.in2)
      (def-net g1.out i1.in i2.in) (def-net i1.nout y1) (def-net i2.nout y2)))";
  load(text, 1);
  EXPECT_EQ(can_negate(inst("g1")), 0);
  EXPECT_EQ(count_inv(top), 1);
  int r;
  run_red_inv(&r);
  EXPECT_EQ(r, 1);
  EXPECT_FALSE(inst("g1")->negate);
  // the same gate with ordinary input names is negated
  load(R"((def-module top (def-pin a type input) (def-pin b type input)
      (def-pin y1 type output) (def-pin y2 type output)
      (def-comp and--2 g1) (def-comp inv- i1 i2)
      (def-net a g1.in1) (def-net b g1.in2)
      (def-net g1.out i1.in i2.in) (def-net i1.nout y1) (def-net i2.nout y2)))", 1);
  EXPECT_EQ(can_negate(inst("g1")), 1);
  run_red_inv(&r);
  EXPECT_TRUE(inst("g1")->negate);
  EXPECT_EQ(count_inv(top), 0);
}

// With -a a gate whose loads want its complement is negated; without, the
// inverter stays, since flipping the gate would cost its inputs.
TEST_F(ReduceTest, NegationOnlyWithOptionA) {
  const char* text = R"((def-module top (def-pin a type input) (def-pin b type input)
      (def-pin y type output) (def-pin z type output)
      (def-comp and--2 g1) (def-comp inv- i1 i2)
      (def-net a g1.in1) (def-net b g1.in2) (def-net g1.out i1.in i2.in)
      (def-net i1.nout y) (def-net i2.nout z)))";
  for (int a : {0, 1}) {
    SCOPED_TRACE(a);
    load(text, a);
    int r;
    EXPECT_EQ(run_red_inv(&r), "");
    EXPECT_EQ(count_inv(top), a ? 0 : 1);
    EXPECT_EQ(inst("g1")->negate, a == 1);
    EXPECT_EQ(port("y")->wt, a ? 1 : -1);
  }
}

// A bidirectional pin left with phase -1 fails the reduction.
TEST_F(ReduceTest, TwistedIrreversibleNet) {
  load(R"((def-module top (def-pin a type input) (def-pin p type bidirect) (def-pin y type output)
      (def-comp and--2 g1) (def-net a g1.in1 g1.in2) (def-net p g1.out y)))");
  Node* p = port("p");
  set_weights(p, p->wt, -1);
  int r;
  EXPECT_EQ(run_red_inv(&r), "vorq: twisted irreversible net found, sorry.\n");
  EXPECT_EQ(r, 0);
}

// A gate meeting one net at three pins: the single-gate test counts that net
// three times and keeps a flip that raises the count, the component flip
// undoes it, and the sweep would repeat for ever.
TEST_F(ReduceTest, LoopGuardStopsARepeatingComponent) {
  load(R"((def-module top (def-pin a type input) (def-pin b type input) (def-pin y type output)
      (def-pin c type input) (def-pin d type input) (def-pin z type output)
      (def-comp and--4 g1) (def-comp and--2 g2) (def-comp inv- i1 i2 i3)
      (def-net a i1.in) (def-net i1.nout g1.in1 g1.in2 g1.in3) (def-net b g1.in4)
      (def-net g1.out y)
      (def-net c i2.in) (def-net i2.nout g2.in1) (def-net d i3.in) (def-net i3.nout g2.in2)
      (def-net g2.out z)))");
  int r;
  EXPECT_EQ(run_red_inv(&r),
            "vorq: the reduction of a component repeats itself; it is stopped there.\n");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(count_inv(top), 3);
  // the other component was reduced all the same
  EXPECT_TRUE(inst("g2")->dual);
  EXPECT_EQ(count_inv_net(net_of("g2", "in1")), 0);
}

// A net whose driver belongs to no component (the port of a sub-module whose
// pin is left open outside): its loads still join their components, and the
// reduction runs.
TEST_F(ReduceTest, DriverOutsideEveryComponent) {
  Files sub = {{"sub.nld", R"((def-module sub (def-pin p type input) (def-pin r type input)
      (def-pin q type output) (def-comp and--2 g1) (def-comp inv- i1)
      (def-net p i1.in) (def-net i1.nout g1.in1) (def-net r g1.in2) (def-net g1.out q)))"}};
  load(R"((def-module top (def-pin a type input) (def-pin y type output) (def-comp sub u1)
      (def-net a u1.r) (def-net u1.q y)))", 0, sub);
  Net* inner = net_of("g1", "in1");
  ASSERT_NE(inner->source, nullptr);
  ASSERT_EQ(inner->source->target->cls, C_PIN);
  int r;
  EXPECT_EQ(run_red_inv(&r), "");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(inner->source->target->comp, nullptr);
  EXPECT_EQ(inst("g1")->comp, pin_f("a", top)->comp);
}

}  // namespace
}  // namespace vorq_test
