// vorq-equiv on pairs of small designs written by hand: faults must be
// refuted (status 1), correct rewrites proven (status 0), and what cannot be
// decided reported as such (status 2).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

using Files = std::map<std::string, std::string>;
using vorq_test::RunResult;

struct Side {
  std::string top;
  Files files;
  Files ro_files;
};

std::vector<std::string> side_args(const char* flag, const Side& s) {
  std::string dir = vorq_test::make_temp_dir();
  for (const auto& [name, text] : s.files) vorq_test::write_file(dir + "/" + name, text);
  std::vector<std::string> args = {flag, s.top, dir};
  if (!s.ro_files.empty()) {
    std::string ro = vorq_test::make_temp_dir();
    for (const auto& [name, text] : s.ro_files) vorq_test::write_file(ro + "/" + name, text);
    args.push_back("-r");
    args.push_back(ro);
  }
  return args;
}

RunResult check(const Side& gold, const Side& fresh, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = side_args("--gold", gold);
  for (const std::string& a : side_args("--new", fresh)) args.push_back(a);
  for (const std::string& a : extra) args.push_back(a);
  return vorq_test::run_program(VORQ_EQUIV_BINARY, args, "");
}

Side top_only(const std::string& text) { return {"t", {{"t.nld", text}}, {}}; }

std::string replaced(std::string s, const std::string& from, const std::string& to) {
  size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

// One line on standard output that begins with `verdict`.
void expect_verdict(const RunResult& r, int status, const std::string& verdict) {
  EXPECT_EQ(r.status, status) << r.out << r.err;
  EXPECT_EQ(r.out.rfind(verdict, 0), 0u) << r.out;
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
}

void expect_equivalent(const Side& gold, const Side& fresh) {
  expect_verdict(check(gold, fresh), 0, "equivalent:");
  expect_verdict(check(fresh, gold), 0, "equivalent:");
}

// Refuted both ways; the verdict names `point` among the differing points.
void expect_refuted(const Side& gold, const Side& fresh, const std::string& point) {
  for (int i = 0; i < 2; ++i) {
    RunResult r = i ? check(fresh, gold) : check(gold, fresh);
    expect_verdict(r, 1, "not equivalent:");
    EXPECT_NE(r.out.find(point), std::string::npos) << r.out;
  }
}

// ---- gates ----------------------------------------------------------------

const char* AND_OF_INVERSES = R"((def-module	t
	(def-pin	a	type input)
	(def-pin	b	type input)
	(def-pin	y	type output)
	(def-comp	inv-	i1	i2)
	(def-comp	and--2	g)
	(def-net	a	i1.in)
	(def-net	b	i2.in)
	(def-net	i1.nout	g.in1)
	(def-net	i2.nout	g.in2)
	(def-net	g.out	y)
)
)";

Side gate_of(const std::string& cls, const std::string& out, bool inverters) {
  std::string t = "(def-module t\n(def-pin a type input)\n(def-pin b type input)\n(def-pin y type output)\n";
  if (inverters) t += "(def-comp inv- i1 i2)\n";
  t += "(def-comp " + cls + " g)\n";
  if (inverters)
    t += "(def-net a i1.in)\n(def-net b i2.in)\n(def-net i1.nout g.in1)\n(def-net i2.nout g.in2)\n";
  else
    t += "(def-net a g.in1)\n(def-net b g.in2)\n";
  t += "(def-net g." + out + " y)\n)\n";
  return top_only(t);
}

TEST(EquivGates, DeMorganFlipIsProven) {
  // !a & !b == NOR(a, b); !a | !b == NAND(a, b); and the two negations
  expect_equivalent(top_only(AND_OF_INVERSES), gate_of("nor--2", "nout", false));
  expect_equivalent(gate_of("or--2", "out", true), gate_of("nand--2", "nout", false));
  expect_equivalent(gate_of("nand--2", "nout", true), gate_of("or--2", "out", false));
}

TEST(EquivGates, DroppedInverterIsRefuted) {
  Side fresh = top_only(R"((def-module t
	(def-pin a type input) (def-pin b type input) (def-pin y type output)
	(def-comp inv- i1) (def-comp and--2 g)
	(def-net a i1.in) (def-net i1.nout g.in1) (def-net b g.in2) (def-net g.out y)))");
  expect_refuted(top_only(AND_OF_INVERSES), fresh, "port y");
}

TEST(EquivGates, DualWithoutComplementedInputsIsRefuted) {
  expect_refuted(top_only(AND_OF_INVERSES), gate_of("nor--2", "nout", true), "port y");
  expect_refuted(gate_of("and--2", "out", false), gate_of("or--2", "out", false), "port y");
}

TEST(EquivGates, XorFoldingIsProven) {
  Side gold = top_only(R"((def-module t
	(def-pin a type input) (def-pin b type input) (def-pin y type output)
	(def-comp inv- i1 i2) (def-comp eor--2 x)
	(def-net a i1.in) (def-net i1.nout x.in1) (def-net b x.in2) (def-net x.out i2.in) (def-net i2.nout y)))");
  Side fresh = top_only(R"((def-module t
	(def-pin a type input) (def-pin b type input) (def-pin y type output)
	(def-comp inv- i1) (def-comp enor--2 x)
	(def-net a i1.in) (def-net i1.nout x.in1) (def-net b x.in2) (def-net x.nout y)))");
  expect_equivalent(gold, fresh);
  expect_equivalent(gold, gate_of("eor--2", "out", false));
  expect_refuted(gold, gate_of("enor--2", "nout", false), "port y");
}

// aoi--21 computes !((a1 & a2) | b1); oai--21 !((a1 | a2) & b1)
Side aoi(const std::string& cls, const std::string& p, const std::string& q, const std::string& r) {
  return top_only("(def-module t (def-pin x type input) (def-pin y type input) (def-pin z type input)"
                  " (def-pin o type output) (def-comp " + cls + " g)"
                  " (def-net x g." + p + ") (def-net y g." + q + ") (def-net z g." + r + ") (def-net g.nout o))");
}

TEST(EquivGates, AoiGroupsFollowPinNames) {
  // pin order inside a group and in the file does not matter
  expect_equivalent(aoi("aoi--21", "a1", "a2", "b1"), aoi("aoi--21", "a2", "a1", "b1"));
  expect_refuted(aoi("aoi--21", "a1", "a2", "b1"), aoi("aoi--21", "a1", "b1", "a2"), "port o");
  expect_refuted(aoi("oai--21", "a1", "a2", "b1"), aoi("oai--21", "b1", "a1", "a2"), "port o");
  expect_refuted(aoi("aoi--21", "a1", "a2", "b1"), aoi("oai--21", "a1", "a2", "b1"), "port o");
  // De Morgan: !aoi(!x, !y, !z) == oai(x, y, z)... here as aoi(x,y,z) == !oai(!x,!y,!z)
  Side flipped = top_only(R"((def-module t (def-pin x type input) (def-pin y type input) (def-pin z type input)
	(def-pin o type output) (def-comp inv- i1 i2 i3 i4) (def-comp oai--21 g)
	(def-net x i1.in) (def-net y i2.in) (def-net z i3.in)
	(def-net i1.nout g.a1) (def-net i2.nout g.a2) (def-net i3.nout g.b1) (def-net g.nout i4.in) (def-net i4.nout o)))");
  expect_equivalent(aoi("aoi--21", "a1", "a2", "b1"), flipped);
}

TEST(EquivGates, AoiPinsOffTheConventionAreDealtInNameOrder) {
  // p, q, r sorted: p and q form the first group, r the second
  expect_equivalent(aoi("aoi--21", "p", "q", "r"), aoi("aoi--21", "a1", "a2", "b1"));
  expect_refuted(aoi("aoi--21", "p", "q", "r"), aoi("aoi--21", "a1", "b1", "a2"), "port o");
}

// ---- registers and constants ---------------------------------------------

Side reg_design(const std::string& to_y, const std::string& to_z, bool inverter_on_y) {
  std::string t = "(def-module t (def-pin d type input) (def-pin clk type input)"
                  " (def-pin y type output) (def-pin z type output)"
                  " (def-comp reg-1 r) (def-comp inv- i)"
                  " (def-net d r.in) (def-net clk r.m_clock)";
  if (inverter_on_y)
    t += " (def-net r." + to_y + " i.in) (def-net i.nout y)";
  else
    t += " (def-net r." + to_y + " y)";
  t += " (def-net r." + to_z + " z))";
  return top_only(t);
}

TEST(EquivRegisters, ComplementLoadFromNoutIsProven) {
  expect_equivalent(reg_design("out", "out", true), reg_design("nout", "out", false));
}

TEST(EquivRegisters, SwappedOutAndNoutIsRefuted) {
  expect_refuted(reg_design("out", "nout", false), reg_design("nout", "out", false), "port y");
}

TEST(EquivRegisters, RegisterInputsAreObserved) {
  // the register's input is the only observation point that differs
  Side gold = top_only(R"((def-module t (def-pin a type input) (def-pin clk type input) (def-pin y type output)
	(def-comp reg-1 r) (def-comp inv- i)
	(def-net a i.in) (def-net i.nout r.in) (def-net clk r.m_clock) (def-net r.out y)))");
  Side fresh = top_only(R"((def-module t (def-pin a type input) (def-pin clk type input) (def-pin y type output)
	(def-comp reg-1 r)
	(def-net a r.in) (def-net clk r.m_clock) (def-net r.out y)))");
  RunResult res = check(gold, fresh);
  expect_verdict(res, 1, "not equivalent: 1 of ");
  EXPECT_NE(res.out.find("pin r.in"), std::string::npos) << res.out;
}

TEST(EquivConstants, HighTurnedLowForComplementLoadIsProven) {
  Side gold = top_only(R"((def-module t (def-pin a type input) (def-pin y type output)
	(def-comp high- h) (def-comp inv- i) (def-comp or--2 g)
	(def-net h.out i.in) (def-net i.nout g.in1) (def-net a g.in2) (def-net g.out y)))");
  Side fresh = top_only(R"((def-module t (def-pin a type input) (def-pin y type output)
	(def-comp low- l) (def-comp or--2 g)
	(def-net l.nout g.in1) (def-net a g.in2) (def-net g.out y)))");
  Side wrong = top_only(R"((def-module t (def-pin a type input) (def-pin y type output)
	(def-comp high- h) (def-comp or--2 g)
	(def-net h.out g.in1) (def-net a g.in2) (def-net g.out y)))");
  expect_equivalent(gold, fresh);
  expect_refuted(gold, wrong, "port y");
}

TEST(EquivConstants, SupplyPortsAreConstants) {
  // a & VDD == a; a | VSS == a; a VSS of direction input also counts
  Side gold = top_only(R"((def-module t (def-pin VDD type global) (def-pin a type input) (def-pin y type output)
	(def-comp and--2 g) (def-net VDD g.in1) (def-net a g.in2) (def-net g.out y)))");
  Side fresh = top_only(R"((def-module t (def-pin VSS type input) (def-pin a type input) (def-pin y type output)
	(def-comp or--2 g) (def-net VSS g.in1) (def-net a g.in2) (def-net g.out y)))");
  expect_equivalent(gold, fresh);
  expect_equivalent(gold, top_only(R"((def-module t (def-pin a type input) (def-pin y type output)
	(def-comp ninv- b) (def-net a b.in) (def-net b.out y)))"));
}

// ---- tristate buses ---------------------------------------------------------

// Two buffers drive bus w: a while e is 0, b while e is 1; y = w (or !w).
Side bus(bool flipped, bool flip_only_one = false) {
  std::string t = "(def-module t (def-pin a type input) (def-pin b type input) (def-pin e type input)"
                  " (def-pin y type output) (def-comp ts_buf- t1 t2) (def-comp inv- ie ia ib iy)"
                  " (def-net e t1.nenb ie.in) (def-net ie.nout t2.nenb)";
  if (flipped)
    t += " (def-net a ia.in) (def-net ia.nout t1.in)";
  else
    t += " (def-net a t1.in)";
  if (flipped && !flip_only_one)
    t += " (def-net b ib.in) (def-net ib.nout t2.in)";
  else
    t += " (def-net b t2.in)";
  if (flipped)
    t += " (def-net t1.out t2.out iy.in) (def-net iy.nout y))";
  else
    t += " (def-net t1.out t2.out y))";
  return top_only(t);
}

TEST(EquivTristate, FlippedBusIsProven) { expect_equivalent(bus(false), bus(true)); }

TEST(EquivTristate, HalfFlippedBusIsRefuted) { expect_refuted(bus(false), bus(true, true), "port y"); }

TEST(EquivTristate, BusIsComparedOnlyWhereDefined) {
  // with one enable for both buffers the bus is never defined: any values do
  auto shorted = [](const std::string& second) {
    return top_only("(def-module t (def-pin a type input) (def-pin b type input) (def-pin e type input)"
                    " (def-pin y type output) (def-comp ts_buf- t1 t2)"
                    " (def-net e t1.nenb t2.nenb) (def-net a t1.in) (def-net " + second + " t2.in)"
                    " (def-net t1.out t2.out y))");
  };
  expect_equivalent(shorted("a"), shorted("b"));
  // but whether it is defined must agree
  Side single = top_only(R"((def-module t (def-pin a type input) (def-pin b type input) (def-pin e type input)
	(def-pin y type output) (def-comp ts_buf- t1) (def-net e t1.nenb) (def-net a t1.in) (def-net b) (def-net t1.out y)))");
  expect_refuted(shorted("a"), single, "port y");
}

TEST(EquivTristate, BlackBoxTristatePinsAndBidirectionalPortsShareBuses) {
  // bus w: a buffer (a while e is 0) and a black box's tristate pin; the top
  // bidirectional port io: a buffer (b while f is 0) and the outside world
  Files ro = {{"MEM.pcd", "(def-module MEM (def-pin Q type tristate) (def-pin OE type input))"}};
  auto design = [&](const std::string& a_net, const std::string& f_net) {
    return Side{"t",
                {{"t.nld", "(def-module t (def-pin a type input) (def-pin b type input) (def-pin e type input)"
                           " (def-pin f type input) (def-pin io type bidirect) (def-pin y type output)"
                           " (def-pin z type output) (def-comp MEM m) (def-comp ts_buf- t1 t2)"
                           " (def-comp inv- i1 i2 i3) (def-net e t1.nenb m.OE)" + a_net + f_net +
                           " (def-net b t2.in) (def-net t2.out io i3.in) (def-net i3.nout z)"
                           " (def-net t1.out m.Q y))"}},
                ro};
  };
  Side gold = design(" (def-net a t1.in)", " (def-net f t2.nenb)");
  Side twice = design(" (def-net a i1.in) (def-net i1.nout i2.in) (def-net i2.nout t1.in)", " (def-net f t2.nenb)");
  Side a_inverted = design(" (def-net a i1.in) (def-net i1.nout t1.in)", " (def-net f t2.nenb)");
  Side f_inverted = design(" (def-net a t1.in)", " (def-net f i1.in) (def-net i1.nout t2.nenb)");
  expect_equivalent(gold, twice);
  expect_refuted(gold, a_inverted, "port y");
  expect_refuted(gold, f_inverted, "port io");
}

// ---- hierarchy ----------------------------------------------------------------

const char* HIER_TOP = R"((def-module t (def-pin a type input) (def-pin b type input) (def-pin clk type input)
	(def-pin y type output) (def-pin z type output)
	(def-comp half u v)
	(def-net a u.p v.q) (def-net b u.q v.p) (def-net clk u.c v.c) (def-net u.o y) (def-net v.o z)))";

// half: o = register holding !(p & q)
const char* HALF = R"((def-module half (def-pin p type input) (def-pin q type input) (def-pin c type input)
	(def-pin o type output)
	(def-comp nand--2 g) (def-comp reg-1 r)
	(def-net p g.in1) (def-net q g.in2) (def-net g.nout r.in) (def-net c r.m_clock) (def-net r.out o)))";

TEST(EquivHierarchy, RenamedCopiesWithNewPortsAreProven) {
  Side gold{"t", {{"t.nld", HIER_TOP}, {"half.nld", HALF}}, {}};
  // the NAND's output inverter moved up into the top: each copy gets a new
  // port for the AND, the register is fed through the top
  const char* top2 = R"((def-module t (def-pin a type input) (def-pin b type input) (def-pin clk type input)
	(def-pin y type output) (def-pin z type output)
	(def-comp half-1 u) (def-comp half-2 v) (def-comp inv- n1 n2)
	(def-net a u.p v.q) (def-net b u.q v.p) (def-net clk u.c v.c) (def-net u.o y) (def-net v.o z)
	(def-net u.w n1.in) (def-net n1.nout u.d) (def-net v.w n2.in) (def-net n2.nout v.d)))";
  auto copy = [](const std::string& name) {
    return "(def-module " + name + " (def-pin p type input) (def-pin q type input) (def-pin c type input)"
           " (def-pin o type output) (def-pin w type output) (def-pin d type input)"
           " (def-comp and--2 g7) (def-comp reg-1 r)"
           " (def-net p g7.in1) (def-net q g7.in2) (def-net g7.out w) (def-net d r.in) (def-net c r.m_clock)"
           " (def-net r.out o))";
  };
  Side fresh{"t", {{"t.nld", top2}, {"half-1.nld", copy("half-1")}, {"half-2.nld", copy("half-2")}}, {}};
  expect_equivalent(gold, fresh);
  // a copy that forgets the inverter on its new port
  std::string top3 = replaced(top2, "(def-net v.w n2.in) (def-net n2.nout v.d)", "(def-net v.w v.d)");
  Side broken{"t", {{"t.nld", top3}, {"half-1.nld", copy("half-1")}, {"half-2.nld", copy("half-2")}}, {}};
  expect_refuted(gold, broken, "pin v/r.in");
}

TEST(EquivHierarchy, FlatVersionWithPathNamedRegistersIsProven) {
  Side gold{"t", {{"t.nld", HIER_TOP}, {"half.nld", HALF}}, {}};
  const char* flat = R"((def-module t (def-pin a type input) (def-pin b type input) (def-pin clk type input)
	(def-pin y type output) (def-pin z type output)
	(def-comp nand--2 g1 g2) (def-comp reg-1 u/r v/r)
	(def-net a g1.in1 g2.in2) (def-net b g1.in2 g2.in1) (def-net clk u/r.m_clock v/r.m_clock)
	(def-net g1.nout u/r.in) (def-net g2.nout v/r.in) (def-net u/r.out y) (def-net v/r.out z)))";
  expect_equivalent(gold, top_only(flat));
  // the two registers' paths exchanged: their states no longer line up
  std::string swapped =
      replaced(flat, "(def-net u/r.out y) (def-net v/r.out z)", "(def-net v/r.out y) (def-net u/r.out z)");
  expect_refuted(gold, top_only(swapped), "port y");
}

TEST(EquivHierarchy, ReadOnlyModulesAndBlackBoxes) {
  // a pad black box and a read-only module; the new design moves an inverter
  // across the read-only module's boundary in the writable top
  Files ro = {{"PAD.pcd", "(def-module PAD area 3 (def-pin PAD type bidirect) (def-pin A type input)"
                          " (def-pin OE type input) (def-pin Y type output))"},
              {"buf2.nld", "(def-module buf2 (def-pin i type input) (def-pin o type output)"
                           " (def-comp inv- x y) (def-net i x.in) (def-net x.nout y.in) (def-net y.nout o))"}};
  const char* gold_top = R"((def-module t (def-pin VSS type global) (def-pin io type bidirect) (def-pin a type input)
	(def-pin y type output) (def-comp PAD p) (def-comp buf2 b) (def-comp inv- i1 i2)
	(def-net io p.PAD) (def-net VSS p.OE) (def-net a i1.in) (def-net i1.nout b.i) (def-net b.o i2.in)
	(def-net i2.nout p.A) (def-net p.Y y)))";
  const char* new_top = R"((def-module t (def-pin VSS type global) (def-pin io type bidirect) (def-pin a type input)
	(def-pin y type output) (def-comp PAD p) (def-comp buf2 b)
	(def-net io p.PAD) (def-net VSS p.OE) (def-net a b.i) (def-net b.o p.A) (def-net p.Y y)))";
  const char* wrong_top = R"((def-module t (def-pin VSS type global) (def-pin io type bidirect) (def-pin a type input)
	(def-pin y type output) (def-comp PAD p) (def-comp buf2 b) (def-comp inv- i1)
	(def-net io p.PAD) (def-net VSS p.OE) (def-net a i1.in) (def-net i1.nout b.i) (def-net b.o p.A) (def-net p.Y y)))";
  Side gold{"t", {{"t.nld", gold_top}}, ro};
  expect_equivalent(gold, Side{"t", {{"t.nld", new_top}}, ro});
  expect_refuted(gold, Side{"t", {{"t.nld", wrong_top}}, ro}, "pin p.A");
}

// ---- what cannot be decided or is missing ------------------------------------

TEST(EquivMissing, UnconnectedInputsAreUndefined) {
  // a missing AND input is undefined: the output is defined only where the
  // connected input is 0, so tying the input to 1 changes the function
  auto and3 = [](const std::string& extra) {
    return top_only("(def-module t (def-pin a type input) (def-pin b type input) (def-pin y type output)"
                    " (def-comp and--3 g) (def-comp high- h) (def-net a g.in1) (def-net b g.in2)" + extra +
                    " (def-net g.out y))");
  };
  expect_equivalent(and3(""), and3(" (def-net h.out)"));
  expect_refuted(and3(""), and3(" (def-net h.out g.in3)"), "port y");
}

TEST(EquivMissing, OutputPortMissingInNewIsRefuted) {
  Side fresh = top_only(R"((def-module t (def-pin a type input) (def-pin b type input)
	(def-comp nor--2 g) (def-net a g.in1) (def-net b g.in2)))");
  expect_verdict(check(top_only(AND_OF_INVERSES), fresh), 1,
                 "not equivalent: 1 of 1 observation points differ under one counterexample: port y (only in gold)");
  expect_verdict(check(fresh, top_only(AND_OF_INVERSES)), 1,
                 "not equivalent: 1 of 1 observation points differ under one counterexample: port y (only in new)");
}

TEST(EquivCannotTell, CombinationalLoop) {
  Side loop = top_only(R"((def-module t (def-pin a type input) (def-pin y type output)
	(def-comp and--2 g) (def-comp inv- i)
	(def-net a g.in1) (def-net g.out i.in y) (def-net i.nout g.in2)))");
  RunResult r = check(loop, loop);
  expect_verdict(r, 2, "cannot tell: combinational loop");
}

TEST(EquivCannotTell, AmbiguousPathsAndUndeclaredPins) {
  // a register named "u/r" in the top and register r inside instance u
  Side twice{"t",
             {{"t.nld", "(def-module t (def-pin a type input) (def-pin y type output) (def-comp reg-1 u/r)"
                        " (def-comp s u) (def-net a u/r.in u.i) (def-net u/r.out y))"},
              {"s.nld", "(def-module s (def-pin i type input) (def-comp reg-1 r) (def-net i r.in))"}},
             {}};
  expect_verdict(check(twice, twice), 2, "cannot tell: two instances at path u/r in the gold design");
  Side undeclared{"t",
                  {{"t.nld", "(def-module t (def-pin a type input) (def-comp s u) (def-net a u.j))"},
                   {"s.nld", "(def-module s (def-pin i type input) (def-comp reg-1 r) (def-net i r.in))"}},
                  {}};
  expect_verdict(check(top_only(AND_OF_INVERSES), undeclared), 2,
                 "cannot tell: pin u.j is not a port of s in the new design");
}

TEST(EquivCannotTell, AbcWithoutAnswer) {
  expect_verdict(check(bus(false), bus(true), {"--abc", "/bin/true"}), 2, "cannot tell: ABC failed");
}

TEST(EquivCannotTell, UnreadableDesign) {
  Side missing{"nothere", {{"t.nld", AND_OF_INVERSES}}, {}};
  expect_verdict(check(top_only(AND_OF_INVERSES), missing), 2, "cannot tell: the new design cannot be read");
  Side broken = top_only("(def-module t (def-pin a type input) (def-comp and--1 g))");
  expect_verdict(check(broken, top_only(AND_OF_INVERSES)), 2, "cannot tell: the gold design cannot be read");
}

TEST(EquivCannotTell, BadCommandLine) {
  RunResult r = vorq_test::run_program(VORQ_EQUIV_BINARY, {"--gold", "t"}, "");
  expect_verdict(r, 2, "cannot tell: bad command line");
  EXPECT_NE(r.err.find("usage: vorq-equiv"), std::string::npos) << r.err;
}

TEST(EquivCannotTell, AbcMissing) {
  // the flipped bus needs ABC: hashing and simulation cannot prove it
  RunResult r = check(bus(false), bus(true), {"--abc", "/nonexistent/abc"});
  expect_verdict(r, 2, "cannot tell: ABC not found");
}

TEST(EquivAbc, RareDifferenceIsRefutedByAbc) {
  // y = AND of 40 inputs against y = 0: random patterns miss the one
  // assignment that tells them apart, ABC finds it
  std::string pins, nets;
  for (int i = 1; i <= 40; ++i) {
    pins += " (def-pin a" + std::to_string(i) + " type input)";
    nets += " (def-net a" + std::to_string(i) + " g.in" + std::to_string(i) + ")";
  }
  Side wide = top_only("(def-module t" + pins + " (def-pin y type output) (def-comp and--40 g)" + nets +
                       " (def-net g.out y))");
  Side zero = top_only("(def-module t" + pins + " (def-pin y type output) (def-comp low- l) (def-net l.nout y))");
  RunResult r = check(wide, zero);
  expect_verdict(r, 1, "not equivalent: 1 of 1 observation points differ");
  EXPECT_NE(r.err.find("port a40=1"), std::string::npos) << r.err;
}

TEST(EquivAbc, AbcIsInstalled) {
  // CI installs berkeley-abc; without it every proof above that needs ABC fails
  bool found = false;
  std::stringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
  std::string d;
  while (std::getline(path, d, ':'))
    if (!d.empty() && access((d + "/berkeley-abc").c_str(), X_OK) == 0) found = true;
  ASSERT_TRUE(found) << "berkeley-abc is not on PATH: install the Debian package berkeley-abc";
  RunResult r = check(bus(false), bus(true));
  expect_verdict(r, 0, "equivalent:");
  EXPECT_NE(r.out.find("proven by ABC"), std::string::npos) << r.out;
}

// ---- benchmark designs against themselves --------------------------------------

struct Bench {
  const char* name;
  const char* top;
  bool ro;
};

std::string bench_dir() { return std::string(VORQ_SOURCE_DIR) + "/../shared/benchmarks"; }

// TOP DIR [-r DIR] of a benchmark design, or of vorq's output `out` for it
std::vector<std::string> bench_side(const Bench& b, const std::string& out = "") {
  std::string d = bench_dir() + "/" + b.name;
  std::vector<std::string> side = {b.top, out.empty() ? d + "/work" : out};
  if (b.ro) side.insert(side.end(), {"-r", d + "/lib"});
  return side;
}

RunResult check_bench(const Bench& b, const std::string& out) {
  std::vector<std::string> args = {"--gold"};
  for (const std::string& a : bench_side(b)) args.push_back(a);
  args.push_back("--new");
  for (const std::string& a : bench_side(b, out)) args.push_back(a);
  return vorq_test::run_program(VORQ_EQUIV_BINARY, args, "");
}

TEST(EquivBenchmarks, DesignsAgainstThemselves) {
  if (!vorq_test::file_exists(bench_dir() + "/designs.tsv")) GTEST_SKIP() << "no benchmark designs at " << bench_dir();
  for (Bench b : {Bench{"epfl_ctrl_lib", "ctrl", false}, Bench{"chip_naive", "chip", true},
                  Bench{"cpu8_lib", "cpu8", false}, Bench{"serv_lib", "serv_rf_top", true}}) {
    RunResult r = check_bench(b, "");
    EXPECT_EQ(r.status, 0) << b.name << ": " << r.out << r.err;
  }
}

TEST(EquivBenchmarks, VorqOutputsAreProven) {
  if (!vorq_test::file_exists(bench_dir() + "/designs.tsv")) GTEST_SKIP() << "no benchmark designs at " << bench_dir();
  for (Bench b : {Bench{"epfl_router_aig", "router", false}, Bench{"mult8_aig", "array_mult", false},
                  Bench{"chip_naive", "chip", true}}) {
    for (const char* mode : {"", "-a", "-f"}) {
      std::string out = vorq_test::make_temp_dir();
      std::vector<std::string> args;
      if (*mode) args.push_back(mode);
      for (const std::string& a : bench_side(b)) args.push_back(a);
      args.insert(args.end(), {"-w", out});
      RunResult v = vorq_test::run_vorq(args, "");
      ASSERT_EQ(v.status, 0) << b.name << " " << mode << ": " << v.err;
      RunResult r = check_bench(b, out);
      EXPECT_EQ(r.status, 0) << b.name << " " << mode << ": " << r.out << r.err;
    }
  }
}

}  // namespace
